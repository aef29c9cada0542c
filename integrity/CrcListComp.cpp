#include "integrity/CrcListComp.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include "platform/Cp932.h"
#include "platform/FileNames.h"
#include "runtime/SysUtils.h"

namespace {

// Slicing tables: slice 0 is the one-byte step table; slice k advances a
// byte through k further zero bytes, so sixteen bytes fold in with sixteen
// independent lookups.
constexpr int kSlices = 16;
template <typename T>
using SliceTables = std::array<std::array<T, 256>, kSlices>;

template <typename T>
constexpr SliceTables<T> MakeSliceTables(T polynomial)
{
    SliceTables<T> t{};
    for (unsigned i = 0; i < 256; i++) {
        T v = static_cast<T>(i);
        for (int bit = 0; bit < 8; bit++)
            v = (v & 1) ? static_cast<T>((v >> 1) ^ polynomial) : static_cast<T>(v >> 1);
        t[0][i] = v;
    }
    for (int k = 1; k < kSlices; k++)
        for (unsigned i = 0; i < 256; i++)
            t[k][i] = static_cast<T>((t[k - 1][i] >> 8) ^ t[0][t[k - 1][i] & 0xFF]);
    return t;
}

constexpr SliceTables<std::uint16_t> kCRC16Slices = MakeSliceTables<std::uint16_t>(0x8408);
constexpr SliceTables<std::uint32_t> kCRC32Slices = MakeSliceTables<std::uint32_t>(0xEDB88320u);

inline std::uint64_t LoadLE64(const unsigned char* p)
{
    std::uint64_t v;
    std::memcpy(&v, p, sizeof v);
    if constexpr (std::endian::native == std::endian::big)
        v = __builtin_bswap64(v);
    return v;
}

template <typename T>
T UpdateBytewise(T crc, const unsigned char* p, std::size_t n, const std::array<T, 256>& table)
{
    for (std::size_t i = 0; i < n; i++)
        crc = static_cast<T>(table[(crc ^ p[i]) & 0xFF] ^ (crc >> 8));
    return crc;
}

template <typename T>
T UpdateSliced(T crc, const unsigned char* p, std::size_t n, const SliceTables<T>& t)
{
    while (n >= 16) {
        const std::uint64_t a = LoadLE64(p) ^ crc;
        const std::uint64_t b = LoadLE64(p + 8);
        crc = static_cast<T>(t[15][a & 0xFF] ^ t[14][(a >> 8) & 0xFF] ^ t[13][(a >> 16) & 0xFF] ^
                             t[12][(a >> 24) & 0xFF] ^ t[11][(a >> 32) & 0xFF] ^ t[10][(a >> 40) & 0xFF] ^
                             t[9][(a >> 48) & 0xFF] ^ t[8][a >> 56] ^ t[7][b & 0xFF] ^ t[6][(b >> 8) & 0xFF] ^
                             t[5][(b >> 16) & 0xFF] ^ t[4][(b >> 24) & 0xFF] ^ t[3][(b >> 32) & 0xFF] ^
                             t[2][(b >> 40) & 0xFF] ^ t[1][(b >> 48) & 0xFF] ^ t[0][b >> 56]);
        p += 16;
        n -= 16;
    }
    return UpdateBytewise(crc, p, n, t[0]);
}

#if defined(__x86_64__)
// Folding with carry-less multiplication, for processors that have it.
//
// A 16-byte block of a reflected CRC's input, read as a little-endian
// 128-bit number, holds the coefficient of x^(127-i) in bit i. Four such
// accumulators run over the data 64 bytes at a time: each is multiplied
// forward by x^512 modulo the polynomial (its low half by x^575, its high
// half by x^511, the product adding one x of its own) and the next block is
// added. The accumulators are then folded into one (x^128 steps), and the
// remainder of the last 16 bytes, which is congruent to everything read so
// far, goes through the table step. Both CRCs share the code: only the
// polynomial and its constants differ.
struct FoldConstants {
    std::uint64_t by4[2]; // x^575, x^511 modulo the polynomial
    std::uint64_t by1[2]; // x^191, x^127
};

// x^n modulo the polynomial of degree width (given with its top term, in
// normal bit order), laid out as a 64-bit reflected factor: the coefficient
// of x^d in bit 63-d.
constexpr std::uint64_t FoldFactor(unsigned n, std::uint64_t polynomial, int width)
{
    std::uint64_t r = 1;
    for (unsigned i = 0; i < n; i++) {
        r <<= 1;
        if (r & (std::uint64_t{1} << width))
            r ^= polynomial;
    }
    std::uint64_t k = 0;
    for (int d = 0; d < width; d++)
        if (r & (std::uint64_t{1} << d))
            k |= std::uint64_t{1} << (63 - d);
    return k;
}

constexpr FoldConstants MakeFoldConstants(std::uint64_t polynomial, int width)
{
    return {{FoldFactor(575, polynomial, width), FoldFactor(511, polynomial, width)},
            {FoldFactor(191, polynomial, width), FoldFactor(127, polynomial, width)}};
}

constexpr FoldConstants kCRC16Fold = MakeFoldConstants(0x11021, 16);
constexpr FoldConstants kCRC32Fold = MakeFoldConstants(0x104C11DB7u, 32);

__attribute__((target("pclmul,sse4.1"))) inline __m128i Fold(__m128i x, __m128i k, __m128i next)
{
    return _mm_xor_si128(_mm_xor_si128(_mm_clmulepi64_si128(x, k, 0x00), _mm_clmulepi64_si128(x, k, 0x11)), next);
}

__attribute__((target("pclmul,sse4.1"))) inline __m128i Load128(const unsigned char* p)
{
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

// Needs at least 64 bytes.
template <typename T>
__attribute__((target("pclmul,sse4.1"))) T UpdateFolded(T crc, const unsigned char* p, std::size_t n,
                                                        const FoldConstants& c, const SliceTables<T>& t)
{
    __m128i x1 = _mm_xor_si128(Load128(p), _mm_cvtsi32_si128(static_cast<int>(crc)));
    __m128i x2 = Load128(p + 16);
    __m128i x3 = Load128(p + 32);
    __m128i x4 = Load128(p + 48);
    p += 64;
    n -= 64;
    const __m128i k4 = _mm_set_epi64x(static_cast<long long>(c.by4[1]), static_cast<long long>(c.by4[0]));
    while (n >= 64) {
        x1 = Fold(x1, k4, Load128(p));
        x2 = Fold(x2, k4, Load128(p + 16));
        x3 = Fold(x3, k4, Load128(p + 32));
        x4 = Fold(x4, k4, Load128(p + 48));
        p += 64;
        n -= 64;
    }
    const __m128i k1 = _mm_set_epi64x(static_cast<long long>(c.by1[1]), static_cast<long long>(c.by1[0]));
    x1 = Fold(x1, k1, x2);
    x1 = Fold(x1, k1, x3);
    x1 = Fold(x1, k1, x4);
    while (n >= 16) {
        x1 = Fold(x1, k1, Load128(p));
        p += 16;
        n -= 16;
    }
    unsigned char rest[16];
    _mm_storeu_si128(reinterpret_cast<__m128i*>(rest), x1);
    return UpdateSliced(UpdateSliced(T{0}, rest, 16, t), p, n, t);
}

bool HaveCarrylessMultiply()
{
    static const bool have = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse4.1");
    }();
    return have;
}
#else
struct FoldConstants {};
constexpr FoldConstants kCRC16Fold{};
constexpr FoldConstants kCRC32Fold{};
#endif

template <typename T>
T UpdateFast(T crc, const unsigned char* p, std::size_t n, const SliceTables<T>& t,
             [[maybe_unused]] const FoldConstants& fold)
{
#if defined(__x86_64__)
    if (n >= 64 && HaveCarrylessMultiply())
        return UpdateFolded(crc, p, n, fold, t);
#endif
    return UpdateSliced(crc, p, n, t);
}

// Files are read in blocks of this size into one buffer per file.
constexpr std::size_t kBlockSize = 65536;

class FileHandle {
public:
    explicit FileHandle(int fd) : fd_(fd) {}
    ~FileHandle()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    int fd() const { return fd_; }

private:
    int fd_;
};

// Fills the buffer as far as the file goes: the full block, fewer bytes at
// the end of the file, or -1 on a read error.
ssize_t ReadBlock(int fd, unsigned char* buffer, std::size_t size)
{
    std::size_t got = 0;
    while (got < size) {
        const ssize_t r = ::read(fd, buffer + got, size - got);
        if (r < 0) {
            if (errno == EINTR)
                continue;
            return -1;
        }
        if (r == 0)
            break;
        got += static_cast<std::size_t>(r);
    }
    return static_cast<ssize_t>(got);
}

// Opens a regular file read-only, stores its size and hands every block to
// step. The loop ends at the first block shorter than kBlockSize (so a file
// whose size is a multiple of the block takes one more, empty read).
// False when the file cannot be opened or a read fails.
template <typename Step>
bool ReadFileBlocks(const std::string& path, std::int64_t& fileSize, Step step)
{
    // O_NONBLOCK keeps the open of a pipe from waiting for a writer; it does
    // nothing for regular files, the only kind read here.
    FileHandle file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (file.fd() < 0)
        return false;
    struct stat st {};
    if (::fstat(file.fd(), &st) != 0 || !S_ISREG(st.st_mode))
        return false;
    fileSize = static_cast<std::int64_t>(st.st_size);
    ::posix_fadvise(file.fd(), 0, 0, POSIX_FADV_SEQUENTIAL);

    const std::unique_ptr<unsigned char[]> buffer(new unsigned char[kBlockSize]);
    for (;;) {
        const ssize_t got = ReadBlock(file.fd(), buffer.get(), kBlockSize);
        if (got < 0)
            return false;
        step(buffer.get(), static_cast<std::size_t>(got));
        if (static_cast<std::size_t>(got) < kBlockSize)
            return true;
    }
}

// The plain files directly inside folder d (which ends in "/"), hidden ones
// included, in name order ignoring case.
std::vector<std::string> PlainFilesOf(const std::string& d)
{
    std::vector<std::string> names;
    DIR* dir = ::opendir(d.c_str());
    if (!dir)
        return names;
    std::unique_ptr<DIR, int (*)(DIR*)> closer(dir, ::closedir);
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name == "." || name == "..")
            continue;
        struct stat st {};
        if (::stat((d + name).c_str(), &st) == 0 && S_ISREG(st.st_mode))
            names.push_back(name);
    }
    std::stable_sort(names.begin(), names.end(),
                     [](const std::string& a, const std::string& b) { return AnsiCompareText(a, b) < 0; });
    return names;
}

