// Server and cluster settings, rules and alerts: one line per command, in
// the forms of cli_command.h.
#include "clients/cli.h"

namespace cgp {

using namespace cmd;

bool CLI::isCluster() {
    sendLine("GetClusterDomainDefaults");
    readResponse(false);
    return lastCode_ == 200 || lastCode_ == 201;
}

void CLI::setAccountRules(const std::string& account, const DataSet& rules) {
    // Unlike the other rule setters, an empty list is allowed: it removes
    // the account's rules.
    if (rules.isNull() || rules->getType() != DataSet::kArray) refuse();
    command("SetAccountRules", {P(account), D(rules)});
}

}  // namespace cgp
