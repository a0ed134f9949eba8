// Reading and writing data-set text, measured against Python's json module
// on the same structure in the same run. Not a test: it prints figures.
//
//   dataset_bench [MB]
//
// The text is generated as the server writes its settings: a dictionary of
// accounts, each with quoted strings holding escapes, arrays of rules and
// aliases, a nested settings dictionary and a certificate as a data block.
// The same structure goes to Python as JSON (the data block as a base64
// string). Then one long token in each mode of the parser.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "runtime/base64.h"
#include "runtime/process.h"
#include "serverdata/dataset.h"
#include "serverdata/internal/parser.h"

using Clock = std::chrono::steady_clock;

namespace {

// Writes one structure twice: as multi-line data-set text, as compact JSON.
class Emitter {
public:
    void open(char bracket) {
        if (bracket == '{') {
            ds_ += '\n' + indent() + "{";
        } else {
            ds_ += '\n' + indent() + "(";
        }
        json_ += bracket == '{' ? '{' : '[';
        first_.push_back(true);
        ++depth_;
    }
    void close(char bracket) {
        --depth_;
        first_.pop_back();
        ds_ += '\n' + indent() + (bracket == '}' ? "}" : ")");
        json_ += bracket == '}' ? '}' : ']';
        endValue();
    }
    void key(const std::string& k) {
        separate();
        ds_ += '\n' + indent() + quoted(k) + " = ";
        json_ += jsonQuoted(k) + ": ";
        inMember_.push_back(true);
    }
    void element() {
        separate();
        ds_ += '\n' + indent();
        inMember_.push_back(false);
    }
    void string(const std::string& s) {
        ds_ += quoted(s);
        json_ += jsonQuoted(s);
        endValue();
    }
    void data(const std::string& bytes) {
        const std::string b64 = qdl::base64EncodeString(bytes);
        ds_ += "[" + b64 + "]";
        json_ += "\"" + b64 + "\"";
        endValue();
    }
    std::string& ds() { return ds_; }
    std::string& json() { return json_; }

private:
    std::string indent() const { return std::string(2 * depth_, ' '); }
    void separate() {
        if (!first_.back()) json_ += ", ";
        first_.back() = false;
    }
    void endValue() {
        if (inMember_.empty()) return;
        const bool member = inMember_.back();
        inMember_.pop_back();
        if (member) ds_ += ';';
        if (!member) ds_ += ',';
    }
    // Between double quotes; the two formats differ only in the escape of
    // a line feed.
    static std::string inQuotes(const std::string& s, const char* lineFeed) {
        std::string out = "\"";
        for (char c : s) {
            if (c == '"') out += "\\\"";
            else if (c == '\\') out += "\\\\";
            else if (c == '\n') out += lineFeed;
            else if (c == '\t') out += "\\t";
            else out += c;
        }
        return out + "\"";
    }
    static std::string quoted(const std::string& s) {
        bool bare = !s.empty();
        for (char c : s)
            if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_' && c != '.') bare = false;
        return bare ? s : inQuotes(s, "\\e");
    }
    static std::string jsonQuoted(const std::string& s) { return inQuotes(s, "\\n"); }

    std::string ds_, json_;
    std::vector<bool> first_, inMember_;
    int depth_ = 0;
};

// The emitter writes "," after every element; the last one of each array
// must go, as the format has none before ")".
void dropTrailingCommas(std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == ',') {
            std::size_t j = i + 1;
            while (j < text.size() && (text[j] == ' ' || text[j] == '\n')) ++j;
            if (j < text.size() && text[j] == ')') continue;
        }
        out += text[i];
    }
    text.swap(out);
}

std::string word(std::mt19937& gen, std::size_t length) {
    static const char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    std::string s(length, 'a');
    for (auto& c : s) c = kLetters[gen() % 62];
    return s;
}

