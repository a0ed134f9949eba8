#include "support/filter/message_builder.h"

#include <sstream>
#include <utility>

namespace testsupport {

std::string envelope(const std::string& sender, const std::vector<std::string>& recipients) {
    std::vector<std::string> lines;
    lines.push_back("P I:<" + sender + ">");
    for (const std::string& r : recipients) lines.push_back("R W:<" + r + ">");
    return envelopeLines(lines);
}

std::string envelopeLines(const std::vector<std::string>& lines) {
    std::string out;
    for (const std::string& l : lines) out += l + "\n";
    return out + "\n";
}

std::string base64Lines(const std::string& data, std::size_t lineLength) {
    static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string flat;
    for (std::size_t i = 0; i < data.size(); i += 3) {
        const std::size_t n = data.size() - i < 3 ? data.size() - i : 3;
        unsigned v = static_cast<unsigned char>(data[i]) << 16;
        if (n > 1) v |= static_cast<unsigned char>(data[i + 1]) << 8;
        if (n > 2) v |= static_cast<unsigned char>(data[i + 2]);
        flat += kAlphabet[(v >> 18) & 63];
        flat += kAlphabet[(v >> 12) & 63];
        flat += n > 1 ? kAlphabet[(v >> 6) & 63] : '=';
        flat += n > 2 ? kAlphabet[v & 63] : '=';
    }
    if (lineLength == 0) return flat;
    std::string out;
    for (std::size_t i = 0; i < flat.size(); i += lineLength) {
        if (i) out += "\n";
        out += flat.substr(i, lineLength);
    }
    return out;
}

Part textPart(const std::string& text, const std::string& type) {
    Part p;
    p.headers = {"Content-Type: " + type + "; charset=us-ascii", "Content-Transfer-Encoding: 7bit"};
    p.body = text;
    return p;
}

Part attachmentPart(const std::string& data, const std::string& contentType, const std::string& name) {
    Part p;
    p.headers = {"Content-Type: " + contentType + ";\n\tname=\"" + name + "\"",
                 "Content-Transfer-Encoding: base64",
                 "Content-Disposition: attachment;\n\tfilename=\"" + name + "\""};
    p.body = base64Lines(data);
    return p;
}

Part tnefPart(const std::string& tnefBytes, const std::string& name, const std::string& contentType) {
    return attachmentPart(tnefBytes, contentType, name);
}

Part multipart(const std::string& subtype, const std::string& boundary, std::vector<Part> parts) {
    Part p;
    p.headers = {"Content-Type: multipart/" + subtype + ";\n\tboundary=\"" + boundary + "\""};
    p.boundary = boundary;
    p.parts = std::move(parts);
    return p;
}

Part message(const std::string& subject, Part body, const std::string& from, const std::string& to) {
    std::vector<std::string> top = {"From: <" + from + ">",
                                    "To: <" + to + ">",
                                    "Subject: " + subject,
                                    "Date: Fri, 15 Mar 2024 10:20:30 +0000",
                                    "Message-ID: <test-message@example.com>",
                                    "MIME-Version: 1.0"};
    body.headers.insert(body.headers.begin(), top.begin(), top.end());
    return body;
}

std::string render(const Part& part, bool topLevel) {
    std::string out;
    for (const std::string& h : part.headers) out += h + "\n";
    out += "\n";
    if (part.boundary.empty()) {
        out += part.body;
    } else {
        // The line end before a boundary line belongs to that line.
        out += part.preamble;
        bool atStart = part.preamble.empty();
        for (const Part& child : part.parts) {
            if (!atStart) out += "\n";
            out += "--" + part.boundary + "\n" + render(child, false);
            atStart = false;
        }
        if (!atStart) out += "\n";
        out += "--" + part.boundary + "--" + part.epilogue;
    }
    if (topLevel) out += "\n";
    return out;
}

std::string toCrlf(const std::string& text) {
    std::string out;
    out.reserve(text.size() + text.size() / 32);
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) out += '\r';
        out += text[i];
    }
    return out;
}

bool linesInOrder(const std::string& part, const std::string& whole) {
    std::istringstream a(part);
    std::istringstream b(whole);
    std::string want;
    std::string have;
    while (std::getline(a, want)) {
        bool met = false;
        while (!met && std::getline(b, have)) met = have == want;
        if (!met) return false;
    }
    return true;
}

}  // namespace testsupport
