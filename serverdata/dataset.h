#pragma once
// Data-set values: the server's settings and answers as an empty value, a
// string, an array, a dictionary or a data block. cgp::DataSet is the shared
// handle: copying it shares the value. Handles may be copied and dropped on
// any thread; the value itself is not locked, so only one thread at a time
// may change it. Nothing here throws but getPath.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "runtime/handle.h"
#include "runtime/mutex.h"
#include "serverdata/key_hash.h"

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
    DataSet(const DataSet& other) = default;
    DataSet& operator=(const DataSet& other) = default;
    // Moving hands the source's place in the ring over; the source is null.
    DataSet(DataSet&& other) noexcept;
    DataSet& operator=(DataSet&& other) noexcept;
    ~DataSet() override {}

    explicit DataSet(int type);
    DataSet(int type, const DataSet& parent);
    // Takes a value made with new; the handle starts its ring.
    explicit DataSet(data_set* value) : thread_safe_ptr<data_set>(value) {}
    explicit DataSet(const std::string& text);
    explicit DataSet(const char* text);
    explicit DataSet(bool flag);  // "YES" or "NO"

    // A new value of the same kind and text whose elements and members are
    // the same values (shared, not copied); its parent is emptyDataSet().
    DataSet clone() const;

    // Merges the source into this value: strings take its text, data blocks
    // its bytes, arrays become a copy of it, dictionaries take its members,
    // recursively. Nothing for a null source, other kinds, or the value
    // itself.
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
    // over the path once it is complete and synced, with the old file's mode
    // and, where allowed, its owner; any name the folder takes can be saved.
    // False on any failure, with errno set, the old file untouched and no
    // new file left behind. A symbolic link is followed through every level
    // and the file it finally leads to is replaced, so the link stays; a
    // link that leads nowhere gets its target made, as writing through it
    // would; a loop of links fails with ELOOP.
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

// The members of a dictionary: a hash map from key to value that takes no
// memory until it holds something (most values are no dictionaries). It
// offers the map's interface; the iterators of an empty one compare equal.
class Members {
public:
    typedef std::unordered_map<std::string, DataSet, KeyHash> Map;
    typedef Map::key_type key_type;
    typedef Map::mapped_type mapped_type;
    typedef Map::value_type value_type;
    typedef Map::size_type size_type;
    typedef Map::iterator iterator;
    typedef Map::const_iterator const_iterator;

    Members() = default;
    Members(const Members& other) : map_(other.empty() ? nullptr : new Map(*other.map_)) {}
    Members& operator=(const Members& other) {
        Members copy(other);
        swap(copy);
        return *this;
    }
    Members(Members&& other) noexcept = default;
    Members& operator=(Members&& other) noexcept = default;

    bool empty() const { return !map_ || map_->empty(); }
    size_type size() const { return map_ ? map_->size() : 0; }
    iterator begin() { return map_ ? map_->begin() : none().begin(); }
    iterator end() { return map_ ? map_->end() : none().end(); }
    const_iterator begin() const { return map_ ? map_->cbegin() : none().cbegin(); }
    const_iterator end() const { return map_ ? map_->cend() : none().cend(); }
    const_iterator cbegin() const { return begin(); }
    const_iterator cend() const { return end(); }

    iterator find(const key_type& key) { return map_ ? map_->find(key) : none().end(); }
    const_iterator find(const key_type& key) const { return map_ ? map_->find(key) : none().cend(); }
    size_type count(const key_type& key) const { return map_ ? map_->count(key) : 0; }
    DataSet& at(const key_type& key) { return owned("at").at(key); }
    const DataSet& at(const key_type& key) const { return owned("at").at(key); }

    DataSet& operator[](const key_type& key) { return map()[key]; }
    DataSet& operator[](key_type&& key) { return map()[std::move(key)]; }
    template <class... Args>
    std::pair<iterator, bool> emplace(Args&&... args) { return map().emplace(std::forward<Args>(args)...); }
    template <class Key, class... Args>
    std::pair<iterator, bool> try_emplace(Key&& key, Args&&... args) {
        return map().try_emplace(std::forward<Key>(key), std::forward<Args>(args)...);
    }
    std::pair<iterator, bool> insert(const value_type& member) { return map().insert(member); }
    template <class It>
    void insert(It first, It last) { map().insert(first, last); }
    size_type erase(const key_type& key) { return map_ ? map_->erase(key) : 0; }
    iterator erase(const_iterator at) { return owned("erase").erase(at); }
    iterator erase(iterator at) { return owned("erase").erase(at); }
    void clear() { map_.reset(); }
    void reserve(size_type count) { map().reserve(count); }
    void swap(Members& other) noexcept { map_.swap(other.map_); }

private:
    Map& map() {
        if (!map_) map_.reset(new Map);
        return *map_;
    }
    Map& owned(const char* what) const {
        if (!map_) throw std::out_of_range(std::string("Members::") + what);
        return *map_;
    }
    static Map& none();  // empty for ever: the iterators of an empty set

    std::unique_ptr<Map> map_;
};

class data_set {
public:
    typedef std::vector<DataSet> Elements;
    typedef cgp::Members Members;

    explicit data_set(int type = DataSet::kEmpty);
    data_set(int type, const DataSet& parent);
    data_set(const data_set&) = delete;
    data_set& operator=(const data_set&) = delete;

    ~data_set();

    int getType() const { return static_cast<int>(parentAndType_ & kTypeBits); }
    void setType(int type);  // only while the value is empty
    bool isEmpty() const { return getType() == DataSet::kEmpty; }

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
    static constexpr std::uintptr_t kTypeBits = 7;

    DataSet* parent() const { return reinterpret_cast<DataSet*>(parentAndType_ & ~kTypeBits); }
    DataSet* swapParent(DataSet* parent);

    // The kind in the low three bits, and the parent when one is set: one
    // word, as most values keep the default parent and a value is made for
    // every token of a text.
    std::uintptr_t parentAndType_;

public:
    std::string value;  // a string's text, a data block's bytes
    Elements elements;  // an array's members, in order
    Members members;    // a dictionary's entries; keys are case-sensitive
};

}  // namespace cgp
