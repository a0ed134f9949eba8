#include <gtest/gtest.h>

#include <sstream>

#include "filter/helper.h"
#include "runtime/log.h"
#include "support/capture.h"
#include "support/failing_stream.h"

using testsupport::StdoutCapture;

namespace {

// Accepts "file" and answers with the request it got.
class EchoHelper : public cgp::Helper {
public:
    EchoHelper() : cgp::Helper(false, "REJECTED") {}
    int getInterfaceVersion(int requested) override {
        versions.push_back(requested);
        return 3;
    }
    void onQuit() override { ++quits; }
    void processRequest(int seqID, const std::string& command, const std::string& parameters) override {
        qdl::outline() << seqID << " GOT " << command << " [" << parameters << "]";
    }
    bool acceptsCommand(const std::string& command) override { return command == "file"; }
    std::vector<int> versions;
    int quits = 0;
};

std::string serve(EchoHelper& h, const std::string& input) {
    std::istringstream in(input);
    StdoutCapture cap;
    h.run(in);
    return cap.text();
}

}  // namespace

TEST(ProtocolLoop, DispatchTable) {
    struct Case {
        const char* line;
        const char* reply;
    } cases[] = {
        {"1 FILE", "1 FAILURE \"Missing parameter(s)\""},
        {"x FILE a", "x REJECTED \"Error: seqID should be a number\""},
        {"00 FILE a", "00 REJECTED \"Error: seqID should be a number\""},
        {"0 KEY", "0 OK"},
        {"5", "5 FAILURE"},
        {"", "(null) FAILURE"},
        {"    ", "(null) FAILURE"},
        {"3 foo bar", "3 FAILURE"},
        {"3 foo", "3 FAILURE \"Missing parameter(s)\""},
        {"2 key", "2 OK"},
        {"2 KEY anything", "2 OK"},
        {"9 intf 2", "9 INTF 3"},
        {"9 INTF", "9 INTF 3"},
        {"abc INTF", "abc INTF 3"},
        {"12abc FILE q", "12 GOT file [q]"},
        {"4 FILE Queue/a b.msg ", "4 GOT file [Queue/a b.msg ]"},
        {"  6   FiLe   x  y", "6 GOT file [x  y]"},
        {"-3 FILE q", "-3 GOT file [q]"},
        {"99999999999 FILE q", "99999999999 REJECTED \"Error: seqID should be a number\""},
        {"7 crash now", "7 FAILURE \"unhandled exception request\""},
    };
    for (const auto& c : cases) {
        EchoHelper h;
        EXPECT_EQ(serve(h, std::string(c.line) + "\n"),
                  std::string("* Ready to receive INTF command.\n") + c.reply + "\n")
            << "line: '" << c.line << "'";
    }
}

TEST(ProtocolLoop, QuitRefusesEverythingAfterButReadsOn) {
    // The shutdown line is logged under the sequence text, and the log's
    // repeat table lasts as long as the process: a fresh number per run.
    static unsigned run = 0;
    const std::string seq = std::to_string(4000 + ++run);
    EchoHelper h;
    std::string out = serve(h, seq + " QUIT\n5 KEY\n5\n\n6 FILE a\n");
    EXPECT_EQ(out,
              "* Ready to receive INTF command.\n"
              "* " + seq + ": Filter is shutting down...\n" +
              seq + " OK \"Filter is shut down and waiting for standard output to be closed\"\n"
              "5 REJECTED \"QUIT command received, filter is shut down. Please restart the filter.\"\n"
              "5 REJECTED \"QUIT command received, filter is shut down. Please restart the filter.\"\n"
              "(null) FAILURE\n"
              "6 REJECTED \"QUIT command received, filter is shut down. Please restart the filter.\"\n");
    EXPECT_EQ(h.quits, 1);
}

TEST(ProtocolLoop, FirstAcceptedRequestImpliesIntf) {
    EchoHelper h;
    serve(h, "1 FILE a\n2 FILE b\n");
    EXPECT_EQ(h.versions, std::vector<int>{3});
    EchoHelper h2;
    serve(h2, "1 INTF x\n2 FILE b\n");
    EXPECT_EQ(h2.versions, std::vector<int>{0});  // "x" reads as 0; no implicit call after INTF
}

TEST(ProtocolLoop, LastLineWithoutLineEndIsServed) {
    EchoHelper h;
    EXPECT_EQ(serve(h, "1 KEY\n2 KEY"), "* Ready to receive INTF command.\n1 OK\n2 OK\n");
}

TEST(ReadLineAnyEol, JoinsPairsOnFiles) {
    std::istringstream in("a\r\nb\n\rc\rd\n\ne\r\r");
    std::vector<std::string> lines;
    std::string line;
    while (true) {
        cgp::readLineAnyEol(in, line);
        if (in.fail()) break;
        lines.push_back(line);
    }
    EXPECT_EQ(lines, (std::vector<std::string>{"a", "b", "c", "d", "", "e", ""}));
}

TEST(ReadLineAnyEol, FailedStreamLeavesLineAlone) {
    std::istringstream in("");
    std::string line = "keep";
    cgp::readLineAnyEol(in, line);
    EXPECT_TRUE(in.fail());
    EXPECT_TRUE(in.eof());
    EXPECT_EQ(line, "");
    line = "keep";
    cgp::readLineAnyEol(in, line);
    EXPECT_EQ(line, "keep");
}

TEST(ReadLineAnyEol, LastLineWithoutEndSetsOnlyEof) {
    std::istringstream in("tail");
    std::string line;
    cgp::readLineAnyEol(in, line);
    EXPECT_EQ(line, "tail");
    EXPECT_TRUE(in.eof());
    EXPECT_FALSE(in.fail());
}

// A read that fails (an I/O error under a file stream) marks the stream bad;
// it must not leave the reader as an exception.
TEST(ReadLineAnyEol, ReadErrorMarksTheStreamBad) {
    for (const char* text : {"", "whole line\n", "half a li"}) {
        testsupport::FailingBuffer buffer(text);
        std::istream in(&buffer);
        std::string line;
        EXPECT_NO_THROW({
            for (int i = 0; i < 3 && !in.fail(); ++i) cgp::readLineAnyEol(in, line);
        }) << text;
        EXPECT_TRUE(in.bad()) << text;
        EXPECT_FALSE(in.eof()) << text;
    }
}
