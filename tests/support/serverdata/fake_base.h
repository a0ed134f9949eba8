#pragma once
// A server base directory in a fresh temporary folder, for the settings,
// router and page code, which read their files relative to the working
// directory. Files are written from test code; their modification times are
// set explicitly, so "changed since the last load" never depends on the
// clock's resolution.
#include <ctime>
#include <string>

#include "serverdata/dataset.h"
#include "support/core/run_program.h"

namespace testsupport {

class FakeBase {
public:
    // With enter, the working directory is the base until destruction.
    explicit FakeBase(bool enter = true);
    ~FakeBase();
    FakeBase(const FakeBase&) = delete;
    FakeBase& operator=(const FakeBase&) = delete;

    const std::string& path() const { return dir_.path(); }
    std::string operator/(const std::string& relative) const { return dir_ / relative; }

    // Writes a file (its folders made as needed) and returns its full path.
    std::string write(const std::string& relative, const std::string& text);
    // Writes a value in the data-set text form, multi-line as the server does.
    std::string write(const std::string& relative, const cgp::DataSet& value);
    // Makes a folder and those above it.
    std::string makeFolder(const std::string& relative);
    void remove(const std::string& relative);
    // Makes relative a symbolic link to target (taken as it is written).
    void link(const std::string& target, const std::string& relative);
    // Renames a file or folder inside the base.
    void move(const std::string& from, const std::string& to);
    std::string read(const std::string& relative) const;

    // Sets the file's access and modification times, to the nanosecond.
    void setTime(const std::string& relative, time_t when, long nanoseconds = 0);
    time_t modificationTime(const std::string& relative) const;
    // Moves the modification time one second past its current value.
    void touchLater(const std::string& relative);

private:
    TempDir dir_;
    std::string savedCwd_;
};

}  // namespace testsupport
