// Accounts and account-level settings: one line per command, in the forms
// of cli_command.h.
#include "clients/cli.h"

#include "clients/internal/cli_command.h"
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

void CLI::deleteAccount(const std::string& a) { command("DeleteAccount", {P(a)}); }
void CLI::renameAccount(const std::string& a, const std::string& n) { command("RenameAccount", {P(a), "into", P(n)}); }
DataSet CLI::listAccounts(const std::string& d) { return dataQuery("ListAccounts", {opt(P(d))}); }
DataSet CLI::getAccountSettings(const std::string& a) { return dataQuery("GetAccountSettings", {P(a)}); }
DataSet CLI::getAccountEffectiveSettings(const std::string& a) { return dataQuery("getAccountEffectiveSettings", {P(a)}); }
void CLI::updateAccountSettings(const std::string& a, const DataSet& s) { command("UpdateAccountSettings", {P(a), Dict(s)}); }
void CLI::setAccountSettings(const std::string& a, const DataSet& s) { command("SetAccountSettings", {P(a), Dict(s)}); }
DataSet CLI::getAccountInfo(const std::string& a, const std::string& k) { return dataQuery("GetAccountInfo", {P(a), "Key", P(k)}); }
std::string CLI::getAccountLocation(const std::string& a) { return textQuery("GetAccountLocation", {P(a)}); }
void CLI::setAccountPassword(const std::string& a, const std::string& p) { command("SetAccountPassword", {P(a), "TO", S(p)}); }
DataSet CLI::getAccountAliases(const std::string& a) { return dataQuery("GetAccountAliases", {P(a)}); }
void CLI::setAccountAliases(const std::string& a, const DataSet& v) { command("SetAccountAliases", {P(a), Array(v)}); }
DataSet CLI::getAccountRights(const std::string& a) { return dataQuery("GetAccountRights", {P(a)}); }
void CLI::setAccountRights(const std::string& a, const DataSet& v) { command("SetAccountRights", {P(a), Array(v)}); }
DataSet CLI::getAccountRPOP(const std::string& a) { return dataQuery("GetAccountRPOP", {P(a)}); }
void CLI::setAccountRPOP(const std::string& a, const DataSet& v) { command("SetAccountRPOP", {P(a), Array(v)}); }
DataSet CLI::getAccountStat(const std::string& a) { return dataQuery("GetAccountStat", {P(a)}); }
void CLI::resetAccountStat(const std::string& a) { command("ResetAccountStat", {P(a)}); }
void CLI::removeAccountSubset(const std::string& a, const std::string& s) { command("RemoveAccountSubset", {P(a), "SUBSET", S(s)}); }

DataSet CLI::getAccountDefaults(const std::string& d) { return dataQuery("GetAccountDefaults", {opt(P(d))}); }
void CLI::setAccountDefaults(const std::string& d, const DataSet& s) { command("SetAccountDefaults", {opt(P(d)), Dict(s)}); }
void CLI::updateAccountDefaults(const std::string& d, const DataSet& s) { command("UpdateAccountDefaults", {opt(P(d)), Dict(s)}); }
DataSet CLI::getAccountTemplate(const std::string& d) { return dataQuery("GetAccountTemplate", {opt(P(d))}); }
void CLI::setAccountTemplate(const std::string& d, const DataSet& s) { command("SetAccountTemplate", {opt(P(d)), Dict(s)}); }
void CLI::updateAccountTemplate(const std::string& d, const DataSet& s) { command("UpdateAccountTemplate", {opt(P(d)), Dict(s)}); }
DataSet CLI::getAllAccountsDefaults() { return dataQuery("GetAllAccountsDefaults", {}); }
void CLI::setAllAccountsDefaults(const DataSet& s) { command("SetAllAccountsDefaults", {Dict(s)}); }
void CLI::updateAllAccountsDefaults(const DataSet& s) { command("UpdateAllAccountsDefaults", {Dict(s)}); }
DataSet CLI::getClusterAccountDefaults() { return dataQuery("GetClusterAccountDefaults", {}); }
void CLI::setClusterAccountDefaults(const DataSet& s) { command("SetClusterAccountDefaults", {Dict(s)}); }
void CLI::updateClusterAccountDefaults(const DataSet& s) { command("UpdateClusterAccountDefaults", {Dict(s)}); }

DataSet CLI::getWebUser(const std::string& a) { return dataQuery("GetWebUser", {P(a)}); }
DataSet CLI::getEffectiveWebUser(const std::string& a) { return dataQuery("GetEffectiveWebUser", {P(a)}); }
void CLI::setWebUser(const std::string& a, const DataSet& s) { command("SetWebUser", {P(a), Dict(s)}); }
DataSet CLI::getWebUserDefaults(const std::string& d) { return dataQuery("GetWebUserDefaults", {opt(P(d))}); }
void CLI::setWebUserDefaults(const std::string& d, const DataSet& s) { command("SetWebUserDefaults", {opt(P(d)), Dict(s)}); }
DataSet CLI::getServerWebUserDefaults() { return dataQuery("GetServerWebUserDefaults", {}); }
void CLI::setServerWebUserDefaults(const DataSet& s) { command("SetServerWebUserDefaults", {Dict(s)}); }
DataSet CLI::getClusterWebUserDefaults() { return dataQuery("GetClusterWebUserDefaults", {}); }
void CLI::setClusterWebUserDefaults(const DataSet& s) { command("SetClusterWebUserDefaults", {Dict(s)}); }

// The second entry points of the settings operations.
DataSet CLI::readAccountSettings(const std::string& account) { return getAccountSettings(account); }
void CLI::mergeAccountSettings(const std::string& account, const DataSet& settings) { updateAccountSettings(account, settings); }
void CLI::replaceAccountSettings(const std::string& account, const DataSet& settings) { setAccountSettings(account, settings); }

}  // namespace cgp
