// Figures of the HTTP client against a real nginx on 127.0.0.1:
//  1. throughput: a 1 GiB file fetched with TNMHTTP::Get and with
//     "curl --http1.0 -o FILE", pair by pair; the ratio ours / curl
//     (target: at least 0.9);
//  2. responsiveness: the longest gap between two firings of a 100 ms Qt
//     timer during our 1 GiB transfers (target: under 200 ms);
//  3. idle cost: a 20 MB file from nginx limited to 2 MB/s; this process's
//     CPU seconds over wall seconds (target: at most 5 %).
// Usage: bench_net [pairs [sink]]   (default 3 pairs; sink "null" writes both
//        downloads to /dev/null to compare the network paths alone)
#include "net/NMHttp.h"

#include "bench/common/Bench.h"

#include "Servers.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

using bench::Clock;
using bench::cpuSeconds;
using bench::seconds;

void makeSparse(const std::string& path, std::int64_t size)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0 || ::ftruncate(fd, size) != 0)
        std::perror("ftruncate");
    ::close(fd);
}

double runCurl(const std::string& url, const std::string& out)
{
    const char* argv[] = {"curl", "--http1.0", "-s", "-o", out.c_str(), url.c_str(), nullptr};
    const auto start = Clock::now();
    pid_t pid = -1;
    if (posix_spawnp(&pid, "curl", nullptr, nullptr, const_cast<char**>(argv), environ) != 0)
        return -1;
    int status = 0;
    waitpid(pid, &status, 0);
    return seconds(Clock::now() - start);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int pairs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
    const bool toNull = argc > 2 && std::string(argv[2]) == "null";
    testsupport::NginxServer nginx("location /slow/ { limit_rate 2m; }");
    if (!nginx.ok()) {
        std::fprintf(stderr, "nginx did not start:\n%s\n", nginx.log().c_str());
        return 1;
    }
    testsupport::TempDir out;
    const std::int64_t big = std::int64_t(1) << 30;
    makeSparse(nginx.root() + "/big.bin", big);
    ::mkdir((nginx.root() + "/slow").c_str(), 0755);
    testsupport::WritePatternFile(nginx.root() + "/slow/20mb.bin", 20'000'000);

    TNMHTTP http;
    http.InputFileMode = true;
    http.OutputFileMode = true;
    http.Header = out.file("header");

    // The file's pages are made once, before anything is timed.
    runCurl(nginx.url("/big.bin"), "/dev/null");

    // Throughput and responsiveness.
    double longestGap = 0;
    std::vector<double> ratios;
    for (int i = 0; i < pairs; ++i) {
        const std::string ours = toNull ? "/dev/null" : out.file("ours.bin");
        const std::string theirs = toNull ? "/dev/null" : out.file("curl.bin");
        QElapsedTimer since;
        bool running = false;
        QTimer tick;
        tick.setTimerType(Qt::PreciseTimer);
        tick.setInterval(100);
        QObject::connect(&tick, &QTimer::timeout, [&] {
            if (running && since.isValid())
                longestGap = std::max(longestGap, since.nsecsElapsed() / 1e9);
            since.start();
        });
        auto runOurs = [&] {
            http.Body = ours;
            const auto start = Clock::now();
            since.start();
            running = true;
            tick.start();
            http.Get(nginx.url("/big.bin"));
            running = false;
            tick.stop();
            const double t = seconds(Clock::now() - start);
            if (!toNull)
                ::unlink(ours.c_str());
            return t;
        };
        auto runTheirs = [&] {
            const double t = runCurl(nginx.url("/big.bin"), theirs);
            if (!toNull)
                ::unlink(theirs.c_str());
            return t;
        };
        const auto [oursSeconds, curlSeconds] = bench::pairAt(i, runOurs, runTheirs);
        if (http.BytesRecvd != big) {
            std::fprintf(stderr, "short transfer: %lld bytes\n", static_cast<long long>(http.BytesRecvd));
            return 1;
        }
        const double ratio = curlSeconds / oursSeconds; // throughput ours / curl
        ratios.push_back(ratio);
        std::printf("pair %d: TNMHTTP %.0f MB/s, curl %.0f MB/s, ratio %.3f\n", i + 1, big / oursSeconds / 1e6,
                    big / curlSeconds / 1e6, ratio);
    }
    const double median = bench::median(ratios);

    // Idle cost of a slow transfer.
    http.Body = out.file("slow.bin");
    const double cpu0 = cpuSeconds();
    const auto wall0 = Clock::now();
    http.Get(nginx.url("/slow/20mb.bin"));
    const double wall = seconds(Clock::now() - wall0);
    const double cpu = cpuSeconds() - cpu0;

    std::printf("throughput ratio (TNMHTTP / curl, median of %d pairs): %.3f  (target >= 0.9)\n", pairs, median);
    std::printf("longest 100 ms timer gap during 1 GiB transfers: %.1f ms  (target < 200 ms)\n", longestGap * 1000);
    std::printf("idle cost at 2 MB/s: %.3f CPU s / %.2f wall s = %.2f %%  (target <= 5 %%)\n", cpu, wall,
                100.0 * cpu / wall);
    return 0;
}
