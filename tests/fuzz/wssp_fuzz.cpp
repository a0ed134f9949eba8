// Page loading, and rendering of what loads: any bytes as a page file.
// The page is rendered against a small fixed data set, with includes served
// by a handler that returns the page itself or a fixed page; a page with
// many loops or includes is loaded only, as its render may grow
// exponentially by design. Standard output, where parse errors go, is
// thrown away.
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <ostream>
#include <streambuf>
#include <string>

#include "runtime/casefold.h"
#include "serverdata/dataset.h"
#include "serverdata/wssp.h"

namespace {

// Counts what it is given and keeps none of it.
class NullBuffer : public std::streambuf {
protected:
    std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
    int_type overflow(int_type c) override { return traits_type::not_eof(c); }
};

struct Handler {
    cgp::WsspNode* self = nullptr;
    std::unique_ptr<cgp::WsspNode> fixed;
    cgp::WsspNode* page(const std::string& name) {
        if (name == "self") return self;
        if (name == "missing") return nullptr;
        return fixed.get();
    }
};

std::string pagePath;

void removePage() { ::unlink(pagePath.c_str()); }

const cgp::DataSet& variables() {
    static const cgp::DataSet* v = [] {
        auto* d = new cgp::DataSet(cgp::DataSet::parse(
            "{x = \"a<b&'c\\\"\"; n = 5; t = 1054631107; flag = YES; no = NO;"
            " list = (a, b, \"3\"); empty = (); rows = ({name = r1; size = 10;}, {name = r2;});"
            " d = {k = v; Key = K; list = (1, 2);}; session = {id = s1;}; names = {a = Alpha; YES = Ja;};}"));
        return d;
    }();
    return *v;
}

int count(const std::string& text, const char* word) {
    int n = 0;
    for (std::string::size_type at = text.find(word); at != std::string::npos; at = text.find(word, at + 1)) ++n;
    return n;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // Parse errors are printed on standard output: not for every input.
    const int null = ::open("/dev/null", O_WRONLY);
    if (null >= 0) {
        ::dup2(null, 1);
        ::close(null);
    }
    char name[] = "/tmp/wssp_fuzz.XXXXXX";
    const int fd = ::mkstemp(name);
    if (fd < 0) std::abort();
    ::close(fd);
    pagePath = name;
    std::atexit(removePage);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Handler handler;
    if (!handler.fixed) {
        std::FILE* f = std::fopen(pagePath.c_str(), "wb");
        std::fputs("[%%INCLUDEARG(0)%%|%%INCLUDEARG(1)%%]", f);
        std::fclose(f);
        handler.fixed.reset(cgp::WSSPPage::loadFromFile(pagePath));
        cgp::WSSPPage::setIncludeHandler(&handler, &Handler::page);
    }
    std::FILE* f = std::fopen(pagePath.c_str(), "wb");
    if (f == nullptr) return 0;
    if (size > 0 && std::fwrite(data, 1, size, f) != size) {
        std::fclose(f);
        return 0;
    }
    std::fclose(f);

    std::unique_ptr<cgp::WsspNode> root(cgp::WSSPPage::loadFromFile(pagePath));
    if (!root) return 0;
    const std::string text = qdl::lowerCase(std::string(reinterpret_cast<const char*>(data), size));
    const int loops = count(text, "foreach") + count(text, "forall");
    const int includes = count(text, "include");
    if (loops > 4 || includes > 2) return 0;
    handler.self = root.get();
    NullBuffer buffer;
    std::ostream out(&buffer);
    cgp::WSSPPage::render(root.get(), out, variables());
    handler.self = nullptr;
    return 0;
}
