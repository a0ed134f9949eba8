#pragma once
// A client of the server's CLI administration protocol over TCP: connect,
// log in, switch to inline answers, then one command line at a time, each
// answered by one numeric response line before the next is sent.
//
// Failures throw from the family in net_exception.h: an error answer is a
// cgp::CLIException with the server's text and code, an argument that is
// missing or could break the line is a qdl::ProtocolException "invalid or
// missing argument" before anything is sent. The session survives error
// answers. Every read waits at most timeout() milliseconds. One client
// belongs to one thread at a time.
//
// The operations for the server's commands are grouped as the command
// tables are: one section below and one source file per table.
#include <cstdint>
#include <string>
#include <vector>

#include "clients/cli_command.h"
#include "clients/line_buffer.h"
#include "clients/sock.h"
#include "serverdata/dataset.h"

namespace cgp {

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
    // Quits; never throws.
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
    // Sends "Quit" and reads the answer when connected, then closes.
    void disconnect();

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

    // ==== end of accounts ====

    // ==== mailboxes, subscriptions, forwarders, groups and lists: cli_mailboxes.cpp ====

    DataSet getAccountSubscription(const std::string& account);
    void setAccountSubscription(const std::string& account, const DataSet& subscription);
    // Adds a mailbox name, or merges an array of names (the stored list
    // then comes sorted, without duplicates); stores nothing when the name
    // is already there.
    void addAccountSubscription(const std::string& account, const DataSet& item);
    DataSet getMailboxACL(const std::string& account, const std::string& mailbox, const std::string& authAccount);
    void setMailboxACL(const std::string& account, const std::string& mailbox, const DataSet& acl,
                       const std::string& authAccount);
    // Stores the entries as the whole list: the rights of everyone else in
    // it are emptied.
    void setMailboxACLEntry(const std::string& account, const std::string& mailbox, const DataSet& entries,
                            const std::string& authAccount);
    void list(const std::string& list, const std::string& operation, const std::string& address, bool silently,
              bool confirm);
    // The filter clause goes out when there is a filter or a limit above 0.
    DataSet listSubscribers(const std::string& list, const std::string& filter, int limit);

    // ==== end of mailboxes, subscriptions, forwarders, groups and lists ====

    // ==== domains and directory: cli_domains.cpp ====

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

    // ==== end of skins, web files, web users and control ====

    // ==== server and cluster settings, rules and alerts: cli_settings.cpp ====

    // Whether the server answers GetClusterDomainDefaults with success.
    bool isCluster();
    // Any array, an empty one included.
    void setAccountRules(const std::string& account, const DataSet& rules);

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
    uint16_t lastCode_ = 0;
    std::string lastMessage_;
    std::string inlineData_;
};

}  // namespace cgp
