// Shared pieces of the archiver library tests: loading a library by file
// name from the bin folder, temporary folders, running the real archivers,
// describing extracted trees, and the recorded progress messages.
#pragma once
#include "Servers.h"
#include "archivers/ArchiverApi.h"

#include <cstdint>
#include <map>
#include <string>
#include <vector>

struct ArchiverLib {
    // Every entry of the prefix must be there, but for a library that has
    // no command entry or owner-window entries of its prefix (ZIP32J.DLL).
    explicit ArchiverLib(const std::string& file, const std::string& prefix, bool readingOnly = false);
    ~ArchiverLib();
    ArchiverLib(const ArchiverLib&) = delete;
    ArchiverLib& operator=(const ArchiverLib&) = delete;

    // Runs the command entry with owner 0; output receives the log.
    int Run(const std::string& commandLine, std::string* log = nullptr, int outputSize = 4096);
    bool Detects(const std::string& path);
    void* Entry(const std::string& suffix) const;
    // The "Zip" entry of the ZIP libraries.
    int RunZip(const std::string& commandLine, std::string* log = nullptr);
    // ExtractMem: the result; data receives what was written.
    int ExtractMem(const std::string& commandLine, std::string& data, int size);
    // The listing through OpenArchive, FindFirst, FindNext, CloseArchive.
    std::vector<INDIVIDUALINFO> List(const std::string& path, const std::string& wildcard = "*");

    void* handle = nullptr;
    std::string prefix;
    ARC_COMMAND command = nullptr;
    ARC_OPENARCHIVE open = nullptr;
    ARC_CLOSEARCHIVE close = nullptr;
    ARC_CHECKARCHIVE check = nullptr;
    ARC_SETOWNERWINDOWEX setOwner = nullptr;
    ARC_KILLOWNERWINDOWEX killOwner = nullptr;
};

// One per library kind, loaded once for the whole test run.
ArchiverLib& Unlha();
ArchiverLib& Unzip();
ArchiverLib& Cab();
ArchiverLib& Unarj();
ArchiverLib& Tar();
ArchiverLib& Unrar();
ArchiverLib& Bga();
ArchiverLib& Zip32j();
ArchiverLib& Lmzip32();

using TempDir = testsupport::TempDir;

// Extraction command lines as the back-ends build them with x = 1: LHA's
// (which every library takes), and tar32's with its separate values.
std::string ExtractLine(const std::string& archive, const std::string& dest);
std::string TarExtractLine(const std::string& archive, const std::string& dest, int useDirectory = 1);

// Runs a shell command in a folder; returns its exit status.
int Shell(const std::string& folder, const std::string& command);
std::string Quote(const std::string& text);
void WriteFile(const std::string& path, const std::string& data);
std::string ReadFile(const std::string& path);
bool Exists(const std::string& path);

struct FileFacts {
    uint64_t size;
    std::string sha256;
    bool operator==(const FileFacts&) const = default;
};
using Tree = std::map<std::string, FileFacts>;
// Regular files below a folder (relative paths).
Tree TreeOf(const std::string& folder);
Tree ReadManifest(const std::string& path);
std::string SamplesDir();

struct ProgressRecord {
    uintptr_t window;
    unsigned message;
    unsigned state;
    std::string source;
    std::string dest;
    uint64_t fileSize;
    uint64_t writeSize;
};
std::vector<ProgressRecord>& RecordedProgress();
// The state on which SendMessageA replies 1 (-1: never).
void AbortOnState(int state, int afterCount = 0);
unsigned ArcExtractMessage();

// Hand-made archives for cases no archiver on the machine produces.
struct BgaMember {
    std::string folder; // CP932 bytes, "\" separated
    std::string name;
    std::string data;
    bool bzip2 = false;
    uint16_t arcType = 1; // 1 compressed, 2 stored
    uint8_t attributes = 0x20;
};
std::string MakeBga(const std::vector<BgaMember>& members);
// An ARJ archive whose members are stored (method 0), made on MS-DOS.
std::string MakeStoredArj(const std::vector<std::pair<std::string, std::string>>& members);
// An LHA archive with level-0 headers and stored (-lh0-) members, or with
// -lz5- members holding literals only (a method libarchive does not read).
std::string MakeStoredLzh(const std::vector<std::pair<std::string, std::string>>& members, bool lz5 = false);
// Source files of varied kinds below folder: words.txt, zeros.bin,
// random.bin, empty, sub/deep/notes.txt, sub/日本語.txt.
void MakeSourceTree(const std::string& folder);
