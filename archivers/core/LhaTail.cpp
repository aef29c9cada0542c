#include "core/LhaTail.h"

#include <cstdio>

namespace arc {

bool LhaEndsAt(const std::string& path, uint64_t end)
{
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f)
        return false;
    char magic[2] = {0, 0};
    bool ok = true;
    if (std::fread(magic, 1, 2, f) == 2 && !(magic[0] == 'M' && magic[1] == 'Z')) {
        unsigned char b[258] = {};
        size_t n = 0;
        if (fseeko(f, static_cast<off_t>(end), SEEK_SET) == 0)
            n = std::fread(b, 1, sizeof b, f);
        if (n == 0 || b[0] == 0)
            ok = true; // the end, or the end mark
        else if (n < 22)
            ok = false; // too short for any header: cut
        else if (!(b[2] == '-' && b[6] == '-'))
            ok = true; // not a header
        else if (b[20] == 2)
            ok = (b[0] | (b[1] << 8)) < 26; // a level-2 header, unless too short for one
        else if (b[20] == 3) {
            // A level-3 header, unless its length is no header's.
            uint32_t length = b[24] | (b[25] << 8) | (b[26] << 16) | (static_cast<uint32_t>(b[27]) << 24);
            ok = length < 28 || length > 65536;
        } else if (b[20] > 3) {
            ok = true;
        } else {
            // A level-0 header's length is 22 bytes and the name, with
            // perhaps a short extension; a level-1 header's is 25 and the
            // name. Other lengths are no header.
            size_t length = static_cast<size_t>(b[0]) + 2, least = (b[20] == 0 ? 24u : 27u) + b[21];
            if (length < least || length > least + 64) {
                ok = true;
            } else if (n < length) {
                ok = false; // cut by the end of the file
            } else {
                unsigned sum = 0;
                for (size_t i = 2; i < length; ++i)
                    sum += b[i];
                ok = (sum & 0xFF) != b[1]; // a whole header that was not read is damage
            }
        }
    }
    std::fclose(f);
    return ok;
}

int64_t LhaMemberEnd(const std::string& path, uint64_t offset)
{
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f)
        return -1;
    unsigned char b[28] = {};
    size_t n = fseeko(f, static_cast<off_t>(offset), SEEK_SET) == 0 ? std::fread(b, 1, sizeof b, f) : 0;
    std::fclose(f);
    if (n < 22 || b[2] != '-' || b[6] != '-')
        return -1;
    auto u16 = [&](int i) { return static_cast<int64_t>(b[i] | (b[i + 1] << 8)); };
    auto u32 = [&](int i) { return u16(i) | (u16(i + 2) << 16); };
    // The packed size counts the extension headers of a level-1 header.
    int64_t header;
    switch (b[20]) {
    case 0:
    case 1:
        header = b[0] + 2;
        break;
    case 2:
        header = u16(0);
        break;
    case 3:
        if (n < 28)
            return -1;
        header = u32(24);
        break;
    default:
        return -1;
    }
    return static_cast<int64_t>(offset) + header + u32(7);
}

} // namespace arc
