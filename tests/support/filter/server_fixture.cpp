#include "support/filter/server_fixture.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <sstream>
#include <stdexcept>

#include "support/core/tool_path.h"

namespace testsupport {

ServerFixture::ServerFixture(bool withTnef, bool withRtf2html) {
    program_ = root_ / "program/";
    base_ = root_ / "base/";
    ::mkdir(program_.c_str(), 0755);
    ::mkdir(base_.c_str(), 0755);
    ::mkdir((base_ + "Queue").c_str(), 0755);
    systemTnef_ = findInPath("tnef");
    auto link = [](const std::string& target, const std::string& name) {
        if (::symlink(target.c_str(), name.c_str()) != 0) throw std::runtime_error("symlink " + name);
    };
    // argv[0] is the link, so the program finds its neighbours here.
    link(builtProgram("filter/parvex"), program_ + "parvex");
    if (withRtf2html) link(builtProgram("filter/rtf2html"), program_ + "rtf2html");
    if (withTnef && !systemTnef_.empty()) link(systemTnef_, program_ + "tnef");
}

std::string ServerFixture::queue(const std::string& name, const std::string& content) {
    writeFile(base_ + "Queue/" + name, content);
    return "Queue/" + name;
}

std::vector<std::string> ServerFixture::submitted() const { return listDir(base_ + "Submitted"); }

ProgramResult ServerFixture::run(const std::string& requests, const std::vector<std::string>& options) const {
    std::vector<std::string> argv{parvex()};
    argv.insert(argv.end(), options.begin(), options.end());
    return runProgram(argv, requests, base_);
}

pid_t deadPid() {
    const pid_t child = ::fork();
    if (child == 0) ::_exit(0);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    return child;
}

std::vector<LeafPart> parseMime(const std::string& path) {
    TempDir out;
    const ProgramResult r = runProgram(
        {"/usr/bin/python3", std::string(PARVEX_SOURCE_DIR) + "/scripts/mime_summary.py", path, out.path()}, "");
    if (r.exitCode != 0) throw std::runtime_error("mime_summary.py failed: " + r.err);
    std::vector<LeafPart> parts;
    std::istringstream lines(r.out);
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::string index, type, name;
        std::getline(fields, index, '\t');
        std::getline(fields, type, '\t');
        std::getline(fields, name, '\t');
        parts.push_back({type, name, readFile(out / index)});
    }
    return parts;
}

std::vector<std::pair<std::string, std::string>> tnefExtract(const std::string& tnef, const std::string& data) {
    TempDir dir;
    writeFile(dir / "winmail.dat", data);
    ::mkdir((dir / "out").c_str(), 0755);
    runProgram({tnef, "-f", dir / "winmail.dat", "-C", dir / "out"}, "");
    std::vector<std::pair<std::string, std::string>> files;
    for (const auto& name : listDir(dir / "out")) files.emplace_back(name, readFile(dir / "out/" + name));
    return files;
}

}  // namespace testsupport
