#include "core/Readers.h"

#include "core/ArjReader.h"
#include "core/BgaReader.h"
#include "core/LhasaReader.h"
#include "core/LibarchiveReader.h"
#include "core/MspackReader.h"
#include "core/SecondChance.h"
#ifndef ARC_NO_UNARR
#include "core/UnarrReader.h"
#endif

namespace arc {
namespace {

ReadFunction Libarchive(Kind kind)
{
    return [kind](const std::string& path, MemberSink& sink) { ReadWithLibarchive(kind, path, sink); };
}

#ifndef ARC_NO_UNARR
ReadFunction Unarr(Kind kind)
{
    return [kind](const std::string& path, MemberSink& sink) { ReadWithUnarr(kind, path, sink); };
}
#endif

} // namespace

void ReadArchive(Kind kind, const std::string& path, MemberSink& sink)
{
    sink.LimitTo(ArchiveSizeOf(path));
    switch (kind) {
    case Kind::Lha:
        ReadTwice(path, sink, Libarchive(kind), ReadWithLhasa, false);
        break;
#ifdef ARC_NO_UNARR
    case Kind::Zip:
    case Kind::Rar:
        ReadWithLibarchive(kind, path, sink);
        break;
#else
    case Kind::Zip:
        ReadTwice(path, sink, Libarchive(kind), Unarr(kind), false);
        break;
    case Kind::Rar:
        ReadTwice(path, sink, Libarchive(kind), Unarr(kind), true);
        break;
#endif
    case Kind::Cab:
        ReadWithMspack(path, sink);
        break;
    case Kind::Tar:
        ReadWithLibarchive(kind, path, sink);
        break;
    case Kind::Arj:
        ReadArj(path, sink);
        break;
    case Kind::Bga:
        ReadBga(path, sink);
        break;
    }
}

bool Recognises(Kind kind, const std::string& path)
{
    switch (kind) {
    case Kind::Lha:
        return LibarchiveRecognises(kind, path) || LhasaRecognises(path);
    case Kind::Zip:
    case Kind::Rar:
#ifdef ARC_NO_UNARR
        return LibarchiveRecognises(kind, path);
#else
        return LibarchiveRecognises(kind, path) || UnarrRecognises(kind, path);
#endif
    case Kind::Cab:
        return MspackRecognises(path);
    case Kind::Tar:
        return LibarchiveRecognises(kind, path);
    case Kind::Arj:
        return ArjRecognises(path);
    case Kind::Bga:
        return BgaRecognises(path);
    }
    return false;
}

} // namespace arc
