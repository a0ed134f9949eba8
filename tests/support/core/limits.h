#pragma once
// Lowers one resource limit of this process for the life of the object, to
// make writes or opens fail the way a full disk or a busy system would.
#include <sys/resource.h>

#include <csignal>

namespace testsupport {

class ResourceLimit {
public:
    ResourceLimit(int resource, rlim_t soft) : resource_(resource) {
        ::getrlimit(resource_, &saved_);
        rlimit tight = saved_;
        tight.rlim_cur = soft;
        // A write past the file-size limit must fail, not kill the test.
        if (resource_ == RLIMIT_FSIZE) {
            struct sigaction ignore = {};
            ignore.sa_handler = SIG_IGN;
            ::sigaction(SIGXFSZ, &ignore, &oldAction_);
        }
        ok_ = ::setrlimit(resource_, &tight) == 0;
    }
    ~ResourceLimit() {
        ::setrlimit(resource_, &saved_);
        if (resource_ == RLIMIT_FSIZE) ::sigaction(SIGXFSZ, &oldAction_, nullptr);
    }
    ResourceLimit(const ResourceLimit&) = delete;
    ResourceLimit& operator=(const ResourceLimit&) = delete;
    bool ok() const { return ok_; }

private:
    int resource_;
    rlimit saved_{};
    struct sigaction oldAction_ = {};
    bool ok_ = false;
};

}  // namespace testsupport
