// Member names to UTF-8.
//
// Names that are valid UTF-8 stay as they are. Others are read as code page
// 932 (Shift-JIS as Japanese Windows writes it) when the format allows it;
// a byte that is neither becomes "_", so a name never carries invalid text.
#pragma once
#include <string>

namespace arc {

bool IsValidUtf8(const std::string& text);
// False when the text is not valid CP932.
bool Cp932ToUtf8(const std::string& text, std::string& out);
std::string DecodeName(const std::string& raw, bool cp932);
// The CP932 form of a UTF-8 text; false when a character has none, or
// none that reads back as that character (U+00A5 and U+203E, which iconv
// writes as the backslash and "~"; glibc turns "〜" into "～").
bool Utf8ToCp932(const std::string& text, std::string& out);
// The stored bytes of a name that was read as code page 437 (the DOS code
// page, with graphic characters for the control codes 1 to 31 and 127) and
// turned into UTF-8, as libunarr does with names not flagged as UTF-8.
// False when the text has a character code page 437 does not have.
bool Cp437Bytes(const std::string& utf8, std::string& out);
// Windows-made names: "\" separates folders (done on the decoded text, so
// the second byte of a double-byte character is never taken for one).
std::string BackslashesToSlashes(std::string name);

} // namespace arc
