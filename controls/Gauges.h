// TGauge: shows how far a value has come between a minimum and a maximum, as
// a whole percentage, as text, a horizontal or vertical bar, a pie or a
// needle dial; and TBltBitmap, the layer bitmap its paints are composed of.
#pragma once
#include "controls/CuteBtn.h"
#include "platform/SysColors.h"
#include "runtime/Classes.h"

#include <QFont>
#include <QImage>
#include <QWidget>

enum TGaugeKind : std::uint8_t { gkText, gkHorizontalBar, gkVerticalBar, gkPie, gkNeedle };

class TBltBitmap {
public:
    // Takes the width and height of the source and fills the whole bitmap
    // with the window-frame colour.
    void MakeLike(const QImage& source);
    QImage Image;
};

class TGauge : public QWidget, public TObject {
public:
    explicit TGauge(QWidget* parent = nullptr);

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
    QFont Font() const { return font_; }
    void SetFont(const QFont& font);

    int Percent() const;

    // Being read from a form: the range checks of MinValue/MaxValue are
    // skipped while this is set.
    bool Loading = false;

    // What one paint composes.
    QImage Render() const;
    // How many times the gauge asked to be repainted (for tests).
    int RepaintCount() const { return repaintCount_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void Changed();

    int minValue_ = 0;
    int maxValue_ = 100;
    int progress_ = 0;
    TGaugeKind kind_ = gkHorizontalBar;
    bool showText_ = true;
    TBorderStyle borderStyle_ = bsSingle;
    TColor foreColor_ = clBlack;
    TColor backColor_ = clWhite;
    TColor color_ = clWindow;
    QFont font_;
    int repaintCount_ = 0;
};
