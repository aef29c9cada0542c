// Reading LHA, ZIP, CAB, RAR and the tar family with libarchive.
//
// Names: libarchive hands over the stored bytes; NameCodec turns them into
// UTF-8 (CP932 for names that are not UTF-8, except in tar, whose names are
// plain bytes and only lose bytes that are not UTF-8). Reading runs under a
// UTF-8 locale of its own thread (uselocale), so names flagged as UTF-8 are
// not mangled by the program's locale; the process locale is left alone.
//
// ZIP is read through its central directory (this also finds a ZIP behind a
// self-extracting stub); when there is none, as in a truncated file, the
// local headers are read from the start instead, so whatever comes before
// the damage is extracted. libarchive finds LHA, CAB and RAR archives
// behind a stub by itself.
//
// Sparse files come with their holes (MemberSink::Hole). Every header's
// position goes to MemberSink::AtHeader, which ends a reader that comes back
// to a header it has read (libarchive 3.6's RAR 5 reader does that with a
// folder entry that declares data).
//
// gzip data (.tgz, .gz) is decompressed by zlib rather than by libarchive,
// whose gzip filter (3.6) does not check the CRC-32 at a gzip member's end;
// libarchive reads the tar archive or the plain file that comes out.
//
// A plain compressed file (.gz, .bz2, .Z) that holds no tar archive is
// written as one file named after the archive without its compression
// extension (".tgz"/".taz" become ".tar").
#pragma once
#include "core/CommandLine.h"
#include "core/MemberSink.h"

#include <string>

namespace arc {

void ReadWithLibarchive(Kind kind, const std::string& archive, MemberSink& sink);

// The first header reads as an archive of the kind.
bool LibarchiveRecognises(Kind kind, const std::string& path);

// tar32's archive type: 1 tar; 2 tar+gzip; 3 gzip; 4 tar+compress;
// 5 compress; 6 bzip2; 7 tar+bzip2; 0 anything else; -1 cannot be read.
int TarArchiveType(const std::string& path);

} // namespace arc
