#include "ArchiverHarness.h"

#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <dlfcn.h>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

ArchiverLib::ArchiverLib(const std::string& file, const std::string& p, bool readingOnly) : prefix(p)
{
    std::string path = std::string(FETCHLET_BIN_DIR) + "/" + file;
    handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle)
        throw std::runtime_error("cannot load " + path + ": " + dlerror());
    command = reinterpret_cast<ARC_COMMAND>(Entry(""));
    open = reinterpret_cast<ARC_OPENARCHIVE>(Entry("OpenArchive"));
    close = reinterpret_cast<ARC_CLOSEARCHIVE>(Entry("CloseArchive"));
    check = reinterpret_cast<ARC_CHECKARCHIVE>(Entry("CheckArchive"));
    setOwner = reinterpret_cast<ARC_SETOWNERWINDOWEX>(Entry("SetOwnerWindowEx"));
    killOwner = reinterpret_cast<ARC_KILLOWNERWINDOWEX>(Entry("KillOwnerWindowEx"));
    if ((!readingOnly && (!command || !setOwner || !killOwner)) || !open || !close || !check)
        throw std::runtime_error("missing entries in " + path);
}

// Like the program, the tests never unload a library.
ArchiverLib::~ArchiverLib() = default;

void* ArchiverLib::Entry(const std::string& suffix) const { return dlsym(handle, (prefix + suffix).c_str()); }

int ArchiverLib::Run(const std::string& commandLine, std::string* log, int outputSize)
{
    std::vector<char> out(static_cast<size_t>(outputSize) + 16, '\x7f');
    int rc = command(0, commandLine.c_str(), outputSize ? out.data() : nullptr, outputSize);
    if (log)
        *log = outputSize ? std::string(out.data()) : std::string();
    for (size_t i = static_cast<size_t>(outputSize); i < out.size(); ++i)
        EXPECT_EQ(out[i], '\x7f') << "output buffer overrun";
    return rc;
}

int ArchiverLib::RunZip(const std::string& commandLine, std::string* log)
{
    auto zip = reinterpret_cast<ARC_COMMAND>(dlsym(handle, "Zip"));
    if (!zip)
        throw std::runtime_error("no Zip entry");
    std::vector<char> out(1 << 16);
    int rc = zip(0, commandLine.c_str(), out.data(), static_cast<int>(out.size()));
    if (log)
        *log = out.data();
    return rc;
}

int ArchiverLib::ExtractMem(const std::string& commandLine, std::string& data, int size)
{
    auto mem = reinterpret_cast<ARC_EXTRACTMEM>(Entry("ExtractMem"));
    std::vector<char> buffer(static_cast<size_t>(size) + 1);
    int written = -1;
    int rc = mem(0, commandLine.c_str(), buffer.data(), size, nullptr, nullptr, &written);
    data.assign(buffer.data(), written > 0 ? static_cast<size_t>(written) : 0);
    return rc;
}

std::vector<INDIVIDUALINFO> ArchiverLib::List(const std::string& path, const std::string& wildcard)
{
    std::vector<INDIVIDUALINFO> list;
    auto first = reinterpret_cast<ARC_FINDFIRST>(Entry("FindFirst"));
    auto next = reinterpret_cast<ARC_FINDNEXT>(Entry("FindNext"));
    HARC h = open(0, path.c_str(), 0);
    if (!h)
        return list;
    INDIVIDUALINFO info{};
    for (int r = first(h, wildcard.c_str(), &info); r == 0; r = next(h, &info))
        list.push_back(info);
    close(h);
    return list;
}

bool ArchiverLib::Detects(const std::string& path)
{
    HARC h = open(0, path.c_str(), 0x800002);
    if (h)
        close(h);
    return h != 0;
}

#define LIB(fn, file, prefix)                                                                                   \
    ArchiverLib& fn()                                                                                           \
    {                                                                                                          \
        static ArchiverLib lib(file, prefix);                                                                  \
        return lib;                                                                                            \
    }
LIB(Unlha, "UNLHA32.DLL", "Unlha")
LIB(Unzip, "UNZIP32.DLL", "UnZip")
LIB(Cab, "CAB32.DLL", "Cab")
LIB(Unarj, "UNARJ32J.DLL", "Unarj")
LIB(Tar, "tar32.dll", "Tar")
LIB(Unrar, "UNRAR32.DLL", "Unrar")
LIB(Bga, "BGA32.DLL", "Bga")

ArchiverLib& Zip32j()
{
    static ArchiverLib lib("ZIP32J.DLL", "UnZip", true);
    return lib;
}

ArchiverLib& Lmzip32()
{
    static ArchiverLib lib("LMZIP32.DLL", "Unzip", true);
    return lib;
}

std::string ExtractLine(const std::string& archive, const std::string& dest)
{
    return "x -+ -x1  \"" + archive + "\" \"" + dest + "/\" ";
}

