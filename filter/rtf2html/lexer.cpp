#include "filter/rtf2html/lexer.h"

namespace rtf {

namespace {

bool isLetter(unsigned char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool isDigit(unsigned char c) { return c >= '0' && c <= '9'; }

int hexValue(unsigned char c) {
    if (isDigit(c)) return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Bytes that end a run of plain text.
bool isSpecial(unsigned char c) { return c == '{' || c == '}' || c == '\\' || c == '\r' || c == '\n' || c == 0; }

}  // namespace

void Lexer::endWord(TokenHandler& handler) {
    const long param = negative_ ? -param_ : param_;
    const bool isBin = !overlong_ && hasParam_ && word_ == "bin";
    handler.controlWord(overlong_ ? std::string() : word_, hasParam_, param);
    state_ = State::Text;
    if (isBin && param > 0) {
        binaryLeft_ = static_cast<unsigned long>(param);
        state_ = State::Binary;
    }
}

void Lexer::feed(const char* data, std::size_t size, TokenHandler& handler) {
    std::size_t i = 0;
    while (i < size) {
        const unsigned char c = static_cast<unsigned char>(data[i]);
        switch (state_) {
        case State::Text: {
            if (!isSpecial(c)) {
                std::size_t end = i + 1;
                while (end < size && !isSpecial(static_cast<unsigned char>(data[end]))) ++end;
                handler.text(data + i, end - i);
                i = end;
                continue;
            }
            if (c == '{') {
                handler.groupStart();
            } else if (c == '}') {
                handler.groupEnd();
            } else if (c == '\\') {
                state_ = State::Escape;
            } else if (c != 0) {
                handler.lineBreak();
            }
            ++i;
            continue;
        }
        case State::Escape:
            if (isLetter(c)) {
                word_.assign(1, static_cast<char>(c));
                overlong_ = false;
                negative_ = false;
                hasParam_ = false;
                param_ = 0;
                state_ = State::Word;
            } else if (c == '\'') {
                state_ = State::Hex1;
            } else {
                handler.controlSymbol(c == '\r' || c == '\n' ? '\n' : static_cast<char>(c));
                state_ = State::Text;
            }
            ++i;
            continue;
        case State::Word:
            if (isLetter(c)) {
                if (word_.size() < kMaxWordLength)
                    word_ += static_cast<char>(c);
                else
                    overlong_ = true;
                ++i;
            } else if (c == '-') {
                state_ = State::Sign;
                ++i;
            } else if (isDigit(c)) {
                hasParam_ = true;
                state_ = State::Digits;
            } else {
                if (c == ' ') ++i;
                endWord(handler);
            }
            continue;
        case State::Sign:
            if (isDigit(c)) {
                negative_ = true;
                hasParam_ = true;
                state_ = State::Digits;
            } else {
                // "\word-" with no digits: the word, then a hyphen as text.
                endWord(handler);
                if (state_ == State::Text) handler.text("-", 1);
            }
            continue;
        case State::Digits:
            if (isDigit(c)) {
                const long digit = c - '0';
                param_ = param_ > (kMaxParam - digit) / 10 ? kMaxParam : param_ * 10 + digit;
                ++i;
            } else {
                if (c == ' ') ++i;
                endWord(handler);
            }
            continue;
        case State::Hex1: {
            const int v = hexValue(c);
            if (v < 0) {
                state_ = State::Text;  // a broken escape: the byte is read as it stands
                continue;
            }
            hex_ = static_cast<unsigned char>(v);
            state_ = State::Hex2;
            ++i;
            continue;
        }
        case State::Hex2: {
            const int v = hexValue(c);
            state_ = State::Text;
            if (v < 0) continue;  // one digit only: dropped, the byte read as it stands
            handler.hexByte(static_cast<unsigned char>(hex_ * 16 + v));
            ++i;
            continue;
        }
        case State::Binary: {
            const std::size_t left = size - i;
            const std::size_t n = binaryLeft_ < left ? static_cast<std::size_t>(binaryLeft_) : left;
            handler.binary(data + i, n);
            binaryLeft_ -= n;
            i += n;
            if (binaryLeft_ == 0) state_ = State::Text;
            continue;
        }
        }
    }
}

void Lexer::finish(TokenHandler& handler) {
    switch (state_) {
    case State::Word:
    case State::Digits:
        endWord(handler);
        break;
    case State::Sign:
        endWord(handler);
        handler.text("-", 1);
        break;
    default:
        break;
    }
    state_ = State::Text;
    binaryLeft_ = 0;
}

}  // namespace rtf
