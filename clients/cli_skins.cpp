// Skins, web files, the web-user interface and sessions, monitoring and
// control: one line per command, in the forms of cli_command.h.
#include "clients/cli.h"

#include "clients/internal/cli_command.h"
#include "runtime/escape.h"

namespace cgp {

using namespace cmd;

std::string CLI::getCurrentController() { return textQuery("GetCurrentController", {}); }

DataSet CLI::getWebFile(const std::string& account, const std::string& file) {
    return dataQuery("GetWebFile", {P(account), "FILE", Q(file)});
}

DataSet CLI::getWebFile(const std::string& account, const std::string& file, unsigned long offset,
                        unsigned long size) {
    return dataQuery("GetWebFile", {P(account), "FILE", Q(file), "OFFSET", N(offset), "SIZE", N(size)});
}

void CLI::putWebFile(const std::string& account, const std::string& file, const std::string& data) {
    command("PutWebFile", {P(account), "FILE", Q(file), "DATA", Tail(data)});
}

void CLI::putWebFile(const std::string& account, const std::string& file, const std::string& data,
                     unsigned long offset) {
    command("PutWebFile", {P(account), "FILE", Q(file), "OFFSET", N(offset), "DATA", Tail(data)});
}

void CLI::writeLog(int level, const std::string& text) {
    checkArgument(text);
    // Escaped once here and once more as a data-set string: the server
    // unescapes twice. The first escaping would drop a CR unseen by S.
    if (!qdl::cgpEscapeKeeps(text)) refuse();
    command("WriteLog", {N(level), S(qdl::cgpEscape(text)).unchecked()});
}

// ---- skins ----
// Skin data goes between the quotes as it is: Q refuses what would end them
// or the line, so the caller's encoding reaches the server unchanged.

void CLI::createClusterSkin(const std::string& skin) { command("CreateClusterSkin", {Q(skin)}); }
void CLI::createServerSkin(const std::string& skin) { command("CreateServerSkin", {Q(skin)}); }
void CLI::createDomainSkin(const std::string& domain, const std::string& skin) {
    command("CreateDomainSkin", {opt(P(domain), "SKIN"), Q(skin)});
}

void CLI::renameClusterSkin(const std::string& skin, const std::string& newSkin) {
    command("RenameClusterSkin", {Q(skin), "INTO", Q(newSkin)});
}
void CLI::renameServerSkin(const std::string& skin, const std::string& newSkin) {
    command("RenameServerSkin", {Q(skin), "INTO", Q(newSkin)});
}
void CLI::renameDomainSkin(const std::string& domain, const std::string& skin, const std::string& newSkin) {
    command("RenameDomainSkin", {opt(P(domain), "SKIN"), Q(skin), "INTO", Q(newSkin)});
}

void CLI::deleteClusterSkin(const std::string& skin) { command("DeleteClusterSkin", {Q(skin)}); }
void CLI::deleteServerSkin(const std::string& skin) { command("DeleteServerSkin", {Q(skin)}); }
void CLI::deleteDomainSkin(const std::string& domain, const std::string& skin) {
    command("DeleteDomainSkin", {opt(P(domain), "SKIN"), Q(skin)});
}

DataSet CLI::listClusterSkins() { return dataQuery("ListClusterSkins", {}); }
DataSet CLI::listServerSkins() { return dataQuery("ListServerSkins", {}); }
DataSet CLI::listDomainSkins(const std::string& domain) { return dataQuery("ListDomainSkins", {opt(P(domain))}); }

DataSet CLI::listClusterSkinFiles(const std::string& skin) { return dataQuery("ListClusterSkinFiles", {Q(skin)}); }
DataSet CLI::listServerSkinFiles(const std::string& skin) { return dataQuery("ListServerSkinFiles", {Q(skin)}); }
DataSet CLI::listDomainSkinFiles(const std::string& domain, const std::string& skin) {
    return dataQuery("ListDomainSkinFiles", {opt(P(domain), "SKIN"), Q(skin)});
}

DataSet CLI::readClusterSkinFile(const std::string& skin, const std::string& file) {
    return dataQuery("ReadClusterSkinFile", {Q(skin), "FILE", Q(file)});
}
DataSet CLI::readServerSkinFile(const std::string& skin, const std::string& file) {
    return dataQuery("ReadServerSkinFile", {Q(skin), "FILE", Q(file)});
}
DataSet CLI::readDomainSkinFile(const std::string& domain, const std::string& skin, const std::string& file) {
    return dataQuery("ReadDomainSkinFile", {opt(P(domain), "SKIN"), Q(skin), "FILE", Q(file)});
}

void CLI::storeClusterSkinFile(const std::string& skin, const std::string& file, const std::string& data) {
    command("StoreClusterSkinFile", {Q(skin), "FILE", Q(file), "DATA", Q(data)});
}
void CLI::storeServerSkinFile(const std::string& skin, const std::string& file, const std::string& data) {
    command("StoreServerSkinFile", {Q(skin), "FILE", Q(file), "DATA", Q(data)});
}
void CLI::storeDomainSkinFile(const std::string& domain, const std::string& skin, const std::string& file,
                              const std::string& data) {
    command("StoreDomainSkinFile", {opt(P(domain), "SKIN"), Q(skin), "FILE", Q(file), "DATA", Q(data)});
}

void CLI::deleteClusterSkinFile(const std::string& skin, const std::string& file) {
    command("StoreClusterSkinFile", {Q(skin), "FILE", Q(file), "DELETE"});
}
void CLI::deleteServerSkinFile(const std::string& skin, const std::string& file) {
    command("StoreServerSkinFile", {Q(skin), "FILE", Q(file), "DELETE"});
}
void CLI::deleteDomainSkinFile(const std::string& domain, const std::string& skin, const std::string& file) {
    command("StoreDomainSkinFile", {opt(P(domain), "SKIN"), Q(skin), "FILE", Q(file), "DELETE"});
}

// ---- web files ----

DataSet CLI::getWebFilesInfo(const std::string& account) { return dataQuery("GetWebFilesInfo", {P(account)}); }
DataSet CLI::listWebFiles(const std::string& account, const std::string& path) {
    return dataQuery("ListWebFiles", {P(account), opt("PATH", Q(path))});
}
void CLI::renameWebFile(const std::string& account, const std::string& file, const std::string& newFile) {
    command("RenameWebFile", {P(account), "FILE", Q(file), "INTO", Q(newFile)});
}
void CLI::deleteWebFile(const std::string& account, const std::string& file) {
    command("DeleteWebFile", {P(account), "FILE", Q(file)});
}

// ---- web-user interface, sessions and cache ----

DataSet CLI::listWebUserInterface(const std::string& target, const std::string& file) {
    return dataQuery("ListWebUserInterface", {P(target), opt("FILE", Q(file))});
}
std::string CLI::getWebUserInterface(const std::string& target, const std::string& file) {
    return textQuery("GetWebUserInterface", {P(target), "FILE", Q(file)});
}
// The data ends the line, so a space in it shifts nothing.
void CLI::putWebUserInterface(const std::string& target, const std::string& file, const std::string& data) {
    command("PutWebUserInterface", {P(target), "FILE", Q(file), "DATA", Tail(data)});
}
void CLI::deleteWebUserInterface(const std::string& target, const std::string& file) {
    command("DeleteWebUserInterface", {P(target), "FILE", Q(file)});
}
void CLI::clearWebUserCache(const std::string& target) { command("ClearWebUserCache", {P(target)}); }

std::string CLI::createWebUserSession(const std::string& account, const std::string& address, const std::string& skin) {
    return textQuery("CreateWebUserSession", {P(account), "ADDRESS", P(address), opt("SKIN", Q(skin))});
}
DataSet CLI::getWebUserSession(const std::string& sessionID) { return dataQuery("GetWebUserSession", {P(sessionID)}); }
void CLI::killWebUserSession(const std::string& sessionID) { command("KillWebUserSession", {P(sessionID)}); }

// ---- monitoring and control ----

std::string CLI::getSNMPElement(const std::string& element) { return textQuery("GetSNMPElement", {P(element)}); }
void CLI::releaseSMTPQueue(const std::string& domain) { command("ReleaseSMTPQueue", {P(domain)}); }
void CLI::rejectQueueMessage(const std::string& message, const std::string& text) {
    command("RejectQueueMessage", {P(message), opt(S(text))});
}
DataSet CLI::route(const std::string& address, bool mail) {
    return dataQuery("Route", {P(address), flag("mail", mail)});
}
void CLI::refreshOSData() { command("RefreshOSData", {}); }
void CLI::shutdown() { command("Shutdown", {}); }

}  // namespace cgp
