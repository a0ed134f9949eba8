// The message builders that other tests feed to the filter: what they render
// must be exactly the MIME layout those tests assume.
#include <gtest/gtest.h>

#include <string>

#include "support/filter/message_builder.h"

using namespace testsupport;

TEST(MessageBuilder, EnvelopeBlock) {
    EXPECT_EQ(envelope("Sender@Example.com", {"a@example.com", "b@example.com"}),
              "P I:<Sender@Example.com>\nR W:<a@example.com>\nR W:<b@example.com>\n\n");
    EXPECT_EQ(envelope("", {}), "P I:<>\n\n");
    EXPECT_EQ(envelopeLines({"P I 15-03-2024 10:20:30 <x@y>"}), "P I 15-03-2024 10:20:30 <x@y>\n\n");
}

TEST(MessageBuilder, Base64LinesKnownVectorsAndLineLength) {
    const struct {
        const char* in;
        const char* out;
    } vectors[] = {{"", ""},         {"f", "Zg=="},         {"fo", "Zm8="},          {"foo", "Zm9v"},
                   {"foob", "Zm9vYg=="}, {"fooba", "Zm9vYmE="}, {"foobar", "Zm9vYmFy"}};
    for (const auto& v : vectors) EXPECT_EQ(base64Lines(v.in), v.out) << v.in;
    EXPECT_EQ(base64Lines(std::string("\xff\xfe\x00", 3)), "//4A");

    // 57 bytes fill one 76-character line; 100 bytes give 76 + 60.
    EXPECT_EQ(base64Lines(std::string(57, 'a')).size(), 76u);
    const std::string hundred = base64Lines(std::string(100, 'a'));
    ASSERT_EQ(hundred.find('\n'), 76u);
    EXPECT_EQ(hundred.size() - 77, 60u);
    EXPECT_EQ(hundred.substr(hundred.size() - 2), "==");
    EXPECT_EQ(base64Lines(std::string(12, 'a'), 8), "YWFhYWFh\nYWFhYWFh");
}

TEST(MessageBuilder, MixedWithTextAndTnefPart) {
    const Part mail = message("Report", multipart("mixed", "b1", {textPart("See attached."),
                                                                   tnefPart("TNEF")}));
    EXPECT_EQ(render(mail),
              "From: <sender@example.com>\n"
              "To: <rcpt@example.com>\n"
              "Subject: Report\n"
              "Date: Fri, 15 Mar 2024 10:20:30 +0000\n"
              "Message-ID: <test-message@example.com>\n"
              "MIME-Version: 1.0\n"
              "Content-Type: multipart/mixed;\n"
              "\tboundary=\"b1\"\n"
              "\n"
              "--b1\n"
              "Content-Type: text/plain; charset=us-ascii\n"
              "Content-Transfer-Encoding: 7bit\n"
              "\n"
              "See attached.\n"
              "--b1\n"
              "Content-Type: application/ms-tnef;\n"
              "\tname=\"winmail.dat\"\n"
              "Content-Transfer-Encoding: base64\n"
              "Content-Disposition: attachment;\n"
              "\tfilename=\"winmail.dat\"\n"
              "\n"
              "VE5FRg==\n"
              "--b1--\n");
}

TEST(MessageBuilder, NestedAlternativePreambleEpilogueAndBlankLineAfterBody) {
    Part alt = multipart("alternative", "inner", {textPart("plain"), textPart("<p>html</p>", "text/html")});
    Part winmail = tnefPart("x", "winmail.dat", "application/octet-stream");
    winmail.body += "\n";  // an empty line between the base64 and the boundary line
    Part outer = multipart("mixed", "outer", {alt, winmail});
    outer.preamble = "This is a multi-part message in MIME format.\n";
    outer.epilogue = "\nepilogue";
    EXPECT_EQ(render(outer),
              "Content-Type: multipart/mixed;\n\tboundary=\"outer\"\n"
              "\n"
              "This is a multi-part message in MIME format.\n"
              "\n"
              "--outer\n"
              "Content-Type: multipart/alternative;\n\tboundary=\"inner\"\n"
              "\n"
              "--inner\n"
              "Content-Type: text/plain; charset=us-ascii\nContent-Transfer-Encoding: 7bit\n"
              "\n"
              "plain\n"
              "--inner\n"
              "Content-Type: text/html; charset=us-ascii\nContent-Transfer-Encoding: 7bit\n"
              "\n"
              "<p>html</p>\n"
              "--inner--\n"
              "--outer\n"
              "Content-Type: application/octet-stream;\n\tname=\"winmail.dat\"\n"
              "Content-Transfer-Encoding: base64\n"
              "Content-Disposition: attachment;\n\tfilename=\"winmail.dat\"\n"
              "\n"
              "eA==\n"
              "\n"
              "--outer--\n"
              "epilogue\n");
}

TEST(MessageBuilder, CrlfLineEnds) {
    EXPECT_EQ(toCrlf("a\nb\n\nc"), "a\r\nb\r\n\r\nc");
    EXPECT_EQ(toCrlf("a\r\nb\n"), "a\r\nb\r\n");
    EXPECT_EQ(toCrlf("\n"), "\r\n");
    const std::string text = toCrlf(envelope("s@x", {"r@x"}) + render(multipart("mixed", "b", {textPart("t")})));
    EXPECT_EQ(text.find("\n"), text.find("\r\n") + 1);
    std::size_t lf = 0, crlf = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\n') continue;
        ++lf;
        if (i > 0 && text[i - 1] == '\r') ++crlf;
    }
    EXPECT_EQ(lf, crlf);
}
