#pragma once
// Tables keyed by strings that come from outside: dictionary members, the
// settings lookups' caches, the router's exact patterns.
#include <algorithm>
#include <cstddef>
#include <string>
#include <vector>

namespace cgp {

// The hash of such keys: keyed, with a key of the process's own
// (qdl::keyedHash), so that keys from outside cannot be chosen to collide.
// A table's order differs from process to process: whatever depends on it
// goes by byKey.
struct KeyHash {
    std::size_t operator()(const std::string& key) const;
};

// The entries of a table keyed by strings, in the byte order of their keys
// (unsigned, as std::string compares): where one entry wins over another,
// the winner must not change with the table's order.
template <typename Table>
std::vector<const typename Table::value_type*> byKey(const Table& table) {
    std::vector<const typename Table::value_type*> entries;
    entries.reserve(table.size());
    for (const auto& entry : table) entries.push_back(&entry);
    std::sort(entries.begin(), entries.end(), [](const typename Table::value_type* a,
                                                 const typename Table::value_type* b) { return a->first < b->first; });
    return entries;
}

}  // namespace cgp
