#include "filter/extfilter.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>

#include "runtime/escape.h"
#include "runtime/file_buffers.h"
#include "runtime/files.h"
#include "runtime/log.h"

namespace cgp {

const ExtFilter::Result ExtFilter::Result::OK{ExtFilter::Result::Accept, {}};
const ExtFilter::Result ExtFilter::Result::DISCARD{ExtFilter::Result::Discard, {}};

namespace {

bool isEnvelopeLetter(unsigned char c) {
    return (c >= 65 && c <= 90) || (c >= 97 && c <= 122) || c == 138 || c == 140 || c == 142 || c == 154 ||
           c == 156 || c == 158 || c == 159 || (c >= 192 && c <= 214) || (c >= 216 && c <= 247) || c >= 249;
}

bool isWhite(unsigned char c) { return (c >= 9 && c <= 13) || c == 32; }

}  // namespace

void joinHeaderLines(const std::vector<std::string>& lines, std::string& out) {
    std::string joined;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (i) joined += '\n';
        joined += lines[i];
    }
    out = qdl::cgpEscape(joined);
}

ExtFilter::ExtFilter(bool threaded) : Helper(threaded, "REJECTED") {
    // Instances started in the same second must not draw the same numbers:
    // the seed mixes nanoseconds and the process id into the time.
    struct timespec now = {};
    ::clock_gettime(CLOCK_REALTIME, &now);
    const unsigned long pid = static_cast<unsigned long>(::getpid());
    std::srand(static_cast<unsigned>(static_cast<unsigned long>(now.tv_sec) ^ static_cast<unsigned long>(now.tv_nsec) ^
                                     (pid << 16) ^ (pid >> 16)));
}

ExtFilter::~ExtFilter() = default;

bool ExtFilter::acceptsCommand(const std::string& command) { return command == "file"; }

bool ExtFilter::hasEnvelope(std::istream& in) {
    in.clear();
    if (!in.seekg(0).good()) return false;
    std::string line;
    readLinePiece(in, line, kDefaultLinePieceLimit);
    in.clear();
    in.seekg(0);
    return line.size() >= 3 && isEnvelopeLetter(static_cast<unsigned char>(line[0])) &&
           isWhite(static_cast<unsigned char>(line[1]));
}

void ExtFilter::skipEnvelope(std::istream& in) {
    if (!hasEnvelope(in)) return;
    std::string line;
    while (in.good()) {
        readLineHead(in, line, kDefaultLinePieceLimit);
        if (in.fail() || line.empty()) break;
    }
}

ExtFilter::Result ExtFilter::processMessage(int seqID, const std::string& path, std::istream&) {
    return processMessage(seqID, path);
}

void ExtFilter::processRequest(int seqID, const std::string&, const std::string& path) {
    const unsigned n = static_cast<unsigned>(seqID);
    // The system would read the path only up to a NUL, and so open another
    // file than the one named: such a path names no file we can open.
    if (path.find('\0') != std::string::npos) {
        qdl::outline() << n << " OK \"Error: unable to open file " << qdl::cgpEscape(path) << "\"";
        return;
    }
    // One stat answers both questions for an existing file; only when it
    // fails does the existence test of its own decide.
    struct stat st;
    const bool statted = ::stat(path.c_str(), &st) == 0;
    if (statted ? S_ISDIR(st.st_mode) : !qdl::isFile(path)) {
        qdl::outline() << n << " OK \"Error: File Not Found " << qdl::cgpEscape(path) << "\"";
        return;
    }
    // Only a regular file can be a queued message: opening a FIFO would wait
    // for a writer, and a device may never end.
    if (!statted || !S_ISREG(st.st_mode)) {
        qdl::outline() << n << " OK \"Error: unable to open file " << qdl::cgpEscape(path) << "\"";
        return;
    }
    Result result = Result::OK;
    {
        // Opened once: the message is read through this same descriptor.
        qdl::InputStream message(path);
        if (!message.is_open()) {
            qdl::outline() << n << " OK \"Error: unable to open file " << qdl::cgpEscape(path) << "\"";
            return;
        }
        result = processMessage(seqID, path, message);
    }
    std::string text;
    joinHeaderLines(result.headerLines, text);
    int code = result.code;
    if (text.empty() && code == Result::AddHeader) code = Result::Accept;

    static const char* const kLogTexts[] = {"Accepting message", "Postponing message", "Rejecting message",
                                            "Discarding message", "Adding Header(s) to message"};
    if (code < 0 || code > 4) code = Result::Accept;  // an unknown code must not lose the message
    qdl::logline(n) << kLogTexts[code];
    qdl::outline reply;
    reply << n;
    switch (code) {
    case Result::Accept: reply << " OK"; break;
    case Result::Postpone: reply << " REJECTED \"" << text << "\""; break;
    case Result::Reject: reply << " ERROR \"" << text << "\""; break;
    case Result::Discard: reply << " DISCARD"; break;
    case Result::AddHeader: reply << " ADDHEADER \"" << text << "\""; break;
    }
}

}  // namespace cgp
