// ARJ archives: this library's own reader (UNARJ32J.DLL).
// Detection, listing, full check, extraction and memory extraction, as
// ArchiverTarget.h describes.
#include "fuzz/ArchiverTarget.h"

extern "C" int FUZZ_TEST_ONE_INPUT(const std::uint8_t* data, std::size_t size)
{
    static const fuzz::Scratch scratch("archiver-arj");
    return fuzz::RunArchiver(arc::Kind::Arj, "a.arj", false, scratch, data, size);
}
