#include "runtime/Translations.h"

#include "platform/Library.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QString>
#include <QTranslator>

bool InstallQtTranslations()
{
    static bool installed = false;
    static bool done = false;
    if (done)
        return installed;
    done = true;
    const QString folders[] = {QLibraryInfo::path(QLibraryInfo::TranslationsPath),
                               QString::fromStdString(PrivateFolder() + "translations")};
    for (const QString& folder : folders) {
        // Owned by the application object.
        auto* translator = new QTranslator(QCoreApplication::instance());
        if (translator->load(QLocale(), QStringLiteral("qtbase"), QStringLiteral("_"), folder) &&
            QCoreApplication::installTranslator(translator)) {
            installed = true;
            break;
        }
        delete translator;
    }
    return installed;
}
