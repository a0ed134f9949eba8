// Base64 throughput, ours against the coreutils base64 command on the same
// data. Throughput counts input bytes: raw bytes for encoding, base64 text
// for decoding. The command reads a file in /tmp and writes to /dev/null.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <streambuf>
#include <string>
#include <vector>

#include "bench/support.h"
#include "runtime/base64.h"

namespace {

const size_t kDataSize = 8 * 1024 * 1024;

// Counts what is written and keeps nothing, like /dev/null for the command.
class NullBuf : public std::streambuf {
protected:
    std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
    int_type overflow(int_type c) override { return traits_type::not_eof(c); }
};

struct Data {
    std::string raw;
    std::string encoded;
    std::string rawPath;
    std::string encodedPath;

    Data() {
        raw = bench::randomBytes(kDataSize, 42);
        encoded = qdl::base64EncodeString(raw);
        std::string base = "/tmp/base64_bench_" + std::to_string(::getpid());
        rawPath = base + ".bin";
        encodedPath = base + ".b64";
        std::ofstream(rawPath, std::ios::binary) << raw;
        std::ofstream(encodedPath, std::ios::binary) << encoded;
    }
    ~Data() {
        std::remove(rawPath.c_str());
        std::remove(encodedPath.c_str());
    }
};

Data& data() {
    static Data d;
    return d;
}

std::string findBase64() { return bench::findProgram({"/usr/bin/base64", "/bin/base64"}); }

void BM_OurEncode(benchmark::State& state) {
    const Data& d = data();
    NullBuf buf;
    std::ostream out(&buf);
    for (auto _ : state) qdl::base64Encode(d.raw, out);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(d.raw.size()));
}

void BM_OurDecode(benchmark::State& state) {
    const Data& d = data();
    NullBuf buf;
    std::ostream out(&buf);
    for (auto _ : state) {
        bool ok = qdl::base64Decode(d.encoded, out);
        if (!ok) state.SkipWithError("decode failed");
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(d.encoded.size()));
}

// The same without the vector path: what a processor without AVX2 gets.
void BM_OurEncodeWords(benchmark::State& state) {
    const bool before = qdl::base64UseVectors(false);
    BM_OurEncode(state);
    qdl::base64UseVectors(before);
}

void BM_OurDecodeWords(benchmark::State& state) {
    const bool before = qdl::base64UseVectors(false);
    BM_OurDecode(state);
    qdl::base64UseVectors(before);
}

void BM_OurEncodeString(benchmark::State& state) {
    const Data& d = data();
    for (auto _ : state) benchmark::DoNotOptimize(qdl::base64EncodeString(d.raw));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(d.raw.size()));
}

void BM_OurDecodeString(benchmark::State& state) {
    const Data& d = data();
    for (auto _ : state) benchmark::DoNotOptimize(qdl::base64DecodeString(d.encoded));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(d.encoded.size()));
}

void runCoreutils(benchmark::State& state, const std::vector<std::string>& args, const std::string& input,
                  size_t inputSize) {
    std::string program = findBase64();
    if (program.empty()) {
        state.SkipWithError("coreutils base64 not found");
        return;
    }
    for (auto _ : state) {
        double seconds = bench::runCommand(program, args, input);
        if (seconds < 0) {
            state.SkipWithError("base64 command failed");
            break;
        }
        state.SetIterationTime(seconds);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(inputSize));
}

// Without line wrapping, so it writes what our encoder writes.
void BM_CoreutilsEncode(benchmark::State& state) {
    runCoreutils(state, {"-w", "0"}, data().rawPath, data().raw.size());
}

void BM_CoreutilsEncodeWrapped(benchmark::State& state) {
    runCoreutils(state, {}, data().rawPath, data().raw.size());
}

void BM_CoreutilsDecode(benchmark::State& state) {
    runCoreutils(state, {"-d"}, data().encodedPath, data().encoded.size());
}

}  // namespace

BENCHMARK(BM_OurEncode)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OurEncodeWords)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OurEncodeString)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CoreutilsEncode)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CoreutilsEncodeWrapped)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OurDecode)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OurDecodeWords)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OurDecodeString)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CoreutilsDecode)->UseManualTime()->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
