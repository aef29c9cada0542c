#include "app/SettingsFile.h"

#include "platform/Cp932.h"
#include "runtime/Exceptions.h"

#include <cstdio>
#include <memory>

std::string ScrambleBytes(std::string_view bytes)
{
    std::string out(bytes);
    for (char& c : out)
        c = static_cast<char>(static_cast<unsigned char>(c) ^ SettingsKey);
    return out;
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

void ScrambleInPlace(const std::string& path)
{
    const std::string plain = ReadWholeFile(path);
    WriteWholeFile(path, ScrambleBytes(plain));
}

TStringList DecodeSettings(std::string_view stored)
{
    TStringList raw;
    raw.SetText(ScrambleBytes(stored));
    TStringList lines;
    for (const auto& line : raw)
        lines.Add(Cp932ToUtf8(line));
    return lines;
}

std::string EncodeSettings(const TStringList& lines)
{
    TStringList raw;
    for (const auto& line : lines)
        raw.Add(Utf8ToCp932Lossy(line));
    return ScrambleBytes(raw.Text());
}
