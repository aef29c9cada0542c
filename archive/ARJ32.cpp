#include "archive/ARJ32.h"

TArchiverDll& Unarj32Dll()
{
    static TArchiverDll dll("UNARJ32J.DLL");
    return dll;
}

TArj32::TArj32() : TLha32(NoLoad{})
{
    TArj32::LoadDLL();
}

void TArj32::LoadDLL()
{
    LoadOrRaise(Unarj32Dll(), "ARJ 形式書庫を扱うには UNARJ32J.DLL が 必要です。");
}

void TArj32::FreeDLL()
{
    Unarj32Dll().Free();
}

int TArj32::Extract(HWND owner, const std::string& archive, TOutputBuffer& output, bool useResFile,
                    const TFileList& files, const std::string& folder, const TArchiverOptions& options)
{
    TArj32::LoadDLL();
    const std::string text = BuildCommand(archive, useResFile, files, folder, options, OwnerWindow != 0);
    return RunCommand(Unarj32Dll(), "Unarj", owner, "x" + text, output);
}

ARCHIVER_LISTING_DEF(TArj32, Unarj32Dll(), "Unarj")

// The LHA library is told as well, as the LHA back-end does; when it is
// not loaded (an ARJ back-end loads only its own library) that part fails,
// and the failure must not keep the ARJ library from being told.
bool TArj32::SetOwnerWindow(HWND window)
{
    try {
        TLha32::SetOwnerWindow(window);
    } catch (const EArchiver&) {
    }
    return SetOwnerWindowIn(Unarj32Dll(), "Unarj", window);
}

bool TArj32::KillOwnerWindow(HWND window)
{
    const bool told = KillOwnerWindowIn(Unarj32Dll(), "Unarj", window);
    try {
        TLha32::KillOwnerWindow(window);
    } catch (const EArchiver&) {
    }
    return told;
}
