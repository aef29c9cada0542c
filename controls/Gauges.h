// TGauge: shows how far a value has come between a minimum and a maximum, as
// a whole percentage, as text, a horizontal or vertical bar, a pie or a
// needle dial; and TBltBitmap, the layer bitmap its paints are composed of.
//
// Every paint is composed off-screen: a black image, an overlay on which the
// kind is drawn and which is XORed into the image, and a text layer with the
// percentage in white glyphs XORed over that, so the text shows as the
// inverse of whatever lies under it. Glyphs are drawn without smoothing so
// the inversion is exact.
//
// Choices of this port:
// - Fractions are computed in extended (80-bit) floating point, as the
//   Windows program computes them, so that e.g. 29 % of 100 pixels is 29 pixels
//   and not 28 from a double-rounding error.
// - Progress - MinValue and the error texts are computed in 64 bits, so
//   extreme ranges never overflow.
// - ParentColor (the default) takes the parent widget's window colour from
//   its palette; SetColor switches it off. Font() is the widget's font, which
//   follows the parent's until SetFont gives the gauge its own.
// - "Repaint at once" asks Qt for a repaint (update); RepaintCount counts
//   those requests.
// - On a screen with a device pixel ratio other than 1 every layer is
//   composed at the device's resolution: the geometry (bar lengths, the
//   pie's and the needle's points) is worked out in the gauge's own pixels as
//   always and drawn with device-sized pens, curves sampled at device pixels,
//   and the percentage's glyphs rendered at the device's size. At a ratio of
//   1 nothing changes.
//
// What assistive technology sees (an accessible interface of its own,
// installed with the first gauge): a progress bar in every kind, with a
// value interface that gives MinValue, MaxValue and Progress as they stand
// (read only) and the percentage as the value text ("30%"). A change of
// Progress is told as a value change at most twice a second
// (ValueNoticeInterval; the latest value always), since a transfer moves it
// many times a second.
#pragma once
#include "controls/CuteBtn.h"
#include "controls/GdiDraw.h"
#include "platform/SysColors.h"
#include "runtime/Classes.h"
#include "runtime/RateLimiter.h"

#include <QFont>
#include <QImage>
#include <QWidget>

enum TGaugeKind : std::uint8_t { gkText, gkHorizontalBar, gkVerticalBar, gkPie, gkNeedle };

// The whole part of x * 100 / z; 0 when z is 0.
int PercentOf(long double x, long double z);
// The whole part of z * (p * 0.01).
int ScalePercent(int p, int z);
// x rounded to the nearest whole number, ties to even.
int RoundEven(long double x);

class TBltBitmap {
public:
    // Takes the width and height (and device pixel ratio) of the source and
    // fills the whole bitmap with the window-frame colour.
    void MakeLike(const QImage& source);
    QImage Image;
};

class TGauge : public QWidget, public TObject {
public:
    explicit TGauge(QWidget* parent = nullptr);

    static constexpr int ValueNoticeInterval = 500; // milliseconds

    void SetBounds(int left, int top, int width, int height);

    int MinValue() const { return minValue_; }
    void SetMinValue(int value);
    int MaxValue() const { return maxValue_; }
    void SetMaxValue(int value);
    int Progress() const { return progress_; }
    void SetProgress(int value);
    TGaugeKind Kind() const { return kind_; }
    void SetKind(TGaugeKind kind);
    bool ShowText() const { return showText_; }
    void SetShowText(bool value);
    TBorderStyle BorderStyle() const { return borderStyle_; }
    void SetBorderStyle(TBorderStyle style);
    TColor ForeColor() const { return foreColor_; }
    void SetForeColor(TColor color);
    TColor BackColor() const { return backColor_; }
    void SetBackColor(TColor color);
    // The control's own colour (around the pie and the dial); clWindow by
    // default.
    TColor Color() const { return color_; }
    void SetColor(TColor color);
    bool ParentColor() const { return parentColor_; }
    void SetParentColor(bool value);
    QFont Font() const { return font(); }
    void SetFont(const QFont& font);

    int Percent() const;

    // Being read from a form: the range checks of MinValue/MaxValue are
    // skipped while this is set.
    bool Loading = false;

    // What one paint composes, at the widget's device pixel ratio.
    QImage Render() const;
    // The same at the given device pixel ratio: an image of width() x
    // height() times the ratio device pixels, with that devicePixelRatio.
    QImage Render(qreal ratio) const;
    // How many times the gauge asked to be repainted (for tests).
    int RepaintCount() const { return repaintCount_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void Changed();
    // Progress may have moved: told to assistive technology (limited).
    void ProgressMoved();
    TPixel ColorPixel() const;
    void DrawKind(QImage& overlay, const TRect& rect, qreal ratio) const;
    void DrawPercentText(QImage& image, const TRect& rect) const;

    int minValue_ = 0;
    int maxValue_ = 100;
    int progress_ = 0;
    TGaugeKind kind_ = gkHorizontalBar;
    bool showText_ = true;
    TBorderStyle borderStyle_ = bsSingle;
    TColor foreColor_ = clBlack;
    TColor backColor_ = clWhite;
    TColor color_ = clWindow;
    bool parentColor_ = true;
    int repaintCount_ = 0;
    int toldProgress_ = 0;
    TRateLimiter valueNotice_;
};
