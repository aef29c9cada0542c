#include "archive/ZIP32.h"

#include "platform/FileNames.h"
#include "runtime/SysUtils.h"

#include <span>

TArchiverDll& Unzip32Dll()
{
    static TArchiverDll dll("UNZIP32.DLL");
    return dll;
}

TArchiverDll& Zip32jDll()
{
    static TArchiverDll dll("ZIP32J.DLL");
    return dll;
}

TArchiverDll& Lmzip32Dll()
{
    static TArchiverDll dll("LMZIP32.DLL");
    return dll;
}

bool LoadZipLibraries()
{
    const bool unzip = Unzip32Dll().Load();
    const bool zip = Zip32jDll().Load();
    const bool lmzip = Lmzip32Dll().Load();
    return unzip || zip || lmzip;
}

namespace {

// The libraries an entry is looked up in, in order.
std::span<TArchiverDll* const> searchOrder(const std::string& entry)
{
    static TArchiverDll* const listing[] = {&Lmzip32Dll(), &Zip32jDll(), &Unzip32Dll()};
    static TArchiverDll* const reading[] = {&Unzip32Dll(), &Lmzip32Dll(), &Zip32jDll()};
    static TArchiverDll* const command[] = {&Unzip32Dll(), &Lmzip32Dll()};
    static TArchiverDll* const creation[] = {&Zip32jDll(), &Lmzip32Dll()};
    static TArchiverDll* const owner[] = {&Unzip32Dll()};
    auto list = [](auto& array) { return std::span<TArchiverDll* const>(array); };
    if (entry == "UnZipOpenArchive" || entry == "UnZipCloseArchive" || entry == "UnZipFindFirst" ||
        entry == "UnZipFindNext")
        return list(listing);
    if (entry == "UnZipCheckArchive" || entry == "UnZipExtractMem")
        return list(reading);
    if (entry == "UnZip")
        return list(command);
    if (entry == "Zip")
        return list(creation);
    return list(owner);
}

} // namespace

void* FindZipEntry(const std::string& entry)
{
    for (TArchiverDll* dll : searchOrder(entry)) {
        if (!dll->Loaded())
            continue;
        std::string name = entry;
        if (dll == &Lmzip32Dll() && name.compare(0, 5, "UnZip") == 0)
            name[2] = 'z';
        if (void* address = dll->Find(name))
            return address;
    }
    return nullptr;
}

void* ZipEntry(const std::string& entry)
{
    if (void* address = FindZipEntry(entry))
        return address;
    throw EArchiver(entry + " のエントリが見つかりません。");
}

std::string ZipNameFilter(const std::string& name)
{
    std::string out;
    for (char ch : name) {
        if (ch == '\\')
            out += '/';
        else if (ch == '[')
            out += "[[]";
        else
            out += ch;
    }
    return out;
}

TZip32::TZip32()
{
    TZip32::LoadDLL();
}

void TZip32::LoadDLL()
{
    if (!LoadZipLibraries())
        throw EArchiver("ZIP 形式書庫を解凍するには UNZIP32.DLL が、作成するには ZIP32J.DLL が必要です。");
}

void TZip32::FreeDLL()
{
    Unzip32Dll().Free();
    Zip32jDll().Free();
    Lmzip32Dll().Free();
}

std::string TZip32::ExtractText(const std::string& archive, bool useResFile, const TFileList& files,
                                const std::string& folder, const TArchiverOptions& o) const
{
    TCmdOpt b;
    b.NameFilter = ZipNameFilter;
    b.AddFlag("o", o.c == 1);
    b.AddFlag("-i", o.n > 0 || OwnerWindow != 0);
    b.AddFlag("j", o.x == 0);
    b.Add(o.UserOptions);
    b.AddArchiveAndFolder(archive, folder);
    b.AddFileList(o, useResFile, FileListItems(files));
    return b.Text;
}

std::string TZip32::Zip32jText(const std::string& archive, bool useResFile, const TFileList& files,
                               const std::string& folder, const TArchiverOptions& o)
{
    TCmdOpt b;
    b.NameFilter = ZipNameFilter;
    b.AddFlag("S", o.a > 0);
    b.AddFlag("D", o.a < 2);
    b.AddFlag("v", o.l > 0);
    b.AddFlag("q", o.n > 0);
    b.AddFlag("r", o.r > 0);
    b.AddFlag("o", o.n > 0);
    b.AddFlag("u", o.u > 0);
    b.AddFlag("j", o.x == 0);
    b.AddFlag("FF", o.jc > 0);
    b.AddFlag("k", o.ji > 0);
    b.AddInt("", o.jm);
    b.AddFlag("J", o.gd > 0);
    b.Add(o.UserOptions);
    b.AddArchiveAndFolder(archive, folder);
    b.AddFileList(o, useResFile, FileListItems(files));
    return b.Text;
}

int TZip32::RunZip(const std::string& entry, HWND owner, const std::string& commandLine, TOutputBuffer& output)
{
    CommandLine = commandLine;
    auto command = reinterpret_cast<ARC_COMMAND>(ZipEntry(entry));
    return command(owner, CommandLine.c_str(), output.empty() ? nullptr : output.data(),
                   static_cast<int>(output.size()));
}

int TZip32::Extract(HWND owner, const std::string& archive, TOutputBuffer& output, bool useResFile,
                    const TFileList& files, const std::string& folder, const TArchiverOptions& o)
{
    TZip32::LoadDLL();
    if (!Unzip32Dll().Loaded() && !Lmzip32Dll().Loaded())
        throw EArchiver("ZIP 形式書庫の解凍には UNZIP32.DLL または LMZIP32.DLL が必要です。");
    return RunZip("UnZip", owner, "-x" + ExtractText(archive, useResFile, files, folder, o), output);
}

