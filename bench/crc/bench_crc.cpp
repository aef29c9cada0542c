// CRC-16 and CRC-32 speed of TCRCList over a 1 GiB file in the page cache,
// against the one-table-lookup-per-byte loop and zlib's crc32 over the same
// file read the same way (64 KiB blocks), plus the bare steps over a 64 KiB
// buffer in memory. Prints GB/s (10^9 bytes per second) per run and, at the
// end, the speed ratios.
//
//   bench_crc [--file=PATH] [google benchmark options]
//
// The file is made in /tmp (or at PATH) before the runs and removed after.
#include <fcntl.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "integrity/CrcListComp.h"

namespace {

constexpr std::int64_t kFileSize = std::int64_t{1} << 30;
constexpr std::size_t kBlock = 65536;
std::string gPath;

void MakeFile()
{
    std::vector<unsigned char> chunk(1 << 20);
    std::mt19937_64 gen(42);
    for (auto& b : chunk)
        b = static_cast<unsigned char>(gen());
    const int fd = ::open(gPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd < 0) {
        std::perror(gPath.c_str());
        std::exit(1);
    }
    for (std::int64_t done = 0; done < kFileSize; done += static_cast<std::int64_t>(chunk.size())) {
        chunk[0] = static_cast<unsigned char>(done >> 20); // no two megabytes alike
        if (::write(fd, chunk.data(), chunk.size()) != static_cast<ssize_t>(chunk.size())) {
            std::perror("write");
            std::exit(1);
        }
    }
    ::close(fd);
}

// Reads the file in 64 KiB blocks as the component does and hands each
// block to step.
template <typename Step>
void ReadFile(Step step)
{
    const int fd = ::open(gPath.c_str(), O_RDONLY);
    const std::unique_ptr<unsigned char[]> buffer(new unsigned char[kBlock]);
    ssize_t got;
    while ((got = ::read(fd, buffer.get(), kBlock)) > 0)
        step(buffer.get(), static_cast<std::size_t>(got));
    ::close(fd);
}

void SetRate(benchmark::State& state, double bytesPerIteration)
{
    state.counters["GB/s"] =
        benchmark::Counter(bytesPerIteration * static_cast<double>(state.iterations()) / 1e9, benchmark::Counter::kIsRate);
}

void File_CalcCRC16(benchmark::State& state)
{
    TCRCList list;
    std::uint16_t value = 0;
    for (auto _ : state) {
        list.CalcCRC16(value, gPath);
        benchmark::DoNotOptimize(value);
    }
    SetRate(state, static_cast<double>(kFileSize));
}

void File_CalcCRC32(benchmark::State& state)
{
    TCRCList list;
    std::uint32_t value = 0;
    for (auto _ : state) {
        list.CalcCRC32(value, gPath);
        benchmark::DoNotOptimize(value);
    }
    SetRate(state, static_cast<double>(kFileSize));
}

void File_Bytewise16(benchmark::State& state)
{
    for (auto _ : state) {
        std::uint16_t crc = 0xFFFF;
        ReadFile([&](const unsigned char* p, std::size_t n) { crc = UpdateCRC16Bytewise(crc, p, n); });
        benchmark::DoNotOptimize(crc);
    }
    SetRate(state, static_cast<double>(kFileSize));
}

void File_Bytewise32(benchmark::State& state)
{
    for (auto _ : state) {
        std::uint32_t crc = 0xFFFFFFFFu;
        ReadFile([&](const unsigned char* p, std::size_t n) { crc = UpdateCRC32Bytewise(crc, p, n); });
        benchmark::DoNotOptimize(crc);
    }
    SetRate(state, static_cast<double>(kFileSize));
}

void File_Zlib32(benchmark::State& state)
{
    for (auto _ : state) {
        uLong crc = crc32(0, nullptr, 0);
        ReadFile([&](const unsigned char* p, std::size_t n) { crc = crc32(crc, p, static_cast<uInt>(n)); });
        benchmark::DoNotOptimize(crc);
    }
    SetRate(state, static_cast<double>(kFileSize));
}

// The bare steps over one 64 KiB block in memory (no reading).
template <typename F>
void Memory(benchmark::State& state, F step)
{
    std::vector<unsigned char> block(kBlock);
    std::mt19937 gen(7);
    for (auto& b : block)
        b = static_cast<unsigned char>(gen());
    for (auto _ : state)
        benchmark::DoNotOptimize(step(block.data(), block.size()));
    SetRate(state, static_cast<double>(kBlock));
}

// Collects the real and CPU time per run for the ratios printed at the end
// (on a shared machine the CPU times are the steadier of the two).
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs)
            if (run.run_type == Run::RT_Iteration && run.iterations > 0)
                times[run.run_name.function_name] = {run.GetAdjustedRealTime(), run.GetAdjustedCPUTime()};
    }
    std::map<std::string, std::pair<double, double>> times;
};

