// Archives that try to write outside the destination folder, damaged and
// truncated archives, and files that are no archives at all.
#include "ArchiverHarness.h"

#include <archive.h>
#include <archive_entry.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

namespace fs = std::filesystem;

namespace {

// A destination inside a sandbox, with a sibling folder standing for
// "outside"; nothing may ever appear there.
struct Sandbox {
    TempDir root;
    std::string dest = root / "dest";
    std::string outside = root / "outside";
    Sandbox() { Shell(root.path(), "mkdir -p dest outside"); }
};

struct TarEntry {
    std::string name;
    char type; // 'f' file, 'l' symbolic link, 'h' hard link
    std::string content; // data or link target
};

// Archives no tar program would write, made with libarchive.
void WriteTar(const std::string& path, const std::vector<TarEntry>& entries)
{
    archive* a = archive_write_new();
    archive_write_set_format_pax_restricted(a);
    archive_write_open_filename(a, path.c_str());
    for (auto& t : entries) {
        archive_entry* e = archive_entry_new();
        archive_entry_set_pathname(e, t.name.c_str());
        archive_entry_set_perm(e, 0644);
        if (t.type == 'l') {
            archive_entry_set_filetype(e, AE_IFLNK);
            archive_entry_set_symlink(e, t.content.c_str());
        } else {
            archive_entry_set_filetype(e, AE_IFREG);
            if (t.type == 'h')
                archive_entry_set_hardlink(e, t.content.c_str());
            else
                archive_entry_set_size(e, static_cast<la_int64_t>(t.content.size()));
        }
        archive_write_header(a, e);
        if (t.type == 'f')
            archive_write_data(a, t.content.data(), t.content.size());
        archive_entry_free(e);
    }
    archive_write_close(a);
    archive_write_free(a);
}

} // namespace

TEST(Safety, LinkChainsAndHardLinksCannotReachOutside)
{
    Sandbox box;
    TempDir work;
    WriteFile(box.outside + "/secret.txt", "secret");
    // A file of the destination that shares its data with one outside.
    ASSERT_EQ(link((box.outside + "/secret.txt").c_str(), (box.dest + "/shared.txt").c_str()), 0);
    WriteTar(work / "t.tar", {
                                 {"sub/up", 'l', ".."},                      // inside: fine
                                 {"a", 'l', "sub/up/.."},                    // climbs out through sub/up
                                 {"h", 'h', "a/outside/secret.txt"},         // hard link through it
                                 {"h", 'f', "pwned"},
                                 {"shared.txt", 'f', "replaced"},
                                 {"sub/up/through.txt", 'f', "written through a link"},
                             });
    std::string log;
    EXPECT_EQ(Tar().Run(TarExtractLine(work / "t.tar", box.dest), &log), ARCERR_UNSAFE) << log;
    EXPECT_EQ(ReadFile(box.outside + "/secret.txt"), "secret");
    EXPECT_EQ(ReadFile(box.dest + "/shared.txt"), "replaced");
    EXPECT_EQ(ReadFile(box.dest + "/h"), "pwned");
    EXPECT_FALSE(Exists(box.dest + "/a"));
    EXPECT_FALSE(Exists(box.dest + "/through.txt"));
    EXPECT_EQ(TreeOf(box.outside).size(), 1u);
}

TEST(Safety, TarMembersLeavingTheDestinationAreRefused)
{
    Sandbox box;
    TempDir src;
    Shell(src.path(), "mkdir -p a/real && echo ok > a/good.txt && echo bad > a/real/x && echo abs > abs.txt");
    Shell(src.path(), "ln -s ../../outside a/escape && ln -s /etc a/etc && ln -s good.txt a/fine");
    // ../evil via an absolute-names archive, /abs, links out, a file through the link.
    ASSERT_EQ(Shell(src.path() + "/a", "tar cPf " + Quote(src / "t.tar") + " good.txt ../abs.txt " +
                                            Quote(src / "abs.txt") + " escape etc fine"),
              0);
    ASSERT_EQ(Shell(src.path() + "/a", "tar rf " + Quote(src / "t.tar") + " --transform 's,^real,escape,r' real/x"), 0);
    std::string log;
    EXPECT_EQ(Tar().Run(TarExtractLine(src / "t.tar", box.dest), &log), ARCERR_UNSAFE) << log;
    EXPECT_EQ(ReadFile(box.dest + "/good.txt"), "ok\n");
    EXPECT_EQ(TreeOf(box.outside), Tree{});
    EXPECT_FALSE(Exists(box.root / "abs.txt"));
    // The link was refused; the later member made a real folder of that name.
    struct stat st {};
    EXPECT_TRUE(lstat((box.dest + "/escape").c_str(), &st) != 0 || !S_ISLNK(st.st_mode));
    EXPECT_FALSE(Exists(box.dest + "/etc"));
    char target[64] = {};
    ASSERT_GT(readlink((box.dest + "/fine").c_str(), target, sizeof target - 1), 0);
    EXPECT_STREQ(target, "good.txt");
}

