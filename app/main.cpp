// Fetchlet: downloads one file over HTTP into its working folder (the
// current directory at start), checks it and extracts it.
//
// Start-up: the application object, the title "Fetchlet", the main window
// (which fixes the working folder), the settings window (which loads
// "DL.ini" and applies it to the main window), the proxy window; then the
// message loop until the application is told to terminate or the main
// window closes. The program reads no arguments of its own beyond --help
// and --version, which it answers as every tool of the project does
// (without a display); Qt takes its own options. Without a display it says
// so in one line and ends with exit code 1.
#include "app/Unit1.h"
#include "app/Unit2.h"
#include "app/Unit3.h"
#include "runtime/Application.h"
#include "runtime/Fonts.h"
#include "runtime/GuiStart.h"
#include "runtime/PoolThreads.h"
#include "runtime/Translations.h"
#include "runtime/ToolCli.h"

#include <QApplication>
#include <QStyleFactory>

int main(int argc, char** argv)
{
    const ToolCli cli("fetchlet", "fetchlet [QT-OPTION]...",
                      "Downloads the one file that the publisher has set up in \"DL.ini\" of the\n"
                      "current directory into it, checks its CRC and extracts it (see fetchlet(1)).\n"
                      "Apart from --help and --version it reads no arguments of its own; Qt's\n"
                      "options (-platform, -display, ...) are understood as by every Qt program.\n");
    if (const auto done = cli.StandardOptions(argc, argv))
        return *done;
    TPoolThreadsWait poolThreads; // ends after the application object
    const auto qtApplication = MakeGuiApplication(argc, argv, "fetchlet");
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    InstallFontSubstitutes();
    InstallQtTranslations();
    Application().SetTitle(QStringLiteral("Fetchlet"));
    TForm1 form1;
    Application().SetMainForm(&form1);
    TForm2 form2;
    TForm3 form3;
    form1.show();
    return Application().Run();
}
