#pragma once
// Just enough MIME to find TNEF parts: the header block of a message or a
// part, with its content type, boundary, name, transfer encoding and the
// filter's own "X-Parvex:" mark.
#include <cstddef>
#include <istream>
#include <string>

#include "filter/lines.h"

namespace cgp {

struct PartHeaders {
    std::string contentType;       // media type without parameters, lower-cased
    std::string boundary;          // as written
    std::string name;              // Content-Type name or Content-Disposition filename, as written
    std::string transferEncoding;  // lower-cased
    bool marked = false;           // the block holds an "X-Parvex:" line
};

// Lowers s[from..] in place through the system's case-folding table.
void toLowerFrom(std::string& s, std::size_t from);

// Finds `parameter` followed by "=" anywhere in `header`, ignoring case (so
// "name" also matches inside "filename="). A quoted value runs to the next
// double quote, an unquoted one to the first space, TAB, ";" or double
// quote. False, and `value` untouched, when the parameter is absent.
bool getHeaderParameter(const std::string& header, const std::string& parameter, std::string& value);

// Reads one header block from the cursor's position up to and including
// the blank line that ends it (or the end of the input), unfolding
// continuation lines. A header is examined once the line after it has been
// read, so the last header of a block cut off by the end of the input is not
// examined. Lines are read in pieces of at most `pieceLimit` bytes, and a
// folded header is kept only up to its first 64 KiB.
void readPartHeaders(LineCursor& in, PartHeaders& h, std::size_t pieceLimit = kDefaultLinePieceLimit);

// The same for a part inside a multipart body: a line equal to
// `boundaryLine`, or to it followed by "--", is never a header; it ends the
// block and the part, which then has no body. True when that happened, with
// the delimiter line in `line`.
bool readPartHeaders(LineCursor& in, PartHeaders& h, const std::string& boundaryLine, std::string& line,
                     std::size_t pieceLimit = kDefaultLinePieceLimit);

// Both read from a stream, which is left just after the block.
void readPartHeaders(std::istream& in, PartHeaders& h, std::size_t pieceLimit = kDefaultLinePieceLimit);
bool readPartHeaders(std::istream& in, PartHeaders& h, const std::string& boundaryLine, std::string& line,
                     std::size_t pieceLimit = kDefaultLinePieceLimit);

}  // namespace cgp
