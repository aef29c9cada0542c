// LHA archives: libarchive, then liblhasa for what it cannot decode (UNLHA32.DLL).
// Detection, listing, full check, extraction and memory extraction, as
// ArchiverTarget.h describes.
#include "fuzz/ArchiverTarget.h"

extern "C" int FUZZ_TEST_ONE_INPUT(const std::uint8_t* data, std::size_t size)
{
    static const fuzz::Scratch scratch("archiver-lha");
    return fuzz::RunArchiver(arc::Kind::Lha, "a.lzh", true, scratch, data, size);
}
