#pragma once
// The server's text form of data sets: the writer (Level, ChangeLine) and
// quoteString. The reader is DataSet::parse and DataSet::loadFromFile,
// through the shared parser. Writing takes no lock of its own: the value
// must not change on another thread while it is written.
//
// What the writer writes, its reader reads back equal (but for CR bytes,
// which strings cannot hold): an empty value inside an array or dictionary
// is written as an empty string, an empty key as two double quotes.
#include <ostream>
#include <string>

#include "runtime/stream.h"
#include "serverdata/dataset.h"

// One value at a nesting level: compact on one line, or in the multi-line
// form where every array and dictionary opens on a line of its own.
class Level : public qdl::ostream_func {
public:
    Level(int level, const cgp::DataSet& value, bool compact)
        : level_(level), value_(value), compact_(compact) {}
    std::ostream& operator()(std::ostream& out) const override;

private:
    int level_;
    cgp::DataSet value_;
    bool compact_;
};

// A line break and two spaces per level; nothing when compact.
class ChangeLine : public qdl::ostream_func {
public:
    ChangeLine(int level, bool compact) : level_(level), compact_(compact) {}
    std::ostream& operator()(std::ostream& out) const override;

private:
    int level_;
    bool compact_;
};

namespace cgp {

// The text as a string token: bare when it is made only of letters, digits,
// "_" and ".", else escaped between double quotes.
std::string quoteString(const std::string& text);

}  // namespace cgp
