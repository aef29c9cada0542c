#include "platform/Cp932.h"

#include <cerrno>
#include <iconv.h>

namespace {

// Runs iconv over the whole input. On an invalid or unconvertible sequence
// `onBad` is called with the remaining input and the output so far; it
// returns how many input bytes to skip, or 0 to give up.
template <typename OnBad>
bool convert(const char* to, const char* from, std::string_view in, std::string& out, OnBad onBad)
{
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1))
        return false;
    out.clear();
    char buffer[4096];
    char* src = const_cast<char*>(in.data());
    size_t srcLeft = in.size();
    bool ok = true;
    while (srcLeft > 0) {
        char* dst = buffer;
        size_t dstLeft = sizeof buffer;
        size_t r = iconv(cd, &src, &srcLeft, &dst, &dstLeft);
        out.append(buffer, dst - buffer);
        if (r == static_cast<size_t>(-1)) {
            if (errno == E2BIG)
                continue;
            // EILSEQ or EINVAL (truncated sequence at the end)
            iconv(cd, nullptr, nullptr, nullptr, nullptr);
            size_t skip = onBad(std::string_view(src, srcLeft), out);
            if (skip == 0 || skip > srcLeft) {
                ok = false;
                break;
            }
            src += skip;
            srcLeft -= skip;
        }
    }
    if (ok) {
        char* dst = buffer;
        size_t dstLeft = sizeof buffer;
        iconv(cd, nullptr, nullptr, &dst, &dstLeft);
        out.append(buffer, dst - buffer);
    }
    iconv_close(cd);
    return ok;
}

size_t utf8SequenceLength(std::string_view s)
{
    if (s.empty())
        return 0;
    unsigned char c = static_cast<unsigned char>(s[0]);
    size_t n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 1;
    return n > s.size() ? s.size() : n;
}

} // namespace

std::string Cp932ToUtf8(std::string_view cp932)
{
    std::string out;
    convert("UTF-8", "CP932", cp932, out, [](std::string_view, std::string& o) {
        o += "\xEF\xBF\xBD";
        return size_t(1);
    });
    return out;
}

std::optional<std::string> Utf8ToCp932(std::string_view utf8)
{
    if (!IsValidUtf8(utf8))
        return std::nullopt;
    std::string out;
    if (!convert("CP932", "UTF-8", utf8, out, [](std::string_view, std::string&) { return size_t(0); }))
        return std::nullopt;
    return out;
}

std::string Utf8ToCp932Lossy(std::string_view utf8)
{
    std::string out;
    convert("CP932", "UTF-8", utf8, out, [](std::string_view rest, std::string& o) {
        o += '?';
        return utf8SequenceLength(rest);
    });
    return out;
}

std::size_t Cp932Length(std::string_view utf8)
{
    return Utf8ToCp932Lossy(utf8).size();
}

bool IsValidUtf8(std::string_view s)
{
    size_t i = 0;
    while (i < s.size()) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        size_t n;
        unsigned cp;
        if (c < 0x80) { i++; continue; }
        else if ((c >> 5) == 6) { n = 2; cp = c & 0x1F; }
        else if ((c >> 4) == 14) { n = 3; cp = c & 0x0F; }
        else if ((c >> 3) == 30) { n = 4; cp = c & 0x07; }
        else return false;
        if (i + n > s.size())
            return false;
        for (size_t k = 1; k < n; k++) {
            unsigned char d = static_cast<unsigned char>(s[i + k]);
            if ((d >> 6) != 2)
                return false;
            cp = (cp << 6) | (d & 0x3F);
        }
        if ((n == 2 && cp < 0x80) || (n == 3 && cp < 0x800) || (n == 4 && (cp < 0x10000 || cp > 0x10FFFF)) ||
            (cp >= 0xD800 && cp <= 0xDFFF))
            return false;
        i += n;
    }
    return true;
}
