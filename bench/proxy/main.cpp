// Throughput through a real proxy: a 512 MiB file from nginx on 127.0.0.1
// fetched through tinyproxy with TNMHTTP::Get (Proxy/ProxyPort) and with
// "curl -0 -x PROXY", pair by pair; the ratio ours / curl (target: at least
// 0.9), median of the pairs.
// Usage: bench_proxy [pairs]   (default 3)
#include "net/NMHttp.h"

#include "bench/common/Bench.h"

#include "Commands.h"
#include "Servers.h"

#include <QCoreApplication>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>
#include <vector>


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
    bool whole = true;
    bench::alternate(
        pairs,
        [&] { return bench::timedGet(http, url, out.file("ours.bin")); },
        [&] {
            const double t = bench::timed(
                [&] { testsupport::RunShell(curl + testsupport::ShellQuote(out.file("curl.bin")) + " " + url); });
            ::unlink(out.file("curl.bin").c_str());
            return t;
        },
        [&](int i, double oursSeconds, double curlSeconds) {
            return whole = bench::throughputPair(i, big, http.BytesRecvd, oursSeconds, curlSeconds, ratios);
        });
    if (!whole)
        return 1;
    std::printf("throughput through tinyproxy (TNMHTTP / curl -x, median of %d pairs): %.3f  (target >= 0.9)\n", pairs,
                bench::median(ratios));
    return 0;
}