void account(Emitter& e, std::mt19937& gen, int i) {
    char name[32];
    std::snprintf(name, sizeof name, "user%07d", i);  // written in the writer's key order
    e.key(name);
    e.open('{');
    e.key("Aliases");
    e.open('(');
    for (int a = 0; a < 3; ++a) {
        e.element();
        e.string(a == 1 ? "alias-" + word(gen, 6) : word(gen, 8));
    }
    e.close(')');
    e.key("Certificate");
    std::string bytes(400 + gen() % 800, '\0');
    for (auto& c : bytes) c = static_cast<char>(gen());
    e.data(bytes);
    e.key("Password");
    e.string("pw-" + word(gen, 12));
    e.key("RealName");
    e.string("Real \"" + word(gen, 5) + "\" Name " + std::to_string(i) + "\tsecond\\line");
    e.key("Rules");
    e.open('(');
    for (int r = 0; r < 2; ++r) {
        e.element();
        e.open('(');
        e.element();
        e.string(std::to_string(r + 1));
        e.element();
        e.string("Rule #" + std::to_string(r) + " for " + word(gen, 10));
        e.element();
        e.open('(');
        for (int c = 0; c < 2; ++c) {
            e.element();
            e.open('(');
            e.element();
            e.string(c ? "Subject" : "From");
            e.element();
            e.string("is");
            e.element();
            e.string("*@" + word(gen, 9) + ".example.com\nnext");
            e.close(')');
        }
        e.close(')');
        e.element();
        e.open('(');
        e.element();
        e.string("Redirect to " + word(gen, 8) + "@example.org");
        e.close(')');
        e.close(')');
    }
    e.close(')');
    e.key("Settings");
    e.open('{');
    e.key("Comment");
    e.string("Line one\nLine two with \"quotes\" and a \\ backslash, " + word(gen, 20));
    e.key("MaxAccountSize");
    e.string("100M");
    e.key("MaxWebSize");
    e.string("10M");
    e.key("UseAppPassword");
    e.string("YES");
    e.close('}');
    e.close('}');
}

// A request this large makes the allocator merge the small blocks freed
// before it, which it would otherwise do inside the next timed step. The
// block goes through a volatile pointer: the compiler drops a malloc whose
// block nobody uses, and the merge with it.
void settleAllocator() {
    void* volatile block = std::malloc(64 * 1024);
    std::free(block);
}

double seconds(Clock::time_point a, Clock::time_point b) { return std::chrono::duration<double>(b - a).count(); }

long statusKb(const char* field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    const std::size_t n = std::strlen(field);
    while (std::getline(status, line))
        if (line.compare(0, n, field) == 0) return std::atol(line.c_str() + n);
    return -1;
}

long currentRssKb() { return statusKb("VmRSS:"); }

// The peak from here on: what building the text took does not count.
bool resetPeak() {
    std::ofstream clear("/proc/self/clear_refs");
    clear << "5";
    clear.flush();
    return static_cast<bool>(clear);
}

long peakRssKb() {
    const long peak = statusKb("VmHWM:");
    if (peak >= 0) return peak;
    rusage usage;
    ::getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

std::string findPython() {
    const char* path = std::getenv("PATH");
    std::stringstream dirs(path ? path : "/usr/bin");
    std::string dir;
    while (std::getline(dirs, dir, ':')) {
        const std::string candidate = dir + "/python3";
        if (::access(candidate.c_str(), X_OK) == 0) return candidate;
    }
    return "";
}

const char kPythonScript[] = R"py(
import json, sys, time
text = open(sys.argv[1], encoding="utf-8").read()
# Each figure times its own step alone: the previous result is released
# first, and that release is timed on its own.
loads = release = dumps = None
obj = None
for _ in range(int(sys.argv[2])):
    t = time.perf_counter(); obj = None; d = time.perf_counter() - t
    if obj is None and _ > 0: release = d if release is None or d < release else release
    t = time.perf_counter(); obj = json.loads(text); d = time.perf_counter() - t
    loads = d if loads is None or d < loads else loads
out = None
for _ in range(int(sys.argv[2])):
    out = None
    t = time.perf_counter(); out = json.dumps(obj); d = time.perf_counter() - t
    dumps = d if dumps is None or d < dumps else dumps
print(len(text), loads, len(out), dumps, release)
)py";