std::string TarExtractLine(const std::string& archive, const std::string& dest, int useDirectory)
{
    return "x --use-directory=" + std::to_string(useDirectory) + "  -f \"" + archive + "\" -o \"" + dest + "/\" ";
}

std::string Quote(const std::string& text)
{
    std::string out = "'";
    for (char c : text)
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

int Shell(const std::string& folder, const std::string& command)
{
    std::string line = "cd " + Quote(folder) + " && { " + command + " ; } >/dev/null 2>&1";
    int rc = std::system(line.c_str());
    return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
}

void WriteFile(const std::string& path, const std::string& data)
{
    std::ofstream out(path, std::ios::binary);
    out << data;
}

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

bool Exists(const std::string& path)
{
    struct stat st {};
    return lstat(path.c_str(), &st) == 0;
}

namespace {

std::string Sha256Of(const std::string& path)
{
    std::string cmd = "sha256sum " + Quote(path);
    FILE* p = popen(cmd.c_str(), "r");
    if (!p)
        return {};
    char buf[65] = {};
    size_t n = fread(buf, 1, 64, p);
    pclose(p);
    return std::string(buf, n);
}

void Walk(const std::string& root, const std::string& rel, Tree& tree)
{
    DIR* d = opendir((root + "/" + rel).c_str());
    if (!d)
        return;
    while (dirent* e = readdir(d)) {
        std::string name = e->d_name;
        if (name == "." || name == "..")
            continue;
        std::string r = rel.empty() ? name : rel + "/" + name;
        struct stat st {};
        if (lstat((root + "/" + r).c_str(), &st) != 0)
            continue;
        if (S_ISDIR(st.st_mode))
            Walk(root, r, tree);
        else if (S_ISREG(st.st_mode))
            tree[r] = {static_cast<uint64_t>(st.st_size), Sha256Of(root + "/" + r)};
    }
    closedir(d);
}

} // namespace

Tree TreeOf(const std::string& folder)
{
    Tree tree;
    Walk(folder, "", tree);
    return tree;
}

Tree ReadManifest(const std::string& path)
{
    Tree tree;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string name, size, sha;
        if (std::getline(fields, name, '\t') && std::getline(fields, size, '\t') && std::getline(fields, sha))
            tree[name] = {std::stoull(size), sha};
    }
    return tree;
}

std::string SamplesDir() { return FETCHLET_SAMPLES_DIR; }

namespace {
std::vector<ProgressRecord> g_records;
int g_abortState = -1;
int g_abortAfter = 0;
constexpr unsigned kMessage = 0xC0DE;
} // namespace

std::vector<ProgressRecord>& RecordedProgress() { return g_records; }

void AbortOnState(int state, int afterCount)
{
    g_abortState = state;
    g_abortAfter = afterCount;
}

unsigned ArcExtractMessage() { return kMessage; }

// The program's exported entries, as the libraries find them.
extern "C" __attribute__((visibility("default"))) unsigned RegisterWindowMessageA(const char* name)
{
    return std::string(name) == ARC_WM_ARCEXTRACT ? kMessage : 0xC001;
}

extern "C" __attribute__((visibility("default"))) intptr_t SendMessageA(uintptr_t window, unsigned msg,
                                                                       uintptr_t wParam, intptr_t lParam)
{
    auto* info = reinterpret_cast<const EXTRACTINGINFOEX*>(lParam);
    g_records.push_back({window, msg, static_cast<unsigned>(wParam), info->SourceFileName, info->DestFileName,
                         info->FileSize, info->WriteSize});
    if (g_abortState >= 0 && static_cast<int>(wParam) == g_abortState) {
        if (g_abortAfter-- <= 0)
            return 1;
    }
    return 0;
}

#include <bzlib.h>
#include <zlib.h>

