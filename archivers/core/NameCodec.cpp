#include "core/NameCodec.h"

#include <cerrno>
#include <cstdint>
#include <iconv.h>
#include <map>

namespace arc {

bool IsValidUtf8(const std::string& text)
{
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    size_t n = text.size(), i = 0;
    while (i < n) {
        unsigned char c = p[i];
        size_t len;
        uint32_t cp;
        if (c < 0x80) {
            ++i;
            continue;
        } else if ((c & 0xE0) == 0xC0) {
            len = 2;
            cp = c & 0x1F;
        } else if ((c & 0xF0) == 0xE0) {
            len = 3;
            cp = c & 0x0F;
        } else if ((c & 0xF8) == 0xF0) {
            len = 4;
            cp = c & 0x07;
        } else {
            return false;
        }
        if (i + len > n)
            return false;
        for (size_t k = 1; k < len; ++k) {
            if ((p[i + k] & 0xC0) != 0x80)
                return false;
            cp = (cp << 6) | (p[i + k] & 0x3F);
        }
        if ((len == 2 && cp < 0x80) || (len == 3 && cp < 0x800) || (len == 4 && cp < 0x10000) || cp > 0x10FFFF
            || (cp >= 0xD800 && cp <= 0xDFFF))
            return false;
        i += len;
    }
    return true;
}

namespace {

// strict: a character iconv converts only approximately counts as a failure.
bool Convert(const char* to, const char* from, const std::string& text, std::string& out, bool strict = false)
{
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1))
        return false;
    out.clear();
    std::string in = text;
    char* inp = in.data();
    size_t inLeft = in.size();
    bool ok = true;
    char buffer[256];
    while (inLeft > 0) {
        char* outp = buffer;
        size_t outLeft = sizeof buffer;
        size_t r = iconv(cd, &inp, &inLeft, &outp, &outLeft);
        out.append(buffer, static_cast<size_t>(outp - buffer));
        if ((r == static_cast<size_t>(-1) && errno != E2BIG) || (strict && r != static_cast<size_t>(-1) && r > 0)) {
            ok = false;
            break;
        }
    }
    iconv_close(cd);
    return ok;
}

} // namespace

bool Cp932ToUtf8(const std::string& text, std::string& out) { return Convert("UTF-8", "CP932", text, out); }

bool Utf8ToCp932(const std::string& text, std::string& out)
{
    // iconv writes some characters as the byte of another one (U+00A5 YEN
    // SIGN as the backslash, U+203E OVERLINE as "~"); in a member name that
    // turns a character into a folder separator or another name. Only a form
    // that reads back as the same text counts.
    std::string back;
    return IsValidUtf8(text) && Convert("CP932", "UTF-8", text, out, true) && Cp932ToUtf8(out, back) && back == text;
}

std::string DecodeName(const std::string& raw, bool cp932)
{
    if (IsValidUtf8(raw))
        return raw;
    std::string out;
    if (cp932 && Cp932ToUtf8(raw, out) && IsValidUtf8(out))
        return out;
    out.clear();
    for (char c : raw)
        out += (static_cast<unsigned char>(c) < 0x80) ? c : '_';
    return out;
}

namespace {

// Code page 437: the characters of bytes 1 to 31, 127 and 128 to 255.
const uint16_t kCp437Low[32] = {0,      0x263A, 0x263B, 0x2665, 0x2666, 0x2663, 0x2660, 0x2022,
                                0x25D8, 0x25CB, 0x25D9, 0x2642, 0x2640, 0x266A, 0x266C, 0x263C,
                                0x25BA, 0x25C4, 0x2195, 0x203C, 0x00B6, 0x00A7, 0x25AC, 0x21A8,
                                0x2191, 0x2193, 0x2192, 0x2190, 0x221F, 0x2194, 0x25B2, 0x25BC};
const uint16_t kCp437High[128] = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7, 0x00EA, 0x00EB, 0x00E8, 0x00EF, 0x00EE,
    0x00EC, 0x00C4, 0x00C5, 0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9, 0x00FF, 0x00D6,
    0x00DC, 0x00A2, 0x00A3, 0x00A5, 0x20A7, 0x0192, 0x00E1, 0x00ED, 0x00F3, 0x00FA, 0x00F1, 0x00D1, 0x00AA,
    0x00BA, 0x00BF, 0x2310, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB, 0x2591, 0x2592, 0x2593, 0x2502,
    0x2524, 0x2561, 0x2562, 0x2556, 0x2555, 0x2563, 0x2551, 0x2557, 0x255D, 0x255C, 0x255B, 0x2510, 0x2514,
    0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F, 0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550,
    0x256C, 0x2567, 0x2568, 0x2564, 0x2565, 0x2559, 0x2558, 0x2552, 0x2553, 0x256B, 0x256A, 0x2518, 0x250C,
    0x2588, 0x2584, 0x258C, 0x2590, 0x2580, 0x03B1, 0x00DF, 0x0393, 0x03C0, 0x03A3, 0x03C3, 0x00B5, 0x03C4,
    0x03A6, 0x0398, 0x03A9, 0x03B4, 0x221E, 0x03C6, 0x03B5, 0x2229, 0x2261, 0x00B1, 0x2265, 0x2264, 0x2320,
    0x2321, 0x00F7, 0x2248, 0x00B0, 0x2219, 0x00B7, 0x221A, 0x207F, 0x00B2, 0x25A0, 0x00A0};

const std::map<uint32_t, char>& Cp437Reverse()
{
    static const std::map<uint32_t, char> table = [] {
        std::map<uint32_t, char> t;
        for (int b = 1; b < 32; ++b)
            t[kCp437Low[b]] = static_cast<char>(b);
        t[0x266B] = 0x0E; // the usual glyph of byte 14; libunarr has U+266C
        t[0x2302] = 0x7F;
        for (int b = 0; b < 128; ++b)
            t[kCp437High[b]] = static_cast<char>(0x80 + b);
        return t;
    }();
    return table;
}

} // namespace

bool Cp437Bytes(const std::string& utf8, std::string& out)
{
    out.clear();
    if (!IsValidUtf8(utf8))
        return false;
    const auto* p = reinterpret_cast<const unsigned char*>(utf8.data());
    size_t n = utf8.size(), i = 0;
    while (i < n) {
        uint32_t cp = p[i];
        size_t len = cp < 0x80 ? 1 : cp < 0xE0 ? 2 : cp < 0xF0 ? 3 : 4;
        if (len > 1) {
            cp &= 0x3F >> (len - 1);
            for (size_t k = 1; k < len; ++k)
                cp = (cp << 6) | (p[i + k] & 0x3F);
        }
        i += len;
        if (cp >= 0x20 && cp < 0x7F) {
            out += static_cast<char>(cp);
            continue;
        }
        auto it = Cp437Reverse().find(cp);
        if (it == Cp437Reverse().end())
            return false;
        out += it->second;
    }
    return true;
}

std::string BackslashesToSlashes(std::string name)
{
    for (auto& c : name)
        if (c == '\\')
            c = '/';
    return name;
}

} // namespace arc
