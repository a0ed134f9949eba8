#pragma once
// A client of the server's CLI administration protocol over TCP: connect,
// log in, switch to inline answers, then one command line at a time, each
// answered by one numeric response line before the next is sent.
//
// Failures throw from the family in net_exception.h: an error answer is a
// cgp::CLIException with the server's text and code, an argument that is
// missing, could break the line or would not reach the server unchanged is
// a qdl::ProtocolException "invalid or missing argument" before anything is
// sent. The session survives error answers. Every response line, and every
// data line after one, must arrive whole within timeout() milliseconds from
// when the client starts to wait for it. One client belongs to one thread
// at a time.
//
// The operations for the server's commands are grouped as the command
// tables are: one section below and one source file per table.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "clients/line_buffer.h"
#include "clients/sock.h"
#include "runtime/deadline.h"
#include "serverdata/dataset.h"

namespace cgp {

namespace cmd {
class Piece;  // one piece of a command line (internal/cli_command.h)
}

// Where and how the default connection logs in. Plain process-wide values,
// read without a lock: an embedding program sets them before use.
extern bool cliEnabled;              // true
extern std::string defaultHost;      // "127.0.0.1"
extern uint16_t defaultPort;         // 106
extern std::string defaultUser;      // empty
extern std::string defaultPassword;  // empty
extern int defaultLoginMethod;       // CLI::kAPOPLogin

class CLI {
public:
    // Login methods.
    static constexpr int kPlainLogin = 0;    // "user", then "pass" after 300
    static constexpr int kAPOPLogin = 1;     // the APOP line of the greeting's stamp
    static constexpr int kWebUserLogin = 2;  // "AUTH WEBUSER user password"

    // Connects and logs in; a failure closes the socket and throws.
    CLI(const std::string& host, uint16_t port, const std::string& user, const std::string& password, int method,
        uint32_t timeoutMs = qdl::sock::kDefaultTimeoutMs);
    // The same with the default settings above.
    CLI();
    // Quits; never throws, and gives the server at most 5 s (or the
    // time-out, when shorter) for the whole Quit exchange.
    ~CLI();
    CLI(const CLI&) = delete;
    CLI& operator=(const CLI&) = delete;

    // ---- connection, login and responses ----

    // Dotted IPv4 text only: no name is resolved.
    void connect(const std::string& host, uint16_t port);
    // Reads the greeting, logs in, asks for inline answers. A refusal
    // closes the connection and throws qdl::InvalidLoginException
    // "Invalid username or password" (with the server's text in brackets)
    // carrying the server's code. A user name holding a space or a tab, or
    // a user or password holding CR, LF or NUL, is refused before anything
    // is read.
    void login(const std::string& user, const std::string& password, int method);
    // Sends "Quit" and reads the answer when connected, then closes; bounded
    // in time as the destructor is.
    void disconnect();

    // The line and CR LF. A line holding CR, LF or NUL is refused (a
    // qdl::ProtocolException "invalid or missing argument"), nothing sent.
    void sendLine(const std::string& line);
    // The next response line, ended by CR LF whatever end it came with.
    // What arrived after it stays for the next read.
    std::string readLine();
    // Reads one response into lastCode, lastMessage and inlineData. A line
    // starting with a space is a qdl::InvalidServerResponseException, a code
    // missing or outside 100 to 999 a qdl::ProtocolException (lastCode 0
    // after both); with throwOnError, an answer other than 200 and 201 is a
    // cgp::CLIException.
    void readResponse(bool throwOnError);
    void execute(const std::string& line);
    // The data of the last answer: inline for 201, else the next line.
    std::string responseData();
    static DataSet parseData(const std::string& text);

