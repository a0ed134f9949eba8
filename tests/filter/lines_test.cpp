#include "filter/lines.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "runtime/stream.h"
#include "support/core/failing_stream.h"
#include "support/core/run_program.h"

namespace {

// What one call gave, and where it left the stream.
struct Step {
    std::string piece;
    bool ended;
    std::ios::iostate state;
    std::streamoff position;  // -1 when the reader does not tell it
    bool operator==(const Step& o) const {
        return piece == o.piece && ended == o.ended && state == o.state && position == o.position;
    }
};

std::ostream& operator<<(std::ostream& os, const Step& s) {
    std::string shown;
    for (char c : s.piece) shown += c == '\r' ? std::string("\\r") : c == '\n' ? std::string("\\n") : std::string(1, c);
    return os << "{\"" << shown << "\", " << (s.ended ? "ended" : "cut") << ", state " << s.state << ", at "
              << s.position << "}";
}

// Pieces read one call at a time through readLinePiece, which takes nothing
// beyond the current line; the stream's own position after each.
std::vector<Step> byteSteps(std::istream& in, std::size_t limit) {
    std::vector<Step> steps;
    std::string piece;
    for (int guard = 0; guard < 100000 && in.good(); ++guard) {
        const bool ended = cgp::readLinePiece(in, piece, limit);
        const std::streamoff at = in.bad() ? -1 : static_cast<std::streamoff>(in.rdbuf()->pubseekoff(0, std::ios::cur, std::ios::in));
        steps.push_back({in.fail() ? std::string() : piece, ended, in.rdstate(), at});
    }
    return steps;
}

// The same through one read-ahead cursor.
std::vector<Step> cursorSteps(std::istream& in, std::size_t limit) {
    std::vector<Step> steps;
    cgp::LineCursor lines(in);
    std::string piece;
    for (int guard = 0; guard < 100000 && in.good(); ++guard) {
        const bool ended = lines.piece(piece, limit);
        steps.push_back({in.fail() ? std::string() : piece, ended, in.rdstate(), lines.position()});
    }
    return steps;
}

// Inputs built from the bytes that matter to the line rules.
std::string randomLines(unsigned& seed, int length) {
    const char alphabet[] = {'a', 'b', '\r', '\n'};
    std::string input;
    for (int i = 0; i < length; ++i) {
        seed = seed * 1103515245u + 12345u;
        input += alphabet[(seed >> 16) % 4];
    }
    return input;
}

// Reading ahead changes nothing of what is read: the same pieces, the same
// stream states and the same positions as a byte at a time.
TEST(LineCursor, ReadsAheadLikeTheByteReader) {
    unsigned seed = 4711;
    for (int round = 0; round < 400; ++round) {
        const std::string input = randomLines(seed, round % 29);
        for (std::size_t limit : {std::size_t(0), std::size_t(1), std::size_t(2), std::size_t(3), std::size_t(5),
                                  std::string::npos}) {
            std::istringstream a(input), b(input);
            ASSERT_EQ(byteSteps(a, limit), cursorSteps(b, limit)) << "input #" << round << " limit " << limit;
        }
    }
}

// A file is read block by block: line ends that fall on the edge of the
// stream's own buffer, or of the cursor's, are read as anywhere else.
TEST(LineCursor, LineEndsAtBlockEdgesOfAFile) {
    testsupport::TempDir dir;
    const std::string path = dir / "message";
    for (std::size_t edge : {std::size_t(8191), std::size_t(8192), std::size_t(65536)}) {
        for (const char* end : {"\r\n", "\n\r", "\r", "\n", "\r\r", "\n\n"}) {
            for (std::size_t shift : {std::size_t(0), std::size_t(1), std::size_t(2)}) {
                std::string text = std::string(edge - shift, 'x') + end + "tail\r\n" + std::string(100, 'y');
                testsupport::writeFile(path, text);
                for (std::size_t limit : {std::size_t(7), cgp::kDefaultLinePieceLimit, std::string::npos}) {
                    for (std::ios::openmode mode : {std::ios::in, std::ios::in | std::ios::binary}) {
                        qdl::ifstream a(path, mode), b(path, mode);
                        ASSERT_EQ(byteSteps(a, limit), cursorSteps(b, limit))
                            << "edge " << edge << " shift " << shift << " limit " << limit;
                    }
                }
            }
        }
    }
}

// What the cursor took ahead goes back to the stream when it goes, so the
// next reader starts right after the last line read.
TEST(LineCursor, LeavesTheStreamAfterWhatItRead) {
    testsupport::TempDir dir;
    const std::string text = "first\r\nsecond\n" + std::string(100000, 'z') + "\nlast";
    testsupport::writeFile(dir / "message", text);
    for (int kind = 0; kind < 2; ++kind) {
        std::istringstream s(text);
        qdl::ifstream f(dir / "message");
        std::istream& in = kind == 0 ? static_cast<std::istream&>(s) : f;
        std::string head;
        {
            cgp::LineCursor lines(in);
            EXPECT_TRUE(lines.head(head, 100));
            EXPECT_EQ(head, "first");
            EXPECT_EQ(lines.position(), 7);
        }
        std::string line;
        std::getline(in, line);
        EXPECT_EQ(line, "second") << kind;
        {
            cgp::LineCursor lines(in);
            EXPECT_FALSE(lines.head(head, 10));
            EXPECT_EQ(head, std::string(10, 'z'));
            EXPECT_EQ(lines.position(), static_cast<std::streamoff>(text.size() - 4));
        }
        std::getline(in, line);
        EXPECT_EQ(line, "last") << kind;
    }
}

TEST(LineCursor, SeeksBackInsideAndOutsideItsBuffer) {
    testsupport::TempDir dir;
    std::string text;
    for (int i = 0; i < 20000; ++i) text += "line " + std::to_string(i) + "\n";
    testsupport::writeFile(dir / "message", text);
    qdl::ifstream in(dir / "message");
    cgp::LineCursor lines(in);
    std::string line;
    lines.piece(line, 100);
    const std::streamoff second = lines.position();
    lines.piece(line, 100);
    EXPECT_EQ(line, "line 1");
    lines.seek(second);
    lines.piece(line, 100);
    EXPECT_EQ(line, "line 1");
    while (in.good()) lines.piece(line, 100);
    EXPECT_EQ(line, "line 19999");
    EXPECT_TRUE(in.eof());
    // Past the end of input, far behind the buffer: end-of-file is cleared
    // and the stream is asked again.
    lines.seek(second);
    EXPECT_TRUE(in.good());
    lines.piece(line, 100);
    EXPECT_EQ(line, "line 1");
    EXPECT_EQ(lines.position(), static_cast<std::streamoff>(text.find("line 2")));
    // A failed stream stays where it is, as with seekg.
    in.setstate(std::ios::failbit);
    lines.seek(0);
    EXPECT_TRUE(in.fail());
}

// A read error after some lines: the lines before it are read as they are,
// then the stream is bad and the line ends.
TEST(LineCursor, ReadErrorAfterSomeLines) {
    testsupport::FailingBuffer buffer("one\ntwo\nthr");
    std::istream in(&buffer);
    cgp::LineCursor lines(in);
    std::string line;
    EXPECT_TRUE(lines.piece(line, 100));
    EXPECT_EQ(line, "one");
    EXPECT_TRUE(lines.piece(line, 100));
    EXPECT_EQ(line, "two");
    EXPECT_NO_THROW(EXPECT_TRUE(lines.piece(line, 100)));
    EXPECT_EQ(line, "thr");
    EXPECT_TRUE(in.bad());
    EXPECT_FALSE(in.eof());
    EXPECT_EQ(lines.position(), -1);
}

TEST(LineCursor, MetEndOnlyForALineWithoutLineEnd) {
    struct Case {
        const char* text;
        std::size_t limit;
        std::vector<bool> metEnd;  // after each piece
    } cases[] = {
        {"a\nb", 10, {false, true}},
        {"a\n", 10, {false}},
        {"a\r\n", 10, {false, true}},  // the pair is joined without looking further; then nothing is left
        {"abcd", 4, {true}},
        {"abcdef", 4, {false, true}},
    };
    for (const Case& c : cases) {
        std::istringstream in(c.text);
        cgp::LineCursor lines(in);
        std::string piece;
        std::vector<bool> got;
        while (in.good()) {
            lines.piece(piece, c.limit);
            got.push_back(lines.metEnd());
        }
        EXPECT_EQ(got, c.metEnd) << c.text;
    }
}

TEST(Delimiters, HeadLimitHoldsTheClosingLineWhole) {
    EXPECT_EQ(cgp::headLimitFor(1000, "--b"), 1000u);
    EXPECT_EQ(cgp::headLimitFor(5, "--b"), 6u);  // "--b--" and one byte more
    EXPECT_EQ(cgp::headLimitFor(6, "--b"), 6u);
    EXPECT_EQ(cgp::headLimitFor(0, ""), 3u);
    EXPECT_EQ(cgp::headLimitFor(0, "--boundary"), 13u);
}

TEST(Delimiters, OnlyTheTwoDelimiterLines) {
    const struct {
        const char* line;
        bool delimiter;
    } cases[] = {
        {"--b", true}, {"--b--", true}, {"--b-", false}, {"--b---", false},
        {"--bb", false}, {"--b--x", false}, {"-b", false}, {"", false},
    };
    for (const auto& c : cases) EXPECT_EQ(cgp::isDelimiterLine(c.line, "--b"), c.delimiter) << c.line;
}

}  // namespace
