#pragma once
// Makes an HTML document in UTF-8 say so: a charset declared by a meta
// element in its head (meta charset=..., or http-equiv Content-Type with
// "charset=" in its content) is changed to utf-8; when there is none, a
// declaration is added at the start of the head (or after the html start
// tag, a doctype, or at the very start, when there is no head).
//
// The document is streamed: its start is held until the head has ended (at
// "</head" or "<body"), then passes on changed; the rest passes as it comes.
#include <cstddef>
#include <string>
#include <utility>
#include <vector>

namespace rtf {

class CharsetDeclaration {
public:
    // A head longer than this is not searched further: the declaration is
    // made in what was held, and memory stays bounded.
    static const std::size_t kMaxHead = 1024 * 1024;
    static const char* const kMetaUtf8;

    // Appends to `out` what can be passed on so far.
    void feed(const char* data, std::size_t size, std::string& out);
    void feed(const std::string& html, std::string& out) { feed(html.data(), html.size(), out); }
    // Passes on the rest.
    void finish(std::string& out);

private:
    void scan();
    void release(std::string& out);

    bool released_ = false;
    bool headEnded_ = false;
    std::string held_;
    std::size_t scanned_ = 0;  // markup before this has been read
    std::vector<std::pair<std::size_t, std::size_t>> charsets_;  // values that become "utf-8"
    std::size_t insertAt_ = 0;
    int insertRank_ = 0;  // what insertAt_ follows: 0 nothing, 1 doctype, 2 html, 3 head
};

}  // namespace rtf
