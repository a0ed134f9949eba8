#include "filter/rtf2html/charset_declaration.h"

#include <cstring>

#include "runtime/casefold.h"

namespace rtf {

const char* const CharsetDeclaration::kMetaUtf8 = "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=utf-8\">";

namespace {

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f'; }
bool isLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool equalsNoCase(const std::string& s, std::size_t at, std::size_t size, const char* word) {
    return std::strlen(word) == size && qdl::equalsAsciiNoCase(s.data() + at, word, size);
}

// Where `word` (lower case) starts in s[from, to), ignoring case; npos if nowhere.
std::size_t findNoCase(const std::string& s, std::size_t from, std::size_t to, const char* word) {
    const std::size_t n = std::strlen(word);
    for (std::size_t i = from; i + n <= to; ++i)
        if (equalsNoCase(s, i, n, word)) return i;
    return std::string::npos;
}

struct Attribute {
    std::size_t name = 0, nameSize = 0;
    std::size_t value = 0, valueSize = 0;
    bool hasValue = false;
};

struct Tag {
    std::size_t name = 0, nameSize = 0;  // with a leading "/", "!" or "?"
    std::vector<Attribute> attributes;
};

enum class Markup { Incomplete, Text, Comment, Element };

// Reads the markup that starts with the "<" at `pos`; `end` is where it ends.
Markup readMarkup(const std::string& s, std::size_t pos, std::size_t& end, Tag& tag) {
    static const char kCommentOpen[] = "<!--";
    const std::size_t size = s.size();
    if (s.compare(pos, 4, kCommentOpen) == 0) {
        const std::size_t close = s.find("-->", pos + 4);
        if (close == std::string::npos) return Markup::Incomplete;
        end = close + 3;
        return Markup::Comment;
    }
    if (size - pos < 4 && s.compare(pos, size - pos, kCommentOpen, size - pos) == 0) return Markup::Incomplete;
    std::size_t i = pos + 1;
    if (s[i] == '/' || s[i] == '!' || s[i] == '?') ++i;
    if (i >= size) return Markup::Incomplete;
    if (!isLetter(s[i])) {
        end = pos + 1;
        return Markup::Text;
    }
    while (i < size && !isSpace(s[i]) && s[i] != '>' && s[i] != '/') ++i;
    tag.name = pos + 1;
    tag.nameSize = i - tag.name;
    tag.attributes.clear();
    for (;;) {
        while (i < size && (isSpace(s[i]) || s[i] == '/')) ++i;
        if (i >= size) return Markup::Incomplete;
        if (s[i] == '>') {
            end = i + 1;
            return Markup::Element;
        }
        Attribute a;
        a.name = i;
        while (i < size && !isSpace(s[i]) && s[i] != '=' && s[i] != '>' && s[i] != '/') ++i;
        a.nameSize = i - a.name;
        std::size_t j = i;
        while (j < size && isSpace(s[j])) ++j;
        if (j >= size) return Markup::Incomplete;
        if (s[j] == '=') {
            ++j;
            while (j < size && isSpace(s[j])) ++j;
            if (j >= size) return Markup::Incomplete;
            a.hasValue = true;
            if (s[j] == '"' || s[j] == '\'') {
                const std::size_t close = s.find(s[j], j + 1);
                if (close == std::string::npos) return Markup::Incomplete;
                a.value = j + 1;
                a.valueSize = close - a.value;
                i = close + 1;
            } else {
                a.value = j;
                while (j < size && !isSpace(s[j]) && s[j] != '>') ++j;
                if (j >= size) return Markup::Incomplete;
                a.valueSize = j - a.value;
                i = j;
            }
        }
        if (a.nameSize == 0 && !a.hasValue) ++i;  // a stray byte: step over it
        tag.attributes.push_back(a);
    }
}

const Attribute* findAttribute(const std::string& s, const Tag& tag, const char* name) {
    for (const Attribute& a : tag.attributes)
        if (equalsNoCase(s, a.name, a.nameSize, name)) return &a;
    return nullptr;
}

}  // namespace

void CharsetDeclaration::scan() {
    Tag tag;
    while (!headEnded_) {
        const std::size_t pos = held_.find('<', scanned_);
        if (pos == std::string::npos) {
            scanned_ = held_.size();
            return;
        }
        std::size_t end = pos;
        const Markup m = readMarkup(held_, pos, end, tag);
        if (m == Markup::Incomplete) {
            scanned_ = pos;
            return;
        }
        scanned_ = end;
        if (m != Markup::Element) continue;
        const std::size_t n = tag.nameSize;
        if (equalsNoCase(held_, tag.name, n, "/head") || equalsNoCase(held_, tag.name, n, "body")) {
            headEnded_ = true;
        } else if (equalsNoCase(held_, tag.name, n, "head")) {
            if (insertRank_ < 3) insertAt_ = end, insertRank_ = 3;
        } else if (equalsNoCase(held_, tag.name, n, "html")) {
            if (insertRank_ < 2) insertAt_ = end, insertRank_ = 2;
        } else if (equalsNoCase(held_, tag.name, n, "!doctype")) {
            if (insertRank_ < 1) insertAt_ = end, insertRank_ = 1;
        } else if (equalsNoCase(held_, tag.name, n, "meta")) {
            if (const Attribute* a = findAttribute(held_, tag, "charset")) {
                if (a->hasValue) charsets_.emplace_back(a->value, a->valueSize);
                continue;
            }
            const Attribute* equiv = findAttribute(held_, tag, "http-equiv");
            const Attribute* content = findAttribute(held_, tag, "content");
            if (equiv == nullptr || content == nullptr ||
                !equalsNoCase(held_, equiv->value, equiv->valueSize, "content-type"))
                continue;
            const std::size_t to = content->value + content->valueSize;
            std::size_t j = findNoCase(held_, content->value, to, "charset");
            if (j == std::string::npos) continue;
            j += 7;
            while (j < to && isSpace(held_[j])) ++j;
            if (j >= to || held_[j] != '=') continue;
            ++j;
            while (j < to && (isSpace(held_[j]) || held_[j] == '"' || held_[j] == '\'')) ++j;
            std::size_t k = j;
            while (k < to && !isSpace(held_[k]) && held_[k] != ';' && held_[k] != '"' && held_[k] != '\'') ++k;
            charsets_.emplace_back(j, k - j);
        }
    }
}

void CharsetDeclaration::release(std::string& out) {
    released_ = true;
    if (charsets_.empty()) {
        out.append(held_, 0, insertAt_);
        out += kMetaUtf8;
        out.append(held_, insertAt_, std::string::npos);
    } else {
        std::size_t at = 0;
        for (const auto& c : charsets_) {
            out.append(held_, at, c.first - at);
            out += "utf-8";
            at = c.first + c.second;
        }
        out.append(held_, at, std::string::npos);
    }
    std::string().swap(held_);
}

void CharsetDeclaration::feed(const char* data, std::size_t size, std::string& out) {
    if (released_) {
        out.append(data, size);
        return;
    }
    held_.append(data, size);
    scan();
    if (headEnded_ || held_.size() > kMaxHead) release(out);
}

void CharsetDeclaration::finish(std::string& out) {
    if (!released_) release(out);
}

}  // namespace rtf
