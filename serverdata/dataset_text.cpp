// The data-set text form: the writer, the reader's value stack and actions,
// and the entry points that parse a text or file and save a value.
#include "serverdata/dataset_text.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <vector>

#include "runtime/base64.h"
#include "runtime/escape.h"
#include "runtime/file_buffers.h"
#include "runtime/files.h"
#include "runtime/mutex.h"
#include "runtime/replacement_file.h"
#include "serverdata/internal/parser.h"
#include "serverdata/internal/parser_actions.h"

namespace cgp {

namespace {

// ---- writer ----

// What a byte asks of a string token: nothing (bare), quotes, or escaping
// (and quotes, unless escaping leaves a bare text).
const unsigned char kBare = 0, kQuote = 1, kEscape = 2;

struct ByteClasses {
    unsigned char of[256];
    ByteClasses() {
        std::memset(of, kQuote, sizeof of);
        for (const char* p = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_."; *p; ++p)
            of[static_cast<unsigned char>(*p)] = kBare;
        for (unsigned char c : {'\\', '\r', '\n', '\t', '"', '\0'}) of[c] = kEscape;
    }
};

unsigned char classOf(const char* text, std::size_t length) {
    static const ByteClasses classes;
    unsigned char found = kBare;
    for (std::size_t i = 0; i < length; ++i) found |= classes.of[static_cast<unsigned char>(text[i])];
    return found;
}

void appendQuoted(std::string& out, const std::string& text) {
    unsigned char found = text.empty() ? kQuote : classOf(text.data(), text.size());
    if (found == kBare) {
        out += text;
        return;
    }
    const std::size_t at = out.size();
    out += '"';
    if (found & kEscape) {
        qdl::cgpEscapeAppend(text.data(), text.size(), out);
        // Escaping may leave a bare text: "ab" and a CR.
        if (out.size() > at + 1 && classOf(out.data() + at + 1, out.size() - at - 1) == kBare) {
            out.erase(at, 1);
            return;
        }
    } else {
        out += text;
    }
    out += '"';
}

// Writes the text in pieces of about kPiece bytes: to a stream as they
// fill, or, for a string, kept until the end and then joined at the exact
// size: a growing string would hold up to three times the text at once.
class TextWriter {
public:
    TextWriter(std::ostream* stream, bool compact) : stream_(stream), compact_(compact) {}

    void write(const DataSet& value, int level, bool nested) {
        // get(), not isNull(): no lock for a handle this thread holds.
        const int kind = value.get() == nullptr ? DataSet::kEmpty : value->getType();
        if (kind == DataSet::kEmpty || kind > DataSet::kData) {
            // Inside an array or dictionary nothing at all would not read
            // back: "(a,,b)", "key = ;".
            if (nested) out_ += "\"\"";
            return;
        }
        const data_set& v = *value;
        switch (kind) {
        case DataSet::kString:
            appendQuoted(out_, v.value);
            break;
        case DataSet::kData:
            out_ += '[';
            qdl::base64EncodeAppend(v.value, out_);
            out_ += ']';
            break;
        case DataSet::kArray:
            changeLine(level);
            out_ += '(';
            for (std::size_t i = 0; i < v.elements.size(); ++i) {
                changeLine(level + 1);
                write(v.elements[i], level + 1, true);
                if (i + 1 < v.elements.size()) out_ += ',';
            }
            changeLine(level);
            out_ += ')';
            break;
        case DataSet::kDictionary: {
            changeLine(level);
            out_ += '{';
            for (const auto* member : byKey(v.members)) {
                changeLine(level + 1);
                // An empty key too: "" reads back as one.
                appendQuoted(out_, member->first);
                out_ += " = ";
                write(member->second, level + 1, true);
                out_ += ';';
            }
            changeLine(level);
            out_ += '}';
            break;
        }
        default:
            break;
        }
        spill();
    }

    // Hands the rest to the stream.
    void finish() {
        if (!out_.empty()) stream_->write(out_.data(), static_cast<std::streamsize>(out_.size()));
        out_.clear();
    }

    std::string text() {
        if (pieces_.empty()) return std::move(out_);
        std::size_t size = out_.size();
        for (const std::string& piece : pieces_) size += piece.size();
        std::string joined;
        joined.reserve(size);
        for (std::string& piece : pieces_) {
            joined += piece;
            std::string().swap(piece);
        }
        joined += out_;
        return joined;
    }

private:
    // A stream gets the text in pieces of about this size.
    static const std::size_t kPiece = 64 * 1024;

