#include "controls/Gauges.h"

#include "runtime/AccessibleFactory.h"
#include "runtime/Application.h"
#include "runtime/Exceptions.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QFontMetrics>
#include <QPainter>
#include <QPalette>

#include <cmath>
#include <limits>
#include <numbers>

namespace {

constexpr long double Pi = std::numbers::pi_v<long double>;
constexpr TPixel Black = 0xFF000000u;
constexpr TPixel White = 0xFFFFFFFFu;

TPixel Pixel(TColor color)
{
    return ColorToArgb(color);
}

int ToInt(long double v)
{
    // Cut towards zero, kept inside the 32-bit range.
    const long double t = std::trunc(v);
    if (t >= static_cast<long double>(std::numeric_limits<int>::max()))
        return std::numeric_limits<int>::max();
    if (t <= static_cast<long double>(std::numeric_limits<int>::min()))
        return std::numeric_limits<int>::min();
    return static_cast<int>(t);
}

std::string RangeMessage(long long low, long long high)
{
    return std::to_string(low) + " から " + std::to_string(high) + " の間の値でなければなりません";
}

void Blackness(QImage& image)
{
    image.fill(Black);
}

class TGaugeAccessible : public QAccessibleWidget, public QAccessibleValueInterface {
public:
    explicit TGaugeAccessible(TGauge* gauge) : QAccessibleWidget(gauge, QAccessible::ProgressBar) {}

    void* interface_cast(QAccessible::InterfaceType type) override
    {
        if (type == QAccessible::ValueInterface)
            return static_cast<QAccessibleValueInterface*>(this);
        return QAccessibleWidget::interface_cast(type);
    }

    QString text(QAccessible::Text t) const override
    {
        if (t == QAccessible::Value)
            return QString::number(gauge()->Percent()) + QLatin1Char('%');
        return QAccessibleWidget::text(t);
    }

    QAccessible::State state() const override
    {
        QAccessible::State s = QAccessibleWidget::state();
        s.readOnly = true;
        return s;
    }

    QVariant currentValue() const override { return gauge()->Progress(); }
    void setCurrentValue(const QVariant&) override {} // shows progress, takes none
    QVariant maximumValue() const override { return gauge()->MaxValue(); }
    QVariant minimumValue() const override { return gauge()->MinValue(); }
    QVariant minimumStepSize() const override { return 0; }

private:
    TGauge* gauge() const { return static_cast<TGauge*>(widget()); }
};

} // namespace

int PercentOf(long double x, long double z)
{
    if (z == 0)
        return 0;
    return ToInt(x * 100 / z);
}

int ScalePercent(int p, int z)
{
    return ToInt(static_cast<long double>(z) * (p * 0.01L));
}

int RoundEven(long double x)
{
    const long double r = std::nearbyint(x); // default rounding: nearest, ties to even
    return ToInt(r);
}

void TBltBitmap::MakeLike(const QImage& source)
{
    Image = QImage(source.width(), source.height(), QImage::Format_RGB32);
    Image.setDevicePixelRatio(source.devicePixelRatio());
    Image.fill(Pixel(clWindowFrame));
}

TGauge::TGauge(QWidget* parent)
    : QWidget(parent), valueNotice_(ValueNoticeInterval, [this] {
          if (progress_ == toldProgress_)
              return;
          toldProgress_ = progress_;
          QAccessibleValueChangeEvent event(this, progress_);
          QAccessible::updateAccessibility(&event);
      })
{
    QAccessible::installFactory(AccessibleFactory<TGauge, TGaugeAccessible>); // once; later calls do nothing
    resize(100, 100);
    setAttribute(Qt::WA_OpaquePaintEvent, true);
}

void TGauge::SetBounds(int left, int top, int width, int height)
{
    setGeometry(left, top, width, height);
}

void TGauge::Changed()
{
    repaintCount_++;
    update();
}

void TGauge::ProgressMoved()
{
    if (progress_ != toldProgress_)
        valueNotice_.Request();
}

