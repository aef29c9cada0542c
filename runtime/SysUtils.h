// Number and text helpers of the class library, as the program uses them.
// Texts are UTF-8 byte strings.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

std::string IntToStr(std::int64_t value);
// Decimal (or "$"/"0x" hexadecimal) integer with optional leading blanks
// and sign; anything else, or a value outside the type, raises
// EConvertError "'%s' は整数ではありません".
std::int32_t StrToInt(const std::string& text);
std::int64_t StrToInt64(const std::string& text);
// Like StrToInt, but returns `fallback` instead of raising.
std::int32_t StrToIntDef(const std::string& text, std::int32_t fallback);

// Case-insensitive comparison under the user's locale: <0, 0, >0.
// ASCII letters compare without regard to case in every locale.
int AnsiCompareText(std::string_view a, std::string_view b);
// ASCII-only upper / lower case (the rest of the bytes unchanged).
std::string UpperCase(std::string_view text);
std::string LowerCase(std::string_view text);
// The value of a hexadecimal digit of either case, -1 for any other byte.
int HexDigitValue(char c);
// Strict Base64 (RFC 4648, padded, no line breaks; the bits that padding
// leaves over must be zero): the bytes, or nothing.
std::optional<std::string> DecodeBase64(std::string_view text);

// A whole number with its digits grouped by thousands, the grouping
// character taken from the user's locale when it defines one, else ","
// (the ",0" pattern of FormatFloat): 1234567 -> "1,234,567".
std::string FormatThousands(std::int64_t value);

// The whole content of a file; EFOpenError "ファイル %s は開けません" when it
// cannot be opened or read.
std::string ReadWholeFile(const std::string& path);
// Creates (or replaces) a file with the bytes; EFCreateError when it cannot
// be created or written completely.
void WriteWholeFile(const std::string& path, std::string_view bytes);

// The part of a path after its last "/".
std::string ExtractFileName(const std::string& path);
// The path up to and including its last "/" (empty when it has none).
std::string ExtractFilePath(const std::string& path);
// The extension with its dot ("" when the name has none).
std::string ExtractFileExt(const std::string& path);
// The path with its file name's extension (from its last ".") replaced by
// ext, or ext appended when the name has none.
std::string ChangeFileExt(const std::string& path, const std::string& ext);
// Absolute form of a path (relative ones against the current directory),
// without resolving links; "." and ".." components are folded.
std::string ExpandFileName(const std::string& path);
