// RAR archives: libarchive, then libunarr for RAR 1.5 to 4 (UNRAR32.DLL).
// Detection, listing, full check, extraction and memory extraction, as
// ArchiverTarget.h describes.
#include "fuzz/ArchiverTarget.h"

extern "C" int FUZZ_TEST_ONE_INPUT(const std::uint8_t* data, std::size_t size)
{
    static const fuzz::Scratch scratch("archiver-rar");
    return fuzz::RunArchiver(arc::Kind::Rar, "a.rar", true, scratch, data, size);
}
