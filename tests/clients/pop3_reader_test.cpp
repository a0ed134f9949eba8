#include "clients/pop3.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "clients/net_exception.h"
#include "support/net/expect_exception.h"

namespace {

struct Reply {
    std::string status;
    std::string message;
    bool done = false;
};

// Feeds a RETR reply in the given pieces, as the client does: the status
// line first, then the message lines.
Reply retrieve(const std::vector<std::string>& pieces) {
    qdl::Pop3Reader reader;
    Reply r;
    bool haveStatus = false;
    std::ostringstream out;
    for (const auto& piece : pieces) {
        reader.feed(piece);
        if (!haveStatus) haveStatus = reader.statusLine(r.status);
        if (haveStatus && !r.done) r.done = reader.message(out);
    }
    r.message = out.str();
    return r;
}

const struct {
    const char* name;
    std::string body;  // after the status line, as sent
    std::string message;
} kMessages[] = {
    {"stuffed dot", "Subject: x\r\n\r\n..dot\r\nend\r\n.\r\n", "Subject: x\n\n.dot\nend\n"},
    // RFC 1939: the first dot goes also where the server did not stuff the
    // line; it was once kept. Only "." alone ends the message.
    {"dot not stuffed", "Subject: x\r\n\r\n.dot\r\nend\r\n.\r\n", "Subject: x\n\ndot\nend\n"},
    {"plain, unstuffed, stuffed", "x\r\n.x\r\n..y\r\n.\r\n", "x\nx\n.y\n"},
    {"dot and blank", ". \r\n.\r\n", " \n"},
    {"three dots", "...\r\n.\r\n", "..\n"},
    {"lone dot stuffed", "..\r\n.\r\n", ".\n"},
    {"bare LF line ends", "a\nb\n.\n", "a\nb\n"},
    {"bare CR ends a line", "a\rb\r\n.\r\n", "a\nb\n"},
    {"empty lines kept", "\r\n\r\nx\r\n.\r\n", "\n\nx\n"},
    {"empty message", ".\r\n", ""},
    {"bytes after the end dropped", "a\r\n.\r\n+OK stray\r\n", "a\n"},
};

TEST(Pop3Reader, Messages) {
    for (const auto& m : kMessages) {
        SCOPED_TRACE(m.name);
        const Reply r = retrieve({"+OK 30 octets\r\n" + m.body});
        EXPECT_EQ(r.status, "+OK 30 octets");
        EXPECT_TRUE(r.done);
        EXPECT_EQ(r.message, m.message);
    }
}

// Wherever the reply is cut, and byte by byte, the same message comes out:
// a CR at the end of one chunk and its LF in the next are one line end, and
// a status line cut after "+O" is still positive.
TEST(Pop3Reader, ChunkingChangesNothing) {
    for (const auto& m : kMessages) {
        SCOPED_TRACE(m.name);
        const std::string reply = "+OK 30 octets\r\n" + m.body;
        for (std::size_t cut = 0; cut <= reply.size(); ++cut) {
            SCOPED_TRACE("cut at " + std::to_string(cut));
            const Reply r = retrieve({reply.substr(0, cut), reply.substr(cut)});
            EXPECT_EQ(r.status, "+OK 30 octets");
            EXPECT_TRUE(r.done);
            EXPECT_EQ(r.message, m.message);
        }
        std::vector<std::string> bytes;
        for (char c : reply) bytes.push_back(std::string(1, c));
        const Reply r = retrieve(bytes);
        EXPECT_TRUE(r.done);
        EXPECT_EQ(r.message, m.message);
    }
}

TEST(Pop3Reader, UnfinishedMessage) {
    const Reply r = retrieve({"+OK\r\nSubject: x\r\n\r\nbody", " goes on"});
    EXPECT_FALSE(r.done);
    EXPECT_EQ(r.message, "Subject: x\n\n");
}

TEST(Pop3Reader, MessageLineLongerThanTheBound) {
    qdl::Pop3Reader reader;
    std::string status;
    reader.feed("+OK\r\n");
    ASSERT_TRUE(reader.statusLine(status));
    std::ostringstream out;
    reader.feed(std::string(qdl::LineBuffer::kMaxLineLength + 1, 'x'));
    EXPECT_THROW(reader.message(out), qdl::ProtocolException);
    EXPECT_EQ(out.str(), "");
}

TEST(Pop3Apop, MakeAPOPCommand) {
    const struct {
        const char* name;
        const char* greeting;
    } stamped[] = {
        {"RFC 1939", "+OK POP3 server ready <1896.697170952@dbc.mtview.ca.us>"},
        // Only the text from "<" to the first ">" after it counts.
        {"text after the stamp", "+OK ready <1896.697170952@dbc.mtview.ca.us> and <more>"},
        {"a > before the stamp", "+OK > <1896.697170952@dbc.mtview.ca.us>>"},
    };
    for (const auto& c : stamped) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(qdl::makeAPOPCommand(c.greeting, "mrose", "tanstaaf"),
                  "APOP mrose c4c9334bac560ecc979e58001b3e22fb");
    }
    for (const char* bare : {"+OK POP3 server ready", "+OK ready <1896.697170952@dbc", "+OK >"}) {
        SCOPED_TRACE(bare);
        testsupport::expectException<qdl::InvalidServerPromptException>(
            [&] { qdl::makeAPOPCommand(bare, "mrose", "tanstaaf"); }, "InvalidServerPromptException");
    }
}

}  // namespace
