#pragma once
// Decimal text to number and back, in-place replacement, suffix test.
// No state: safe on any thread.
#include <cstddef>
#include <string>

namespace qdl {

// The number at the start of the text (leading white space and a sign
// allowed, trailing text ignored); 0 when none parses or it is out of range.
int stringToInt(const std::string& text);

// As stringToInt for unsigned values; a text starting with "-" gives 0.
unsigned int stringToUnsigned(const std::string& text);

std::string toString(int value);
std::string toString(unsigned int value);

// Replaces every occurrence of from by to, never re-reading inserted text.
// Returns whether anything was replaced; an empty from replaces nothing.
bool replaceAll(std::string& text, const std::string& from, const std::string& to);

// Whether the text, with its last skip characters left out, ends with ending.
bool endsWith(const std::string& text, const std::string& ending, size_t skip = 0);

}  // namespace qdl