TEST(Safety, ZipNamesAndLinksLeavingTheDestinationAreRefused)
{
    Sandbox box;
    TempDir work;
    std::string script = "import zipfile\n"
                         "z = zipfile.ZipFile('a.zip', 'w')\n"
                         "z.writestr('good.txt', 'ok')\n"
                         "z.writestr('../outside/evil.txt', 'bad')\n"
                         "z.writestr('/tmp/fetchlet-abs-evil.txt', 'bad')\n"
                         "z.writestr('sub\\\\..\\\\..\\\\outside\\\\win.txt', 'bad')\n"
                         "i = zipfile.ZipInfo('link')\n"
                         "i.external_attr = 0o120777 << 16\n"
                         "z.writestr(i, '../outside')\n"
                         "z.writestr('last.txt', 'still here')\n"
                         "z.close()\n";
    WriteFile(work / "mk.py", script);
    ASSERT_EQ(Shell(work.path(), "python3 mk.py"), 0);
    std::string log;
    EXPECT_EQ(Unzip().Run("-x  \"" + (work / "a.zip") + "\" \"" + box.dest + "/\" ", &log), ARCERR_UNSAFE) << log;
    EXPECT_EQ(ReadFile(box.dest + "/good.txt"), "ok");
    EXPECT_EQ(ReadFile(box.dest + "/last.txt"), "still here");
    EXPECT_EQ(TreeOf(box.outside), Tree{});
    EXPECT_FALSE(Exists("/tmp/fetchlet-abs-evil.txt"));
    EXPECT_FALSE(Exists(box.dest + "/link"));
}

TEST(Safety, ExistingLinkInTheDestinationIsNotFollowed)
{
    Sandbox box;
    TempDir src, work;
    Shell(box.dest, "ln -s ../outside sub && ln -s ../outside/target.txt file.txt");
    Shell(src.path(), "mkdir sub && echo bad > sub/x.txt && echo new > file.txt");
    ASSERT_EQ(Shell(src.path(), "zip -q -r " + Quote(work / "a.zip") + " sub file.txt"), 0);
    std::string log;
    EXPECT_EQ(Unzip().Run("-x  \"" + (work / "a.zip") + "\" \"" + box.dest + "/\" ", &log), ARCERR_UNSAFE) << log;
    EXPECT_EQ(TreeOf(box.outside), Tree{});
    // A link standing where a file goes is replaced, not written through.
    EXPECT_EQ(ReadFile(box.dest + "/file.txt"), "new\n");
}

TEST(Safety, ArjBgaAndLzhNamesLeavingTheDestinationAreRefused)
{
    Sandbox box;
    TempDir work;
    WriteFile(work / "a.arj", MakeStoredArj({{"good.txt", "ok"}, {"..\\outside\\evil.txt", "bad"},
                                             {"/tmp/fetchlet-abs-arj.txt", "bad"}, {"last.txt", "end"}}));
    WriteFile(work / "a.gza", MakeBga({{"", "good.txt", "ok"}, {"..\\outside\\", "evil.txt", "bad"},
                                       {"", "last.txt", "end"}}));
    WriteFile(work / "a.lzh", MakeStoredLzh({{"good.txt", "ok"}, {"..\\outside\\evil.txt", "bad"},
                                             {"last.txt", "end"}}));
    struct {
        ArchiverLib& lib;
        std::string archive;
    } cases[] = {{Unarj(), work / "a.arj"}, {Bga(), work / "a.gza"}, {Unlha(), work / "a.lzh"}};
    for (auto& c : cases) {
        SCOPED_TRACE(c.archive);
        Shell(box.dest, "rm -rf ./*");
        std::string log;
        EXPECT_EQ(c.lib.Run(ExtractLine(c.archive, box.dest), &log), ARCERR_UNSAFE) << log;
        EXPECT_EQ(ReadFile(box.dest + "/good.txt"), "ok");
        EXPECT_EQ(ReadFile(box.dest + "/last.txt"), "end");
        EXPECT_EQ(TreeOf(box.outside), Tree{});
    }
    EXPECT_FALSE(Exists("/tmp/fetchlet-abs-arj.txt"));
}

TEST(Safety, NamesWithNulAndHardLinksToLinksCannotReachOutside)
{
    // The system reads a name up to its NUL: "..\0z" would be "..".
    Sandbox box;
    TempDir work;
    const std::string nul("..\0z\\", 5);
    WriteFile(work / "n.gza", MakeBga({{"", "good.txt", "ok"}, {nul, "pwned.txt", "bad", false, 2},
                                       {nul + nul, "deeper.txt", "bad", false, 2}}));
    std::string log;
    EXPECT_EQ(Bga().Run(ExtractLine(work / "n.gza", box.dest + "/in"), &log), ARCERR_UNSAFE) << log;
    EXPECT_EQ(ReadFile(box.dest + "/in/good.txt"), "ok");
    EXPECT_EQ(TreeOf(box.root.path()).count("dest/pwned.txt"), 0u);
    EXPECT_FALSE(Exists(box.root / "pwned.txt"));
    EXPECT_FALSE(Exists(box.root / "deeper.txt"));

    // A link that stays inside where it lies, hard-linked to a place
    // where the same target leads outside; an existing file of that name
    // stays as it was.
    Shell(box.dest, "rm -rf ./* && echo mine > t");
    WriteTar(work / "h.tar", {{"a/b/s", 'l', "../../x"}, {"t", 'h', "a/b/s"}, {"u", 'h', "a/b/s"}});
    EXPECT_EQ(Tar().Run(TarExtractLine(work / "h.tar", box.dest), &log), ARCERR_UNSAFE) << log;
    EXPECT_TRUE(fs::is_symlink(box.dest + "/a/b/s"));
    EXPECT_EQ(ReadFile(box.dest + "/t"), "mine\n");
    EXPECT_FALSE(fs::is_symlink(box.dest + "/t"));
    EXPECT_FALSE(Exists(box.dest + "/u"));
    EXPECT_FALSE(fs::is_symlink(box.dest + "/u"));
}

