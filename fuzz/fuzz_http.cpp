// The HTTP client against arbitrary replies: the status line, the header
// lines and the body as a server sends them, over a real loopback
// connection, through the real socket and HTTP components with their event
// loop. A reply that redirects leads to the next connection and the next
// reply, so redirect chains (and their end) are covered.
//
// Input: one byte of switches, then the replies of the run's connections
// separated by "@@NEXT@@" (connections past the last reply are closed at
// once):
//   bit 0  Head instead of Get            bit 4  every status report (level 8)
//   bit 1  the body into a file           bit 5  OnRedirect handles redirects
//   bit 2  the header into a file         bit 6  credentials and a cookie
//   bit 3  the proxy form of the request
// Every request reaches the loopback server, whatever host a redirect
// names: in the proxy form as the proxy, otherwise OnAboutToSend points the
// component's host and port at it. No name is ever looked up, and an https
// location is fetched in plain HTTP from the same server.
//
// Checked: a request that ends without an exception, whose last reply went
// out whole, has captured that reply byte for byte: the header capture is
// the status line and the header lines up to the blank line that ends the
// header (or, when the connection closes first, every line that came whole:
// a line cut by the close is dropped), the body capture what follows up to
// the reply's Content-Length (all of it without one; nothing for a HEAD, a
// 204 or a 304), and BytesRecvd the body's length.
#include "fuzz/FuzzApp.h"
#include "fuzz/FuzzSupport.h"
#include "fuzz/ReplyServer.h"
#include "net/NMHttp.h"

#include <cstdlib>
#include <memory>
#include <utility>

namespace {

constexpr std::string_view Separator = "@@NEXT@@";

std::string lowerTrimmed(std::string text)
{
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r' || text.back() == '\n'))
        text.pop_back();
    std::size_t start = 0;
    while (start < text.size() && (text[start] == ' ' || text[start] == '\t'))
        ++start;
    text.erase(0, start);
    for (char& c : text)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return text;
}

// What the client is to capture of a reply: header lines end at LF; the
// first line is the status line, and the first blank line after it ends the
// header. The body ends at the Content-Length when there is one; a HEAD, a
// 204 and a 304 (the number as the component read it) have none.
std::pair<std::string, std::string> expectedCapture(const std::string& reply, bool head, int number)
{
    std::string header;
    std::size_t pos = 0;
    long long length = -1;
    for (bool status = true;; status = false) {
        const std::size_t lf = reply.find('\n', pos);
        if (lf == std::string::npos)
            return {header, {}};
        const std::string line = reply.substr(pos, lf + 1 - pos);
        header += line;
        pos = lf + 1;
        if (status)
            continue;
        if (line == "\n" || line == "\r\n") {
            std::string body = reply.substr(pos);
            if (head || number == 204 || number == 304)
                body.clear();
            else if (length >= 0 && static_cast<std::size_t>(length) < body.size())
                body.resize(static_cast<std::size_t>(length));
            return {header, body};
        } else if (const std::size_t colon = line.find(':');
                   colon != std::string::npos && lowerTrimmed(line.substr(0, colon)) == "content-length") {
            const std::string value = lowerTrimmed(line.substr(colon + 1));
            if (!value.empty() && value.size() <= 18 && value.find_first_not_of("0123456789") == std::string::npos)
                length = std::atoll(value.c_str());
        }
    }
}

struct Harness {
    fuzz::Scratch scratch{"http"};
    fuzz::ReplyServer server;
};

Harness& harness()
{
    static Harness* h = new Harness; // kept to the end: the server thread outlives every run
    return *h;
}

} // namespace

extern "C" int FUZZ_INITIALIZE(int*, char***)
{
    fuzz::EnsureApplication();
    harness();
    return 0;
}

extern "C" int FUZZ_TEST_ONE_INPUT(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    fuzz::EnsureApplication();
    Harness& h = harness();
    const std::uint8_t flags = data[0];
    std::vector<std::string> replies;
    for (std::string_view part : fuzz::Split(fuzz::AsText(data + 1, size - 1), Separator, TNMHTTP::MaxIterations + 2))
        replies.emplace_back(part);
    h.server.Begin(replies);

    const std::string bodyFile = h.scratch / "body";
    const std::string headerFile = h.scratch / "header";
    bool completed = false;
    std::string header, body;
    std::int64_t received = -1;
    int replyNumber = 0;
    {
        TNMHTTP http;
        http.InputFileMode = flags & 2;
        http.OutputFileMode = flags & 4;
        http.Body = http.InputFileMode ? bodyFile : std::string();
        http.Header = http.OutputFileMode ? headerFile : std::string();
        // The server speaks plain HTTP only: a redirect to https stays
        // plain (TLS would wait for a handshake the server never answers).
        if (flags & 8) {
            http.Proxy = "127.0.0.1";
            http.ProxyPort = h.server.port();
            http.OnAboutToSend = [&](TObject*) { http.Secure = false; };
        } else {
            http.OnAboutToSend = [&](TObject*) {
                http.Host = "127.0.0.1";
                http.Port = h.server.port();
                http.Secure = false;
            };
        }
        if (flags & 16) {
            http.ReportLevel = 8;
            http.OnStatus = [](TObject*, const std::string&) {};
        }
        if (flags & 32)
            http.OnRedirect = [](TObject*, bool& handled) { handled = true; };
        if (flags & 64) {
            http.HeaderInfo.UserId = "user";
            http.HeaderInfo.Password = "secret";
            http.HeaderInfo.Cookie = "a=b";
        }
        const std::string url = "http://127.0.0.1:" + std::to_string(h.server.port()) + "/d/f.zip";
        try {
            if (flags & 1)
                http.Head(url);
            else
                http.Get(url);
            completed = true;
        } catch (const std::exception&) {
            // Every failure is an exception the caller handles.
        }
        header = http.OutputFileMode ? fuzz::ReadFile(headerFile) : http.Header;
        body = http.InputFileMode ? fuzz::ReadFile(bodyFile) : http.Body;
        received = http.BytesRecvd;
        replyNumber = http.ReplyNumber;
    }
    const std::vector<fuzz::ReplyServer::Served> served = h.server.End();
    if (completed && !served.empty() && served.back().complete) {
        const auto [expectedHeader, expectedBody] = expectedCapture(served.back().reply, flags & 1, replyNumber);
        FUZZ_CHECK(header == expectedHeader && body == expectedBody, "header: " + header + "\nbody: " + body);
        FUZZ_CHECK(received == static_cast<std::int64_t>(body.size()), "BytesRecvd " + std::to_string(received));
    }
    return 0;
}
