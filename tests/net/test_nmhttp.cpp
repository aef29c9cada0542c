// The HTTP component against a real nginx and scripted servers.
#include "MessageOf.h"
#include "net/NMHttp.h"
#include "net/NMURL.h"
#include "net/NMUUE.h"
#include "runtime/SysUtils.h"

#include "Servers.h"

#include <QTimer>

#include <gtest/gtest.h>

#include <atomic>
#include <sstream>
#include <thread>

using testsupport::NginxServer;
using testsupport::ReadFile;
using testsupport::ScriptedConnection;
using testsupport::ScriptedServer;
using testsupport::TempDir;

namespace {

const std::string accepts = "Accept: www/source, text/html, video/mpeg, image/jpeg, image/x-tiff\r\n"
                            "Accept: image/x-rgb, image/x-xbm, image/gif, */*, application/postscript\r\n";

// A component in the main window's file modes, writing into dir, with every
// event recorded.
struct Client {
    explicit Client(const TempDir& dir)
    {
        http.InputFileMode = true;
        http.OutputFileMode = true;
        http.Body = dir.file("body");
        http.Header = dir.file("header");
        http.ReportLevel = 2;
        http.OnAboutToSend = [this](TObject*) { events.push_back("about"); };
        http.OnConnect = [this](TObject*) { events.push_back("connect"); };
        http.OnDisconnect = [this](TObject*) { events.push_back("disconnect"); };
        http.OnStatus = [this](TObject*, const std::string& s) { events.push_back("status " + s); };
        http.OnSuccess = [this](TObject*, CmdType c) { events.push_back("success " + std::to_string(c)); };
        http.OnFailure = [this](TObject*, CmdType c) { events.push_back("failure " + std::to_string(c)); };
        http.OnRedirect = [this](TObject*, bool&) { events.push_back("redirect"); };
    }
    // The events without the early disconnects a capture may announce.
    std::vector<std::string> Main() const
    {
        std::vector<std::string> out;
        for (const auto& e : events)
            if (e != "disconnect" || (!out.empty() && out.back() != "disconnect"))
                out.push_back(e);
        while (out.size() > 1 && out.back() == "disconnect" && out[out.size() - 2] == "disconnect")
            out.pop_back();
        return out;
    }
    std::vector<std::string> events; // outlives http
    TNMHTTP http;
};

std::string firstLine(const std::string& request) { return request.substr(0, request.find("\r\n")); }

} // namespace

TEST(NMHttp, GetSendsTheExactRequestAndCapturesHeaderAndBody)
{
    const std::string reply = "HTTP/1.0 200 OK\r\nContent-Length: 4\r\nX: y\r\n\r\nbody";
    ScriptedServer server(ScriptedServer::Reply(reply));
    TempDir dir;
    Client c(dir);
    c.http.Get(server.url("/d/f.zip"));
    ASSERT_TRUE(server.WaitForConnections(1));
    // The Host line carries the port, which is not http's default.
    EXPECT_EQ(server.Requests()[0], "GET /d/f.zip HTTP/1.0\r\nHost: 127.0.0.1:" + std::to_string(server.port()) + "\r\n" + accepts +
                                        "Content-type: application/x-www-form-urlencoded\r\n\r\n");
    EXPECT_EQ(ReadFile(dir.file("header")), reply.substr(0, reply.size() - 4));
    EXPECT_EQ(ReadFile(dir.file("body")), "body");
    EXPECT_EQ(c.http.ReplyNumber, 200);
    EXPECT_EQ(c.http.BytesTotal, 4);
    EXPECT_EQ(c.http.BytesRecvd, 4);
    auto main = c.Main();
    // A close noticed while no data waits may announce a disconnect early.
    main.erase(std::remove(main.begin(), main.end() - 1, std::string("disconnect")), main.end() - 1);
    EXPECT_EQ(main, (std::vector<std::string>{"about", "connect", "success 0", "status Transaction Completed", "disconnect"}));

    // Credentials only when both are set; one line however long.
    c.http.HeaderInfo.UserId = "user";
    c.http.Get(server.url("/a"));
    c.http.HeaderInfo.Password = "pass";
    c.http.Get(server.url("/a"));
    c.http.HeaderInfo.UserId = std::string(70, 'u');
    c.http.Get(server.url("/a"));
    ASSERT_TRUE(server.WaitForConnections(4));
    const auto requests = server.Requests();
    EXPECT_EQ(requests[1].find("Authorization"), std::string::npos);
    EXPECT_NE(requests[2].find("\r\nAuthorization: Basic dXNlcjpwYXNz\r\n"), std::string::npos);
    const auto start = requests[3].find("Authorization: Basic ");
    ASSERT_NE(start, std::string::npos);
    const auto end = requests[3].find("\r\n", start);
    EXPECT_EQ(end - start, std::string("Authorization: Basic ").size() + 100); // 75 bytes -> 100 characters
}