std::string HexText(std::uint32_t value, int digits)
{
    char text[16];
    std::snprintf(text, sizeof text, "%0*X", digits, static_cast<unsigned>(value));
    return text;
}

int TextWidth(const std::string& text)
{
    return static_cast<int>(Cp932Length(text));
}

// One file that could be read.
struct TCRCRecord {
    std::string Name;
    std::string CRC;
    std::string Size;
};

} // namespace

const std::array<std::uint16_t, 256> CRC16Table = kCRC16Slices[0];
const std::array<std::uint32_t, 256> CRC32Table = kCRC32Slices[0];

std::uint16_t UpdateCRC16(std::uint16_t crc, const void* data, std::size_t size)
{
    return UpdateFast(crc, static_cast<const unsigned char*>(data), size, kCRC16Slices, kCRC16Fold);
}

std::uint32_t UpdateCRC32(std::uint32_t crc, const void* data, std::size_t size)
{
    return UpdateFast(crc, static_cast<const unsigned char*>(data), size, kCRC32Slices, kCRC32Fold);
}

std::uint16_t UpdateCRC16Bytewise(std::uint16_t crc, const void* data, std::size_t size)
{
    return UpdateBytewise(crc, static_cast<const unsigned char*>(data), size, CRC16Table);
}

std::uint32_t UpdateCRC32Bytewise(std::uint32_t crc, const void* data, std::size_t size)
{
    return UpdateBytewise(crc, static_cast<const unsigned char*>(data), size, CRC32Table);
}

