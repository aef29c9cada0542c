// Bytes fetched by the second attempt of a 100 MB download whose first
// attempt was cut at 50 %, the program's download (TDownload) against
// "curl -C -" on the same server; both must end with the exact file.
// Usage: bench_resume [megabytes]   (default 100)
#include "app/Download.h"

#include "Commands.h"
#include "RangeFile.h"
#include "Servers.h"

#include <QCoreApplication>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const std::int64_t size = (argc > 1 ? std::atoll(argv[1]) : 100) * 1'000'000;
    testsupport::RangeFile file;
    file.content = testsupport::PatternBytes(size);
    testsupport::ScriptedServer server(file.handler());
    testsupport::TempDir dir;
    const std::string url = server.url("/big.bin");

    // Ours: the first attempt cut at half, the second resumes.
    TNMHTTP http;
    http.OutputFileMode = true;
    http.Header = dir.file("DL.dat");
    TDownload download(http, dir.file("ours.bin"));
    file.cutAt = size / 2;
    try {
        download.Prepare(url);
        download.Fetch(url);
    } catch (const Exception& e) {
        std::printf("first attempt: %s\n", e.Message().c_str());
    }
    download.Prepare(url);
    const bool complete = download.Fetch(url);
    const std::int64_t ours = file.sent.back();
    const bool oursExact = complete && testsupport::ReadFile(dir.file("ours.bin")) == file.content;

    // curl: the same cut, then -C -.
    file.cutAt = size / 2;
    const std::string out = testsupport::ShellQuote(dir.file("curl.bin"));
    testsupport::RunShell("curl -0 -s -o " + out + " " + url);
    testsupport::RunShell("curl -0 -s -C - -o " + out + " " + url);
    const std::int64_t theirs = file.sent.back();
    const bool curlExact = testsupport::ReadFile(dir.file("curl.bin")) == file.content;

    std::printf("second attempt fetched: TDownload %lld bytes (%.1f %% of %lld), exact file: %s\n",
                static_cast<long long>(ours), 100.0 * ours / size, static_cast<long long>(size), oursExact ? "yes" : "NO");
    std::printf("second attempt fetched: curl -C -  %lld bytes (%.1f %% of %lld), exact file: %s\n",
                static_cast<long long>(theirs), 100.0 * theirs / size, static_cast<long long>(size),
                curlExact ? "yes" : "NO");
    std::printf("ratio ours / curl: %.3f\n", theirs ? double(ours) / double(theirs) : 0.0);
    return oursExact ? 0 : 1;
}
