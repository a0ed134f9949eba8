#pragma once
// Base64 without line breaks (callers cut lines). The second alphabet uses
// "," for 63 and no padding; the decoder accepts both alphabets.
#include <ostream>
#include <string>

namespace qdl {

void base64Encode(const std::string& in, std::ostream& out, bool alt = false);
std::string base64EncodeString(const std::string& in, bool alt = false);
void base64EncodeAppend(const std::string& in, std::string& out, bool alt = false);

// True when the whole input was consumed; false at the first invalid
// character (line ends and blanks included), after writing the groups before it.
bool base64Decode(const std::string& in, std::ostream& out);
std::string base64DecodeString(const std::string& in, bool& failed);
std::string base64DecodeString(const std::string& in);

}  // namespace qdl
