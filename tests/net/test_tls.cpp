// https through the HTTP component: a real nginx with certificates of a CA
// made by the openssl command, TLS scripted servers for exact or cut
// replies, and plain peers that are no TLS servers at all.
#include "MessageOf.h"
#include "net/NMHttp.h"

#include "Servers.h"
#include "TlsPeers.h"

#include <QTimer>

#include <gtest/gtest.h>

#include <chrono>

using namespace testsupport;

namespace {

const std::string accepts = "Accept: www/source, text/html, video/mpeg, image/jpeg, image/x-tiff\r\n"
                            "Accept: image/x-rgb, image/x-xbm, image/gif, */*, application/postscript\r\n";

struct Client {
    explicit Client(const TempDir& dir)
    {
        http.InputFileMode = true;
        http.OutputFileMode = true;
        http.Body = dir.file("body");
        http.Header = dir.file("header");
        http.TimeOut = 20000; // no test waits for ever
    }
    // The ESockError text of a Get, or "(nothing raised)".
    std::string Get(const std::string& url)
    {
        return messageOf<ESockError>([&] { http.Get(url); });
    }
    TNMHTTP http;
};

class Tls : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(ca.ok()) << "openssl could not make the test CA";
        trust = std::make_unique<CaTrust>(ca);
    }
    TestCA ca;
    std::unique_ptr<CaTrust> trust;
};

} // namespace

TEST_F(Tls, DownloadsWithTheCertificateCheckedBySniAndAddress)
{
    // The default block's certificate names another host (and the address);
    // "localhost" gets its own certificate only when the client sends SNI.
    const Certificate other = ca.Issue("other.test", "DNS:other.test,IP:127.0.0.1");
    const Certificate local = ca.Issue("localhost", "DNS:localhost");
    TlsNginx nginx(other, {{"localhost", local}});
    ASSERT_TRUE(nginx.ok()) << nginx.log();
    WritePatternFile(nginx.root() + "/f.bin", 1'500'000);
    const std::string expected = ReadFile(nginx.root() + "/f.bin");
    TempDir dir;
    Client client(dir);

    EXPECT_EQ(client.Get(nginx.url("/f.bin", "localhost")), "(nothing raised)");
    EXPECT_EQ(client.http.ReplyNumber, 200);
    EXPECT_EQ(ReadFile(dir.file("body")), expected);
    EXPECT_EQ(client.http.BytesRecvd, 1'500'000);
    EXPECT_EQ(client.http.Port, nginx.port());

    // An address literal is checked against the certificate's addresses.
    EXPECT_EQ(client.Get(nginx.url("/f.bin")), "(nothing raised)");
    EXPECT_EQ(ReadFile(dir.file("body")), expected);

    // The CA is not trusted any more: refused, nothing written.
    trust.reset();
    ::setenv("SSL_CERT_FILE", "/nonexistent", 1);
    ::setenv("SSL_CERT_DIR", "/nonexistent", 1);
    std::remove(dir.file("body").c_str());
    EXPECT_EQ(client.Get(nginx.url("/f.bin", "localhost")),
              "Certificate verify failed: unable to get local issuer certificate");
    EXPECT_FALSE(Exists(dir.file("body")));
    EXPECT_FALSE(client.http.Connected);
    ::unsetenv("SSL_CERT_FILE");
    ::unsetenv("SSL_CERT_DIR");
}

TEST_F(Tls, RefusesWrongNameExpiredNotYetValidAndSelfSignedCertificates)
{
    struct Case {
        Certificate certificate;
        std::string error;
    };
    const std::vector<Case> cases = {
        {ca.Issue("other.test", "DNS:other.test"), "Certificate verify failed: hostname mismatch"},
        {ca.Issue("localhost", "DNS:localhost", "20200101000000Z", "20210101000000Z"),
         "Certificate verify failed: certificate has expired"},
        {ca.Issue("localhost", "DNS:localhost", "20990101000000Z", "21000101000000Z"),
         "Certificate verify failed: certificate is not yet valid"},
        {ca.SelfSigned("localhost", "DNS:localhost"), "Certificate verify failed: self-signed certificate"},
    };
    for (const Case& c : cases) {
        TlsNginx nginx(c.certificate);
        ASSERT_TRUE(nginx.ok()) << nginx.log();
        WriteFile(nginx.root() + "/f", "secret");
        TempDir dir;
        Client client(dir);
        EXPECT_EQ(client.Get(nginx.url("/f", "localhost")), c.error);
        EXPECT_FALSE(Exists(dir.file("body"))) << c.error;
        EXPECT_EQ(client.http.LastErrorNo(), 0) << c.error;
    }
    // A wildcard covers one label, not the host's parent name.
    TlsNginx wildcard(ca.Issue("*.localhost", "DNS:*.localhost"));
    ASSERT_TRUE(wildcard.ok());
    TempDir dir;
    Client client(dir);
    EXPECT_EQ(client.Get(wildcard.url("/f", "localhost")), "Certificate verify failed: hostname mismatch");
}