TEST(NMHttp, ProxyRequestCarriesTheWholeUrl)
{
    ScriptedServer proxy(ScriptedServer::Reply("HTTP/1.0 200 OK\r\n\r\n"));
    TempDir dir;
    Client c(dir);
    c.http.Proxy = "127.0.0.1";
    c.http.ProxyPort = proxy.port();
    c.http.Get("http://far.example/x/y.zip");
    c.http.Get("http://far.example");
    ASSERT_TRUE(proxy.WaitForConnections(2));
    EXPECT_EQ(proxy.Requests()[0], "GET http://far.example/x/y.zip HTTP/1.0\r\nProxy-Connection: Keep-Alive\r\n"
                                   "Host: far.example\r\n" +
                                       accepts + "Content-type: application/x-www-form-urlencoded\r\n\r\n");
    EXPECT_EQ(firstLine(proxy.Requests()[1]), "GET http://far.example/ HTTP/1.0");
}

TEST(NMHttp, ParseUrlSplitsHostPortAndPath)
{
    TNMHTTP http;
    auto parse = [&](const std::string& url) {
        http.URL = url;
        http.ParseURL();
    };
    parse("http://h:8080/a/b?q");
    EXPECT_EQ(http.Host, "h");
    EXPECT_EQ(http.Port, 8080);
    EXPECT_EQ(http.Path, "/a/b?q");
    http.Port = 0;
    parse("k/x");
    EXPECT_EQ(http.Host, "k");
    EXPECT_EQ(http.Port, 80);
    http.Port = 8000;
    parse("k/x");
    EXPECT_EQ(http.Port, 8000); // a caller's port counts without any ":"
    parse("/other/path");
    EXPECT_EQ(http.Host, "k");
    EXPECT_EQ(http.Path, "/other/path");
    parse("http://h/");
    EXPECT_EQ(http.Path, "/");
    EXPECT_EQ(http.URL, "http://h//");
    parse("http://h");
    EXPECT_EQ(http.URL, "http://h/");
    const std::string longPath = "/" + std::string(300, 'p');
    parse("http://h" + longPath);
    EXPECT_EQ(http.Path, longPath);

    http.Port = 0;
    parse("https://h/");
    EXPECT_EQ(http.Port, 443);
    EXPECT_TRUE(http.Secure);
    parse("/f?at=12:00"); // a colon in a location's query names no scheme
    EXPECT_EQ(http.Port, 443);
    EXPECT_TRUE(http.Secure);
    parse("HTTPS://h:8443/");
    EXPECT_EQ(http.Port, 8443);
    EXPECT_TRUE(http.Secure);
    parse("http://h/");
    EXPECT_FALSE(http.Secure);
    EXPECT_EQ(messageOf<Exception>([&] { parse(""); }), "Empty URL");
    EXPECT_EQ(messageOf<Exception>([&] { parse("#only-a-fragment"); }), "Empty URL");
    EXPECT_EQ(messageOf<EConvertError>([&] { parse("http://h:8x/"); }), "'8x' は整数ではありません");

    // What the request needs of an address: the fragment never goes, a
    // query without a path gets "/", an empty port is the default one,
    // credentials come out of the host part.
    http.Port = 0;
    parse("http://user:p%40ss@H:8080?q=1#frag");
    EXPECT_EQ(http.Host, "H");
    EXPECT_EQ(http.Port, 8080);
    EXPECT_EQ(http.Path, "/?q=1");
    EXPECT_EQ(http.Address(), "http://H:8080/?q=1");
    parse("https://h:/a b/c#x");
    EXPECT_EQ(http.Port, 443);
    EXPECT_EQ(http.Path, "/a b/c");
    EXPECT_EQ(http.URL, "https://h:/a b/c");
    parse("[::1]:8080/f");
    EXPECT_EQ(http.Host, "[::1]");
    EXPECT_EQ(http.Address(), "http://[::1]:8080/f");

    // Other schemes, and ports outside 1..65535, are refused before any
    // connection, whatever else the address holds.
    for (const std::string url : {"ftp://h/f", "gopher://h/", "file:///etc/passwd", "javascript:alert(1)",
                                  "mailto:a@b", "h:/x", "FTP://h:21/"}) {
        const std::string scheme = LowerCase(url.substr(0, url.find(':')));
        EXPECT_EQ(messageOf<ESockError>([&] { parse(url); }), "Unsupported scheme: " + scheme) << url;
    }
    for (const std::string port : {"0", "65536", "90138", "99999999999999999999", "-1"})
        EXPECT_EQ(messageOf<ESockError>([&] { parse("http://h:" + port + "/"); }), "Invalid port number: " + port);
    parse("http://h:65535/");
    EXPECT_EQ(http.Port, 65535);
    http.Port = 70000;
    EXPECT_EQ(messageOf<ESockError>([&] { parse("/x"); }), "Invalid port number: 70000");
}