    static void checkArgument(const std::string& text);
    // kind: DataSet::kString, kArray or kDictionary; the value must be of
    // that kind and hold something.
    static void checkArgument(const DataSet& value, int kind);
    static std::string formatArgument(const DataSet& value);  // compact data-set text
    static std::string formatArgument(const std::string& text);  // as a data-set string
    // Whether the text is empty or holds a byte other than letters, digits
    // and "_@.-".
    static bool needsQuoting(const std::string& text);
    // Inside a handler: the exception being handled as a text for a user.
    // Exceptions outside the socket family are rethrown.
    static std::string describeException();

    uint16_t lastCode() const { return lastCode_; }
    const std::string& lastMessage() const { return lastMessage_; }
    const std::string& inlineData() const { return inlineData_; }
    bool isConnected() const { return connection_.isOpen(); }
    uint32_t timeout() const { return connection_.timeout(); }
    void setTimeout(uint32_t milliseconds) { connection_.setTimeout(milliseconds); }

    // ---- any command ----

    // Sends the line as it is and reads the answer. A line holding CR, LF
    // or NUL is refused: it would run as two commands.
    void sendCommand(const std::string& line);
    // The data of the last answer as a data set, e.g. after sendCommand.
    DataSet getResponseDataSet();

    // ==== accounts and account-level settings: cli_accounts.cpp ====

    void createAccount(const std::string& name, const DataSet& settings, const std::string& word, bool external);
    // False when the server refuses the password (513, 515).
    bool verifyAccountPassword(const std::string& account, const std::string& password);
    void deleteAccount(const std::string& account);
    void renameAccount(const std::string& account, const std::string& newName);
    DataSet listAccounts(const std::string& domain);  // an empty domain is left out
    DataSet getAccountSettings(const std::string& account);
    DataSet getAccountEffectiveSettings(const std::string& account);
    // Update changes the keys given and keeps the others; set replaces the
    // whole dictionary.
    void updateAccountSettings(const std::string& account, const DataSet& settings);
    void setAccountSettings(const std::string& account, const DataSet& settings);
    // The same three under names of their own.
    DataSet readAccountSettings(const std::string& account);
    void mergeAccountSettings(const std::string& account, const DataSet& settings);
    void replaceAccountSettings(const std::string& account, const DataSet& settings);
    DataSet getAccountInfo(const std::string& account, const std::string& key);
    std::string getAccountLocation(const std::string& account);
    // The password goes out as a data-set string, so it may hold spaces
    // and line feeds, but not CR, which the escaping would drop.
    void setAccountPassword(const std::string& account, const std::string& password);
    DataSet getAccountAliases(const std::string& account);
    void setAccountAliases(const std::string& account, const DataSet& aliases);
    DataSet getAccountRights(const std::string& account);
    void setAccountRights(const std::string& account, const DataSet& rights);
    DataSet getAccountRPOP(const std::string& account);
    void setAccountRPOP(const std::string& account, const DataSet& rpop);
    DataSet getAccountStat(const std::string& account);
    void resetAccountStat(const std::string& account);
    void removeAccountSubset(const std::string& account, const std::string& subset);

    // A domain's account defaults and template; an empty domain is left
    // out of the line.
    DataSet getAccountDefaults(const std::string& domain);
    void setAccountDefaults(const std::string& domain, const DataSet& settings);
    void updateAccountDefaults(const std::string& domain, const DataSet& settings);
    DataSet getAccountTemplate(const std::string& domain);
    void setAccountTemplate(const std::string& domain, const DataSet& settings);
    void updateAccountTemplate(const std::string& domain, const DataSet& settings);
    // Server-wide and cluster-wide account defaults.
    DataSet getAllAccountsDefaults();
    void setAllAccountsDefaults(const DataSet& settings);
    void updateAllAccountsDefaults(const DataSet& settings);
    DataSet getClusterAccountDefaults();
    void setClusterAccountDefaults(const DataSet& settings);
    void updateClusterAccountDefaults(const DataSet& settings);

