#pragma once
// Scanner control, for the parser's driver only: the input, the start
// condition of each mode, the line and column counters, the reset after a
// parse. The scanner's fatal conditions are thrown as ScannerFatal and never
// end the process; the token source turns them into a failed parse.
#include <cstddef>
#include <cstdio>
#include <string>

#include "runtime/exception.h"

namespace cgp {

class ScannerFatal : public qdl::Exception {
public:
    explicit ScannerFatal(const char* message) : qdl::Exception(message, 0) {}
    ~ScannerFatal() override;
};

// Starts reading a memory text (file null) or an open file, in the start
// condition of the mode, with the counters at 0.
void scannerBegin(int mode, const char* text, std::size_t length, FILE* file);
// Releases every scanner buffer and resets the scanner for the next parse.
void scannerEnd();

int scannerNextToken();
int scannerLine();
int scannerColumn();
const char* scannerTokenText();

}  // namespace cgp
