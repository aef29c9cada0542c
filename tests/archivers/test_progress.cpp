// Progress messages to the owner window, aborting, and the log buffer.
#include "ArchiverHarness.h"

#include <gtest/gtest.h>

namespace {

constexpr uintptr_t kWindow = 0x5150;

struct OwnerScope {
    ArchiverLib& lib;
    explicit OwnerScope(ArchiverLib& l) : lib(l)
    {
        RecordedProgress().clear();
        AbortOnState(-1);
        EXPECT_NE(lib.setOwner(kWindow, nullptr), 0);
    }
    ~OwnerScope()
    {
        lib.killOwner(kWindow);
        AbortOnState(-1);
    }
};

std::string MakeZip(const TempDir& src, const TempDir& work)
{
    WriteFile(src / "one.txt", "first file\n");
    WriteFile(src / "two.txt", std::string(300000, 't'));
    WriteFile(src / "three.txt", "");
    Shell(src.path(), "zip -q " + Quote(work / "a.zip") + " one.txt two.txt three.txt");
    return work / "a.zip";
}

} // namespace

TEST(Progress, EveryMemberSendsBeginInProcessAndEnd)
{
    TempDir src, work, out;
    std::string zip = MakeZip(src, work);
    {
        OwnerScope owner(Unzip());
        ASSERT_EQ(Unzip().Run("-x --i  \"" + zip + "\" \"" + out.path() + "/\" "), 0);
    }
    auto& rec = RecordedProgress();
    std::vector<std::string> order;
    for (auto& r : rec) {
        EXPECT_EQ(r.window, kWindow);
        EXPECT_EQ(r.message, ArcExtractMessage());
        if (r.state != ARCEXTRACT_INPROCESS || order.empty() || order.back() != r.source + ":1")
            order.push_back(r.source + ":" + std::to_string(r.state));
    }
    EXPECT_EQ(order, (std::vector<std::string>{"one.txt:0", "one.txt:1", "one.txt:2", "two.txt:0", "two.txt:1",
                                                "two.txt:2", "three.txt:0", "three.txt:1", "three.txt:2"}));
    for (auto& r : rec)
        if (r.source == "two.txt" && r.state == ARCEXTRACT_END) {
            EXPECT_EQ(r.fileSize, 300000u);
            EXPECT_EQ(r.writeSize, 300000u);
            EXPECT_EQ(r.dest, out / "two.txt");
        }

    // Without an owner window nothing is sent.
    RecordedProgress().clear();
    TempDir again;
    EXPECT_EQ(Unzip().Run("-x  \"" + zip + "\" \"" + again.path() + "/\" "), 0);
    EXPECT_TRUE(RecordedProgress().empty());
    EXPECT_EQ(Unzip().killOwner(kWindow), 0);
    EXPECT_EQ(Unzip().setOwner(0, nullptr), 0);
}

TEST(Progress, AReplyOfOneAborts)
{
    TempDir src, work;
    std::string zip = MakeZip(src, work);
    {
        // Stop before the second member: the first stays, no more follow.
        TempDir out;
        OwnerScope owner(Unzip());
        AbortOnState(ARCEXTRACT_BEGIN, 1);
        EXPECT_EQ(Unzip().Run("-x  \"" + zip + "\" \"" + out.path() + "/\" "), ARCERR_ABORTED);
        EXPECT_EQ(ReadFile(out / "one.txt"), "first file\n");
        EXPECT_FALSE(Exists(out / "two.txt"));
        EXPECT_FALSE(Exists(out / "three.txt"));
    }
    {
        // Stop in the middle of a member: its partial output is removed.
        TempDir out;
        OwnerScope owner(Unzip());
        AbortOnState(ARCEXTRACT_INPROCESS, 1);
        EXPECT_EQ(Unzip().Run("-x  \"" + zip + "\" \"" + out.path() + "/\" "), ARCERR_ABORTED);
        EXPECT_FALSE(Exists(out / "two.txt"));
    }
    {
        // The same through the ARJ decoder of this library.
        TempDir out;
        Shell(src.path(), "arj a -m1 -y " + Quote(work / "a.arj") + " one.txt two.txt");
        OwnerScope owner(Unarj());
        AbortOnState(ARCEXTRACT_INPROCESS, 1);
        EXPECT_EQ(Unarj().Run("x -x1 \"" + (work / "a.arj") + "\" \"" + out.path() + "/\""), ARCERR_ABORTED);
        EXPECT_FALSE(Exists(out / "two.txt"));
    }
}

TEST(Progress, LogTextFitsTheBuffer)
{
    TempDir src, work, out;
    std::string zip = MakeZip(src, work);
    std::string log;
    for (int size : {1, 2, 9, 4096}) {
        EXPECT_EQ(Unzip().Run("-x  \"" + zip + "\" \"" + out.path() + "/\" ", &log, size), 0);
        EXPECT_LE(log.size(), static_cast<size_t>(size - 1));
    }
    EXPECT_NE(log.find("two.txt"), std::string::npos);
    EXPECT_EQ(Unzip().Run("-x  \"" + zip + "\" \"" + out.path() + "/\" ", &log, 0), 0);
    EXPECT_EQ(Unzip().Run("l \"" + zip + "\"", &log, 4096), ARCERR_COMMAND);
    EXPECT_NE(log.find("error"), std::string::npos);
}

// The libraries share one core, but each keeps its own owner window: one
// library's owner neither reaches another's progress nor is cleared by it.
TEST(Progress, EachLibraryKeepsItsOwnOwnerWindow)
{
    TempDir src, work, first, second, third, fourth;
    const std::string zip = MakeZip(src, work);
    ASSERT_EQ(Shell(src.path(), "tar -cf " + Quote(work / "a.tar") + " one.txt"), 0);
    const auto unzip = [&](const TempDir& out) { return Unzip().Run("-x  \"" + zip + "\" \"" + out.path() + "/\" "); };
    {
        OwnerScope owner(Unzip());
        // Another library does not know this window.
        EXPECT_EQ(Tar().killOwner(kWindow), 0);
        ASSERT_EQ(Tar().Run(TarExtractLine(work / "a.tar", first.path())), 0);
        EXPECT_TRUE(RecordedProgress().empty()) << "the tar library has no owner";
        ASSERT_EQ(unzip(second), 0);
        EXPECT_FALSE(RecordedProgress().empty()) << "the ZIP library's owner was lost";
        // An owner set and killed in another library leaves this one's.
        ASSERT_NE(Tar().setOwner(kWindow + 1, nullptr), 0);
        EXPECT_EQ(Tar().killOwner(kWindow + 1), 1);
        RecordedProgress().clear();
        ASSERT_EQ(unzip(third), 0);
        EXPECT_FALSE(RecordedProgress().empty()) << "the ZIP library's owner was lost";
    }
    RecordedProgress().clear();
    ASSERT_EQ(unzip(fourth), 0);
    EXPECT_TRUE(RecordedProgress().empty()) << "the owner was killed";
}
