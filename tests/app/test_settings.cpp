// The settings file: load, save, reset, and what they do to the windows.
#include "AppFixture.h"

#include "app/SettingsFile.h"
#include "platform/FileNames.h"
#include "runtime/Application.h"

#include <QDir>

namespace {

const std::vector<std::string> Defaults = {"なし",  "DownLoad", "1722267", "12713468", "Fetchlet",
                                           "",      "http://",  "false",   "wren",     "true",
                                           "",      "0",        "16777215", "6462440", "タイプA"};

std::vector<std::string> linesOf(const TStringList& list)
{
    return std::vector<std::string>(list.begin(), list.end());
}

} // namespace

TEST_F(AppFixture, WithoutSettingsFileTheFormDefaultsHold)
{
    Start();
    EXPECT_EQ(form1->Caption(), QStringLiteral("Fetchlet"));
    EXPECT_EQ(Application().Title(), QStringLiteral("Fetchlet"));
    EXPECT_EQ(form1->CuteButton1->Caption(), QStringLiteral("DownLoad"));
    EXPECT_TRUE(form1->Label2->Caption().isEmpty());
    EXPECT_EQ(form1->Label1->Caption(), QStringLiteral("ダウンロード状況"));
    EXPECT_FALSE(form1->Size_Unknown);
    EXPECT_EQ(form1->Size_KB, 0);
    EXPECT_TRUE(form1->Check_CRC.empty());
    EXPECT_EQ(form2->URL_Edit->text(), QStringLiteral("http://"));
    EXPECT_FALSE(form1->Image1->Picture().isNull());
    EXPECT_EQ(form1->Image1->Picture().size(), QSize(350, 250));
    EXPECT_TRUE(shown.empty());

    // Saving without a change writes the form defaults, scrambled, with
    // exactly the length of the plain text.
    form2->CuteButton1->Click();
    const std::string stored = ReadFile("DL.ini");
    EXPECT_EQ(linesOf(DecodeSettings(stored)), Defaults);
    const std::string plain = ScrambleBytes(stored);
    EXPECT_EQ(plain.size(), stored.size());
    EXPECT_EQ(plain.substr(0, 6), "\x82\xC8\x82\xB5\r\n"); // "なし" in CP932, CR LF
    EXPECT_EQ(plain.substr(plain.size() - 2), "\r\n");
    EXPECT_EQ(ScrambleBytes(plain), stored);
}

TEST_F(AppFixture, LoadAppliesEveryLineToTheWindows)
{
    WriteSettings({"なし", "今すぐ取得", "255", "-16777216", "私のダウンローダー", "", "http://h/d/f.lzh", "true",
                   "secret", "True", "6F91", "1234", "65280", "16711680", "タイプＢ"});
    Start();
    EXPECT_TRUE(shown.empty()) << shown.front().text.toStdString();
    EXPECT_EQ(form1->CuteButton1->Caption(), QStringLiteral("今すぐ取得"));
    EXPECT_EQ(form1->CuteButton2->Caption(), QStringLiteral("Close"));
    EXPECT_EQ(form1->CuteButton1->Color(), 255);
    EXPECT_EQ(form1->CuteButton2->Color(), 255);
    EXPECT_EQ(form1->CuteButton1->FontColor(), -16777216);
    EXPECT_EQ(form1->Caption(), QStringLiteral("私のダウンローダー"));
    EXPECT_EQ(Application().Title(), QStringLiteral("私のダウンローダー"));
    EXPECT_EQ(form2->URL_Edit->text(), QStringLiteral("http://h/d/f.lzh"));
    EXPECT_TRUE(form2->PASS_CheckBox->isChecked());
    EXPECT_TRUE(form2->pass_Edit->isEnabled());
    EXPECT_EQ(form2->pass_Edit->text(), QStringLiteral("secret"));
    EXPECT_FALSE(form2->LZH_CheckBox->isChecked()); // "True" is not "true"
    EXPECT_EQ(form1->Check_CRC, "6F91");
    EXPECT_EQ(form2->CRC_label->Caption(), QStringLiteral("CRC  6F91"));
    EXPECT_EQ(form1->Size_KB, 1234);
    EXPECT_FALSE(form1->Size_Unknown);
    EXPECT_EQ(form2->youryou_label->Caption(), QStringLiteral("容量  1234Kbyte"));
    EXPECT_EQ(form1->Label2->Caption(), QStringLiteral("ファイル容量は1234Kbyteです"));
    EXPECT_EQ(form1->Label1->FontColor(), 65280);
    EXPECT_EQ(form1->Label2->FontColor(), 65280);
    EXPECT_EQ(form1->Gauge1->ForeColor(), 16711680);
    EXPECT_EQ(form1->Gauge1->Kind(), gkNeedle);
    EXPECT_FALSE(FileExists(Dir() + "DL2.ini"));

    // A save writes back what was loaded.
    form2->CuteButton1->Click();
    EXPECT_EQ(linesOf(DecodeSettings(ReadFile("DL.ini")))[14], "タイプＢ");
    EXPECT_EQ(linesOf(DecodeSettings(ReadFile("DL.ini")))[9], "false");
}