long minorFaults() {
    rusage usage;
    ::getrusage(RUSAGE_SELF, &usage);
    return usage.ru_minflt;
}

// The best of a few runs of one parse: its seconds, and the fresh pages the
// process took during it (where the allocator had none to give again).
struct Run {
    double seconds = 1e9;
    long freshPages = 0;
};

template <typename Parse>
Run bestOf(int rounds, Parse parse) {
    Run best;
    for (int r = 0; r < rounds; ++r) {
        settleAllocator();
        const long faults = minorFaults();
        const auto t0 = Clock::now();
        if (!parse()) return Run{-1, 0};
        const double took = seconds(t0, Clock::now());
        if (took < best.seconds) best = Run{took, minorFaults() - faults};
    }
    return best;
}

// The best of a few runs of one parse, each in a child of its own: every
// size meets a fresh allocator, so what grows with the size is the parse,
// not whether the heap still holds pages from a smaller run before it.
template <typename Parse>
Run bestOfFresh(int rounds, Parse parse) {
    Run best;
    for (int r = 0; r < rounds; ++r) {
        int ends[2];
        if (::pipe(ends) != 0) return Run{-1, 0};
        const pid_t child = ::fork();
        if (child == 0) {
            ::close(ends[0]);
            const Run one = bestOf(1, parse);
            const bool sent = ::write(ends[1], &one, sizeof one) == static_cast<ssize_t>(sizeof one);
            ::_exit(sent ? 0 : 1);
        }
        ::close(ends[1]);
        Run one{-1, 0};
        const bool got = child > 0 && ::read(ends[0], &one, sizeof one) == static_cast<ssize_t>(sizeof one);
        ::close(ends[0]);
        if (child > 0) ::waitpid(child, nullptr, 0);
        if (!got || one.seconds < 0) return Run{-1, 0};
        if (one.seconds < best.seconds) best = one;
    }
    return best;
}

