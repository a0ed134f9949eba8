#pragma once
// Builds test mail messages as text: the queue file's envelope block, header
// lines and MIME trees with text and base64 TNEF parts.
//
//   using namespace testsupport;
//   TnefWriter w;
//   w.addAttachment("report.pdf", pdfBytes, "REPORT~1.PDF");
//   Part mail = message("Report", multipart("mixed", "b1", {textPart("See attached."),
//                                                          tnefPart(w.bytes())}));
//   std::string file = envelope("sender@example.com", {"rcpt@example.com"}) + render(mail);
//
// Everything is rendered with LF line ends; toCrlf() turns a whole text
// into CR LF.
#include <string>
#include <vector>

namespace testsupport {

// A message or MIME part. A part with a boundary is multipart: its body is
// `preamble`, then each child after a "--boundary" line, then the closing
// "--boundary--" line and `epilogue` (written right after the delimiter, so
// start it with "\n"). Otherwise `body` is the content as
// written, normally without a trailing line end (the line end before the
// next boundary line belongs to that line). Give a leaf body a trailing
// "\n" to leave an empty line between it and the next boundary line.
struct Part {
    std::vector<std::string> headers;  // whole header lines, folded ones with "\n\t"
    std::string body;
    std::string boundary;
    std::vector<Part> parts;
    std::string preamble;
    std::string epilogue;
};

// The envelope block at the head of a queued message file: one
// "P I:<sender>" line, one "R W:<recipient>" line each, an empty line.
std::string envelope(const std::string& sender, const std::vector<std::string>& recipients);
// The same from whole lines, each followed by LF, then the empty line.
std::string envelopeLines(const std::vector<std::string>& lines);

// Base64 of `data` cut into lines of `lineLength` characters (the last may
// be shorter), joined by LF, no line end after the last.
std::string base64Lines(const std::string& data, std::size_t lineLength = 76);

// A text leaf: "Content-Type: <type>; charset=us-ascii" and 7bit.
Part textPart(const std::string& text, const std::string& type = "text/plain");
// A base64 attachment leaf with name and filename parameters.
Part attachmentPart(const std::string& data, const std::string& contentType, const std::string& name);
// A TNEF leaf: base64 lines, named `name` in Content-Type and
// Content-Disposition. The "winmail.dat as application/octet-stream" form
// is tnefPart(data, "winmail.dat", "application/octet-stream").
Part tnefPart(const std::string& tnefBytes, const std::string& name = "winmail.dat",
              const std::string& contentType = "application/ms-tnef");
// "Content-Type: multipart/<subtype>;" with the boundary on a folded line.
Part multipart(const std::string& subtype, const std::string& boundary, std::vector<Part> parts);
// Puts From, To, Subject, Date, Message-ID and MIME-Version before the
// headers of `body`, making it a whole message.
Part message(const std::string& subject, Part body, const std::string& from = "sender@example.com",
             const std::string& to = "rcpt@example.com");

// Headers, empty line, body; a multipart body with its children. A whole
// message (`topLevel`) gets one line end after its last line.
std::string render(const Part& part, bool topLevel = true);

// Every LF not already preceded by CR becomes CR LF.
std::string toCrlf(const std::string& text);

// True when the lines of `part` (split at LF) appear in `whole` in the same
// order, other lines between them allowed: nothing of `part` was lost.
bool linesInOrder(const std::string& part, const std::string& whole);

}  // namespace testsupport
