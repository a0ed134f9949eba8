#pragma once
// Base64 without line breaks (callers cut lines). The second alphabet uses
// "," for 63 and no padding; the decoder accepts both alphabets.
#include <cstddef>
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

// The same over buffers the caller owns, for callers that cut and join
// their own blocks.
//
// The characters `size` bytes encode to.
std::size_t base64EncodedSize(std::size_t size, bool alt = false);
// Writes base64EncodedSize(size, alt) characters to `out`; returns their end.
char* base64EncodeTo(const char* in, std::size_t size, char* out, bool alt = false);
// Decodes `size` characters as base64Decode does (a short last group counts
// as padded) into `out`, which holds base64DecodedRoom(size) bytes;
// `written` is what was decoded, up to the first invalid character on false.
bool base64DecodeTo(const char* in, std::size_t size, char* out, std::size_t& written);
inline std::size_t base64DecodedRoom(std::size_t size) { return (size + 3) / 4 * 3; }

// Whether the vector path (AVX2, where the processor has it) is taken; the
// results are the same either way. Returns the setting before. For tests
// and benchmarks, which hold both paths to the same results.
bool base64UseVectors(bool on);

}  // namespace qdl
