// The parser's driver: one parse at a time, the mode's first token, the
// error line, and a clean scanner after every parse whatever its end.
#include "serverdata/internal/parser.h"

#include <fcntl.h>

#include <cstdio>
#include <string>

#include "runtime/files.h"
#include "runtime/log.h"
#include "runtime/mutex.h"
#include "serverdata/internal/scanner.h"
#include "cgparser_grammar.h"

namespace cgp {

namespace {

// An error line shows at most this much of the token it stopped at: a
// token may be a string of any size.
const std::size_t kMaxNearText = 256;

// Never destroyed: a parse on a thread that outlives the exit handlers
// still finds it.
qdl::SimpleMutex& parserMutex() {
    static qdl::SimpleMutex* m = new qdl::SimpleMutex;
    return *m;
}

thread_local bool parsingOnThisThread = false;

// The running parse, under parserMutex.
int firstToken = 0;
bool muted = true;
std::string sourceName;
bool errorReported = false;

int modeToken(int mode) {
    switch (mode) {
    case kPageMode: return MODE_PAGE;
    case kRouterMode: return MODE_ROUTER;
    case kDataMode: return MODE_DATA;
    }
    return 0;
}

void reportError(const char* message) {
    if (errorReported) return;
    errorReported = true;
    if (muted) return;
    std::string near = scannerTokenText();
    if (near.size() > kMaxNearText) near.resize(kMaxNearText);
    qdl::writeOutput("* while parsing \"" + sourceName + "\" file: " + message + " : near \"" + near + "\" (" +
                     std::to_string(scannerLine()) + ":" + std::to_string(scannerColumn()) + ")\n");
}

// Opens the file for reading without blocking on a FIFO that has no data.
FILE* openSource(const std::string& path) {
    const int fd = qdl::openFile(path, O_RDONLY | O_NONBLOCK);
    if (fd < 0) return nullptr;
    FILE* f = ::fdopen(fd, "r");
    if (f == nullptr) qdl::closeFile(fd);
    return f;
}

bool run(int mode, const std::string* text, const std::string* path) {
    const int token = modeToken(mode);
    if (token == 0 || ParseInProgress::onThisThread()) return false;
    qdl::ScopedLock guard(parserMutex());
    ParseInProgress mark;

    FILE* file = nullptr;
    if (path != nullptr) {
        file = openSource(*path);
        if (file == nullptr) return false;
        sourceName = *path;
        muted = false;
    } else {
        sourceName.clear();
        muted = true;
    }
    errorReported = false;
    firstToken = token;

    bool accepted = false;
    try {
        if (text != nullptr)
            scannerBegin(mode, text->data(), text->size(), nullptr);
        else
            scannerBegin(mode, nullptr, 0, file);
        accepted = cgparserparse() == 0;
    } catch (const ScannerFatal& e) {
        reportError(e.what());
    } catch (...) {
        // An action that failed (out of memory): the parse fails, the
        // scanner is reset below all the same.
    }
    scannerEnd();
    if (file != nullptr) std::fclose(file);
    firstToken = 0;
    return accepted;
}

}  // namespace

ParseInProgress::ParseInProgress() : outer_(parsingOnThisThread) { parsingOnThisThread = true; }

ParseInProgress::~ParseInProgress() { parsingOnThisThread = outer_; }

bool ParseInProgress::onThisThread() { return parsingOnThisThread; }

bool parseText(const std::string& text, int mode) { return run(mode, &text, nullptr); }

bool parseFile(const std::string& path, int mode) { return run(mode, nullptr, &path); }

}  // namespace cgp

void cgparsererror(const char* message) { cgp::reportError(message); }

int cgparserlex() {
    if (cgp::firstToken != 0) {
        const int token = cgp::firstToken;
        cgp::firstToken = 0;
        return token;
    }
    try {
        return cgp::scannerNextToken();
    } catch (const cgp::ScannerFatal& e) {
        // Reported here; the error token ends the parse without a second
        // report.
        cgp::reportError(e.what());
        return CGPARSERerror;
    }
}
