// TChunkedDecoder: the chunked transfer coding of HTTP/1.1 (RFC 9112
// section 7.1) taken off a reply body, bytes in, data out, without any I/O:
// the socket component feeds it what each receive brings, the fuzz target
// feeds it bytes alone.
//
// Decode works in place: the data of the bytes given ends up at their
// start (it is never longer than they are), so the receive buffer goes to
// the file as it is, with one write per receive. The bytes may be cut
// anywhere; the result does not depend on where.
//
// What it reads:
//  - chunk-size: hexadecimal digits (either case, at most 16, the value
//    below 2^63), then optionally blanks or tabs, then either the line end
//    or ";" and chunk extensions, which are skipped up to the line end.
//  - Line ends are CR LF or a lone LF, as curl and RFC 9112 section 2.2
//    allow; a CR must be followed by LF.
//  - After the data of a chunk, the line end is required.
//  - The last chunk (size 0), then trailer fields up to an empty line;
//    they are dropped. Done() then tells that the body is complete;
//    whatever follows is not looked at.
// Failures (Failed(), with Error() "Invalid chunked encoding (WHY)"): a
// size line without digits or with something else after them, a size of
// more than 16 digits or 2^63 and more, a size line or a trailer section
// longer than 64 KiB, data not followed by its line end, a CR without LF.
// After a failure Decode gives nothing more. A body that ends before
// Done() is the caller's failure (the connection closed too early).
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

class TChunkedDecoder {
public:
    static constexpr std::size_t MaxLineSize = 64 * 1024;
    static constexpr std::size_t MaxTrailerSize = 64 * 1024;

    // Decodes size bytes in place; the number of data bytes now at the
    // start of data.
    std::size_t Decode(char* data, std::size_t size);
    bool Done() const { return state_ == Finished; }
    bool Failed() const { return state_ == Broken; }
    const std::string& Error() const { return error_; }
    // The data bytes so far.
    std::int64_t DataSize() const { return dataSize_; }

private:
    enum State {
        SizeDigits,    // the first hexadecimal digit is due, or more of them
        SizeBlanks,    // blanks after the digits
        Extension,     // after ";", up to the line end
        SizeLineFeed,  // after the CR of a size line
        Data,          // chunk data
        DataEnd,       // the line end after the data
        DataLineFeed,  // after its CR
        TrailerStart,  // the start of a trailer line, or of the empty line
        TrailerLine,   // inside a trailer line
        TrailerLineFeed, // after a CR in the trailer section
        Finished,
        Broken,
    };
    void Fail(const char* why);
    // The size line has ended.
    void SizeLineEnded();

    State state_ = SizeDigits;
    std::int64_t size_ = 0;   // of the chunk being read
    int digits_ = 0;
    std::size_t lineSize_ = 0;
    std::size_t trailerSize_ = 0;
    bool trailerLineEmpty_ = true;
    std::int64_t dataSize_ = 0;
    std::string error_;
};
