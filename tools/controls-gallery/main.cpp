// controls-gallery OUTDIR: writes PNG files of exactly what the gauge and the
// owner-drawn button paint (their composed images, not screenshots).
//
//   gauge-KIND-P-BORDER.png  KIND text, hbar, vbar, pie, needle; P 0, 1, 30,
//                            50, 99, 100; BORDER single, none. 169 x 28 for
//                            text and bars, 100 x 100 for pie and needle,
//                            ForeColor 0x00629BE8, the rest at the defaults.
//   button-STATE.png         STATE rest, raised, lowered, focused (with the
//                            focus rectangle shown), disabled, disabled-color;
//                            107 x 25, caption "DownLoad", the main window's
//                            download-button colours.
// Both use the main window's font, IPAPGothic at 12 pixels. Under a device
// pixel ratio other than 1 (QT_SCALE_FACTOR=2, say) the images are composed
// at the device's resolution, as the controls paint on such a screen.
// --help and --version as every tool answers them.
#include "controls/CuteBtn.h"
#include "controls/Gauges.h"
#include "runtime/PoolThreads.h"
#include "runtime/ToolCli.h"

#include <QApplication>
#include <QDir>
#include <QFont>

#include <cstdio>
#include <utility>

namespace {

QFont FormLikeFont()
{
    QFont f(QStringLiteral("IPAPGothic"));
    f.setPixelSize(12);
    return f;
}

bool Save(const QImage& image, const QString& path)
{
    if (!image.save(path, "PNG")) {
        std::fprintf(stderr, "controls-gallery: cannot write %s\n", qPrintable(path));
        return false;
    }
    return true;
}

bool Gauges(const QDir& out)
{
    const std::pair<TGaugeKind, const char*> kinds[] = {
        {gkText, "text"}, {gkHorizontalBar, "hbar"}, {gkVerticalBar, "vbar"}, {gkPie, "pie"}, {gkNeedle, "needle"}};
    const int percents[] = {0, 1, 30, 50, 99, 100};
    const std::pair<TBorderStyle, const char*> borders[] = {{bsSingle, "single"}, {bsNone, "none"}};
    bool ok = true;
    for (const auto& [kind, kindName] : kinds) {
        for (int p : percents) {
            for (const auto& [border, borderName] : borders) {
                TGauge gauge;
                gauge.SetFont(FormLikeFont());
                const bool round = kind == gkPie || kind == gkNeedle;
                gauge.SetBounds(0, 0, round ? 100 : 169, round ? 100 : 28);
                gauge.SetForeColor(0x00629BE8);
                gauge.SetKind(kind);
                gauge.SetBorderStyle(border);
                gauge.SetProgress(p);
                const QString name = QStringLiteral("gauge-%1-%2-%3.png")
                                         .arg(QLatin1String(kindName))
                                         .arg(p)
                                         .arg(QLatin1String(borderName));
                ok = Save(gauge.Render(), out.filePath(name)) && ok;
            }
        }
    }
    return ok;
}

bool Buttons(const QDir& out)
{
    const char* states[] = {"rest", "raised", "lowered", "focused", "disabled", "disabled-color"};
    bool ok = true;
    for (const char* state : states) {
        const QString s = QLatin1String(state);
        QWidget form;
        form.resize(150, 60);
        auto* button = new TCuteButton(&form);
        button->SetBounds(20, 20, 107, 25);
        button->SetCaption(QStringLiteral("DownLoad"));
        button->SetColor(0x001A479B);
        button->SetFont(FormLikeFont());
        button->SetFontColor(0x00C1FDFC);
        if (s == QLatin1String("raised")) {
            button->SetBevelOuter(bvRaised);
        } else if (s == QLatin1String("lowered")) {
            button->SetBevelOuter(bvLowered);
        } else if (s == QLatin1String("focused")) {
            button->SetShowFocusRect(true);
            form.show();
            form.activateWindow();
            button->setFocus(Qt::TabFocusReason);
            QApplication::processEvents();
            if (!button->hasFocus())
                std::fprintf(stderr, "controls-gallery: the button did not get the focus\n");
        } else if (s.startsWith(QLatin1String("disabled"))) {
            button->SetUseDisabledColor(s == QLatin1String("disabled-color"));
            button->setEnabled(false);
        }
        ok = Save(button->Render(), out.filePath(QStringLiteral("button-%1.png").arg(s))) && ok;
    }
    return ok;
}

} // namespace

int main(int argc, char** argv)
{
    const ToolCli cli("controls-gallery", "controls-gallery OUTDIR",
                      "Writes PNG files of exactly what the progress gauge and the owner-drawn\n"
                      "button paint (gauge-KIND-PERCENT-BORDER.png, button-STATE.png) to OUTDIR,\n"
                      "at the device's resolution (QT_SCALE_FACTOR=2 doubles it).\n");
    if (const auto done = cli.StandardOptions(argc, argv))
        return *done;
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    TPoolThreadsWait poolThreads; // ends after the application object
    QApplication app(argc, argv); // takes Qt's own options out of argv
    if (argc != 2)
        return cli.Usage(argc < 2 ? "OUTDIR is needed" : "only one OUTDIR");
    const QDir out(QString::fromLocal8Bit(argv[1]));
    if (!QDir().mkpath(out.path())) {
        std::fprintf(stderr, "controls-gallery: cannot create %s\n", argv[1]);
        return 1;
    }
    const bool ok = Gauges(out) && Buttons(out);
    return ok ? 0 : 1;
}
