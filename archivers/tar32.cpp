// "tar32.dll": tar archives, compressed tar archives and plain gzip,
// compress and bzip2 files: extraction, creation ("c"), listing, checking,
// one member into memory.
#include "core/Exports.h"

ARC_DEFINE_LIBRARY(Tar, arc::Kind::Tar)
ARC_EXTRACTMEM_ENTRY(Tar, arc::Kind::Tar)

// 1 tar; 2 tar+gzip; 3 gzip; 4 tar+compress; 5 compress; 6 bzip2;
// 7 tar+bzip2; 0 anything else; -1 the file cannot be read.
ARC_EXPORT int TarGetArchiveType(const char* path) { return arc::TarGetArchiveType(path); }
