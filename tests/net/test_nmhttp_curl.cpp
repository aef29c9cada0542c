// The HTTP component against scripted servers whose replies must be exact,
// each case beside what curl makes of the same server: how replies are
// read, where redirects lead, and what is sent to whom.
#include "Curl.h"
#include "MessageOf.h"
#include "net/NMHttp.h"
#include "net/Url.h"

#include "Servers.h"

#include <gtest/gtest.h>

using testsupport::ReadFile;
using testsupport::ScriptedConnection;
using testsupport::ScriptedServer;
using testsupport::TempDir;

namespace {

std::string firstLine(const std::string& request) { return request.substr(0, request.find("\r\n")); }

// The value of a request's field, or "(none)".
std::string fieldOf(const std::string& request, const std::string& name)
{
    const std::size_t at = request.find("\r\n" + name + ": ");
    if (at == std::string::npos)
        return "(none)";
    const std::size_t start = at + name.size() + 4;
    return request.substr(start, request.find("\r\n", start) - start);
}

struct Outcome {
    std::string error = "(nothing raised)";
    int number = 0;
    std::string body;
    std::int64_t received = 0;
};

Outcome get(const std::string& url, const std::function<void(TNMHTTP&)>& setUp = {})
{
    TNMHTTP http;
    http.TimeOut = 20000;
    if (setUp)
        setUp(http);
    Outcome o;
    o.error = messageOf<ESockError>([&] { http.Get(url); });
    o.number = http.ReplyNumber;
    o.body = http.Body;
    o.received = http.BytesRecvd;
    EXPECT_FALSE(http.Connected);
    return o;
}

} // namespace

TEST(NMHttpBesideCurl, RepliesAreReadAsCurlReadsThem)
{
    const std::string big(10000, 'b');
    struct Case {
        std::string reply;
        std::string error;   // ours; empty: a success with body
        std::string body;
        int curlExit;        // curl's, with its body when 0
    };
    const Case cases[] = {
        // Chunked, with extensions and trailers; chunked wins over a length.
        {"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5;x=1\r\nhello\r\n6\r\n world\r\n0\r\nT: 1\r\n\r\n", "",
         "hello world", 0},
        {"HTTP/1.1 200 OK\r\nContent-Length: 2\r\ntransfer-encoding: Chunked\r\n\r\n3\r\nabc\r\n0\r\n\r\n", "", "abc", 0},
        // A folded line is no Content-Length of its own.
        {"HTTP/1.0 200 OK\r\nX-A: a\r\n Content-Length: 10\r\n\r\n" + big, "", big, 0},
        // No reason phrase; interim replies before the final one.
        {"HTTP/1.1 200\r\n\r\nbody", "", "body", 0},
        {"HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 200 OK\r\nContent-Length: 4\r\n\r\nbody", "", "body", 0},
        {"HTTP/1.1 103 Early Hints\r\nLink: </a.css>\r\n\r\nHTTP/1.1 200 OK\r\n\r\nbody", "", "body", 0},
        // A list of equal lengths is that length.
        {"HTTP/1.0 200 OK\r\nContent-Length: 4, 4\r\n\r\nbodyEXTRA", "", "body", 0},
        // Framing that cannot be trusted.
        {"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\nabc\r\n0\r\n\r\n",
         "Invalid chunked encoding (bad chunk size)", "", 56},
        {"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nabcX\r\n0\r\n\r\n",
         "Invalid chunked encoding (no line end after chunk data)", "", 56},
        {"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nabc\r\n",
         "Transfer closed with outstanding read data remaining (3 bytes received, the last chunk missing)", "", 18},
        {"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nabc\r\n0\r\n",
         "Transfer closed with outstanding read data remaining (3 bytes received, the last chunk missing)", "", 18},
        {"HTTP/1.1 200 OK\r\nTransfer-Encoding: gzip\r\n\r\nabc", "Unsupported transfer coding: gzip", "", 61},
        {std::string("HTTP/1.1 200 OK\r\nX: a\0b\r\n\r\nabc", 31), "Malformed reply (NUL in the header)", "", 8},
        {"HTTP/1.1 2000 OK\r\n\r\nabc", "Malformed reply (status line)", "", 1},
        {"garbage\r\n\r\nabc", "Malformed reply (status line)", "", 1},
        // Where curl is lenient and we are not: a CR inside a line, a 101
        // nobody asked for, lengths that disagree (curl takes the first).
        {"HTTP/1.1 200 OK\r\nX: a\rb\r\n\r\nabc", "Malformed reply (CR without LF in the header)", "", 0},
        {"HTTP/1.1 101 Switching Protocols\r\n\r\nabc", "Unexpected 101 reply (switching protocols)", "", 0},
        {"HTTP/1.0 200 OK\r\nContent-Length: 3, 4\r\n\r\nabcd", "Invalid Content-Length", "", 0},
    };
    TempDir dir;
    for (const Case& k : cases) {
        ScriptedServer server(ScriptedServer::Reply(k.reply));
        const Outcome ours = get(server.url("/f"));
        const std::string expected = k.error.empty() ? "(nothing raised)" : k.error;
        EXPECT_EQ(ours.error, expected) << k.reply.substr(0, 60);
        if (k.error.empty()) {
            EXPECT_EQ(ours.number, 200) << k.reply.substr(0, 60);
            EXPECT_TRUE(ours.body == k.body) << k.reply.substr(0, 60) << "\n" << ours.body.substr(0, 60);
            EXPECT_EQ(ours.received, static_cast<std::int64_t>(k.body.size())) << k.reply.substr(0, 60);
        }
        const CurlResult curl = Curl(dir, server.url("/f"));
        EXPECT_EQ(curl.exitCode, k.curlExit) << k.reply.substr(0, 60) << "\n" << curl.error;
        if (k.curlExit == 0 && k.error.empty()) {
            EXPECT_TRUE(curl.body == k.body) << k.reply.substr(0, 60);
        }
    }
}

