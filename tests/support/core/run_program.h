#pragma once
// Runs a built program as the mail server would: input on its standard
// input, both outputs collected, bounded in time.
#include <string>
#include <vector>

namespace testsupport {

struct ProgramResult {
    std::string out;
    std::string err;
    int exitCode = -1;  // -1 when killed or not started
    bool timedOut = false;
};

// argv[0] is the program path. `cwd` empty keeps the current directory.
ProgramResult runProgram(const std::vector<std::string>& argv, const std::string& input,
                         const std::string& cwd = "", int timeoutSeconds = 60);

// A fresh temporary directory, removed with everything in it on destruction.
class TempDir {
public:
    TempDir();
    ~TempDir();
    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& data);
// Names in a directory (without "." and ".."), sorted.
std::vector<std::string> listDir(const std::string& path);
// Files below a directory, at any depth, as paths relative to it, sorted.
// Links are listed, not followed.
std::vector<std::string> listTree(const std::string& path);

// Path of a built program, e.g. builtProgram("filter/parvex").
std::string builtProgram(const std::string& relative);

}  // namespace testsupport
