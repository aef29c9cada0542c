#include "integrity/Sha256Pin.h"

#include "runtime/SysUtils.h"

std::optional<TSha256Pin> TSha256Pin::Parse(std::string_view text)
{
    if (!text.empty() && text.back() == '\n')
        text.remove_suffix(1);
    if (text.find('\n') != std::string_view::npos || text.find('\r') != std::string_view::npos)
        return std::nullopt;
    const bool escaped = !text.empty() && text.front() == '\\';
    if (escaped)
        text.remove_prefix(1);
    if (text.size() < 64 + 2 + 1 || text[64] != ' ' || (text[65] != ' ' && text[65] != '*'))
        return std::nullopt;
    TSha256Pin pin;
    for (std::size_t i = 0; i < 32; ++i) {
        const int high = HexDigitValue(text[2 * i]);
        const int low = HexDigitValue(text[2 * i + 1]);
        if (high < 0 || low < 0)
            return std::nullopt;
        pin.Digest[i] = static_cast<unsigned char>(high * 16 + low);
    }
    const std::string_view name = text.substr(66);
    if (!escaped) {
        pin.Name.assign(name);
        return pin;
    }
    for (std::size_t i = 0; i < name.size(); ++i) {
        if (name[i] != '\\') {
            pin.Name += name[i];
            continue;
        }
        if (i + 1 == name.size())
            return std::nullopt;
        const char next = name[++i];
        if (next == '\\')
            pin.Name += '\\';
        else if (next == 'n')
            pin.Name += '\n';
        else
            return std::nullopt;
    }
    return pin;
}

std::string TSha256Pin::Hex(const unsigned char* bytes, std::size_t length)
{
    static const char digits[] = "0123456789abcdef";
    std::string text;
    text.reserve(length * 2);
    for (std::size_t i = 0; i < length; ++i) {
        text += digits[bytes[i] >> 4];
        text += digits[bytes[i] & 15];
    }
    return text;
}

std::string TSha256Pin::Line(const std::array<unsigned char, 32>& digest, const std::string& name)
{
    std::string escapedName;
    bool escaped = false;
    for (char c : name) {
        if (c == '\\' || c == '\n') {
            escaped = true;
            escapedName += c == '\\' ? "\\\\" : "\\n";
        } else {
            escapedName += c;
        }
    }
    return (escaped ? "\\" : "") + Hex(digest.data(), digest.size()) + "  " + escapedName + "\n";
}
