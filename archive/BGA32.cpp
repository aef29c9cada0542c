#include "archive/BGA32.h"

TArchiverDll& Bga32Dll()
{
    static TArchiverDll dll("BGA32.DLL");
    return dll;
}

TBGA32::TBGA32()
{
    TBGA32::LoadDLL();
}

void TBGA32::LoadDLL()
{
    LoadOrRaise(Bga32Dll(), "Bga 形式書庫を扱うには BGA32.DLL が 必要です。");
}

void TBGA32::FreeDLL()
{
    Bga32Dll().Free();
}

int TBGA32::Run(const std::string& word, HWND owner, const std::string& archive, TOutputBuffer& output,
                bool useResFile, const TFileList& files, const std::string& folder, const TArchiverOptions& o)
{
    TBGA32::LoadDLL();
    TCmdOpt b;
    b.AddFlag("a", o.a > 0);
    b.AddFlag(o.c > 0 ? "o" : "n", true);
    b.AddFlag("i", o.n > 0 || OwnerWindow != 0);
    b.AddFlag("r", o.r > 0);
    b.AddFlag("j", o.x <= 0);
    b.AddInt("l", o.jm);
    b.Add(o.UserOptions);
    b.AddArchiveAndFolder(archive, folder);
    b.AddFileList(o, useResFile, FileListItems(files));
    return RunCommand(Bga32Dll(), "Bga", owner, word + b.Text, output);
}

int TBGA32::Extract(HWND owner, const std::string& archive, TOutputBuffer& output, bool useResFile,
                    const TFileList& files, const std::string& folder, const TArchiverOptions& o)
{
    return Run("x", owner, archive, output, useResFile, files, folder, o);
}

int TBGA32::Pack(HWND owner, const std::string& archive, TOutputBuffer& output, bool useResFile,
                 const TFileList& files, const std::string& folder, const TArchiverOptions& o)
{
    return Run("a", owner, archive, output, useResFile, files, folder, o);
}

int TBGA32::RemoveItems(HWND owner, const std::string& archive, TOutputBuffer& output, bool, const TFileList& files,
                        const std::string&, const TArchiverOptions& o)
{
    return Run("d", owner, archive, output, o.ResFileUsage.Contains(ruOnRemoveItem), files, "", o);
}

// Which response-file rule governs the self-extracting command does not
// matter (the file list is empty); deletion's rule is the one consulted.
int TBGA32::MakeSfx(HWND owner, const std::string& archive, TOutputBuffer& output, const std::string& folder,
                    const TArchiverOptions& o)
{
    return Run("s", owner, archive, output, o.ResFileUsage.Contains(ruOnRemoveItem), {}, folder, o);
}

ARCHIVER_LISTING_DEF(TBGA32, Bga32Dll(), "Bga")

bool TBGA32::SetOwnerWindow(HWND window)
{
    return SetOwnerWindowIn(Bga32Dll(), "Bga", window);
}

bool TBGA32::KillOwnerWindow(HWND window)
{
    return KillOwnerWindowIn(Bga32Dll(), "Bga", window);
}
