#include "archive/RAR32.h"

TArchiverDll& Unrar32Dll()
{
    static TArchiverDll dll("UNRAR32.DLL");
    return dll;
}

TRar32::TRar32()
{
    TRar32::LoadDLL();
}

void TRar32::LoadDLL()
{
    LoadOrRaise(Unrar32Dll(), "この機能の使用には UNRAR32.DLL が 必要です。");
}

void TRar32::FreeDLL()
{
    Unrar32Dll().Free();
}

std::string TRar32::Text(const std::string& archive, bool useResFile, const TFileList& files,
                         const std::string& folder, const TArchiverOptions& o) const
{
    TCmdOpt b;
    b.AddFlag("u", o.c <= 0);
    b.AddFlag("y", o.m > 0);
    b.AddFlag("s", o.p > 0);
    b.Add(o.UserOptions);
    b.AddArchiveAndFolder(archive, folder);
    b.AddFileList(o, useResFile, FileListItems(files));
    return b.Text;
}

int TRar32::Extract(HWND owner, const std::string& archive, TOutputBuffer& output, bool, const TFileList& files,
                    const std::string& folder, const TArchiverOptions& o)
{
    TRar32::LoadDLL();
    return RunCommand(Unrar32Dll(), "Unrar", owner,
                      (o.x != 0 ? "-x" : "-e") + Text(archive, o.ResFileUsage.Contains(ruOnUnpack), files, folder, o),
                      output);
}

int TRar32::ExtractMem(HWND owner, const std::string& archive, char* buffer, int size, int& written,
                       const std::string& member, const TArchiverOptions& o)
{
    TRar32::LoadDLL();
    return ExtractMemWith(Unrar32Dll().Entry("UnrarExtractMem"), owner, Text(archive, false, {member}, "", o), buffer,
                          size, written);
}

ARCHIVER_LISTING_DEF(TRar32, Unrar32Dll(), "Unrar")

bool TRar32::SetOwnerWindow(HWND window)
{
    return SetOwnerWindowIn(Unrar32Dll(), "Unrar", window);
}

bool TRar32::KillOwnerWindow(HWND window)
{
    return KillOwnerWindowIn(Unrar32Dll(), "Unrar", window);
}