TEST_F(AppFixture, SizeZeroAndHalfWidthGaugeTypeKeepDefaults)
{
    std::vector<std::string> lines = Defaults;
    WriteSettings(lines);
    Start();
    EXPECT_TRUE(form1->Size_Unknown);
    EXPECT_TRUE(form1->Label2->Caption().isEmpty());
    EXPECT_EQ(form1->Gauge1->Kind(), gkHorizontalBar);
    form1->Gauge1->SetKind(gkPie);
    form2->Gauge_ComboBox->setEditText(QStringLiteral("タイプA"));
    EXPECT_EQ(form1->Gauge1->Kind(), gkPie);
    form2->Gauge_ComboBox->setEditText(QStringLiteral("タイプＡ"));
    EXPECT_EQ(form1->Gauge1->Kind(), gkHorizontalBar);
}

TEST_F(AppFixture, LoadErrorsStopAtTheFailingLineAndKeepWhatWasSet)
{
    WriteSettings({"なし", "Get it", "1722267", "12713468", "Title here", "", "http://x/y"});
    Start();
    ASSERT_EQ(Kinds(), std::vector<std::string>{"error"});
    EXPECT_EQ(shown[0].text, QStringLiteral("リストのインデックスが範囲を超えています (7)"));
    EXPECT_EQ(shown[0].caption, QStringLiteral("Title here"));
    EXPECT_EQ(form1->CuteButton1->Caption(), QStringLiteral("Get it"));
    EXPECT_EQ(form2->URL_Edit->text(), QStringLiteral("http://x/y"));
    EXPECT_FALSE(form1->Size_Unknown);
    EXPECT_FALSE(FileExists(Dir() + "DL2.ini"));
}

TEST_F(AppFixture, NonNumericColourLineIsAConversionError)
{
    std::vector<std::string> lines = Defaults;
    lines[1] = "Go";
    lines[2] = "red";
    WriteSettings(lines);
    Start();
    ASSERT_EQ(Kinds(), std::vector<std::string>{"error"});
    EXPECT_EQ(shown[0].text, QStringLiteral("'red' は整数ではありません."));
    EXPECT_EQ(form1->CuteButton1->Caption(), QStringLiteral("Go"));
}

TEST_F(AppFixture, OddStoredFilesLoadWithoutHarm)
{
    // No line ends at all, bytes of value 0 and bytes that are not CP932.
    WriteFile("DL.ini", ScrambleBytes(std::string("ab\0c\x81\xFF", 6)));
    Start();
    ASSERT_EQ(Kinds(), std::vector<std::string>{"error"});
    EXPECT_EQ(shown[0].text, QStringLiteral("リストのインデックスが範囲を超えています (1)"));
    EXPECT_EQ(form2->Skin_Label->Caption().size(), 6); // a, b, NUL, c and two replacement characters

    // An empty file loads no lines and fails at the first.
    shown.clear();
    form3.reset();
    form2.reset();
    form1.reset();
    WriteFile("DL.ini", "");
    Start();
    ASSERT_EQ(Kinds(), std::vector<std::string>{"error"});
    EXPECT_EQ(shown[0].text, QStringLiteral("リストのインデックスが範囲を超えています (0)"));
}

TEST_F(AppFixture, SkinAndIconComeFromTheSkinFolderWhateverItsCase)
{
    ASSERT_TRUE(QDir(QString::fromStdString(Dir())).mkdir(QStringLiteral("DSkin")));
    QImage skin(20, 10, QImage::Format_RGB32);
    skin.fill(Qt::red);
    ASSERT_TRUE(skin.save(QString::fromStdString(Dir() + "DSkin/Back.BMP"), "BMP"));
    QImage icon(16, 16, QImage::Format_ARGB32);
    icon.fill(Qt::green);
    ASSERT_TRUE(icon.save(QString::fromStdString(Dir() + "DSkin/app.ico"), "ICO"));
    std::vector<std::string> lines = Defaults;
    lines[0] = "Back.BMP";
    lines[5] = "app.ico";
    WriteSettings(lines);
    Start();
    EXPECT_TRUE(shown.empty()) << shown.front().text.toStdString();
    EXPECT_EQ(form1->Image1->Picture().size(), QSize(20, 10));
    EXPECT_EQ(form1->Image1->Picture().pixel(0, 0), qRgb(255, 0, 0));
    EXPECT_EQ(form2->ICO_Image->Picture().pixel(8, 8), qRgb(0, 255, 0));
    EXPECT_EQ(form1->ICO_File, "app.ico");

    // A skin named but missing is a file error; what came before stays.
    shown.clear();
    form3.reset();
    form2.reset();
    form1.reset();
    lines[0] = "gone.jpg";
    WriteSettings(lines);
    Start();
    ASSERT_EQ(Kinds(), std::vector<std::string>{"error"});
    EXPECT_TRUE(shown[0].text.startsWith(QStringLiteral("ファイル "))) << shown[0].text.toStdString();
    EXPECT_TRUE(shown[0].text.endsWith(QStringLiteral("gone.jpg は開けません."))) << shown[0].text.toStdString();
    EXPECT_EQ(form2->Skin_Label->Caption(), QStringLiteral("gone.jpg"));
}

