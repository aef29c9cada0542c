// The main window's keys and publisher layout, the settings window's
// handlers, the proxy and version windows.
#include "AppFixture.h"
#include "Commands.h"

#include "app/V_Unit.h"
#include "platform/FileNames.h"
#include "runtime/Application.h"

#include <QApplication>
#include <QDir>
#include <QFontMetrics>
#include <QImage>
#include <QTest>
#include <QTimer>

#include <fstream>

namespace {

void makePublisherLayout(const std::string& dir)
{
    std::ofstream(dir + "マニュアル.html") << "<html></html>";
    QDir d(QString::fromStdString(dir));
    d.mkdir(QStringLiteral("Data"));
    d.mkdir(QStringLiteral("DSkin"));
}

// Answers the next modal window that opens while `context` lives: records
// its title and closes it (it gives up after many turns of the loop).
void closeNextModal(QObject* context, QString* title, int turns = 2000)
{
    QTimer::singleShot(0, context, [context, title, turns] {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal) {
            if (turns > 0)
                closeNextModal(context, title, turns - 1);
            return;
        }
        *title = modal->windowTitle();
        modal->close();
    });
}

} // namespace

TEST_F(AppFixture, GaugeStartsAtThirtyOnlyInPublisherLayout)
{
    Start();
    EXPECT_EQ(form1->Gauge1->Progress(), 0);
    form3.reset();
    form2.reset();
    form1.reset();
    makePublisherLayout(Dir());
    Start();
    EXPECT_EQ(form1->Gauge1->Progress(), 30);
    EXPECT_EQ(form1->Work_Dir, Dir());
}

TEST_F(AppFixture, EachMissingMarkerLeavesThePublisherLayout)
{
    const std::vector<std::string> markers = {"マニュアル.html", "Data", "DSkin"};
    for (const std::string& missing : markers) {
        makePublisherLayout(Dir());
        QDir d(QString::fromStdString(Dir()));
        if (missing == "マニュアル.html")
            d.remove(QString::fromStdString(missing));
        else
            d.rmdir(QString::fromStdString(missing));
        Start();
        EXPECT_FALSE(form1->PublisherLayout()) << missing;
        EXPECT_EQ(form1->Gauge1->Progress(), 0) << missing;
        QString title;
        closeNextModal(form1.get(), &title);
        WORD key = VK_F1;
        form1->CuteButton1KeyDown(form1.get(), key, 0);
        EXPECT_TRUE(title.isEmpty()) << missing;
        form3.reset();
        form2.reset();
        form1.reset();
    }
    // Markers whose names differ only in case count (the names are looked
    // up as on Windows).
    QDir d(QString::fromStdString(Dir()));
    d.rename(QStringLiteral("DSkin"), QStringLiteral("dskin"));
    d.mkdir(QStringLiteral("Data"));
    d.mkdir(QStringLiteral("dskin"));
    std::ofstream(Dir() + "マニュアル.html") << "";
    Start();
    EXPECT_TRUE(form1->PublisherLayout());
}

TEST_F(AppFixture, F1OpensSettingsOnlyInPublisherLayoutAndNotDuringATransfer)
{
    Start();
    form1->show();
    QString title;
    WORD key = VK_F1;
    form1->CuteButton1KeyDown(form1.get(), key, 0);
    EXPECT_FALSE(form2->isVisible());

    // Markers made while the program runs count at the next key press.
    makePublisherLayout(Dir());
    closeNextModal(form1.get(), &title);
    QTest::keyClick(form1.get(), Qt::Key_F1, Qt::ShiftModifier);
    EXPECT_EQ(title, QStringLiteral("設定"));
    // The settings window pointed its file lists at the skin folder, which
    // is now the current directory.
    EXPECT_EQ(GetCurrentDir() + "/", Dir() + "DSkin/");

    title.clear();
    form1->Timer1->start();
    key = VK_F1;
    form1->CuteButton1KeyDown(form1.get(), key, 0);
    EXPECT_TRUE(title.isEmpty());
    form1->Timer1->stop();
    QApplication::processEvents();
}

