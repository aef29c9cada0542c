// Throughput of a reply in chunked transfer coding: 1 GiB of data in chunks
// of 16 KiB (the size nginx and squid write theirs in), each with its size
// line and line end, from a scripted server on 127.0.0.1, fetched into a
// file with TNMHTTP::Get and with "curl -0 -o FILE", pair by pair; the
// ratio ours / curl (target: at least 0.9), median of the pairs.
//
// A scripted server, not nginx through squid: both answer a client that
// asks with HTTP/1.0, as the component and curl -0 do, without chunks.
// Usage: bench_chunked [pairs]   (default 3)
#include "net/NMHttp.h"

#include "bench/common/Bench.h"

#include "Commands.h"
#include "Servers.h"

#include <QCoreApplication>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr std::int64_t Total = std::int64_t(1) << 30;
constexpr std::size_t Chunk = 16 * 1024;

std::int64_t sizeOf(const std::string& path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? static_cast<std::int64_t>(st.st_size) : -1;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int pairs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;

    // 64 KiB of data as four framed chunks, sent over and over.
    std::string block;
    for (int i = 0; i < 4; ++i) {
        std::string data(Chunk, '\0');
        for (std::size_t k = 0; k < Chunk; ++k)
            data[k] = static_cast<char>((k * 131 + i) & 0xFF);
        char size[16];
        std::snprintf(size, sizeof size, "%zx\r\n", Chunk);
        block += size + data + "\r\n";
    }
    testsupport::ScriptedServer server([&block](testsupport::ScriptedConnection& c) {
        c.ReadRequest();
        if (!c.Send("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\nConnection: close\r\n\r\n"))
            return;
        for (std::int64_t sent = 0; sent < Total; sent += 4 * Chunk)
            if (!c.Send(block))
                return;
        c.Send("0\r\n\r\n");
    });
    testsupport::TempDir out;
    const std::string url = server.url("/big.bin");
    const std::string curl = "curl -q -0 -s --noproxy '*' -o ";

    TNMHTTP http;
    http.InputFileMode = true;
    http.OutputFileMode = true;
    http.Header = out.file("header");

    std::vector<double> ratios;
    bool whole = true;
    std::int64_t curlSize = 0;
    bench::alternate(
        pairs,
        [&] { return bench::timedGet(http, url, out.file("ours.bin")); },
        [&] {
            const double t = bench::timed(
                [&] { testsupport::RunShell(curl + testsupport::ShellQuote(out.file("curl.bin")) + " " + url); });
            curlSize = sizeOf(out.file("curl.bin"));
            ::unlink(out.file("curl.bin").c_str());
            return t;
        },
        [&](int i, double oursSeconds, double curlSeconds) {
            if (curlSize != Total)
                std::fprintf(stderr, "curl: ");
            return whole = bench::throughputPair(i, Total, curlSize != Total ? curlSize : http.BytesRecvd, oursSeconds,
                                                 curlSeconds, ratios);
        });
    if (!whole)
        return 1;
    std::printf("throughput of a chunked reply (TNMHTTP / curl -0, median of %d pairs): %.3f  (target >= 0.9)\n", pairs,
                bench::median(ratios));
    return 0;
}
