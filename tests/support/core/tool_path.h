#pragma once
// Finding external tools (tnef, unrtf) for tests that skip without them.
#include <string>

namespace testsupport {

// Full path of `program` found through $PATH; empty when it is not there.
std::string findInPath(const std::string& program);

// True when `path` names an existing file or directory.
bool pathExists(const std::string& path);

}  // namespace testsupport
