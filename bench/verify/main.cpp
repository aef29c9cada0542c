// What the checks cost a download: a file of N GiB (default 4) from nginx
// over loopback into a working folder on tmpfs (no disk writeback between
// runs), plain, with a SHA-256 pin and with a minisign signature (the
// prehashed form, minisign's default). Five runs of each, alternating, the
// fastest of each kept: the same download varies by seconds from run to
// run here. Then our SHA-256 (TStreamDigest) against openssl dgst -sha256
// on the same 1 GiB file, median of three alternating pairs.
// Usage: bench_verify [GiB]
#include "app/Download.h"
#include "app/Verification.h"
#include "integrity/Sha256Pin.h"
#include "integrity/StreamDigest.h"

#include "Commands.h"
#include "MinisignTool.h"
#include "Servers.h"
#include "common/Bench.h"

#include <QCoreApplication>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const std::int64_t size = (argc > 1 ? std::atoll(argv[1]) : 4) * (std::int64_t(1) << 30);
    // Everything on tmpfs: the served file, the working folder, the keys.
    setenv("TMPDIR", "/dev/shm", 1);
    setenv("XDG_CONFIG_HOME", "/dev/shm", 1);
    testsupport::NginxServer nginx;
    if (!nginx.ok()) {
        std::fprintf(stderr, "nginx did not start:\n%s\n", nginx.log().c_str());
        return 1;
    }
    const std::string served = nginx.root() + "/big.bin";
    testsupport::WritePatternFile(served, size);
    testsupport::TempDir keys;
    const auto key = testsupport::MinisignKey::Make(keys.path(), "publisher");
    if (!key.ok || !key.Sign(served)) {
        std::fprintf(stderr, "minisign failed\n");
        return 1;
    }
    const std::string pinLine =
        testsupport::RunShell("cd " + testsupport::ShellQuote(nginx.root()) + " && sha256sum big.bin").out;

    testsupport::TempDir work;
    const std::string url = nginx.url("/big.bin");
    TNMHTTP http;
    http.OutputFileMode = true;
    http.Header = work.file("DL.dat");
    http.TimeOut = 600000;
    // One download with the given check files in the working folder.
    // The machine's share of idle time while a run lasts (/proc/stat).
    auto idleTicks = [] {
        std::ifstream stat("/proc/stat");
        std::string cpu;
        long long user = 0, nice = 0, system = 0, idle = 0;
        stat >> cpu >> user >> nice >> system >> idle;
        return std::pair<long long, long long>(idle, user + nice + system + idle);
    };
    double idleShare = 0;
    auto run = [&](const std::string& kind) {
        std::remove(work.file("big.bin").c_str());
        std::remove(work.file("DL.sha256").c_str());
        std::remove(work.file("DL.pub").c_str());
        if (kind == "pin")
            testsupport::WriteFile(work.file("DL.sha256"), pinLine);
        if (kind == "signature")
            testsupport::WriteFile(work.file("DL.pub"), testsupport::ReadFile(key.pub));
        TVerification verification(work.path() + "/");
        TDownload download(http, work.file("big.bin"));
        bool ok = verification.Load("big.bin");
        download.SetVerification(&verification);
        const auto before = idleTicks();
        const double seconds = bench::timed([&] {
            try {
                download.Prepare(url);
                ok = ok && download.Fetch(url);
            } catch (const std::exception& e) {
                std::fprintf(stderr, "%s: %s\n", kind.c_str(), e.what());
                ok = false;
            }
        });
        if (!ok)
            std::exit(1);
        const auto after = idleTicks();
        idleShare = double(after.first - before.first) / double(std::max(1LL, after.second - before.second));
        return seconds;
    };
    std::map<std::string, double> fastest;
    const char* kinds[] = {"plain", "pin", "signature"};
    for (int round = 0; round < 5; ++round)
        for (int i = 0; i < 3; ++i) {
            const std::string kind = kinds[(i + round) % 3]; // each goes first in turn
            const double s = run(kind);
            std::printf("round %d %-9s %.3f s (the machine %.0f %% idle)\n", round + 1, kind.c_str(), s, idleShare * 100);
            if (!fastest.count(kind) || s < fastest[kind])
                fastest[kind] = s;
        }
    std::remove(work.file("big.bin").c_str());
    const double gib = double(size) / double(std::int64_t(1) << 30);
    std::printf("%.0f GiB download, fastest of 5: plain %.3f s, pin %.3f s, signature %.3f s\n", gib,
                fastest["plain"], fastest["pin"], fastest["signature"]);
    std::printf("pin / plain: %.3f   signature / plain: %.3f   (target <= 1.15)\n", fastest["pin"] / fastest["plain"],
                fastest["signature"] / fastest["plain"]);

    // SHA-256 of 1 GiB: ours against openssl.
    const std::string one = work.file("one.bin");
    testsupport::WritePatternFile(one, std::int64_t(1) << 30);
    std::vector<double> ratios;
    bench::alternate(
        3,
        [&] {
            return bench::timed([&] {
                TStreamDigest digest(TStreamDigest::dkSha256);
                digest.Restart(one, std::int64_t(1) << 30);
                if (!digest.Finish().Ok)
                    std::exit(1);
            });
        },
        [&] { return bench::timed([&] { testsupport::RunShell("openssl dgst -sha256 " + testsupport::ShellQuote(one)); }); },
        [&](int index, double ours, double theirs) {
            std::printf("SHA-256 of 1 GiB, pair %d: ours %.3f s, openssl %.3f s\n", index + 1, ours, theirs);
            ratios.push_back(theirs / ours);
            return true;
        });
    std::printf("SHA-256 speed ours / openssl dgst: %.3f (median of 3 pairs; target >= 0.9)\n", bench::median(ratios));
    return 0;
}
