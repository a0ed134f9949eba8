#include "serverdata/dataset.h"

#include <cctype>
#include <cstdlib>
#include <sstream>

#include "runtime/convert.h"
#include "runtime/exception.h"

template <>
qdl::SimpleMutex& thread_safe_ptr<cgp::data_set>::mutex() {
    static qdl::SimpleMutex* m = new qdl::SimpleMutex;
    return *m;
}

namespace cgp {

namespace {

// getPath creates array elements up to this index and no further: a path
// from outside must not make the process allocate billions of values, and
// no server array comes near it.
const unsigned long kMaxCreatedIndex = 100000;

// The head of a path as an index: its leading decimal digits, 0 when there
// are none; a number too large for the type stays at the largest value.
unsigned long readIndex(const std::string& head) {
    std::size_t i = 0;
    while (i < head.size() && std::isspace(static_cast<unsigned char>(head[i]))) ++i;
    if (i < head.size() && head[i] == '+') ++i;
    unsigned long index = 0;
    const unsigned long limit = static_cast<unsigned long>(-1) / 10 - 1;
    for (; i < head.size() && head[i] >= '0' && head[i] <= '9'; ++i) {
        if (index > limit) return static_cast<unsigned long>(-1);
        index = index * 10 + static_cast<unsigned long>(head[i] - '0');
    }
    return index;
}

int kindOf(const DataSet& value) { return value.isNull() ? DataSet::kEmpty : value->getType(); }

[[noreturn]] void invalidType() { throw qdl::Exception("Invalid Dataset Type", 0); }

}  // namespace

qdl::SimpleMutex& globalPtrMutex() { return thread_safe_ptr<data_set>::mutex(); }

const DataSet& emptyDataSet() {
    static const DataSet* empty = new DataSet(DataSet::kEmpty);
    return *empty;
}

// ---- the value ----

Members::Map& Members::none() {
    static Map* empty = new Map;
    return *empty;
}

// No parent stands for emptyDataSet(): no value joins that one ring, the
// busiest of the process.
data_set::data_set(int type) : parentAndType_(static_cast<std::uintptr_t>(type) & kTypeBits) {}

data_set::data_set(int type, const DataSet& parent)
    : parentAndType_(reinterpret_cast<std::uintptr_t>(new DataSet(parent)) | (static_cast<std::uintptr_t>(type) & kTypeBits)) {}

data_set::~data_set() {
    static_assert(alignof(DataSet) > kTypeBits, "the kind lives in a parent pointer's low bits");
    delete parent();
}

DataSet* data_set::swapParent(DataSet* parent) {
    DataSet* old = this->parent();
    parentAndType_ = reinterpret_cast<std::uintptr_t>(parent) | (parentAndType_ & kTypeBits);
    return old;
}

void data_set::setType(int type) {
    if (isEmpty()) parentAndType_ |= static_cast<std::uintptr_t>(type) & kTypeBits;
}

bool data_set::asBool() const {
    if (value.empty()) return false;
    const char c = value[0];
    return !(c == '-' || c == '0' || c == 'N' || c == 'n');
}

int data_set::asInt() const { return qdl::stringToInt(value); }

float data_set::asFloat() const { return static_cast<float>(std::atof(value.c_str())); }

void data_set::setBool(bool flag) { value = flag ? "YES" : "NO"; }

void data_set::setFloat(float number) {
    std::ostringstream out;
    out.setf(std::ios::fixed, std::ios::floatfield);
    out << static_cast<double>(number);
    std::string text = out.str();
    while (!text.empty() && text.back() == '0') text.pop_back();
    if (!text.empty() && text.back() == '.') text.pop_back();
    value = text;
}

DataSet data_set::getParent() const {
    qdl::ScopedLock guard(globalPtrMutex());
    const DataSet* set = parent();
    return set != nullptr ? *set : emptyDataSet();
}

bool data_set::equals(const data_set& other) const {
    if (this == &other) return true;
    if (getType() != other.getType()) return false;
    switch (getType()) {
    case DataSet::kEmpty:
        return true;
    case DataSet::kString:
    case DataSet::kData:
        return value == other.value;
    case DataSet::kArray:
        if (elements.size() != other.elements.size()) return false;
        for (std::size_t i = 0; i < elements.size(); ++i)
            if (elements[i] != other.elements[i]) return false;
        return true;
    case DataSet::kDictionary:
        if (members.size() != other.members.size()) return false;
        for (const auto& member : members) {
            const auto found = other.members.find(member.first);
            if (found == other.members.end() || found->second != member.second) return false;
        }
        return true;
    }
    return false;
}

// ---- the handle ----

DataSet::DataSet(DataSet&& other) noexcept {
    if (other.isNull()) return;
    qdl::ScopedLock guard(mutex());
    joinHandle(other);
    other.releaseHandle();
}

DataSet& DataSet::operator=(DataSet&& other) noexcept {
    if (&other == this) return *this;
    // Taken first: the value this handle lets go of may own the source.
    DataSet taken(std::move(other));
    qdl::ScopedLock guard(mutex());
    assignHandle(taken);
    taken.releaseHandle();
    return *this;
}

DataSet::DataSet(int type) : thread_safe_ptr<data_set>(new data_set(type)) {}

DataSet::DataSet(int type, const DataSet& parent) : thread_safe_ptr<data_set>(new data_set(type, parent)) {}

DataSet::DataSet(const std::string& text) : thread_safe_ptr<data_set>(new data_set(kString)) {
    get()->value = text;
}

DataSet::DataSet(const char* text) : DataSet(std::string(text)) {}

DataSet::DataSet(bool flag) : thread_safe_ptr<data_set>(new data_set(kString)) { get()->setBool(flag); }

bool DataSet::operator==(const DataSet& other) const {
    if (isNull() || other.isNull()) return isNull() && other.isNull();
    return get()->equals(*other.get());
}

DataSet DataSet::clone() const {
    if (isNull()) return DataSet();
    DataSet copy(get()->getType());
    copy->value = get()->value;
    copy->elements = get()->elements;
    copy->members = get()->members;
    return copy;
}

void DataSet::merge(const DataSet& source) const {
    // Held by value: the source may live inside this value, whose members
    // are released below.
    const DataSet from = source;
    if (from.isNull() || isNull() || from.get() == get()) return;
    data_set& to = *get();
    if (to.getType() != from->getType()) return;
    switch (to.getType()) {
    case kString:
    case kData:
        to.value = from->value;
        break;
    case kArray: {
        // Built aside from a copy of the list, then put in place: this value
        // may be inside the source, so each new element copies the source
        // as it stood, and the merge ends.
        const data_set::Elements list = from->elements;
        data_set::Elements made;
        made.reserve(list.size());
        for (const DataSet& element : list) {
            made.emplace_back(kindOf(element));
            made.back().merge(element);
        }
        to.elements.swap(made);
        break;
    }
    case kDictionary: {
        // A copy of the list, for the same reason.
        const data_set::Members list = from->members;
        for (const auto& member : list) {
            const auto found = to.members.find(member.first);
            if (found != to.members.end()) {
                found->second.merge(member.second);
            } else {
                DataSet made(kindOf(member.second));
                made.merge(member.second);
                to.members.emplace(member.first, made);
            }
        }
        break;
    }
    default:
        break;
    }
}

DataSet DataSet::getPath(const std::string& path, int type, bool create) const {
    const std::string::size_type dot = path.find('.');
    const std::string head = dot == std::string::npos ? path : path.substr(0, dot);
    const std::string rest = dot == std::string::npos ? std::string() : path.substr(dot + 1);

    int kind = type;
    if (create && !rest.empty())
        kind = (rest[0] == '0' || qdl::stringToUnsigned(rest) != 0) ? kArray : kDictionary;

    if (isNull()) invalidType();
    DataSet result(kEmpty);
    data_set& node = *get();
    if (node.getType() == kArray) {
        const unsigned long index = readIndex(head);
        if (index < node.elements.size()) {
            result = node.elements[index];
        } else if (create) {
            if (index >= kMaxCreatedIndex) invalidType();
            while (node.elements.size() <= index) {
                result = DataSet(kind);
                node.elements.push_back(result);
            }
        }
    } else if (node.getType() == kDictionary) {
        const auto found = node.members.find(head);
        if (found != node.members.end()) {
            result = found->second;
        } else if (create) {
            result = DataSet(kind);
            node.members.emplace(head, result);
        }
    } else {
        invalidType();
    }

    if (!rest.empty() && !result->isEmpty()) return result.getPath(rest, kString, false);
    return result;
}

DataSet DataSet::getPath(const std::string& path) const { return getPath(path, kString, false); }

}  // namespace cgp
