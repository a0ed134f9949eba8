#include "runtime/convert.h"

#include <cctype>
#include <sstream>

namespace qdl {

int stringToInt(const std::string& text) {
    int value = 0;
    std::istringstream in(text);
    if (!(in >> value)) return 0;  // on overflow the stream stores a limit
    return value;
}

unsigned int stringToUnsigned(const std::string& text) {
    // The stream would wrap "-1" round to the largest value.
    size_t i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
    if (i < text.size() && text[i] == '-') return 0;
    unsigned int value = 0;
    std::istringstream in(text);
    if (!(in >> value)) return 0;
    return value;
}

std::string toString(int value) {
    std::ostringstream out;
    out << value;
    return out.str();
}

std::string toString(unsigned int value) {
    std::ostringstream out;
    out << value;
    return out.str();
}

bool replaceAll(std::string& text, const std::string& from, const std::string& to) {
    if (from.empty()) return false;
    bool changed = false;
    size_t pos = 0;
    while ((pos = text.find(from, pos)) != std::string::npos) {
        text.replace(pos, from.size(), to);
        pos += to.size();
        changed = true;
    }
    return changed;
}

bool endsWith(const std::string& text, const std::string& ending, size_t skip) {
    if (skip > text.size() || text.size() - skip < ending.size()) return false;
    // Whole bytes, embedded NULs included.
    return text.compare(text.size() - skip - ending.size(), ending.size(), ending) == 0;
}

}  // namespace qdl