    // Web-user settings of an account, a domain (left out when empty), the
    // server and the cluster.
    DataSet getWebUser(const std::string& account);
    DataSet getEffectiveWebUser(const std::string& account);
    void setWebUser(const std::string& account, const DataSet& settings);
    DataSet getWebUserDefaults(const std::string& domain);
    void setWebUserDefaults(const std::string& domain, const DataSet& settings);
    DataSet getServerWebUserDefaults();
    void setServerWebUserDefaults(const DataSet& settings);
    DataSet getClusterWebUserDefaults();
    void setClusterWebUserDefaults(const DataSet& settings);

    // ==== end of accounts ====

    // ==== mailboxes, subscriptions, forwarders, groups and lists: cli_mailboxes.cpp ====

    // Mailbox names go between double quotes as they are: a name holding a
    // double quote, or ending in a backslash, cannot be sent and is refused.
    // An empty authAccount leaves the "AUTH" piece out, except for
    // getMailboxRights, which needs it.
    void createMailbox(const std::string& account, const std::string& mailbox, const std::string& authAccount);
    void deleteMailbox(const std::string& account, const std::string& mailbox, const std::string& authAccount);
    // The forms that send "MAILBOXES" in place of "MAILBOX".
    void deleteMailboxes(const std::string& account, const std::string& mailboxes, const std::string& authAccount);
    void renameMailbox(const std::string& account, const std::string& mailbox, const std::string& newMailbox,
                       const std::string& authAccount);
    void renameMailboxes(const std::string& account, const std::string& mailboxes, const std::string& newMailboxes,
                         const std::string& authAccount);
    DataSet listMailboxes(const std::string& account, const std::string& filter, const std::string& authAccount);
    DataSet getMailboxInfo(const std::string& account, const std::string& mailbox, const std::string& authAccount);
    void updateMailboxInfo(const std::string& account, const std::string& mailbox, const DataSet& info);
    DataSet getMailboxACL(const std::string& account, const std::string& mailbox, const std::string& authAccount);
    void setMailboxACL(const std::string& account, const std::string& mailbox, const DataSet& acl,
                       const std::string& authAccount);
    // Stores the entries as the whole list: the rights of everyone else in
    // it are emptied.
    void setMailboxACLEntry(const std::string& account, const std::string& mailbox, const DataSet& entries,
                            const std::string& authAccount);
    std::string getMailboxRights(const std::string& account, const std::string& mailbox,
                                 const std::string& authAccount);
    void setMailboxClass(const std::string& account, const std::string& mailbox, const std::string& mailboxClass,
                         const std::string& authAccount);
    DataSet getMailboxAliases(const std::string& account);
    void setMailboxAliases(const std::string& account, const DataSet& aliases);

    DataSet getAccountSubscription(const std::string& account);
    void setAccountSubscription(const std::string& account, const DataSet& subscription);
    // Adds a mailbox name, or merges an array of names (the stored list
    // then comes sorted, without duplicates); stores nothing when the name
    // is already there.
    void addAccountSubscription(const std::string& account, const DataSet& item);

    void createForwarder(const std::string& forwarder, const std::string& address);
    void deleteForwarder(const std::string& forwarder);
    std::string getForwarder(const std::string& forwarder);
    // An empty domain is left out, in these and below: the server takes its
    // default.
    DataSet listForwarders(const std::string& domain);

    void createGroup(const std::string& group, const DataSet& settings);
    void deleteGroup(const std::string& group);
    void renameGroup(const std::string& group, const std::string& newName);
    DataSet getGroup(const std::string& group);
    void setGroup(const std::string& group, const DataSet& settings);
    DataSet listGroups(const std::string& domain);