TEST(NMHttpBesideCurl, LocationsAreResolvedAsCurlResolvesThem)
{
    struct Case {
        std::string fields; // of the 302 to "/a/b/c"
        std::string target; // where we go next
        bool curlFollows;
    };
    const std::string port = "@PORT@";
    const Case cases[] = {
        {"Location:/x", "/x", true},
        {"Location:\t/x", "/x", true},
        {"location:     /x   ", "/x", true},
        {"LOCATION: /x#top", "/x", true},
        {"Location: sub/f", "/a/b/sub/f", true},
        {"Location: ../x", "/a/x", true},
        {"Location: ?q=1", "/a/b/c?q=1", true},
        {"Location: //127.0.0.1:" + port + "/y", "/y", true},
        {"Location: x y/../../z", "/a/z", true},
        {"Location: /d/my app \xE3\x82\xA2.zip?t=1", "/d/my%20app%20%E3%82%A2.zip?t=1", true},
        // Folded: curl 7.88 does not join it and stays with the 302.
        {"Location:\r\n  /folded", "/folded", false},
    };
    std::string location;
    ScriptedServer server([&](ScriptedConnection& c) {
        const std::string request = c.ReadRequest();
        if (firstLine(request) == "GET /a/b/c HTTP/1.0") {
            c.Send("HTTP/1.0 302 Found\r\n" + location + "\r\nContent-Length: 0\r\n\r\n");
        } else {
            c.Send("HTTP/1.0 200 OK\r\n\r\nreached");
        }
    });
    TempDir dir;
    for (Case k : cases) {
        for (std::size_t at; (at = k.fields.find(port)) != std::string::npos;)
            k.fields.replace(at, port.size(), std::to_string(server.port()));
        location = k.fields;
        const std::size_t before = server.Requests().size();
        const Outcome ours = get(server.url("/a/b/c"));
        EXPECT_EQ(ours.error, "(nothing raised)") << k.fields;
        EXPECT_EQ(ours.body, "reached") << k.fields;
        ASSERT_TRUE(server.WaitForConnections(static_cast<int>(before) + 2));
        const std::string ourTarget = firstLine(server.Requests()[before + 1]);
        EXPECT_EQ(ourTarget, "GET " + k.target + " HTTP/1.0") << k.fields;

        const CurlResult curl = Curl(dir, server.url("/a/b/c"), "-L");
        EXPECT_EQ(curl.exitCode, 0) << k.fields << curl.error;
        if (k.curlFollows) {
            ASSERT_TRUE(server.WaitForConnections(static_cast<int>(before) + 4));
            // curl writes the hexadecimal digits of its escapes in lower case.
            EXPECT_EQ(PercentDecode(firstLine(server.Requests()[before + 3])), PercentDecode(ourTarget)) << k.fields;
        } else {
            ASSERT_TRUE(server.WaitForConnections(static_cast<int>(before) + 3));
            EXPECT_EQ(curl.body, "");
        }
    }
}