TEST_F(AppFixture, F2OpensTheProxyWindowInEveryLayoutButNotDuringATransfer)
{
    Start();
    ASSERT_FALSE(form1->PublisherLayout());
    QString title;
    closeNextModal(form1.get(), &title);
    QTest::keyClick(form1->CuteButton1, Qt::Key_F2);
    EXPECT_EQ(title, QStringLiteral("プロキシ"));
    EXPECT_FALSE(form3->isVisible());

    makePublisherLayout(Dir());
    title.clear();
    closeNextModal(form1.get(), &title);
    QTest::keyClick(form1.get(), Qt::Key_F2);
    EXPECT_EQ(title, QStringLiteral("プロキシ"));

    title.clear();
    form1->Timer1->start();
    WORD key = VK_F2;
    form1->CuteButton1KeyDown(form1.get(), key, 0);
    EXPECT_TRUE(title.isEmpty());
    form1->Timer1->stop();
    QApplication::processEvents();
}

TEST_F(AppFixture, F12ShowsAFreshVersionWindowEachTime)
{
    Start();
    form1->show();
    QString title;
    closeNextModal(form1.get(), &title);
    form1->Timer1->start(); // also during a transfer
    QTest::keyClick(form1->CuteButton1, Qt::Key_F12);
    EXPECT_EQ(title, QStringLiteral("バージョン情報"));
    form1->Timer1->stop();

    TV_Form version;
    EXPECT_EQ(version.Label2->Caption(), QString::fromUtf8(TV_Form::ShortName));
    QTest::mouseClick(version.Label2, Qt::LeftButton);
    EXPECT_EQ(version.Label2->Caption(), QString::fromUtf8(TV_Form::FullName));
    EXPECT_GT(version.Label2->width(), 100);
    TV_Form again;
    EXPECT_EQ(again.Label2->Caption(), QString::fromUtf8(TV_Form::ShortName));
    EXPECT_EQ(again.Edit1->text(), QString::fromUtf8(TV_Form::MailAddress));
}

TEST_F(AppFixture, VersionWindowFullNameFitsTheWindowAtRatioOneAndTwo)
{
    TV_Form version;
    version.Label2Click();
    const QString fullName = version.Label2->Caption();
    ASSERT_EQ(fullName, QString::fromUtf8(TV_Form::FullName));
    // Right of the label's place, 8 pixels of margin stay free, as on the
    // window's left.
    const int room = version.width() - version.Label2->x() - 8;
    EXPECT_LE(version.Label2->geometry().right() + 1, version.width() - 8);
    for (const qreal ratio : {1.0, 2.0}) {
        QImage device(qRound(version.width() * ratio), qRound(version.height() * ratio), QImage::Format_RGB32);
        device.setDevicePixelRatio(ratio);
        const QFontMetrics metrics(version.Label2->font(), &device);
        EXPECT_LE(metrics.horizontalAdvance(fullName), room) << "ratio " << ratio;
    }
}

TEST_F(AppFixture, SettingsEditsReachTheMainWindowAtOnce)
{
    Start();
    QTest::keyClicks(form2->Button_moji_Edit, QStringLiteral("!"));
    EXPECT_EQ(form1->CuteButton1->Caption(), QStringLiteral("DownLoad!"));
    EXPECT_EQ(form1->CuteButton2->Caption(), QStringLiteral("Close"));

    form2->Form_Caption_Edit->clear();
    QTest::keyClicks(form2->Form_Caption_Edit, QStringLiteral("ABC"));
    EXPECT_EQ(form1->Caption(), QStringLiteral("ABC"));
    EXPECT_EQ(Application().Title(), QStringLiteral("ABC"));

    // The password field starts enabled; the first change brings it in line.
    EXPECT_TRUE(form2->pass_Edit->isEnabled());
    form2->PASS_CheckBox->setChecked(true);
    EXPECT_TRUE(form2->pass_Edit->isEnabled());
    form2->PASS_CheckBox->setChecked(false);
    EXPECT_FALSE(form2->pass_Edit->isEnabled());

    form2->Gauge_ComboBox->setCurrentIndex(2);
    EXPECT_EQ(form1->Gauge1->Kind(), gkPie);
    form2->Gauge_ComboBox->setEditText(QStringLiteral("タイプB"));
    EXPECT_EQ(form1->Gauge1->Kind(), gkPie);
    form2->Gauge_ComboBox->setEditText(QStringLiteral("タイプＥ"));
    EXPECT_EQ(form1->Gauge1->Kind(), gkVerticalBar);
}