TEST(NMHttp, AgainstNginx)
{
    NginxServer nginx("location = /moved { return 302 /file.bin; }");
    ASSERT_TRUE(nginx.ok()) << nginx.log();
    testsupport::WritePatternFile(nginx.root() + "/file.bin", 300000);
    const std::string expected = ReadFile(nginx.root() + "/file.bin");
    TempDir dir;
    Client c(dir);

    c.http.Get(nginx.url("/file.bin"));
    EXPECT_EQ(c.http.ReplyNumber, 200);
    EXPECT_TRUE(ReadFile(dir.file("body")) == expected);
    EXPECT_EQ(c.http.BytesRecvd, 300000);
    EXPECT_EQ(c.http.BytesTotal, 300000);
    const std::string header = ReadFile(dir.file("header"));
    EXPECT_EQ(header.rfind("HTTP/1.1 200 OK\r\n", 0), 0u) << header;
    EXPECT_EQ(header.substr(header.size() - 4), "\r\n\r\n");

    c.http.Head(nginx.url("/file.bin"));
    EXPECT_EQ(ReadFile(dir.file("body")), "");
    EXPECT_NE(ReadFile(dir.file("header")).find("Content-Length: 300000\r\n"), std::string::npos);

    c.events.clear();
    c.http.Get(nginx.url("/missing.zip"));
    EXPECT_EQ(c.http.ReplyNumber, 404);
    EXPECT_NE(ReadFile(dir.file("body")).find("404"), std::string::npos);
    EXPECT_NE(std::find(c.events.begin(), c.events.end(), "failure 0"), c.events.end());
    EXPECT_EQ(std::find(c.events.begin(), c.events.end(), "status Transaction Completed"), c.events.end());

    c.http.Get(nginx.url("/moved"));
    EXPECT_EQ(c.http.ReplyNumber, 200);
    EXPECT_TRUE(ReadFile(dir.file("body")) == expected);
}

TEST(NMHttp, RedirectsAreFollowedAndEnd)
{
    std::string base;
    ScriptedServer server([&base](ScriptedConnection& c) {
        const std::string line = firstLine(c.ReadRequest());
        if (line == "GET /a HTTP/1.0")
            c.Send("HTTP/1.0 302 Found\r\nLocation: " + base + "/b\r\nSet-Cookie: k=v\r\n\r\n");
        else if (line == "GET /b HTTP/1.0")
            c.Send("HTTP/1.0 303 See Other\r\nLocation: /c\r\n\r\n");
        else if (line == "GET /c HTTP/1.0")
            c.Send("HTTP/1.0 307 Temporary\r\nLocation: d.txt\r\n\r\n");
        else if (line == "GET /d.txt HTTP/1.0")
            c.Send("HTTP/1.0 200 OK\r\n\r\ndone");
        else if (line == "GET /loop HTTP/1.0")
            c.Send("HTTP/1.0 308 Permanent\r\nLocation: /loop\r\n\r\n");
        else
            c.Send("HTTP/1.0 304 Not Modified\r\nLocation: /a\r\n\r\n");
    });
    base = server.url("");
    TempDir dir;
    Client c(dir);
    c.http.Get(server.url("/a"));
    EXPECT_EQ(c.http.ReplyNumber, 200);
    EXPECT_EQ(ReadFile(dir.file("body")), "done");
    EXPECT_EQ(std::count(c.events.begin(), c.events.end(), "redirect"), 3);
    ASSERT_TRUE(server.WaitForConnections(4));
    auto requests = server.Requests();
    EXPECT_EQ(requests[0].find("Cookie"), std::string::npos);
    EXPECT_NE(requests[1].find("\r\nCookie: k=v\r\n"), std::string::npos); // taken from the redirect
    EXPECT_NE(requests[3].find("\r\nCookie: k=v\r\n"), std::string::npos); // and kept
    EXPECT_EQ(firstLine(requests[3]), "GET /d.txt HTTP/1.0"); // same host and port

    // A handler that takes the redirect over stops after one iteration.
    c.http.OnRedirect = [](TObject*, bool& handled) { handled = true; };
    c.http.Get(server.url("/a"));
    EXPECT_EQ(c.http.ReplyNumber, 302);
    ASSERT_TRUE(server.WaitForConnections(5));

    // 304 is a final reply.
    c.http.OnRedirect = nullptr;
    c.http.Get(server.url("/other"));
    EXPECT_EQ(c.http.ReplyNumber, 304);
    ASSERT_TRUE(server.WaitForConnections(6));

    // An endless chain ends after 20 requests with an error that is not ESockError.
    bool sockError = false;
    std::string message;
    try {
        c.http.Get(server.url("/loop"));
    } catch (const ESockError&) {
        sockError = true;
    } catch (const Exception& e) {
        message = e.Message();
    }
    EXPECT_FALSE(sockError);
    EXPECT_EQ(message, "Too many redirects");
    ASSERT_TRUE(server.WaitForConnections(26));
    EXPECT_EQ(server.Connections(), 26);
}

