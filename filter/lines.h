#pragma once
// Message lines, read through one cursor. A line ends at LF, CR, CR LF or
// LF CR, and is handed over in pieces of bounded size, so that a body sent
// as one line of many megabytes never has to be held whole. The part
// headers, the walk and the copy all read through a LineCursor, so the
// positions the walk notes are the ones the copy meets.
#include <cstddef>
#include <ios>
#include <istream>
#include <memory>
#include <string>

#include "runtime/mutex.h"

namespace cgp {

// The longest piece of a message line held at once.
const std::size_t kDefaultLinePieceLimit = 64 * 1024;

// The limit for the first piece of each line of a multipart body whose
// delimiter line is `boundaryLine` ("--" and the boundary): a delimiter line,
// the closing one too, always arrives whole in that piece, and a line cut
// there is longer than either, so it is never taken for one.
std::size_t headLimitFor(std::size_t pieceLimit, const std::string& boundaryLine);

// True when `line` is the delimiter line `boundaryLine` or the closing one
// (`boundaryLine` followed by "--"). Only a line read whole can be one.
bool isDelimiterLine(const std::string& line, const std::string& boundaryLine);
bool isDelimiterLine(const char* line, std::size_t size, const std::string& boundaryLine);

class LineCursor : private qdl::noncopyable {
public:
    // Reads `in` from where it stands. With `readAhead` the cursor reads the
    // stream in blocks into a buffer of its own and scans that for the line
    // ends; what it has taken but not used goes back when the cursor goes
    // (the stream is set to position() again). A stream that cannot tell
    // its position, and the standard input, are read a byte at a time and
    // never beyond the current line, as the protocol loop needs.
    explicit LineCursor(std::istream& in, bool readAhead = true);
    ~LineCursor();

    // Reads the next piece of the current line, at most `limit` bytes (a
    // limit of 0 counts as 1). True when the line ends with this piece: its
    // line end was consumed (when it comes right after `limit` bytes too),
    // or the input ended, or the read failed. False when the piece was cut
    // at `limit` bytes and more of the line follows: the next call reads on
    // in the same line. The stream's state tells how it went: end-of-file
    // once the end of the input has been seen (a pair is joined without
    // looking further), failbit as well when there was nothing left to
    // read, badbit when the read itself failed. On the standard input the
    // second character of a pair is looked at only when it has already
    // arrived, so the reader never waits on the server for it. On a stream
    // that is not good it only sets failbit, and leaves `piece` as it is.
    bool piece(std::string& piece, std::size_t limit);

    // Reads a line as piece() does, without copying it, where that is done
    // in the buffer alone: true with the line (without its line end) in
    // `data` and `size`, valid until the next read. False when nothing was
    // read: the line is to be read with piece().
    bool wholeLine(const char*& data, std::size_t& size, std::size_t limit);

    // Reads the first piece of a line like piece() and passes over the rest
    // of the line. True when `head` is the whole line.
    bool head(std::string& head, std::size_t limit);

    // Passes over what is left of the current line after a cut piece.
    void skipRest();

    // The stream offset just after what has been read; -1 when the stream
    // cannot tell it or the read failed.
    std::streamoff position() const;

    // The line read last ran into the end of the input without a line end.
    bool metEnd() const { return metEnd_; }

    // Goes to `offset` as seekg does: end-of-file is cleared first; a
    // failed stream stays where it is; a position the stream cannot take
    // sets failbit.
    void seek(std::streamoff offset);

    std::istream& stream() const { return in_; }

private:
    bool ready();
    int peek();
    void take();
    bool fill();
    void findCr();
    const char* findLineEnd(std::size_t n);
    bool finishLine(int end);
    bool available() const;

    std::istream& in_;
    std::streambuf* sb_;
    bool readAhead_;
    bool interactive_;
    bool metEnd_ = false;
    // The buffer holds the stream's bytes from base_ on; [pos_, end_) is not
    // read yet. Without read-ahead it holds at most the byte being read.
    std::streamoff base_ = -1;
    std::size_t pos_ = 0;
    std::size_t end_ = 0;
    std::size_t cr_ = 0;  // the first CR at or after pos_, end_ when none
    std::size_t capacity_ = 1;
    std::unique_ptr<char[]> block_;
    char byte_ = 0;
    char* buffer_ = &byte_;
};

// One piece of a line from `in` through a cursor that takes nothing beyond
// it; see LineCursor::piece.
bool readLinePiece(std::istream& in, std::string& piece, std::size_t limit);

// The first piece of a line from `in`, passing over the rest; see
// LineCursor::head.
bool readLineHead(std::istream& in, std::string& head, std::size_t limit);

}  // namespace cgp
