#pragma once
// The one case-folding table: A-Z to a-z plus the server's high-byte pairs.
#include <string>

namespace qdl {

extern const unsigned char lowerCaseTable[256];

// Lowers a copy of the text through lowerCaseTable.
std::string lowerCase(const std::string& text);

}  // namespace qdl