TEST(Safety, DamagedAndTruncatedArchivesFailWithoutLosingEarlierMembers)
{
    TempDir src, work;
    WriteFile(src / "first.txt", std::string(20000, 'a') + "first");
    std::string second;
    for (int i = 0; i < 300000; ++i)
        second += static_cast<char>('a' + (static_cast<unsigned>(i) * 7919u % 26u));
    WriteFile(src / "second.txt", second);
    ASSERT_EQ(Shell(src.path(), "zip -q " + Quote(work / "a.zip") + " first.txt second.txt"), 0);
    ASSERT_EQ(Shell(src.path(), "arj a -m1 -y " + Quote(work / "a.arj") + " first.txt second.txt"), 0);
    ASSERT_EQ(Shell(src.path(), "tar czf " + Quote(work / "a.tgz") + " first.txt second.txt"), 0);
    WriteFile(work / "a.gza", MakeBga({{"", "first.txt", ReadFile(src / "first.txt")},
                                       {"", "second.txt", second, true}}));
    struct Case {
        ArchiverLib& lib;
        std::string archive;
        bool tar;
    } cases[] = {{Unzip(), work / "a.zip", false}, {Unarj(), work / "a.arj", false},
                 {Tar(), work / "a.tgz", true},    {Bga(), work / "a.gza", false}};
    for (auto& c : cases) {
        SCOPED_TRACE(c.archive);
        std::string whole = ReadFile(c.archive);
        // Cut inside the second member.
        std::string cut = c.archive + ".cut";
        WriteFile(cut, whole.substr(0, whole.size() * 2 / 3));
        TempDir out;
        std::string log;
        int rc = c.lib.Run(c.tar ? TarExtractLine(cut, out.path()) : ExtractLine(cut, out.path()), &log);
        EXPECT_NE(rc, 0) << log;
        if (!c.tar) { // a compressed tar is one stream; its first member may or may not come out whole
            EXPECT_EQ(ReadFile(out / "first.txt"), ReadFile(src / "first.txt"));
        }
        EXPECT_FALSE(Exists(out / "second.txt")) << "a truncated member must not be left behind";

        // Damage in the middle of the second member's data.
        std::string bad = whole;
        for (size_t i = whole.size() * 3 / 5; i < whole.size() * 3 / 5 + 64; ++i)
            bad[i] = static_cast<char>(bad[i] ^ 0x5A);
        WriteFile(c.archive + ".bad", bad);
        TempDir out2;
        EXPECT_NE(c.lib.Run(c.tar ? TarExtractLine(c.archive + ".bad", out2.path()) : ExtractLine(c.archive + ".bad", out2.path()), &log), 0) << log;
        EXPECT_NE(ReadFile(out2 / "second.txt"), second);
    }
    // The samples of the other kinds, cut short.
    for (auto [file, lib] : {std::pair<const char*, ArchiverLib*>{"lha_lh7.lzh", &Unlha()}, {"cab_3.cab", &Cab()},
                             {"rar.rar", &Unrar()}, {"rar5_compressed.rar", &Unrar()}}) {
        std::string whole = ReadFile(SamplesDir() + "/" + file);
        WriteFile(work / file, whole.substr(0, whole.size() / 2));
        TempDir out;
        EXPECT_NE(lib->Run(ExtractLine(work / file, out.path())), 0) << file;
    }
}

TEST(Safety, WhatIsNoArchiveIsSaidSo)
{
    TempDir work, out;
    WriteFile(work / "junk.bin", std::string(3000, 'j'));
    for (ArchiverLib* lib : {&Unlha(), &Unzip(), &Cab(), &Unarj(), &Unrar(), &Bga()}) {
        EXPECT_EQ(lib->Run(ExtractLine(work / "junk.bin", out.path())), ARCERR_NOT_ARCHIVE) << lib->prefix;
        EXPECT_EQ(lib->Run(ExtractLine(work / "missing.bin", out.path())), ARCERR_OPEN) << lib->prefix;
        EXPECT_EQ(lib->Run("l \"" + (work / "junk.bin") + "\""), ARCERR_COMMAND) << lib->prefix;
        EXPECT_EQ(lib->command(0, nullptr, nullptr, 0), ARCERR_COMMAND);
    }
    EXPECT_EQ(TreeOf(out.path()), Tree{});
}
