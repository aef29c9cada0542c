#include "AppFixture.h"

#include "app/SettingsFile.h"
#include "platform/Cp932.h"
#include "platform/FileNames.h"
#include "runtime/Application.h"
#include "runtime/Fonts.h"
#include "runtime/PoolThreads.h"

#include <QApplication>
#include <QFile>
#include <QStyleFactory>

#include <cstdlib>
#include <fstream>
#include <sstream>

void AppFixture::SetUp()
{
    dir_ = std::make_unique<QTemporaryDir>();
    ASSERT_TRUE(dir_->isValid());
    previousDir_ = GetCurrentDir();
    ASSERT_TRUE(SetCurrentDir(dir_->path().toStdString()));
    // The user's own proxy setting is never read or written by a test.
    previousConfigHome_ = qgetenv("XDG_CONFIG_HOME");
    hadConfigHome_ = qEnvironmentVariableIsSet("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(ConfigHome()));
    SetDialogResponder([this](const DialogRequest& request) {
        shown.push_back(request);
        if (request.kind == DialogRequest::Beep || answers.empty()) {
            DialogAnswer a;
            a.accepted = true;
            return a;
        }
        DialogAnswer a = answers.front();
        answers.pop_front();
        return a;
    });
}

void AppFixture::TearDown()
{
    form3.reset();
    form2.reset();
    form1.reset();
    QApplication::processEvents();
    Application().Revive();
    SetDialogResponder({});
    SetCurrentDir(previousDir_);
    if (hadConfigHome_)
        qputenv("XDG_CONFIG_HOME", previousConfigHome_);
    else
        qunsetenv("XDG_CONFIG_HOME");
}

void AppFixture::Start()
{
    Application().SetTitle(QStringLiteral("Fetchlet"));
    form1 = std::make_unique<TForm1>();
    // Downloads try again after a few milliseconds instead of a second;
    // the waits themselves are tested on their own.
    form1->RetryWait = 5;
    Application().SetMainForm(form1.get());
    form2 = std::make_unique<TForm2>();
    form3 = std::make_unique<TForm3>();
    form1->show();
}

std::string AppFixture::FailedDownload(const std::string& url)
{
    shown.clear();
    form2->URL_Edit->setText(QString::fromStdString(url));
    form1->CuteButton1->Click();
    EXPECT_EQ(form1->Label1->Caption(), QStringLiteral("失敗しました")) << url;
    EXPECT_FALSE(form1->CuteButton2->isVisible()) << url;
    EXPECT_FALSE(form1->Timer1->isActive()) << url;
    return shown.empty() ? std::string() : shown.back().text.toStdString();
}

void AppFixture::WriteFile(const std::string& name, const std::string& bytes) const
{
    std::ofstream out(Dir() + name, std::ios::binary);
    out << bytes;
}

std::string AppFixture::ReadFile(const std::string& name) const
{
    std::ifstream in(Dir() + name, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

void AppFixture::WriteSettings(const std::vector<std::string>& lines) const
{
    TStringList list;
    for (const auto& l : lines)
        list.Add(l);
    WriteFile("DL.ini", EncodeSettings(list));
}

std::vector<std::string> AppFixture::Kinds() const
{
    static const char* names[] = {"beep", "message", "error", "input", "confirm", "color", "open"};
    std::vector<std::string> kinds;
    for (const auto& r : shown)
        kinds.push_back(names[r.kind]);
    return kinds;
}

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // The tests bring their own proxies; none of the caller's may come between.
    for (const char* name : {"http_proxy", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY", "no_proxy", "NO_PROXY"})
        ::unsetenv(name);
    TPoolThreadsWait poolThreads; // ends after the application object
    QApplication app(argc, argv);
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    InstallFontSubstitutes();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