TEST_F(AppFixture, ColourButtonsSetTheirRowAndRememberTheLastChoice)
{
    Start();
    DialogAnswer red;
    red.accepted = true;
    red.color = 0x0000FF;
    answers.push_back(red);
    form2->ButtonColor->Click();
    EXPECT_EQ(form2->ButtonColor->Color(), 0x0000FF);
    EXPECT_EQ(form1->CuteButton1->Color(), 0x0000FF);
    EXPECT_EQ(form1->CuteButton2->Color(), 0x0000FF);

    DialogAnswer cancel;
    cancel.accepted = false;
    answers.push_back(cancel);
    form2->Gauge_Color->Click();
    EXPECT_EQ(form1->Gauge1->ForeColor(), 0x00629BE8);

    DialogAnswer green;
    green.accepted = true;
    green.color = 0x00FF00;
    answers.push_back(green);
    form2->DL_moji_Color->Click();
    EXPECT_EQ(form1->Label1->FontColor(), 0x00FF00);
    EXPECT_EQ(form1->Label2->FontColor(), 0x00FF00);
    EXPECT_EQ(form2->DL_moji_Color->Color(), 0x00FF00);

    answers.push_back(red);
    form2->Button_Font_Color->Click();
    EXPECT_EQ(form2->Button_Font_Color->Color(), 0x0000FF);
    EXPECT_EQ(form1->CuteButton1->FontColor(), 0x0000FF);
    EXPECT_EQ(form2->LastDialogColor, 0x0000FF);
}

TEST_F(AppFixture, FileCheckTakesSizeAndCrcOfTheChosenFile)
{
    Start();
    WriteFile("digits.bin", std::string(123456, '7'));
    DialogAnswer pick;
    pick.accepted = true;
    pick.text = QString::fromStdString(Dir() + "digits.bin");
    answers.push_back(pick);
    form2->Button2->click();
    ASSERT_EQ(Kinds(), std::vector<std::string>{"open"});
    EXPECT_EQ(shown[0].title, QStringLiteral("DownLoadするファイルをチェック"));
    EXPECT_EQ(form1->Size_KB, 120);
    EXPECT_EQ(form1->Label2->Caption(), QStringLiteral("ファイル容量は120Kbyteです"));
    EXPECT_EQ(form2->youryou_label->Caption(), QStringLiteral("容量  120Kbyte"));
    EXPECT_EQ(form1->Check_CRC.size(), 4u);
    EXPECT_EQ(form2->CRC_label->Caption(), QStringLiteral("CRC  ") + QString::fromStdString(form1->Check_CRC));
    EXPECT_FALSE(form1->Size_Unknown);
    // Its SHA-256 beside them, and saved as the pin of the file the
    // address names, which sha256sum checks.
    const std::string line =
        testsupport::RunShell("cd " + testsupport::ShellQuote(Dir()) + " && sha256sum digits.bin").out;
    const std::string hex = line.substr(0, 64);
    EXPECT_EQ(form2->SHA256_label->Caption(), TForm2::Sha256Text(hex));
    EXPECT_TRUE(form2->SHA256_label->geometry().intersected(form2->GroupBox2->geometry()).isEmpty());
    form2->URL_Edit->setText(QStringLiteral("https://example.org/dl/app.zip?v=2"));
    form2->CuteButton1->Click();
    EXPECT_EQ(ReadFile("DL.sha256"), hex + "  app.zip\n");

    // A file that cannot be read switches the check off, and the save
    // removes the pin.
    pick.text = QString::fromStdString(Dir() + "missing.bin");
    answers.push_back(pick);
    form2->Button2->click();
    EXPECT_TRUE(form1->Check_CRC.empty());
    EXPECT_EQ(form2->CRC_label->Caption(), QStringLiteral("CRC  "));
    EXPECT_EQ(form1->Size_KB, 0);
    EXPECT_EQ(form2->SHA256_label->Caption(), QStringLiteral("SHA-256"));
    form2->CuteButton1->Click();
    EXPECT_FALSE(FileExists(Dir() + "DL.sha256"));
}

TEST_F(AppFixture, ProxyWindowEnablesItsFieldsWithTheBox)
{
    Start();
    EXPECT_FALSE(form3->isVisible());
    EXPECT_FALSE(form3->Edit1->isEnabled());
    EXPECT_EQ(form3->Edit2->text(), QStringLiteral("80"));
    form3->CheckBox1->setChecked(true);
    EXPECT_TRUE(form3->Edit1->isEnabled());
    EXPECT_TRUE(form3->Edit2->isEnabled());
    form3->CheckBox1->setChecked(false);
    EXPECT_FALSE(form3->Edit2->isEnabled());
}
