#include <gtest/gtest.h>

#include <sstream>

#include "filter/helper.h"
#include "runtime/log.h"
#include "support/core/capture.h"
#include "support/core/failing_stream.h"

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

namespace {

struct Piece {
    std::string text;
    bool ended;
    bool operator==(const Piece& o) const { return text == o.text && ended == o.ended; }
};

std::ostream& operator<<(std::ostream& os, const Piece& p) {
    std::string shown;
    for (char c : p.text) shown += c == '\r' ? std::string("\\r") : c == '\n' ? std::string("\\n") : std::string(1, c);
    return os << "{\"" << shown << "\", " << (p.ended ? "ended" : "cut") << "}";
}

// Every piece until the reader fails, and the state it left after the last.
std::vector<Piece> pieces(std::istream& in, std::size_t limit, std::ios::iostate& lastState) {
    std::vector<Piece> out;
    std::string piece;
    for (int guard = 0; guard < 1000; ++guard) {
        const bool ended = cgp::readLinePiece(in, piece, limit);
        if (in.fail()) break;
        out.push_back({piece, ended});
        lastState = in.rdstate();
    }
    return out;
}

}  // namespace

TEST(ReadLinePiece, LineEndsLimitsAndTheEndOfInput) {
    const std::ios::iostate eof = std::ios::eofbit;
    const std::ios::iostate none = std::ios::goodbit;
    struct Case {
        const char* name;
        std::string input;
        std::size_t limit;
        std::vector<Piece> pieces;
        std::ios::iostate stateAfterLast;
    } cases[] = {
        {"LF", "ab\ncd\n", 10, {{"ab", true}, {"cd", true}}, eof},
        {"CR", "ab\rcd\r", 10, {{"ab", true}, {"cd", true}}, eof},
        // A whole pair is joined without looking further, so the end of the
        // input is seen only by the next read.
        {"CR LF", "ab\r\ncd\r\n", 10, {{"ab", true}, {"cd", true}}, none},
        {"LF CR", "ab\n\rcd\n\r", 10, {{"ab", true}, {"cd", true}}, none},
        {"LF LF is two ends", "ab\n\ncd", 10, {{"ab", true}, {"", true}, {"cd", true}}, eof},
        {"CR CR is two ends", "ab\r\rcd", 10, {{"ab", true}, {"", true}, {"cd", true}}, eof},
        {"CR LF CR", "ab\r\n\rcd", 10, {{"ab", true}, {"", true}, {"cd", true}}, eof},
        {"line one byte under the limit", "abc\nd", 4, {{"abc", true}, {"d", true}}, eof},
        {"line exactly at the limit", "abcd\nef", 4, {{"abcd", true}, {"ef", true}}, eof},
        {"line one byte over the limit", "abcde\nf", 4, {{"abcd", false}, {"e", true}, {"f", true}}, eof},
        {"line of two whole pieces", "abcdefgh\nx", 4, {{"abcd", false}, {"efgh", true}, {"x", true}}, eof},
        {"CR LF split across the piece boundary", "abcd\r\nx", 4, {{"abcd", true}, {"x", true}}, eof},
        {"LF CR split across the piece boundary", "abcd\n\rx", 4, {{"abcd", true}, {"x", true}}, eof},
        {"CR CR right after the limit", "abcd\r\rx", 4, {{"abcd", true}, {"", true}, {"x", true}}, eof},
        {"pair after a cut piece", "abcdef\r\nx\n", 4, {{"abcd", false}, {"ef", true}, {"x", true}}, eof},
        {"end of input mid-piece", "abcdef", 4, {{"abcd", false}, {"ef", true}}, eof},
        {"end of input at the limit", "abcd", 4, {{"abcd", true}}, eof},
        {"end of input after a cut piece at the limit", "abcdefgh", 4, {{"abcd", false}, {"efgh", true}}, eof},
        {"last line end at the end of input", "abcd\n", 4, {{"abcd", true}}, eof},
        {"last pair at the end of input", "ab\r\n", 10, {{"ab", true}}, none},
        {"last pair at the end of input, split at the limit", "abcd\r\n", 4, {{"abcd", true}}, none},
        {"more input after the last piece", "abcd\nx\n\n", 4, {{"abcd", true}, {"x", true}, {"", true}}, eof},
        {"limit of one", "abc\r\n\n", 1, {{"a", false}, {"b", false}, {"c", true}, {"", true}}, eof},
        {"limit of zero counts as one", "ab\n", 0, {{"a", false}, {"b", true}}, eof},
        {"no limit", std::string(100000, 'x') + "\ny", std::string::npos,
         {{std::string(100000, 'x'), true}, {"y", true}}, eof},
        {"empty input", "", 4, {}, none},
    };
    for (const Case& c : cases) {
        std::istringstream in(c.input);
        std::ios::iostate state = std::ios::goodbit;
        EXPECT_EQ(pieces(in, c.limit, state), c.pieces) << c.name;
        if (!c.pieces.empty()) {
            EXPECT_EQ(state, c.stateAfterLast) << c.name;
        }
        EXPECT_TRUE(in.eof()) << c.name;
    }
}

