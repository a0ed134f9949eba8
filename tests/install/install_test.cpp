// The library as another project uses it. Install.Stage installs this build
// into a staging prefix first; small projects outside the tree then find it
// with find_package, are configured with this build's compiler, built and
// run. Everything they write stays below this build's tests folder.
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "support/core/run_program.h"
#include "support/net/fake_server.h"

using testsupport::FakeServer;
using testsupport::listDir;
using testsupport::listTree;
using testsupport::ProgramResult;
using testsupport::readFile;
using testsupport::runProgram;
using testsupport::Script;

namespace {

const std::string kSource = PARVEX_SOURCE_DIR;
const std::string kBuild = PARVEX_BINARY_DIR;
const std::string kWork = PARVEX_INSTALL_WORK_DIR;
const std::string kStaging = kWork + "/staging";
const std::string kSystemTnef = PARVEX_SYSTEM_TNEF;

// A configure or a build of a small project: generous, as the sanitizer
// build runs them beside the rest of the suite.
const int kStepSeconds = 300;

ProgramResult run(const std::vector<std::string>& argv) {
    ProgramResult r = runProgram(argv, "", "", kStepSeconds);
    EXPECT_FALSE(r.timedOut) << argv[0] << " " << argv[1];
    return r;
}

std::string outputOf(const ProgramResult& r) { return r.out + r.err; }

// The project at `source` configured against the staging prefix into a
// fresh folder `name` below the work folder, and built; the folder.
std::string buildAgainstStaging(const std::string& source, const std::string& name,
                                const std::vector<std::string>& options = {}) {
    const std::string build = kWork + "/" + name;
    run({PARVEX_CMAKE_COMMAND, "-E", "rm", "-rf", build});
    std::vector<std::string> configure = {PARVEX_CMAKE_COMMAND, "-S", source, "-B", build,
                                          "-G", PARVEX_CMAKE_GENERATOR,
                                          "-DCMAKE_CXX_COMPILER=" PARVEX_CXX_COMPILER,
                                          "-DCMAKE_BUILD_TYPE=" PARVEX_BUILD_TYPE,
                                          "-DCMAKE_PREFIX_PATH=" + kStaging,
                                          // Only the staging prefix may answer.
                                          "-DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF",
                                          "-DCMAKE_FIND_USE_SYSTEM_PACKAGE_REGISTRY=OFF"};
    configure.insert(configure.end(), options.begin(), options.end());
    const ProgramResult configured = run(configure);
    EXPECT_EQ(configured.exitCode, 0) << outputOf(configured);
    if (configured.exitCode != 0) return build;
    const ProgramResult built = run({PARVEX_CMAKE_COMMAND, "--build", build, "--parallel", "4"});
    EXPECT_EQ(built.exitCode, 0) << outputOf(built);
    return build;
}

bool endsWith(const std::string& s, const std::string& tail) {
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

bool holds(const std::vector<std::string>& names, const std::string& name) {
    return std::find(names.begin(), names.end(), name) != names.end();
}

// The headers a consumer may use: every one in the library folders but
// those below an internal/ folder and those of the rtf2html program.
std::vector<std::string> publicHeaders() {
    std::vector<std::string> headers;
    for (const std::string layer : {"clients", "filter", "runtime", "serverdata"})
        for (const std::string& file : listTree(kSource + "/" + layer)) {
            const std::string path = layer + "/" + file;
            if (endsWith(path, ".h") && path.find("/internal/") == std::string::npos &&
                path.rfind("filter/rtf2html/", 0) != 0)
                headers.push_back(path);
        }
    return headers;
}

std::vector<std::string> programDirectory() {
    std::vector<std::string> names = {"parvex", "rtf2html"};
    if (!kSystemTnef.empty() && !endsWith(kSystemTnef, "-NOTFOUND")) names.push_back("tnef");
    return names;
}

std::string linkTarget(const std::string& path) {
    char buf[4096];
    const ssize_t n = ::readlink(path.c_str(), buf, sizeof buf);
    return n < 0 ? "" : std::string(buf, static_cast<std::size_t>(n));
}

}  // namespace

// The program component alone is the program directory the server runs
// from: nothing of the library lands beside the filter.
TEST(InstallTest, ProgramComponentIsTheProgramDirectory) {
    const std::string prefix = kWork + "/program";
    run({PARVEX_CMAKE_COMMAND, "-E", "rm", "-rf", prefix});
    const ProgramResult r = run({PARVEX_CMAKE_COMMAND, "--install", kBuild, "--prefix", prefix, "--component", "program"});
    ASSERT_EQ(r.exitCode, 0) << outputOf(r);
    EXPECT_EQ(listDir(prefix), programDirectory());
    EXPECT_EQ(::access((prefix + "/parvex").c_str(), X_OK), 0);
    EXPECT_EQ(::access((prefix + "/rtf2html").c_str(), X_OK), 0);
    if (programDirectory().size() == 3) {
        EXPECT_EQ(linkTarget(prefix + "/tnef"), kSystemTnef);
    }
}

// A whole install is the program directory plus the development files.
TEST(InstallTest, WholeInstallAddsHeadersLibrariesAndPackage) {
    std::vector<std::string> top = programDirectory();
    top.push_back("include");
    top.push_back("lib");
    std::sort(top.begin(), top.end());
    EXPECT_EQ(listDir(kStaging), top);
    EXPECT_EQ(listDir(kStaging + "/include"), (std::vector<std::string>{"clients", "filter", "runtime", "serverdata"}));
    const std::vector<std::string> libs = listDir(kStaging + "/lib");
    for (const char* lib : {"libparvex_clients.a", "libparvex_filter.a", "libparvex_runtime.a", "libparvex_serverdata.a"})
        EXPECT_TRUE(holds(libs, lib)) << lib;
    const std::vector<std::string> package = listDir(kStaging + "/lib/cmake/parvex");
    for (const char* file : {"parvexConfig.cmake", "parvexConfigVersion.cmake", "parvexTargets.cmake"})
        EXPECT_TRUE(holds(package, file)) << file;
}

// The installed headers are exactly the public ones (no internal/ folder,
// nothing of the rtf2html program), and each compiles on its own.
TEST(InstallTest, EachInstalledHeaderCompilesAlone) {
    const std::vector<std::string> installed = listTree(kStaging + "/include");
    ASSERT_FALSE(installed.empty());
    EXPECT_EQ(installed, publicHeaders());

    buildAgainstStaging(kSource + "/tests/install/headers", "headers");
}

// The README's example, as a newcomer builds it: found through
// CMAKE_PREFIX_PATH, with Boost, flex and bison out of reach, then run
// against a POP3 server.
TEST(InstallTest, ExampleBuildsWithoutBoostAndReadsAMailbox) {
    const std::string example = readFile(kSource + "/examples/mailbox_count.cpp");
    ASSERT_FALSE(example.empty());
    EXPECT_NE(readFile(kSource + "/README.md").find(example), std::string::npos)
        << "the README shows another example than examples/mailbox_count.cpp";

    const std::string build = buildAgainstStaging(kSource + "/examples", "example",
                                                  {"-DCMAKE_DISABLE_FIND_PACKAGE_Boost=ON",
                                                   "-DCMAKE_DISABLE_FIND_PACKAGE_FLEX=ON",
                                                   "-DCMAKE_DISABLE_FIND_PACKAGE_BISON=ON"});
    EXPECT_NE(readFile(build + "/CMakeCache.txt").find("parvex_DIR:PATH=" + kStaging + "/lib/cmake/parvex"),
              std::string::npos);
    const std::string program = build + "/mailbox_count";
    ASSERT_EQ(::access(program.c_str(), X_OK), 0);

    FakeServer server(Script()
                          .send("+OK ready\r\n")
                          .expectLine("USER bob")
                          .send("+OK\r\n")
                          .expectLine("PASS secret")
                          .send("+OK\r\n")
                          .expectLine("STAT")
                          .send("+OK 3 4200\r\n")
                          .expectLine("QUIT")
                          .send("+OK bye\r\n")
                          .close());
    const ProgramResult r = runProgram(
        {program, "{host=" + FakeServer::address() + "; port=" + std::to_string(server.port()) +
                      "; user=bob; password=secret;}"},
        "", "", 30);
    EXPECT_EQ(server.finish(), "");
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "3 messages\n");

    const ProgramResult usage = runProgram({program, "not a dictionary"}, "", "", 30);
    EXPECT_EQ(usage.exitCode, 2);
    EXPECT_NE(usage.err.find("usage: mailbox_count"), std::string::npos) << usage.err;
}
