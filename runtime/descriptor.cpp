#include "runtime/descriptor.h"

#include <errno.h>
#include <unistd.h>

namespace qdl {

void Descriptor::reset(int fd) {
    if (fd_ >= 0 && fd_ != fd) ::close(fd_);
    fd_ = fd;
}

bool Descriptor::close() {
    if (fd_ < 0) return false;
    const bool ok = ::close(fd_) == 0 || errno == EINTR;
    fd_ = -1;
    return ok;
}

}  // namespace qdl
