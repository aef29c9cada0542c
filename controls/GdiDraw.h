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
//
// Device resolution: every primitive takes coordinates in the controls'
// pixels (logical pixels) and a scale, the device pixel ratio of the image it
// draws on, which is that many times larger. A logical edge e lies at the
// device edge DeviceLength(e, scale); pens are PenWidth(scale) device pixels
// wide, so a one-pixel line covers exactly 2 device pixels at a ratio of 2;
// ellipses and pies are sampled at the centres of device pixels, so their
// curves are as fine as the device; lines are traced at device resolution.
// At a scale of 1 every primitive draws exactly the pixels described above.
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

// round(logical * scale), kept inside the 32-bit range.
int DeviceLength(int logical, double scale);
// The device pixels of a one-pixel pen: round(scale), at least 1.
int PenWidth(double scale);

void FillRect(QImage& image, const TRect& rect, TPixel color, double scale = 1);
void Line(QImage& image, int x1, int y1, int x2, int y2, TPixel pen, double scale = 1);
void Ellipse(QImage& image, const TRect& box, TPixel pen, TPixel brush, double scale = 1);
void Pie(QImage& image, const TRect& box, int x1, int y1, int x2, int y2, TPixel pen, TPixel brush,
         double scale = 1);
// Shrinks rect (logical) by width; the rings are width logical pixels wide.
void Frame3D(QImage& image, TRect& rect, TPixel top, TPixel bottom, int width, double scale = 1);
void XorInto(QImage& dest, const QImage& layer);
void FocusRect(QImage& image, const TRect& rect, double scale = 1);

} // namespace GdiDraw
