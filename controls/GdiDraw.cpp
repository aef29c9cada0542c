#include "controls/GdiDraw.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <numbers>

namespace GdiDraw {

namespace {

inline bool inside(const QImage& image, int x, int y)
{
    return x >= 0 && y >= 0 && x < image.width() && y < image.height();
}

inline void put(QImage& image, int x, int y, TPixel color)
{
    if (inside(image, x, y))
        reinterpret_cast<TPixel*>(image.scanLine(y))[x] = color;
}

// The ellipse inscribed in a box, sampled at pixel centres.
struct EllipseShape {
    double cx, cy, rx, ry;
    explicit EllipseShape(const TRect& box)
        : cx((double(box.Left) + box.Right) / 2), cy((double(box.Top) + box.Bottom) / 2),
          rx((double(box.Right) - box.Left) / 2), ry((double(box.Bottom) - box.Top) / 2)
    {
    }
    bool contains(int x, int y) const
    {
        if (rx <= 0 || ry <= 0)
            return false;
        const double dx = (x + 0.5 - cx) / rx;
        const double dy = (y + 0.5 - cy) / ry;
        return dx * dx + dy * dy <= 1.0;
    }
    // Angle of a pixel's centre, counter-clockwise from three o'clock as seen
    // on the screen.
    double angle(double px, double py) const { return std::atan2(cy - (py + 0.5), (px + 0.5) - cx); }
};

// Fills a region (brush) and its boundary (pen) inside the box.
template <typename InRegion>
void drawRegion(QImage& image, const TRect& box, InRegion in, TPixel pen, TPixel brush)
{
    const int x0 = std::max(box.Left, 0), x1 = std::min(box.Right, image.width());
    const int y0 = std::max(box.Top, 0), y1 = std::min(box.Bottom, image.height());
    for (int y = y0; y < y1; ++y) {
        for (int x = x0; x < x1; ++x) {
            if (!in(x, y))
                continue;
            const bool edge = !in(x - 1, y) || !in(x + 1, y) || !in(x, y - 1) || !in(x, y + 1);
            put(image, x, y, edge ? pen : brush);
        }
    }
}

} // namespace

void FillRect(QImage& image, const TRect& rect, TPixel color)
{
    const int x0 = std::max(rect.Left, 0), x1 = std::min(rect.Right, image.width());
    const int y0 = std::max(rect.Top, 0), y1 = std::min(rect.Bottom, image.height());
    if (x1 <= x0)
        return;
    for (int y = y0; y < y1; ++y) {
        auto* row = reinterpret_cast<TPixel*>(image.scanLine(y));
        std::fill(row + x0, row + x1, color);
    }
}

void Line(QImage& image, int x1, int y1, int x2, int y2, TPixel pen)
{
    // Bresenham; 64-bit steps so that far-away end points cannot overflow.
    long long x = x1, y = y1;
    const long long dx = std::llabs(static_cast<long long>(x2) - x1);
    const long long dy = -std::llabs(static_cast<long long>(y2) - y1);
    const int sx = x1 < x2 ? 1 : -1, sy = y1 < y2 ? 1 : -1;
    long long err = dx + dy;
    const long long steps = std::max(dx, -dy);
    for (long long i = 0; i < steps; ++i) {
        if (x >= 0 && y >= 0 && x < image.width() && y < image.height())
            put(image, static_cast<int>(x), static_cast<int>(y), pen);
        const long long e2 = 2 * err;
        if (e2 >= dy) {
            err += dy;
            x += sx;
        }
        if (e2 <= dx) {
            err += dx;
            y += sy;
        }
    }
}

void Ellipse(QImage& image, const TRect& box, TPixel pen, TPixel brush)
{
    const EllipseShape e(box);
    drawRegion(image, box, [&](int x, int y) { return e.contains(x, y); }, pen, brush);
}

void Pie(QImage& image, const TRect& box, int x1, int y1, int x2, int y2, TPixel pen, TPixel brush)
{
    const EllipseShape e(box);
    const double start = e.angle(x1, y1);
    const double end = e.angle(x2, y2);
    constexpr double twoPi = 2 * std::numbers::pi;
    double sweep = end - start;
    if (sweep < 0)
        sweep += twoPi;
    const bool whole = (x1 == x2 && y1 == y2) || sweep == 0;
    auto in = [&](int x, int y) {
        if (!e.contains(x, y))
            return false;
        if (whole)
            return true;
        double d = e.angle(x, y) - start;
        if (d < 0)
            d += twoPi;
        return d <= sweep;
    };
    drawRegion(image, box, in, pen, brush);
}

void Frame3D(QImage& image, TRect& rect, TPixel top, TPixel bottom, int width)
{
    // Each ring: right and bottom taken as the last column and row inside.
    long long l = rect.Left, t = rect.Top, r = static_cast<long long>(rect.Right) - 1,
              b = static_cast<long long>(rect.Bottom) - 1;
    for (long long ring = 0; ring < width && l <= r && t <= b; ++ring, ++l, ++t, --r, --b) {
        const int L = int(l), T = int(t), R = int(r), B = int(b);
        for (int y = B; y >= T; --y)
            put(image, L, y, top);
        for (int x = L; x < R; ++x)
            put(image, x, T, top);
        for (int y = T; y <= B; ++y)
            put(image, R, y, bottom);
        for (int x = R; x >= L; --x)
            put(image, x, B, bottom);
    }
    const auto shrink = [width](int v, int dir) {
        const long long moved = static_cast<long long>(v) + dir * static_cast<long long>(std::max(width, 0));
        return static_cast<int>(std::clamp<long long>(moved, INT32_MIN, INT32_MAX));
    };
    rect.Left = shrink(rect.Left, 1);
    rect.Top = shrink(rect.Top, 1);
    rect.Right = shrink(rect.Right, -1);
    rect.Bottom = shrink(rect.Bottom, -1);
}

void XorInto(QImage& dest, const QImage& layer)
{
    const int w = std::min(dest.width(), layer.width());
    const int h = std::min(dest.height(), layer.height());
    for (int y = 0; y < h; ++y) {
        auto* d = reinterpret_cast<TPixel*>(dest.scanLine(y));
        const auto* s = reinterpret_cast<const TPixel*>(layer.constScanLine(y));
        for (int x = 0; x < w; ++x)
            d[x] = 0xFF000000u | ((d[x] ^ s[x]) & 0x00FFFFFFu);
    }
}

void FocusRect(QImage& image, const TRect& rect)
{
    if (rect.Right <= rect.Left || rect.Bottom <= rect.Top)
        return;
    auto invert = [&](int x, int y) {
        if (((x + y) & 1) == 0 && inside(image, x, y)) {
            auto& p = reinterpret_cast<TPixel*>(image.scanLine(y))[x];
            p = 0xFF000000u | (~p & 0x00FFFFFFu);
        }
    };
    const int r = rect.Right - 1, b = rect.Bottom - 1;
    for (int x = rect.Left; x <= r; ++x) {
        invert(x, rect.Top);
        if (b != rect.Top)
            invert(x, b);
    }
    for (int y = rect.Top + 1; y < b; ++y) {
        invert(rect.Left, y);
        if (r != rect.Left)
            invert(r, y);
    }
}

} // namespace GdiDraw
