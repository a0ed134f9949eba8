// The data-set text form: the writer, the reader's value stack and actions,
// and the entry points that parse a text or file and save a value.
#include "serverdata/dataset_text.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <deque>
#include <vector>

#include "runtime/base64.h"
#include "runtime/escape.h"
#include "runtime/files.h"
#include "runtime/mutex.h"
#include "serverdata/parser.h"
#include "serverdata/parser_actions.h"

namespace cgp {

namespace {

// ---- writer ----

struct ByteTables {
    bool bare[256];     // written without quotes
    bool escaped[256];  // changed by cgpEscape
    ByteTables() {
        const char* plain = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_.";
        std::memset(bare, 0, sizeof bare);
        std::memset(escaped, 0, sizeof escaped);
        for (const char* p = plain; *p; ++p) bare[static_cast<unsigned char>(*p)] = true;
        for (char c : std::string("\\\r\n\t\"", 5) + '\0') escaped[static_cast<unsigned char>(c)] = true;
    }
};

const ByteTables& byteTables() {
    static const ByteTables t;
    return t;
}

bool needsEscape(const std::string& text) {
    const ByteTables& t = byteTables();
    for (unsigned char c : text)
        if (t.escaped[c]) return true;
    return false;
}

bool isBare(const std::string& text) {
    if (text.empty()) return false;
    const ByteTables& t = byteTables();
    for (unsigned char c : text)
        if (!t.bare[c]) return false;
    return true;
}

void appendQuoted(std::string& out, const std::string& text) {
    // Most texts need no escaping: no copy for them.
    std::string copy;
    const std::string& escaped = needsEscape(text) ? (copy = qdl::cgpEscape(text)) : text;
    if (isBare(escaped)) {
        out += escaped;
        return;
    }
    out += '"';
    out += escaped;
    out += '"';
}

// Writes into a string; with a stream, hands the text on in pieces.
class TextWriter {
public:
    TextWriter(std::string& out, std::ostream* stream, bool compact)
        : out_(out), stream_(stream), compact_(compact) {}