std::string RepeatStr(const std::string& s, int n)
{
    std::string out;
    if (n <= 0)
        return out;
    out.reserve(s.size() * static_cast<std::size_t>(n));
    for (int i = 0; i < n; i++)
        out += s;
    return out;
}

std::string AddBackslash(const std::string& path)
{
    if (path.empty() || path.back() == '/')
        return path;
    return path + "/";
}

TCRCList::TCRCList(TComponent* AOwner) : TComponent(AOwner) {}

TCRCList::~TCRCList() = default;

bool TCRCList::CalcCRC16(std::uint16_t& value, const std::string& path)
{
    std::uint16_t crc = 0xFFFF;
    const bool ok = ReadFileBlocks(path, FileSize, [&crc](const unsigned char* p, std::size_t n) {
        crc = UpdateCRC16(crc, p, n);
    });
    value = ok ? crc : 0;
    return ok;
}

bool TCRCList::CalcCRC32(std::uint32_t& value, const std::string& path)
{
    std::uint32_t crc = 0xFFFFFFFFu;
    const bool ok = ReadFileBlocks(path, FileSize, [&crc](const unsigned char* p, std::size_t n) {
        crc = UpdateCRC32(crc, p, n);
    });
    value = ok ? ~crc : 0;
    return ok;
}