TEST(NMHttpBesideCurl, ARedirectWithoutAUsableLocationEndsThereAndOtherSchemesAreRefused)
{
    std::string location;
    ScriptedServer server([&](ScriptedConnection& c) {
        const std::string line = firstLine(c.ReadRequest());
        if (line == "GET /first HTTP/1.0")
            c.Send("HTTP/1.0 302 Found\r\nLocation: /file.zip\r\n\r\n");
        else if (line == "GET /file.zip HTTP/1.0")
            c.Send("HTTP/1.0 200 OK\r\n\r\nthe file");
        else if (line == "GET /nowhere HTTP/1.0")
            c.Send("HTTP/1.0 302 Found\r\nContent-Length: 9\r\n\r\nsome page");
        else if (line == "GET /away HTTP/1.0")
            c.Send("HTTP/1.0 301 Moved\r\nLocation: " + location + "\r\n\r\n");
        else
            c.Send("HTTP/1.0 200 OK\r\n\r\nthe front page");
    });
    TempDir dir;
    // No Location: the 302 is the reply, nothing is asked of "/" and the
    // Location of an earlier reply of the same component is not taken up.
    TNMHTTP http;
    http.TimeOut = 20000;
    http.InputFileMode = true;
    http.KeepErrorBodies = false;
    http.Body = dir.file("f.zip");
    http.Get(server.url("/first"));
    EXPECT_EQ(ReadFile(dir.file("f.zip")), "the file");
    std::remove(dir.file("f.zip").c_str());
    http.Get(server.url("/nowhere"));
    EXPECT_EQ(http.ReplyNumber, 302);
    EXPECT_EQ(http.ReplyLocation, "");
    EXPECT_FALSE(testsupport::Exists(dir.file("f.zip")));
    ASSERT_TRUE(server.WaitForConnections(3));
    const CurlResult curl = Curl(dir, server.url("/nowhere"), "-L");
    EXPECT_EQ(curl.exitCode, 0);
    ASSERT_TRUE(server.WaitForConnections(4));
    EXPECT_EQ(server.Connections(), 4); // neither asked for anything more

    // Only http and https are followed: the others end before any
    // connection. curl refuses the ones it cannot follow either.
    const std::pair<std::string, int> schemes[] = {
        {"file:///etc/passwd", 1}, {"javascript:alert(1)", 1}, {"ftp://127.0.0.1:1/f", -1}, {"gopher://127.0.0.1:1/", -1}};
    for (const auto& [target, curlExit] : schemes) {
        location = target;
        const int before = server.Connections();
        EXPECT_EQ(get(server.url("/away")).error, "Unsupported scheme: " + target.substr(0, target.find(':'))) << target;
        ASSERT_TRUE(server.WaitForConnections(before + 1));
        if (curlExit >= 0) {
            EXPECT_EQ(Curl(dir, server.url("/away"), "-L").exitCode, curlExit) << target;
            ASSERT_TRUE(server.WaitForConnections(before + 2));
        }
        EXPECT_EQ(server.Connections(), before + (curlExit >= 0 ? 2 : 1)) << target;
    }
    // Ports that do not exist, given or in a Location: refused, not wrapped
    // around to another port (90138 is 24602 in 16 bits).
    EXPECT_EQ(get("http://127.0.0.1:90138/f").error, "Invalid port number: 90138");
    EXPECT_EQ(Curl(dir, "http://127.0.0.1:90138/f").exitCode, 3);
    location = "http://127.0.0.1:90138/f";
    const int before = server.Connections();
    EXPECT_EQ(get(server.url("/away")).error, "Invalid port number: 90138");
    ASSERT_TRUE(server.WaitForConnections(before + 1));
    EXPECT_EQ(Curl(dir, server.url("/away"), "-L").exitCode, 3);
}

