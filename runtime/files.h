#pragma once
// File and directory utilities over path texts. Nothing throws or logs:
// failures show in the results.
#include <string>

namespace qdl {

bool isFile(const std::string& path);
bool isDirectory(const std::string& path);

}  // namespace qdl
