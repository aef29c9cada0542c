// tar archives and plain gzip, bzip2 and compress files: libarchive (tar32.dll).
// Detection, listing, full check, extraction and memory extraction, as
// ArchiverTarget.h describes.
#include "fuzz/ArchiverTarget.h"

extern "C" int FUZZ_TEST_ONE_INPUT(const std::uint8_t* data, std::size_t size)
{
    static const fuzz::Scratch scratch("archiver-tar");
    return fuzz::RunArchiver(arc::Kind::Tar, "a.tgz", true, scratch, data, size);
}
