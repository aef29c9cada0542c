// Code page 932 (Shift-JIS as Windows writes it) and UTF-8.
//
// Text inside the program is UTF-8; the settings file and archive member
// names made on Japanese Windows are CP932. Conversion goes through iconv's
// "CP932", whose table is the Windows one (0x8160 is U+301C's Windows twin
// U+FF5E and so on), so files round-trip with the Windows program.
#pragma once
#include <optional>
#include <string>
#include <string_view>

// Never fails: a byte sequence that is not valid CP932 becomes U+FFFD for
// each offending byte, and the rest is converted.
std::string Cp932ToUtf8(std::string_view cp932);
// nullopt when the text is not valid UTF-8 or holds a character that has no
// CP932 form.
std::optional<std::string> Utf8ToCp932(std::string_view utf8);
// Like Utf8ToCp932, but a character without a CP932 form becomes "?".
std::string Utf8ToCp932Lossy(std::string_view utf8);
// Length in bytes of the text's CP932 form (the lossy form where needed);
// this is what columns are aligned by.
std::size_t Cp932Length(std::string_view utf8);
// Whether the bytes are valid UTF-8.
bool IsValidUtf8(std::string_view text);