TEST(NMHttp, OddRepliesEndCleanly)
{
    struct Case {
        std::string reply;
        int number;
        std::int64_t total;
        std::string header;
        std::string error; // empty: a success
    };
    const std::string cut = "Transfer closed with outstanding read data remaining (reply header incomplete)";
    const Case cases[] = {
        {"", 0, 0, "", ""}, // closed before any reply: a success, as the component always had it
        {"HTTP/1.0 200 OK\r\nContent-Le", 200, 0, "HTTP/1.0 200 OK\r\n", cut},
        {"HTTP/1.0 200 OK\r\n", 200, 0, "HTTP/1.0 200 OK\r\n", cut},
        {"HTTP/1.0 200 OK\r\ncontent-length: 5\r\n\r\nabcde", 200, 5, "HTTP/1.0 200 OK\r\ncontent-length: 5\r\n\r\n", ""},
        {"HTTP/1.0 200 OK\r\nContent-Length:5\r\n\r\nabcde", 200, 5, "HTTP/1.0 200 OK\r\nContent-Length:5\r\n\r\n", ""},
        {"HTTP/1.0 200\r\n\n", 200, 0, "HTTP/1.0 200\r\n\n", ""},
        // The header capture is the final reply's.
        {"HTTP/1.1 100 Continue\r\nX: 1\r\n\r\nHTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok", 200, 2,
         "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\n", ""},
        {"garbage\r\n\r\nabcde", 0, 0, "garbage\r\n", "Malformed reply (status line)"},
        {"HTTP/1.0 abc OK\nNo colon here\n\nx", 0, 0, "HTTP/1.0 abc OK\n", "Malformed reply (status line)"},
    };
    TempDir dir;
    for (const Case& k : cases) {
        ScriptedServer server(ScriptedServer::Reply(k.reply));
        Client c(dir);
        EXPECT_EQ(messageOf<ESockError>([&] { c.http.Get(server.url("/x")); }), k.error.empty() ? "(nothing raised)" : k.error)
            << k.reply;
        EXPECT_EQ(c.http.ReplyNumber, k.number) << k.reply;
        EXPECT_EQ(c.http.BytesTotal, k.total) << k.reply;
        EXPECT_EQ(ReadFile(dir.file("header")), k.header) << k.reply;
        if (!k.error.empty()) {
            EXPECT_EQ(c.http.LastErrorNo(), 0) << k.reply; // a failure of the reply, not of a socket call
        }
        EXPECT_EQ(std::find(c.events.begin(), c.events.end(), "success 0") != c.events.end(), k.error.empty())
            << k.reply;
        EXPECT_FALSE(c.http.Connected);
    }

    // Header in a string, body in a string.
    ScriptedServer server(ScriptedServer::Reply("HTTP/1.0 500 Oops\r\n\r\nerror page"));
    TNMHTTP http;
    http.Get(server.url("/x"));
    EXPECT_EQ(http.Header, "HTTP/1.0 500 Oops\r\n\r\n");
    EXPECT_EQ(http.Body, "error page");
}