// One token that is the whole text, in each mode, at 4 and 16 MB: the time
// grows with the token's length, not its square; then a 64 MB data block
// against as much ordinary text (the accounts), and the memory the block
// takes while it parses.
void longTokens() {
    const double mb = 1 << 20;
    struct Shape {
        const char* name;
        int mode;
        std::string (*make)(std::size_t);
    };
    const Shape shapes[] = {
        {"data string", cgp::kDataMode, [](std::size_t n) { return "\"" + std::string(n, 'a') + "\""; }},
        {"data block", cgp::kDataMode, [](std::size_t n) { return "[" + std::string(n, 'A') + "]"; }},
        {"data atom", cgp::kDataMode, [](std::size_t n) { return std::string(n, 'a'); }},
        {"router atom", cgp::kRouterMode, [](std::size_t n) { return "<" + std::string(n, 'a') + "> = b"; }},
        {"router quoted", cgp::kRouterMode, [](std::size_t n) { return "a = \"" + std::string(n, 'a') + "\"b"; }},
        {"page string", cgp::kPageMode, [](std::size_t n) { return "%%\"" + std::string(n, 'a') + "\"%%"; }},
        {"page text", cgp::kPageMode, [](std::size_t n) { return std::string(n, 'a'); }},
        {"page name", cgp::kPageMode, [](std::size_t n) { return "%%" + std::string(n, 'a') + "%%"; }},
    };
    std::printf("long tokens: one token the whole text, best of 3 runs each in a fresh process (goal: 16 MB below 6 x 4 MB), with the fresh "
                "pages per MB the best run took\n");
    for (const Shape& shape : shapes) {
        Run runs[2];
        const std::size_t sizes[2] = {4 << 20, 16 << 20};
        for (int k = 0; k < 2; ++k) {
            const std::string text = shape.make(sizes[k]);
            runs[k] = bestOfFresh(3, [&] {
                return shape.mode == cgp::kDataMode ? !cgp::DataSet::parse(text)->isEmpty()
                                                    : cgp::parseText(text, shape.mode);
            });
        }
        std::printf("  %-14s  4 MB %7.3f s (%4.0f)   16 MB %7.3f s (%4.0f)   %5.2f x\n", shape.name, runs[0].seconds,
                    runs[0].freshPages / 4.0, runs[1].seconds, runs[1].freshPages / 16.0,
                    runs[1].seconds / runs[0].seconds);
    }

    const std::string block = "[" + std::string(64 << 20, 'A') + "]";
    const long baseKb = currentRssKb();
    const bool peakReset = resetPeak();
    const double blockTime = bestOf(3, [&] { return !cgp::DataSet::parse(block)->isEmpty(); }).seconds;
    const long peakKb = peakRssKb();
    // The accounts as above, as much text as the block.
    std::string big;
    {
        Emitter e;
        std::mt19937 gen(42);
        e.open('{');
        for (int i = 0; e.ds().size() < block.size(); ++i) account(e, gen, i);
        e.close('}');
        big.swap(e.ds());
    }
    dropTrailingCommas(big);
    const double ordinaryTime = bestOf(3, [&] { return !cgp::DataSet::parse(big)->isEmpty(); }).seconds;
    std::printf("  64 MB data block %7.3f s, %.0f MB of ordinary text %7.3f s (goal: about the same or less); "
                "memory while the block parses %.1f x the block (%s)\n",
                blockTime, big.size() / mb, ordinaryTime, (peakKb - baseKb) * 1024.0 / block.size(),
                peakReset ? "peak above the start" : "whole run");
}

}  // namespace