namespace {

void Put16(std::string& s, uint32_t v)
{
    s += static_cast<char>(v & 0xFF);
    s += static_cast<char>((v >> 8) & 0xFF);
}

void Put32(std::string& s, uint32_t v)
{
    Put16(s, v & 0xFFFF);
    Put16(s, v >> 16);
}

std::string Gzip(const std::string& data)
{
    z_stream z{};
    deflateInit2(&z, 9, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY);
    std::string out(deflateBound(&z, data.size()) + 64, '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    z.avail_in = static_cast<uInt>(data.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = static_cast<uInt>(out.size());
    deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

std::string Bzip2(const std::string& data)
{
    unsigned size = static_cast<unsigned>(data.size() * 1.02 + 600);
    std::string out(size, '\0');
    BZ2_bzBuffToBuffCompress(out.data(), &size, const_cast<char*>(data.data()), static_cast<unsigned>(data.size()), 9,
                             0, 0);
    out.resize(size);
    return out;
}

} // namespace

std::string MakeBga(const std::vector<BgaMember>& members)
{
    std::string out;
    for (auto& m : members) {
        std::string packed = m.arcType == 2 ? m.data : (m.bzip2 ? Bzip2(m.data) : Gzip(m.data));
        std::string h;
        h += m.bzip2 ? std::string("BZ2\0", 4) : std::string("GZIP");
        Put32(h, static_cast<uint32_t>(packed.size()));
        Put32(h, static_cast<uint32_t>(m.data.size()));
        Put16(h, (45 << 9) | (6 << 5) | 15); // 2025-06-15
        Put16(h, (12 << 11) | (30 << 5));
        h += static_cast<char>(m.attributes);
        h += '\0';
        Put16(h, m.arcType);
        Put16(h, static_cast<uint32_t>(m.folder.size()));
        Put16(h, static_cast<uint32_t>(m.name.size()));
        int32_t sum = 0;
        for (char c : h + m.folder + m.name)
            sum += static_cast<signed char>(c);
        std::string head;
        Put32(head, static_cast<uint32_t>(sum));
        out += head + h + m.folder + m.name + packed;
    }
    return out;
}

std::string MakeStoredArj(const std::vector<std::pair<std::string, std::string>>& members)
{
    auto header = [](uint8_t type, const std::string& name, const std::string& data) {
        std::string b;
        b += static_cast<char>(30); // first header size
        b += static_cast<char>(11); // archiver version
        b += static_cast<char>(1);  // needed to extract
        b += static_cast<char>(0);  // MS-DOS
        b += static_cast<char>(0);  // flags
        b += static_cast<char>(0);  // method 0
        b += static_cast<char>(type);
        b += static_cast<char>(0);
        Put32(b, (static_cast<uint32_t>((45 << 9) | (6 << 5) | 15) << 16) | (12 << 11));
        Put32(b, static_cast<uint32_t>(data.size()));
        Put32(b, static_cast<uint32_t>(data.size()));
        Put32(b, static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(data.data()),
                                             static_cast<uInt>(data.size()))));
        Put16(b, 0); // entry name position
        Put16(b, 0x20);
        Put16(b, 0);
        b += name;
        b += '\0';
        b += '\0'; // comment
        std::string h = "\x60\xEA";
        Put16(h, static_cast<uint32_t>(b.size()));
        h += b;
        Put32(h, static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(b.data()), static_cast<uInt>(b.size()))));
        Put16(h, 0); // no extended header
        return h + data;
    };
    std::string out = header(2, "made.arj", "");
    for (auto& [name, data] : members)
        out += header(0, name, data);
    out += std::string("\x60\xEA\0\0", 4);
    return out;
}

std::string MakeStoredLzh(const std::vector<std::pair<std::string, std::string>>& members, bool lz5)
{
    std::string out;
    for (auto& [name, data] : members) {
        std::string packed = data;
        if (lz5) { // every flag bit set: eight literal bytes follow each flag byte
            packed.clear();
            for (size_t i = 0; i < data.size(); i += 8)
                packed += "\xFF" + data.substr(i, 8);
        }
        uint16_t crc = 0;
        for (unsigned char c : data) {
            crc ^= c;
            for (int k = 0; k < 8; ++k)
                crc = (crc & 1) ? static_cast<uint16_t>((crc >> 1) ^ 0xA001) : static_cast<uint16_t>(crc >> 1);
        }
        std::string body = lz5 ? "-lz5-" : "-lh0-";
        Put32(body, static_cast<uint32_t>(packed.size()));
        Put32(body, static_cast<uint32_t>(data.size()));
        Put32(body, (static_cast<uint32_t>((45 << 9) | (6 << 5) | 15) << 16) | (12 << 11));
        body += '\x20';
        body += '\0';
        body += static_cast<char>(name.size());
        body += name;
        Put16(body, crc);
        unsigned sum = 0;
        for (unsigned char c : body)
            sum += c;
        out += static_cast<char>(body.size());
        out += static_cast<char>(sum & 0xFF);
        out += body + packed;
    }
    out += '\0';
    return out;
}

void MakeSourceTree(const std::string& folder)
{
    Shell(folder, "mkdir -p sub/deep");
    std::string words;
    const char* list[] = {"alpha ", "beta ", "gamma ", "delta ", "archive ", "lzh ", "zip\n"};
    uint32_t seed = 12345;
    auto next = [&seed] {
        seed = seed * 1103515245u + 12345u;
        return seed >> 8;
    };
    while (words.size() < 300000)
        words += list[next() % 7];
    WriteFile(folder + "/words.txt", words);
    WriteFile(folder + "/zeros.bin", std::string(100000, '\0'));
    std::string random;
    for (int i = 0; i < 70000; ++i)
        random += static_cast<char>(next() & 0xFF);
    WriteFile(folder + "/random.bin", random);
    WriteFile(folder + "/empty", "");
    WriteFile(folder + "/sub/deep/notes.txt", "notes\n" + words.substr(0, 5000));
    WriteFile(folder + "/sub/日本語.txt", "nihongo\n");
}
