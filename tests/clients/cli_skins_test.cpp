// Skin, web-file, web-user and control commands: one row per call (see
// support/net/cli_session.h).
#include "clients/cli.h"

#include <gtest/gtest.h>

#include "support/net/cli_session.h"
#include "support/serverdata/values.h"

using testsupport::checkCliRows;
using testsupport::kRefused;

namespace {

TEST(CliSkins, WriteLog) {
    checkCliRows({
        {CLI_CALL(writeLog(3, "hello")), "WriteLog 3 hello"},
        {CLI_CALL(writeLog(-1, "x")), "WriteLog -1 x"},
        // Escaped twice: once on its own, once as a data-set string.
        {CLI_CALL(writeLog(1, "say \"hi\"")), "WriteLog 1 \"say \\\\\\\"hi\\\\\\\"\""},
        {CLI_CALL(writeLog(0, "a\nb\\c")), "WriteLog 0 \"a\\\\eb\\\\\\\\c\""},
        // Escaping leaves nothing of a lone CR; the text itself was there.
        {CLI_CALL(writeLog(0, "\r")), "WriteLog 0 \"\""},
        {CLI_CALL(writeLog(3, "")), "", "", kRefused},
    });
}

TEST(CliSkins, WebFiles) {
    checkCliRows({
        {CLI_CALL(putWebFile("bob", "a b.html", "[SGk=]")), "PutWebFile bob FILE \"a b.html\" DATA [SGk=]"},
        {CLI_CALL(putWebFile("bob", "a.html", "[SGk=]", 100ul)), "PutWebFile bob FILE \"a.html\" OFFSET 100 DATA [SGk=]"},
        {CLI_CALL(putWebFile("bob", "a.html", "[SGk=]", 0ul)), "PutWebFile bob FILE \"a.html\" OFFSET 0 DATA [SGk=]"},
        // The data ends the line: a space in it shifts nothing.
        {CLI_CALL(putWebFile("bob", "a.html", "{a = b;}")), "PutWebFile bob FILE \"a.html\" DATA {a = b;}"},
        {CLI_CALL(putWebFile("", "a.html", "[SGk=]")), "", "", kRefused},
        {CLI_CALL(putWebFile("bob", "", "[SGk=]")), "", "", kRefused},
        {CLI_CALL(putWebFile("bob", "a.html", "")), "", "", kRefused},
        {CLI_CALL(putWebFile("bob", "a.html", "", 5ul)), "", "", kRefused},
        {CLI_CALL(putWebFile("bob", "a\".html", "[SGk=]")), "", "", kRefused},
        {CLI_CALL(putWebFile("bob", "a.html", "[SGk=]\r\nDeleteDomain d.com")), "", "", kRefused},
        {CLI_CALL(getWebFile("bob", "a.html")), "GetWebFile bob FILE \"a.html\"", "201 ([SGk=], 20040101120000)",
         "A[B\"Hi\",S\"20040101120000\"]"},
        {CLI_CALL(getWebFile("bob", "a.html", 0ul, 100ul)), "GetWebFile bob FILE \"a.html\" OFFSET 0 SIZE 100",
         "201 ([SGk=], 2)", "A[B\"Hi\",S\"2\"]"},
        {CLI_CALL(getWebFile("bob", "")), "", "", kRefused},
        {CLI_CALL(getWebFile("", "a.html", 0ul, 100ul)), "", "", kRefused},
    });
}

TEST(CliSkins, GetCurrentController) {
    checkCliRows({
        {CLI_CALL(getCurrentController()), "GetCurrentController", "201 \"10.0.0.1\"", "10.0.0.1"},
        {CLI_CALL(getCurrentController()), "GetCurrentController", "200 data follow\r\n10.0.0.2", "10.0.0.2"},
        // The text of anything but a string or a data block is empty.
        {CLI_CALL(getCurrentController()), "GetCurrentController", "201 (a, b)", ""},
    });
}

}  // namespace