int main(int argc, char** argv) {
    const double megabytes = argc > 1 ? std::atof(argv[1]) : 20.0;
    const int rounds = 9;

    std::string text;
    std::string json;
    {
        Emitter e;
        std::mt19937 gen(42);
        e.open('{');
        for (int i = 0; e.ds().size() < megabytes * 1e6; ++i) account(e, gen, i);
        e.close('}');
        text.swap(e.ds());
        json.swap(e.json());
    }
    dropTrailingCommas(text);
    const std::string jsonPath = "/tmp/dataset_bench_" + std::to_string(::getpid()) + ".json";
    {
        std::ofstream out(jsonPath, std::ios::binary);
        out << json;
    }
    const std::size_t jsonSize = json.size();
    std::string().swap(json);
    const long baseKb = currentRssKb();
    const bool peakReset = resetPeak();

    // Each figure times its own step alone: the previous value is released
    // first, and that release is timed on its own, the allocator's work on
    // the freed memory included.
    double parseBest = 1e9, releaseBest = 1e9;
    cgp::DataSet value;
    for (int r = 0; r < rounds; ++r) {
        const auto t0 = Clock::now();
        value = cgp::DataSet();
        settleAllocator();
        if (r > 0) releaseBest = std::min(releaseBest, seconds(t0, Clock::now()));
        const auto t1 = Clock::now();
        value = cgp::DataSet::parse(text);
        parseBest = std::min(parseBest, seconds(t1, Clock::now()));
    }
    if (value->getType() != cgp::DataSet::kDictionary) {
        std::fprintf(stderr, "dataset_bench: the generated text did not parse\n");
        return 1;
    }
    const long afterParseKb = currentRssKb();

    // Written back as a reader of the text would: the text is gone by then.
    const std::size_t textSize = text.size();
    const std::size_t textHash = std::hash<std::string>()(text);
    std::string().swap(text);

    double multiBest = 1e9, compactBest = 1e9;
    std::size_t multiSize = 0, compactSize = 0;
    bool same = false;
    for (int r = 0; r < rounds; ++r) {
        auto t0 = Clock::now();
        std::string written = cgp::DataSet::toString(value, true);
        multiBest = std::min(multiBest, seconds(t0, Clock::now()));
        multiSize = written.size();
        same = written.size() == textSize && std::hash<std::string>()(written) == textHash;
        std::string().swap(written);
        t0 = Clock::now();
        written = cgp::DataSet::toString(value, false);
        compactBest = std::min(compactBest, seconds(t0, Clock::now()));
        compactSize = written.size();
    }
    const long peakKb = peakRssKb();

    // The compact form holds no indentation, as the JSON holds none.
    double compactParseBest = 1e9;
    {
        const std::string compact = cgp::DataSet::toString(value, false);
        value = cgp::DataSet();
        for (int r = 0; r < rounds; ++r) {
            value = cgp::DataSet();
            settleAllocator();
            const auto t0 = Clock::now();
            value = cgp::DataSet::parse(compact);
            compactParseBest = std::min(compactParseBest, seconds(t0, Clock::now()));
        }
    }

    const double mb = 1e6;
    std::printf("data-set text: %.1f MB (%zu accounts), JSON of the same structure: %.1f MB\n", textSize / mb,
                value->members.size(), jsonSize / mb);
    std::printf("  parse:              %7.3f s  %7.1f MB/s\n", parseBest, textSize / mb / parseBest);
    std::printf("  parse compact:      %7.3f s  %7.1f MB/s\n", compactParseBest, compactSize / mb / compactParseBest);
    std::printf("  release the value:  %7.3f s\n", releaseBest);
    std::printf("  write multi-line:   %7.3f s  %7.1f MB/s  (%s the text read)\n", multiBest, multiSize / mb / multiBest,
                same ? "byte for byte" : "NOT");
    std::printf("  write compact:      %7.3f s  %7.1f MB/s  (%.1f MB)\n", compactBest, compactSize / mb / compactBest,
                compactSize / mb);
    std::printf("  memory: the parsed value holds %.1f MB; peak %.1f MB = %.2f x the text (%s: the text and the "
                "value while parsing, the value and the text written)\n",
                (afterParseKb - baseKb) / 1024.0, peakKb / 1024.0, peakKb * 1024.0 / textSize,
                peakReset ? "parsing and writing" : "the whole run");

    const std::string python = findPython();
    if (python.empty()) {
        std::printf("python: no python3 in PATH, skipped\n");
    } else {
        std::vector<std::string> args = {"-c", kPythonScript, jsonPath, std::to_string(rounds)};
        qdl::Process child = qdl::Process::launch(python, args);
        std::string out, err;
        child.communicate(out, err, 600000);
        double loads = 0, dumps = 0, released = 0;
        std::size_t in = 0, dumped = 0;
        if (std::sscanf(out.c_str(), "%zu %lf %zu %lf %lf", &in, &loads, &dumped, &dumps, &released) == 5 && loads > 0 &&
            dumps > 0) {
            std::printf("python json (same structure):\n");
            std::printf("  json.loads:         %7.3f s  %7.1f MB/s\n", loads, in / mb / loads);
            std::printf("  json.dumps:         %7.3f s  %7.1f MB/s\n", dumps, dumped / mb / dumps);
            std::printf("  release the value:  %7.3f s\n", released);
            std::printf("goals: parse %.2f x (multi-line) and %.2f x (compact) json.loads time, write %.2f x "
                        "(multi-line) and %.2f x (compact) json.dumps time (below 1 is faster), peak %.2f x the text "
                        "(goal below 6)\n",
                        parseBest / loads, compactParseBest / loads, multiBest / dumps, compactBest / dumps,
                        peakKb * 1024.0 / textSize);
        } else {
            std::printf("python: no figures (%s)\n", err.c_str());
        }
    }
    std::remove(jsonPath.c_str());
    longTokens();
    return 0;
}