TEST(NMHttpBesideCurl, CredentialsAndCookiesStayWithTheHostTheyBelongTo)
{
    // first (127.0.0.1) sends the client on, with a cookie, to `next`;
    // every other request is answered with 200.
    std::string next;
    auto handler = [&next](ScriptedConnection& c) {
        const std::string line = firstLine(c.ReadRequest());
        if (line == "GET /start HTTP/1.0")
            c.Send("HTTP/1.0 302 Found\r\nSet-Cookie: k=v; Path=/; HttpOnly\r\nLocation: " + next + "\r\n\r\n");
        else
            c.Send("HTTP/1.0 200 OK\r\n\r\nok");
    };
    ScriptedServer first(handler);
    ScriptedServer other(handler);
    TempDir dir;
    struct Case {
        std::string next;
        std::string authorization; // what the next request carries
        std::string cookie;
        bool user = true; // the caller gives credentials (--user)
        std::string curlAuthorization = "(same)";
    };
    const std::string port = std::to_string(other.port());
    const Case cases[] = {
        // Another host: neither the credentials nor the cookie.
        {"http://localhost:" + port + "/f", "(none)", "(none)"},
        // The same host on another port: the cookie (cookies know no
        // ports), not the credentials (another origin).
        {"http://127.0.0.1:" + port + "/f", "(none)", "k=v"},
        // Back to where the credentials were given: both.
        {first.url("/f"), "Basic dTpw", "k=v"},
        // Credentials in the Location are that request's. curl 7.88 takes
        // them up only on the origin the redirect came from.
        {"http://x:y@" + first.url("/f").substr(7), "Basic eDp5", "k=v", false},
        {"http://x:y@localhost:" + port + "/f", "Basic eDp5", "(none)", false, "(none)"},
    };
    for (const Case& k : cases) {
        next = k.next;
        const bool sameServer = k.next.find(std::to_string(first.port())) != std::string::npos;
        ScriptedServer& target = sameServer ? first : other;
        for (const bool curl : {false, true}) {
            const std::size_t before = target.Requests().size();
            const int firstBefore = first.Connections();
            if (curl) {
                EXPECT_EQ(Curl(dir, first.url("/start"), std::string("-L -b '' ") + (k.user ? "-u u:p" : "")).exitCode, 0);
            } else {
                EXPECT_EQ(get(first.url("/start"),
                              [&](TNMHTTP& http) {
                                  http.HeaderInfo.UserId = k.user ? "u" : "";
                                  http.HeaderInfo.Password = "p";
                              })
                              .body,
                          "ok")
                    << k.next;
            }
            ASSERT_TRUE(first.WaitForConnections(firstBefore + 1));
            ASSERT_TRUE(target.WaitForConnections(static_cast<int>(before) + 1 + (sameServer ? 1 : 0)));
            const std::string request = target.Requests().back();
            EXPECT_EQ(fieldOf(request, "Authorization"),
                      curl && k.curlAuthorization != "(same)" ? k.curlAuthorization : k.authorization)
                << k.next << (curl ? " (curl)" : "");
            EXPECT_EQ(fieldOf(request, "Cookie"), k.cookie) << k.next << (curl ? " (curl)" : "");
            // The request the caller asked for carries the credentials.
            EXPECT_EQ(fieldOf(first.Requests()[static_cast<std::size_t>(firstBefore)], "Authorization"),
                      k.user ? "Basic dTpw" : "(none)");
        }
    }
}

TEST(NMHttpBesideCurl, CredentialsOfALocationAreItsOriginsForTheRestOfTheCycle)
{
    ScriptedServer chain([](ScriptedConnection& c) {
        const std::string line = firstLine(c.ReadRequest());
        if (line == "GET /one HTTP/1.0")
            c.Send("HTTP/1.0 302 Found\r\nLocation: /two\r\n\r\n");
        else
            c.Send("HTTP/1.0 200 OK\r\n\r\nok");
    });
    const std::string target = "http://x:y@localhost:" + std::to_string(chain.port()) + "/one";
    ScriptedServer first(ScriptedServer::Reply("HTTP/1.0 302 Found\r\nLocation: " + target + "\r\n\r\n"));
    EXPECT_EQ(get(first.url("/start")).body, "ok");
    ASSERT_TRUE(chain.WaitForConnections(2));
    for (const std::string& request : chain.Requests())
        EXPECT_EQ(fieldOf(request, "Authorization"), "Basic eDp5") << firstLine(request);
    EXPECT_EQ(fieldOf(first.Requests()[0], "Authorization"), "(none)");
    // So does curl with them on the command line.
    TempDir dir;
    EXPECT_EQ(Curl(dir, target, "-L").body, "ok");
    ASSERT_TRUE(chain.WaitForConnections(4));
    EXPECT_EQ(fieldOf(chain.Requests()[3], "Authorization"), "Basic eDp5");
}

TEST(NMHttpBesideCurl, TheHostLineHasThePortAndTheTargetIsEncodedAsCurlSendsThem)
{
    ScriptedServer server(ScriptedServer::Reply("HTTP/1.0 200 OK\r\n\r\nok"));
    TempDir dir;
    get(server.url("/d/\xE3\x82\xA2.zip?q=%41"));
    Curl(dir, server.url("/d/\xE3\x82\xA2.zip?q=%41"));
    ASSERT_TRUE(server.WaitForConnections(2));
    const auto requests = server.Requests();
    EXPECT_EQ(firstLine(requests[0]), "GET /d/%E3%82%A2.zip?q=%41 HTTP/1.0");
    EXPECT_EQ(PercentDecode(firstLine(requests[1])), PercentDecode(firstLine(requests[0])));
    EXPECT_EQ(fieldOf(requests[0], "Host"), "127.0.0.1:" + std::to_string(server.port()));
    EXPECT_EQ(fieldOf(requests[0], "Host"), fieldOf(requests[1], "Host"));

    // Blanks, controls and the dot segments of a path: encoded and
    // resolved, never raw on the request line.
    get(server.url("/x y/../../d/a\tb.zip#frag"));
    ASSERT_TRUE(server.WaitForConnections(3));
    EXPECT_EQ(firstLine(server.Requests()[2]), "GET /d/a%09b.zip HTTP/1.0");
}
