// Server and cluster settings, rules and alerts: one line per command, in
// the forms of cli_command.h.
#include "clients/cli.h"

#include "clients/internal/cli_command.h"

namespace cgp {

using namespace cmd;

bool CLI::isCluster() {
    sendLine("GetClusterDomainDefaults");
    readResponse(false);
    return lastCode_ == 200 || lastCode_ == 201;
}

// ---- modules ----

DataSet CLI::getModule(const std::string& m) { return dataQuery("GetModule", {P(m)}); }
void CLI::setModule(const std::string& m, const DataSet& s) { command("SetModule", {P(m), Dict(s)}); }
void CLI::updateModule(const std::string& m, const DataSet& s) { command("UpdateModule", {P(m), Dict(s)}); }

// ---- the router ----

DataSet CLI::getRouterSettings() { return dataQuery("GetRouterSettings", {}); }
void CLI::setRouterSettings(const DataSet& s) { command("SetRouterSettings", {Dict(s)}); }
std::string CLI::getRouterTable() { return textQuery("GetRouterTable", {}); }
void CLI::setRouterTable(const std::string& t) { command("SetRouterTable", {S(t)}); }
std::string CLI::getClusterRouterTable() { return textQuery("GetClusterRouterTable", {}); }
void CLI::setClusterRouterTable(const std::string& t) { command("SetClusterRouterTable", {S(t)}); }

// ---- protection, banned, intercept ----

DataSet CLI::getProtection() { return dataQuery("GetProtection", {}); }
void CLI::setProtection(const DataSet& s) { command("SetProtection", {Dict(s)}); }
DataSet CLI::getClusterProtection() { return dataQuery("GetClusterProtection", {}); }
void CLI::setClusterProtection(const DataSet& s) { command("SetClusterProtection", {Dict(s)}); }
DataSet CLI::getBanned() { return dataQuery("GetBanned", {}); }
void CLI::setBanned(const DataSet& s) { command("SetBanned", {Dict(s)}); }
DataSet CLI::getClusterBanned() { return dataQuery("GetClusterBanned", {}); }
DataSet CLI::getServerIntercept() { return dataQuery("GetServerIntercept", {}); }
void CLI::setServerIntercept(const DataSet& s) { command("SetServerIntercept", {Dict(s)}); }
DataSet CLI::getClusterIntercept() { return dataQuery("GetClusterIntercept", {}); }
void CLI::setClusterIntercept(const DataSet& s) { command("SetClusterIntercept", {Dict(s)}); }

// ---- IP-address lists ----

std::string CLI::getLANIPs() { return textQuery("GetLANIPs", {}); }
void CLI::setLANIPs(const std::string& a) { command("SetLANIPs", {Q(a)}); }
std::string CLI::getClusterLANIPs() { return textQuery("GetClusterLANIPs", {}); }
void CLI::setClusterLANIPs(const std::string& a) { command("SetClusterLANIPs", {Q(a)}); }
std::string CLI::getClientIPs() { return textQuery("GetClientIPs", {}); }
void CLI::setClientIPs(const std::string& a) { command("SetClientIPs", {Q(a)}); }
std::string CLI::getClusterClientIPs() { return textQuery("GetClusterClientIPs", {}); }
void CLI::setClusterClientIPs(const std::string& a) { command("SetClusterClientIPs", {Q(a)}); }
std::string CLI::getBlacklistedIPs() { return textQuery("GetBlacklistedIPs", {}); }
void CLI::setBlacklistedIPs(const std::string& a) { command("SetBlacklistedIPs", {Q(a)}); }
std::string CLI::getClusterBlacklistedIPs() { return textQuery("GetClusterBlacklistedIPs", {}); }
void CLI::setClusterBlacklistedIPs(const std::string& a) { command("SetClusterBlacklistedIPs", {Q(a)}); }
std::string CLI::getWhiteHoleIPs() { return textQuery("GetWhiteHoleIPs", {}); }
void CLI::setWhiteHoleIPs(const std::string& a) { command("SetWhiteHoleIPs", {Q(a)}); }
std::string CLI::getClusterWhiteHoleIPs() { return textQuery("GetClusterWhiteHoleIPs", {}); }
void CLI::setClusterWhiteHoleIPs(const std::string& a) { command("SetClusterWhiteHoleIPs", {Q(a)}); }
std::string CLI::getTempClientIPs() { return textQuery("GetTempClientIPs", {}); }

// ---- the cluster's domain defaults ----

DataSet CLI::getClusterDomainDefaults() { return dataQuery("GetClusterDomainDefaults", {}); }
void CLI::setClusterDomainDefaults(const DataSet& s) { command("SetClusterDomainDefaults", {Dict(s)}); }
void CLI::updateClusterDomainDefaults(const DataSet& s) { command("UpdateClusterDomainDefaults", {Dict(s)}); }

// ---- rules ----

DataSet CLI::getServerRules() { return dataQuery("GetServerRules", {}); }
void CLI::setServerRules(const DataSet& r) { command("SetServerRules", {Array(r)}); }
DataSet CLI::getClusterRules() { return dataQuery("GetClusterRules", {}); }
void CLI::setClusterRules(const DataSet& r) { command("SetClusterRules", {Array(r)}); }
DataSet CLI::getDomainRules(const std::string& d) { return dataQuery("GetDomainRules", {P(d)}); }
void CLI::setDomainRules(const std::string& d, const DataSet& r) { command("SetDomainRules", {P(d), Array(r)}); }
DataSet CLI::getAccountRules(const std::string& a) { return dataQuery("GetAccountRules", {P(a)}); }

void CLI::setAccountRules(const std::string& account, const DataSet& rules) {
    // Unlike the other rule setters, an empty list is allowed: it removes
    // the account's rules.
    if (rules.isNull() || rules->getType() != DataSet::kArray) refuse();
    command("SetAccountRules", {P(account), D(rules)});
}

// ---- alerts ----

DataSet CLI::getServerAlerts() { return dataQuery("GetServerAlerts", {}); }
void CLI::setServerAlerts(const DataSet& s) { command("SetServerAlerts", {Dict(s)}); }
void CLI::postServerAlert(const std::string& t) { command("PostServerAlert", {S(t)}); }
void CLI::removeServerAlert(const std::string& t) { command("RemoveServerAlert", {P(t)}); }
DataSet CLI::getClusterAlerts() { return dataQuery("GetClusterAlerts", {}); }
void CLI::setClusterAlerts(const DataSet& s) { command("SetClusterAlerts", {Dict(s)}); }
void CLI::postClusterAlert(const std::string& t) { command("PostClusterAlert", {S(t)}); }
void CLI::removeClusterAlert(const std::string& t) { command("RemoveClusterAlert", {P(t)}); }
DataSet CLI::getDomainAlerts(const std::string& d) { return dataQuery("GetDomainAlerts", {opt(P(d))}); }
void CLI::setDomainAlerts(const std::string& d, const DataSet& s) { command("SetDomainAlerts", {opt(P(d)), Dict(s)}); }
void CLI::postDomainAlert(const std::string& d, const std::string& t) {
    command("PostDomainAlert", {P(d), "ALERT", S(t)});
}
void CLI::removeDomainAlert(const std::string& d, const std::string& t) {
    command("RemoveDomainAlert", {P(d), "ALERT", P(t)});
}
DataSet CLI::getAccountAlerts(const std::string& a) { return dataQuery("GetAccountAlerts", {P(a)}); }
void CLI::setAccountAlerts(const std::string& a, const DataSet& s) { command("SetAccountAlerts", {P(a), Dict(s)}); }
void CLI::postAccountAlert(const std::string& a, const std::string& t) {
    command("PostAccountAlert", {P(a), "ALERT", S(t)});
}
void CLI::removeAccountAlert(const std::string& a, const std::string& t) {
    command("RemoveAccountAlert", {P(a), "ALERT", P(t)});
}

}  // namespace cgp
