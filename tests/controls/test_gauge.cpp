// The gauge: geometry of each kind read from the composed image, the XORed
// percentage text, the setters' range rules and repaint counting.
#include "controls/Gauges.h"
#include "runtime/Exceptions.h"

#include <QFont>
#include <QPalette>
#include <QRect>

#include <gtest/gtest.h>

namespace {

constexpr TColor Fore = 0x00629BE8;
constexpr TPixel ForePx = 0xFFE89B62;
constexpr TPixel BackPx = 0xFFFFFFFF;
constexpr TPixel BlackPx = 0xFF000000;

TPixel At(const QImage& image, int x, int y)
{
    return image.pixel(x, y);
}

QFont FormFont()
{
    QFont f(QStringLiteral("IPAPGothic"));
    f.setPixelSize(12);
    return f;
}

struct GaugeFixture : ::testing::Test {
    TGauge gauge;
    void Make(TGaugeKind kind, int w, int h, int progress, TBorderStyle border = bsSingle, bool text = false)
    {
        gauge.SetFont(FormFont());
        gauge.SetBounds(0, 0, w, h);
        gauge.SetForeColor(Fore);
        gauge.SetKind(kind);
        gauge.SetBorderStyle(border);
        gauge.SetShowText(text);
        gauge.SetProgress(progress);
    }
    // True when every pixel of the rectangle [l, r) x [t, b) has the value.
    static bool All(const QImage& image, int l, int t, int r, int b, TPixel value)
    {
        for (int y = t; y < b; ++y)
            for (int x = l; x < r; ++x)
                if (At(image, x, y) != value)
                    return false;
        return true;
    }
};

} // namespace

TEST(GaugeArithmetic, FractionsCutTowardsZeroAndPointsRoundTiesToEven)
{
    EXPECT_EQ(ScalePercent(30, 168), 50);
    EXPECT_EQ(ScalePercent(29, 100), 29); // 0.29 in double precision would give 28
    EXPECT_EQ(ScalePercent(100, 168), 168);
    EXPECT_EQ(PercentOf(31, 1000), 3);
    EXPECT_EQ(PercentOf(5, 0), 0);
    EXPECT_EQ(PercentOf(-1, 3), -33);
    EXPECT_EQ(RoundEven(2.5L), 2);
    EXPECT_EQ(RoundEven(3.5L), 4);
    EXPECT_EQ(RoundEven(-2.5L), -2);
    EXPECT_EQ(RoundEven(2.5000001L), 3);
}

TEST_F(GaugeFixture, MainWindowGaugeAt30Percent)
{
    Make(gkHorizontalBar, 169, 28, 30, bsSingle, false);
    const QImage plain = gauge.Render();
    ASSERT_EQ(plain.size(), QSize(169, 28));
    // Black one-pixel border.
    EXPECT_TRUE(All(plain, 0, 0, 169, 1, BlackPx));
    EXPECT_TRUE(All(plain, 0, 27, 169, 28, BlackPx));
    EXPECT_TRUE(All(plain, 0, 0, 1, 28, BlackPx));
    EXPECT_TRUE(All(plain, 168, 0, 169, 28, BlackPx));
    // The bar over columns 1 to 49, the undone part to its right.
    EXPECT_TRUE(All(plain, 1, 1, 50, 27, ForePx));
    EXPECT_TRUE(All(plain, 50, 1, 168, 27, BackPx));

    // The text: every pixel it touches is the exact inverse of the picture.
    gauge.SetShowText(true);
    const QImage text = gauge.Render();
    QRect glyphs;
    for (int y = 0; y < 28; ++y)
        for (int x = 0; x < 169; ++x) {
            const TPixel a = At(plain, x, y), b = At(text, x, y);
            if (a == b)
                continue;
            ASSERT_EQ(a ^ b, 0x00FFFFFFu) << x << "," << y;
            glyphs = glyphs.united(QRect(x, y, 1, 1));
        }
    ASSERT_FALSE(glyphs.isEmpty());
    EXPECT_TRUE(QRect(1, 1, 167, 26).contains(glyphs));
    // Centred: the glyphs' middle lies near the middle of the paint rectangle.
    EXPECT_NEAR(glyphs.center().x(), 84, 4);
    EXPECT_NEAR(glyphs.center().y(), 14, 4);
}

