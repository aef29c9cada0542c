// httpget: one Get (or Head) through TNMHTTP in input-file and output-file
// mode, printing every event as it happens.
//
//   httpget [--head] [--body FILE] [--header FILE] [--report-level N]
//           [--timeout MS] [--proxy HOST --proxy-port N]
//           [--user U --password P] [--cancel-after BYTES] URL
//
// Output, one line per event: "status: TEXT", "success: CODE",
// "failure: CODE", "redirect"; then "ReplyNumber=N", "BytesRecvd=N" and
// "BytesTotal=N". Exit codes: 0 done (whatever the reply number), 2 bad
// usage, 3 ESockError/EAbortError (printed with LastErrorNo) or an empty
// reply (the server closed without a byte of one, which the component
// takes as a success with ReplyNumber 0; printed as "Empty reply from
// server", curl's words for its exit code 52), 4 any other exception.
// --help and --version as every tool answers them.
//
// Without --proxy the proxy comes from the environment as curl reads it
// (http_proxy, https_proxy/HTTPS_PROXY, all_proxy/ALL_PROXY, no_proxy/NO_PROXY;
// see TProxyConfig), announced first as "proxy: HOST:PORT (VARIABLE)" or
// "proxy: direct (no_proxy)"; a variable that does not parse ends the run
// like any other error ("Exception: ...", exit code 4). The component
// takes the proxy's host and port for plain http; credentials in the proxy
// URL and https through a proxy are announced as not used yet
// ("proxy: ... not used: ...") and the request goes as it would without.
#include "net/NMHttp.h"
#include "net/ProxyConfig.h"
#include "runtime/Exceptions.h"
#include "runtime/SysUtils.h"
#include "runtime/ToolCli.h"

#include <QCoreApplication>

#include <cstdint>
#include <cstdio>
#include <iostream>
#include <string>

