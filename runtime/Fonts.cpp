#include "runtime/Fonts.h"

#include <QFontDatabase>
#include <QStringList>

void InstallFontSubstitutes()
{
    static bool done = false;
    if (done)
        return;
    done = true;
    QFont::insertSubstitutions(QStringLiteral("ＭＳ Ｐゴシック"),
                               {QStringLiteral("IPAPGothic"), QStringLiteral("IPAPゴシック"),
                                QStringLiteral("IPAGothic"), QStringLiteral("Noto Sans CJK JP")});
}

QFont FormFont(int pixelHeight, bool bold, bool underline)
{
    InstallFontSubstitutes();
    QFont font(QStringLiteral("ＭＳ Ｐゴシック"));
    font.setPixelSize(pixelHeight);
    font.setBold(bold);
    font.setUnderline(underline);
    return font;
}
