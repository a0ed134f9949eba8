#pragma once
// Named character references of HTML, as unrtf writes them.
#include <cstddef>

namespace rtf {

// The character `name` (without "&" and ";") stands for; 0 when unknown.
char32_t htmlEntity(const char* name, std::size_t size);

}  // namespace rtf
