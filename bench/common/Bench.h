// What the benchmarks share: clocks, the process's CPU time, medians, and
// pairs of runs (ours against a reference program) that alternate who goes
// first, so that neither always meets a fresher cache.
#pragma once
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>
#include <sys/resource.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace bench {

using Clock = std::chrono::steady_clock;

inline double seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

template <typename F>
double timed(F&& f)
{
    const auto start = Clock::now();
    f();
    return seconds(Clock::now() - start);
}

inline double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

inline double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

// Pair `index` of ours() and theirs() (each returns its seconds): ours
// first in even pairs, theirs first in odd ones. The seconds, ours first.
template <typename Ours, typename Theirs>
std::pair<double, double> pairAt(int index, Ours&& ours, Theirs&& theirs)
{
    if (index % 2 == 0) {
        const double o = ours();
        return {o, theirs()};
    }
    const double t = theirs();
    return {ours(), t};
}

// `pairs` such pairs; after each, after(index, ours, theirs) returns false
// to stop.
template <typename Ours, typename Theirs, typename After>
void alternate(int pairs, Ours&& ours, Theirs&& theirs, After&& after)
{
    for (int i = 0; i < pairs; ++i) {
        const auto [o, t] = pairAt(i, ours, theirs);
        if (!after(i, o, t))
            return;
    }
}

// The seconds of one Get of url by the HTTP component into file, which is
// removed afterwards.
template <typename Http>
double timedGet(Http& http, const std::string& url, const std::string& file)
{
    http.Body = file;
    const double t = timed([&] { http.Get(url); });
    ::unlink(file.c_str());
    return t;
}

// Pair `index` of two downloads of `bytes` bytes, ours of which received
// `received`: false (and said) when that is short; else the ratio of the
// seconds, theirs / ours, is added to ratios and printed with both speeds.
inline bool throughputPair(int index, std::int64_t bytes, std::int64_t received, double ours, double theirs,
                           std::vector<double>& ratios)
{
    if (received != bytes) {
        std::fprintf(stderr, "short transfer: %lld of %lld bytes\n", static_cast<long long>(received),
                     static_cast<long long>(bytes));
        return false;
    }
    ratios.push_back(theirs / ours);
    std::printf("pair %d: TNMHTTP %.0f MB/s, curl %.0f MB/s, ratio %.3f\n", index + 1, double(bytes) / ours / 1e6,
                double(bytes) / theirs / 1e6, ratios.back());
    return true;
}

} // namespace bench