TEST(NMHttp, TheBodyEndsWhereTheReplySaysAndACutBodyIsAnError)
{
    TempDir dir;
    auto get = [&](ScriptedServer::Handler handler, std::string* body = nullptr, bool head = false) {
        ScriptedServer server(std::move(handler));
        Client c(dir);
        c.http.TimeOut = 20000;
        std::remove(dir.file("body").c_str());
        const std::string error = messageOf<ESockError>([&] {
            if (head)
                c.http.Head(server.url("/x"));
            else
                c.http.Get(server.url("/x"));
        });
        if (body)
            *body = testsupport::Exists(dir.file("body")) ? ReadFile(dir.file("body")) : "(none)";
        EXPECT_FALSE(c.http.Connected);
        return error;
    };
    // A peer that keeps the connection open after the announced length.
    std::string body;
    EXPECT_EQ(get([](ScriptedConnection& c) {
        c.ReadRequest();
        c.Send("HTTP/1.0 200 OK\r\nContent-Length : 4 \r\n\r\nbodyEXTRA");
        c.WaitForPeerClose();
    }, &body), "(nothing raised)");
    EXPECT_EQ(body, "body");
    // So does a HEAD, which has no body whatever its length says.
    EXPECT_EQ(get([](ScriptedConnection& c) {
        c.ReadRequest();
        c.Send("HTTP/1.0 200 OK\r\nContent-Length: 400\r\n\r\n");
        c.WaitForPeerClose();
    }, &body, true), "(nothing raised)");
    EXPECT_EQ(body, "");
    // Closed, or reset, before the end of the body.
    EXPECT_EQ(get(ScriptedServer::Reply("HTTP/1.0 200 OK\r\nContent-Length: 10\r\n\r\nhalf"), &body),
              "Transfer closed with outstanding read data remaining (4 of 10 bytes received)");
    EXPECT_EQ(body, "half");
    const std::string reset = get([](ScriptedConnection& c) {
        c.ReadRequest();
        c.Send("HTTP/1.0 200 OK\r\n\r\nno length, then a reset");
        c.ResetOnClose();
    });
    EXPECT_EQ(reset, "10054:Connection reset by peer");
    // Lengths that cannot be trusted.
    for (const std::string length : {"-5", "12x", "99999999999999999999", "4\r\nContent-Length: 5"})
        EXPECT_EQ(get(ScriptedServer::Reply("HTTP/1.0 200 OK\r\nContent-Length: " + length + "\r\n\r\nbody!")),
                  "Invalid Content-Length")
            << length;
}

TEST(NMHttp, AnIdleLimitEndsAStallButNotASlowMovingBody)
{
    TempDir dir;
    // A byte every 100 ms for 2 s: longer than the limit, never idle for it.
    ScriptedServer trickle([](ScriptedConnection& c) {
        c.ReadRequest();
        c.Send("HTTP/1.0 200 OK\r\nContent-Length: 20\r\n\r\n");
        for (int i = 0; i < 20; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            if (!c.Send("x"))
                return;
        }
    });
    Client c(dir);
    c.http.IdleTimeOut = 600;
    EXPECT_EQ(messageOf<ESockError>([&] { c.http.Get(trickle.url("/x")); }), "(nothing raised)");
    EXPECT_EQ(ReadFile(dir.file("body")), std::string(20, 'x'));
    EXPECT_FALSE(c.http.TimedOut());

    ScriptedServer stall([](ScriptedConnection& c) {
        c.ReadRequest();
        c.Send("HTTP/1.0 200 OK\r\nContent-Length: 20\r\n\r\nxx");
        c.WaitForPeerClose();
    });
    EXPECT_EQ(messageOf<EAbortError>([&] { c.http.Get(stall.url("/x")); }), "Socket capture aborted");
    EXPECT_TRUE(c.http.TimedOut());
}

