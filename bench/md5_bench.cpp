// MD5 throughput, ours against coreutils md5sum on the same 64 MiB: ours in
// memory, ours reading the file as md5sum does, and md5sum itself (reading a
// file in /tmp; its time includes starting the process).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "bench/support.h"
#include "runtime/md5.h"

namespace {

const size_t kDataSize = 64 * 1024 * 1024;
// What md5sum reads at a time.
const size_t kReadSize = 32 * 1024;

struct Data {
    std::string raw;
    std::string path;

    Data() {
        raw = bench::randomBytes(kDataSize, 7);
        path = "/tmp/md5_bench_" + std::to_string(::getpid()) + ".bin";
        std::ofstream(path, std::ios::binary) << raw;
    }
    ~Data() { std::remove(path.c_str()); }
};

Data& data() {
    static Data d;
    return d;
}

void BM_OurMD5(benchmark::State& state) {
    const Data& d = data();
    for (auto _ : state) {
        qdl::MD5 md5;
        md5.update(d.raw);
        benchmark::DoNotOptimize(md5.finalize());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(d.raw.size()));
}

void BM_OurMD5File(benchmark::State& state) {
    const Data& d = data();
    std::vector<char> chunk(kReadSize);
    for (auto _ : state) {
        int fd = ::open(d.path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) {
            state.SkipWithError("cannot open the data file");
            break;
        }
        qdl::MD5 md5;
        for (;;) {
            ssize_t n = ::read(fd, chunk.data(), chunk.size());
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            md5.update(chunk.data(), static_cast<unsigned>(n));
        }
        ::close(fd);
        benchmark::DoNotOptimize(md5.finalize());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(d.raw.size()));
}

void BM_Md5sum(benchmark::State& state) {
    const std::string program = bench::findProgram({"/usr/bin/md5sum", "/bin/md5sum"});
    if (program.empty()) {
        state.SkipWithError("coreutils md5sum not found");
        return;
    }
    const Data& d = data();
    for (auto _ : state) {
        double seconds = bench::runCommand(program, {}, d.path);
        if (seconds < 0) {
            state.SkipWithError("md5sum failed");
            break;
        }
        state.SetIterationTime(seconds);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(d.raw.size()));
}

}  // namespace

BENCHMARK(BM_OurMD5)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OurMD5File)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Md5sum)->UseManualTime()->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
