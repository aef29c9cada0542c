// The SHA-256 pin file "DL.sha256" (integrity/Sha256Pin), one line in
// sha256sum's format.
//
// Input: arbitrary bytes, the file's content.
//
// Checked: a pin that parses has a name without CR, and the line the
// program writes for its digest and name parses back to the same digest and
// name (what the settings window writes, the download reads).
#include "fuzz/FuzzSupport.h"
#include "integrity/Sha256Pin.h"

extern "C" int FUZZ_TEST_ONE_INPUT(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text = fuzz::AsText(data, size);
    const auto pin = TSha256Pin::Parse(text);
    if (!pin)
        return 0;
    FUZZ_CHECK(!pin->Name.empty() && pin->Name.find('\r') == std::string::npos, std::string(text));
    const std::string line = TSha256Pin::Line(pin->Digest, pin->Name);
    const auto again = TSha256Pin::Parse(line);
    FUZZ_CHECK(again && again->Digest == pin->Digest && again->Name == pin->Name, line);
    FUZZ_CHECK(TSha256Pin::Hex(pin->Digest.data(), pin->Digest.size()).size() == 64, line);
    return 0;
}
