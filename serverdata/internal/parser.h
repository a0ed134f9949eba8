#pragma once
// The one generated parser of data-set text, router tables and WSSP pages.
// One parse runs at a time in the process; the caller holds the lock of the
// store its mode's actions fill (value stack, router tables, page nodes).
// A parse started while another runs on the same thread (an action that
// parses again) is refused: the scanner and the stores are shared.
#include <string>

namespace cgp {

const int kPageMode = 0;
const int kRouterMode = 1;
const int kDataMode = 2;

// True when the grammar accepted the whole input; false on a syntax error,
// "memory exhausted", a failed read, a bad mode, a nested parse, or a file
// that does not open. A file's error is printed on standard output as
// * while parsing "<path>" file: <message> : near "<token>" (<line>:<column>)
// and a text's is not printed.
bool parseText(const std::string& text, int mode);
bool parseFile(const std::string& path, int mode);

// Marks the calling thread as inside a parse for the object's life. The
// driver holds one while the grammar runs; whoever parses checks it first.
class ParseInProgress {
public:
    ParseInProgress();
    ~ParseInProgress();
    ParseInProgress(const ParseInProgress&) = delete;
    ParseInProgress& operator=(const ParseInProgress&) = delete;
    static bool onThisThread();

private:
    bool outer_;
};

}  // namespace cgp

// The grammar's error report and token source, under the names the
// generated parser calls.
void cgparsererror(const char* message);
int cgparserlex();
