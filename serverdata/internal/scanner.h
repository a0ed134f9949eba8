#pragma once
// Scanner control, for the parser's driver only: the input, the start
// condition of each mode, the line and column counters, the reset after a
// parse. The scanner's fatal conditions are thrown as ScannerFatal and never
// end the process; the token source turns them into a failed parse.
#include <cstddef>
#include <cstdio>
#include <string>
#include <vector>

#include "runtime/exception.h"

namespace cgp {

class ScannerFatal : public qdl::Exception {
public:
    explicit ScannerFatal(const char* message) : qdl::Exception(message, 0) {}
    ~ScannerFatal() override;
};

// Starts reading a memory text (file null) or an open file, in the start
// condition of the mode, with the counters at 0. A memory text is followed
// by a NUL byte (as a std::string's data is) and stays for the parse: a
// long data-mode token is handed on where it stands in it.
void scannerBegin(int mode, const char* text, std::size_t length, FILE* file);
// Releases every scanner buffer and resets the scanner for the next parse.
void scannerEnd();

int scannerNextToken();
int scannerLine();
int scannerColumn();
const char* scannerTokenText();

// The data condition reads its common tokens by hand ahead of the
// automaton; off, every token goes through the automaton. On by default;
// tests turn it off to compare the two.
void scannerUseFastPath(bool on);

// For tests: how often the last parse read its input. A refill takes all
// the room the buffer has, and the buffer doubles when a token fills it.
std::size_t scannerReads();

// One token as the grammar gets it: its code (0 at the end of the input),
// the bytes matched, the text handed on (for the tokens that carry one) and
// the counters after it.
struct ScannedToken {
    int code;
    std::string matched;
    std::string value;
    int line;
    int column;
    bool operator==(const ScannedToken& other) const {
        return code == other.code && matched == other.matched && value == other.value && line == other.line &&
               column == other.column;
    }
};
// For tests: every token of a data-mode text up to the end of the input, or
// up to a fatal condition (then a last token of code -1 holds its message).
// Not while a parse runs: the scanner's state is the process's one.
std::vector<ScannedToken> scanDataText(const std::string& text);

}  // namespace cgp
