// Throughput through a real proxy: a 512 MiB file from nginx on 127.0.0.1
// fetched through tinyproxy with TNMHTTP::Get (Proxy/ProxyPort) and with
// "curl -0 -x PROXY", pair by pair; the ratio ours / curl (target: at least
// 0.9), median of the pairs.
// Usage: bench_proxy [pairs]   (default 3)
#include "net/NMHttp.h"

#include "Commands.h"
#include "Servers.h"

#include <QCoreApplication>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int pairs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
    testsupport::NginxServer nginx;
    testsupport::TinyProxy proxy;
    if (!nginx.ok() || !proxy.ok()) {
        std::fprintf(stderr, "nginx or tinyproxy did not start:\n%s\n%s\n", nginx.log().c_str(), proxy.log().c_str());
        return 1;
    }
    testsupport::TempDir out;
    const std::int64_t big = std::int64_t(512) << 20;
    testsupport::WritePatternFile(nginx.root() + "/big.bin", big);
    const std::string url = nginx.url("/big.bin");
    const std::string curl = "curl -0 -s --noproxy '' -x " + testsupport::ShellQuote(proxy.url()) + " -o ";

    TNMHTTP http;
    http.InputFileMode = true;
    http.OutputFileMode = true;
    http.Header = out.file("header");
    http.Proxy = "127.0.0.1";
    http.ProxyPort = proxy.port();
    testsupport::RunShell(curl + "/dev/null " + url); // the file's pages, once

    std::vector<double> ratios;
    for (int i = 0; i < pairs; ++i) {
        auto runOurs = [&] {
            http.Body = out.file("ours.bin");
            const auto start = Clock::now();
            http.Get(url);
            const double t = seconds(Clock::now() - start);
            ::unlink(http.Body.c_str());
            return t;
        };
        auto runTheirs = [&] {
            const auto start = Clock::now();
            testsupport::RunShell(curl + testsupport::ShellQuote(out.file("curl.bin")) + " " + url);
            const double t = seconds(Clock::now() - start);
            ::unlink(out.file("curl.bin").c_str());
            return t;
        };
        double oursSeconds, curlSeconds;
        if (i % 2 == 0) {
            oursSeconds = runOurs();
            curlSeconds = runTheirs();
        } else {
            curlSeconds = runTheirs();
            oursSeconds = runOurs();
        }
        if (http.BytesRecvd != big) {
            std::fprintf(stderr, "short transfer: %lld bytes\n", static_cast<long long>(http.BytesRecvd));
            return 1;
        }
        ratios.push_back(curlSeconds / oursSeconds);
        std::printf("pair %d: TNMHTTP %.0f MB/s, curl %.0f MB/s, ratio %.3f\n", i + 1, big / oursSeconds / 1e6,
                    big / curlSeconds / 1e6, ratios.back());
    }
    std::sort(ratios.begin(), ratios.end());
    std::printf("throughput through tinyproxy (TNMHTTP / curl -x, median of %d pairs): %.3f  (target >= 0.9)\n", pairs,
                ratios[ratios.size() / 2]);
    return 0;
}