namespace {

const ToolCli cli("httpget",
                  "httpget [--head] [--body FILE] [--header FILE] [--report-level N] [--timeout MS]\n"
                  "        [--proxy HOST --proxy-port N] [--user U --password P] [--cancel-after BYTES] URL",
                  "Fetches URL with one Get (or Head) of the program's HTTP component and\n"
                  "prints every event as it happens (\"status: TEXT\", \"success: CODE\",\n"
                  "\"failure: CODE\", \"redirect\"), then ReplyNumber=, BytesRecvd= and\n"
                  "BytesTotal=. Exit code 0 when the request ran (whatever the reply),\n"
                  "3 for a socket error, an abort or an empty reply, 4 for any other error.\n"
                  "\n"
                  "  --head                the header only\n"
                  "  --body FILE           where the body goes (default body.out)\n"
                  "  --header FILE         where the reply header goes (default header.out)\n"
                  "  --report-level N      which status texts are reported (0..255)\n"
                  "  --timeout MS          the component's time-out in milliseconds\n"
                  "  --proxy HOST          through a proxy (needs --proxy-port); without it the\n"
                  "                        proxy environment is read as curl reads it\n"
                  "  --proxy-port N        the proxy's port\n"
                  "  --user U              Basic authorisation user ...\n"
                  "  --password P          ... and password (for URL's host and port only)\n"
                  "  --cancel-after BYTES  cancels once that many bytes have arrived\n");

int usage(const std::string& why)
{
    return cli.Usage(why);
}

// The environment's proxy, with its credentials; https goes through a
// CONNECT tunnel.
void applyEnvironmentProxy(TNMHTTP& http, const TProxyChoice& choice)
{
    if (!choice.UseProxy)
        return;
    http.Proxy = choice.HostText();
    http.ProxyPort = choice.Port;
    http.ProxyAuthorization = TProxyConfig::ProxyAuthorization(choice);
}

bool number(const std::string& text, std::int64_t& value)
{
    if (text.empty() || text.size() > 18)
        return false;
    for (char c : text)
        if (c < '0' || c > '9')
            return false;
    value = std::stoll(text);
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    if (const auto done = cli.StandardOptions(argc, argv))
        return *done;
    QCoreApplication app(argc, argv);
    bool head = false;
    std::string body = "body.out", header = "header.out", url, proxy, user, password;
    std::int64_t reportLevel = 0, timeout = 0, proxyPort = 0, cancelAfter = -1;
    bool haveProxyPort = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&](std::string& out) {
            if (i + 1 >= argc)
                return false;
            out = argv[++i];
            return true;
        };
        auto integer = [&](std::int64_t& out, std::int64_t max) {
            std::string text;
            return value(text) && number(text, out) && out <= max;
        };
        if (arg == "--head")
            head = true;
        else if (arg == "--body") {
            if (!value(body))
                return usage("--body needs a file name");
        } else if (arg == "--header") {
            if (!value(header))
                return usage("--header needs a file name");
        } else if (arg == "--report-level") {
            if (!integer(reportLevel, 255))
                return usage("--report-level needs a number 0..255");
        } else if (arg == "--timeout") {
            if (!integer(timeout, 0x7FFFFFFF))
                return usage("--timeout needs a number of milliseconds");
        } else if (arg == "--proxy") {
            if (!value(proxy))
                return usage("--proxy needs a host");
        } else if (arg == "--proxy-port") {
            if (!integer(proxyPort, 65535))
                return usage("--proxy-port needs a port number");
            haveProxyPort = true;
        } else if (arg == "--user") {
            if (!value(user))
                return usage("--user needs a name");
        } else if (arg == "--password") {
            if (!value(password))
                return usage("--password needs a text");
        } else if (arg == "--cancel-after") {
            if (!integer(cancelAfter, INT64_MAX))
                return usage("--cancel-after needs a number of bytes");
        } else if (arg.size() > 1 && arg[0] == '-' && arg != "-") {
            return usage("unknown option " + arg);
        } else if (url.empty()) {
            url = arg;
        } else {
            return usage("only one URL");
        }
    }
    if (url.empty())
        return usage("no URL");
    if (!proxy.empty() && !haveProxyPort)
        return usage("--proxy needs --proxy-port");

    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    int code = 0;
    try {
        TNMHTTP http;
        http.InputFileMode = true;
        http.OutputFileMode = true;
        http.Body = body;
        http.Header = header;
        http.ReportLevel = static_cast<int>(reportLevel);
        http.TimeOut = static_cast<int>(timeout);
        http.Proxy = proxy;
        http.ProxyPort = static_cast<int>(proxyPort);
        if (proxy.empty()) {
            const TProxyChoice choice = TProxyConfig::FromEnvironment(url);
            if (!choice.Ok())
                throw Exception(choice.Error);
            if (choice.Source != psDirect)
                std::printf("proxy: %s\n", choice.Describe().c_str());
            applyEnvironmentProxy(http, choice);
        }
        http.HeaderInfo.UserId = user;
        http.HeaderInfo.Password = password;
        http.OnStatus = [](TObject*, const std::string& status) { std::printf("status: %s\n", status.c_str()); };
        http.OnSuccess = [](TObject*, CmdType cmd) { std::printf("success: %d\n", int(cmd)); };
        http.OnFailure = [](TObject*, CmdType cmd) { std::printf("failure: %d\n", int(cmd)); };
        http.OnRedirect = [](TObject*, bool&) { std::printf("redirect\n"); };
        if (cancelAfter >= 0)
            http.OnPacketRecvd = [&http, cancelAfter](TObject*) {
                if (http.BytesRecvd >= cancelAfter)
                    http.Cancel();
            };
        try {
            if (head)
                http.Head(url);
            else
                http.Get(url);
        } catch (const EAbortError& e) {
            std::printf("EAbortError: %s\n", e.Message().c_str());
            std::printf("LastErrorNo=%d\n", http.LastErrorNo());
            code = 3;
        } catch (const ESockError& e) {
            std::printf("ESockError: %s\n", e.Message().c_str());
            std::printf("LastErrorNo=%d\n", http.LastErrorNo());
            code = 3;
        }
        if (code == 0 && http.StatusLine.empty()) {
            std::printf("Empty reply from server\n");
            code = 3;
        }
        if (code == 0) {
            std::printf("ReplyNumber=%d\n", http.ReplyNumber);
            std::printf("BytesRecvd=%lld\n", static_cast<long long>(http.BytesRecvd));
            std::printf("BytesTotal=%lld\n", static_cast<long long>(http.BytesTotal));
        }
        http.OnStatus = nullptr; // the closing reports are not part of the run
    } catch (const std::exception& e) {
        std::printf("Exception: %s\n", e.what());
        code = 4;
    }
    std::fflush(stdout);
    return code;
}
