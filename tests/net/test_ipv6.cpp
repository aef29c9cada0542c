// IPv6 through the socket and HTTP components: literals in brackets against
// a real nginx on [::1] (plain and TLS), and a name with addresses of both
// families tried in turn (httpget in a mount namespace of its own whose
// /etc/hosts names both loopback addresses).
#include "MessageOf.h"
#include "net/NMHttp.h"

#include "Commands.h"
#include "Servers.h"
#include "TlsPeers.h"

#include <gtest/gtest.h>

using namespace testsupport;

namespace {

bool hasIpv6Loopback() { return RunShell("ip -6 addr show lo | grep -q 'inet6 ::1'").exitCode == 0; }

} // namespace

TEST(Ipv6, LiteralsInBracketsReachTheServerAndKeepThemInTheHostLine)
{
    if (!hasIpv6Loopback())
        GTEST_SKIP() << "no IPv6 loopback address here";
    NginxServer nginx("location = /host { return 200 \"$http_host\"; }", {},
                      "  server {\n    listen [::1]:@PORT@;\n    root @ROOT@;\n"
                      "    location = /host { return 200 \"v6 $http_host\"; }\n  }\n");
    ASSERT_TRUE(nginx.ok()) << nginx.log();
    WriteFile(nginx.root() + "/f.txt", "over IPv6");
    TempDir dir;
    TNMHTTP http;
    http.TimeOut = 20000;
    const std::string base = "http://[::1]:" + std::to_string(nginx.port());
    http.Get(base + "/f.txt");
    EXPECT_EQ(http.ReplyNumber, 200);
    EXPECT_EQ(http.Body, "over IPv6");
    EXPECT_EQ(http.Host, "[::1]");
    EXPECT_EQ(http.RemoteAddress(), "[::1]:" + std::to_string(nginx.port()));
    http.Get(base + "/host");
    EXPECT_EQ(http.Body, "v6 [::1]:" + std::to_string(nginx.port())); // the Host line keeps the brackets

    // TLS on [::1]: the address is checked against the certificate's.
    TestCA ca;
    ASSERT_TRUE(ca.ok());
    CaTrust trust(ca);
    const Certificate v6 = ca.Issue("ipv6", "IP:::1");
    const Certificate v4 = ca.Issue("ipv4", "IP:127.0.0.1");
    for (const auto& [certificate, error] : {std::pair{v6, std::string("(nothing raised)")},
                                             std::pair{v4, std::string("Certificate verify failed: IP address mismatch")}}) {
        const std::string tls = "ssl_certificate " + certificate.cert + "; ssl_certificate_key " + certificate.key + ";";
        NginxServer secure(tls, " ssl", "  server {\n    listen [::1]:@PORT@ ssl;\n    " + tls + "\n    root @ROOT@;\n  }\n");
        ASSERT_TRUE(secure.ok()) << secure.log();
        WriteFile(secure.root() + "/f.txt", "secure over IPv6");
        EXPECT_EQ(messageOf<ESockError>([&] { http.Get("https://[::1]:" + std::to_string(secure.port()) + "/f.txt"); }),
                  error);
        if (error == "(nothing raised)") {
            EXPECT_EQ(http.Body, "secure over IPv6");
        }
    }
}

TEST(Ipv6, EveryAddressOfANameIsTriedInTurn)
{
    if (!hasIpv6Loopback())
        GTEST_SKIP() << "no IPv6 loopback address here";
    TempDir dir;
    WriteFile(dir.file("hosts"), "::1 dual.test\n127.0.0.1 dual.test\n");
    if (RunShell("unshare -m sh -c " + ShellQuote("mount --bind " + dir.file("hosts") + " /etc/hosts && getent ahosts dual.test"))
            .out.find("::1") == std::string::npos)
        GTEST_SKIP() << "no mount namespace with a hosts file of its own can be made here";
    // Listens on 127.0.0.1 only: the name's first address, ::1, is refused.
    ScriptedServer server(ScriptedServer::Reply("HTTP/1.0 200 OK\r\nContent-Length: 7\r\n\r\nreached"));
    const std::string url = "http://dual.test:" + std::to_string(server.port()) + "/f";
    const CommandResult run = RunShell(
        "cd " + ShellQuote(dir.path()) + " && unshare -m sh -c " +
        ShellQuote("mount --bind " + dir.file("hosts") + " /etc/hosts && exec " + std::string(HTTPGET_PATH) +
                   " --report-level 8 --timeout 20000 " + url));
    EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
    const std::string port = std::to_string(server.port());
    const std::size_t first = run.out.find("status: Connecting to [::1]:" + port);
    const std::size_t second = run.out.find("status: Connecting to 127.0.0.1:" + port);
    EXPECT_NE(first, std::string::npos) << run.out;
    EXPECT_NE(second, std::string::npos) << run.out;
    EXPECT_LT(first, second);
    EXPECT_EQ(ReadFile(dir.file("body.out")), "reached");
    ASSERT_EQ(server.Requests().size(), 1u);
    EXPECT_NE(server.Requests()[0].find("\r\nHost: dual.test:" + port + "\r\n"), std::string::npos);
}