    void changeLine(int level) {
        if (compact_) return;
        static const std::string kSpaces(256, ' ');
        out_ += '\n';
        for (std::size_t n = static_cast<std::size_t>(2 * level); n > 0;) {
            const std::size_t piece = n < kSpaces.size() ? n : kSpaces.size();
            out_.append(kSpaces, 0, piece);
            n -= piece;
        }
    }

    void spill() {
        if (out_.size() < kPiece) return;
        if (stream_ != nullptr) {
            finish();
        } else {
            pieces_.push_back(std::move(out_));
            out_ = std::string();
        }
        out_.reserve(kPiece + kPiece / 4);
    }

    std::string out_;
    std::vector<std::string> pieces_;
    std::ostream* stream_;
    bool compact_;
};

// ---- reader ----

qdl::SimpleMutex& valueStackMutex() {
    static qdl::SimpleMutex* m = new qdl::SimpleMutex;
    return *m;
}

// The values the parser still refers to, in the order of its own stack. An
// action that uses up the values on top pops them, so the stack grows with
// the nesting depth, not with the size of the text. Until a value goes into
// a container the stack owns it bare: building the text's values takes no
// lock and copies no handle. An array's elements wait aside and go into it
// at once, at their exact number, when it is complete.
class ValueStack {
public:
    void clear() {
        for (data_set* item : items_) delete item;
        for (Entry& e : entries_) delete e.value;
        items_.clear();
        entries_.clear();
        delete spareString_;
        spareString_ = nullptr;
        result_ = -1;
        broken_ = false;
    }

    int push(int type) { return push(new data_set(type)); }
    // A new empty string: the one a key left, when there is one.
    int pushString() {
        data_set* value = spareString_ != nullptr ? spareString_ : new data_set(DataSet::kString);
        spareString_ = nullptr;
        return push(value);
    }
    // Keeps the top value, an empty string, for the next string: a key's
    // value is used up as soon as its text is in the dictionary, and
    // freeing it would leave small blocks that the allocator sorts again at
    // the next large request.
    void recycleString() {
        data_set* value = pop();
        if (spareString_ == nullptr && value->getType() == DataSet::kString && value->value.empty()) {
            spareString_ = value;
            return;
        }
        delete value;
    }
    int push(data_set* value) {
        entries_.push_back(Entry{value, kNoItems});
        return top();
    }
    // An array whose elements come: they wait at the end of the items.
    int pushArray() {
        entries_.push_back(Entry{new data_set(DataSet::kArray), items_.size()});
        return top();
    }

    bool valid(int index) const { return index >= 0 && static_cast<std::size_t>(index) < entries_.size(); }
    int top() const { return static_cast<int>(entries_.size()) - 1; }
    data_set& at(int index) { return *entries_[static_cast<std::size_t>(index)].value; }

    // The top value, complete, now the caller's.
    data_set* pop() {
        const Entry e = entries_.back();
        entries_.pop_back();
        if (e.itemsFrom != kNoItems) {
            // Above the array's own elements stands nothing: what stood
            // on the stack above it is complete and in its place already.
            data_set::Elements& elements = e.value->elements;
            elements.reserve(items_.size() - e.itemsFrom);
            for (std::size_t i = e.itemsFrom; i < items_.size(); ++i) elements.emplace_back(items_[i]);
            items_.resize(e.itemsFrom);
        }
        return e.value;
    }

    // The element goes to the array on top.
    void addItem(data_set* item) { items_.push_back(item); }

    // The actions only ever use the values on top; anything else is a
    // fault of the grammar, and the parse gives nothing rather than wrong
    // values.
    bool expect(bool layout) {
        if (!layout) broken_ = true;
        return layout;
    }
    bool isArray(int index) const { return entries_[static_cast<std::size_t>(index)].itemsFrom != kNoItems; }

    void setResult(int index) { result_ = index; }

    // The text's top-level list; null when the parse gave none.
    DataSet result() {
        if (broken_ || result_ < 0 || result_ != top() || entries_.size() != 1) return DataSet();
        return DataSet(pop());
    }

private:
    static const std::size_t kNoItems = static_cast<std::size_t>(-1);

    struct Entry {
        data_set* value;
        std::size_t itemsFrom;  // an array's first waiting element in items_
    };

