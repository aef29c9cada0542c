// The controls at a device pixel ratio of 2: one-pixel lines cover exactly
// two device pixels, curves and glyphs are drawn at the device's resolution
// (not the ratio-1 picture enlarged), and the primitives keep their rules.
#include "controls/CuteBtn.h"
#include "controls/Gauges.h"
#include "controls/GdiDraw.h"

#include <QFont>

#include <gtest/gtest.h>

namespace {

constexpr TPixel FacePx = 0xFF9B471A;      // 0x001A479B
constexpr TPixel TextPx = 0xFFFCFDC1;      // 0x00C1FDFC
constexpr TPixel HighlightPx = 0xFFFFFFFF; // clBtnHighlight
constexpr TPixel ShadowPx = 0xFFA0A0A0;    // clBtnShadow
constexpr TPixel ForePx = 0xFFE89B62;      // 0x00629BE8
constexpr TPixel BackPx = 0xFFFFFFFF;

TPixel At(const QImage& image, int x, int y)
{
    return reinterpret_cast<const TPixel*>(image.constScanLine(y))[x];
}

int Count(const QImage& image, TPixel colour)
{
    int n = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            n += At(image, x, y) == colour;
    return n;
}

// Any 2 x 2 block on even coordinates with two colours: a picture enlarged
// from ratio 1 has none.
bool FinerThanDoubled(const QImage& image, int left, int top, int right, int bottom)
{
    for (int y = top; y + 1 < bottom; y += 2)
        for (int x = left; x + 1 < right; x += 2) {
            const TPixel a = At(image, x, y);
            if (At(image, x + 1, y) != a || At(image, x, y + 1) != a || At(image, x + 1, y + 1) != a)
                return true;
        }
    return false;
}

QFont FormLikeFont()
{
    QFont f(QStringLiteral("IPAPGothic"));
    f.setPixelSize(12);
    return f;
}

TEST(DeviceRatio, ButtonBevelsAreTwoDevicePixelsAndTheCaptionIsDeviceSharp)
{
    TCuteButton button;
    button.SetBounds(0, 0, 107, 25);
    button.SetCaption(QStringLiteral("DownLoad"));
    button.SetColor(0x001A479B);
    button.SetFontColor(0x00C1FDFC);
    button.SetFont(FormLikeFont());
    const QImage one = button.Render(1);
    const QImage two = button.Render(2);
    ASSERT_EQ(two.size(), QSize(214, 50));
    EXPECT_EQ(two.devicePixelRatio(), 2.0);
    EXPECT_EQ(one.devicePixelRatio(), 1.0);
    EXPECT_EQ(one, button.Render()) << "an unscaled widget paints at ratio 1";

    // At rest: the inner raised bevel, one logical pixel wide.
    for (int y : {4, 25, 45}) {
        EXPECT_EQ(At(two, 0, y), HighlightPx);
        EXPECT_EQ(At(two, 1, y), HighlightPx);
        EXPECT_EQ(At(two, 2, y), FacePx);
        EXPECT_EQ(At(two, 213, y), ShadowPx);
        EXPECT_EQ(At(two, 212, y), ShadowPx);
        EXPECT_EQ(At(two, 211, y), FacePx);
    }
    EXPECT_EQ(At(two, 100, 0), HighlightPx);
    EXPECT_EQ(At(two, 100, 1), HighlightPx);
    EXPECT_EQ(At(two, 100, 2), FacePx);
    EXPECT_EQ(At(two, 100, 49), ShadowPx);
    EXPECT_EQ(At(two, 100, 48), ShadowPx);
    EXPECT_EQ(At(two, 100, 47), FacePx);

    // The caption: about four times the glyph pixels, with detail that an
    // enlarged ratio-1 caption cannot have.
    const int glyphs1 = Count(one, TextPx), glyphs2 = Count(two, TextPx);
    ASSERT_GT(glyphs1, 50);
    EXPECT_GT(glyphs2, glyphs1 * 5 / 2);
    EXPECT_LT(glyphs2, glyphs1 * 6);
    EXPECT_TRUE(FinerThanDoubled(two, 4, 4, 210, 46));

    // Pressed: two logical bevels of shadow on the left, four device pixels.
    button.SetBevelOuter(bvLowered);
    const QImage pressed = button.Render(2);
    for (int x = 0; x < 2; ++x)
        EXPECT_EQ(At(pressed, x, 25), ShadowPx);
    EXPECT_EQ(At(pressed, 2, 25), HighlightPx);
    EXPECT_EQ(At(pressed, 3, 25), HighlightPx);
    EXPECT_EQ(At(pressed, 4, 25), FacePx);
}

TEST(DeviceRatio, GaugeBarBorderPieAndText)
{
    TGauge gauge;
    gauge.SetFont(FormLikeFont());
    gauge.SetBounds(0, 0, 169, 28);
    gauge.SetForeColor(0x00629BE8);
    gauge.SetProgress(30);
    const QImage one = gauge.Render(1);
    const QImage two = gauge.Render(2);
    ASSERT_EQ(two.size(), QSize(338, 56));
    // The single border stays black: one logical pixel, two device pixels.
    EXPECT_EQ(At(two, 100, 0), 0xFF000000u);
    EXPECT_EQ(At(two, 100, 1), 0xFF000000u);
    EXPECT_EQ(At(two, 0, 20), 0xFF000000u);
    EXPECT_EQ(At(two, 1, 20), 0xFF000000u);
    EXPECT_EQ(At(two, 337, 20), 0xFF000000u);
    EXPECT_EQ(At(two, 336, 20), 0xFF000000u);
    // 30 % of the 168 pixels inside ends the bar at x = 50: logical 1..49,
    // device 2..99.
    EXPECT_EQ(At(one, 49, 10), ForePx);
    EXPECT_EQ(At(one, 50, 10), BackPx);
    EXPECT_EQ(At(two, 2, 20), ForePx);
    EXPECT_EQ(At(two, 99, 20), ForePx);
    EXPECT_EQ(At(two, 100, 20), BackPx);
    EXPECT_TRUE(FinerThanDoubled(two, 4, 4, 334, 52)) << "the percentage is rendered at device size";

    gauge.SetBounds(0, 0, 100, 100);
    gauge.SetKind(gkPie);
    const QImage pie = gauge.Render(2);
    ASSERT_EQ(pie.size(), QSize(200, 200));
    // Along the middle row, the outline at the left is two device pixels.
    int x = 2;
    while (x < 100 && At(pie, x, 100) != ForePx)
        ++x;
    EXPECT_LT(x, 10);
    EXPECT_EQ(At(pie, x + 1, 100), ForePx);
    EXPECT_EQ(At(pie, x + 2, 100), BackPx);
    EXPECT_TRUE(FinerThanDoubled(pie, 2, 2, 198, 198));
}

TEST(DeviceRatio, PrimitivesAtScaleTwo)
{
    constexpr TPixel Ink = 0xFF102030, Paper = 0xFFF0F0F0;
    QImage image(40, 40, QImage::Format_RGB32);
    image.fill(Paper);
    GdiDraw::Line(image, 2, 3, 12, 3, Ink, 2); // logical (2..11, 3)
    for (int y = 0; y < 40; ++y)
        for (int x = 0; x < 40; ++x)
            EXPECT_EQ(At(image, x, y) == Ink, x >= 4 && x < 24 && (y == 6 || y == 7)) << x << "," << y;

    image.fill(Paper);
    TRect r{1, 1, 10, 8};
    GdiDraw::Frame3D(image, r, HighlightPx, ShadowPx, 1, 2);
    EXPECT_EQ(r.Left, 2);
    EXPECT_EQ(r.Bottom, 7);
    EXPECT_EQ(At(image, 2, 8), HighlightPx);
    EXPECT_EQ(At(image, 3, 8), HighlightPx);
    EXPECT_EQ(At(image, 4, 8), Paper);
    EXPECT_EQ(At(image, 8, 15), ShadowPx);
    EXPECT_EQ(At(image, 8, 14), ShadowPx);
    EXPECT_EQ(At(image, 8, 13), Paper);
    EXPECT_EQ(At(image, 19, 2), ShadowPx) << "top-right corner in the bottom colour";

    // The focus rectangle inverts whole device blocks and undoes itself.
    image.fill(Paper);
    const QImage before = image;
    GdiDraw::FocusRect(image, TRect{1, 1, 8, 6}, 2);
    EXPECT_EQ(At(image, 2, 2), 0xFF000000u | (~Paper & 0xFFFFFFu));
    EXPECT_EQ(At(image, 3, 3), At(image, 2, 2));
    EXPECT_EQ(At(image, 4, 2), Paper);
    GdiDraw::FocusRect(image, TRect{1, 1, 8, 6}, 2);
    EXPECT_EQ(image, before);
}

} // namespace
