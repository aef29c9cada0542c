// A download on a bad line: a file whose server resets the connection 15
// times at random places (the same places for both clients), fetched by the
// program's download (TDownload::Run, its real waits) and by
// "curl --retry 30 --retry-all-errors -C -" (with --retry-delay 1, or its
// doubling waits take an hour). Figures: the body bytes the
// server sends against the file's size, the exact file, the time from the
// last reset to the complete file. Then a 503 with Retry-After: 2: how long
// after it the next request comes.
// Usage: bench_retry [MiB]   (default 200)
#include "app/Download.h"

#include "Commands.h"
#include "RangeFile.h"
#include "Servers.h"
#include "common/Bench.h"

#include <QCoreApplication>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <random>

namespace {

struct Flaky {
    testsupport::RangeFile file;
    std::vector<std::int64_t> cuts; // where each of the resets falls
    std::size_t next = 0;
    std::atomic<std::int64_t> lastReset{0}; // steady clock, nanoseconds

    testsupport::ScriptedServer::Handler handler()
    {
        return [this](testsupport::ScriptedConnection& c) {
            bool cut = false;
            {
                std::lock_guard<std::mutex> guard(file.lock);
                if (next < cuts.size()) {
                    file.cutAt = cuts[next];
                    file.reset = true;
                    cut = true;
                }
            }
            const std::size_t before = file.gets.size();
            file.handler()(c);
            std::lock_guard<std::mutex> guard(file.lock);
            if (cut && file.gets.size() > before) {
                ++next;
                lastReset = bench::Clock::now().time_since_epoch().count();
            }
        };
    }
    void Restart()
    {
        std::lock_guard<std::mutex> guard(file.lock);
        next = 0;
        file.gets.clear();
        file.sent.clear();
        file.cutAt = -1;
        file.reset = false;
    }
    std::int64_t Sent()
    {
        std::lock_guard<std::mutex> guard(file.lock);
        std::int64_t total = 0;
        for (std::int64_t n : file.sent)
            total += n;
        return total;
    }
};

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    const std::int64_t size = (argc > 1 ? std::atoll(argv[1]) : 200) << 20;
    Flaky flaky;
    flaky.file.content = testsupport::PatternBytes(size);
    // Fifteen resets spread over the file: each after a random share of
    // what the attempt would send.
    std::mt19937 random(15);
    for (int i = 0; i < 15; ++i)
        flaky.cuts.push_back(1 + static_cast<std::int64_t>(random() % static_cast<std::uint64_t>(size / 15)));
    testsupport::ScriptedServer server(flaky.handler());
    testsupport::TempDir dir;
    const std::string url = server.url("/big.bin");

    // Ours: one press.
    TNMHTTP http;
    http.OutputFileMode = true;
    http.Header = dir.file("DL.dat");
    http.ConnectTimeOut = 30000;
    http.IdleTimeOut = 60000;
    TDownload download(http, dir.file("ours.bin"));
    TDownload::TOutcome outcome;
    const auto oursStart = bench::Clock::now();
    try {
        outcome = download.Run(url);
    } catch (const std::exception& e) {
        std::printf("ours failed: %s\n", e.what());
    }
    const auto oursEnd = bench::Clock::now();
    const std::int64_t oursSent = flaky.Sent();
    const bool oursExact = outcome.Kind == TDownload::TOutcome::Finished &&
                           testsupport::ReadFile(dir.file("ours.bin")) == flaky.file.content;
    const double oursTail =
        bench::seconds(oursEnd.time_since_epoch() - bench::Clock::duration(flaky.lastReset.load()));
    std::printf("ours:  %d attempts, %.1f s, server sent %lld bytes (%.3f x the file), exact file: %s, "
                "last reset to complete file %.2f s\n",
                download.Attempts(), bench::seconds(oursEnd - oursStart), static_cast<long long>(oursSent),
                double(oursSent) / double(size), oursExact ? "yes" : "NO", oursTail);

    // curl on the same resets.
    flaky.Restart();
    const std::string out = testsupport::ShellQuote(dir.file("curl.bin"));
    const auto curlStart = bench::Clock::now();
    // A fixed second between curl's tries: its own waits double from one
    // second with every try (an hour for fifteen) and say nothing of the
    // bytes.
    testsupport::RunShell("curl -0 -s --retry 30 --retry-all-errors --retry-delay 1 -C - -o " + out + " " + url);
    const auto curlEnd = bench::Clock::now();
    const std::int64_t curlSent = flaky.Sent();
    const bool curlExact = testsupport::ReadFile(dir.file("curl.bin")) == flaky.file.content;
    const double curlTail =
        bench::seconds(curlEnd.time_since_epoch() - bench::Clock::duration(flaky.lastReset.load()));
    std::printf("curl:  %.1f s, server sent %lld bytes (%.3f x the file), exact file: %s, "
                "last reset to complete file %.2f s\n",
                bench::seconds(curlEnd - curlStart), static_cast<long long>(curlSent), double(curlSent) / double(size),
                curlExact ? "yes" : "NO", curlTail);
    std::printf("bytes sent, ours / curl: %.3f\n", curlSent ? double(oursSent) / double(curlSent) : 0.0);

    // A 503 with Retry-After: 2, then the file.
    std::atomic<int> gets{0};
    std::atomic<std::int64_t> busyAt{0}, nextAt{0};
    testsupport::ScriptedServer busy([&](testsupport::ScriptedConnection& c) {
        if (c.ReadRequest().rfind("GET ", 0) != 0) {
            c.Send("HTTP/1.0 200 OK\r\nContent-Length: 4\r\n\r\n");
            return;
        }
        if (gets++ == 0) {
            c.Send("HTTP/1.0 503 Service Unavailable\r\nRetry-After: 2\r\n\r\n");
            busyAt = bench::Clock::now().time_since_epoch().count();
        } else {
            nextAt = bench::Clock::now().time_since_epoch().count();
            c.Send("HTTP/1.0 200 OK\r\nContent-Length: 4\r\n\r\nfile");
        }
    });
    TDownload again(http, dir.file("busy.bin"));
    again.Run(busy.url("/busy.bin"));
    std::printf("503 with Retry-After: 2: the next GET came %.3f s after it\n",
                double(nextAt.load() - busyAt.load()) / 1e9);
    return oursExact ? 0 : 1;
}
