#pragma once
// The scanner's own code beside flex, for the scanner only: the input of the
// running parse and where the scanner stands in it, the token texts it hands
// the grammar, and the measures and the word table its rules call. The state
// here is the process's one parse's, under the parser's lock.
#include <cstddef>
#include <cstdio>

namespace cgp {
namespace scan {

// The input of the running parse: a memory text, or a file when set.
struct Input {
    const char* text = nullptr;
    std::size_t left = 0;
    FILE* file = nullptr;
    std::size_t reads = 0;  // reads of the running parse, for tests

    // Fills what the buffer has room for; 0 at the end. A read error other
    // than an interrupted call throws ScannerFatal.
    std::size_t read(char* buffer, std::size_t max);
    // False when the input is known to have ended.
    bool mayGoOn() const { return file != nullptr ? !std::feof(file) : left > 0; }
};

extern Input input;

// Where the scanner stands, as error lines report it: the rules and the
// data condition's fast path both advance it.
struct Cursor {
    int line = 0;
    int column = 0;
};

extern Cursor cursor;

// Token texts are copies the grammar gives back with cgp::freeToken, made
// here, or a text handed on in place: in the scanner's buffer or in a
// memory text, not copied and not ended by a NUL byte. It stays where it
// is until the scanner reads on. A data-mode token's action runs before the
// grammar reads the next token (the state after its shift only reduces), so
// at most this one text is out at a time.
struct BorrowedText {
    const char* text = nullptr;
    std::size_t length = 0;
};

extern BorrowedText borrowed;

// A NUL-terminated copy of the bytes. Throws ScannerFatal when memory runs out.
char* tokenCopy(const char* text, std::size_t length);
// Frees the copies kept for reuse: the scanner is reset after each parse.
void releaseTokenBuffers();

// The length of the data-mode atom at the start of a text: atom characters,
// and the two- and three-byte sequences whole.
std::size_t atomPrefix(const char* text, std::size_t length);
// The length of the router atom at the start of a text: atom characters, a
// backslash with its "*", and the two- and three-byte sequences whole.
std::size_t routerAtomPrefix(const char* text, std::size_t length);
// The longest quoted atom at the start of a text that runs to the line's
// end: a double quote, any bytes (quotes too), a double quote and at least
// one atom character. 0 when there is none.
std::size_t quotedAtomLength(const char* text, std::size_t length);

// The token of a page word (a keyword, a function word with its "(", a
// format prefix with its ":") in any letter case; 0 for none.
int pageWord(const char* text, std::size_t length);
// Lowers a NUL-terminated name through the case table.
void lowerName(char* text);

}  // namespace scan
}  // namespace cgp