    void createList(const std::string& list, const std::string& owner);
    void deleteList(const std::string& list);
    void renameList(const std::string& list, const std::string& newName);
    DataSet getList(const std::string& list);
    void updateList(const std::string& list, const DataSet& settings);
    DataSet listLists(const std::string& domain);
    DataSet getDomainLists(const std::string& domain);
    DataSet getAccountLists(const std::string& account);
    void list(const std::string& list, const std::string& operation, const std::string& address, bool silently,
              bool confirm);
    // The filter clause goes out when there is a filter or a limit above 0.
    DataSet listSubscribers(const std::string& list, const std::string& filter, int limit);
    DataSet getSubscriberInfo(const std::string& list, const std::string& subscriber);
    void setPostingMode(const std::string& list, const std::string& subscriber, const std::string& mode);
    // The text is the last piece of the line: it may hold spaces.
    void processBounce(const std::string& account, bool fatal, const std::string& text);

    // ==== end of mailboxes, subscriptions, forwarders, groups and lists ====

    // ==== domains and directory: cli_domains.cpp ====

    // An empty settings value, or one without members, is left out.
    void createDomain(const std::string& domain, const DataSet& settings);
    void createSharedDomain(const std::string& domain, const DataSet& settings);
    void createDirectoryDomain(const std::string& domain, const DataSet& settings);
    void deleteDomain(const std::string& domain, bool force);
    void renameDomain(const std::string& domain, const std::string& newName);
    DataSet listDomains();
    // An empty account or domain is left out, in these and below: the
    // server takes its default.
    DataSet listAdminDomains(const std::string& account);
    std::string getDomainLocation(const std::string& domain);
    std::string mainDomainName();

    DataSet getDomainSettings(const std::string& domain);
    DataSet getDomainEffectiveSettings(const std::string& domain);
    void updateDomainSettings(const std::string& domain, const DataSet& settings);
    void setDomainSettings(const std::string& domain, const DataSet& settings);
    // The same three under a second name, for programs written against it.
    DataSet readDomainSettings(const std::string& domain);
    void mergeDomainSettings(const std::string& domain, const DataSet& settings);
    void replaceDomainSettings(const std::string& domain, const DataSet& settings);

    DataSet getDomainDefaults();
    void updateDomainDefaults(const DataSet& settings);
    void setDomainDefaults(const DataSet& settings);
    DataSet getDomainAliases(const std::string& domain);
    void setDomainAliases(const std::string& domain, const DataSet& aliases);
    DataSet getDomainStat(const std::string& domain);
    void resetDomainStat(const std::string& domain);

    DataSet getDirectoryIntegration();
    void setDirectoryIntegration(const DataSet& settings);
    DataSet getClusterDirectoryIntegration();
    void setClusterDirectoryIntegration(const DataSet& settings);
    void reloadDirectoryDomains();
    void insertDirectoryRecords(const std::string& domain);
    void deleteDirectoryRecords(const std::string& domain);

    // ==== end of domains and directory ====

    // ==== skins, web files, web users and control: cli_skins.cpp ====

    std::string getCurrentController();
    DataSet getWebFile(const std::string& account, const std::string& file);
    DataSet getWebFile(const std::string& account, const std::string& file, unsigned long offset,
                       unsigned long size);
    void putWebFile(const std::string& account, const std::string& file, const std::string& data);
    void putWebFile(const std::string& account, const std::string& file, const std::string& data,
                    unsigned long offset);
    // The text goes out escaped twice: once here, once as a data-set string.
    void writeLog(int level, const std::string& text);

