#include "runtime/stream.h"

#include <sstream>

namespace qdl {

ostream_func::~ostream_func() = default;

std::string ostream_func::toString() const {
    std::ostringstream out;
    (*this)(out);
    return out.str();
}

}  // namespace qdl
