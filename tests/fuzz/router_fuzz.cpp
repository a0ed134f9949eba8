// Router tables from arbitrary bytes: the router-mode scanner and grammar,
// the load that builds and indexes the tables, and routing through whatever
// they hold. Each input runs in a base directory of its own (the fuzzer's
// corpus paths are relative to where it started), with the program's output
// (parse errors, loop lines) sent to /dev/null.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utime.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "serverdata/internal/parser.h"
#include "serverdata/router.h"

namespace {

void writeFile(const char* path, const std::string& text) {
    FILE* f = std::fopen(path, "wb");
    if (f == nullptr) std::abort();
    if (!text.empty() && std::fwrite(text.data(), 1, text.size(), f) != text.size()) std::abort();
    std::fclose(f);
}

// The base's descriptor.
int makeBase() {
    char folder[] = "/tmp/router_fuzz_XXXXXX";
    if (::mkdtemp(folder) == nullptr) std::abort();
    const std::string base(folder);
    if (::mkdir((base + "/Settings").c_str(), 0755) != 0) std::abort();
    writeFile((base + "/Settings/Main.settings").c_str(), "{DomainName = main.com;}");
    writeFile((base + "/Settings/Router.settings").c_str(),
              "{DomainQualifier = q.org; ExtendNonQualifiedDomains = YES;}");
    const int null = ::open("/dev/null", O_WRONLY);
    if (null < 0 || ::dup2(null, 1) < 0) std::abort();
    ::close(null);
    const int fd = ::open(folder, O_RDONLY | O_DIRECTORY);
    if (fd < 0) std::abort();
    return fd;
}

// Works in the base while it lives.
struct InBase {
    InBase(int base) : back(::open(".", O_RDONLY | O_DIRECTORY)) {
        if (back < 0 || ::fchdir(base) != 0) std::abort();
    }
    ~InBase() {
        if (::fchdir(back) != 0) std::abort();
        ::close(back);
    }
    int back;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const int base = makeBase();
    static time_t stamp = 1000000000;
    InBase inside(base);
    const std::string text(reinterpret_cast<const char*>(data), size);

    cgp::parseText(text, cgp::kRouterMode);

    writeFile("Settings/Router.data", text);
    utimbuf times;
    times.actime = times.modtime = ++stamp;
    if (::utime("Settings/Router.data", &times) != 0) std::abort();
    cgp::loadRouter();

    static const char* const kAddresses[][2] = {
        {"joe", "a.com"}, {"JOE", "A.COM"}, {"", ""}, {"a@b.com", "blacklisted"}, {"x", "y.com@blacklisted"},
        {"x", "y.here"}, {"*", "*"}, {"postmaster", "q.org"}, {"a", ".here"}, {"\"q\"", "x"},
    };
    for (const auto& a : kAddresses) cgp::routeAddress(a[0], a[1]);
    // The input's own first line as an address, so that its entries match.
    const std::string first = text.substr(0, text.find_first_of("\r\n"));
    const cgp::Address own = cgp::parseAddress(first);
    cgp::routeAddress(own.first, own.second);
    cgp::isRouteTarget(own.first, own.second);
    return 0;
}
