#pragma once
// Modified UTF-7 (the IMAP mailbox-name form): printable ASCII stands for
// itself, the shift character "&" is written "&-", and every other run of
// characters is "&", the base64 (second alphabet, no padding) of its UTF-16
// big-endian form, and "-". With imap false "+" is the shift character
// (written "+-"), "&" is plain, and inside a run "+" is a base64 character.
// Nothing is reported: malformed input decodes as far as it goes.
#include <ostream>
#include <string>

namespace qdl {

// Input is one byte per character; 0x80-0xFF stand for U+0080 to U+00FF.
std::string encodeUTF7(const std::string& text, bool imap);
void encodeUTF7(const std::string& text, std::ostream& out, bool imap);

// Output is UTF-8, one 16-bit unit at a time (surrogate pairs are not
// combined). A run still open at the end of the text is dropped; a run's
// output stops at its first character that is not base64.
std::string decodeUTF7(const std::string& text, bool imap);
void decodeUTF7(const std::string& text, std::ostream& out, bool imap);

}  // namespace qdl