bool TCRCList::CalcCRC()
{
    bool ok;
    if (CRCType == c16) {
        ok = CalcCRC16(CRC16, FileName);
        CRCText = ok ? HexText(CRC16, 4) : std::string();
    } else {
        ok = CalcCRC32(CRC32, FileName);
        CRCText = ok ? HexText(CRC32, 8) : std::string();
    }
    return ok;
}

void TCRCList::Execute()
{
    Folders.Clear();
    for (int i = Files.Count() - 1; i >= 0; i--) {
        if (DirectoryExists(Files[i])) {
            Folders.Add(Files[i]);
            Files.Delete(i);
        }
    }

    TStringList lines;
    std::vector<TCRCRecord> records;
    for (const std::string& folder : Folders) {
        const std::string d = AddBackslash(folder);
        for (const std::string& name : PlainFilesOf(d))
            lines.Add(d + name);
    }
    Files.AddStrings(lines);

    std::int64_t total = 0;
    int count = 0;
    int nameWidth = 0;
    int sizeWidth = 0;
    for (int i = 0; i < Files.Count(); i++) {
        FileName = Files[i];
        if (!CalcCRC())
            continue;
        TCRCRecord record{ExtractFileName(FileName), CRCText, FormatThousands(FileSize)};
        total += FileSize;
        count++;
        nameWidth = std::max(nameWidth, TextWidth(record.Name));
        sizeWidth = std::max(sizeWidth, TextWidth(record.Size));
        records.push_back(std::move(record));
    }

    lines.Clear();
    for (const TCRCRecord& record : records) {
        if (record.CRC.empty())
            continue;
        lines.Add(record.Name + RepeatStr(" ", nameWidth - TextWidth(record.Name)) + "  " + record.CRC + "  " +
                  RepeatStr(" ", sizeWidth - TextWidth(record.Size)) + record.Size);
    }
    lines.Sort();

    const bool wide = CRCType == c32;
    Report.Clear();
    Report.Add("Name" + RepeatStr(" ", nameWidth - 4) + "  " + (wide ? "CRC32   " : "CRC ") + "  " + "Bytes");
    Report.Add(RepeatStr("-", nameWidth) + "  " + RepeatStr("-", wide ? 8 : 4) + "  " + RepeatStr("-", sizeWidth));
    Report.AddStrings(lines);
    Report.Add(RepeatStr("-", nameWidth + sizeWidth + (wide ? 12 : 8)));
    Report.Add("Total  " + std::to_string(count) + " Files  " + FormatThousands(total) + " Bytes");
}