TEST(NMHttp, RangesAreAskedForAndTheirRepliesChecked)
{
    TempDir dir;
    std::string request;
    auto serve = [&](std::string reply) {
        return [&request, reply](ScriptedConnection& c) {
            request = c.ReadRequest();
            c.Send(reply);
        };
    };
    testsupport::WriteFile(dir.file("body"), "01234");
    {
        ScriptedServer server(serve("HTTP/1.0 206 Partial\r\nContent-Range: bytes 5-9/10\r\nContent-Length: 5\r\n"
                                    "ETag: \"t\"\r\n\r\n56789"));
        Client c(dir);
        c.http.RangeFrom = 5;
        c.http.RangeValidator = "\"t\"";
        c.http.Get(server.url("/x"));
        EXPECT_NE(request.find("\r\nRange: bytes=5-\r\nIf-Range: \"t\"\r\n"), std::string::npos) << request;
        EXPECT_TRUE(c.http.BodyAppended);
        EXPECT_EQ(c.http.ReplyRangeTotal, 10);
        EXPECT_EQ(ReadFile(dir.file("body")), "0123456789");
    }
    // Another start, another version, a length that disagrees, a range
    // nobody asked for: refused before the body file is touched.
    const std::vector<std::pair<std::int64_t, std::string>> refused = {
        {5, "Content-Range: bytes 4-9/10\r\nContent-Length: 6\r\nETag: \"t\""},
        {5, "Content-Range: bytes 5-9/10\r\nContent-Length: 5\r\nETag: \"other\""},
        {5, "Content-Range: bytes 5-9/10\r\nContent-Length: 4\r\nETag: \"t\""},
        {-1, "Content-Range: bytes 0-4/5\r\nContent-Length: 5"},
    };
    for (const auto& [from, fields] : refused) {
        ScriptedServer server(serve("HTTP/1.0 206 Partial\r\n" + fields + "\r\n\r\n56789"));
        Client c(dir);
        c.http.RangeFrom = from;
        c.http.RangeValidator = "\"t\"";
        EXPECT_EQ(messageOf<ESockError>([&] { c.http.Get(server.url("/x")); }), "Partial reply does not match the request")
            << fields;
        EXPECT_EQ(ReadFile(dir.file("body")), "0123456789") << fields;
    }
    // Without error bodies, an error page never reaches the body file.
    ScriptedServer busy(serve("HTTP/1.0 503 Busy\r\nContent-Length: 4\r\n\r\npage"));
    Client c(dir);
    c.http.KeepErrorBodies = false;
    c.http.Get(busy.url("/x"));
    EXPECT_EQ(c.http.ReplyNumber, 503);
    EXPECT_EQ(ReadFile(dir.file("body")), "0123456789");
}

TEST(NMHttp, FailuresCloseTheConnectionAndKeepFiles)
{
    TempDir dir;
    {
        // An endless header line.
        ScriptedServer server([](ScriptedConnection& c) {
            c.ReadRequest();
            c.Send("HTTP/1.0 200 OK\r\n" + std::string(70000, 'X'));
            c.WaitForPeerClose();
        });
        Client c(dir);
        EXPECT_EQ(messageOf<ESockError>([&] { c.http.Get(server.url("/x")); }), "Line too long");
        EXPECT_TRUE(server.WaitForConnections(1)); // the client closed
        EXPECT_EQ(ReadFile(dir.file("header")), "HTTP/1.0 200 OK\r\n");
    }
    {
        // No reply at all, with a time-out.
        ScriptedServer server(ScriptedServer::Stall());
        Client c(dir);
        c.http.TimeOut = 300;
        EXPECT_EQ(messageOf<EAbortError>([&] { c.http.Get(server.url("/x")); }), "Socket readln aborted");
        EXPECT_TRUE(server.WaitForConnections(1));
        EXPECT_FALSE(c.http.Connected);
    }
    {
        // Stalls in the body: the time-out, a GUI timer's Cancel and Abort all end it.
        ScriptedServer server(ScriptedServer::Stall("HTTP/1.0 200 OK\r\n\r\npartial"));
        Client c(dir);
        c.http.TimeOut = 300;
        EXPECT_EQ(messageOf<EAbortError>([&] { c.http.Get(server.url("/x")); }), "Socket capture aborted");
        EXPECT_EQ(ReadFile(dir.file("body")), "partial");

        c.http.TimeOut = 0;
        std::int64_t seen = 0;
        QTimer timer;
        timer.setInterval(20);
        QObject::connect(&timer, &QTimer::timeout, [&] {
            seen = c.http.BytesRecvd;
            if (seen > 0)
                c.http.Cancel();
        });
        timer.start();
        EXPECT_EQ(messageOf<EAbortError>([&] { c.http.Get(server.url("/x")); }), "Socket capture aborted");
        EXPECT_EQ(seen, 7);
        QObject::disconnect(&timer, nullptr, nullptr, nullptr);
        QObject::connect(&timer, &QTimer::timeout, [&] { c.http.Abort(); });
        EXPECT_EQ(messageOf<EAbortError>([&] { c.http.Get(server.url("/x")); }), "Socket capture aborted");
        timer.stop();
        EXPECT_TRUE(server.WaitForConnections(3));
    }
    {
        // A body file that cannot be created: the file error, after the
        // connection is closed; the header capture stays on disk.
        ScriptedServer server(ScriptedServer::Stall("HTTP/1.0 200 OK\r\n\r\nbody"));
        Client c(dir);
        c.http.Body = dir.file("no/such/folder/body");
        EXPECT_EQ(messageOf<EFCreateError>([&] { c.http.Get(server.url("/x")); }),
                  "ファイル " + c.http.Body + " を作成できません");
        EXPECT_TRUE(server.WaitForConnections(1));
        EXPECT_EQ(ReadFile(dir.file("header")), "HTTP/1.0 200 OK\r\n\r\n");
    }
    {
        // Nothing listens.
        Client c(dir);
        int port;
        {
            ScriptedServer gone(ScriptedServer::Reply(""));
            port = gone.port();
        }
        EXPECT_EQ(messageOf<ESockError>([&] { c.http.Get("http://127.0.0.1:" + std::to_string(port) + "/"); }),
                  "Connection Failed");
        EXPECT_EQ(c.http.LastErrorNo(), 10035);
    }
}

