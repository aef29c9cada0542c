// Where an archive begins in a file that holds a program before it.
//
// The self-extracting files this system makes on Linux are one of its stub
// programs (an ELF executable) with the archive after it. The archive
// begins exactly where the ELF file ends: after its section header table,
// the last thing a linker writes. Readers that cannot search for an archive
// behind a program by themselves (libarchive's tar, LHA and RAR readers,
// liblhasa, the ARJ and BGA readers) start reading there. Windows programs
// ("MZ") in front of an archive are searched through by the readers as
// before.
#pragma once
#include <cstdint>
#include <string>

namespace arc {

// 0 for a file that does not start with an ELF program; otherwise the
// offset just after the program (the file's size when nothing follows).
uint64_t PayloadStart(const std::string& path);

} // namespace arc
