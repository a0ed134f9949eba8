#pragma once
// The state an RTF document carries from group to group, read for the
// writers built on it (the de-encapsulator, and the rewriting of text for
// unrtf): destinations, the font table and its code pages, the current font,
// \ucN and the fallback characters after \uN, surrogate pairs, and whether
// the header marks the document as encapsulated HTML or text.
//
// The reader walks the document iteratively: its group stack lives on the
// heap and is bounded, so no input can exhaust the C stack. Everything after
// the document's outermost group is ignored.
#include <cstddef>
#include <map>
#include <string>
#include <vector>

#include "filter/rtf2html/codepage.h"
#include "filter/rtf2html/lexer.h"

namespace rtf {

enum class Encapsulation { None, Html, Text };

// The control words the readers act on; every other is Other.
enum class Word {
    Other, Ansicpg, Bin, Bullet, Deff, Emdash, Endash, F, Fcharset, Fonttbl, Fromhtml, Fromtext, Htmlrtf,
    Htmltag, Ldblquote, Line, Lquote, Par, Plain, Rdblquote, Rquote, Rtf, SkippedDestination, Tab, U, Uc,
};
Word wordOf(const std::string& name);

class Reader : protected TokenHandler, protected CharSink {
public:
    // Writers nest a group per formatting run or HTML element, a few dozen
    // deep; deeper groups fail the document, so that a hostile one cannot
    // make the state stack grow without end.
    static const std::size_t kMaxGroupDepth = 10000;
    // A font table with more fonts than this is hostile; the rest read in
    // the document's code page.
    static const std::size_t kMaxFonts = 4096;

    Reader() = default;
    ~Reader() override = default;
    Reader(const Reader&) = delete;
    Reader& operator=(const Reader&) = delete;

    // False once the document has failed (error() tells why); then the rest
    // of the input is ignored.
    bool readSome(const char* data, std::size_t size);
    bool readEnd();
    const std::string& error() const { return error_; }

    // True once the header is behind (or the input ended): from then on
    // encapsulation() no longer changes.
    bool headerRead() const { return headerRead_; }
    Encapsulation encapsulation() const { return encapsulation_; }

protected:
    enum class Destination { Body, FontTable, Skip, HtmlTag };
    struct Group {
        Destination destination = Destination::Body;
        long font = -1;  // -1: the default font
        long unicodeSkip = 1;
        bool htmlrtf = false;
    };

    // The innermost open group; only while depth() > 0.
    Group& group() { return stack_.back(); }
    const Group& group() const { return stack_.back(); }
    std::size_t depth() const { return stack_.size(); }
    // The code page of text here: the document's inside an HTML tag group,
    // else the current font's.
    int codePage() const;

    // Whether text in the current state is decoded and passed to putChar.
    virtual bool takesText() const = 0;
    // Bytes of text in `codePage`, to be decoded; a writer may keep some as
    // they are.
    virtual void putBytes(int codePage, const char* data, std::size_t size);
    // Every control word but \u and \uc, once the state took what it reads
    // from it (and it was no fallback character).
    virtual void word(Word id, const std::string& name, bool hasParam, long param) = 0;
    // Control symbols other than \{ \} \\ (which are text).
    virtual void symbol(char c) = 0;
    virtual void opened() {}
    virtual void closed() {}
    virtual void binaryData(const char*, std::size_t) {}
    virtual void sourceLineBreak() {}

    // Decodes what is gathered and settles a pending high surrogate, so that
    // what follows comes after it.
    void settle();

    TextDecoder decoder_;

private:
    void groupStart() override;
    void groupEnd() override;
    void controlWord(const std::string& name, bool hasParam, long param) override;
    void controlSymbol(char symbol) override;
    void hexByte(unsigned char byte) override;
    void text(const char* data, std::size_t size) override;
    void binary(const char* data, std::size_t size) override;
    void lineBreak() override;

    bool active() const { return !stack_.empty() && !failed_; }
    void classify(Word id);
    void unicode(long param);
    void textByte(unsigned char byte);
    void fail(const std::string& text);

    Lexer lexer_;
    std::vector<Group> stack_;
    bool started_ = false;
    bool ended_ = false;
    bool failed_ = false;
    std::string error_;
    bool headerRead_ = false;
    Encapsulation encapsulation_ = Encapsulation::None;

    bool fresh_ = false;     // a group just opened: its first word names its destination
    bool starred_ = false;   // ... and \* came before it
    long skip_ = 0;          // fallback characters still to skip after \uN
    bool dropBinary_ = false;  // \bin was a fallback character: its data goes too
    char32_t highSurrogate_ = 0;

    int documentCodePage_ = kDefaultCodePage;
    long defaultFont_ = -1;
    long fontDefined_ = -1;
    std::map<long, int> fonts_;  // font number to code page (0: the document's)
};

}  // namespace rtf
