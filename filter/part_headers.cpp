#include "filter/internal/part_headers.h"

#include <strings.h>

#include "runtime/casefold.h"

namespace cgp {

namespace {

// A folded header longer than this is not unfolded further: nothing the
// walk looks for lies that far in, and the block stays bounded in memory.
const std::size_t kMaxHeaderLength = 64 * 1024;

bool startsWithNoCase(const std::string& text, const char* prefix) {
    const std::size_t n = std::char_traits<char>::length(prefix);
    return text.size() >= n && ::strncasecmp(text.c_str(), prefix, n) == 0;
}

bool isValueEnd(char c) { return c == ' ' || c == '\t' || c == ';' || c == '"'; }

// The first word after the header name: skips spaces, TABs and quotes, then
// runs to the next space, TAB, quote or ";". False when nothing follows.
bool headerValue(const std::string& header, std::size_t from, std::string& value) {
    std::size_t start = from;
    while (start < header.size() && (header[start] == ' ' || header[start] == '\t' || header[start] == '"')) ++start;
    if (start >= header.size()) return false;
    std::size_t end = start;
    while (end < header.size() && !isValueEnd(header[end])) ++end;
    value = header.substr(start, end - start);
    toLowerFrom(value, 0);
    return true;
}

void examine(const std::string& header, PartHeaders& h) {
    if (startsWithNoCase(header, "Content-Type:")) {
        if (!headerValue(header, 13, h.contentType)) return;
        getHeaderParameter(header, "boundary", h.boundary);
        getHeaderParameter(header, "name", h.name);
    } else if (startsWithNoCase(header, "Content-Disposition:")) {
        getHeaderParameter(header, "name", h.name);
    } else if (startsWithNoCase(header, "Content-Transfer-Encoding:")) {
        headerValue(header, 26, h.transferEncoding);
    } else if (startsWithNoCase(header, "X-Parvex:")) {
        h.marked = true;
    }
}

}  // namespace

void toLowerFrom(std::string& s, std::size_t from) {
    for (std::size_t i = from; i < s.size(); ++i)
        s[i] = static_cast<char>(qdl::lowerCaseTable[static_cast<unsigned char>(s[i])]);
}

bool getHeaderParameter(const std::string& header, const std::string& parameter, std::string& value) {
    const std::size_t n = parameter.size();
    if (header.size() < n + 1) return false;
    std::size_t p = std::string::npos;
    for (std::size_t i = 0; i + n < header.size(); ++i) {
        if (header[i + n] != '=') continue;
        std::size_t k = 0;
        while (k < n && qdl::lowerCaseTable[static_cast<unsigned char>(header[i + k])] ==
                            qdl::lowerCaseTable[static_cast<unsigned char>(parameter[k])])
            ++k;
        if (k == n) {
            p = i + n + 1;
            break;
        }
    }
    if (p == std::string::npos) return false;
    if (p < header.size() && header[p] == '"') {
        const std::size_t close = header.find('"', p + 1);
        value = header.substr(p + 1, close == std::string::npos ? std::string::npos : close - p - 1);
    } else {
        std::size_t end = p;
        while (end < header.size() && !isValueEnd(header[end])) ++end;
        value = header.substr(p, end - p);
    }
    return true;
}

namespace {

// Appends to a header without letting it grow past the cap.
void appendCapped(std::string& header, const std::string& text) {
    if (header.size() < kMaxHeaderLength) header.append(text, 0, kMaxHeaderLength - header.size());
}

bool readBlock(LineCursor& lines, PartHeaders& h, const std::string* boundaryLine, std::string* cut,
               std::size_t pieceLimit) {
    std::istream& in = lines.stream();
    h.contentType.clear();
    h.boundary.clear();
    h.name.clear();
    h.transferEncoding.clear();
    h.marked = false;
    const std::size_t headLimit = boundaryLine != nullptr ? headLimitFor(pieceLimit, *boundaryLine) : pieceLimit;
    std::string line;
    std::string piece;
    std::string pending;
    for (;;) {
        line.clear();
        bool whole = lines.piece(line, headLimit);
        if (!line.empty() && (line[0] == ' ' || line[0] == '\t')) {
            if (pending.size() < kMaxHeaderLength) {
                pending += ' ';
                appendCapped(pending, line);
            }
        } else {
            examine(pending, h);
            if (whole && boundaryLine != nullptr && isDelimiterLine(line, *boundaryLine)) {
                cut->swap(line);
                return true;
            }
            pending.clear();
            appendCapped(pending, line);
        }
        while (!whole) {
            whole = lines.piece(piece, pieceLimit);
            appendCapped(pending, piece);
        }
        if (pending.empty() || in.eof() || in.fail()) break;
    }
    return false;
}

}  // namespace

void readPartHeaders(LineCursor& in, PartHeaders& h, std::size_t pieceLimit) {
    readBlock(in, h, nullptr, nullptr, pieceLimit);
}

bool readPartHeaders(LineCursor& in, PartHeaders& h, const std::string& boundaryLine, std::string& line,
                     std::size_t pieceLimit) {
    return readBlock(in, h, &boundaryLine, &line, pieceLimit);
}

void readPartHeaders(std::istream& in, PartHeaders& h, std::size_t pieceLimit) {
    LineCursor lines(in);
    readBlock(lines, h, nullptr, nullptr, pieceLimit);
}

bool readPartHeaders(std::istream& in, PartHeaders& h, const std::string& boundaryLine, std::string& line,
                     std::size_t pieceLimit) {
    LineCursor lines(in);
    return readBlock(lines, h, &boundaryLine, &line, pieceLimit);
}

}  // namespace cgp
