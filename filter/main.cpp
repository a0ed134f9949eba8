// The program entry: the protocol loop on standard input and output.
#include "filter/helper.h"

namespace {

// Stands in for the filter until it accepts FILE requests.
class NoCommands : public cgp::Helper {
public:
    NoCommands() : cgp::Helper(false, "REJECTED") {}
    void processRequest(int, const std::string&, const std::string&) override {}
    bool acceptsCommand(const std::string&) override { return false; }
};

}  // namespace

int main() {
    NoCommands filter;
    filter.run();
    return 0;
}
