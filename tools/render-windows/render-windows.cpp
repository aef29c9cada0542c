// render-windows OUTDIR: starts the program's windows in the current
// directory exactly as the program does (the settings load included) and
// writes what they show to OUTDIR/main.png, settings.png, proxy.png and
// version.png. Runs offscreen when there is no display. Under a device pixel
// ratio other than 1 (QT_SCALE_FACTOR=2, say) the images have the device's
// resolution. --help and --version as every tool answers them.
#include "app/Unit1.h"
#include "app/Unit2.h"
#include "app/Unit3.h"
#include "app/V_Unit.h"
#include "runtime/Application.h"
#include "runtime/Fonts.h"
#include "runtime/PoolThreads.h"
#include "tools/common/ToolCli.h"

#include <QApplication>
#include <QDir>
#include <QStyleFactory>

#include <cstdio>
#include <cstdlib>

namespace {

bool save(QWidget& window, const QString& path)
{
    window.show();
    QApplication::processEvents();
    const bool ok = window.grab().save(path);
    std::printf("%s\n", qPrintable(path));
    return ok;
}

} // namespace

int main(int argc, char** argv)
{
    const ToolCli cli("render-windows", "render-windows OUTDIR",
                      "Starts the program's windows in the current directory as the program\n"
                      "does (its \"DL.ini\" loaded) and writes what they show to OUTDIR/main.png,\n"
                      "settings.png, proxy.png and version.png, offscreen when there is no\n"
                      "display, at the device's resolution (QT_SCALE_FACTOR=2 doubles it).\n");
    if (const auto done = cli.StandardOptions(argc, argv))
        return *done;
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    TPoolThreadsWait poolThreads; // ends after the application object
    QApplication qtApplication(argc, argv); // takes Qt's own options out of argv
    if (argc != 2)
        return cli.Usage(argc < 2 ? "OUTDIR is needed" : "only one OUTDIR");
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    InstallFontSubstitutes();
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
    return ok ? 0 : 1;
}
