// TLabel: a transparent text label that sizes itself to its caption, with
// its font colour kept as a colour value of the system.
//
// What assistive technology sees of it (an accessible interface of its own,
// installed with the first label):
// - a static text whose name is its caption (or its accessible name, when
//   one is set), labelling its buddy;
// - as the window's status line (SetLiveStatus), a notification: every
//   change of the caption is told as a name change followed by a "showing"
//   notice, which screen readers speak at once, wherever the user is, as
//   they speak a notification that appears (this Qt offers no live regions
//   on Linux);
// - with a name interval (SetAccessibleNameInterval), a label whose caption
//   changes many times a second (a progress text) is told at most once per
//   interval: its accessible name takes the caption then, the latest one
//   always, and a caption change by itself tells nothing (while the name is
//   still empty, the first change is told at once as well);
// - a label that takes the keyboard focus is something to click (a link):
//   Return, Enter and Space click it as a button is clicked, and so does
//   assistive technology's Press action.
#pragma once
#include "platform/SysColors.h"

#include <QLabel>

#include <memory>

class TRateLimiter;

class TLabel : public QLabel {
public:
    TLabel(const QString& caption, QWidget* parent = nullptr);
    ~TLabel() override;
    QString Caption() const { return text(); }
    void SetCaption(const QString& caption);
    TColor FontColor() const { return fontColor_; }
    void SetFontColor(TColor color);
    void SetFont(const QFont& font);

    bool LiveStatus() const { return liveStatus_; }
    void SetLiveStatus(bool live);
    // 0 (the default): the name follows every change at once.
    int AccessibleNameInterval() const;
    void SetAccessibleNameInterval(int ms);
    // A left click, as the mouse gives it (press and release at the middle).
    void Click();

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    TColor fontColor_ = clWindowText;
    bool liveStatus_ = false;
    std::unique_ptr<TRateLimiter> nameLimit_;
};