    // Skins of the cluster, the server and a domain. An empty domain is left
    // out of the command. Skin and file names go between double quotes;
    // skin-file data does too, as it is, so the caller encodes it: data
    // holding CR, LF, NUL or a double quote, or ending in a backslash, is
    // refused.
    void createClusterSkin(const std::string& skin);
    void createServerSkin(const std::string& skin);
    void createDomainSkin(const std::string& domain, const std::string& skin);
    void renameClusterSkin(const std::string& skin, const std::string& newSkin);
    void renameServerSkin(const std::string& skin, const std::string& newSkin);
    void renameDomainSkin(const std::string& domain, const std::string& skin, const std::string& newSkin);
    void deleteClusterSkin(const std::string& skin);
    void deleteServerSkin(const std::string& skin);
    void deleteDomainSkin(const std::string& domain, const std::string& skin);
    DataSet listClusterSkins();
    DataSet listServerSkins();
    DataSet listDomainSkins(const std::string& domain);
    DataSet listClusterSkinFiles(const std::string& skin);
    DataSet listServerSkinFiles(const std::string& skin);
    DataSet listDomainSkinFiles(const std::string& domain, const std::string& skin);
    DataSet readClusterSkinFile(const std::string& skin, const std::string& file);
    DataSet readServerSkinFile(const std::string& skin, const std::string& file);
    DataSet readDomainSkinFile(const std::string& domain, const std::string& skin, const std::string& file);
    void storeClusterSkinFile(const std::string& skin, const std::string& file, const std::string& data);
    void storeServerSkinFile(const std::string& skin, const std::string& file, const std::string& data);
    void storeDomainSkinFile(const std::string& domain, const std::string& skin, const std::string& file,
                             const std::string& data);
    void deleteClusterSkinFile(const std::string& skin, const std::string& file);
    void deleteServerSkinFile(const std::string& skin, const std::string& file);
    void deleteDomainSkinFile(const std::string& domain, const std::string& skin, const std::string& file);

    // Web files of an account. Data ends the line and goes as it is (spaces
    // allowed); data holding CR, LF or NUL is refused.
    DataSet getWebFilesInfo(const std::string& account);
    // An empty path lists the top folder.
    DataSet listWebFiles(const std::string& account, const std::string& path);
    void renameWebFile(const std::string& account, const std::string& file, const std::string& newFile);
    void deleteWebFile(const std::string& account, const std::string& file);

    // The web-user interface files of a target; data as for web files. An
    // empty file lists the whole interface.
    DataSet listWebUserInterface(const std::string& target, const std::string& file);
    std::string getWebUserInterface(const std::string& target, const std::string& file);
    void putWebUserInterface(const std::string& target, const std::string& file, const std::string& data);
    void deleteWebUserInterface(const std::string& target, const std::string& file);
    void clearWebUserCache(const std::string& target);

    // Web-user sessions. createWebUserSession gives the new session's ID;
    // an empty skin leaves the choice to the server.
    std::string createWebUserSession(const std::string& account, const std::string& address,
                                     const std::string& skin);
    DataSet getWebUserSession(const std::string& sessionID);
    void killWebUserSession(const std::string& sessionID);

    // Monitoring and control.
    std::string getSNMPElement(const std::string& element);
    void releaseSMTPQueue(const std::string& domain);
    // An empty text rejects without one.
    void rejectQueueMessage(const std::string& message, const std::string& text);
    // With mail, the route that mail to the address takes.
    DataSet route(const std::string& address, bool mail);
    void refreshOSData();
    void shutdown();

    // ==== end of skins, web files, web users and control ====

    // ==== server and cluster settings, rules and alerts: cli_settings.cpp ====

    // Whether the server answers GetClusterDomainDefaults with success.
    bool isCluster();

    // Modules.
    DataSet getModule(const std::string& module);
    void setModule(const std::string& module, const DataSet& settings);
    void updateModule(const std::string& module, const DataSet& settings);

    // The router. A table goes out as one data-set string, so its line
    // ends travel escaped; it comes back as text.
    DataSet getRouterSettings();
    void setRouterSettings(const DataSet& settings);
    std::string getRouterTable();
    void setRouterTable(const std::string& table);
    std::string getClusterRouterTable();
    void setClusterRouterTable(const std::string& table);

    // Protection, the banned settings and interception.
    DataSet getProtection();
    void setProtection(const DataSet& settings);
    DataSet getClusterProtection();
    void setClusterProtection(const DataSet& settings);
    DataSet getBanned();
    void setBanned(const DataSet& settings);
    DataSet getClusterBanned();
    DataSet getServerIntercept();
    void setServerIntercept(const DataSet& settings);
    DataSet getClusterIntercept();
    void setClusterIntercept(const DataSet& settings);

