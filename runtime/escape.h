#pragma once
// The server's quoted-string escaping; callers add or strip the quotes.
#include <string>

namespace qdl {

std::string cgpEscape(const std::string& text);
std::string cgpUnescape(const std::string& text);

}  // namespace qdl
