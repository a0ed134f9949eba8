#include "support/core/capture.h"

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <unistd.h>

namespace testsupport {

StdoutCapture::StdoutCapture() {
    std::cout.flush();
    std::fflush(stdout);
    char name[] = "/tmp/parvex-capture-XXXXXX";
    file_ = ::mkstemp(name);
    ::unlink(name);
    saved_ = ::dup(1);
    ::dup2(file_, 1);
}

std::string StdoutCapture::text() {
    if (!done_) {
        done_ = true;
        std::cout.flush();
        std::fflush(stdout);
        ::dup2(saved_, 1);
        ::close(saved_);
        ::lseek(file_, 0, SEEK_SET);
        char buf[4096];
        ssize_t n;
        while ((n = ::read(file_, buf, sizeof buf)) > 0) text_.append(buf, static_cast<size_t>(n));
        ::close(file_);
    }
    return text_;
}

StdoutCapture::~StdoutCapture() { text(); }

}  // namespace testsupport
