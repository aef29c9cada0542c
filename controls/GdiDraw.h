// Drawing primitives with the rules of the Windows graphics interface, on
// 32-bit off-screen images (QImage::Format_RGB32), shared by the owner-drawn
// button and the gauge.
//
// Rectangles are given by their edges; right and bottom are exclusive, as
// for every rectangle of the controls. Pens are one pixel wide.
//
// - Ellipse: the pixels whose centres lie inside the ellipse inscribed in the
//   bounding rectangle are filled with the brush; those of them with a
//   horizontal or vertical neighbour outside are the outline, in the pen.
// - Pie: the part of that ellipse swept counter-clockwise (as seen on the
//   screen) from the radial through the first point to the radial through
//   the second; the radials run from the ellipse's centre through the centres
//   of the given pixels. When both radials coincide the whole ellipse is
//   drawn. The outline is the wedge's own boundary.
// - Line: from the first point to the second, the last point not drawn.
// - Frame3D: rings from the outside in; the left and top edges in the top
//   colour, the right and bottom edges in the bottom colour, the top-right and
//   bottom-left corner pixels in the bottom colour. Shrinks the rectangle by
//   the frame's width.
// - XorInto: the XOR raster operation (SRCINVERT) of a whole layer.
// - FocusRect: the dotted focus rectangle, drawn by inverting every other
//   pixel of its one-pixel outline.
// Everything is clipped to the image.
#pragma once
#include <QImage>

#include <cstdint>

struct TRect {
    int Left = 0;
    int Top = 0;
    int Right = 0;
    int Bottom = 0;
    int Width() const { return Right - Left; }
    int Height() const { return Bottom - Top; }
    void Inflate(int dx, int dy)
    {
        Left -= dx;
        Top -= dy;
        Right += dx;
        Bottom += dy;
    }
};

// Pixel values are 0xFFRRGGBB, as QImage::Format_RGB32 stores them.
using TPixel = std::uint32_t;

namespace GdiDraw {

void FillRect(QImage& image, const TRect& rect, TPixel color);
void Line(QImage& image, int x1, int y1, int x2, int y2, TPixel pen);
void Ellipse(QImage& image, const TRect& box, TPixel pen, TPixel brush);
void Pie(QImage& image, const TRect& box, int x1, int y1, int x2, int y2, TPixel pen, TPixel brush);
void Frame3D(QImage& image, TRect& rect, TPixel top, TPixel bottom, int width);
void XorInto(QImage& dest, const QImage& layer);
void FocusRect(QImage& image, const TRect& rect);

} // namespace GdiDraw
