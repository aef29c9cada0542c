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
// Windows-made names: "\" separates folders (done on the decoded text, so
// the second byte of a double-byte character is never taken for one).
std::string BackslashesToSlashes(std::string name);

} // namespace arc