    // The IP-address lists, as text (entries on lines of their own). A
    // list goes out between double quotes exactly as given, so one holding
    // CR, LF, NUL or a double quote, or ending in a backslash, is refused:
    // write each line end as the two characters "\e", which the server
    // reads as one.
    std::string getLANIPs();
    void setLANIPs(const std::string& addresses);
    std::string getClusterLANIPs();
    void setClusterLANIPs(const std::string& addresses);
    std::string getClientIPs();
    void setClientIPs(const std::string& addresses);
    std::string getClusterClientIPs();
    void setClusterClientIPs(const std::string& addresses);
    std::string getBlacklistedIPs();
    void setBlacklistedIPs(const std::string& addresses);
    std::string getClusterBlacklistedIPs();
    void setClusterBlacklistedIPs(const std::string& addresses);
    std::string getWhiteHoleIPs();
    void setWhiteHoleIPs(const std::string& addresses);
    std::string getClusterWhiteHoleIPs();
    void setClusterWhiteHoleIPs(const std::string& addresses);
    std::string getTempClientIPs();

    // The cluster's domain defaults.
    DataSet getClusterDomainDefaults();
    void setClusterDomainDefaults(const DataSet& settings);
    void updateClusterDomainDefaults(const DataSet& settings);

    // Rules. Every setter but the account's wants a non-empty array.
    DataSet getServerRules();
    void setServerRules(const DataSet& rules);
    DataSet getClusterRules();
    void setClusterRules(const DataSet& rules);
    DataSet getDomainRules(const std::string& domain);
    void setDomainRules(const std::string& domain, const DataSet& rules);
    DataSet getAccountRules(const std::string& account);
    // Any array, an empty one included.
    void setAccountRules(const std::string& account, const DataSet& rules);

    // Alerts. A posted alert goes out as a data-set string, the one to
    // remove plain. The domain of getDomainAlerts and setDomainAlerts is
    // left out of the line when it is empty.
    DataSet getServerAlerts();
    void setServerAlerts(const DataSet& alerts);
    void postServerAlert(const std::string& alert);
    void removeServerAlert(const std::string& alert);
    DataSet getClusterAlerts();
    void setClusterAlerts(const DataSet& alerts);
    void postClusterAlert(const std::string& alert);
    void removeClusterAlert(const std::string& alert);
    DataSet getDomainAlerts(const std::string& domain);
    void setDomainAlerts(const std::string& domain, const DataSet& alerts);
    void postDomainAlert(const std::string& domain, const std::string& alert);
    void removeDomainAlert(const std::string& domain, const std::string& alert);
    DataSet getAccountAlerts(const std::string& account);
    void setAccountAlerts(const std::string& account, const DataSet& alerts);
    void postAccountAlert(const std::string& account, const std::string& alert);
    void removeAccountAlert(const std::string& account, const std::string& alert);

    // ==== end of server and cluster settings, rules and alerts ====

private:
    // The three result kinds of a table row.
    void command(const char* word, const std::vector<cmd::Piece>& pieces);
    DataSet dataQuery(const char* word, const std::vector<cmd::Piece>& pieces);
    std::string textQuery(const char* word, const std::vector<cmd::Piece>& pieces);
    static std::string textOf(const DataSet& value);

    void receiveLine(std::string& line);
    [[noreturn]] void failLogin(const std::string& message);

    qdl::sock connection_;
    qdl::LineBuffer lines_;
    // While disconnect() runs: when its Quit exchange must be over.
    std::optional<qdl::Deadline> closeDeadline_;
    uint16_t lastCode_ = 0;
    std::string lastMessage_;
    std::string inlineData_;
};

}  // namespace cgp
