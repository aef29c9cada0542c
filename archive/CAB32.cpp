#include "archive/CAB32.h"

#include "runtime/SysUtils.h"

TArchiverDll& Cab32Dll()
{
    static TArchiverDll dll("CAB32.DLL");
    return dll;
}

TCab32::TCab32()
{
    TCab32::LoadDLL();
}

void TCab32::LoadDLL()
{
    LoadOrRaise(Cab32Dll(), "CAB 形式書庫を扱うには CAB32.DLL が 必要です。");
}

void TCab32::FreeDLL()
{
    Cab32Dll().Free();
}

std::string TCab32::Text(const std::string& archive, bool useResFile, const TFileList& files,
                         const std::string& folder, const TArchiverOptions& o) const
{
    TCmdOpt b;
    b.AddFlag("o", o.c == 1);
    b.AddFlag("i", o.n > 0 || OwnerWindow != 0);
    b.AddFlag("r", o.r > 0);
    b.AddFlag("j", o.x == 0);
    b.AddFlag("q", o.ji > 0);
    b.Add(o.UserOptions);
    b.AddArchiveAndFolder(ExpandFileName(archive), folder);
    b.AddFileList(o, useResFile, FileListItems(files));
    return b.Text;
}

int TCab32::Extract(HWND owner, const std::string& archive, TOutputBuffer& output, bool, const TFileList& files,
                    const std::string& folder, const TArchiverOptions& o)
{
    TCab32::LoadDLL();
    return RunCommand(Cab32Dll(), "Cab", owner, "-x" + Text(archive, o.ResFileUsage.Contains(ruOnUnpack), files, folder, o),
                      output);
}

int TCab32::Pack(HWND owner, const std::string& archive, TOutputBuffer& output, bool, const TFileList& files,
                 const std::string& folder, const TArchiverOptions& o)
{
    TCab32::LoadDLL();
    return RunCommand(Cab32Dll(), "Cab", owner, "-a" + Text(archive, o.ResFileUsage.Contains(ruOnPack), files, folder, o),
                      output);
}

int TCab32::MakeSfx(HWND owner, const std::string& archive, TOutputBuffer& output, const std::string& folder,
                    const TArchiverOptions& o)
{
    TCab32::LoadDLL();
    return RunCommand(Cab32Dll(), "Cab", owner, "-f" + Text(archive, false, {}, folder, o), output);
}

int TCab32::ExtractMem(HWND owner, const std::string& archive, char* buffer, int size, int& written,
                       const std::string& member, const TArchiverOptions& o)
{
    TCab32::LoadDLL();
    return ExtractMemWith(Cab32Dll().Entry("CabExtractMem"), owner, Text(archive, false, {member}, "", o), buffer, size,
                          written);
}

ARCHIVER_LISTING_DEF(TCab32, Cab32Dll(), "Cab")

bool TCab32::SetOwnerWindow(HWND window)
{
    return SetOwnerWindowIn(Cab32Dll(), "Cab", window);
}

bool TCab32::KillOwnerWindow(HWND window)
{
    return KillOwnerWindowIn(Cab32Dll(), "Cab", window);
}
