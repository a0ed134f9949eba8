#pragma once
// The one case-folding table: A-Z to a-z plus the server's high-byte pairs;
// and ASCII folding, for what the C library's case-insensitive comparison
// would compare.
#include <cstddef>
#include <string>

namespace qdl {

extern const unsigned char lowerCaseTable[256];

// Lowers a copy of the text through lowerCaseTable.
std::string lowerCase(const std::string& text);

// A-Z to a-z, every other byte as it is: strcasecmp's folding in the C
// locale, not the table's.
inline char asciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// True when the `n` bytes at `a` and at `b` are equal after asciiLower; a
// NUL is a byte like any other.
inline bool equalsAsciiNoCase(const char* a, const char* b, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i)
        if (asciiLower(a[i]) != asciiLower(b[i])) return false;
    return true;
}

}  // namespace qdl