TEST_F(GaugeFixture, TextInvertsBothPartsAndIgnoresTheFontColour)
{
    // At 50 % the text straddles the bar's edge: glyph pixels over the bar
    // show the bar's inverse, those beside it the background's inverse.
    Make(gkHorizontalBar, 169, 28, 50, bsSingle, true);
    QPalette red = gauge.palette();
    red.setColor(QPalette::WindowText, Qt::red);
    red.setColor(QPalette::Text, Qt::red);
    gauge.setPalette(red);
    const QImage image = gauge.Render();
    bool overBar = false, overBack = false;
    for (int y = 1; y < 27; ++y)
        for (int x = 1; x < 168; ++x) {
            const TPixel p = At(image, x, y);
            overBar |= p == (0xFF000000u | (~ForePx & 0xFFFFFF));
            overBack |= p == BlackPx;
            ASSERT_TRUE(p == ForePx || p == BackPx || p == BlackPx || p == (0xFF000000u | (~ForePx & 0xFFFFFF)))
                << x << "," << y;
        }
    EXPECT_TRUE(overBar);
    EXPECT_TRUE(overBack);
}

TEST_F(GaugeFixture, BarsAtTheEndsOfTheRange)
{
    Make(gkHorizontalBar, 169, 28, 0);
    EXPECT_TRUE(All(gauge.Render(), 1, 1, 168, 27, BackPx));
    gauge.SetProgress(100);
    EXPECT_TRUE(All(gauge.Render(), 1, 1, 168, 27, ForePx));

    gauge.SetKind(gkVerticalBar);
    const QImage full = gauge.Render();
    EXPECT_TRUE(All(full, 1, 1, 168, 27, ForePx)); // exactly the paint rectangle
    EXPECT_TRUE(All(full, 0, 0, 169, 1, BlackPx));
    gauge.SetProgress(0);
    EXPECT_TRUE(All(gauge.Render(), 1, 1, 168, 27, BackPx));

    // Without a border the horizontal bar covers the whole control.
    gauge.SetBorderStyle(bsNone);
    gauge.SetKind(gkHorizontalBar);
    gauge.SetProgress(100);
    EXPECT_TRUE(All(gauge.Render(), 0, 0, 169, 28, ForePx));

    gauge.SetKind(gkText);
    EXPECT_TRUE(All(gauge.Render(), 0, 0, 169, 28, BackPx));
}

TEST_F(GaugeFixture, PieGrowsClockwiseFromTwelveOClock)
{
    Make(gkPie, 100, 100, 0);
    QImage img = gauge.Render();
    EXPECT_EQ(At(img, 50, 50), BackPx);
    EXPECT_EQ(At(img, 50, 1), ForePx);   // outline at the top
    EXPECT_EQ(At(img, 2, 2), BackPx);    // the control's Color (clWindow) around the ellipse
    EXPECT_TRUE(All(img, 0, 0, 100, 1, BlackPx));

    gauge.SetProgress(25);
    img = gauge.Render();
    EXPECT_EQ(At(img, 70, 30), ForePx); // upper right quarter
    EXPECT_EQ(At(img, 30, 30), BackPx);
    EXPECT_EQ(At(img, 70, 70), BackPx);

    gauge.SetProgress(50);
    img = gauge.Render();
    EXPECT_EQ(At(img, 70, 70), ForePx);
    EXPECT_EQ(At(img, 30, 70), BackPx);

    gauge.SetProgress(100);
    img = gauge.Render();
    for (int y = 1; y < 99; ++y)
        for (int x = 1; x < 99; ++x) {
            const TPixel p = At(img, x, y);
            ASSERT_TRUE(p == ForePx || p == BackPx) << x << "," << y;
            const double dx = (x + 0.5 - 50) / 49, dy = (y + 0.5 - 50) / 49;
            if (dx * dx + dy * dy < 0.9) {
                ASSERT_EQ(p, ForePx) << x << "," << y;
            }
        }
    // The ellipse touches the paint rectangle's four edges.
    EXPECT_EQ(At(img, 50, 1), ForePx);
    EXPECT_EQ(At(img, 50, 98), ForePx);
    EXPECT_EQ(At(img, 1, 50), ForePx);
    EXPECT_EQ(At(img, 98, 50), ForePx);
}

