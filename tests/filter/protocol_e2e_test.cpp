// Runs the built program as the mail server does: request lines on its
// standard input, replies and log lines compared byte for byte.
#include <gtest/gtest.h>

#include "support/core/run_program.h"

using testsupport::builtProgram;
using testsupport::runProgram;

TEST(ProtocolEndToEnd, AnswersTheDispatchTableInOrder) {
    auto r = runProgram({builtProgram("filter/parvex")},
                        "1 INTF 3\n2 key x\nx FILE a\n\n7 foo\n8 foo bar\n4 QUIT\n5 KEY\n");
    ASSERT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitCode, 0);
    const std::string expected =
        "1 INTF 3\n"
        "2 OK\n"
        "x REJECTED \"Error: seqID should be a number\"\n"
        "(null) FAILURE\n"
        "7 FAILURE \"Missing parameter(s)\"\n"
        "8 FAILURE\n"
        "* 4: Filter is shutting down...\n"
        "4 OK \"Filter is shut down and waiting for standard output to be closed\"\n"
        "5 REJECTED \"QUIT command received, filter is shut down. Please restart the filter.\"\n";
    // The banner and start-up lines come first; the loop starts with its ready line.
    const std::string ready = "* Ready to receive INTF command.\n";
    size_t at = r.out.find(ready);
    ASSERT_NE(at, std::string::npos) << r.out;
    EXPECT_EQ(r.out.substr(at + ready.size()), expected);
}

TEST(ProtocolEndToEnd, CrLfRequestIsFollowedByAnEmptyLine) {
    auto r = runProgram({builtProgram("filter/parvex")}, "1 KEY\r\n2 KEY\r\n");
    ASSERT_FALSE(r.timedOut);
    const std::string ready = "* Ready to receive INTF command.\n";
    size_t at = r.out.find(ready);
    ASSERT_NE(at, std::string::npos) << r.out;
    EXPECT_EQ(r.out.substr(at + ready.size()), "1 OK\n(null) FAILURE\n2 OK\n(null) FAILURE\n");
}

TEST(ProtocolEndToEnd, EndsAtEndOfInputWithStatusZero) {
    auto r = runProgram({builtProgram("filter/parvex")}, "");
    ASSERT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_NE(r.out.find("* Ready to receive INTF command.\n"), std::string::npos);
}
