// The drawing rules the controls share: exclusive right and bottom edges,
// the 3-D frame's corner rule, lines without their last point, the
// ellipse inside its box, and the dotted focus rectangle.
#include "controls/GdiDraw.h"

#include <gtest/gtest.h>

namespace {

constexpr TPixel Top = 0xFF111111, Bottom = 0xFF222222, Face = 0xFF777777;

QImage Blank(int w, int h)
{
    QImage image(w, h, QImage::Format_RGB32);
    image.fill(Face);
    return image;
}

} // namespace

TEST(GdiDraw, Frame3DRingsAndCornerRule)
{
    QImage img = Blank(10, 6);
    TRect r{0, 0, 10, 6};
    GdiDraw::Frame3D(img, r, Top, Bottom, 2);
    EXPECT_EQ(r.Left, 2);
    EXPECT_EQ(r.Top, 2);
    EXPECT_EQ(r.Right, 8);
    EXPECT_EQ(r.Bottom, 4);
    for (int ring = 0; ring < 2; ++ring) {
        const int l = ring, t = ring, rr = 9 - ring, b = 5 - ring;
        EXPECT_EQ(img.pixel(l, t), Top);
        EXPECT_EQ(img.pixel(rr - 1, t), Top);
        EXPECT_EQ(img.pixel(l, b - 1), Top);
        EXPECT_EQ(img.pixel(rr, t), Bottom); // top-right corner
        EXPECT_EQ(img.pixel(l, b), Bottom);  // bottom-left corner
        EXPECT_EQ(img.pixel(rr, b), Bottom);
    }
    EXPECT_EQ(img.pixel(2, 2), Face);
    EXPECT_EQ(img.pixel(7, 3), Face);

    // A frame wider than the rectangle stops when the rings run out and
    // never overflows.
    QImage small = Blank(4, 4);
    TRect huge{0, 0, 4, 4};
    GdiDraw::Frame3D(small, huge, Top, Bottom, 2147483647);
    EXPECT_EQ(huge.Left, 2147483647);
    EXPECT_EQ(huge.Right, 4 - 2147483647);
}

TEST(GdiDraw, LinesLeaveOutTheirLastPoint)
{
    QImage img = Blank(8, 8);
    GdiDraw::Line(img, 1, 1, 5, 1, Top);
    EXPECT_EQ(img.pixel(1, 1), Top);
    EXPECT_EQ(img.pixel(4, 1), Top);
    EXPECT_EQ(img.pixel(5, 1), Face);
    GdiDraw::Line(img, 0, 7, 7, 0, Bottom); // diagonal, clipped ends
    EXPECT_EQ(img.pixel(0, 7), Bottom);
    EXPECT_EQ(img.pixel(6, 1), Bottom);
    EXPECT_EQ(img.pixel(7, 0), Face);
    GdiDraw::Line(img, -100000, 3, 100000, 3, Top);
    EXPECT_EQ(img.pixel(0, 3), Top);
    EXPECT_EQ(img.pixel(7, 3), Top);
}

TEST(GdiDraw, EllipseStaysInsideItsBox)
{
    QImage img = Blank(20, 12);
    GdiDraw::Ellipse(img, TRect{2, 1, 18, 11}, Top, Bottom);
    bool left = false, right = false, top = false, bottom = false;
    for (int y = 0; y < 12; ++y)
        for (int x = 0; x < 20; ++x) {
            const bool drawn = img.pixel(x, y) != Face;
            if (!drawn)
                continue;
            ASSERT_TRUE(x >= 2 && x < 18 && y >= 1 && y < 11) << x << "," << y;
            left |= x == 2;
            right |= x == 17;
            top |= y == 1;
            bottom |= y == 10;
            EXPECT_NE(img.pixel(19 - x, y), Face); // symmetric about the centre
            EXPECT_NE(img.pixel(x, 11 - y), Face);
        }
    EXPECT_TRUE(left && right && top && bottom);
    EXPECT_EQ(img.pixel(10, 6), Bottom); // brush inside
    EXPECT_EQ(img.pixel(10, 1), Top);    // pen on the outline
}

TEST(GdiDraw, FocusRectangleIsDottedAndUndoesItself)
{
    QImage img = Blank(9, 7);
    GdiDraw::Line(img, 0, 3, 9, 3, Top);
    const QImage before = img.copy();
    GdiDraw::FocusRect(img, TRect{1, 1, 8, 6});
    EXPECT_NE(img, before);
    EXPECT_EQ(img.pixel(1, 1), 0xFF888888u); // inverted
    EXPECT_EQ(img.pixel(2, 1), Face);        // dotted
    EXPECT_EQ(img.pixel(4, 3), Top);         // inside untouched
    GdiDraw::FocusRect(img, TRect{1, 1, 8, 6});
    EXPECT_EQ(img, before);
}