namespace {

const char* const needCreator = "ZIP 形式書庫の作成には ZIP32J.DLL または LMZIP32.DLL が必要です。";

} // namespace

int TZip32::Pack(HWND owner, const std::string& archive, TOutputBuffer& output, bool useResFile,
                 const TFileList& files, const std::string& folder, const TArchiverOptions& o)
{
    TZip32::LoadDLL();
    if (Zip32jDll().Loaded())
        return RunZip("Zip", owner, Zip32jText(archive, useResFile, files, folder, o), output);
    if (!Lmzip32Dll().Loaded())
        throw EArchiver(needCreator);
    TCmdOpt b;
    b.AddFlag("o", o.c == 1);
    b.AddFlag("j", o.x == 0);
    b.Add(o.UserOptions);
    b.AddStr("", archive);
    b.AddFileList(o, useResFile, FileListItems(files));
    DeleteFile(archive);
    CommandLine = "-ru" + b.Text;
    auto command = Lmzip32Dll().EntryAs<ARC_COMMAND>("Zip");
    return command(owner, CommandLine.c_str(), output.empty() ? nullptr : output.data(),
                   static_cast<int>(output.size()));
}

int TZip32::RemoveItems(HWND owner, const std::string& archive, TOutputBuffer& output, bool useResFile,
                        const TFileList& files, const std::string&, const TArchiverOptions& o)
{
    TZip32::LoadDLL();
    return RunZip("Zip", owner, "-d" + Zip32jText(archive, useResFile, files, "", o), output);
}

int TZip32::UpdateItems(HWND owner, const std::string& archive, TOutputBuffer& output, bool useResFile,
                        const TFileList& files, const std::string& folder, const TArchiverOptions& o)
{
    TZip32::LoadDLL();
    return RunZip("Zip", owner, "-f" + Zip32jText(archive, useResFile, files, folder, o), output);
}

int TZip32::MakeSfx(HWND owner, const std::string& archive, TOutputBuffer& output, const std::string& folder,
                    const TArchiverOptions& o)
{
    TZip32::LoadDLL();
    if (!Zip32jDll().Loaded())
        throw EArchiver("ZIP 形式書庫からの自己解凍書庫作成には ZIP32J.DLL が必要です。");
    const bool windowed = o.gw > 0;
    const std::string stub = FindStub(windowed ? "sfx32gui.dat" : "sfx16.dat");
    if (stub.empty())
        throw EArchiver(windowed ? "zip 書庫からのWin32自己解凍書庫の作成には sfx32gui.dat が必要です。"
                                 : "zip 書庫からのDOS自己解凍書庫の作成には sfx16.dat が必要です。");
    const std::string sfx = SfxOutputName(archive, folder);
    WriteSelfExtracting(stub, archive, sfx);
    return RunZip("Zip", owner, "-A " + sfx, output);
}

int TZip32::ExtractMem(HWND owner, const std::string& archive, char* buffer, int size, int& written,
                       const std::string& member, const TArchiverOptions& o)
{
    TZip32::LoadDLL();
    return ExtractMemWith(ZipEntry("UnZipExtractMem"), owner, ExtractText(archive, false, {member}, "", o), buffer,
                          size, written);
}

int TZip32::CheckArchive(const std::string& path, int mode1, int)
{
    TZip32::LoadDLL();
    auto check = reinterpret_cast<ARC_CHECKARCHIVE>(ZipEntry("UnZipCheckArchive"));
    return check(path.c_str(), mode1);
}

HARC TZip32::OpenArchive(HWND owner, const std::string& path, int mode)
{
    TZip32::LoadDLL();
    auto open = reinterpret_cast<ARC_OPENARCHIVE>(ZipEntry("UnZipOpenArchive"));
    return open(owner, ExpandFileName(path).c_str(), mode);
}

int TZip32::FindFirst(HARC archive, const std::string& wildName, void* info)
{
    TZip32::LoadDLL();
    auto find = reinterpret_cast<ARC_FINDFIRST>(ZipEntry("UnZipFindFirst"));
    return find(archive, wildName.c_str(), static_cast<INDIVIDUALINFO*>(info));
}

int TZip32::FindNext(HARC archive, void* info)
{
    TZip32::LoadDLL();
    auto find = reinterpret_cast<ARC_FINDNEXT>(ZipEntry("UnZipFindNext"));
    return find(archive, static_cast<INDIVIDUALINFO*>(info));
}

int TZip32::CloseArchive(HARC archive)
{
    TZip32::LoadDLL();
    auto close = reinterpret_cast<ARC_CLOSEARCHIVE>(ZipEntry("UnZipCloseArchive"));
    return close(archive);
}

void TZip32::ReloadDLL()
{
    try {
        TZip32::LoadDLL();
    } catch (const EArchiver&) {
    }
    if (!Zip32jDll().Loaded() && !Lmzip32Dll().Loaded())
        throw EArchiver(needCreator);
}

bool TZip32::SetOwnerWindow(HWND window)
{
    OwnerWindow = window;
    auto set = reinterpret_cast<ARC_SETOWNERWINDOWEX>(ZipEntry("UnZipSetOwnerWindowEx"));
    return set(window, nullptr) != 0;
}

bool TZip32::KillOwnerWindow(HWND window)
{
    struct Forget {
        HWND& owner;
        ~Forget() { owner = 0; }
    } forget{OwnerWindow};
    auto kill = reinterpret_cast<ARC_KILLOWNERWINDOWEX>(ZipEntry("UnZipKillOwnerWindowEx"));
    return kill(window) != 0;
}