    void write(const DataSet& value, int level, bool nested) {
        if (value.isNull() || value->isEmpty()) {
            // Inside an array or dictionary nothing at all would not read
            // back: "(a,,b)", "key = ;".
            if (nested) out_ += "\"\"";
            return;
        }
        const data_set& v = *value;
        switch (v.getType()) {
        case DataSet::kString:
            appendQuoted(out_, v.value);
            break;
        case DataSet::kData:
            out_ += '[';
            out_ += qdl::base64EncodeString(v.value);
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
            // Byte order, unsigned: std::string compares through memcmp.
            std::vector<const data_set::Members::value_type*> sorted;
            sorted.reserve(v.members.size());
            for (const auto& member : v.members) sorted.push_back(&member);
            std::sort(sorted.begin(), sorted.end(),
                      [](const data_set::Members::value_type* a, const data_set::Members::value_type* b) {
                          return a->first < b->first;
                      });
            for (const auto* member : sorted) {
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

    void finish() {
        if (stream_ != nullptr && !out_.empty()) {
            stream_->write(out_.data(), static_cast<std::streamsize>(out_.size()));
            out_.clear();
        }
    }

private:
    // A stream gets the text in pieces of about this size.
    static const std::size_t kPiece = 64 * 1024;

    void changeLine(int level) {
        if (compact_) return;
        out_ += '\n';
        out_.append(static_cast<std::size_t>(2 * level), ' ');
    }

    void spill() {
        if (stream_ != nullptr && out_.size() >= kPiece) finish();
    }

    std::string& out_;
    std::ostream* stream_;
    bool compact_;
};

// ---- reader ----

// The value stack and the index of the text's top-level list. Never
// destroyed: a parse during the process's exit still finds them.
qdl::SimpleMutex& valueStackMutex() {
    static qdl::SimpleMutex* m = new qdl::SimpleMutex;
    return *m;
}

std::deque<DataSet>& valueStack() {
    static std::deque<DataSet>* stack = new std::deque<DataSet>;
    return *stack;
}

int resultIndex = -1;

int push(int type) {
    std::deque<DataSet>& stack = valueStack();
    stack.emplace_back(type);
    return static_cast<int>(stack.size() - 1);
}

data_set& at(int index) { return *valueStack()[static_cast<std::size_t>(index)]; }

const DataSet& handleAt(int index) { return valueStack()[static_cast<std::size_t>(index)]; }

void appendUnescaped(std::string& out, const char* text) {
    if (std::strchr(text, '\\') == nullptr)
        out += text;
    else
        out += qdl::cgpUnescape(text);
}

// Base64 as the server reads it: line feeds and foreign bytes are skipped,
// "=" takes a place of value 0 and drops the byte it would end.
struct DataTables {
    signed char value[256];  // -1 skipped, -2 "="
    DataTables() {
        std::memset(value, -1, sizeof value);
        const char* alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
        for (int i = 0; i < 64; ++i) value[static_cast<unsigned char>(alphabet[i])] = static_cast<signed char>(i);
        value[static_cast<unsigned char>('=')] = -2;
    }
};

void decodeData(const char* text, std::string& out) {
    static const DataTables tables;
    const std::size_t length = std::strlen(text);
    out.reserve(length / 4 * 3 + 3);
    unsigned v[4];
    bool pad[4];
    int n = 0;
    for (std::size_t i = 0; i < length; ++i) {
        const signed char c = tables.value[static_cast<unsigned char>(text[i])];
        if (c == -1) continue;
        pad[n] = c == -2;
        v[n] = pad[n] ? 0 : static_cast<unsigned>(c);
        if (++n < 4) continue;
        n = 0;
        if (!pad[0]) out += static_cast<char>((v[0] << 2) | (v[1] >> 4));
        if (!pad[2]) out += static_cast<char>(((v[1] & 15) << 4) | (v[2] >> 2));
        if (!pad[3]) out += static_cast<char>(((v[2] & 3) << 6) | v[3]);
    }
    // A short group counts its missing places as "="; one place alone
    // makes no byte.
    if (n >= 2) {
        if (!pad[0]) out += static_cast<char>((v[0] << 2) | (v[1] >> 4));
        if (n == 3 && !pad[2]) out += static_cast<char>(((v[1] & 15) << 4) | (v[2] >> 2));
    }
}

// Runs one data-mode parse and returns the text's value: its top-level
// list, or the list's only element. Empty when nothing parsed.
template <class Parse>
DataSet readValue(Parse parse) {
    DataSet result(DataSet::kEmpty);
    // A nested parse would empty the value stack under the running one.
    if (ParseInProgress::onThisThread()) return result;
    qdl::ScopedLock guard(valueStackMutex());
    std::deque<DataSet>& stack = valueStack();
    stack.clear();
    resultIndex = -1;
    if (parse() && resultIndex >= 0) {
        const DataSet& list = handleAt(resultIndex);
        result = list->elements.size() == 1 ? list->elements[0] : list;
    }
    stack.clear();
    resultIndex = -1;
    return result;
}

bool isRegularFile(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::atomic<unsigned> saveCounter{0};

// Creates a new, empty file beside the path under a name no other process
// or thread uses, with the mode of the file it will replace; "" on failure.
std::string createSibling(const std::string& path) {
    struct stat old;
    const bool replacing = ::stat(path.c_str(), &old) == 0;
    const std::string prefix = qdl::directoryOf(path) + "." + qdl::baseName(path) + "." +
                               std::to_string(static_cast<long>(::getpid())) + ".";
    for (;;) {
        const std::string name = prefix + std::to_string(++saveCounter) + ".tmp";
        const int fd = qdl::openFile(name, O_WRONLY | O_CREAT | O_EXCL);
        if (fd >= 0) {
            bool ok = !replacing || ::fchmod(fd, old.st_mode & 07777) == 0;
            qdl::closeFile(fd);
            if (ok) return name;
            qdl::removeFile(name);
            return std::string();
        }
        if (errno != EEXIST) return std::string();
    }
}

}  // namespace

// ---- reader actions ----

int dsNewString(const char* text) {
    const int index = push(DataSet::kString);
    appendUnescaped(at(index).value, text);
    return index;
}

int dsAppendText(int index, const char* text) {
    appendUnescaped(at(index).value, text);
    return index;
}

int dsNewArray() { return push(DataSet::kArray); }

int dsNewArrayWith(int valueIndex) {
    const int index = push(DataSet::kArray);
    at(index).elements.push_back(handleAt(valueIndex));
    return index;
}

int dsArrayAppend(int arrayIndex, int valueIndex) {
    at(arrayIndex).elements.push_back(handleAt(valueIndex));
    return arrayIndex;
}

int dsNewDictionary() { return push(DataSet::kDictionary); }

int dsNewDictionaryWith(int keyIndex, int valueIndex) {
    return dsDictionarySet(push(DataSet::kDictionary), keyIndex, valueIndex);
}

int dsDictionarySet(int dictionaryIndex, int keyIndex, int valueIndex) {
    // The key's string is used for nothing else: its text moves.
    std::string key = std::move(at(keyIndex).value);
    auto placed = at(dictionaryIndex).members.try_emplace(std::move(key), handleAt(valueIndex));
    if (!placed.second) placed.first->second = handleAt(valueIndex);
    return dictionaryIndex;
}

int dsNewData(const char* text) {
    const int index = push(DataSet::kData);
    decodeData(text, at(index).value);
    return index;
}

void dsSetResult(int listIndex) { resultIndex = listIndex; }

// ---- entry points ----

DataSet DataSet::withParent(const DataSet& value, const DataSet& parent) {
    qdl::ScopedLock guard(globalPtrMutex());
    value->parent_ = parent;
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
    if (!isRegularFile(path)) return withParent(DataSet(kEmpty), parent);
    return withParent(readValue([&path] { return parseFile(path, kDataMode); }), parent);
}

bool DataSet::saveToFile(const DataSet& value, const std::string& path) {
    const std::string temp = createSibling(path);
    if (temp.empty()) return false;
    bool written;
    {
        qdl::ofstream out(temp, std::ios_base::out | std::ios_base::trunc | std::ios_base::binary);
        Level(0, value, false)(out);
        out.flush();
        written = out.good();
        out.close();
        if (out.fail()) written = false;
    }
    if (!written || !qdl::syncFile(temp) || !qdl::renameFile(temp, path)) {
        qdl::removeFile(temp);
        return false;
    }
    qdl::syncDirectory(qdl::directoryOf(path));
    return true;
}

std::string DataSet::toString(const DataSet& value, bool multiLine) {
    std::string text;
    TextWriter(text, nullptr, !multiLine).write(value, 0, false);
    return text;
}

std::string quoteString(const std::string& text) {
    std::string out;
    appendQuoted(out, text);
    return out;
}

}  // namespace cgp

std::ostream& Level::operator()(std::ostream& out) const {
    std::string buffer;
    cgp::TextWriter writer(buffer, &out, compact_);
    writer.write(value_, level_, level_ > 0);
    writer.finish();
    return out;
}

std::ostream& ChangeLine::operator()(std::ostream& out) const {
    if (compact_) return out;
    out << '\n' << std::string(static_cast<std::size_t>(2 * level_), ' ');
    return out;
}
