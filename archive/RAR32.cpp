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

int TRar32::Extract(HWND owner, const std::string& archive, TOutputBuffer& output, bool, const TFileList& files,
                    const std::string& folder, const TArchiverOptions& o)
{
    TRar32::LoadDLL();
    TCmdOpt b;
    b.AddFlag("u", o.c <= 0);
    b.AddFlag("y", o.m > 0);
    b.AddFlag("s", o.p > 0);
    b.Add(o.UserOptions);
    b.AddArchiveAndFolder(archive, folder);
    b.AddFileList(o, o.ResFileUsage.Contains(ruOnUnpack), FileListItems(files));
    return RunCommand(Unrar32Dll(), "Unrar", owner, (o.x != 0 ? "-x" : "-e") + b.Text, output);
}

bool TRar32::SetOwnerWindow(HWND window)
{
    return SetOwnerWindowIn(Unrar32Dll(), "Unrar", window);
}

bool TRar32::KillOwnerWindow(HWND window)
{
    return KillOwnerWindowIn(Unrar32Dll(), "Unrar", window);
}
