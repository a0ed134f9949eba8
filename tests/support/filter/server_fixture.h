#pragma once
// A program directory laid out as the install step lays it out (parvex,
// rtf2html, a link named tnef to the system's tnef) and a server base
// directory with Queue/ and Submitted/, for running the built program as the
// mail server does.
#include <sys/types.h>

#include <string>
#include <vector>

#include "support/core/run_program.h"

namespace testsupport {

class ServerFixture {
public:
    // withTnef false leaves tnef out of the program directory.
    explicit ServerFixture(bool withTnef = true, bool withRtf2html = true);

    const std::string& programDir() const { return program_; }  // with trailing "/"
    const std::string& baseDir() const { return base_; }        // with trailing "/"
    std::string parvex() const { return program_ + "parvex"; }
    bool haveTnef() const { return !systemTnef_.empty(); }
    const std::string& systemTnef() const { return systemTnef_; }

    // Writes Queue/<name> and returns its path relative to the base directory.
    std::string queue(const std::string& name, const std::string& content);
    // Files in Submitted/, sorted.
    std::vector<std::string> submitted() const;

    // Runs parvex in the base directory with these request lines.
    ProgramResult run(const std::string& requests, const std::vector<std::string>& options = {}) const;

private:
    TempDir root_;
    std::string program_, base_, systemTnef_;
};

// One leaf part of a message as a standard MIME reader decodes it.
struct LeafPart {
    std::string type, name, data;
};

// The leaf parts of the message file at `path`, read with Python's standard
// MIME parser (scripts/mime_summary.py), in order.
std::vector<LeafPart> parseMime(const std::string& path);

// A pid that no process has now: a child that has ended and been waited for.
pid_t deadPid();

// What the real tnef extracts from the data: file name to bytes.
std::vector<std::pair<std::string, std::string>> tnefExtract(const std::string& tnef, const std::string& data);

}  // namespace testsupport
