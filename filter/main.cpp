// The program entry: the filter object lives on the stack for the whole run.
#include <csignal>

#include "filter/parvex.h"

int main(int argc, char** argv) {
    // A child that dies early must not take the filter down with a broken pipe.
    std::signal(SIGPIPE, SIG_IGN);
    Parvex filter;
    return filter.run(argc, argv);
}
