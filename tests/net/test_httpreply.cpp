// Reply headers read line by line as an HTTP/1.1 client reads them, and the
// framing of the body that follows from them.
#include "net/HttpReply.h"

#include <gtest/gtest.h>

namespace {

struct Read {
    THttpReply reply;
    THttpReply::TFeed last = THttpReply::More;
    int interim = 0;
};

// Feeds the header's lines (split after each LF) until one ends the reading.
Read read(const std::string& header)
{
    Read r;
    for (std::size_t at = 0; at < header.size();) {
        const std::size_t lf = header.find('\n', at);
        const std::size_t end = lf == std::string::npos ? header.size() : lf + 1;
        r.last = r.reply.Feed(std::string_view(header).substr(at, end - at));
        at = end;
        if (r.last == THttpReply::Interim)
            ++r.interim;
        else if (r.last != THttpReply::More)
            break;
    }
    return r;
}

} // namespace

TEST(HttpReply, StatusLinesAsCurlReadsThemAndInterimRepliesSkipped)
{
    const std::pair<std::string, int> good[] = {
        {"HTTP/1.1 200 OK\r\n", 200},
        {"HTTP/1.1 200\r\n", 200},
        {"HTTP/1.0 404 \r\n", 404},
        {"HTTP/1.1  302\tFound it\n", 302},
        {"HTTP/1.1 599 \xE2\x9C\x93\r\n", 599},
    };
    for (const auto& [line, code] : good) {
        const Read r = read(line + "\r\n");
        EXPECT_EQ(r.last, THttpReply::Complete) << line << r.reply.Error();
        EXPECT_EQ(r.reply.Code(), code) << line;
        EXPECT_EQ(r.reply.StatusLine(), line);
    }
    for (const std::string line : {"garbage", "HTTP/1.1 2000 OK", "HTTP/1.1 20 OK", "HTTP/1.1 abc", "HTTP/1.1 099 Low",
                                   "HTTP/1.1200 OK", "HTTP/2 200", "HTTP/2.0 200 OK", "http/1.1 200 OK", "HTTP/1.x 200",
                                   "", " HTTP/1.1 200 OK"}) {
        const Read r = read(line + "\r\n\r\n");
        EXPECT_EQ(r.last, THttpReply::Failed) << line;
        EXPECT_EQ(r.reply.Error(), "Malformed reply (status line)") << line;
    }
    EXPECT_EQ(read("HTTP/1.1 101 Switching Protocols\r\nUpgrade: h2c\r\n\r\n").reply.Error(),
              "Unexpected 101 reply (switching protocols)");

    // 100 and 103 (with fields of their own) come before the final reply,
    // whose fields alone count.
    const Read r = read("HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 103 Early Hints\r\nLink: </s.css>\r\n"
                        "Location: /early\r\n\r\nHTTP/1.1 200 OK\r\nContent-Length: 3\r\n\r\n");
    EXPECT_EQ(r.last, THttpReply::Complete);
    EXPECT_EQ(r.interim, 2);
    EXPECT_EQ(r.reply.Code(), 200);
    EXPECT_EQ(r.reply.StatusLine(), "HTTP/1.1 200 OK\r\n");
    EXPECT_EQ(r.reply.Last("location"), "");
    EXPECT_EQ(r.reply.Fields().size(), 1u);
}

