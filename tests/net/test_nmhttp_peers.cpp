// The HTTP component against real servers and a real proxy, side by side
// with curl: apache2, lighttpd and nginx serving folders and files with
// blanks, queries and Japanese names, and squid between.
#include "Curl.h"
#include "MessageOf.h"
#include "net/NMHttp.h"
#include "net/Url.h"

#include "Servers.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <chrono>
#include <filesystem>
#include <memory>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

using testsupport::ApacheServer;
using testsupport::LighttpdServer;
using testsupport::NginxServer;
using testsupport::ReadFile;
using testsupport::ScriptedConnection;
using testsupport::ScriptedServer;
using testsupport::ServedFolder;
using testsupport::SquidProxy;
using testsupport::TempDir;
using testsupport::WriteFile;

namespace {

// The three web servers, each serving its own folder.
struct Servers {
    ApacheServer apache;
    LighttpdServer lighttpd;
    NginxServer nginx;
    std::vector<std::pair<std::string, ServedFolder*>> all()
    {
        return {{"apache2", &apache}, {"lighttpd", &lighttpd}, {"nginx", &nginx}};
    }
};

const std::string japaneseName = "my app \xE3\x82\xA2.zip"; // "my app ア.zip"

// What a client that asks with HTTP/1.1 gets from the proxy for url: the
// reply as sent, read until the end of its last chunk (the proxy keeps
// the connection) or its close.
std::string fetchAsHttp11(int proxyPort, const std::string& url)
{
    const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<uint16_t>(proxyPort));
    std::string reply;
    if (::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) {
        const std::string request = "GET " + url + " HTTP/1.1\r\nHost: " + url.substr(7, url.find('/', 7) - 7) + "\r\n\r\n";
        ::send(s, request.data(), request.size(), MSG_NOSIGNAL);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        char buffer[65536];
        while (reply.find("\r\n0\r\n\r\n") == std::string::npos && std::chrono::steady_clock::now() < deadline) {
            pollfd p{s, POLLIN, 0};
            if (::poll(&p, 1, 100) <= 0)
                continue;
            const ssize_t n = ::recv(s, buffer, sizeof buffer, 0);
            if (n <= 0)
                break;
            reply.append(buffer, static_cast<std::size_t>(n));
        }
    }
    ::close(s);
    return reply;
}

} // namespace

TEST(NMHttpPeers, AFolderAskedForWithoutItsSlashIsReachedOnTheServersOwnPort)
{
    // A stock Apache builds its redirect from the Host line: without the
    // port there the client would be sent to port 80. lighttpd's redirect
    // is relative, nginx's absolute with its own port.
    Servers servers;
    TempDir dir;
    for (auto& [name, server] : servers.all()) {
        ASSERT_TRUE(server->ok()) << name << server->log();
        std::filesystem::create_directory(server->root() + "/folder");
        WriteFile(server->root() + "/folder/index.html", "the folder of " + name);
        TNMHTTP http;
        http.TimeOut = 20000;
        int redirects = 0;
        http.OnRedirect = [&](TObject*, bool&) { ++redirects; };
        EXPECT_EQ(messageOf<ESockError>([&] { http.Get(server->url("/folder")); }), "(nothing raised)") << name;
        EXPECT_EQ(http.ReplyNumber, 200) << name;
        EXPECT_EQ(redirects, 1) << name;
        EXPECT_EQ(http.Body, "the folder of " + name) << name;
        EXPECT_EQ(http.Address(), server->url("/folder/")) << name;
        const CurlResult curl = Curl(dir, server->url("/folder"), "-L");
        EXPECT_EQ(curl.exitCode, 0) << name << curl.error;
        EXPECT_EQ(curl.body, http.Body) << name;
    }
}

