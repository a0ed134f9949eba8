#pragma once
// The data condition's fast path, for the scanner only: its common tokens
// read by hand ahead of the automaton, which spends a table load on every
// byte, and the long tokens (quoted strings, data blocks) measured straight
// in the buffer. scanner.l alone sees flex's state: before each token it
// hands the fast path flex's buffer, and afterwards it sets flex's state
// from what the fast path read, as the automaton's own match would have
// left it.
#include <cstddef>

namespace cgp {
namespace scan {

// ---- in scanner.l ----
// Whether more input may be read into the buffer: flex has not met the end
// of the input, and the input may go on.
bool bufferMayReadOn();
// What the buffer holds after it read on: `count` bytes from `start`, where
// the token it moved now begins; `more` when more input came.
struct Refill {
    char* start;
    int count;
    bool more;
};
// The bytes from `token` to `end`, the end of the buffered bytes, move to
// the buffer's start and the buffer reads on, as the automaton has it done
// when its match reaches the end: a refill takes all the room the buffer
// has, and the buffer doubles when the token fills it.
Refill bufferReadOn(char* token, char* end);
// Empties the buffer: the input goes on past what it holds, where a token
// read in the memory text itself ended.
void bufferSpend();

// ---- in scanner_fast.cpp ----
const int kNoFastToken = -1;

// What the fast path read: 16 bytes, handed back in registers.
struct FastToken {
    char* position;  // where the token starts, or where the automaton goes on
    int code;        // kNoFastToken: the automaton goes on
    int length;      // the token's, with its quotes or brackets
};

// Skips blanks and line ends from `position` (in flex's buffer, whose
// bytes end at `end`, where a NUL byte stands), counting them, and reads
// the token after them when its shape leaves no choice: an atom of plain
// ASCII, a one-byte token, a quoted string or a data block, whose text goes
// to the grammar in place. Anything else (a "#" atom, bytes from 80 on, a
// malformed token, one the input ends in) the automaton reads from where
// the blanks end, exactly as it would have. `atLineStart` is flex's
// beginning-of-line flag, set as the automaton sets it for what it reads.
FastToken readDataToken(char* position, char* end, int& atLineStart);

// The long tokens measured straight in the buffer, the quoted string or
// data block that starts at token: its whole length with both quotes or
// brackets; -1 when the automaton must read it (it is malformed, and its
// first byte is a bad character); 0 when the buffered input ends first.
// Then `from` is where a measure of the same token, moved and with more
// input after it, goes on: nothing before it is read again. Start with 0.
int quotedLength(const char* token, const char* end, std::size_t& from);
int dataLength(const char* token, const char* end, std::size_t& from);

}  // namespace scan
}  // namespace cgp