TEST(HttpReply, FieldsInAnyCaseSpacingAndFoldingWhileNulAndBareCrAreMalformed)
{
    const Read r = read("HTTP/1.1 302 Found\r\n"
                        "location:/x\r\n"
                        "LOCATION: \t /y \t \r\n"
                        "X-Long: first\r\n"
                        "  \t second\r\n"
                        "\tthird \r\n"
                        "Content-Length : 4\r\n"
                        "No colon here\r\n"
                        " folded into the ignored line\r\n"
                        "Bad name: x\r\n"
                        "Empty:\r\n"
                        "Set-Cookie: a=1; Path=/\r\n"
                        "set-cookie: b=2\r\n"
                        "\r\n");
    ASSERT_EQ(r.last, THttpReply::Complete) << r.reply.Error();
    EXPECT_EQ(r.reply.Values("Location"), (std::vector<std::string>{"/x", "/y"}));
    EXPECT_EQ(r.reply.Last("location"), "/y");
    EXPECT_EQ(r.reply.Last("x-long"), "first second third");
    EXPECT_EQ(r.reply.Last("content-length"), "4");
    EXPECT_EQ(r.reply.Values("empty"), std::vector<std::string>{""});
    EXPECT_EQ(r.reply.Values("set-cookie"), (std::vector<std::string>{"a=1; Path=/", "b=2"}));
    EXPECT_EQ(r.reply.Fields().size(), 7u); // the lines without a token before a colon are none

    // A folded line is never a field of its own: " Content-Length: 10"
    // belongs to the field before it.
    const Read folded = read("HTTP/1.0 200 OK\r\nX-A: a\r\n Content-Length: 10\r\n\r\n");
    EXPECT_EQ(folded.reply.Last("x-a"), "a Content-Length: 10");
    EXPECT_EQ(folded.reply.BodyFraming().Kind, THttpReply::ByClose);

    const std::pair<std::string, std::string> malformed[] = {
        {"HTTP/1.1 200 OK\r\n Folded: first\r\n\r\n", "Malformed reply (continuation line without a field)"},
        {std::string("HTTP/1.1 200 OK\r\nX: a\0b\r\n\r\n", 28), "Malformed reply (NUL in the header)"},
        {std::string("HTTP/1.1 200 OK\0\r\n\r\n", 20), "Malformed reply (NUL in the header)"},
        {"HTTP/1.1 200 OK\r\nX: a\rb\r\n\r\n", "Malformed reply (CR without LF in the header)"},
        {"HTTP/1.1 200 OK\r\nX: a\r\r\n\r\n", "Malformed reply (CR without LF in the header)"},
        {"HTTP/1.1 200 OK\rLocation: /x\r\n\r\n", "Malformed reply (CR without LF in the header)"},
    };
    for (const auto& [header, error] : malformed) {
        const Read m = read(header);
        EXPECT_EQ(m.last, THttpReply::Failed) << header;
        EXPECT_EQ(m.reply.Error(), error) << header;
    }
}

TEST(HttpReply, FramingChunkedWinsLengthListsMustAgreeOtherCodingsFail)
{
    auto framing = [](const std::string& fields) {
        const Read r = read("HTTP/1.1 200 OK\r\n" + fields + "\r\n");
        EXPECT_EQ(r.last, THttpReply::Complete) << fields;
        return r.reply.BodyFraming();
    };
    EXPECT_EQ(framing("").Kind, THttpReply::ByClose);
    EXPECT_EQ(framing("Transfer-Encoding: chunked\r\nContent-Length: 2\r\n").Kind, THttpReply::Chunked);
    EXPECT_EQ(framing("transfer-encoding:   CHUNKED  \r\n").Kind, THttpReply::Chunked);
    EXPECT_EQ(framing("Transfer-Encoding: identity, chunked\r\nContent-Length: x\r\n").Kind, THttpReply::Chunked);
    EXPECT_EQ(framing("Transfer-Encoding: identity\r\nContent-Length: 7\r\n").Length, 7);
    for (const std::string coding : {"gzip", "gzip, chunked", "chunked, gzip", "chunked, chunked", "x-custom"}) {
        const THttpReply::TBodyFraming f = framing("Transfer-Encoding: " + coding + "\r\n");
        EXPECT_NE(f.Error.find("Unsupported transfer coding: "), std::string::npos) << coding;
    }
    EXPECT_EQ(framing("Transfer-Encoding: gzip, chunked\r\n").Error, "Unsupported transfer coding: gzip");

    for (const std::string lengths : {"Content-Length: 100", "Content-Length: 100, 100", "Content-Length: 100,100,\r\n"
                                                                                         "content-length: 100"}) {
        const THttpReply::TBodyFraming f = framing(lengths + "\r\n");
        EXPECT_EQ(f.Kind, THttpReply::ByLength) << lengths;
        EXPECT_EQ(f.Length, 100) << lengths;
        EXPECT_EQ(f.Error, "") << lengths;
    }
    for (const std::string lengths : {"100, 101", "-5", "12x", "1 2", "", ",", "99999999999999999999", "+5"})
        EXPECT_EQ(framing("Content-Length: " + lengths + "\r\n").Error, "Invalid Content-Length") << lengths;
    EXPECT_EQ(framing("Content-Length: 4\r\nContent-Length: 5\r\n").Error, "Invalid Content-Length");
}