TEST_F(GaugeFixture, NeedleDial)
{
    Make(gkNeedle, 100, 100, 0);
    QImage img = gauge.Render();
    EXPECT_TRUE(All(img, 1, 99, 100, 100, ForePx)); // base line on the border row
    EXPECT_EQ(At(img, 0, 99), BlackPx);
    EXPECT_EQ(At(img, 50, 50), BackPx);
    EXPECT_EQ(At(img, 50, 1), ForePx); // top of the half-ellipse

    gauge.SetProgress(50); // straight up from (50, 98) to the top edge
    img = gauge.Render();
    EXPECT_TRUE(All(img, 50, 2, 51, 98, ForePx));
    EXPECT_EQ(At(img, 49, 50), BackPx);

    gauge.SetBorderStyle(bsNone); // the base line falls outside the control
    gauge.SetProgress(0);
    img = gauge.Render();
    EXPECT_EQ(At(img, 50, 50), BackPx);
    EXPECT_EQ(At(img, 50, 0), ForePx);
}

TEST_F(GaugeFixture, SettersKeepTheRangeAndRepaintOnlyOnChange)
{
    EXPECT_EQ(gauge.Progress(), 0);
    gauge.SetProgress(-5);
    EXPECT_EQ(gauge.Progress(), 0);
    gauge.SetProgress(150);
    EXPECT_EQ(gauge.Progress(), 100);

    gauge.SetProgress(30);
    int repaints = gauge.RepaintCount();
    gauge.SetProgress(30);
    gauge.SetKind(gkHorizontalBar);
    gauge.SetForeColor(clBlack);
    EXPECT_EQ(gauge.RepaintCount(), repaints);

    gauge.SetMinValue(50);
    EXPECT_EQ(gauge.Progress(), 50);
    gauge.SetMinValue(0);

    try {
        gauge.SetMinValue(101);
        FAIL() << "no error";
    } catch (const EInvalidOperation& e) {
        EXPECT_EQ(e.Message(), "-2147483647 から 99 の間の値でなければなりません");
    }
    EXPECT_EQ(gauge.MinValue(), 0);
    try {
        gauge.SetMaxValue(-3);
        FAIL() << "no error";
    } catch (const EInvalidOperation& e) {
        EXPECT_EQ(e.Message(), "1 から 2147483647 の間の値でなければなりません");
    }
    EXPECT_EQ(gauge.MaxValue(), 100);

    gauge.SetMinValue(100); // equal to the maximum: accepted, no division
    EXPECT_EQ(gauge.Percent(), 0);
    gauge.SetMinValue(0);

    // While loading from a form the values may arrive in any order.
    gauge.Loading = true;
    gauge.SetMinValue(500);
    gauge.SetMaxValue(1000);
    gauge.Loading = false;
    EXPECT_EQ(gauge.MinValue(), 500);
    EXPECT_EQ(gauge.MaxValue(), 1000);

    // A fine-grained range repaints only when the whole percentage changes.
    gauge.SetMinValue(0);
    gauge.SetProgress(30);
    repaints = gauge.RepaintCount();
    gauge.SetProgress(31);
    EXPECT_EQ(gauge.Progress(), 31);
    EXPECT_EQ(gauge.RepaintCount(), repaints);
    gauge.SetProgress(0);
    repaints = gauge.RepaintCount();
    for (int v = 0; v <= 1000; v += 3)
        gauge.SetProgress(v);
    gauge.SetProgress(1000);
    EXPECT_EQ(gauge.RepaintCount() - repaints, 100);

    // Extreme ranges neither overflow nor leave 0..100.
    gauge.SetMaxValue(2147483647);
    gauge.SetMinValue(-2147483647 - 1);
    gauge.SetProgress(2147483647);
    EXPECT_EQ(gauge.Percent(), 100);
}