// Whatever the limit, the pieces of each line put together are the line
// readLineAnyEol reads, and each line leaves the stream at the same place
// and in the same state.
TEST(ReadLinePiece, PiecesMakeUpTheLinesOfReadLineAnyEol) {
    const char alphabet[] = {'a', 'b', '\r', '\n'};
    unsigned seed = 12345;
    for (int round = 0; round < 400; ++round) {
        std::string input;
        const int length = round % 23;
        for (int i = 0; i < length; ++i) {
            seed = seed * 1103515245u + 12345u;
            input += alphabet[(seed >> 16) % 4];
        }
        for (std::size_t limit = 1; limit <= 5; ++limit) {
            std::istringstream whole(input), cut(input);
            std::string line, piece;
            for (int n = 0; n < 30; ++n) {
                cgp::readLineAnyEol(whole, line);
                std::string joined;
                bool ended = false;
                bool first = true;
                while (!ended) {
                    ended = cgp::readLinePiece(cut, piece, limit);
                    if (cut.fail()) break;
                    EXPECT_LE(piece.size(), limit);
                    EXPECT_TRUE(ended || !piece.empty());
                    if (!first) {
                        EXPECT_FALSE(piece.empty());  // a cut piece is followed by more of its line
                    }
                    joined += piece;
                    first = false;
                }
                ASSERT_EQ(cut.rdstate(), whole.rdstate()) << "input #" << round << " limit " << limit;
                if (whole.fail()) break;
                EXPECT_EQ(joined, line);
                std::istringstream::pos_type a = whole.rdbuf()->pubseekoff(0, std::ios::cur, std::ios::in);
                std::istringstream::pos_type b = cut.rdbuf()->pubseekoff(0, std::ios::cur, std::ios::in);
                EXPECT_EQ(a, b);
            }
        }
    }
}

TEST(ReadLinePiece, FailedStreamLeavesPieceAlone) {
    std::istringstream in("");
    std::string piece = "keep";
    EXPECT_TRUE(cgp::readLinePiece(in, piece, 4));
    EXPECT_TRUE(in.fail());
    EXPECT_TRUE(in.eof());
    EXPECT_EQ(piece, "");
    piece = "keep";
    EXPECT_TRUE(cgp::readLinePiece(in, piece, 4));
    EXPECT_EQ(piece, "keep");
}

// A read error in the middle of a long line ends the line: a caller reading
// on until the line ends never loops.
TEST(ReadLinePiece, ReadErrorEndsTheLineAndMarksTheStreamBad) {
    for (std::size_t limit : {std::size_t(1), std::size_t(3), std::size_t(100)}) {
        testsupport::FailingBuffer buffer("half a long li");
        std::istream in(&buffer);
        std::string piece;
        int reads = 0;
        EXPECT_NO_THROW({
            while (!cgp::readLinePiece(in, piece, limit)) ++reads;
        });
        EXPECT_LE(reads, 14);
        EXPECT_TRUE(in.bad()) << limit;
        EXPECT_FALSE(in.eof()) << limit;
    }
}

TEST(ReadLineHead, KeepsTheStartAndPassesOverTheRest) {
    std::istringstream in("short\r\n" + std::string(1000, 'x') + "tail\r\nnext\n");
    std::string head;
    EXPECT_TRUE(cgp::readLineHead(in, head, 8));
    EXPECT_EQ(head, "short");
    EXPECT_FALSE(cgp::readLineHead(in, head, 8));
    EXPECT_EQ(head, "xxxxxxxx");
    EXPECT_TRUE(cgp::readLineHead(in, head, 8));
    EXPECT_EQ(head, "next");
    EXPECT_TRUE(in.eof());
    EXPECT_FALSE(in.fail());
}
