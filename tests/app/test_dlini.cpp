// The dlini tool against files the settings window writes and reads.
#include "AppFixture.h"

#include "app/SettingsFile.h"

#include <QProcess>

namespace {

struct ToolRun {
    int code;
    std::string out;
    std::string err;
};

ToolRun dlini(const QStringList& args, const std::string& input, const std::string& dir)
{
    QProcess p;
    p.setWorkingDirectory(QString::fromStdString(dir));
    p.start(QStringLiteral(DLINI_PATH), args);
    p.waitForStarted();
    p.write(input.data(), static_cast<qint64>(input.size()));
    p.closeWriteChannel();
    p.waitForFinished(60000);
    return {p.exitCode(), p.readAllStandardOutput().toStdString(), p.readAllStandardError().toStdString()};
}

} // namespace

TEST_F(AppFixture, DliniDecodesWhatTheSettingsWindowSavesAndEncodesWhatItLoads)
{
    Start();
    form2->Form_Caption_Edit->setText(QStringLiteral("日本語のタイトル"));
    form2->CuteButton1->Click();
    ToolRun r = dlini({QStringLiteral("decode")}, "", Dir());
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, "なし\nDownLoad\n1722267\n12713468\n日本語のタイトル\n\nhttp://\nfalse\nwren\ntrue\n\n0\n"
                     "16777215\n6462440\nタイプA\n");

    // Decoding and encoding again reproduces the stored bytes.
    ToolRun again = dlini({QStringLiteral("encode"), QStringLiteral("copy.ini")}, r.out, Dir());
    ASSERT_EQ(again.code, 0) << again.err;
    EXPECT_EQ(ReadFile("copy.ini"), ReadFile("DL.ini"));

    const std::string text = "skin.jpg\nボタン\n1\n2\nタイトル\n\nhttp://h/a.zip\ntrue\npw\nfalse\nABCD\n7\n3\n4\nタイプＣ\n";
    r = dlini({QStringLiteral("encode"), QStringLiteral("other.ini")}, text, Dir());
    ASSERT_EQ(r.code, 0) << r.err;
    const std::string stored = ReadFile("other.ini");
    EXPECT_EQ(ScrambleBytes(stored).substr(0, 10), "skin.jpg\r\n");
    r = dlini({QStringLiteral("decode"), QStringLiteral("other.ini")}, "", Dir());
    EXPECT_EQ(r.out, text);
}

TEST_F(AppFixture, DliniRefusesMissingFilesAndTextWithoutCp932Form)
{
    ToolRun r = dlini({QStringLiteral("decode"), QStringLiteral("nothing.ini")}, "", Dir());
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("nothing.ini"), std::string::npos);
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1);

    r = dlini({QStringLiteral("encode")}, "fine\nsmile \xF0\x9F\x98\x80\n", Dir());
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("line 2"), std::string::npos);
    EXPECT_FALSE(QFile::exists(QString::fromStdString(Dir() + "DL.ini")));

    r = dlini({QStringLiteral("frobnicate")}, "", Dir());
    EXPECT_EQ(r.code, 2);
}