TEST_F(Tls, RequestInsideIsThePlainRequestAndTheBodyEndsAtItsLength)
{
    const Certificate c = ca.Issue("localhost", "DNS:localhost,IP:127.0.0.1");
    // The reply keeps the connection open after its body: the capture ends
    // at Content-Length all the same.
    TlsScriptedServer server(c, [](TlsConnection& t) {
        t.ReadRequest();
        t.Send("HTTP/1.0 200 OK\r\nContent-Length: 5\r\nETag: \"v1\"\r\n\r\nhello");
        char byte;
        ::recv(t.fd(), &byte, 1, 0); // until the client closes
    });
    TempDir dir;
    Client client(dir);
    client.http.TimeOut = 0;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(client.Get(server.url("/d/f.zip")), "(nothing raised)");
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(4));
    EXPECT_EQ(ReadFile(dir.file("body")), "hello");
    EXPECT_EQ(client.http.ReplyETag, "\"v1\"");
    ASSERT_TRUE(server.WaitForConnections(1));
    EXPECT_EQ(server.Requests()[0], "GET /d/f.zip HTTP/1.0\r\nHost: 127.0.0.1:" + std::to_string(server.port()) + "\r\n" + accepts +
                                        "Content-type: application/x-www-form-urlencoded\r\n\r\n");
}

TEST_F(Tls, AnEndWithoutCloseNotifyIsNeverASuccess)
{
    const Certificate c = ca.Issue("localhost", "DNS:localhost,IP:127.0.0.1");
    struct Case {
        std::string reply;
        bool cut;
        std::string error;
    };
    const std::vector<Case> cases = {
        // Cut in the body of a known length.
        {"HTTP/1.0 200 OK\r\nContent-Length: 100000\r\n\r\n" + std::string(50000, 'x'), true,
         "TLS connection ended without close_notify"},
        // No length: only close_notify can end the body.
        {"HTTP/1.0 200 OK\r\n\r\n" + std::string(50000, 'x'), true, "TLS connection ended without close_notify"},
        {"HTTP/1.0 200 OK\r\n\r\n" + std::string(50000, 'x'), false, "(nothing raised)"},
        // An orderly TLS end before the announced length.
        {"HTTP/1.0 200 OK\r\nContent-Length: 100000\r\n\r\n" + std::string(50000, 'x'), false,
         "Transfer closed with outstanding read data remaining (50000 of 100000 bytes received)"},
    };
    for (const Case& k : cases) {
        TlsScriptedServer server(c, [&](TlsConnection& t) {
            t.ReadRequest();
            t.Send(k.reply);
            if (k.cut)
                t.CutOnClose();
        });
        TempDir dir;
        Client client(dir);
        EXPECT_EQ(client.Get(server.url("/f")), k.error) << k.reply.substr(0, 40);
        EXPECT_FALSE(client.http.Connected);
    }
}