TEST_F(AppFixture, ResetAsksThenDeletesTheSettingsAndEnds)
{
    WriteSettings(Defaults);
    Start();
    DialogAnswer no;
    no.accepted = false;
    answers.push_back(no);
    form2->CuteButton2->Click();
    EXPECT_EQ(Kinds(), std::vector<std::string>{"confirm"});
    EXPECT_EQ(shown[0].caption, QStringLiteral("確認"));
    EXPECT_EQ(shown[0].text, QStringLiteral("設定を初期化しますか？"));
    EXPECT_TRUE(FileExists(Dir() + "DL.ini"));
    EXPECT_FALSE(Application().Terminated());

    shown.clear();
    form2->CuteButton2->Click();
    EXPECT_EQ(Kinds(), (std::vector<std::string>{"confirm", "beep", "message"}));
    EXPECT_EQ(shown[2].text, QStringLiteral("設定を初期化するために一度ソフトを閉じます"));
    EXPECT_FALSE(FileExists(Dir() + "DL.ini"));
    EXPECT_TRUE(Application().Terminated());
}

TEST_F(AppFixture, SettingsNeverTouchTheDiskInPlainForm)
{
    // A load needs no "DL2.ini": even a folder of that name is no obstacle.
    ASSERT_TRUE(QDir(QString::fromStdString(Dir())).mkdir(QStringLiteral("DL2.ini")));
    ASSERT_TRUE(QDir(QString::fromStdString(Dir())).mkdir(QStringLiteral("DSkin")));
    QImage skin(4, 4, QImage::Format_RGB32);
    skin.fill(Qt::blue);
    ASSERT_TRUE(skin.save(QString::fromStdString(Dir() + "DSkin/背景.bmp"), "BMP"));
    std::vector<std::string> lines = Defaults;
    lines[0] = "背景.bmp";
    lines[4] = "ダウンロード ツール";
    lines[14] = "タイプＣ";
    WriteSettings(lines);
    const std::string before = ReadFile("DL.ini");
    Start();
    EXPECT_TRUE(shown.empty()) << shown.front().text.toStdString();
    EXPECT_EQ(form1->Image1->Picture().size(), QSize(4, 4));
    EXPECT_EQ(form1->Gauge1->Kind(), gkPie);

    // Load then save gives the same bytes; no temporary file stays.
    form2->CuteButton1->Click();
    EXPECT_EQ(ReadFile("DL.ini"), before);
    const QStringList left = QDir(QString::fromStdString(Dir())).entryList(QDir::Files | QDir::Hidden);
    EXPECT_EQ(left, QStringList{QStringLiteral("DL.ini")});

    // A save that cannot replace the file reports it and leaves nothing.
    DeleteFile(Dir() + "DL.ini");
    ASSERT_TRUE(QDir(QString::fromStdString(Dir())).mkpath(QStringLiteral("DL.ini/inside")));
    form2->setResult(QDialog::Rejected);
    Guarded([&] { form2->CuteButton1->Click(); }); // as a click from the window would run
    EXPECT_EQ(form2->result(), QDialog::Rejected); // not closed as after a save
    ASSERT_EQ(Kinds(), std::vector<std::string>{"error"});
    EXPECT_EQ(shown[0].text, QString::fromStdString("ファイル " + Dir() + "DL.ini を作成できません."));
    EXPECT_TRUE(QDir(QString::fromStdString(Dir())).entryList(QDir::Files | QDir::Hidden).isEmpty());
}

TEST_F(AppFixture, AFailedLoadLeavesTheGaugeKindAsItWas)
{
    std::vector<std::string> lines = Defaults;
    lines[0] = "missing.jpg";
    lines[14] = "タイプＢ";
    WriteSettings(lines);
    Start();
    ASSERT_EQ(Kinds(), std::vector<std::string>{"error"});
    EXPECT_EQ(form1->Gauge1->Kind(), gkHorizontalBar);
    EXPECT_EQ(form2->Gauge_ComboBox->currentText(), QStringLiteral("タイプＢ"));
}
