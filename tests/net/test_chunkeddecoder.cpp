// The chunked transfer coding taken off a body, whole and cut anywhere.
#include "net/ChunkedDecoder.h"

#include <gtest/gtest.h>

namespace {

struct Decoded {
    std::string data;
    bool done = false;
    std::string error;
};

// Feeds the body in pieces of `piece` bytes (0: all at once).
Decoded decode(const std::string& body, std::size_t piece = 0)
{
    TChunkedDecoder decoder;
    Decoded out;
    std::string copy = body;
    for (std::size_t at = 0; at < copy.size();) {
        const std::size_t n = piece == 0 ? copy.size() - at : std::min(piece, copy.size() - at);
        const std::size_t data = decoder.Decode(copy.data() + at, n);
        out.data.append(copy.data() + at, data);
        at += n;
    }
    out.done = decoder.Done();
    out.error = decoder.Error();
    EXPECT_EQ(decoder.DataSize(), static_cast<std::int64_t>(out.data.size()));
    return out;
}

} // namespace

TEST(ChunkedDecoder, DataComesOutWhereverTheBytesAreCut)
{
    const std::pair<std::string, std::string> bodies[] = {
        {"5\r\nhello\r\n6\r\n world\r\n0\r\n\r\n", "hello world"},
        {"5;name=value;x\r\nhello\r\n6 \t; ext\r\n world\r\n0\r\nTrailer: 1\r\nOther: 2\r\n\r\n", "hello world"},
        {"5\nhello\n6\n world\n0\n\n", "hello world"},
        {"00005\r\nhello\r\nA\r\n 0\r\n\r\n0\r\n\r\r\n0000\r\n\r\n", "hello 0\r\n\r\n0\r\n\r"},
    };
    for (const auto& [body, data] : bodies) {
        for (std::size_t piece : {0, 1, 2, 3, 7}) {
            const Decoded d = decode(body, piece);
            EXPECT_TRUE(d.done) << body << " " << piece << " " << d.error;
            EXPECT_EQ(d.data, data) << body << " " << piece;
        }
    }
    // Bytes after the end are not looked at; a large chunk spans many pieces.
    EXPECT_EQ(decode("3\r\nabc\r\n0\r\n\r\ngarbage").data, "abc");
    const std::string big(200000, 'x');
    const Decoded d = decode("30d40\r\n" + big + "\r\n0\r\n\r\n", 65536);
    EXPECT_TRUE(d.done);
    EXPECT_TRUE(d.data == big);
}

TEST(ChunkedDecoder, BrokenFramingFailsAndAnEarlyEndIsNotDone)
{
    const std::pair<std::string, std::string> broken[] = {
        {"zz\r\nabc\r\n0\r\n\r\n", "bad chunk size"},
        {"\r\nabc", "bad chunk size"},
        {" 3\r\nabc", "bad chunk size"},
        {"3x\r\nabc", "bad chunk size"},
        {"-3\r\nabc", "bad chunk size"},
        {"3\rabc", "CR without LF"},
        {"3\r\nabcX\r\n0\r\n\r\n", "no line end after chunk data"},
        {"3\r\nabc\rX", "no line end after chunk data"},
        {"00000000000000003\r\nabc", "chunk size too long"},
        {"8000000000000000\r\n", "chunk size too large"},
        {"3;" + std::string(70000, 'e') + "\r\nabc", "chunk size line too long"},
        {"0\r\nT: 1\rX", "CR without LF"},
        {"0\r\n" + std::string(70000, 't'), "trailer too long"},
    };
    for (const auto& [body, why] : broken) {
        for (std::size_t piece : {0, 1}) {
            const Decoded d = decode(body, piece);
            EXPECT_FALSE(d.done) << body.substr(0, 40);
            EXPECT_EQ(d.error, "Invalid chunked encoding (" + why + ")") << body.substr(0, 40);
        }
    }
    // The largest size there is reads.
    TChunkedDecoder decoder;
    std::string size = "7fffffffffffffff\r\nab";
    EXPECT_EQ(decoder.Decode(size.data(), size.size()), 2u);
    EXPECT_FALSE(decoder.Failed());

    // Ends before the last chunk, or inside its trailer: not done, no error.
    for (const std::string body : {"", "3\r\nab", "3\r\nabc\r\n", "3\r\nabc\r\n0\r\n", "3\r\nabc\r\n0\r\nT: 1\r\n"}) {
        const Decoded d = decode(body);
        EXPECT_FALSE(d.done) << body;
        EXPECT_EQ(d.error, "") << body;
    }
}
