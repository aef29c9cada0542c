#include "app/SettingsFile.h"

#include "platform/Cp932.h"
#include "runtime/SysUtils.h"


std::string ScrambleBytes(std::string_view bytes)
{
    std::string out(bytes);
    for (char& c : out)
        c = static_cast<char>(static_cast<unsigned char>(c) ^ SettingsKey);
    return out;
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