namespace {

const std::string filler = "X-Filler: " + std::string(20, 'a') + "\r\n";

// A status line, a Content-Length of 4 and filler lines, `size` bytes in
// all, without the blank line that ends a header.
std::string headerOf(std::size_t size)
{
    std::string header = "HTTP/1.0 200 OK\r\nContent-Length: 4\r\n";
    while (size - header.size() > 100)
        header += filler;
    header += "X-Last: " + std::string(size - header.size() - 10, 'z') + "\r\n";
    return header;
}

} // namespace

TEST(NMHttp, ReplyHeaderHasASizeLimit)
{
    TempDir dir;
    // Up to 256 KiB a header is captured byte for byte; one byte more
    // fails, the line that passed the limit still written.
    for (const std::size_t size : {255 * 1024u, 256 * 1024u, 256 * 1024u + 1}) {
        const std::string header = headerOf(size);
        ASSERT_EQ(header.size(), size);
        ScriptedServer server(ScriptedServer::Reply(header + "\r\nbody"));
        Client c(dir);
        if (size <= 256 * 1024) {
            c.http.Get(server.url("/x"));
            EXPECT_TRUE(ReadFile(dir.file("header")) == header + "\r\n") << size;
            EXPECT_EQ(ReadFile(dir.file("body")), "body") << size;
            EXPECT_EQ(c.http.BytesTotal, 4) << size;
        } else {
            EXPECT_EQ(messageOf<ESockError>([&] { c.http.Get(server.url("/x")); }), "Header too long") << size;
            EXPECT_TRUE(ReadFile(dir.file("header")) == header) << size;
            EXPECT_EQ(c.http.LastErrorNo(), 0);
        }
    }

    // Short lines without end: the client gives up and closes long before
    // the server would have sent its 64 MiB.
    constexpr std::int64_t bound = 64 << 20;
    std::atomic<std::int64_t> sent{0};
    std::atomic<bool> peerClosed{false};
    ScriptedServer endless([&](ScriptedConnection& c) {
        c.ReadRequest();
        c.Send("HTTP/1.0 200 OK\r\n");
        std::string block;
        for (int i = 0; i < 1024; ++i)
            block += filler;
        while (sent < bound) {
            if (!c.Send(block)) {
                peerClosed = true;
                return;
            }
            sent += static_cast<std::int64_t>(block.size());
        }
        c.Send("\r\n");
    });
    Client c(dir);
    c.http.TimeOut = 2000;
    EXPECT_EQ(messageOf<ESockError>([&] { c.http.Get(endless.url("/x")); }), "Header too long");
    EXPECT_EQ(c.http.LastErrorNo(), 0);
    EXPECT_FALSE(c.http.Connected);
    ASSERT_TRUE(endless.WaitForConnections(1));
    EXPECT_TRUE(peerClosed);
    EXPECT_LT(sent, bound / 2);
    const std::string header = ReadFile(dir.file("header"));
    EXPECT_GT(header.size(), 256 * 1024u);
    EXPECT_LE(header.size(), 256 * 1024 + filler.size());
    std::string expected = "HTTP/1.0 200 OK\r\n";
    while (expected.size() < header.size())
        expected += filler;
    EXPECT_TRUE(header == expected);

    // The same in a string.
    TNMHTTP http;
    EXPECT_EQ(messageOf<ESockError>([&] { http.Get(endless.url("/x")); }), "Header too long");
    EXPECT_TRUE(http.Header == expected);
    EXPECT_TRUE(endless.WaitForConnections(2));
}

