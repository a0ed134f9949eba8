// Throughput and memory of the filter on its main road, measured against
// tnef alone in the same run. Not a test: it prints figures.
//
//   filter_bench [messages] [tnef-kB] [big-MB]
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <random>
#include <string>
#include <vector>

#include "support/filter/message_builder.h"
#include "support/filter/server_fixture.h"
#include "support/filter/tnef_writer.h"

using namespace testsupport;
using Clock = std::chrono::steady_clock;

namespace {

std::string noise(std::size_t size, unsigned seed) {
    std::mt19937 gen(seed);
    std::string s(size, '\0');
    for (auto& c : s) c = static_cast<char>(gen());
    return s;
}

std::string tnefOf(std::size_t size, unsigned seed) {
    TnefWriter w;
    w.addAttachment("payload.bin", noise(size, seed));
    return w.bytes();
}

// Writes a queued message with one TNEF part, its base64 cut into lines of
// `lineLength` characters (0: the whole body on one line, as some broken
// mailers send it).
void writeMessage(const std::string& path, const std::string& tnef, std::size_t lineLength = 76) {
    std::ofstream out(path, std::ios::binary);
    out << envelope("sender@example.com", {"rcpt@example.com"});
    Part attachment = tnefPart(tnef);
    attachment.body = base64Lines(tnef, lineLength);
    Part mail = message("Bench", multipart("mixed", "bench-b", {textPart("See attached.\n"), attachment}));
    out << render(mail);
}

double seconds(Clock::time_point a, Clock::time_point b) { return std::chrono::duration<double>(b - a).count(); }

long peakKb(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string key;
    long value = -1;
    while (status >> key) {
        if (key == "VmHWM:") {
            status >> value;
            break;
        }
        status.ignore(1 << 20, '\n');
    }
    return value;
}

// Starts parvex in the base directory with pipes on its standard input and output.
pid_t startFilter(const ServerFixture& fx, int& toChild, int& fromChild) {
    int in[2], out[2];
    if (::pipe2(in, O_CLOEXEC) || ::pipe2(out, O_CLOEXEC)) std::exit(1);
    pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(in[0], 0);
        ::dup2(out[1], 1);
        if (::chdir(fx.baseDir().c_str()) != 0) ::_exit(126);
        ::execl(fx.parvex().c_str(), fx.parvex().c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(in[0]);
    ::close(out[1]);
    toChild = in[1];
    fromChild = out[0];
    return pid;
}

// Reads replies until `count` lines starting with a digit have come.
std::string readReplies(int fd, int count) {
    std::string all, line;
    char c;
    int replies = 0;
    while (replies < count && ::read(fd, &c, 1) == 1) {
        all += c;
        if (c != '\n') {
            line += c;
            continue;
        }
        if (!line.empty() && line[0] >= '0' && line[0] <= '9') ++replies;
        line.clear();
    }
    return all;
}

int countOf(const std::string& text, const std::string& word) {
    int n = 0;
    for (std::size_t at = text.find(word); at != std::string::npos; at = text.find(word, at + 1)) ++n;
    return n;
}

}  // namespace

int main(int argc, char** argv) {
    const int messages = argc > 1 ? std::atoi(argv[1]) : 200;
    const std::size_t tnefKb = argc > 2 ? std::strtoul(argv[2], nullptr, 10) : 100;
    const std::size_t bigMb = argc > 3 ? std::strtoul(argv[3], nullptr, 10) : 50;
    ::signal(SIGPIPE, SIG_IGN);

    ServerFixture fx;
    if (!fx.haveTnef()) {
        std::cerr << "tnef is not installed\n";
        return 1;
    }
    const std::string tnef = tnefOf(tnefKb * 1024, 1);
    std::string requests;
    for (int i = 1; i <= messages; ++i) {
        writeMessage(fx.baseDir() + "Queue/" + std::to_string(i) + ".msg", tnef);
        requests += std::to_string(i) + " FILE Queue/" + std::to_string(i) + ".msg\n";
    }

    // The filter in protocol mode.
    int toChild, fromChild;
    auto t0 = Clock::now();
    pid_t pid = startFilter(fx, toChild, fromChild);
    if (::write(toChild, requests.data(), requests.size()) != static_cast<ssize_t>(requests.size())) return 1;
    std::string replies = readReplies(fromChild, messages);
    auto t1 = Clock::now();
    ::close(toChild);
    ::close(fromChild);
    ::waitpid(pid, nullptr, 0);
    const int discarded = countOf(replies, " DISCARD\n");

    // tnef alone on the same data.
    TempDir work;
    writeFile(work / "winmail.dat", tnef);
    ::mkdir((work / "out").c_str(), 0755);
    auto t2 = Clock::now();
    for (int i = 0; i < messages; ++i) {
        auto r = runProgram({fx.systemTnef(), "-f", work / "winmail.dat", "-C", work / "out", "--overwrite"}, "");
        if (r.exitCode != 0) return 1;
    }
    auto t3 = Clock::now();

    const double filterRate = messages / seconds(t0, t1);
    const double tnefRate = messages / seconds(t2, t3);
    std::printf("messages: %d with a TNEF part of %zu KB (%d answered DISCARD)\n", messages, tnef.size() / 1024,
                discarded);
    std::printf("filter:     %8.1f messages/s\n", filterRate);
    std::printf("tnef alone: %8.1f messages/s\n", tnefRate);
    std::printf("ratio filter/tnef: %.2f\n", filterRate / tnefRate);

    // Peak memory of the filter itself (not its children) on one big message,
    // with ordinary 76-character lines and with the whole body on one line.
    const std::string big = tnefOf(bigMb * 1024 * 1024 * 3 / 4, 2);
    bool allDiscarded = discarded == messages;
    const struct {
        const char* label;
        std::size_t lineLength;
    } shapes[] = {{"76-character lines", 76}, {"one single line", 0}};
    for (const auto& shape : shapes) {
        const std::string name = shape.lineLength ? "big.msg" : "big-one-line.msg";
        writeMessage(fx.baseDir() + "Queue/" + name, big, shape.lineLength);
        struct stat st {};
        ::stat((fx.baseDir() + "Queue/" + name).c_str(), &st);
        pid = startFilter(fx, toChild, fromChild);
        const std::string request = "1 FILE Queue/" + name + "\n";
        if (::write(toChild, request.data(), request.size()) != static_cast<ssize_t>(request.size())) return 1;
        std::string reply = readReplies(fromChild, 1);
        const long peak = peakKb(pid);  // still running: waiting for the next request
        ::close(toChild);
        ::close(fromChild);
        ::waitpid(pid, nullptr, 0);
        if (reply.find("1 DISCARD\n") == std::string::npos) allDiscarded = false;
        std::printf("big message, %s: %.1f MB, reply %s", shape.label, st.st_size / 1048576.0,
                    reply.substr(reply.rfind('\n', reply.size() - 2) + 1).c_str());
        std::printf("filter peak memory, %s: %.1f MB\n", shape.label, peak / 1024.0);
        ::unlink((fx.baseDir() + "Queue/" + name).c_str());
        for (const std::string& file : fx.submitted()) ::unlink((fx.baseDir() + "Submitted/" + file).c_str());
    }
    return allDiscarded ? 0 : 1;
}
