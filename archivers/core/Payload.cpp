#include "core/Payload.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <elf.h>
#include <sys/stat.h>

namespace arc {

uint64_t PayloadStart(const std::string& path)
{
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f)
        return 0;
    unsigned char ident[EI_NIDENT] = {};
    uint64_t end = 0;
    if (std::fread(ident, 1, sizeof ident, f) == sizeof ident && std::memcmp(ident, ELFMAG, SELFMAG) == 0
        && std::fseek(f, 0, SEEK_SET) == 0) {
        if (ident[EI_CLASS] == ELFCLASS64) {
            Elf64_Ehdr h{};
            if (std::fread(&h, 1, sizeof h, f) == sizeof h)
                end = std::max<uint64_t>(h.e_shoff + uint64_t(h.e_shnum) * h.e_shentsize,
                                         h.e_phoff + uint64_t(h.e_phnum) * h.e_phentsize);
        } else if (ident[EI_CLASS] == ELFCLASS32) {
            Elf32_Ehdr h{};
            if (std::fread(&h, 1, sizeof h, f) == sizeof h)
                end = std::max<uint64_t>(h.e_shoff + uint64_t(h.e_shnum) * h.e_shentsize,
                                         h.e_phoff + uint64_t(h.e_phnum) * h.e_phentsize);
        }
    }
    std::fclose(f);
    struct stat st {};
    if (end == 0 || stat(path.c_str(), &st) != 0)
        return 0;
    return std::min<uint64_t>(end, static_cast<uint64_t>(st.st_size));
}

} // namespace arc