void TGauge::SetMinValue(int v)
{
    if (v == minValue_)
        return;
    if (v > maxValue_ && !Loading)
        throw EInvalidOperation(RangeMessage(-static_cast<long long>(std::numeric_limits<int>::max()),
                                             static_cast<long long>(maxValue_) - 1));
    minValue_ = v;
    if (progress_ < v)
        progress_ = v;
    Changed();
    ProgressMoved();
}

void TGauge::SetMaxValue(int v)
{
    if (v == maxValue_)
        return;
    if (v < minValue_ && !Loading)
        throw EInvalidOperation(
            RangeMessage(static_cast<long long>(minValue_) + 1, std::numeric_limits<int>::max()));
    maxValue_ = v;
    if (progress_ > v)
        progress_ = v;
    Changed();
    ProgressMoved();
}

void TGauge::SetProgress(int v)
{
    if (v < minValue_)
        v = minValue_;
    if (v > maxValue_)
        v = maxValue_;
    if (v == progress_)
        return;
    const int before = Percent();
    progress_ = v;
    if (Percent() != before)
        Changed();
    ProgressMoved();
}

void TGauge::SetKind(TGaugeKind k)
{
    if (k != kind_) {
        kind_ = k;
        Changed();
    }
}

void TGauge::SetShowText(bool v)
{
    if (v != showText_) {
        showText_ = v;
        Changed();
    }
}

void TGauge::SetBorderStyle(TBorderStyle s)
{
    if (s != borderStyle_) {
        borderStyle_ = s;
        Changed();
    }
}

void TGauge::SetForeColor(TColor c)
{
    if (c != foreColor_) {
        foreColor_ = c;
        Changed();
    }
}

void TGauge::SetBackColor(TColor c)
{
    if (c != backColor_) {
        backColor_ = c;
        Changed();
    }
}

void TGauge::SetColor(TColor c)
{
    const bool wasParent = parentColor_;
    parentColor_ = false;
    if (c != color_ || wasParent) {
        color_ = c;
        Changed();
    }
}

void TGauge::SetParentColor(bool value)
{
    if (value != parentColor_) {
        parentColor_ = value;
        Changed();
    }
}

void TGauge::SetFont(const QFont& f)
{
    const bool same = f == font();
    setFont(f);
    if (!same)
        Changed();
}

int TGauge::Percent() const
{
    return PercentOf(static_cast<long double>(progress_) - minValue_,
                     static_cast<long double>(maxValue_) - minValue_);
}

TPixel TGauge::ColorPixel() const
{
    if (parentColor_ && parentWidget())
        return 0xFF000000u | parentWidget()->palette().color(QPalette::Window).rgb();
    return Pixel(color_);
}

QImage TGauge::Render() const
{
    return Render(devicePixelRatioF());
}

QImage TGauge::Render(qreal ratio) const
{
    const int W = width(), H = height();
    if (W <= 0 || H <= 0)
        return QImage();
    if (!(ratio > 0))
        ratio = 1;

    // The image, all black.
    QImage image(std::max(1, GdiDraw::DeviceLength(W, ratio)), std::max(1, GdiDraw::DeviceLength(H, ratio)),
                 QImage::Format_RGB32);
    image.setDevicePixelRatio(ratio);
    Blackness(image);

    TRect rect{0, 0, W, H};
    if (borderStyle_ == bsSingle)
        rect.Inflate(-1, -1);

    // The kind is drawn on a black overlay which, XORed into the black
    // image, becomes the image; outside the paint rectangle both stay black.
    TBltBitmap overlay;
    overlay.MakeLike(image);
    Blackness(overlay.Image);
    DrawKind(overlay.Image, rect, ratio);
    GdiDraw::XorInto(image, overlay.Image);

    if (showText_)
        DrawPercentText(image, rect);
    return image;
}

