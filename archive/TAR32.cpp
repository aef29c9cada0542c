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

int TTar32::Extract(HWND owner, const std::string& archive, TOutputBuffer& output, bool, const TFileList& files,
                    const std::string& folder, const TArchiverOptions& o)
{
    TTar32::LoadDLL();
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
    b.AddFileList(o, o.ResFileUsage.Contains(ruOnUnpack), FileListItems(files));
    // The original brings a nonzero owner window to the foreground here; the
    // owner is a hidden window, which has no foreground.
    return RunCommand(Tar32Dll(), "Tar", owner, "x" + b.Text, output);
}

bool TTar32::SetOwnerWindow(HWND window)
{
    return SetOwnerWindowIn(Tar32Dll(), "Tar", window);
}

bool TTar32::KillOwnerWindow(HWND window)
{
    return KillOwnerWindowIn(Tar32Dll(), "Tar", window);
}