TEST(NMHttpPeers, AnAddressWithBlanksAQueryAndAJapaneseNameIsFetchedAndNamed)
{
    Servers servers;
    TempDir dir;
    for (auto& [name, server] : servers.all()) {
        ASSERT_TRUE(server->ok()) << name << server->log();
        std::filesystem::create_directory(server->root() + "/d");
        testsupport::WritePatternFile(server->root() + "/d/" + japaneseName, 100000);
        const std::string expected = ReadFile(server->root() + "/d/" + japaneseName);
        // As a user types it, and as a page links it: the same file.
        const std::string typed = server->url("/d/" + japaneseName + "?token=a b");
        const std::string linked = server->url("/d/my%20app%20%E3%82%A2.zip?token=a%20b");
        for (const std::string& url : {typed, linked}) {
            TNMHTTP http;
            http.TimeOut = 20000;
            http.InputFileMode = true;
            http.Body = dir.file("body");
            http.Get(url);
            EXPECT_EQ(http.ReplyNumber, 200) << name << " " << url;
            EXPECT_TRUE(ReadFile(dir.file("body")) == expected) << name << " " << url;
            EXPECT_EQ(http.BytesRecvd, 100000) << name;
            EXPECT_EQ(TargetFileName(url), japaneseName) << url;
        }
        // curl refuses the blank as the user typed it, and fetches what the
        // page links.
        EXPECT_EQ(Curl(dir, typed).exitCode, 3) << name;
        const CurlResult curl = Curl(dir, linked);
        EXPECT_EQ(curl.exitCode, 0) << name << curl.error;
        EXPECT_TRUE(curl.body == expected) << name;
    }
}

TEST(NMHttpPeers, ThroughSquidPlainAndChunkedRepliesKeepOnlyTheData)
{
    SquidProxy squid;
    ASSERT_TRUE(squid.ok()) << squid.log();
    NginxServer nginx;
    ASSERT_TRUE(nginx.ok()) << nginx.log();
    testsupport::WritePatternFile(nginx.root() + "/" + japaneseName, 300000);
    const std::string file = ReadFile(nginx.root() + "/" + japaneseName);
    // An origin that frames its body in chunks (it is an HTTP/1.1 server,
    // and squid asks it with HTTP/1.1) and one whose body ends with its close.
    std::string pattern;
    for (int i = 0; pattern.size() < 250000; ++i)
        pattern += std::to_string(i) + ",";
    ScriptedServer origin([&pattern](ScriptedConnection& c) {
        const std::string request = c.ReadRequest();
        if (request.find(" /chunked ") != std::string::npos) {
            // Connection: close, so that squid keeps no connection to it
            // for the next request (which it would find closed).
            std::string reply = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\nConnection: close\r\n\r\n";
            for (std::size_t at = 0; at < pattern.size(); at += 7777) {
                const std::string piece = pattern.substr(at, 7777);
                char size[32];
                std::snprintf(size, sizeof size, "%zx;n=%zu\r\n", piece.size(), at);
                reply += size + piece + "\r\n";
            }
            c.Send(reply + "0\r\nX-Trailer: t\r\n\r\n");
        } else {
            c.Send("HTTP/1.0 200 OK\r\n\r\n" + pattern);
        }
    });
    TempDir dir;
    auto viaSquid = [&](const std::string& url) {
        TNMHTTP http;
        http.TimeOut = 20000;
        http.Proxy = "127.0.0.1";
        http.ProxyPort = squid.port();
        http.Get(url);
        EXPECT_EQ(http.ReplyNumber, 200) << url;
        EXPECT_EQ(http.BytesRecvd, static_cast<std::int64_t>(http.Body.size())) << url;
        return http.Body;
    };
    const std::string proxy = "-x " + squid.url();
    EXPECT_TRUE(viaSquid(nginx.url("/" + japaneseName)) == file);
    EXPECT_TRUE(Curl(dir, nginx.url("/my%20app%20%E3%82%A2.zip"), proxy).body == file);
    for (const std::string path : {"/chunked", "/closed"}) {
        EXPECT_TRUE(viaSquid(origin.url(path)) == pattern) << path;
        EXPECT_TRUE(Curl(dir, origin.url(path), proxy).body == pattern) << path;
    }

    // squid's own chunks, as an HTTP/1.1 client gets them, given byte for
    // byte to the component and to curl: both keep the data alone.
    for (const std::string path : {"/chunked", "/closed"}) {
        const std::string reply = fetchAsHttp11(squid.port(), origin.url(path));
        ASSERT_NE(reply.find("\r\nTransfer-Encoding: chunked\r\n"), std::string::npos) << reply.substr(0, 400);
        ScriptedServer replay(ScriptedServer::Reply(reply));
        TNMHTTP http;
        http.TimeOut = 20000;
        http.Get(replay.url(path));
        EXPECT_EQ(http.ReplyNumber, 200);
        EXPECT_TRUE(http.Body == pattern) << path;
        EXPECT_EQ(http.BytesRecvd, static_cast<std::int64_t>(pattern.size()));
        EXPECT_EQ(http.BytesTotal, 0);
        const CurlResult curl = Curl(dir, replay.url(path));
        EXPECT_EQ(curl.exitCode, 0) << curl.error;
        EXPECT_TRUE(curl.body == pattern) << path;
    }
}
