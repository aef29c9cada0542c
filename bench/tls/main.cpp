// Figures of the HTTP client over https against a real nginx with TLS on
// 127.0.0.1, its certificate from a CA made by the openssl command:
//  1. throughput: a 512 MiB file fetched with TNMHTTP::Get and with
//     "curl -0 --cacert CA -o FILE", pair by pair; the ratio ours / curl
//     (target: at least 0.9);
//  2. handshake: the time to a verified TLS connection, TPowersock::Connect
//     against curl's time_appconnect, median of the pairs;
//  3. idle cost: a 20 MB file from nginx limited to 2 MB/s over https;
//     this process's CPU seconds over wall seconds (target: at most 5 %).
// Usage: bench_tls [pairs]   (default 3)
#include "net/NMHttp.h"

#include "bench/common/Bench.h"

#include "Commands.h"
#include "Servers.h"
#include "TlsPeers.h"

#include <QCoreApplication>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <sys/stat.h>
#include <vector>

using bench::Clock;
using bench::median;
using bench::seconds;

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int pairs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
    testsupport::TestCA ca;
    if (!ca.ok()) {
        std::fprintf(stderr, "openssl could not make the CA\n");
        return 1;
    }
    testsupport::CaTrust trust(ca);
    testsupport::TlsNginx nginx(ca.Issue("localhost", "DNS:localhost,IP:127.0.0.1"), {},
                                "location /slow/ { limit_rate 2m; }");
    if (!nginx.ok()) {
        std::fprintf(stderr, "nginx did not start:\n%s\n", nginx.log().c_str());
        return 1;
    }
    testsupport::TempDir out;
    const std::int64_t big = std::int64_t(512) << 20;
    testsupport::WritePatternFile(nginx.root() + "/big.bin", big);
    ::mkdir((nginx.root() + "/slow").c_str(), 0755);
    testsupport::WritePatternFile(nginx.root() + "/slow/20mb.bin", 20'000'000);
    const std::string url = nginx.url("/big.bin", "localhost");
    const std::string cacert = testsupport::ShellQuote(ca.CertFile());

    TNMHTTP http;
    http.InputFileMode = true;
    http.OutputFileMode = true;
    http.Header = out.file("header");

    auto curl = [&](const std::string& what, const std::string& target) {
        const auto start = Clock::now();
        const testsupport::CommandResult r =
            testsupport::RunShell("curl -0 -s --cacert " + cacert + " -o " + testsupport::ShellQuote(target) +
                                  " -w '%{time_appconnect}' " + testsupport::ShellQuote(what));
        return std::make_pair(seconds(Clock::now() - start), std::atof(r.out.c_str()));
    };
    // The file's pages are made once, before anything is timed.
    curl(url, "/dev/null");

    std::vector<double> ratios, ourHandshakes, curlHandshakes;
    bool whole = true;
    bench::alternate(
        pairs,
        [&] { return bench::timedGet(http, url, out.file("ours.bin")); },
        [&] {
            const auto r = curl(url, out.file("curl.bin"));
            ::unlink(out.file("curl.bin").c_str());
            curlHandshakes.push_back(r.second);
            return r.first;
        },
        [&](int i, double oursSeconds, double curlSeconds) {
            if (!(whole = bench::throughputPair(i, big, http.BytesRecvd, oursSeconds, curlSeconds, ratios)))
                return false;
            // The handshake alone: a verified connection, then closed.
            http.Host = "localhost";
            http.Port = nginx.port();
            http.Secure = true;
            ourHandshakes.push_back(bench::timed([&] { http.Connect(); }));
            if (i == 0)
                std::printf("protocol: %s\n", http.SecureProtocol().c_str());
            http.Disconnect();
            return true;
        });
    if (!whole)
        return 1;

    http.Body = out.file("slow.bin");
    const double cpu0 = bench::cpuSeconds();
    const auto wall0 = Clock::now();
    http.Get(nginx.url("/slow/20mb.bin", "localhost"));
    const double wall = seconds(Clock::now() - wall0);
    const double cpu = bench::cpuSeconds() - cpu0;

    std::printf("https throughput ratio (TNMHTTP / curl -0, median of %d pairs): %.3f  (target >= 0.9)\n", pairs,
                median(ratios));
    std::printf("handshake to a verified connection: TNMHTTP %.2f ms, curl time_appconnect %.2f ms (medians)\n",
                median(ourHandshakes) * 1000, median(curlHandshakes) * 1000);
    std::printf("idle cost at 2 MB/s over https: %.3f CPU s / %.2f wall s = %.2f %%  (target <= 5 %%)\n", cpu, wall,
                100.0 * cpu / wall);
    return 0;
}
