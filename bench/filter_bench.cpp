// Throughput and memory of the filter on its main road, measured in the same
// run against tnef alone and against the floor: the file and process steps
// every conversion needs, done in plain code without the codecs. Not a test:
// it prints figures.
//
//   filter_bench [messages] [tnef-kB] [big-MB] [rounds]
//
// Each round measures tnef alone, the floor and the filter once; the medians
// of the rounds are printed. The directories go on a tmpfs (TMPDIR, else
// /dev/shm), where the disk's noise stays out.
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "support/filter/message_builder.h"
#include "support/filter/server_fixture.h"
#include "support/filter/tnef_writer.h"

extern char** environ;

using namespace testsupport;
using Clock = std::chrono::steady_clock;

namespace {

const long kTmpfsMagic = 0x01021994;

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

// CPU seconds (user and system) of this process, or of the children it has
// waited for, their own children included.
double cpuSeconds(int who) {
    struct rusage u;
    ::getrusage(who, &u);
    return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

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

// CPU seconds of a running process itself and of the children it has waited
// for, from /proc.
void processCpu(pid_t pid, double& self, double& children) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    self = children = 0;
    const std::size_t close = text.rfind(')');
    if (close == std::string::npos) return;
    std::istringstream fields(text.substr(close + 2));
    std::vector<std::string> f;
    for (std::string x; fields >> x;) f.push_back(x);
    // After the name: state is field 3; utime, stime, cutime, cstime are 14 to 17.
    if (f.size() < 15) return;
    const double tick = static_cast<double>(::sysconf(_SC_CLK_TCK));
    self = (std::atof(f[11].c_str()) + std::atof(f[12].c_str())) / tick;
    children = (std::atof(f[13].c_str()) + std::atof(f[14].c_str())) / tick;
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

// Reads the output until `count` lines starting with a digit (the replies) have come.
std::string readReplies(int fd, int count) {
    std::string all;
    char buffer[65536];
    int replies = 0;
    std::size_t lineStart = 0;
    while (replies < count) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        all.append(buffer, static_cast<std::size_t>(n));
        for (std::size_t nl; (nl = all.find('\n', lineStart)) != std::string::npos; lineStart = nl + 1)
            if (all[lineStart] >= '0' && all[lineStart] <= '9') ++replies;
    }
    return all;
}

int countOf(const std::string& text, const std::string& word) {
    int n = 0;
    for (std::size_t at = text.find(word); at != std::string::npos; at = text.find(word, at + 1)) ++n;
    return n;
}

void fail(const std::string& what) {
    std::cerr << "filter_bench: " << what << ": " << std::strerror(errno) << "\n";
    std::exit(1);
}

// Runs a program as the filter runs tnef: argument vector, output and error
// on pipes read to their end, then the wait.
void runChild(const std::vector<std::string>& args) {
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0) fail("pipe");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, out[1], 2);
    std::vector<std::string> copy(args);
    std::vector<char*> argv;
    for (std::string& a : copy) argv.push_back(&a[0]);
    argv.push_back(nullptr);
    pid_t pid;
    const int rc = ::posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    if (rc != 0) {
        errno = rc;
        fail("spawn " + args[0]);
    }
    char buffer[65536];
    while (::read(out[0], buffer, sizeof buffer) > 0) {
    }
    ::close(out[0]);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) fail("tnef failed");
}

void writeAll(int fd, const std::string& data) {
    for (std::size_t done = 0; done < data.size();) {
        const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) fail("write");
        done += static_cast<std::size_t>(n);
    }
}

// Reads every file tnef wrote, then deletes it and winmail.dat.
void readAndDelete(const std::string& dir) {
    std::vector<std::string> names;
    DIR* d = ::opendir(dir.c_str());
    if (d == nullptr) fail("opendir");
    while (struct dirent* e = ::readdir(d))
        if (e->d_name[0] != '.') names.push_back(e->d_name);
    ::closedir(d);
    char buffer[65536];
    for (const std::string& name : names) {
        const std::string path = dir + "/" + name;
        if (name != "winmail.dat") {
            const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
            if (fd < 0) fail("open " + path);
            while (::read(fd, buffer, sizeof buffer) > 0) {
            }
            ::close(fd);
        }
        ::unlink(path.c_str());
    }
}

