// The body of every fuzz_archiver_KIND target: one library kind's whole
// reading surface on an arbitrary file, through the core's functions that
// the library entries call (in-process, no library loaded):
//   detection       CheckArchive with LHA's detection mode, OpenArchive
//                   with the detection mode, TarGetArchiveType for tar
//   listing         FindFirst "*", FindNext to the end, CloseArchive
//   full check      CheckArchive: every header, then every member decoded
//   extraction      the command entry with "x" into a folder out/ beside
//                   the archive, emptied after every run
//   into memory     ExtractMem of the first listed member (where the
//                   library has that entry)
//
// Checked: nothing is written outside out/ (the folder holds the archive
// and out/ alone afterwards), and an archive that extracts without an error
// also passes the full check.
#pragma once
#include "archivers/ArchiverApi.h"
#include "core/Core.h"
#include "fuzz/FuzzSupport.h"

#include <string>
#include <sys/stat.h>
#include <vector>

namespace fuzz {

inline int RunArchiver(arc::Kind kind, const std::string& archiveName, bool hasExtractMem, const Scratch& scratch,
                       const std::uint8_t* data, std::size_t size)
{
    const std::string archive = scratch / archiveName;
    const std::string out = scratch / "out";
    WriteFile(archive, AsText(data, size));
    if (!Exists(out))
        ::mkdir(out.c_str(), 0755);

    (void)arc::CheckArchive(kind, archive.c_str(), 16);
    if (kind == arc::Kind::Tar)
        (void)arc::TarGetArchiveType(archive.c_str());
    std::string firstName;
    if (const HARC handle = arc::OpenArchive(kind, 0, archive.c_str(), 0x800002)) {
        INDIVIDUALINFO info{};
        for (int rc = arc::FindFirst(kind, handle, "*", &info); rc == 0; rc = arc::FindNext(kind, handle, &info))
            if (firstName.empty() && !(info.Attributes & 0x10))
                firstName = info.FileName;
        FUZZ_CHECK(arc::CloseArchive(kind, handle) == 0, "close");
    }
    (void)arc::CheckArchive(kind, archive.c_str(), 1);
    const bool valid = arc::CheckArchive(kind, archive.c_str(), 2) != 0;

    const std::string line = kind == arc::Kind::Tar ? "x -f \"" + archive + "\" -o \"" + out + "/\""
                                                    : "x \"" + archive + "\" \"" + out + "/\"";
    std::vector<char> log(4096);
    const int extracted = arc::RunCommand(kind, arc::Entry::Command, 0, line.c_str(), log.data(),
                                          static_cast<int>(log.size()));
    FUZZ_CHECK((Entries(scratch.path()) == std::vector<std::string>{archiveName, "out"}), "written outside out/");
    FUZZ_CHECK(extracted != 0 || valid, std::string("extracted, but the full check fails\n") + log.data());
    EmptyFolder(out);

    if (hasExtractMem && !firstName.empty()) {
        std::vector<char> buffer(65536);
        std::int64_t time = 0;
        std::uint16_t attributes = 0;
        int written = -1;
        const std::string memLine = "\"" + archive + "\" \"" + firstName + "\"";
        (void)arc::ExtractMem(kind, 0, memLine.c_str(), buffer.data(), static_cast<int>(buffer.size()), &time,
                              &attributes, &written);
        FUZZ_CHECK(written >= 0 && written <= static_cast<int>(buffer.size()), std::to_string(written));
    }
    return 0;
}

} // namespace fuzz
