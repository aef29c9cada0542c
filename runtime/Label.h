// TLabel: a transparent text label that sizes itself to its caption, with
// its font colour kept as a colour value of the system.
#pragma once
#include "platform/SysColors.h"

#include <QLabel>

class TLabel : public QLabel {
public:
    TLabel(const QString& caption, QWidget* parent = nullptr);
    QString Caption() const { return text(); }
    void SetCaption(const QString& caption);
    TColor FontColor() const { return fontColor_; }
    void SetFontColor(TColor color);
    void SetFont(const QFont& font);

private:
    TColor fontColor_ = clWindowText;
};