// The floor for one message: winmail.dat written, tnef run, what it wrote
// read and deleted, the converted copy written, synced and renamed, the
// directory synced.
void floorStep(const std::string& tnef, const std::string& tnefData, const std::string& copy,
               const std::string& unpackDir, const std::string& submitDir, int n) {
    const std::string dat = unpackDir + "/winmail.dat";
    int fd = ::open(dat.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) fail("open " + dat);
    writeAll(fd, tnefData);
    ::close(fd);
    runChild({tnef, "-f", dat, "--save-body=saved_body", "--number-backups", "--directory=" + unpackDir, "--verbose"});
    readAndDelete(unpackDir);
    const std::string name = submitDir + "/floor_" + std::to_string(n) + ".tmp";
    fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) fail("open " + name);
    writeAll(fd, copy);
    if (::fsync(fd) != 0) fail("fsync");
    ::close(fd);
    if (::rename(name.c_str(), (name + ".sub").c_str()) != 0) fail("rename");
    fd = ::open(submitDir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0 || ::fsync(fd) != 0) fail("fsync directory");
    ::close(fd);
}

void removeFiles(const std::string& dir) {
    for (const std::string& name : listDir(dir)) ::unlink((dir + "/" + name).c_str());
}

// The temporary folders go on a tmpfs unless TMPDIR says otherwise.
std::string chooseTmp() {
    const char* set = std::getenv("TMPDIR");
    if (set == nullptr || *set == '\0') {
        struct statfs fs;
        if (::statfs("/dev/shm", &fs) == 0 && fs.f_type == kTmpfsMagic) ::setenv("TMPDIR", "/dev/shm", 1);
    }
    const char* dir = std::getenv("TMPDIR");
    const std::string where = dir && *dir ? dir : "/tmp";
    struct statfs fs;
    const bool tmpfs = ::statfs(where.c_str(), &fs) == 0 && fs.f_type == kTmpfsMagic;
    return where + (tmpfs ? " (tmpfs)" : " (not a tmpfs: the disk adds its noise)");
}

}  // namespace

