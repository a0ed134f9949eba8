#include "runtime/exception.h"

namespace qdl {

Exception::~Exception() = default;
FileNotFoundException::~FileNotFoundException() = default;
ArgumentListTooLongException::~ArgumentListTooLongException() = default;
FileNotExecutableException::~FileNotExecutableException() = default;

}  // namespace qdl
