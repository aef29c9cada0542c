// Fetchlet: downloads one file over HTTP into its working folder (the
// current directory at start), checks it and extracts it.
//
// Start-up: the application object, the title "Fetchlet", the main window
// (which fixes the working folder), the settings window (which loads
// "DL.ini" and applies it to the main window), the proxy window; then the
// message loop until the application is told to terminate or the main
// window closes. The program reads no arguments of its own.
#include "app/Unit1.h"
#include "app/Unit2.h"
#include "app/Unit3.h"
#include "runtime/Application.h"
#include "runtime/Fonts.h"
#include "runtime/PoolThreads.h"
#include "runtime/Translations.h"

#include <QApplication>
#include <QStyleFactory>

int main(int argc, char** argv)
{
    TPoolThreadsWait poolThreads; // ends after the application object
    QApplication qtApplication(argc, argv);
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
