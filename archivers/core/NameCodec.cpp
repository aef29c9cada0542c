#include "core/NameCodec.h"

#include <cerrno>
#include <iconv.h>

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

bool Cp932ToUtf8(const std::string& text, std::string& out)
{
    iconv_t cd = iconv_open("UTF-8", "CP932");
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
        if (r == static_cast<size_t>(-1) && errno != E2BIG) {
            ok = false;
            break;
        }
    }
    iconv_close(cd);
    return ok;
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

std::string BackslashesToSlashes(std::string name)
{
    for (auto& c : name)
        if (c == '\\')
            c = '/';
    return name;
}

} // namespace arc