void TGauge::DrawKind(QImage& overlay, const TRect& r, qreal s) const
{
    const TPixel fore = Pixel(foreColor_), back = Pixel(backColor_);
    const int P = Percent();
    const int single = borderStyle_ == bsSingle ? 1 : 0;
    switch (kind_) {
    case gkText:
        GdiDraw::FillRect(overlay, r, back, s);
        break;
    case gkHorizontalBar:
    case gkVerticalBar: {
        const int w = r.Right - r.Left + 1, h = r.Bottom - r.Top + 1;
        GdiDraw::FillRect(overlay, r, back, s);
        if (kind_ == gkHorizontalBar) {
            int x = ScalePercent(P, w);
            if (x > w)
                x = w;
            if (x >= 1)
                GdiDraw::FillRect(overlay, TRect{r.Left, r.Top, x, h}, fore, s);
        } else {
            int y = ScalePercent(P, h);
            if (y >= h)
                y = h - 1;
            GdiDraw::FillRect(overlay, TRect{r.Left, h - y, w, h}, fore, s);
        }
        break;
    }
    case gkPie: {
        const int w = r.Right - r.Left + single, h = r.Bottom - r.Top + single;
        GdiDraw::FillRect(overlay, r, ColorPixel(), s);
        const TRect box{r.Left, r.Top, w, h};
        GdiDraw::Ellipse(overlay, box, fore, back, s);
        if (P <= 0)
            break;
        const int mx = w / 2, my = h / 2;
        const long double a = (P / 50.0L + 0.5L) * Pi;
        GdiDraw::Pie(overlay, box, RoundEven(mx * (1 - std::cos(a))), RoundEven(my * (1 - std::sin(a))), mx, 0,
                     fore, fore, s);
        break;
    }
    case gkNeedle: {
        const int w = r.Right - r.Left + single, h = r.Bottom - r.Top + single;
        GdiDraw::FillRect(overlay, r, ColorPixel(), s);
        const long long boxBottom = 2LL * h - 1;
        const TRect box{r.Left, r.Top, w, static_cast<int>(std::min<long long>(boxBottom, std::numeric_limits<int>::max()))};
        GdiDraw::Pie(overlay, box, r.Left + w, r.Bottom - 1, r.Left, r.Bottom - 1, fore, back, s);
        GdiDraw::Line(overlay, r.Left, r.Bottom, r.Left + w, r.Bottom, fore, s);
        if (P <= 0)
            break;
        const int c = width() / 2;
        const long double a = P / 100.0L * Pi;
        GdiDraw::Line(overlay, c, r.Bottom - 1, RoundEven(c * (1 - std::cos(a))),
                      RoundEven((r.Bottom - 1) * (1 - std::sin(a))), fore, s);
        break;
    }
    }
}

void TGauge::DrawPercentText(QImage& image, const TRect& r) const
{
    // The layer has the image's device pixel ratio: the text is placed in the
    // gauge's pixels and its glyphs rendered at the device's resolution.
    TBltBitmap layer;
    layer.MakeLike(image);
    Blackness(layer.Image);

    const QString text = QString::number(Percent()) + QLatin1Char('%');
    QFont f = Font();
    f.setStyleStrategy(QFont::NoAntialias);
    {
        QPainter p(&layer.Image);
        p.setFont(f);
        p.setPen(QColor::fromRgb(White));
        p.setBrush(Qt::NoBrush);
        const QFontMetrics fm(f, &layer.Image);
        const int tw = fm.horizontalAdvance(text), th = fm.height();
        const int x = (r.Right - r.Left + 1 - tw) / 2;
        const int y = (r.Bottom - r.Top + 1 - th) / 2;
        p.setClipRect(QRect(r.Left, r.Top, r.Width(), r.Height()));
        p.drawText(QPoint(x, y + fm.ascent()), text);
    }
    GdiDraw::XorInto(image, layer.Image);
}

void TGauge::paintEvent(QPaintEvent*)
{
    Guarded([&] {
        const QImage image = Render();
        QPainter p(this);
        p.drawImage(0, 0, image);
    });
}
