// The POP3 client against a real server: Debian's dovecot, run by the test
// itself in a temporary directory.
#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "clients/net_exception.h"
#include "clients/pop3.h"
#include "support/net/dovecot.h"

namespace {

const char kFirst[] =
    "From: a@example.com\n"
    "To: b@example.com\n"
    "Subject: dots\n"
    "\n"
    ".starts with a dot\n"
    "..two dots\n"
    ".\n"
    "end\n";
const char kSecond[] = "Subject: second\n\nbody\n";

TEST(Pop3Dovecot, Session) {
    const std::string why = testsupport::Dovecot::unavailable();
    if (!why.empty()) GTEST_SKIP() << why;
    testsupport::Dovecot dovecot("mrose", "tanstaaf");
    dovecot.addMessage(kFirst);
    dovecot.addMessage(kSecond);
    std::string failure;
    ASSERT_TRUE(dovecot.start(failure)) << failure;

    {
        qdl::pop3 client;
        client.setTimeout(10000);
        client.connect("127.0.0.1", dovecot.port());
        EXPECT_EQ(client.state(), 1);
        EXPECT_NE(client.greeting().find('<'), std::string::npos) << client.greeting();
        client.login("mrose", "tanstaaf", false);
        EXPECT_EQ(client.state(), 2);
        EXPECT_EQ(client.stat(), 2u);
        client.quit();
    }
    {
        qdl::pop3 client;
        client.setTimeout(10000);
        client.connect("127.0.0.1", dovecot.port());
        client.login("mrose", "tanstaaf", true);
        EXPECT_EQ(client.state(), 2);
        EXPECT_EQ(client.stat(), 2u);
        // Dovecot keeps the order the messages came in.
        std::ostringstream first;
        client.retr(1, first);
        EXPECT_EQ(first.str(), kFirst);
        std::ostringstream second;
        client.retr(2, second);
        EXPECT_EQ(second.str(), kSecond);
        std::ostringstream none;
        EXPECT_THROW(client.retr(3, none), qdl::InvalidServerResponseException);
        EXPECT_EQ(client.state(), 0);
        EXPECT_EQ(client.lastResponse().substr(0, 4), "-ERR");
    }
    {
        qdl::pop3 client;
        client.setTimeout(10000);
        client.connect("127.0.0.1", dovecot.port());
        client.login("mrose", "tanstaaf", true);
        client.dele(1);
        client.quit();
        // After QUIT the deletion holds: a new session sees one message.
        client.connect("127.0.0.1", dovecot.port());
        client.login("mrose", "tanstaaf", false);
        EXPECT_EQ(client.stat(), 1u);
        std::ostringstream left;
        client.retr(1, left);
        EXPECT_EQ(left.str(), kSecond);
        client.quit();
    }
    // Last: after a refused login dovecot makes the next ones wait.
    {
        qdl::pop3 client;
        client.setTimeout(10000);
        client.connect("127.0.0.1", dovecot.port());
        EXPECT_THROW(client.login("mrose", "wrong", true), qdl::InvalidLoginException);
        EXPECT_EQ(client.state(), 0);
    }
    const std::string log = dovecot.log();
    EXPECT_NE(log.find("method=APOP"), std::string::npos) << log;
}

}  // namespace
