#pragma once
// The server's quoted-string escaping; callers add or strip the quotes.
#include <cstddef>
#include <string>

namespace qdl {

std::string cgpEscape(const std::string& text);
std::string cgpUnescape(const std::string& text);
// True when cgpUnescape gives the text back from cgpEscape: it holds no CR,
// the one byte the escaping drops.
bool cgpEscapeKeeps(const std::string& text);
// The same, appending the result to out.
void cgpEscapeAppend(const char* text, std::size_t length, std::string& out);
void cgpUnescapeAppend(const char* text, std::size_t length, std::string& out);

}  // namespace qdl