int main(int argc, char** argv) {
    const int messages = argc > 1 ? std::atoi(argv[1]) : 200;
    const std::size_t tnefKb = argc > 2 ? std::strtoul(argv[2], nullptr, 10) : 100;
    const std::size_t bigMb = argc > 3 ? std::strtoul(argv[3], nullptr, 10) : 50;
    const int rounds = argc > 4 ? std::max(1, std::atoi(argv[4])) : 5;
    ::signal(SIGPIPE, SIG_IGN);
    const std::string where = chooseTmp();

    ServerFixture fx;
    if (!fx.haveTnef()) {
        std::cerr << "tnef is not installed\n";
        return 1;
    }
    const std::string tnefProgram = fx.programDir() + "tnef";
    const std::string tnef = tnefOf(tnefKb * 1024, 1);
    std::string requests;
    for (int i = 1; i <= messages; ++i) {
        writeMessage(fx.baseDir() + "Queue/" + std::to_string(i) + ".msg", tnef);
        requests += std::to_string(i) + " FILE Queue/" + std::to_string(i) + ".msg\n";
    }
    TempDir work;
    const std::string unpackDir = work / "unpack";
    const std::string submitDir = work / "Submitted";
    ::mkdir(unpackDir.c_str(), 0755);
    ::mkdir(submitDir.c_str(), 0755);
    ::mkdir((work / "out").c_str(), 0755);
    writeFile(work / "winmail.dat", tnef);

    std::printf("messages: %d with a TNEF part of %zu KB, %d rounds, in %s\n", messages, tnef.size() / 1024, rounds,
                where.c_str());
    std::vector<double> tnefRates, floorRates, filterRates;
    std::vector<double> tnefCpu, floorCpu, filterCpu;  // milliseconds per message
    std::vector<double> filterOwnCpu, filterTnefCpu;  // the filter's share and its children's
    std::string copy;  // a converted message as the filter writes it, for the floor to write
    bool allDiscarded = true;
    for (int round = 1; round <= rounds; ++round) {
        // The filter in protocol mode.
        int toChild, fromChild;
        double c0 = cpuSeconds(RUSAGE_CHILDREN);
        auto t0 = Clock::now();
        pid_t pid = startFilter(fx, toChild, fromChild);
        if (::write(toChild, requests.data(), requests.size()) != static_cast<ssize_t>(requests.size())) return 1;
        const std::string replies = readReplies(fromChild, messages);
        auto t1 = Clock::now();
        double ownCpu, childCpu;
        processCpu(pid, ownCpu, childCpu);  // still running: waiting for the next request
        filterOwnCpu.push_back(ownCpu * 1000 / messages);
        filterTnefCpu.push_back(childCpu * 1000 / messages);
        ::close(toChild);
        ::close(fromChild);
        ::waitpid(pid, nullptr, 0);
        filterCpu.push_back((cpuSeconds(RUSAGE_CHILDREN) - c0) * 1000 / messages);
        const int discarded = countOf(replies, " DISCARD\n");
        if (discarded != messages) allDiscarded = false;
        const std::vector<std::string> submitted = fx.submitted();
        if (copy.empty() && !submitted.empty()) copy = readFile(fx.baseDir() + "Submitted/" + submitted.front());
        removeFiles(fx.baseDir() + "Submitted");
        if (copy.empty()) {
            std::fprintf(stderr, "filter_bench: the filter submitted nothing\n");
            return 1;
        }

        // tnef alone on the same data.
        c0 = cpuSeconds(RUSAGE_CHILDREN);
        double s0 = cpuSeconds(RUSAGE_SELF);
        auto t2 = Clock::now();
        for (int i = 0; i < messages; ++i)
            runChild({tnefProgram, "-f", work / "winmail.dat", "--directory=" + work / "out", "--overwrite"});
        auto t3 = Clock::now();
        tnefCpu.push_back((cpuSeconds(RUSAGE_CHILDREN) - c0 + cpuSeconds(RUSAGE_SELF) - s0) * 1000 / messages);

        // The floor.
        c0 = cpuSeconds(RUSAGE_CHILDREN);
        s0 = cpuSeconds(RUSAGE_SELF);
        auto t4 = Clock::now();
        for (int i = 0; i < messages; ++i) floorStep(tnefProgram, tnef, copy, unpackDir, submitDir, i);
        auto t5 = Clock::now();
        floorCpu.push_back((cpuSeconds(RUSAGE_CHILDREN) - c0 + cpuSeconds(RUSAGE_SELF) - s0) * 1000 / messages);
        removeFiles(submitDir);

        filterRates.push_back(messages / seconds(t0, t1));
        tnefRates.push_back(messages / seconds(t2, t3));
        floorRates.push_back(messages / seconds(t4, t5));
        std::printf("  round %d: tnef alone %7.1f, floor %7.1f, filter %7.1f messages/s; CPU %.2f, %.2f, %.2f ms a message"
                    " (%d answered DISCARD)\n",
                    round, tnefRates.back(), floorRates.back(), filterRates.back(), tnefCpu.back(), floorCpu.back(),
                    filterCpu.back(), discarded);
    }
    const double tnefRate = median(tnefRates), floorRate = median(floorRates), filterRate = median(filterRates);
    std::printf("tnef alone: %8.1f messages/s (median)\n", tnefRate);
    std::printf("floor:      %8.1f messages/s (median)\n", floorRate);
    std::printf("filter:     %8.1f messages/s (median)\n", filterRate);
    std::printf("ratio of the filter's time to the floor's: %.2f (goal: at most 1.25)\n", floorRate / filterRate);
    // On a busy machine the wall clock also counts waiting for a core; the
    // CPU time the work itself took does not.
    std::printf("CPU time a message (median): tnef alone %.2f ms, floor %.2f ms, filter %.2f ms; ratio filter/floor %.2f\n",
                median(tnefCpu), median(floorCpu), median(filterCpu), median(filterCpu) / median(floorCpu));
    std::printf("CPU time a message of the filter itself: %.2f ms; of the tnef it ran: %.2f ms (counted in ticks)\n",
                median(filterOwnCpu), median(filterTnefCpu));

    // Peak memory of the filter itself (not its children) on one big message,
    // with ordinary 76-character lines and with the whole body on one line.
    const std::string big = tnefOf(bigMb * 1024 * 1024 * 3 / 4, 2);
    const struct {
        const char* label;
        std::size_t lineLength;
    } shapes[] = {{"76-character lines", 76}, {"one single line", 0}};
    for (const auto& shape : shapes) {
        const std::string name = shape.lineLength ? "big.msg" : "big-one-line.msg";
        writeMessage(fx.baseDir() + "Queue/" + name, big, shape.lineLength);
        struct stat st {};
        ::stat((fx.baseDir() + "Queue/" + name).c_str(), &st);
        int toChild, fromChild;
        pid_t pid = startFilter(fx, toChild, fromChild);
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
        std::printf("filter peak memory, %s: %.1f MB (goal: under 8 MB)\n", shape.label, peak / 1024.0);
        ::unlink((fx.baseDir() + "Queue/" + name).c_str());
        removeFiles(fx.baseDir() + "Submitted");
    }
    return allDiscarded ? 0 : 1;
}
