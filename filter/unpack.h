#pragma once
// Pieces of the TNEF walk that stand on their own: tnef's argument list,
// reading its listing and complaints, checking what it names, the report of
// a part, and the time limit for the child programs.
#include <cstddef>
#include <string>
#include <vector>

namespace cgp {

// One run of a child program (tnef, rtf2html): both outputs, read together,
// and how it ended.
struct ChildRun {
    bool finished = false;  // false: still running at the deadline, and killed
    int status = -1;        // as waitpid gives it; -1 when unknown
    std::string out;
    std::string err;
};

// The arguments tnef is run with (without the program itself): unpack
// `datPath` into `tempDir` (which ends with "/"), listing what it writes.
std::vector<std::string> tnefArguments(const std::string& datPath, const std::string& tempDir, bool ignoreRtfBody);

// The lines of tnef's standard output: CRs dropped, split at LF, empty lines
// left out. An output shorter than two characters holds no line.
std::vector<std::string> tnefListingLines(const std::string& out);

// A child's standard error as one log text: its first 4096 bytes up to any
// NUL, line ends joined by spaces, trailing blanks dropped.
std::string childComplaint(const std::string& err);

// How a child ended, for the log ("exited with status 1", "was killed by
// signal 11"); empty for a clean exit.
std::string abnormalEnd(int status);

// Why a child's files could not be written where it was told to write them:
// it was killed for exceeding the file-size limit, or its standard error
// names a local write failure (a full disk, a quota, the file-size limit, an
// I/O error, a read-only file system) in the C library's words. Empty when
// neither is the case: a complaint about the data itself is not one.
std::string localWriteFailure(const ChildRun& run);

// "* Extracted N file(s) from winmail.dat", with the number of files the
// -r option dropped when `kept` is fewer than `count`.
std::string extractionReport(std::size_t count, std::size_t kept);

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
const int kMaxWalkDepth = 64;

}  // namespace cgp
