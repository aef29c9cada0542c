#include "controls/GdiDraw.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <numbers>

namespace GdiDraw {

int DeviceLength(int logical, double scale)
{
    if (scale == 1)
        return logical;
    const double d = std::round(static_cast<double>(logical) * scale);
    return static_cast<int>(std::clamp(d, static_cast<double>(INT_MIN), static_cast<double>(INT_MAX)));
}

int PenWidth(double scale)
{
    return std::max(1, static_cast<int>(std::lround(std::min(scale, 64.0))));
}

namespace {

TRect deviceRect(const TRect& r, double scale)
{
    return TRect{DeviceLength(r.Left, scale), DeviceLength(r.Top, scale), DeviceLength(r.Right, scale),
                 DeviceLength(r.Bottom, scale)};
}

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
    // Angle of a point, counter-clockwise from three o'clock as seen on the
    // screen.
    double angle(double px, double py) const { return std::atan2(cy - py, px - cx); }
};

// Fills a region (brush) and its boundary (pen, penWidth pixels wide) inside
// the box.
template <typename InRegion>
void drawRegion(QImage& image, const TRect& box, InRegion in, TPixel pen, TPixel brush, int penWidth)
{
    const int x0 = std::max(box.Left, 0), x1 = std::min(box.Right, image.width());
    const int y0 = std::max(box.Top, 0), y1 = std::min(box.Bottom, image.height());
    for (int y = y0; y < y1; ++y) {
        for (int x = x0; x < x1; ++x) {
            if (!in(x, y))
                continue;
            bool edge = false;
            for (int k = 1; k <= penWidth && !edge; ++k)
                edge = !in(x - k, y) || !in(x + k, y) || !in(x, y - k) || !in(x, y + k);
            put(image, x, y, edge ? pen : brush);
        }
    }
}

} // namespace

void FillRect(QImage& image, const TRect& logical, TPixel color, double scale)
{
    const TRect rect = deviceRect(logical, scale);
    const int x0 = std::max(rect.Left, 0), x1 = std::min(rect.Right, image.width());
    const int y0 = std::max(rect.Top, 0), y1 = std::min(rect.Bottom, image.height());
    if (x1 <= x0)
        return;
    for (int y = y0; y < y1; ++y) {
        auto* row = reinterpret_cast<TPixel*>(image.scanLine(y));
        std::fill(row + x0, row + x1, color);
    }
}

void Line(QImage& image, int lx1, int ly1, int lx2, int ly2, TPixel pen, double scale)
{
    // Bresenham between the device points; 64-bit steps so that far-away end
    // points cannot overflow. A wide pen is a square whose top-left corner
    // follows the line; the line stops short by the pen's extra width, so a
    // horizontal or vertical line covers exactly the device pixels of its
    // logical pixels.
    const int x1 = DeviceLength(lx1, scale), y1 = DeviceLength(ly1, scale);
    const int x2 = DeviceLength(lx2, scale), y2 = DeviceLength(ly2, scale);
    const int width = PenWidth(scale);
    long long x = x1, y = y1;
    const long long dx = std::llabs(static_cast<long long>(x2) - x1);
    const long long dy = -std::llabs(static_cast<long long>(y2) - y1);
    const int sx = x1 < x2 ? 1 : -1, sy = y1 < y2 ? 1 : -1;
    long long err = dx + dy;
    long long steps = std::max(dx, -dy);
    if (steps > 0)
        steps = std::max(1LL, steps - (width - 1));
    for (long long i = 0; i < steps; ++i) {
        if (x > -width && y > -width && x < image.width() && y < image.height())
            for (int oy = 0; oy < width; ++oy)
                for (int ox = 0; ox < width; ++ox)
                    put(image, static_cast<int>(x) + ox, static_cast<int>(y) + oy, pen);
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

void Ellipse(QImage& image, const TRect& logical, TPixel pen, TPixel brush, double scale)
{
    const TRect box = deviceRect(logical, scale);
    const EllipseShape e(box);
    drawRegion(image, box, [&](int x, int y) { return e.contains(x, y); }, pen, brush, PenWidth(scale));
}

void Pie(QImage& image, const TRect& logical, int x1, int y1, int x2, int y2, TPixel pen, TPixel brush,
         double scale)
{
    // The radials run through the centres of the given (logical) pixels.
    const TRect box = deviceRect(logical, scale);
    const EllipseShape e(box);
    const double start = e.angle((x1 + 0.5) * scale, (y1 + 0.5) * scale);
    const double end = e.angle((x2 + 0.5) * scale, (y2 + 0.5) * scale);
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
        double d = e.angle(x + 0.5, y + 0.5) - start;
        if (d < 0)
            d += twoPi;
        return d <= sweep;
    };
    drawRegion(image, box, in, pen, brush, PenWidth(scale));
}

void Frame3D(QImage& image, TRect& rect, TPixel top, TPixel bottom, int width, double scale)
{
    // Each ring (one device pixel wide): right and bottom taken as the last
    // column and row inside.
    const TRect d = deviceRect(rect, scale);
    const long long rings =
        scale == 1 ? width : std::llround(std::clamp(static_cast<double>(width) * scale, -1e18, 1e18));
    long long l = d.Left, t = d.Top, r = static_cast<long long>(d.Right) - 1, b = static_cast<long long>(d.Bottom) - 1;
    for (long long ring = 0; ring < rings && l <= r && t <= b; ++ring, ++l, ++t, --r, --b) {
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

void FocusRect(QImage& image, const TRect& rect, double scale)
{
    if (rect.Right <= rect.Left || rect.Bottom <= rect.Top)
        return;
    // Every other logical pixel of the outline, each as its device pixels.
    auto invert = [&](int x, int y) {
        if (((x + y) & 1) != 0)
            return;
        const int x0 = DeviceLength(x, scale), x1 = std::max(DeviceLength(x + 1, scale), x0 + 1);
        const int y0 = DeviceLength(y, scale), y1 = std::max(DeviceLength(y + 1, scale), y0 + 1);
        for (int dy = y0; dy < y1; ++dy)
            for (int dx = x0; dx < x1; ++dx)
                if (inside(image, dx, dy)) {
                    auto& p = reinterpret_cast<TPixel*>(image.scanLine(dy))[dx];
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
