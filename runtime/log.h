#pragma once
// Log lines and output lines: everything the system writes to standard
// output goes through these, so no two writers' lines are ever mixed.
#include <cstdint>
#include <ostream>
#include <sstream>
#include <string>

#include "runtime/mutex.h"

namespace qdl {

// An output stream writing into a string buffer of its own.
class ostream_base : public std::ostream {
public:
    ostream_base() : std::ostream(nullptr) { rdbuf(&buffer_); }
    ~ostream_base() override;
    std::string text() const { return buffer_.str(); }

private:
    std::stringbuf buffer_;
};

// One line of protocol output, written whole under the output lock and
// flushed when the object dies.
class outline : public ostream_base {
public:
    outline() = default;
    ~outline() override;
};

// One log message, printed as "* " lines when the object dies. Messages with
// a category are checked for repeats.
class logline : public ostream_base {
public:
    logline() = default;
    explicit logline(unsigned id) : id_(id) {}
    explicit logline(const std::string& category) : category_(category) {}
    logline(unsigned id, const std::string& category) : category_(category), id_(id) {}
    ~logline() override;

private:
    std::string category_;
    std::uint32_t id_ = 0;
};

// The lock that guards writes to standard output; callers that write
// several lines at once may hold it around them.
Mutex& outputLock();

// Writes a text to standard output in one write and flushes, under the
// output lock; the text is written exactly as given.
void writeOutput(const std::string& text);

// Writes one whole line (the text and a line feed), flushed: the filter's
// own progress lines, which stand outside the log-line format.
void printLine(const std::string& line);

}  // namespace qdl
