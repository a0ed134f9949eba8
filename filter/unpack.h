#pragma once
// Pieces of the TNEF walk that stand on their own: reading tnef's listing,
// checking what it names, and the time limit for the child programs.
#include <string>

namespace cgp {

// One run of a child program (tnef, rtf2html): both outputs, read together,
// and how it ended.
struct ChildRun {
    bool finished = false;  // false: still running at the deadline, and killed
    int status = -1;        // as waitpid gives it; -1 when unknown
    std::string out;
    std::string err;
};

// The path one line of tnef's verbose listing names. A line holding the
// TAB "|" TAB separator is NAME, PATH, media type, content id: its second
// field is the path. Any other line is a bare name inside `tempDir` (which
// ends with "/"). Nothing is checked here.
std::string tnefListingPath(const std::string& line, const std::string& tempDir);

// True when `path` is `dir`, a "/" (when `dir` has none at its end) and one
// name, standing for a regular file (not a symbolic link). Such a file lies
// inside `dir` without anything to resolve.
bool isPlainFileIn(const std::string& path, const std::string& dir);

// True when `path` is an existing regular file (not a symbolic link) that
// lies inside `dir`, once both are resolved.
bool isRegularFileInside(const std::string& path, const std::string& dir);

// The same test, giving `path` spelt as `dir` (with a "/" after it) followed
// by the file's resolved place below `dir`, so that "./x" and "x" name one
// entry; empty when the test fails.
std::string regularFileInside(const std::string& path, const std::string& dir);

// How long tnef and rtf2html may run before they are killed (milliseconds).
int childTimeoutMs();
void setChildTimeoutMs(int ms);

// How many MIME levels the walk follows; deeper bodies are left as they are.
const int maxWalkDepth = 64;

}  // namespace cgp
