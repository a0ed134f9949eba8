#include "support/net/cli_session.h"

#include <gtest/gtest.h>

namespace testsupport {

namespace {

// Cuts at each "\n" that does not end a "\r\n": those stay inside a part.
std::vector<std::string> split(const std::string& text) {
    std::vector<std::string> parts(1);
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r'))
            parts.emplace_back();
        else
            parts.back() += text[i];
    }
    return parts;
}

}  // namespace

std::string cliLoginBytes() { return "AUTH WEBUSER " + kCliUser + " " + kCliPassword + "\r\ninline\r\n"; }

Script cliLogin() {
    return Script()
        .send("200 CLI ready <1.2@test>\r\n")
        .expectLine("AUTH WEBUSER " + kCliUser + " " + kCliPassword)
        .send("200 OK\r\n")
        .expectLine("inline")
        .send("200 OK\r\n");
}

Script cliQuit() { return Script().expectLine("Quit").send("200 bye\r\n").close(); }

CliSession::CliSession(const Script& afterLogin, bool quits)
    : server_(quits ? cliLogin().then(afterLogin).then(cliQuit()) : cliLogin().then(afterLogin)),
      cli_(new cgp::CLI(FakeServer::address(), server_.port(), kCliUser, kCliPassword, cgp::CLI::kWebUserLogin,
                        kTimeoutMs)) {}

CliSession::~CliSession() {
    if (!ended_) end();
}

std::string CliSession::end() {
    ended_ = true;
    cli_.reset();
    EXPECT_EQ(server_.finish(), "");
    const std::string all = server_.received();
    const std::string login = cliLoginBytes();
    EXPECT_EQ(all.substr(0, login.size()), login);
    return all.size() < login.size() ? std::string() : all.substr(login.size());
}

std::string shownResult(const cgp::DataSet& value) { return describe(value); }
std::string shownResult(const std::string& text) { return text; }
std::string shownResult(bool flag) { return flag ? "true" : "false"; }

std::string shownException(const qdl::Exception& e) {
    const char* name = "Exception";
    if (dynamic_cast<const cgp::CLIException*>(&e))
        name = "CLIException";
    else if (dynamic_cast<const qdl::InvalidLoginException*>(&e))
        name = "InvalidLoginException";
    else if (dynamic_cast<const qdl::InvalidServerPromptException*>(&e))
        name = "InvalidServerPromptException";
    else if (dynamic_cast<const qdl::InvalidServerResponseException*>(&e))
        name = "InvalidServerResponseException";
    else if (dynamic_cast<const qdl::ProtocolException*>(&e))
        name = "ProtocolException";
    else if (dynamic_cast<const qdl::UnableToConnectException*>(&e))
        name = "UnableToConnectException";
    else if (dynamic_cast<const qdl::ConnectionResetException*>(&e))
        name = "ConnectionResetException";
    else if (dynamic_cast<const qdl::SocketException*>(&e))
        name = "SocketException";
    return std::string(name) + " " + std::to_string(e.code()) + ": " + e.message();
}

void checkCliRows(const std::vector<CliRow>& rows) {
    for (const CliRow& row : rows) {
        SCOPED_TRACE(row.call);
        Script script;
        std::string expected;
        if (!row.line.empty()) {
            const std::vector<std::string> lines = split(row.line);
            const std::vector<std::string> replies = split(row.reply);
            ASSERT_EQ(lines.size(), replies.size()) << "a reply for each line";
            for (std::size_t i = 0; i < lines.size(); ++i) {
                script.expectLine(lines[i]).send(replies[i] + "\r\n");
                expected += lines[i] + "\r\n";
            }
        }
        CliSession session(script);
        EXPECT_EQ(row.run(session.cli()), row.result);
        EXPECT_EQ(session.end(), expected + "Quit\r\n");
    }
}

}  // namespace testsupport