TEST_F(Tls, RedirectsIntoHttpsAreFollowedAndOutOfItRefused)
{
    const Certificate c = ca.Issue("localhost", "DNS:localhost,IP:127.0.0.1");
    NginxServer plain;
    ASSERT_TRUE(plain.ok());
    WriteFile(plain.root() + "/g", "plain");
    TlsNginx secure(c, {}, "location = /down { return 302 " + plain.url("/g") + "; }\n"
                           "    location = /name { return 302 g; }");
    ASSERT_TRUE(secure.ok()) << secure.log();
    WriteFile(secure.root() + "/g", "secure");
    NginxServer up("location = /up { return 301 " + secure.url("/g", "localhost") + "; }");
    ASSERT_TRUE(up.ok());

    TempDir dir;
    Client client(dir);
    EXPECT_EQ(client.Get(up.url("/up")), "(nothing raised)");
    EXPECT_EQ(ReadFile(dir.file("body")), "secure");
    EXPECT_TRUE(client.http.Secure);

    EXPECT_EQ(client.Get(secure.url("/down")), "Redirect from https to http refused: " + plain.url("/g"));
    EXPECT_EQ(client.http.ReplyNumber, 302);
    EXPECT_FALSE(client.http.Connected);

    // A bare file name stays on https and on the port.
    EXPECT_EQ(client.Get(secure.url("/name")), "(nothing raised)");
    EXPECT_EQ(ReadFile(dir.file("body")), "secure");
}

TEST_F(Tls, PeersThatAreNoTlsServersFailInBoundedTime)
{
    TempDir dir;
    struct Case {
        std::string name;
        ScriptedServer::Handler handler;
        std::string prefix;
    };
    const std::vector<Case> cases = {
        {"plain HTTP", [](ScriptedConnection& c) { c.Send("HTTP/1.0 200 OK\r\n\r\nplain"); },
         "TLS handshake failed: "},
        {"garbage", [](ScriptedConnection& c) { c.Send(std::string(4096, '\x7f')); }, "TLS handshake failed: "},
        // A record header that promises more than ever comes, then the end.
        {"truncated record", [](ScriptedConnection& c) { c.Send(std::string("\x16\x03\x03\x10\x00\x02", 6)); },
         "TLS handshake failed: "},
        {"closes at once", [](ScriptedConnection&) {}, "TLS handshake failed: "},
        {"silent", [](ScriptedConnection& c) { c.WaitForPeerClose(); }, "TLS handshake timed out"},
    };
    for (const Case& k : cases) {
        ScriptedServer server(k.handler);
        Client client(dir);
        client.http.TimeOut = 500;
        const auto start = std::chrono::steady_clock::now();
        const std::string error = client.Get("https://127.0.0.1:" + std::to_string(server.port()) + "/f");
        EXPECT_EQ(error.rfind(k.prefix, 0), 0u) << k.name << ": " << error;
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10)) << k.name;
        EXPECT_FALSE(Exists(dir.file("body"))) << k.name;
    }

    // A silent peer, canceled during the handshake.
    ScriptedServer silent([](ScriptedConnection& c) { c.WaitForPeerClose(); });
    Client client(dir);
    client.http.TimeOut = 0;
    client.http.OnConnect = [&](TObject*) { QTimer::singleShot(0, [&] { client.http.Cancel(); }); };
    EXPECT_EQ(messageOf<EAbortError>([&] { client.http.Get("https://127.0.0.1:" + std::to_string(silent.port()) + "/"); }),
              "TLS handshake aborted");
    EXPECT_FALSE(client.http.Connected);

    // The program's own limit bounds a handshake when TimeOut is 0.
    client.http.OnConnect = nullptr;
    client.http.ConnectTimeOut = 300;
    EXPECT_EQ(client.Get("https://127.0.0.1:" + std::to_string(silent.port()) + "/"), "TLS handshake timed out");
    EXPECT_TRUE(client.http.TimedOut());
}

TEST_F(Tls, AChainOfAHundredCertificatesIsRefusedInBoundedTime)
{
    // A leaf of a CA nobody trusts, then 99 more certificates.
    TestCA untrusted;
    ASSERT_TRUE(untrusted.ok());
    const Certificate leaf = untrusted.Issue("localhost", "DNS:localhost");
    const Certificate stranger = ca.SelfSigned("stranger", "DNS:stranger");
    std::string chain = ReadFile(leaf.cert);
    const std::string extra = ReadFile(stranger.cert);
    for (int i = 0; i < 99; ++i)
        chain += extra;
    TempDir files;
    WriteFile(files.file("chain.pem"), chain);
    TlsNginx nginx({files.file("chain.pem"), leaf.key});
    ASSERT_TRUE(nginx.ok()) << nginx.log();
    WriteFile(nginx.root() + "/f", "x");
    TempDir dir;
    Client client(dir);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(client.Get(nginx.url("/f", "localhost")),
              "Certificate verify failed: unable to get local issuer certificate");
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    EXPECT_FALSE(Exists(dir.file("body")));
}
