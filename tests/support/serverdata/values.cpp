#include "support/serverdata/values.h"

#include <algorithm>
#include <cstdio>
#include <vector>

namespace testsupport {

cgp::DataSet str(const std::string& text) { return cgp::DataSet(text); }

cgp::DataSet block(const std::string& bytes) {
    cgp::DataSet value(cgp::DataSet::kData);
    value->value = bytes;
    return value;
}

cgp::DataSet array(std::initializer_list<cgp::DataSet> elements) {
    cgp::DataSet value(cgp::DataSet::kArray);
    for (const auto& e : elements) value->elements.push_back(e);
    return value;
}

cgp::DataSet dict(std::initializer_list<std::pair<std::string, cgp::DataSet>> members) {
    cgp::DataSet value(cgp::DataSet::kDictionary);
    for (const auto& m : members) value->members[m.first] = m.second;
    return value;
}

cgp::DataSet none() { return cgp::DataSet(cgp::DataSet::kEmpty); }

namespace {

std::string shown(const std::string& text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        if (c >= 0x20 && c < 0x7f && c != '"' && c != '\\') {
            out += static_cast<char>(c);
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        }
    }
    return out + "\"";
}

}  // namespace

std::string describe(const cgp::DataSet& value) {
    if (value.isNull()) return "null";
    switch (value->getType()) {
    case cgp::DataSet::kEmpty: return "E";
    case cgp::DataSet::kString: return "S" + shown(value->value);
    case cgp::DataSet::kData: return "B" + shown(value->value);
    case cgp::DataSet::kArray: {
        std::string out = "A[";
        for (size_t i = 0; i < value->elements.size(); ++i) {
            if (i) out += ",";
            out += describe(value->elements[i]);
        }
        return out + "]";
    }
    case cgp::DataSet::kDictionary: {
        std::vector<std::string> keys;
        for (const auto& m : value->members) keys.push_back(m.first);
        std::sort(keys.begin(), keys.end());
        std::string out = "D{";
        for (size_t i = 0; i < keys.size(); ++i) {
            if (i) out += ",";
            out += shown(keys[i]) + ":" + describe(value->members.at(keys[i]));
        }
        return out + "}";
    }
    }
    return "?";
}

}  // namespace testsupport
