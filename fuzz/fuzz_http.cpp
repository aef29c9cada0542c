// The HTTP client against arbitrary replies: the status line, the header
// lines and the body as a server sends them, over a real loopback
// connection, through the real socket and HTTP components with their event
// loop. A reply that redirects leads to the next connection and the next
// reply, so redirect chains (and their end) are covered. The reply reader
// and the chunked decoder are driven with bytes alone as well.
//
// Input: one byte of switches, then the replies of the run's connections
// separated by "@@NEXT@@" (connections past the last reply are closed at
// once):
//   bit 0  Head instead of Get            bit 4  every status report (level 8)
//   bit 1  the body into a file           bit 5  OnRedirect handles redirects
//   bit 2  the header into a file         bit 6  credentials and a cookie
//   bit 3  the proxy form of the request  bit 7  bytes alone, no connection
// Every request reaches the loopback server, whatever host a redirect
// names: in the proxy form as the proxy, otherwise OnAboutToSend points the
// component's host and port at it. No name is ever looked up, and an https
// location is fetched in plain HTTP from the same server.
//
// Checked over the connection: a request that ends without an exception,
// whose last reply went out whole, has captured that reply as the reader
// and the decoder take it with the reply's bytes alone: the header capture
// is the final reply's status line and header lines up to its empty line
// (interim replies left out), the body capture its data (the chunks' data
// when chunked, up to the Content-Length when there is one, all of it
// otherwise; nothing for a HEAD, a 204 or a 304), BytesRecvd the data's
// length and ReplyNumber the reply's number. A reply the reader refuses, or
// a body the decoder refuses or does not see end, never ends without an
// exception. A server that closes before a whole line (the line reader
// drops a line cut by the close) leaves both captures empty.
//
// Checked with bytes alone (bit 7), for each reply: the reader's fields
// never hold a CR, LF or NUL, nor blanks at either end of a value, and a
// complete reply has a final number (200 to 999) and its status line; the
// decoder gives the same data, end and error whether the body comes whole
// or cut at the points the input's bytes choose, never more data than
// bytes, and counts what it gave.
#include "fuzz/FuzzApp.h"
#include "fuzz/FuzzSupport.h"
#include "fuzz/ReplyServer.h"
#include "net/ChunkedDecoder.h"
#include "net/HttpReply.h"
#include "net/NMHttp.h"

#include <memory>
#include <utility>