void PrintRatio(const RatioReporter& r, const std::string& fast, const std::string& slow)
{
    const auto f = r.times.find(fast), s = r.times.find(slow);
    if (f != r.times.end() && s != r.times.end() && f->second.first > 0 && f->second.second > 0)
        std::printf("%-20s / %-20s %7.2fx real %7.2fx cpu\n", fast.c_str(), slow.c_str(),
                    s->second.first / f->second.first, s->second.second / f->second.second);
}

} // namespace

int main(int argc, char** argv)
{
    gPath = "/tmp/fetchlet-crc-bench-" + std::to_string(::getpid()) + ".bin";
    std::vector<char*> args;
    for (int i = 0; i < argc; i++) {
        if (std::strncmp(argv[i], "--file=", 7) == 0)
            gPath = argv[i] + 7;
        else
            args.push_back(argv[i]);
    }
    int count = static_cast<int>(args.size());
    benchmark::Initialize(&count, args.data());

    MakeFile();
    const auto file = [](const char* name, void (*fn)(benchmark::State&)) {
        benchmark::RegisterBenchmark(name, fn)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
    };
    file("file/CalcCRC16", File_CalcCRC16);
    file("file/CalcCRC32", File_CalcCRC32);
    file("file/bytewise16", File_Bytewise16);
    file("file/bytewise32", File_Bytewise32);
    file("file/zlib_crc32", File_Zlib32);
    // Real time for all, so the ratios compare like with like.
    const auto memory = [](const char* name, auto step) {
        benchmark::RegisterBenchmark(name, [step](benchmark::State& s) { Memory(s, step); })->UseRealTime();
    };
    memory("memory/UpdateCRC16", [](const unsigned char* p, std::size_t n) { return UpdateCRC16(0xFFFF, p, n); });
    memory("memory/UpdateCRC32", [](const unsigned char* p, std::size_t n) { return UpdateCRC32(0xFFFFFFFFu, p, n); });
    memory("memory/bytewise16",
           [](const unsigned char* p, std::size_t n) { return UpdateCRC16Bytewise(0xFFFF, p, n); });
    memory("memory/bytewise32",
           [](const unsigned char* p, std::size_t n) { return UpdateCRC32Bytewise(0xFFFFFFFFu, p, n); });
    memory("memory/zlib_crc32", [](const unsigned char* p, std::size_t n) { return crc32(0, p, static_cast<uInt>(n)); });

    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    ::unlink(gPath.c_str());

    std::printf("\nspeed ratios (higher: the first is faster)\n");
    for (const char* kind : {"file", "memory"}) {
        const std::string k = kind;
        const std::string fast16 = k + (k == "file" ? "/CalcCRC16" : "/UpdateCRC16");
        const std::string fast32 = k + (k == "file" ? "/CalcCRC32" : "/UpdateCRC32");
        PrintRatio(reporter, fast16, k + "/bytewise16");
        PrintRatio(reporter, fast32, k + "/bytewise32");
        PrintRatio(reporter, fast32, k + "/zlib_crc32");
        PrintRatio(reporter, fast16, k + "/zlib_crc32");
    }
    return 0;
}
