#include "runtime/Label.h"

#include <QPalette>

TLabel::TLabel(const QString& caption, QWidget* parent) : QLabel(caption, parent)
{
    setAutoFillBackground(false);
    setAttribute(Qt::WA_TranslucentBackground, true);
    setTextFormat(Qt::PlainText);
    setContentsMargins(0, 0, 0, 0);
    setMargin(0);
    setIndent(0);
    SetFontColor(fontColor_);
    adjustSize();
}

void TLabel::SetCaption(const QString& caption)
{
    setText(caption);
    adjustSize();
}

void TLabel::SetFontColor(TColor color)
{
    fontColor_ = color;
    QPalette p = palette();
    p.setColor(QPalette::WindowText, QColor::fromRgb(ColorToArgb(color)));
    setPalette(p);
}

void TLabel::SetFont(const QFont& font)
{
    setFont(font);
    adjustSize();
}
