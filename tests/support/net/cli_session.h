#pragma once
// CLI clients logged in to the scripted fake server, and the table-driven
// check of command rows: one line per row, giving the call, the exact line
// the server must receive, the scripted reply and the result.
//
//   const testsupport::CliRow rows[] = {
//       {CLI_CALL(deleteAccount("bob")), "DeleteAccount bob"},
//       {CLI_CALL(getAccountLocation("bob")), "GetAccountLocation bob", "201 bob.macnt", "bob.macnt"},
//       {CLI_CALL(getAccountSettings("bob")), "GetAccountSettings bob", "201 {a = b;}", "D{\"a\":S\"b\"}"},
//       {CLI_CALL(deleteAccount("")), "", "", testsupport::kRefused},
//   };
//   testsupport::checkCliRows(rows);
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

#include "clients/cli.h"
#include "clients/net_exception.h"
#include "support/net/fake_server.h"
#include "support/serverdata/values.h"

namespace testsupport {

// The client's login in every session: method 2, as user "admin" with
// password "secret", then the switch to inline answers.
const std::string kCliUser = "admin";
const std::string kCliPassword = "secret";
// The bytes the client sends to log in.
std::string cliLoginBytes();
// The server's side of that login, and of the client's Quit at the end.
Script cliLogin();
Script cliQuit();

// A client logged in to a fake server that plays the script after the
// login and, with quits, the end of the session.
class CliSession {
public:
    static constexpr uint32_t kTimeoutMs = 5000;

    explicit CliSession(const Script& afterLogin, bool quits = true);
    ~CliSession();

    cgp::CLI& cli() { return *cli_; }
    // Ends the session (the client quits), checks that the server saw
    // nothing unexpected, and returns what the client sent after its login,
    // Quit included.
    std::string end();

private:
    FakeServer server_;
    std::unique_ptr<cgp::CLI> cli_;
    bool ended_ = false;
};

// What a call gave, as rows write it: "" for none, the text of a text,
// "true"/"false", describe() of a data set, and for an exception its class,
// code and message: "CLIException 500: bad".
std::string shownResult(const cgp::DataSet& value);
std::string shownResult(const std::string& text);
std::string shownResult(bool flag);
std::string shownException(const qdl::Exception& e);

template <class Call>
std::string shown(Call call) {
    try {
        using Result = decltype(call());
        if constexpr (std::is_void<Result>::value) {
            call();
            return "";
        } else {
            return shownResult(call());
        }
    } catch (const qdl::Exception& e) {
        return shownException(e);
    }
}

// A required argument left out, or one that would break the line.
const std::string kRefused = "ProtocolException 0: invalid or missing argument";

struct CliRow {
    const char* call;  // the call as written
    std::function<std::string(cgp::CLI&)> run;
    // What the server must receive, without CR LF; "" when nothing is sent.
    // Lines of an operation that sends several are joined by "\n".
    std::string line;
    // The server's answer to each line, CR LF added; joined by "\n" as the
    // lines are. A "\r\n" inside one answer sends its lines together.
    std::string reply = "200 OK";
    std::string result = "";
};

// Plays each row in a session of its own.
void checkCliRows(const std::vector<CliRow>& rows);

}  // namespace testsupport

// The call text and the call of a row: CLI_CALL(deleteAccount("bob")).
#define CLI_CALL(...) \
    #__VA_ARGS__, [](cgp::CLI& cli) { return ::testsupport::shown([&] { return cli.__VA_ARGS__; }); }
