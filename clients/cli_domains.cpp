// Domains and directory: one line per command, in the forms of
// cli_command.h.
#include "clients/cli.h"

namespace cgp {

using namespace cmd;

}  // namespace cgp
