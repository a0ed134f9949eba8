// rtf2html RTF-FILE HTML-FILE
//
// Converts an RTF file to an HTML file in UTF-8 that declares its charset.
// HTML or plain text that Outlook wrapped in RTF is taken back as it was
// written; any other RTF is converted by unrtf, found on PATH, after its
// text has been rewritten so that unrtf loses no character. The HTML file
// appears, complete and synced, only when the conversion succeeded, and
// never in place of a file that is there already; any failure leaves it
// absent and ends with a non-zero status.
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

#include "filter/rtf2html/decapsulate.h"
#include "filter/rtf2html/unrtf_text.h"
#include "runtime/descriptor.h"
#include "runtime/file_buffers.h"
#include "runtime/files.h"
#include "runtime/process.h"
#include "runtime/replacement_file.h"

namespace {

// The filter stops us at 60 seconds; give up on unrtf a little earlier.
const int kUnrtfTimeoutMs = 50 * 1000;
const std::size_t kReadSize = 64 * 1024;

int fail(const std::string& text) {
    std::fprintf(stderr, "rtf2html: %s\n", text.c_str());
    return 1;
}

std::string findOnPath(const std::string& program) {
    const char* env = std::getenv("PATH");
    const std::string path = env != nullptr && *env != '\0' ? env : "/usr/local/bin:/usr/bin:/bin";
    std::size_t pos = 0;
    for (;;) {
        const std::size_t colon = path.find(':', pos);
        std::string dir = path.substr(pos, colon == std::string::npos ? std::string::npos : colon - pos);
        if (dir.empty()) dir = ".";
        const std::string candidate = dir + "/" + program;
        if (qdl::isRegularFile(candidate) && ::access(candidate.c_str(), X_OK) == 0) return candidate;
        if (colon == std::string::npos) return std::string();
        pos = colon + 1;
    }
}

// A file of our own beside the HTML file, under a name no other process has,
// readable by all as the HTML file will be; removed when it goes, unless it
// was published under that name. The caller names the HTML file: a file
// already there is replaced by a conversion that succeeds, and only then.
qdl::ReplacementFile::Options besideHtml(const std::string& html) {
    qdl::ReplacementFile::Options options;
    options.lead = html + ".";
    options.randomCharacters = 6;
    options.mode = 0644;
    options.replace = true;
    return options;
}

bool write(qdl::ReplacementFile& file, const std::string& data) {
    return data.empty() || file.out().file().sputn(data.data(), static_cast<std::streamsize>(data.size())) ==
                               static_cast<std::streamsize>(data.size());
}

std::string systemError() { return std::strerror(errno); }

int cannotWrite(const std::string& path) { return fail("cannot write " + path + ": " + systemError()); }
int cannotCreate(const std::string& besides) {
    return fail("cannot create a file beside " + besides + ": " + systemError());
}

// Reads the next piece of `in` into `buffer`; false at the end.
bool readPiece(qdl::InputFile& in, std::vector<char>& buffer, std::size_t& size) {
    size = static_cast<std::size_t>(in.sgetn(buffer.data(), static_cast<std::streamsize>(buffer.size())));
    return size > 0;
}

int publishHtml(qdl::ReplacementFile& out, const std::string& html) {
    if (!out.close(true)) return cannotWrite(out.path());
    if (!out.commit()) return cannotWrite(html);
    return 0;
}

int convertWithUnrtf(qdl::InputFile& in, const std::string& html) {
    const std::string unrtf = findOnPath("unrtf");
    if (unrtf.empty()) return fail("unrtf not found on PATH");

    qdl::ReplacementFile input(html, besideHtml(html));
    if (!input.isOpen()) return cannotCreate(html);
    // The reading of the header started the file; the rewriting starts it again.
    if (in.pubseekpos(0, std::ios_base::in) != std::streampos(0)) return fail("cannot read the RTF file again");
    rtf::UnrtfInput rewriter;
    std::vector<char> buffer(kReadSize);
    std::size_t size = 0;
    std::string rewritten;
    while (readPiece(in, buffer, size)) {
        if (!rewriter.feed(buffer.data(), size, rewritten)) return fail(rewriter.error());
        if (!write(input, rewritten)) return cannotWrite(input.path());
        rewritten.clear();
    }
    if (!rewriter.finish(rewritten)) return fail(rewriter.error());
    if (!write(input, rewritten) || !input.close(false)) return cannotWrite(input.path());

    // A name that starts with "-" must not be read as an option.
    const std::string inputPath = input.path()[0] == '-' ? "./" + input.path() : input.path();
    // Pictures would be written into the working directory: the server's.
    std::vector<std::string> args{"--html", "--nopict", inputPath};
    std::string out;
    std::string err;
    int status = -1;
    try {
        qdl::Process child = qdl::Process::launch(unrtf, args);
        if (!child.communicate(out, err, kUnrtfTimeoutMs)) return fail("unrtf did not finish in time");
        status = child.exitStatus();
    } catch (...) {
        return fail("cannot start " + unrtf);
    }
    if (status == -1 || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::string text = "unrtf failed";
        if (!err.empty()) text += ": " + err.substr(0, err.find('\n'));
        return fail(text);
    }
    if (out.empty()) return fail("unrtf produced no output");

    qdl::ReplacementFile result(html, besideHtml(html));
    if (!result.isOpen()) return cannotCreate(html);
    if (!write(result, rtf::unrtfOutputAsUtf8(out))) return cannotWrite(result.path());
    return publishHtml(result, html);
}

int convert(const std::string& rtfPath, const std::string& html) {
    qdl::InputFile in(rtfPath, true);
    if (!in.isOpen()) return fail(rtfPath + " is not a regular file");

    std::vector<char> buffer(kReadSize);
    std::size_t size = 0;
    rtf::Decapsulator decapsulator;
    std::string out;
    // The header tells whether the document is wrapped HTML or text; it
    // lies at the start, and what is read of it gives no output.
    bool ended = false;
    while (!ended && !decapsulator.headerRead()) {
        ended = !readPiece(in, buffer, size);
        const bool ok = ended ? decapsulator.finish(out) : decapsulator.feed(buffer.data(), size, out);
        if (!ok) return fail(decapsulator.error());
    }
    if (decapsulator.encapsulation() == rtf::Encapsulation::None) return convertWithUnrtf(in, html);

    qdl::ReplacementFile result(html, besideHtml(html));
    if (!result.isOpen()) return cannotCreate(html);
    while (!ended) {
        if (!write(result, out)) return cannotWrite(result.path());
        out.clear();
        ended = !readPiece(in, buffer, size);
        const bool ok = ended ? decapsulator.finish(out) : decapsulator.feed(buffer.data(), size, out);
        if (!ok) return fail(decapsulator.error());
    }
    if (!write(result, out)) return cannotWrite(result.path());
    return publishHtml(result, html);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3 || argv[1][0] == '\0' || argv[2][0] == '\0') {
        std::fprintf(stderr, "usage: %s RTF-FILE HTML-FILE\n", argc > 0 ? argv[0] : "rtf2html");
        return 2;
    }
    const std::string rtf = argv[1];
    const std::string html = argv[2];

    {
        const qdl::Descriptor probe(qdl::openFile(rtf, O_RDONLY | O_NONBLOCK));
        if (!probe.isOpen()) return fail("cannot read " + rtf + ": " + systemError());
    }

    try {
        return convert(rtf, html);
    } catch (const std::exception& e) {
        return fail(std::string("cannot convert ") + rtf + ": " + e.what());
    }
}
