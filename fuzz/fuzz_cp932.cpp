// Text conversions between code page 932 and UTF-8: the settings file's and
// the member names' decoding (platform/Cp932 and the archiver libraries'
// NameCodec), which every stored name and setting passes through.
//
// Input: arbitrary bytes, taken as CP932 and as UTF-8.
//
// Checked: decoding always gives valid UTF-8; text that converts to CP932
// decodes back to itself, and lossy conversion agrees with exact conversion
// where the latter succeeds; a decoded member name is valid UTF-8 and has
// no "\" left after the folder separators are turned round.
#include "core/NameCodec.h"
#include "fuzz/FuzzSupport.h"
#include "platform/Cp932.h"

extern "C" int FUZZ_TEST_ONE_INPUT(const std::uint8_t* data, std::size_t size)
{
    const std::string_view bytes = fuzz::AsText(data, size);
    const std::string text(bytes);

    const std::string utf8 = Cp932ToUtf8(bytes);
    FUZZ_CHECK(IsValidUtf8(utf8), utf8);
    if (const auto cp932 = Utf8ToCp932(utf8)) {
        FUZZ_CHECK(Cp932ToUtf8(*cp932) == utf8, utf8);
        FUZZ_CHECK(Utf8ToCp932Lossy(utf8) == *cp932, utf8);
        FUZZ_CHECK(Cp932Length(utf8) == cp932->size(), utf8);
    }
    if (IsValidUtf8(bytes)) {
        const std::string lossy = Utf8ToCp932Lossy(bytes);
        FUZZ_CHECK(Cp932Length(bytes) == lossy.size(), text);
        if (const auto exact = Utf8ToCp932(bytes))
            FUZZ_CHECK(*exact == lossy, text);
    }

    for (bool cp932 : {false, true}) {
        const std::string name = arc::DecodeName(text, cp932);
        FUZZ_CHECK(arc::IsValidUtf8(name), name);
        FUZZ_CHECK(arc::BackslashesToSlashes(name).find('\\') == std::string::npos, name);
    }
    std::string converted;
    if (arc::Cp932ToUtf8(text, converted))
        FUZZ_CHECK(arc::IsValidUtf8(converted), converted);
    if (arc::Utf8ToCp932(text, converted)) {
        std::string back;
        FUZZ_CHECK(arc::Cp932ToUtf8(converted, back) && back == text, text);
    }
    std::string dos;
    (void)arc::Cp437Bytes(text, dos);
    return 0;
}
