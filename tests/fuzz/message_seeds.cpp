// Writes the starting corpus of message_fuzz into the folder it is given:
// messages made by the message builder, with TNEF parts from our TNEF writer
// and parts that tell the fuzz target's stand-in for tnef what to write.
#include <cstdio>
#include <string>
#include <vector>

#include "support/filter/message_builder.h"
#include "support/filter/tnef_writer.h"

using namespace testsupport;

namespace {

// Data for the stand-in: how tnef ends, how it lists, then file names.
std::string standIn(char ending, char listing, const std::string& names) {
    return std::string(1, ending) + std::string(1, listing) + names;
}

std::string realTnef() {
    TnefWriter w;
    w.addAttachment("report.pdf", "%PDF-1.4 data", "REPORT~1.PDF");
    w.addAttachment("notes.txt", "line one\nline two\n");
    return w.bytes();
}

std::string rtfTnef() {
    TnefWriter w;
    w.setRtfBody("{\\rtf1\\ansi Hello {\\b bold} world}");
    w.addAttachment("doc.txt", "document\n");
    return w.bytes();
}

Part mixed(std::vector<Part> parts, const std::string& boundary = "b1") {
    return message("seed", multipart("mixed", boundary, std::move(parts)));
}

std::vector<std::string> seeds() {
    std::vector<std::string> out;
    const std::string env = envelope("sender@example.com", {"rcpt@example.com", "other@example.com"});
    out.push_back(env + render(mixed({textPart("See attached."), tnefPart(realTnef())})));
    out.push_back(render(mixed({textPart("Hi."), tnefPart(standIn(0, 0, "a.txt\nb.bin"))})));
    out.push_back(render(mixed({textPart("Hi."), tnefPart(standIn(1, 0x15, "kept.txt\nsecond.txt"))})));
    out.push_back(render(mixed({textPart("Hi."), tnefPart(standIn(2, 0x0a, "one.txt\ntwo.txt\nthree.txt"))})));
    out.push_back(render(mixed({tnefPart(standIn(3, 0, "x.txt")), textPart("after")})));
    out.push_back(render(mixed({tnefPart(standIn(4, 0x3f, "a\nb\nc\nd"))})));
    out.push_back(render(mixed({tnefPart(standIn(0, 0x80, "body")), tnefPart(standIn(1, 0x80, "z"))})));
    out.push_back(render(mixed({tnefPart(standIn(0, 0, "w.txt"), "winmail.dat", "application/octet-stream"),
                                attachmentPart("%PDF", "application/pdf", "a.pdf")})));
    // An HTML alternative before a TNEF part with an RTF body.
    out.push_back(render(message(
        "alt", multipart("alternative", "alt", {textPart("<p>hi</p>", "text/html"), tnefPart(rtfTnef())}))));
    // Nested bodies, a marked part, CR LF line ends, a body on one line.
    out.push_back(render(
        mixed({multipart("mixed", "inner", {textPart("inner"), tnefPart(standIn(1, 0, "in.txt"))}), textPart("outer")})));
    Part marked = tnefPart(standIn(0, 0, "m.txt"));
    marked.headers.push_back("X-Parvex: 1 attachments extracted.");
    out.push_back(render(mixed({marked, tnefPart(standIn(0, 0, "n.txt"))})));
    out.push_back(toCrlf(render(mixed({textPart("crlf"), tnefPart(realTnef())}))));
    Part oneLine = tnefPart(realTnef());
    oneLine.body = base64Lines(realTnef(), 0);
    out.push_back(render(mixed({oneLine})));
    // Flags in the last byte: keep the part, and the batch copy.
    out.push_back(render(mixed({tnefPart(standIn(1, 0, "k.txt"))})) + "\x21");
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s DIR\n", argv[0]);
        return 2;
    }
    int n = 0;
    for (const std::string& seed : seeds()) {
        const std::string path = std::string(argv[1]) + "/seed-" + std::to_string(n++);
        FILE* f = std::fopen(path.c_str(), "wb");
        if (f == nullptr) {
            std::perror(path.c_str());
            return 1;
        }
        std::fwrite(seed.data(), 1, seed.size(), f);
        std::fclose(f);
    }
    return 0;
}