    std::vector<Entry> entries_;
    std::vector<data_set*> items_;
    data_set* spareString_ = nullptr;
    int result_ = -1;
    bool broken_ = false;
};

// Never destroyed: a parse while the process exits still finds it.
ValueStack& valueStack() {
    static ValueStack* stack = new ValueStack;
    return *stack;
}

void setMember(data_set& dictionary, std::string&& key, data_set* value) {
    auto placed = dictionary.members.try_emplace(std::move(key), value);
    if (!placed.second) placed.first->second = DataSet(value);
}

// Pops the key and value on top into the dictionary.
void popMember(data_set& dictionary) {
    ValueStack& stack = valueStack();
    data_set* value = stack.pop();
    // The key's string is used for nothing else: its text moves.
    std::string key = std::move(stack.at(stack.top()).value);
    stack.at(stack.top()).value.clear();
    stack.recycleString();
    setMember(dictionary, std::move(key), value);
}

void appendUnescaped(std::string& out, const char* text) { qdl::cgpUnescapeAppend(text, tokenLength(text), out); }

// Base64 as the server reads it: line feeds and foreign bytes are skipped,
// "=" takes a place of value 0 and drops the byte it would end.
struct DataTables {
    signed char value[256];  // -1 skipped, -2 "="
    // A character's value shifted into its place in a group of four; the
    // top bit for "=" and skipped bytes, so one test finds a group that is
    // not four plain characters.
    std::uint32_t shifted[4][256];
    DataTables() {
        std::memset(value, -1, sizeof value);
        const char* alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
        for (int i = 0; i < 64; ++i) value[static_cast<unsigned char>(alphabet[i])] = static_cast<signed char>(i);
        value[static_cast<unsigned char>('=')] = -2;
        for (int c = 0; c < 256; ++c)
            for (int k = 0; k < 4; ++k)
                shifted[k][c] = value[c] >= 0 ? static_cast<std::uint32_t>(value[c]) << (18 - 6 * k) : 0x80000000u;
    }
};

void decodeData(const char* text, std::string& out) {
    static const DataTables tables;
    const std::size_t length = tokenLength(text);
    out.resize(length / 4 * 3 + 3);
    char* d = &out[0];
    const unsigned char* in = reinterpret_cast<const unsigned char*>(text);
    unsigned v[4];
    bool pad[4];
    int n = 0;
    std::size_t i = 0;
    while (i < length) {
        // Groups of four plain characters, the common case, at once.
        if (n == 0) {
            while (i + 4 <= length) {
                const std::uint32_t group = tables.shifted[0][in[i]] | tables.shifted[1][in[i + 1]] |
                                            tables.shifted[2][in[i + 2]] | tables.shifted[3][in[i + 3]];
                if (group & 0x80000000u) break;
                d[0] = static_cast<char>(group >> 16);
                d[1] = static_cast<char>(group >> 8);
                d[2] = static_cast<char>(group);
                d += 3;
                i += 4;
            }
            if (i >= length) break;
        }
        const signed char c = tables.value[in[i++]];
        if (c == -1) continue;
        pad[n] = c == -2;
        v[n] = pad[n] ? 0 : static_cast<unsigned>(c);
        if (++n < 4) continue;
        n = 0;
        if (!pad[0]) *d++ = static_cast<char>((v[0] << 2) | (v[1] >> 4));
        if (!pad[2]) *d++ = static_cast<char>(((v[1] & 15) << 4) | (v[2] >> 2));
        if (!pad[3]) *d++ = static_cast<char>(((v[2] & 3) << 6) | v[3]);
    }
    // A short group counts its missing places as "="; one place alone
    // makes no byte.
    if (n >= 2) {
        if (!pad[0]) *d++ = static_cast<char>((v[0] << 2) | (v[1] >> 4));
        if (n == 3 && !pad[2]) *d++ = static_cast<char>(((v[1] & 15) << 4) | (v[2] >> 2));
    }
    out.resize(static_cast<std::size_t>(d - out.data()));
}

// Runs one data-mode parse and returns the text's value: its top-level
// list, or the list's only element. Empty when nothing parsed.
template <class Parse>
DataSet readValue(Parse parse) {
    DataSet result(DataSet::kEmpty);
    // A nested parse would empty the value stack under the running one.
    if (ParseInProgress::onThisThread()) return result;
    qdl::ScopedLock guard(valueStackMutex());
    ValueStack& stack = valueStack();
    stack.clear();
    if (parse()) {
        const DataSet list = stack.result();
        if (!list.isNull()) result = list->elements.size() == 1 ? list->elements[0] : list;
    }
    stack.clear();
    return result;
}

}  // namespace

// ---- reader actions ----

int dsNewString(const char* text) {
    ValueStack& stack = valueStack();
    const int index = stack.pushString();
    appendUnescaped(stack.at(index).value, text);
    return index;
}

int dsAppendText(int index, const char* text) {
    ValueStack& stack = valueStack();
    if (stack.expect(index == stack.top())) appendUnescaped(stack.at(index).value, text);
    return index;
}

int dsNewArray() { return valueStack().push(DataSet::kArray); }

int dsNewArrayWith(int valueIndex) {
    ValueStack& stack = valueStack();
    if (!stack.expect(stack.valid(valueIndex) && valueIndex == stack.top())) return -1;
    data_set* value = stack.pop();
    const int index = stack.pushArray();
    stack.addItem(value);
    return index;
}

int dsArrayAppend(int arrayIndex, int valueIndex) {
    ValueStack& stack = valueStack();
    if (!stack.expect(stack.valid(arrayIndex) && stack.isArray(arrayIndex) && valueIndex == arrayIndex + 1 &&
                      valueIndex == stack.top()))
        return -1;
    stack.addItem(stack.pop());
    return arrayIndex;
}

int dsNewDictionary() { return valueStack().push(DataSet::kDictionary); }

int dsNewDictionaryWith(int keyIndex, int valueIndex) {
    ValueStack& stack = valueStack();
    if (!stack.expect(stack.valid(keyIndex) && valueIndex == keyIndex + 1 && valueIndex == stack.top())) return -1;
    data_set* dictionary = new data_set(DataSet::kDictionary);
    popMember(*dictionary);
    return stack.push(dictionary);  // in the key's place
}

int dsDictionarySet(int dictionaryIndex, int keyIndex, int valueIndex) {
    ValueStack& stack = valueStack();
    if (!stack.expect(stack.valid(dictionaryIndex) && keyIndex == dictionaryIndex + 1 && valueIndex == keyIndex + 1 &&
                      valueIndex == stack.top()))
        return -1;
    popMember(stack.at(dictionaryIndex));
    return dictionaryIndex;
}

int dsNewData(const char* text) {
    ValueStack& stack = valueStack();
    const int index = stack.push(DataSet::kData);
    decodeData(text, stack.at(index).value);
    return index;
}

void dsSetResult(int listIndex) { valueStack().setResult(listIndex); }

// ---- entry points ----

DataSet DataSet::withParent(const DataSet& value, const DataSet& parent) {
    DataSet* set = new DataSet(parent);
    {
        qdl::ScopedLock guard(globalPtrMutex());
        set = value->swapParent(set);
    }
    delete set;
    return value;
}

DataSet DataSet::parse(const std::string& text) { return parse(text, DataSet(kEmpty)); }

DataSet DataSet::parse(const std::string& text, const DataSet& parent) {
    if (text.empty()) return withParent(DataSet(kEmpty), parent);
    return withParent(readValue([&text] { return parseText(text, kDataMode); }), parent);
}

DataSet DataSet::loadFromFile(const std::string& path) { return loadFromFile(path, DataSet(kEmpty)); }

DataSet DataSet::loadFromFile(const std::string& path, const DataSet& parent) {
    // Only a regular file: a FIFO or device would block or never end.
    if (!qdl::isRegularFile(path)) return withParent(DataSet(kEmpty), parent);
    return withParent(readValue([&path] { return parseFile(path, kDataMode); }), parent);
}

bool DataSet::saveToFile(const DataSet& value, const std::string& path) {
    // Through a link the file it leads to is replaced, beside itself: the
    // rename must not put a plain file in the link's place.
    std::string target;
    if (!qdl::followLinks(path, target)) return false;
    const std::string::size_type slash = target.rfind('/');
    const std::string folder = slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
    // A short random name, whatever the length of the name it will replace:
    // the folder takes it (the leading "." keeps it out of listings). It
    // takes the mode and, where allowed, the owner of the file it replaces.
    qdl::ReplacementFile::Options options;
    options.lead = folder + ".pvx";
    options.randomCharacters = 12;
    struct stat old;
    if (::lstat(target.c_str(), &old) == 0 && S_ISREG(old.st_mode)) options.like = &old;
    qdl::ReplacementFile file(target, options);
    if (!file.isOpen()) return false;
    errno = 0;
    Level(0, value, false)(file.out());
    if (!file.commit()) {
        if (errno == 0) errno = EIO;
        return false;
    }
    return true;
}

std::string DataSet::toString(const DataSet& value, bool multiLine) {
    TextWriter writer(nullptr, !multiLine);
    writer.write(value, 0, false);
    return writer.text();
}

std::string quoteString(const std::string& text) {
    std::string out;
    appendQuoted(out, text);
    return out;
}

}  // namespace cgp

std::ostream& Level::operator()(std::ostream& out) const {
    cgp::TextWriter writer(&out, compact_);
    writer.write(value_, level_, level_ > 0);
    writer.finish();
    return out;
}

std::ostream& ChangeLine::operator()(std::ostream& out) const {
    if (compact_) return out;
    out << '\n' << std::string(static_cast<std::size_t>(2 * level_), ' ');
    return out;
}
