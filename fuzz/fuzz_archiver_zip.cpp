// ZIP archives: libarchive, then libunarr (UNZIP32.DLL).
// Detection, listing, full check, extraction and memory extraction, as
// ArchiverTarget.h describes.
#include "fuzz/ArchiverTarget.h"

extern "C" int FUZZ_TEST_ONE_INPUT(const std::uint8_t* data, std::size_t size)
{
    static const fuzz::Scratch scratch("archiver-zip");
    return fuzz::RunArchiver(arc::Kind::Zip, "a.zip", true, scratch, data, size);
}
