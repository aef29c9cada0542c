#include "archive/LHA32.h"

TArchiverDll& Unlha32Dll()
{
    static TArchiverDll dll("UNLHA32.DLL");
    return dll;
}

TLha32::TLha32()
{
    TLha32::LoadDLL();
}

void TLha32::LoadDLL()
{
    LoadOrRaise(Unlha32Dll(), "Lha 形式書庫を扱うには UNLHA32.DLL が 必要です。");
}

void TLha32::FreeDLL()
{
    Unlha32Dll().Free();
}

std::string TLha32::BuildCommand(const std::string& archive, bool useResFile, const TFileList& files,
                                 const std::string& folder, const TArchiverOptions& o, bool ownerSet)
{
    TCmdOpt b;
    b.Add("-+");
    b.AddInt("a", o.a);
    b.AddInt("c", o.c);
    b.AddInt("e", o.e);
    b.AddInt("f", o.f);
    b.AddInt("h", o.h);
    b.AddInt("i", o.i);
    b.AddInt("l", o.l);
    b.AddInt("m", o.m);
    b.AddInt("n", ownerSet ? 1 : o.n);
    b.AddInt("o", o.o);
    b.AddInt("p", o.p);
    b.AddInt("r", o.r);
    b.AddInt("s", o.s);
    b.AddInt("t", o.t);
    b.AddInt("u", o.u);
    b.AddDir("w", o.w);
    b.AddInt("x", o.x);
    b.AddInt("y", o.y);
    b.AddInt("z", o.z);
    b.AddInt("jc", o.jc);
    b.AddInt("jd", o.jd);
    b.AddInt("je", o.je);
    b.AddInt("jf", o.jf);
    b.AddInt("jh", o.jh);
    b.AddInt("ji", o.ji);
    b.AddInt("jm", o.jm);
    b.AddInt("jn", o.jn);
    b.AddStr("jo", o.jo);
    b.AddStr("job", o.job);
    b.AddInt("jp", o.jp);
    b.AddInt("jr", o.jr);
    b.AddInt("jss", o.jss);
    b.AddInt("jw", o.jw);
    b.AddFiles("jx", o.jx.Lines());
    b.AddInt("jyc", o.jyc);
    b.AddInt("jyd", o.jyd);
    b.AddInt("jyk", o.jyk);
    b.AddInt("jyn", o.jyn);
    b.AddInt("jyo", o.jyo);
    b.AddStr("jz", o.jz);
    b.AddInt("ga", o.ga);
    b.AddInt("gd", o.gd);
    b.AddInt("ge", o.ge);
    b.AddInt("gf", o.gf);
    b.AddInt("gj", o.gj);
    b.AddInt("gm", o.gm);
    b.AddInt("gn", o.gn);
    b.AddInt("go", o.go);
    b.AddInt("gp", o.gp);
    b.AddStr("gr", o.gr);
    b.AddInt("gs", o.gs);
    b.AddInt("gu", o.gu);
    b.AddInt("gw", o.gw);
    b.Add(o.UserOptions);
    b.AddArchiveAndFolder(archive, folder);
    b.AddFileList(o, useResFile, FileListItems(files));
    return b.Text;
}

int TLha32::RunLha(const std::string& word, HWND owner, const std::string& archive, TOutputBuffer& output,
                   bool useResFile, const TFileList& files, const std::string& folder, const TArchiverOptions& options)
{
    TLha32::LoadDLL();
    const std::string text = BuildCommand(archive, useResFile, files, folder, options, OwnerWindow != 0);
    return RunCommand(Unlha32Dll(), "Unlha", owner, word + text, output);
}

int TLha32::Extract(HWND owner, const std::string& archive, TOutputBuffer& output, bool, const TFileList& files,
                    const std::string& folder, const TArchiverOptions& o)
{
    return RunLha("x", owner, archive, output, o.ResFileUsage.Contains(ruOnUnpack), files, folder, o);
}

int TLha32::Pack(HWND owner, const std::string& archive, TOutputBuffer& output, bool, const TFileList& files,
                 const std::string& folder, const TArchiverOptions& o)
{
    return RunLha("u", owner, archive, output, o.ResFileUsage.Contains(ruOnPack), files, folder, o);
}

int TLha32::RemoveItems(HWND owner, const std::string& archive, TOutputBuffer& output, bool, const TFileList& files,
                        const std::string&, const TArchiverOptions& o)
{
    return RunLha("d", owner, archive, output, o.ResFileUsage.Contains(ruOnRemoveItem), files, "", o);
}

int TLha32::UpdateItems(HWND owner, const std::string& archive, TOutputBuffer& output, bool, const TFileList& files,
                        const std::string& folder, const TArchiverOptions& o)
{
    return RunLha("f", owner, archive, output, o.ResFileUsage.Contains(ruOnUpdate), files, folder, o);
}

int TLha32::MakeSfx(HWND owner, const std::string& archive, TOutputBuffer& output, const std::string& folder,
                    const TArchiverOptions& o)
{
    return RunLha("s", owner, archive, output, false, {}, folder, o);
}

int TLha32::ExtractMem(HWND owner, const std::string& archive, char* buffer, int size, int& written,
                       const std::string& member, const TArchiverOptions& o)
{
    TLha32::LoadDLL();
    const std::string text = BuildCommand(archive, false, {member}, "", o, OwnerWindow != 0);
    return ExtractMemWith(Unlha32Dll().Entry("UnlhaExtractMem"), owner, text, buffer, size, written);
}

ARCHIVER_LISTING_DEF(TLha32, Unlha32Dll(), "Unlha")

bool TLha32::SetOwnerWindow(HWND window)
{
    return SetOwnerWindowIn(Unlha32Dll(), "Unlha", window);
}

bool TLha32::KillOwnerWindow(HWND window)
{
    return KillOwnerWindowIn(Unlha32Dll(), "Unlha", window);
}
