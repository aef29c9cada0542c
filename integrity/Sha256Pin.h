// TSha256Pin: the one line of a SHA-256 pin file in sha256sum's format,
// "HEX  NAME" (64 hexadecimal digits, two blanks, the file's name; a "*"
// in place of the second blank marks binary mode, which is the same here).
// A line that starts with "\" has its name escaped as sha256sum escapes it
// ("\\" a backslash, "\n" a line end).
//
// The file holds exactly one such line, ending in LF or at the end of the
// file. Anything else is refused: a short or long digest, a non-hex digit,
// an empty name, a second line, and CR LF line ends (sha256sum would read
// the CR as part of the name and never find the file).
#pragma once
#include <array>
#include <optional>
#include <string>
#include <string_view>

class TSha256Pin {
public:
    std::array<unsigned char, 32> Digest{};
    std::string Name;

    // Nothing when the text is not one line in that format.
    static std::optional<TSha256Pin> Parse(std::string_view text);
    // The line for a digest and a name, LF included.
    static std::string Line(const std::array<unsigned char, 32>& digest, const std::string& name);
    // Lower-case hexadecimal, as sha256sum writes it.
    static std::string Hex(const unsigned char* bytes, std::size_t length);
};
