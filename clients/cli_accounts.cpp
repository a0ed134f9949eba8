// Accounts and account-level settings: one line per command, in the forms
// of cli_command.h.
#include "clients/cli.h"

#include "clients/net_exception.h"

namespace cgp {

using namespace cmd;

void CLI::createAccount(const std::string& name, const DataSet& settings, const std::string& word, bool external) {
    command("CreateAccount", {P(name), opt(P(word)), flag("external", external), opt(D(settings))});
}

bool CLI::verifyAccountPassword(const std::string& account, const std::string& password) {
    const std::string line = buildLine("VerifyAccountPassword", {P(account), "PASSWORD", S(password)});
    try {
        execute(line);
        return true;
    } catch (const CLIException& e) {
        // Only the server's own refusal means a wrong password; a lost
        // connection after an earlier refusal is an error like any other.
        if (e.code() == 513 || e.code() == 515) return false;
        throw;
    }
}

}  // namespace cgp
