#pragma once
// File streams that take the path as a string, and the stream functor base.
#include <fstream>
#include <ostream>
#include <string>

#include "runtime/mutex.h"

namespace qdl {

class ofstream : public std::ofstream, private noncopyable {
public:
    ofstream(const std::string& path, std::ios_base::openmode mode = std::ios_base::out)
        : std::ofstream(path.c_str(), mode | std::ios_base::out) {}
};

class ifstream : public std::ifstream {
public:
    ifstream(const std::string& path, std::ios_base::openmode mode = std::ios_base::in)
        : std::ifstream(path.c_str(), mode | std::ios_base::in) {}
};

// An object that writes itself to a stream and can render itself to a string.
class ostream_func {
public:
    virtual std::ostream& operator()(std::ostream& out) const = 0;
    virtual ~ostream_func();
    virtual std::string toString() const;
};

inline std::ostream& operator<<(std::ostream& out, const ostream_func& f) { return f(out); }

}  // namespace qdl
