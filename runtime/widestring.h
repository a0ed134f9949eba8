#pragma once
// Byte strings to wide strings and back, for the UTF-7 codec. One convention
// throughout: a byte becomes the wide character of its value taken as a
// signed 8-bit number (0x80-0xFF are -128 to -1), and the conversions back
// treat those values as the bytes they came from.
#include <string>

namespace qdl {

// One wide character per byte, the byte read as signed.
std::wstring widen(const std::string& text);

// Two bytes per character: the quotient by 256, then the remainder (both
// truncated toward zero, each kept as a byte). For 0-0xFFFF that is the UTF-16
// big-endian unit; a widened byte 0xE9 (-23) gives 0x00 0xE9.
std::string wideToUTF16BE(const std::wstring& text);

// One character per pair of bytes: first byte (signed) * 256 + second byte
// (signed); a missing last byte counts as 0. Reverses wideToUTF16BE for
// widened bytes and for characters whose low byte is below 0x80.
std::wstring utf16BEToWide(const std::string& bytes);

// Up to 127 (negative values included) one byte, the value kept as a byte;
// up to 0x7FF two bytes; up to 0xFFFF three; anything larger nothing.
std::string wideToUTF8(const std::wstring& text);

}  // namespace qdl
