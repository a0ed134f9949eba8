// Fuzzes the data-set reader. Whatever it reads must write, compact and
// multi-line, and read back equal: CR bytes aside, which the format has no
// escape for and the writer drops. The scanner's fast path must read the
// same tokens as its automaton, also where the read buffer cuts them.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "serverdata/dataset.h"
#include "serverdata/internal/scanner.h"

namespace {

using cgp::DataSet;

std::string withoutCR(std::string text) {
    text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
    return text;
}

// The value as its written text reads back: no CR in strings and keys, and
// of keys that then fall together the one written last, as keys are
// written in byte order and a repeated key replaces the earlier one.
DataSet asWritten(const DataSet& value) {
    switch (value->getType()) {
    case DataSet::kString:
        return DataSet(withoutCR(value->value));
    case DataSet::kArray: {
        DataSet list(DataSet::kArray);
        for (const DataSet& e : value->elements) list->elements.push_back(asWritten(e));
        return list;
    }
    case DataSet::kDictionary: {
        std::vector<std::string> keys;
        for (const auto& m : value->members) keys.push_back(m.first);
        std::sort(keys.begin(), keys.end());
        DataSet table(DataSet::kDictionary);
        for (const std::string& key : keys) table->members[withoutCR(key)] = asWritten(value->members.at(key));
        return table;
    }
    default:
        return value;
    }
}

[[noreturn]] void fail(const char* what, const std::string& text) {
    std::fprintf(stderr, "dataset_fuzz: %s\n%s\n", what, text.c_str());
    std::abort();
}

bool sameTokensBothWays(const std::string& text) {
    const std::vector<cgp::ScannedToken> fast = cgp::scanDataText(text);
    cgp::scannerUseFastPath(false);
    const std::vector<cgp::ScannedToken> automaton = cgp::scanDataText(text);
    cgp::scannerUseFastPath(true);
    return fast == automaton;
}

// Blanks that put the text across the end of the first read.
const std::size_t kBeforeTheCut = 16370;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    if (!sameTokensBothWays(text)) fail("the fast path read other tokens", text);
    if (!sameTokensBothWays(std::string(kBeforeTheCut - size % 32, ' ') + text))
        fail("the fast path read other tokens at the buffer's end", text);
    const DataSet value = DataSet::parse(text);
    if (value.isNull()) fail("a null value", text);
    if (value->isEmpty()) {
        // Nothing was read: nothing is written.
        if (!DataSet::toString(value, true).empty()) fail("an empty value written as text", text);
        return 0;
    }
    const DataSet expected = asWritten(value);
    for (bool multiLine : {false, true}) {
        const std::string written = DataSet::toString(value, multiLine);
        const DataSet back = DataSet::parse(written);
        if (!(back == expected)) fail(multiLine ? "multi-line text read back unequal" : "compact text read back unequal", written);
    }
    return 0;
}
