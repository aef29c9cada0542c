// render-windows OUTDIR: starts the program's windows in the current
// directory exactly as the program does (the settings load included) and
// writes what they show to OUTDIR/main.png, main-large.png (a transfer of
// a ten-digit Kbyte size), main-retry.png (waiting to try again),
// main-failed.png, settings.png, proxy.png, version.png and
// version-full.png (after a click on the name), and the standard boxes and
// dialogs the program shows through the runtime to message.png ("error"
// with the reply), failure.png (a failed download's message), password.png, open-file.png and
// color.png, in the user's language. Runs offscreen when there is no
// display. Under a device pixel ratio other than 1 (QT_SCALE_FACTOR=2, say)
// the images have the device's resolution. --help and --version as every
// tool answers them.
#include "app/Messages.h"
#include "app/Unit1.h"
#include "app/Unit2.h"
#include "app/Unit3.h"
#include "app/V_Unit.h"
#include "runtime/Application.h"
#include "runtime/Dialogs.h"
#include "runtime/Fonts.h"
#include "runtime/GuiStart.h"
#include "runtime/PoolThreads.h"
#include "runtime/Translations.h"
#include "runtime/ToolCli.h"

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QStyleFactory>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <functional>

namespace {

bool save(QWidget& window, const QString& path)
{
    window.show();
    QApplication::processEvents();
    const bool ok = window.grab().save(path);
    std::printf("%s\n", qPrintable(path));
    return ok;
}

// Opens a modal box through `open` and writes what it shows once it is up,
// then closes it.
bool saveModal(const std::function<void()>& open, const QString& path)
{
    bool ok = false;
    QTimer::singleShot(0, [&] {
        QWidget* box = QApplication::activeModalWidget();
        if (!box)
            return;
        ok = box->grab().save(path);
        std::printf("%s\n", qPrintable(path));
        if (auto* dialog = qobject_cast<QDialog*>(box))
            dialog->reject();
        else
            box->close();
    });
    open();
    return ok;
}

} // namespace

int main(int argc, char** argv)
{
    const ToolCli cli("render-windows", "render-windows OUTDIR",
                      "Starts the program's windows in the current directory as the program\n"
                      "does (its \"DL.ini\" loaded) and writes what they show to OUTDIR/main.png,\n"
                      "settings.png, proxy.png, version.png and version-full.png (the full\n"
                      "name shown), and the program's standard boxes and dialogs to message.png,\n"
                      "password.png, open-file.png and color.png, offscreen when there is no\n"
                      "display, at the device's resolution (QT_SCALE_FACTOR=2 doubles it).\n");
    if (const auto done = cli.StandardOptions(argc, argv))
        return *done;
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    TPoolThreadsWait poolThreads; // ends after the application object
    // Takes Qt's own options out of argv.
    const auto qtApplication = MakeGuiApplication(argc, argv, "render-windows");
    if (argc != 2)
        return cli.Usage(argc < 2 ? "OUTDIR is needed" : "only one OUTDIR");
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    InstallFontSubstitutes();
    InstallQtTranslations();
    const QString out = QDir(QString::fromLocal8Bit(argv[1])).absolutePath();
    QDir().mkpath(out);
    Application().SetTitle(QStringLiteral("Fetchlet"));
    TForm1 form1;
    Application().SetMainForm(&form1);
    TForm2 form2;
    TForm3 form3;
    bool ok = save(form1, out + QStringLiteral("/main.png"));
    ok = save(form2, out + QStringLiteral("/settings.png")) && ok;
    form2.hide();
    ok = save(form3, out + QStringLiteral("/proxy.png")) && ok;
    form3.hide();
    TV_Form version;
    ok = save(version, out + QStringLiteral("/version.png")) && ok;
    version.Label2Click(); // the full name, as a click on the short name shows it
    ok = save(version, out + QStringLiteral("/version-full.png")) && ok;
    version.hide();
    form1.show();
    // A transfer of a ten-digit Kbyte size, then a wait before trying
    // again, then a failure.
    const QString ready = form1.Label1->Caption();
    const QString size = form1.Label2->Caption();
    form1.Label1->SetCaption(QStringLiteral("受信中"));
    form1.Label2->SetCaption(TForm1::ProgressText(std::int64_t(4'000'000'000) * 1024, 2'000'000'000));
    form1.CuteButton2->show();
    form1.CuteButton2->SetCaption(QStringLiteral("Cansel"));
    ok = save(form1, out + QStringLiteral("/main-large.png")) && ok;
    form1.Label1->SetCaption(QStringLiteral("12 秒後にもう一度試します"));
    ok = save(form1, out + QStringLiteral("/main-retry.png")) && ok;
    form1.Label1->SetCaption(QString::fromUtf8(TMessages::FailedStatus));
    form1.CuteButton2->hide();
    ok = save(form1, out + QStringLiteral("/main-failed.png")) && ok;
    form1.Label1->SetCaption(ready);
    form1.Label2->SetCaption(size);
    ok = saveModal([] { ShowMessageBox(QStringLiteral("error\n") + QString::fromStdString(TMessages::ReplyLine(503))); },
                   out + QStringLiteral("/message.png")) &&
         ok;
    // A failed download's message, one of the longest.
    ok = saveModal(
             [] {
                 ShowMessageBox(QStringLiteral("発行者のファイルと確認できませんでした\n"
                                               "前に受け取ったものより古い版です: 署名の日時 2026-11-01 09:00:00、"
                                               "前回 2026-12-01 09:00:00"));
             },
             out + QStringLiteral("/failure.png")) &&
         ok;
    ok = saveModal([] { PasswordBox(QStringLiteral("PASSWORD"), QStringLiteral("パスワードを入力してください"), QString()); },
                   out + QStringLiteral("/password.png")) &&
         ok;
    QString chosen;
    ok = saveModal([&] { ChooseOpenFile(form2.OpenDialog2Filter, form2.OpenDialog2Title, chosen); },
                   out + QStringLiteral("/open-file.png")) &&
         ok;
    TColor color = 0;
    ok = saveModal([&] { ChooseColor(color); }, out + QStringLiteral("/color.png")) && ok;
    return ok ? 0 : 1;
}