TEST(NMHttp, PostSendsEncodedDataOrAFile)
{
    ScriptedServer server([](ScriptedConnection& c) {
        const std::string head = c.ReadRequest();
        const auto at = head.find("Content-Length: ");
        if (at != std::string::npos)
            c.ReadBytes(std::stoul(head.substr(at + 16)));
        c.Send("HTTP/1.0 200 OK\r\n\r\n");
    });
    TempDir dir;
    TNMHTTP http;
    http.Post(server.url("/form"), "a b&c=d");
    testsupport::WriteFile(dir.file("upload"), std::string(100000, 'u'));
    http.OutputFileMode = true;
    http.Header = dir.file("header");
    http.Post(server.url("/up"), dir.file("upload"));
    EXPECT_EQ(http.BytesSent, 100000);
    ASSERT_TRUE(server.WaitForConnections(2));
    const auto requests = server.Requests();
    EXPECT_EQ(firstLine(requests[0]), "POST /form HTTP/1.0");
    EXPECT_NE(requests[0].find("\r\nContent-Length: 11\r\n\r\na+b%26c%3Dd"), std::string::npos);
    EXPECT_NE(requests[1].find("\r\nContent-Length: 100000\r\n\r\n" + std::string(100000, 'u')), std::string::npos);
}

TEST(NMHttp, HelpersEncodeAndEditFields)
{
    TNMURL url;
    url.InputString = "Az09 -_.~/\xe3\x81\x82";
    EXPECT_EQ(url.Encode(), "Az09+%2D%5F%2E%7E%2F%E3%81%82");

    EXPECT_EQ(TNMUUProcessor::EncodeText("user:pass", uuMime), "dXNlcjpwYXNz\r\n");
    EXPECT_EQ(TNMUUProcessor::EncodeText("ab", uuMime), "YWI=\r\n");
    EXPECT_EQ(TNMUUProcessor::EncodeText("a", uuMime), "YQ==\r\n");
    std::string sixty;
    for (int i = 0; i < 15; ++i)
        sixty += "eHh4";
    EXPECT_EQ(TNMUUProcessor::EncodeText(std::string(46, 'x'), uuMime), sixty + "\r\neA==\r\n");
    EXPECT_EQ(TNMUUProcessor::EncodeText("Cat", uuCode), "#0V%T\r\n`\r\n");

    TExStringList list;
    list.Add("no colon");
    list.SetField("Host", "a");
    list.SetField("host", "b"); // replaced, with the new name's spelling
    EXPECT_EQ(list.Count(), 2);
    EXPECT_EQ(list[1], "host: b");
    EXPECT_EQ(list.IndexOfField("HOST"), 1);
    EXPECT_EQ(list.IndexOfField("no colon"), -1);
    list.SetField("HOST", "");
    EXPECT_EQ(list.Count(), 1);

    // A sorted list is sorted by whole lines, not by names: the field is
    // found all the same.
    TExStringList sorted;
    for (const char* line : {"a-b: 3", "a: 1", "", ": empty name", "b: 2"})
        sorted.Add(line);
    sorted.Sort();
    sorted.Sorted = true;
    EXPECT_EQ(sorted[sorted.IndexOfField("a")], "a: 1");
    EXPECT_EQ(sorted[sorted.IndexOfField("A-B")], "a-b: 3");
    EXPECT_EQ(sorted[sorted.IndexOfField("")], ": empty name");
    EXPECT_EQ(sorted.IndexOfField("c"), -1);
}

TEST(NMHttp, UnsendableUrlsAndFieldsFailBeforeConnecting)
{
    // A NUL would cut the request short (and leave it waiting for the
    // server's time-out), CR and LF would end its lines early.
    ScriptedServer server([](ScriptedConnection& c) {
        c.ReadRequest();
        c.Send("HTTP/1.0 302 Found\r\nLocation: /next\r\nSet-Cookie: a=b\rX-Injected: 1\r\n\r\n");
    });
    TNMHTTP http;
    for (const std::string& url : {server.url(std::string("/a\0b", 4)), server.url("/a\r\nX: y"), server.url("/a\n")})
        EXPECT_EQ(messageOf<Exception>([&] { http.Get(url); }), "Invalid URL");
    http.HeaderInfo.Cookie = "a=b\rX-Injected: 1";
    EXPECT_EQ(messageOf<Exception>([&] { http.Get(server.url("/first")); }), "Invalid header field");
    EXPECT_EQ(server.Connections(), 0);
    // A reply whose cookie would carry a CR into the next request is
    // malformed: it never comes to that.
    http.HeaderInfo.Cookie.clear();
    EXPECT_EQ(messageOf<ESockError>([&] { http.Get(server.url("/first")); }),
              "Malformed reply (CR without LF in the header)");
    ASSERT_TRUE(server.WaitForConnections(1));
    EXPECT_EQ(server.Connections(), 1);
    EXPECT_FALSE(http.Connected);
}
