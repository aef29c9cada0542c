// TCRCList: CRC-16 or CRC-32 and size of every file in a list, the text of
// the last CRC, and a plain-text report of all files with totals.
//
// Callers put paths (files and/or folders) into Files, call Execute and read
// CRCText (the last entry's CRC as four or eight upper-case hexadecimal
// digits; empty when that file could not be opened). Execute replaces every
// folder in Files by the plain files directly inside it (hidden ones
// included, sub-folders not entered) and lists the folders in Folders, last
// first.
//
// CRC-16 is CRC-16/MCRF4XX (0x8408 reflected, start 0xFFFF, no final XOR);
// CRC-32 is the ZIP/zlib CRC-32. Files are read in 64 KiB blocks. Both CRCs
// are computed by folding 64 bytes at a time with carry-less multiplication
// where the processor has it (x86-64 PCLMULQDQ), else sixteen bytes at a
// time with slicing tables; either gives exactly the values of the
// one-table-lookup-per-byte step (UpdateCRC16Bytewise, UpdateCRC32Bytewise).
//
// Choices made on Linux:
// - Files are opened read-only. Linux has no sharing modes, so a file that
//   another process holds open is read all the same.
// - Only regular files (or links to them) can be opened. A folder, a device,
//   a pipe or a socket given as a file counts as a file that cannot be opened
//   (no row, empty CRCText); reading one could hang or never end.
// - A read error on an opened file makes the file count as not opened
//   (value 0, empty CRCText, no row) instead of passing off the CRC of the
//   bytes read so far as the file's CRC.
// - Sizes are 64-bit, so files of 2 GiB and more show their real size.
// - The path delimiter is "/": names in the report are the part after the
//   last "/", and AddBackslash appends "/".
// - The plain files of a folder are taken in name order ignoring case (as
//   Windows lists them on its own file systems), not in the arbitrary order
//   the Linux directory happens to keep, so the last file of a folder, and
//   with it CRCText, does not depend on the file system.
// - Report columns are aligned by the length of each text's CP932 form, so
//   Japanese names line up as they do in the Windows program; sizes are
//   grouped by thousands with the user's locale's separator, else ",".
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "runtime/Classes.h"
#include "runtime/StringList.h"

enum TCRCType : std::uint8_t { c16, c32 };

// One-byte step tables: entry i is i run through eight shifts of the
// reflected polynomial (0x8408 and 0xEDB88320).
extern const std::array<std::uint16_t, 256> CRC16Table;
extern const std::array<std::uint32_t, 256> CRC32Table;

// Run the CRC register over size bytes (no start value, no final
// inversion: the caller supplies and finishes the register).
std::uint16_t UpdateCRC16(std::uint16_t crc, const void* data, std::size_t size);
std::uint32_t UpdateCRC32(std::uint32_t crc, const void* data, std::size_t size);
// The same, one table lookup per byte.
std::uint16_t UpdateCRC16Bytewise(std::uint16_t crc, const void* data, std::size_t size);
std::uint32_t UpdateCRC32Bytewise(std::uint32_t crc, const void* data, std::size_t size);

// n copies of s joined; "" when n <= 0.
std::string RepeatStr(const std::string& s, int n);
// The path with "/" appended unless its last byte already is "/";
// "" stays "". In UTF-8 the byte "/" never occurs inside a multi-byte
// character, so testing the last byte is testing the last character.
std::string AddBackslash(const std::string& path);

class TCRCList : public TComponent {
public:
    explicit TCRCList(TComponent* AOwner = nullptr);
    ~TCRCList() override;
    TCRCList(const TCRCList&) = delete;
    TCRCList& operator=(const TCRCList&) = delete;

    // Path of the file whose CRC is computed next or was computed last.
    std::string FileName;
    // Input: paths of files and folders; after Execute, the files only.
    TStringList Files;
    // Last values; the one of the selected kind is 0 after a failed open.
    std::uint16_t CRC16 = 0;
    std::uint32_t CRC32 = 0;
    // The last computed CRC as upper-case hexadecimal; "" after a failed open.
    std::string CRCText;
    // The report built by the last Execute.
    TStringList Report;
    TCRCType CRCType = c16;
    // Size in bytes of the last file that was opened.
    std::int64_t FileSize = 0;
    // The folders the last Execute found in Files, last first.
    TStringList Folders;

    // Expands the folders of Files, checksums every file and builds Report.
    void Execute();
    // CRC of FileName by CRCType into CRC16 or CRC32 and CRCText; false
    // when the file could not be read.
    bool CalcCRC();
    // Checksum one file into value (0 on failure); both set FileSize.
    bool CalcCRC16(std::uint16_t& value, const std::string& path);
    bool CalcCRC32(std::uint32_t& value, const std::string& path);
};
