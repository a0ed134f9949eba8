// Domains and directory: one line per command, in the forms of
// cli_command.h.
#include "clients/cli.h"

#include "clients/internal/cli_command.h"

namespace cgp {

using namespace cmd;

// ---- domains ----

void CLI::createDomain(const std::string& domain, const DataSet& settings) {
    command("CreateDomain", {P(domain), opt(D(settings))});
}

void CLI::createSharedDomain(const std::string& domain, const DataSet& settings) {
    command("CreateSharedDomain", {P(domain), opt(D(settings))});
}

void CLI::createDirectoryDomain(const std::string& domain, const DataSet& settings) {
    command("CreateDirectoryDomain", {P(domain), opt(D(settings))});
}

void CLI::deleteDomain(const std::string& domain, bool force) {
    command("DeleteDomain", {P(domain), flag("force", force)});
}

void CLI::renameDomain(const std::string& domain, const std::string& newName) {
    command("RenameDomain", {P(domain), "into", P(newName)});
}

DataSet CLI::listDomains() { return dataQuery("ListDomains", {}); }

DataSet CLI::listAdminDomains(const std::string& account) { return dataQuery("ListAdminDomains", {opt(P(account))}); }

std::string CLI::getDomainLocation(const std::string& domain) { return textQuery("GetDomainLocation", {P(domain)}); }

std::string CLI::mainDomainName() { return textQuery("MainDomainName", {}); }

// ---- settings, defaults, aliases and statistics ----

DataSet CLI::getDomainSettings(const std::string& domain) { return dataQuery("getDomainSettings", {opt(P(domain))}); }

DataSet CLI::getDomainEffectiveSettings(const std::string& domain) {
    return dataQuery("getDomainEffectiveSettings", {opt(P(domain))});
}

void CLI::updateDomainSettings(const std::string& domain, const DataSet& settings) {
    command("UpdateDomainSettings", {opt(P(domain)), Dict(settings)});
}

void CLI::setDomainSettings(const std::string& domain, const DataSet& settings) {
    command("SetDomainSettings", {opt(P(domain)), Dict(settings)});
}

DataSet CLI::readDomainSettings(const std::string& domain) { return getDomainSettings(domain); }

void CLI::mergeDomainSettings(const std::string& domain, const DataSet& settings) {
    updateDomainSettings(domain, settings);
}

void CLI::replaceDomainSettings(const std::string& domain, const DataSet& settings) {
    setDomainSettings(domain, settings);
}

DataSet CLI::getDomainDefaults() { return dataQuery("GetDomainDefaults", {}); }

void CLI::updateDomainDefaults(const DataSet& settings) { command("UpdateDomainDefaults", {Dict(settings)}); }

void CLI::setDomainDefaults(const DataSet& settings) { command("SetDomainDefaults", {Dict(settings)}); }

DataSet CLI::getDomainAliases(const std::string& domain) { return dataQuery("GetDomainAliases", {opt(P(domain))}); }

void CLI::setDomainAliases(const std::string& domain, const DataSet& aliases) {
    command("SetDomainAliases", {opt(P(domain)), Array(aliases)});
}

DataSet CLI::getDomainStat(const std::string& domain) { return dataQuery("GetDomainStat", {P(domain)}); }

void CLI::resetDomainStat(const std::string& domain) { command("ResetDomainStat", {P(domain)}); }

// ---- directory ----

DataSet CLI::getDirectoryIntegration() { return dataQuery("GetDirectoryIntegration", {}); }

void CLI::setDirectoryIntegration(const DataSet& settings) { command("SetDirectoryIntegration", {Dict(settings)}); }

DataSet CLI::getClusterDirectoryIntegration() { return dataQuery("GetClusterDirectoryIntegration", {}); }

void CLI::setClusterDirectoryIntegration(const DataSet& settings) {
    command("SetClusterDirectoryIntegration", {Dict(settings)});
}

void CLI::reloadDirectoryDomains() { command("ReloadDirectoryDomains", {}); }

void CLI::insertDirectoryRecords(const std::string& domain) { command("insertDirectoryRecords", {opt(P(domain))}); }

void CLI::deleteDirectoryRecords(const std::string& domain) { command("deleteDirectoryRecords", {opt(P(domain))}); }

}  // namespace cgp
