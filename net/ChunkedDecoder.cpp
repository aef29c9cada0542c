#include "net/ChunkedDecoder.h"

#include "runtime/SysUtils.h"

#include <algorithm>
#include <cstring>

void TChunkedDecoder::Fail(const char* why)
{
    state_ = Broken;
    error_ = std::string("Invalid chunked encoding (") + why + ")";
}

void TChunkedDecoder::SizeLineEnded()
{
    state_ = size_ == 0 ? TrailerStart : Data;
    digits_ = 0;
    lineSize_ = 0;
    trailerSize_ = 0;
}

std::size_t TChunkedDecoder::Decode(char* data, std::size_t size)
{
    std::size_t in = 0, out = 0;
    while (in < size && state_ != Finished && state_ != Broken) {
        if (state_ == Data) {
            const std::size_t n =
                static_cast<std::size_t>(std::min<std::int64_t>(size_, static_cast<std::int64_t>(size - in)));
            if (out != in)
                std::memmove(data + out, data + in, n);
            in += n;
            out += n;
            size_ -= static_cast<std::int64_t>(n);
            dataSize_ += static_cast<std::int64_t>(n);
            if (size_ == 0)
                state_ = DataEnd;
            continue;
        }
        const char c = data[in++];
        switch (state_) {
        case SizeDigits:
        case SizeBlanks:
        case Extension:
        case SizeLineFeed:
            if (++lineSize_ > MaxLineSize) {
                Fail("chunk size line too long");
                return out;
            }
            break;
        case TrailerStart:
        case TrailerLine:
        case TrailerLineFeed:
            if (++trailerSize_ > MaxTrailerSize) {
                Fail("trailer too long");
                return out;
            }
            break;
        default:
            break;
        }
        switch (state_) {
        case SizeDigits:
            if (const int v = HexDigitValue(c); v >= 0) {
                if (++digits_ > 16) {
                    Fail("chunk size too long");
                    return out;
                }
                if (size_ > (INT64_MAX >> 4)) {
                    Fail("chunk size too large");
                    return out;
                }
                size_ = size_ * 16 + v;
                break;
            }
            if (digits_ == 0) {
                Fail("bad chunk size");
                return out;
            }
            [[fallthrough]];
        case SizeBlanks:
            if (c == ' ' || c == '\t')
                state_ = SizeBlanks;
            else if (c == ';')
                state_ = Extension;
            else if (c == '\r')
                state_ = SizeLineFeed;
            else if (c == '\n')
                SizeLineEnded();
            else {
                Fail("bad chunk size");
                return out;
            }
            break;
        case Extension:
            if (c == '\r')
                state_ = SizeLineFeed;
            else if (c == '\n')
                SizeLineEnded();
            break;
        case SizeLineFeed:
            if (c != '\n') {
                Fail("CR without LF");
                return out;
            }
            SizeLineEnded();
            break;
        case DataEnd:
            if (c == '\r')
                state_ = DataLineFeed;
            else if (c == '\n')
                state_ = SizeDigits;
            else {
                Fail("no line end after chunk data");
                return out;
            }
            break;
        case DataLineFeed:
            if (c != '\n') {
                Fail("no line end after chunk data");
                return out;
            }
            state_ = SizeDigits;
            break;
        case TrailerStart:
            trailerLineEmpty_ = c == '\r' || c == '\n';
            if (c == '\n')
                state_ = Finished;
            else
                state_ = c == '\r' ? TrailerLineFeed : TrailerLine;
            break;
        case TrailerLine:
            if (c == '\n')
                state_ = TrailerStart;
            else if (c == '\r')
                state_ = TrailerLineFeed;
            break;
        case TrailerLineFeed:
            if (c != '\n') {
                Fail("CR without LF");
                return out;
            }
            state_ = trailerLineEmpty_ ? Finished : TrailerStart;
            break;
        case Data:
        case Finished:
        case Broken:
            break;
        }
    }
    return out;
}
