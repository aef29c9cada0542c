#include "controls/Gauges.h"

#include "runtime/Application.h"
#include "runtime/Exceptions.h"

#include <QPainter>

#include <cmath>
#include <limits>

void TBltBitmap::MakeLike(const QImage& source)
{
    Image = QImage(source.width(), source.height(), QImage::Format_RGB32);
    Image.fill(QColor::fromRgb(ColorToArgb(clWindowFrame)));
}

TGauge::TGauge(QWidget* parent) : QWidget(parent)
{
    resize(100, 100);
    setAttribute(Qt::WA_OpaquePaintEvent, true);
    if (parent)
        font_ = parent->font();
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

void TGauge::SetMinValue(int v)
{
    if (v == minValue_)
        return;
    if (v > maxValue_ && !Loading)
        throw EInvalidOperation(std::to_string(-std::numeric_limits<int>::max()) + " から " +
                                std::to_string(maxValue_ - 1) + " の間の値でなければなりません");
    minValue_ = v;
    if (progress_ < v)
        progress_ = v;
    Changed();
}

void TGauge::SetMaxValue(int v)
{
    if (v == maxValue_)
        return;
    if (v < minValue_ && !Loading)
        throw EInvalidOperation(std::to_string(static_cast<long long>(minValue_) + 1) + " から " +
                                std::to_string(std::numeric_limits<int>::max()) + " の間の値でなければなりません");
    maxValue_ = v;
    if (progress_ > v)
        progress_ = v;
    Changed();
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
}

void TGauge::SetKind(TGaugeKind k) { if (k != kind_) { kind_ = k; Changed(); } }
void TGauge::SetShowText(bool v) { if (v != showText_) { showText_ = v; Changed(); } }
void TGauge::SetBorderStyle(TBorderStyle s) { if (s != borderStyle_) { borderStyle_ = s; Changed(); } }
void TGauge::SetForeColor(TColor c) { if (c != foreColor_) { foreColor_ = c; Changed(); } }
void TGauge::SetBackColor(TColor c) { if (c != backColor_) { backColor_ = c; Changed(); } }
void TGauge::SetColor(TColor c) { if (c != color_) { color_ = c; Changed(); } }
void TGauge::SetFont(const QFont& f) { font_ = f; Changed(); }

int TGauge::Percent() const
{
    const double z = static_cast<double>(maxValue_) - minValue_;
    if (z == 0)
        return 0;
    return static_cast<int>(std::trunc((static_cast<double>(progress_) - minValue_) * 100.0 / z));
}

QImage TGauge::Render() const
{
    QImage image(width(), height(), QImage::Format_RGB32);
    image.fill(Qt::black);
    QPainter p(&image);
    const int inset = borderStyle_ == bsSingle ? 1 : 0;
    const QRect r = rect().adjusted(inset, inset, -inset, -inset);
    p.fillRect(r, QColor::fromRgb(ColorToArgb(backColor_)));
    const int x = static_cast<int>(r.width() * (Percent() * 0.01));
    p.fillRect(QRect(r.left(), r.top(), x, r.height()), QColor::fromRgb(ColorToArgb(foreColor_)));
    if (showText_) {
        p.setFont(font_);
        p.setPen(Qt::white);
        p.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
        p.drawText(r, Qt::AlignCenter, QString::number(Percent()) + QLatin1Char('%'));
    }
    return image;
}

void TGauge::paintEvent(QPaintEvent*)
{
    Guarded([&] {
        QImage image = Render();
        QPainter p(this);
        p.drawImage(0, 0, image);
    });
}
