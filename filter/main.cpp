// The program entry: the filter object lives on the stack for the whole run.
#include <malloc.h>

#include <csignal>

#include "filter/parvex.h"

int main(int argc, char** argv) {
    // A child that dies early must not take the filter down with a broken pipe.
    std::signal(SIGPIPE, SIG_IGN);
    // Past a file-size limit a write must fail with EFBIG, so that the
    // message is delivered unchanged, instead of the signal ending the filter
    // mid-request. The children inherit this, and fail their writes as well.
    std::signal(SIGXFSZ, SIG_IGN);
#ifdef M_TRIM_THRESHOLD
    // Each message takes and gives back a few blocks of 64 KiB. Trimmed
    // away after every message, their pages would be faulted in and zeroed
    // again for the next one; kept, they are simply reused.
    mallopt(M_TRIM_THRESHOLD, 4 * 1024 * 1024);
#endif
    Parvex filter;
    return filter.run(argc, argv);
}
