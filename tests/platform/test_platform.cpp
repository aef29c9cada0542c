// Hidden windows and their messages, code page 932, names that ignore case.
#include "platform/Cp932.h"
#include "platform/FileNames.h"
#include "platform/MessageWindow.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QTemporaryDir>

#include <fstream>
#include <gtest/gtest.h>
#include <vector>

namespace {

struct Received {
    UINT msg;
    WPARAM wParam;
    LPARAM lParam;
};

} // namespace

TEST(MessageWindow, PostedSentTimedAndRegisteredMessages)
{
    std::vector<Received> got;
    auto window = std::make_unique<TMessageWindow>([&](UINT m, WPARAM w, LPARAM l) -> LRESULT {
        got.push_back({m, w, l});
        if (m == 2000)
            throw std::runtime_error("from a procedure");
        return static_cast<LRESULT>(w) + 1;
    });
    const HWND h = window->Handle();
    EXPECT_TRUE(IsWindow(h));

    // Sent: at once, with the procedure's result.
    EXPECT_EQ(SendMessage(h, 1125, 41, -7), 42);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].lParam, -7);

    // Posted: only when the queue runs, in order.
    EXPECT_TRUE(PostMessage(h, 1126, 1, 0));
    EXPECT_TRUE(PostMessage(h, 1127, 2, 0));
    EXPECT_EQ(got.size(), 1u);
    ProcessMessages();
    ASSERT_EQ(got.size(), 3u);
    EXPECT_EQ(got[1].msg, 1126u);
    EXPECT_EQ(got[2].msg, 1127u);

    // An exception from a procedure goes to the hook, not further.
    std::string caught;
    SetMessageExceptionHook([&](std::exception_ptr e) {
        try {
            std::rethrow_exception(e);
        } catch (const std::exception& x) {
            caught = x.what();
        }
    });
    EXPECT_EQ(SendMessage(h, 2000, 0, 0), 0);
    EXPECT_EQ(caught, "from a procedure");
    SetMessageExceptionHook({});

    // Timers deliver WM_TIMER with their id; a wait blocks until then.
    got.clear();
    ASSERT_TRUE(SetTimer(h, 7, 5));
    EXPECT_FALSE(SetTimer(h, 8, 0));
    QDeadlineTimer deadline(10000);
    while (got.empty() && !deadline.hasExpired())
        WaitForMessages();
    ASSERT_FALSE(got.empty());
    EXPECT_EQ(got[0].msg, WM_TIMER);
    EXPECT_EQ(got[0].wParam, 7u);
    EXPECT_TRUE(KillTimer(h, 7));
    EXPECT_FALSE(KillTimer(h, 7));

    // Registered numbers: from 0xC000, stable per name, case ignored.
    const UINT a = RegisterWindowMessage("wm_arcextract");
    EXPECT_GE(a, 0xC000u);
    EXPECT_EQ(RegisterWindowMessage("WM_ArcExtract"), a);
    EXPECT_EQ(RegisterWindowMessageA("wm_arcextract"), a);
    EXPECT_NE(RegisterWindowMessage("another"), a);

    // A window that is gone receives nothing; its posted messages vanish.
    EXPECT_TRUE(PostMessage(h, 1128, 0, 0));
    got.clear();
    window.reset();
    ProcessMessages();
    EXPECT_TRUE(got.empty());
    EXPECT_FALSE(IsWindow(h));
    EXPECT_EQ(SendMessageA(h, 1125, 1, 0), 0);
    EXPECT_FALSE(PostMessage(h, 1125, 1, 0));
}

TEST(Cp932, ConvertsBothWaysAndSurvivesBadBytes)
{
    const std::string sjis = "\x83\x5E\x83\x43\x83\x76\x82\x60"; // タイプＡ
    EXPECT_EQ(Cp932ToUtf8(sjis), "タイプＡ");
    EXPECT_EQ(Utf8ToCp932("タイプＡ").value(), sjis);
    EXPECT_EQ(Utf8ToCp932("～").value(), "\x81\x60"); // the Windows table's wave dash
    EXPECT_EQ(Cp932ToUtf8("\x81\x60"), "～");
    EXPECT_EQ(Utf8ToCp932("①").value(), "\x87\x40"); // NEC special characters
    // Nothing without a CP932 form, no invalid UTF-8.
    EXPECT_FALSE(Utf8ToCp932("smile \xF0\x9F\x98\x80").has_value());
    EXPECT_FALSE(Utf8ToCp932("\xC3").has_value());
    EXPECT_EQ(Utf8ToCp932Lossy("a\xF0\x9F\x98\x80z"), "a?z");
    EXPECT_EQ(Cp932Length("Name"), 4u);
    EXPECT_EQ(Cp932Length("日本語.txt"), 10u);
    // A lead byte without its trail, and bytes that are no character.
    EXPECT_EQ(Cp932ToUtf8("ab\x82"), "ab\xEF\xBF\xBD");
    EXPECT_EQ(Cp932ToUtf8(std::string("\xFF\0c", 3)), std::string("\xEF\xBF\xBD\0c", 5));
}

TEST(FileNames, ExactSpellingFirstThenAnyCase)
{
    QTemporaryDir dir;
    const std::string d = dir.path().toStdString();
    QDir(dir.path()).mkpath(QStringLiteral("DSkin/Sub"));
    std::ofstream(d + "/DSkin/Back.JPG") << "x";
    std::ofstream(d + "/dl.INI") << "y";
    EXPECT_EQ(ResolveName(d, "DL.ini"), d + "/dl.INI");
    EXPECT_EQ(ResolveName(d + "/", "Dskin"), d + "/DSkin");
    EXPECT_EQ(ResolvePath(d, "Dskin/back.jpg"), d + "/DSkin/Back.JPG");
    EXPECT_EQ(ResolvePath(d, "dskin/sub"), d + "/DSkin/Sub");
    EXPECT_EQ(ResolveName(d, "new.txt"), d + "/new.txt"); // created with the program's spelling
    std::ofstream(d + "/DL.ini") << "z";
    EXPECT_EQ(ResolveName(d, "DL.ini"), d + "/DL.ini"); // the exact name wins
    EXPECT_TRUE(FileExists(d + "/DL.ini"));
    EXPECT_FALSE(FileExists(d + "/DSkin"));
    EXPECT_TRUE(DirectoryExists(d + "/DSkin"));
    EXPECT_EQ(FileSizeOf(d + "/DL.ini"), 1);
    EXPECT_EQ(FileSizeOf(d + "/none"), -1);
    EXPECT_TRUE(DeleteFile(d + "/DL.ini"));
    EXPECT_FALSE(FileExists(d + "/DL.ini"));
}

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
