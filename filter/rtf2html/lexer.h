#pragma once
// RTF syntax, cut into its pieces as bytes arrive. The lexer holds no
// document state and allocates nothing per byte: a piece cut by the end of
// a chunk is finished by the next one, so any cut gives the same pieces.
#include <cstddef>
#include <string>

namespace rtf {

// What the lexer recognises, handed over in document order.
class TokenHandler {
public:
    virtual ~TokenHandler() = default;
    virtual void groupStart() = 0;
    virtual void groupEnd() = 0;
    // A control word with its optional parameter; the space that ends it is
    // consumed. `name` is empty for a word longer than any RTF defines.
    virtual void controlWord(const std::string& name, bool hasParam, long param) = 0;
    // \{ \} \\ \~ \- \_ \* \: \| and the like; a backslash before CR or LF
    // comes as '\n' (it stands for \par).
    virtual void controlSymbol(char symbol) = 0;
    virtual void hexByte(unsigned char byte) = 0;  // \'hh
    // A run of text bytes: never a brace, a backslash, CR, LF or NUL.
    virtual void text(const char* data, std::size_t size) = 0;
    // The bytes after \binN, possibly in several pieces.
    virtual void binary(const char* data, std::size_t size) = 0;
    // CR or LF in the source: not text, reported for writers that keep lines.
    virtual void lineBreak() {}
};

class Lexer {
public:
    // RTF defines no control word longer than this; a longer one is read to
    // its end but not kept, so memory stays bounded.
    static const std::size_t kMaxWordLength = 32;
    // Parameters saturate here instead of overflowing.
    static const long kMaxParam = 0x7fffffffL;

    void feed(const char* data, std::size_t size, TokenHandler& handler);
    // Completes a control word cut by the end of the input; an unfinished
    // \'h escape is dropped.
    void finish(TokenHandler& handler);

private:
    enum class State { Text, Escape, Word, Sign, Digits, Hex1, Hex2, Binary };

    void endWord(TokenHandler& handler);

    State state_ = State::Text;
    std::string word_;
    bool overlong_ = false;
    bool negative_ = false;
    long param_ = 0;
    bool hasParam_ = false;
    unsigned char hex_ = 0;
    unsigned long binaryLeft_ = 0;
};

}  // namespace rtf
