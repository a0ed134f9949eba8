#include "runtime/log.h"

#include <cstdio>
#include <unordered_map>

namespace qdl {

namespace {

struct RepeatEntry {
    std::string last;
    std::uint32_t count = 0;
};

struct LogState {
    std::unordered_map<std::string, RepeatEntry> repeats;
    Mutex logLock;
    Mutex outLock;
};

// Never destroyed: detached threads may still log while the process exits.
LogState& state() {
    static LogState* s = new LogState;
    return *s;
}

// Make the state at start-up, before anything logs from another thread.
const LogState& initialState = state();

void stripTrailingNewlines(std::string& text) {
    while (!text.empty() && text.back() == '\n') text.pop_back();
}

}  // namespace

ostream_base::~ostream_base() = default;

Mutex& outputLock() { return state().outLock; }

void writeOutput(const std::string& text) {
    ScopedLock guard(state().outLock);
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
}

void printLine(const std::string& line) { writeOutput(line + "\n"); }

outline::~outline() {
    std::string line = text();
    stripTrailingNewlines(line);
    line += '\n';
    writeOutput(line);
}

logline::~logline() {
    std::string message = text();
    if (!category_.empty()) {
        LogState& s = state();
        ScopedLock guard(s.logLock);
        RepeatEntry& entry = s.repeats[category_];
        if (entry.count > 0 && entry.last == message) {
            ++entry.count;
            return;
        }
        if (entry.count >= 2) {
            outline() << "* " << category_ << ": (Last message repeated " << entry.count << " times)";
        }
        entry.last = message;
        entry.count = 1;
    }

    std::string prefix = "* ";
    if (id_ != 0) prefix += "[" + std::to_string(id_) + "] ";
    if (!category_.empty()) prefix += category_ + ": ";

    stripTrailingNewlines(message);
    std::string out = prefix;
    out.reserve(prefix.size() + message.size() + 1);
    for (char c : message) {
        out += c;
        if (c == '\n') out += prefix;
    }
    outline() << out;
}

}  // namespace qdl
