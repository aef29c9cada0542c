#include "runtime/SysUtils.h"

#include "platform/FileNames.h"
#include "runtime/Exceptions.h"

#include <QByteArray>
#include <QLocale>
#include <QString>

#include <cstdio>
#include <limits>
#include <memory>
#include <vector>

std::string IntToStr(std::int64_t value)
{
    return std::to_string(value);
}

namespace {

bool parseInteger(const std::string& text, std::int64_t lo, std::int64_t hi, std::int64_t& out)
{
    size_t i = 0;
    while (i < text.size() && text[i] == ' ')
        i++;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) {
        negative = text[i] == '-';
        i++;
    }
    int base = 10;
    if (i < text.size() && text[i] == '$') {
        base = 16;
        i++;
    } else if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
        base = 16;
        i += 2;
    }
    if (i >= text.size())
        return false;
    unsigned __int128 value = 0;
    for (; i < text.size(); i++) {
        const char c = text[i];
        int d;
        if (c >= '0' && c <= '9')
            d = c - '0';
        else if (base == 16 && c >= 'a' && c <= 'f')
            d = c - 'a' + 10;
        else if (base == 16 && c >= 'A' && c <= 'F')
            d = c - 'A' + 10;
        else
            return false;
        value = value * base + d;
        if (value > (unsigned __int128)1 << 64)
            return false;
    }
    __int128 signedValue = negative ? -(__int128)value : (__int128)value;
    if (base == 16 && !negative && hi == std::numeric_limits<std::int32_t>::max() && value <= 0xFFFFFFFFu)
        signedValue = static_cast<std::int32_t>(static_cast<std::uint32_t>(value)); // "$FFFFFFFF" is -1
    if (signedValue < lo || signedValue > hi)
        return false;
    out = static_cast<std::int64_t>(signedValue);
    return true;
}

} // namespace

std::int32_t StrToInt(const std::string& text)
{
    std::int64_t v;
    if (!parseInteger(text, std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max(), v))
        throw EConvertError::NotInteger(text);
    return static_cast<std::int32_t>(v);
}

std::int64_t StrToInt64(const std::string& text)
{
    std::int64_t v;
    if (!parseInteger(text, std::numeric_limits<std::int64_t>::min(), std::numeric_limits<std::int64_t>::max(), v))
        throw EConvertError::NotInteger(text);
    return v;
}

std::int32_t StrToIntDef(const std::string& text, std::int32_t fallback)
{
    std::int64_t v;
    if (!parseInteger(text, std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max(), v))
        return fallback;
    return static_cast<std::int32_t>(v);
}

int AnsiCompareText(std::string_view a, std::string_view b)
{
    const QString qa = QString::fromUtf8(a.data(), static_cast<qsizetype>(a.size())).toCaseFolded();
    const QString qb = QString::fromUtf8(b.data(), static_cast<qsizetype>(b.size())).toCaseFolded();
    int r = QString::localeAwareCompare(qa, qb);
    if (r == 0)
        r = qa.compare(qb);
    return r;
}

std::string UpperCase(std::string_view text)
{
    std::string s(text);
    for (char& c : s)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return s;
}

std::string LowerCase(std::string_view text)
{
    std::string s(text);
    for (char& c : s)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return s;
}

int HexDigitValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

std::string FormatThousands(std::int64_t value)
{
    QString separator = QLocale::system().groupSeparator();
    if (separator.isEmpty())
        separator = QStringLiteral(",");
    const std::string sep = separator.toStdString();
    const bool negative = value < 0;
    std::string digits = std::to_string(value);
    if (negative)
        digits.erase(0, 1);
    std::string out;
    const size_t n = digits.size();
    for (size_t i = 0; i < n; i++) {
        out += digits[i];
        const size_t left = n - 1 - i;
        if (left > 0 && left % 3 == 0)
            out += sep;
    }
    return negative ? "-" + out : out;
}

std::string ReadWholeFile(const std::string& path)
{
    std::unique_ptr<FILE, int (*)(FILE*)> f(std::fopen(path.c_str(), "rb"), std::fclose);
    if (!f)
        throw EFOpenError::CannotOpen(path);
    std::string data;
    char buffer[65536];
    size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, f.get())) > 0)
        data.append(buffer, got);
    if (std::ferror(f.get()))
        throw EFOpenError::CannotOpen(path);
    return data;
}

void WriteWholeFile(const std::string& path, std::string_view bytes)
{
    std::unique_ptr<FILE, int (*)(FILE*)> f(std::fopen(path.c_str(), "wb"), std::fclose);
    if (!f)
        throw EFCreateError::CannotCreate(path);
    if (std::fwrite(bytes.data(), 1, bytes.size(), f.get()) != bytes.size())
        throw EFCreateError::CannotCreate(path);
    if (std::fclose(f.release()) != 0)
        throw EFCreateError::CannotCreate(path);
}

std::string ExtractFileName(const std::string& path)
{
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string ExtractFilePath(const std::string& path)
{
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string ExtractFileExt(const std::string& path)
{
    const std::string name = ExtractFileName(path);
    const size_t dot = name.rfind('.');
    return dot == std::string::npos ? std::string() : name.substr(dot);
}

std::string ChangeFileExt(const std::string& path, const std::string& ext)
{
    return path.substr(0, path.size() - ExtractFileExt(path).size()) + ext;
}

std::string ExpandFileName(const std::string& path)
{
    std::string full = path;
    if (full.empty() || full[0] != '/') {
        std::string cwd = GetCurrentDir();
        full = cwd + (cwd.empty() || cwd.back() != '/' ? "/" : "") + full;
    }
    const bool trailing = full.size() > 1 && full.back() == '/';
    std::vector<std::string> parts;
    size_t start = 1;
    while (start <= full.size()) {
        size_t slash = full.find('/', start);
        if (slash == std::string::npos)
            slash = full.size();
        std::string part = full.substr(start, slash - start);
        if (part == "..") {
            if (!parts.empty())
                parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        start = slash + 1;
    }
    std::string out;
    for (const auto& p : parts)
        out += "/" + p;
    if (out.empty())
        return "/";
    if (trailing)
        out += "/";
    return out;
}

std::optional<std::string> DecodeBase64(std::string_view text)
{
    // Qt decodes; the one encoding of those bytes must be the text itself
    // (padded, no line breaks, no stray bits after the last byte).
    const QByteArray encoded(text.data(), static_cast<qsizetype>(text.size()));
    const auto decoded = QByteArray::fromBase64Encoding(encoded, QByteArray::AbortOnBase64DecodingErrors);
    if (text.empty() || !decoded || decoded.decoded.toBase64() != encoded)
        return std::nullopt;
    return decoded.decoded.toStdString();
}
