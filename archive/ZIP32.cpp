#include "archive/ZIP32.h"

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

int TZip32::Extract(HWND owner, const std::string& archive, TOutputBuffer& output, bool useResFile,
                    const TFileList& files, const std::string& folder, const TArchiverOptions& o)
{
    TZip32::LoadDLL();
    if (!Unzip32Dll().Loaded() && !Lmzip32Dll().Loaded())
        throw EArchiver("ZIP 形式書庫の解凍には UNZIP32.DLL または LMZIP32.DLL が必要です。");
    TCmdOpt b;
    b.NameFilter = ZipNameFilter;
    b.AddFlag("o", o.c == 1);
    b.AddFlag("-i", o.n > 0 || OwnerWindow != 0);
    b.AddFlag("j", o.x == 0);
    b.Add(o.UserOptions);
    b.AddArchiveAndFolder(archive, folder);
    b.AddFileList(o, useResFile, FileListItems(files));
    CommandLine = "-x" + b.Text;
    auto command = reinterpret_cast<ARC_COMMAND>(ZipEntry("UnZip"));
    return command(owner, CommandLine.c_str(), output.empty() ? nullptr : output.data(),
                   static_cast<int>(output.size()));
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
