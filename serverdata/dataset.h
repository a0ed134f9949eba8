#pragma once
// Data-set values: the server's settings and answers as an empty value, a
// string, an array, a dictionary or a data block. cgp::DataSet is the shared
// handle: copying it shares the value. Handles may be copied and dropped on
// any thread; the value itself is not locked, so only one thread at a time
// may change it. Nothing here throws but getPath.
#include <cstddef>
#include <string>
#include <unordered_map>
#include <vector>

#include "runtime/handle.h"
#include "runtime/mutex.h"

namespace cgp {
class data_set;
}

// All data-set handles change their rings under this one mutex. It is never
// destroyed: a detached thread may still release a data set while the
// process exits.
template <>
qdl::SimpleMutex& thread_safe_ptr<cgp::data_set>::mutex();

namespace cgp {

// The mutex above, for code that works on shared values under it.
qdl::SimpleMutex& globalPtrMutex();

class DataSet : public thread_safe_ptr<data_set> {
public:
    // The kinds of value.
    static constexpr int kEmpty = 0;
    static constexpr int kString = 1;
    static constexpr int kArray = 2;
    static constexpr int kDictionary = 3;
    static constexpr int kData = 4;

    DataSet() {}  // a null handle: no value at all
    explicit DataSet(int type);
    DataSet(int type, const DataSet& parent);
    explicit DataSet(const std::string& text);
    explicit DataSet(const char* text);
    explicit DataSet(bool flag);  // "YES" or "NO"

    // A new value of the same kind and text whose elements and members are
    // the same values (shared, not copied); its parent is emptyDataSet().
    DataSet clone() const;

    // Merges the source into this value: strings take its text, arrays
    // become a copy of it, dictionaries take its members, recursively.
    // Nothing for a null source, other kinds, or the value itself.
    void merge(const DataSet& source) const;

    // The value at a "."-separated path. With create, a missing first
    // segment is made (an array when the rest begins with a number, else a
    // dictionary; type for the last segment); deeper ones are only looked
    // up. A missing value gives a new empty one. Throws qdl::Exception
    // "Invalid Dataset Type" for a path through anything but an array or a
    // dictionary, and for an array index too large to create.
    DataSet getPath(const std::string& path, int type, bool create) const;
    DataSet getPath(const std::string& path) const;

    // The text form (dataset_text.cpp). A text or file that does not parse
    // gives an empty value; nothing is thrown. A file's parse error is
    // printed on standard output, a text's is not.
    static DataSet parse(const std::string& text);
    static DataSet parse(const std::string& text, const DataSet& parent);
    static DataSet loadFromFile(const std::string& path);
    static DataSet loadFromFile(const std::string& path, const DataSet& parent);
    // Writes the multi-line form to a new file beside the path and renames it
    // over the path once it is complete and synced; false on any failure,
    // with the old file untouched.
    static bool saveToFile(const DataSet& value, const std::string& path);
    static std::string toString(const DataSet& value, bool multiLine);

    // Deep comparison of the values; two null handles are equal.
    bool operator==(const DataSet& other) const;
    bool operator!=(const DataSet& other) const { return !(*this == other); }

private:
    static DataSet withParent(const DataSet& value, const DataSet& parent);
};

// The process-wide empty value, default parent of every value. Never
// destroyed, for the same reason as the mutex.
const DataSet& emptyDataSet();

// Dictionary keys hash as h = 5 * h + byte, the bytes taken as signed.
struct KeyHash {
    std::size_t operator()(const std::string& key) const;
};

class data_set {
public:
    typedef std::vector<DataSet> Elements;
    typedef std::unordered_map<std::string, DataSet, KeyHash> Members;

    explicit data_set(int type = DataSet::kEmpty);
    data_set(int type, const DataSet& parent);

    int getType() const { return type_; }
    void setType(int type);  // only while the value is empty
    bool isEmpty() const { return type_ == DataSet::kEmpty; }

    // The text read as a flag, a number or a float, whatever the kind.
    bool asBool() const;
    int asInt() const;
    float asFloat() const;
    void setBool(bool flag);
    void setFloat(float number);  // no trailing zeros: 2.5, 3, -2

    DataSet getParent() const;

    // Deep comparison; dictionaries compare their members.
    bool equals(const data_set& other) const;
    bool operator==(const data_set& other) const { return equals(other); }
    bool operator!=(const data_set& other) const { return !equals(other); }

private:
    friend class DataSet;
    int type_;
    DataSet parent_;

public:
    std::string value;  // a string's text, a data block's bytes
    Elements elements;  // an array's members, in order
    Members members;    // a dictionary's entries; keys are case-sensitive
};

}  // namespace cgp