namespace {

constexpr std::string_view Separator = "@@NEXT@@";

// A reply as the reader and the decoder take it.
struct Reading {
    bool empty = false;    // not a whole line: the component sees no reply
    bool accepted = false; // the header read and the body's framing and data sound
    int number = 0;
    std::string header; // the final reply's header as received
    std::string body;   // its data
};

Reading readAlone(const std::string& reply, bool head)
{
    Reading r;
    r.empty = reply.find('\n') == std::string::npos;
    THttpReply reader;
    std::size_t pos = 0;
    THttpReply::TFeed step = THttpReply::More;
    while (step == THttpReply::More || step == THttpReply::Interim) {
        const std::size_t lf = reply.find('\n', pos);
        if (lf == std::string::npos)
            return r; // cut by the close
        const std::string line = reply.substr(pos, lf + 1 - pos);
        pos = lf + 1;
        if (step == THttpReply::Interim)
            r.header.clear();
        r.header += line;
        step = reader.Feed(line);
    }
    if (step != THttpReply::Complete)
        return r;
    r.number = reader.Code();
    const THttpReply::TBodyFraming framing = reader.BodyFraming();
    if (!framing.Error.empty())
        return r;
    std::string rest = reply.substr(pos);
    if (head || r.number == 204 || r.number == 304) {
        rest.clear();
    } else if (framing.Kind == THttpReply::Chunked) {
        TChunkedDecoder decoder;
        rest.resize(decoder.Decode(rest.data(), rest.size()));
        if (!decoder.Done())
            return r;
    } else if (framing.Kind == THttpReply::ByLength) {
        if (static_cast<std::size_t>(framing.Length) > rest.size())
            return r;
        rest.resize(static_cast<std::size_t>(framing.Length));
    }
    r.body = std::move(rest);
    r.accepted = true;
    return r;
}

// The pure reader and decoder on one reply; cuts are taken from the
// reply's own bytes.
void checkAlone(const std::string& reply)
{
    THttpReply reader;
    std::size_t pos = 0;
    THttpReply::TFeed step = THttpReply::More;
    while (pos < reply.size() && (step == THttpReply::More || step == THttpReply::Interim)) {
        const std::size_t lf = reply.find('\n', pos);
        const std::size_t end = lf == std::string::npos ? reply.size() : lf + 1;
        step = reader.Feed(std::string_view(reply).substr(pos, end - pos));
        pos = end;
    }
    for (const THttpReply::TField& field : reader.Fields()) {
        FUZZ_CHECK(!field.Name.empty() && field.Name.find_first_of(std::string(" \t\r\n\0", 5)) == std::string::npos,
                   field.Name);
        FUZZ_CHECK(field.Value.find_first_of(std::string("\r\n\0", 3)) == std::string::npos, field.Value);
        FUZZ_CHECK(field.Value.empty() || (field.Value.front() != ' ' && field.Value.front() != '\t' &&
                                           field.Value.back() != ' ' && field.Value.back() != '\t'),
                   field.Value);
    }
    if (step == THttpReply::Complete) {
        FUZZ_CHECK(reader.Code() >= 200 && reader.Code() <= 999, std::to_string(reader.Code()));
        FUZZ_CHECK(reader.StatusLine().compare(0, 7, "HTTP/1.") == 0, reader.StatusLine());
    }
    FUZZ_CHECK((step == THttpReply::Failed) == !reader.Error().empty(), reader.Error());

    // The rest as a chunked body: whole, then cut where its bytes say.
    const std::string body = reply.substr(std::min(pos, reply.size()));
    std::string whole = body;
    TChunkedDecoder one;
    whole.resize(one.Decode(whole.data(), whole.size()));
    std::string cut = body, pieces;
    TChunkedDecoder many;
    for (std::size_t at = 0, i = 0; at < cut.size(); ++i) {
        const std::size_t n = std::min<std::size_t>(cut.size() - at, 1 + static_cast<unsigned char>(body[i % body.size()]) % 17);
        const std::size_t data = many.Decode(cut.data() + at, n);
        FUZZ_CHECK(data <= n, "more data than bytes");
        pieces.append(cut.data() + at, data);
        at += n;
    }
    FUZZ_CHECK(pieces == whole && one.Done() == many.Done() && one.Error() == many.Error(),
               "whole: " + one.Error() + "\ncut: " + many.Error());
    FUZZ_CHECK(one.DataSize() == static_cast<std::int64_t>(whole.size()), "DataSize " + std::to_string(one.DataSize()));
    FUZZ_CHECK(!(one.Done() && one.Failed()), "done and failed");
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
    const std::uint8_t flags = data[0];
    std::vector<std::string> replies;
    for (std::string_view part : fuzz::Split(fuzz::AsText(data + 1, size - 1), Separator, TNMHTTP::MaxIterations + 2))
        replies.emplace_back(part);
    if (flags & 128) {
        for (const std::string& reply : replies)
            checkAlone(reply);
        return 0;
    }
    fuzz::EnsureApplication();
    Harness& h = harness();
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
        const Reading expected = readAlone(served.back().reply, flags & 1);
        FUZZ_CHECK(expected.accepted || expected.empty, "accepted a reply the reader refuses");
        FUZZ_CHECK(header == expected.header && body == expected.body, "header: " + header + "\nbody: " + body);
        FUZZ_CHECK(received == static_cast<std::int64_t>(body.size()), "BytesRecvd " + std::to_string(received));
        FUZZ_CHECK(replyNumber == expected.number, "ReplyNumber " + std::to_string(replyNumber));
    }
    return 0;
}
