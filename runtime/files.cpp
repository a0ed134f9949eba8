#include "runtime/files.h"

#include <sys/stat.h>
#include <unistd.h>

namespace qdl {

bool isDirectory(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && (st.st_mode & 0040000) != 0;
}

bool isFile(const std::string& path) { return ::access(path.c_str(), F_OK) == 0 && !isDirectory(path); }

}  // namespace qdl
