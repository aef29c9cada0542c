#include "archive/TAR32.h"

#include "runtime/SysUtils.h"

TArchiverDll& Tar32Dll()
{
    static TArchiverDll dll("tar32.dll");
    return dll;
}

TTar32::TTar32()
{
    TTar32::LoadDLL();
}

void TTar32::LoadDLL()
{
    LoadOrRaise(Tar32Dll(), "tar/tgz/taz/bz2 形式書庫を扱うには tar32.dll が 必要です。");
}

void TTar32::FreeDLL()
{
    Tar32Dll().Free();
}

std::string TTar32::Text(const std::string& archive, bool useResFile, const TFileList& files,
                         const std::string& folder, const TArchiverOptions& o)
{
    TCmdOpt b;
    b.SeparateValue = true;
    b.AddFlag("AH", o.a > 0);
    b.AddFlag("I", o.a == 0);
    b.AddFlag("-display-dialog=0", OwnerWindow == 0 && o.n > 0);
    b.AddFlag("g", o.o > 0);
    b.AddInt("-check-all-path=", o.p);
    b.AddInt("-use-directory=", o.x);
    if (dynamic_cast<TTgz32*>(this))
        b.Add(o.jm >= 1 ? "-z" + IntToStr(o.jm) : std::string("-z"));
    else if (dynamic_cast<TBZ232*>(this))
        b.Add(o.jm >= 1 ? "-B" + IntToStr(o.jm) : std::string("-B"));
    b.Add(o.UserOptions);
    if (!archive.empty())
        b.AddStr("f", archive);
    b.AddDir("o", folder);
    b.AddFileList(o, useResFile, FileListItems(files));
    return b.Text;
}

// The original brings a nonzero owner window to the foreground after each
// "Tar" command; the owner is a hidden window, which has no foreground.
int TTar32::Extract(HWND owner, const std::string& archive, TOutputBuffer& output, bool, const TFileList& files,
                    const std::string& folder, const TArchiverOptions& o)
{
    TTar32::LoadDLL();
    return RunCommand(Tar32Dll(), "Tar", owner, "x" + Text(archive, o.ResFileUsage.Contains(ruOnUnpack), files, folder, o),
                      output);
}

int TTar32::Pack(HWND owner, const std::string& archive, TOutputBuffer& output, bool, const TFileList& files,
                 const std::string& folder, const TArchiverOptions& o)
{
    TTar32::LoadDLL();
    return RunCommand(Tar32Dll(), "Tar", owner, "c" + Text(archive, o.ResFileUsage.Contains(ruOnPack), files, folder, o),
                      output);
}

int TTar32::MakeSfx(HWND, const std::string& archive, TOutputBuffer&, const std::string& folder,
                    const TArchiverOptions&)
{
    if (dynamic_cast<TBZ232*>(this))
        throw EArchiver("BZ2 形式書庫は自己解凍形式にできません。");
    const std::string stub = FindStub("kmtarsef.exe");
    if (stub.empty())
        throw EArchiver("tar/tgz 書庫からの自己解凍書庫の作成には kmtarsef.exe が必要です。");
    WriteSelfExtracting(stub, archive, SfxOutputName(archive, folder));
    return 0;
}

int TTar32::ExtractMem(HWND owner, const std::string& archive, char* buffer, int size, int& written,
                       const std::string& member, const TArchiverOptions& o)
{
    TTar32::LoadDLL();
    return ExtractMemWith(Tar32Dll().Entry("TarExtractMem"), owner, Text(archive, false, {member}, "", o), buffer, size,
                          written);
}

ARCHIVER_LISTING_DEF(TTar32, Tar32Dll(), "Tar")

bool TTar32::SetOwnerWindow(HWND window)
{
    return SetOwnerWindowIn(Tar32Dll(), "Tar", window);
}

bool TTar32::KillOwnerWindow(HWND window)
{
    return KillOwnerWindowIn(Tar32Dll(), "Tar", window);
}
