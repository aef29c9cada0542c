// curl, the reference client, run beside the HTTP component: one request
// of url as the component makes it (HTTP/1.0, no configuration file, no
// proxy but the one `options` may name: the tests clear the proxy
// variables), the body into a file of dir.
#pragma once
#include "Commands.h"
#include "Servers.h"

#include <string>

struct CurlResult {
    int exitCode = -1;
    std::string body;  // what it wrote ("" when nothing)
    std::string error; // its message on standard error
};

inline CurlResult Curl(const testsupport::TempDir& dir, const std::string& url, const std::string& options = {})
{
    const std::string out = dir.file("curl.out");
    std::remove(out.c_str());
    const testsupport::CommandResult run = testsupport::RunShell(
        "curl -q -0 -sS --max-time 20 " + options + " -o " + testsupport::ShellQuote(out) + " " +
        testsupport::ShellQuote(url));
    return {run.exitCode, testsupport::Exists(out) ? testsupport::ReadFile(out) : std::string(), run.err};
}
