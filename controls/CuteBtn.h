// TCuteButton: a push button that paints itself (coloured face, bevels that
// follow the mouse, focus and press, caption placed by alignment, layout and
// margins, embossed caption when disabled, optional focus rectangle and
// drop-down menu), and TCuteButtonTimer, the timer of a delayed drop-down.
//
// The visual state is the outer bevel: none at rest, raised under the mouse
// or with the focus (TabFocusUp), lowered while pressed. The button clicks on
// the release of the space bar, at once on Enter and on its accelerator
// (Alt + the character after "&" in the caption), and on a left-button
// release inside the button after a press on it. Every paint is composed
// off-screen (Render) and copied in one step.
//
// Choices of this port:
// - Mouse enter and leave come from Qt's enter/leave events; the shift state
//   (CurrentShiftState) is Qt's keyboard modifiers and mouse buttons.
//   Dragging of controls does not exist here, so no enter is ignored for it.
//   While a mouse button is held Qt reports no crossings, so the button
//   tells them from the pointer's moves itself; each crossing is reported
//   once.
// - The mouse capture is Qt's implicit grab of a pressed button; the button
//   records that the left button went down on it and is not yet released.
// - With EgnoreContClick the click handler is put back even when it throws,
//   so that an error in one click does not leave the button dead.
// - The drop-down menu is a QMenu opened with exec() at the screen position
//   just below the button's bottom-left corner.
// - A pressed button moves its whole caption rectangle 2 pixels right and
//   down, so the caption sinks by 2 pixels whatever its alignment.
// - The caption is drawn without smoothing, crisp as the bitmap glyphs of the
//   Windows font it stands in for.
// - BorderStyle bsSingle draws a one-pixel window-frame border inside the
//   widget and paints the button inside it.
// - On a screen with a device pixel ratio other than 1 the button is composed
//   at the device's resolution: bevels and frames are as many device pixels
//   wide as the ratio says, and the caption's glyphs are rendered at the
//   device's size (not enlarged). At a ratio of 1 nothing changes.
//
// What assistive technology sees (an accessible interface of its own,
// installed with the first button): a push button named by its caption
// without the accelerator's "&" (its accessible name, when one is set), whose
// state says whether it can take the focus, has it, is pressed (lowered) or
// is unavailable (disabled), with a Press action that does what a click
// does: the button is pressed at once, as Enter presses it, once the
// caller's request has been answered (a disabled, hidden or covered button
// ignores it). A button over which a later sibling lies whole (the main
// window's Close/Cancel button over the download button) is not showing
// while it lies there. Changes of the caption, of the pressed state and of
// the covering come as the matching accessibility events.
#pragma once
#include "platform/Keys.h"
#include "platform/SysColors.h"
#include "platform/WinTypes.h"
#include "runtime/Classes.h"

#include <QFont>
#include <QImage>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <memory>

class QMenu;

enum TAlignment : std::uint8_t { taLeftJustify, taRightJustify, taCenter };
enum TTextLayout : std::uint8_t { tlTop, tlCenter, tlBottom };
enum TPanelBevel : std::uint8_t { bvNone, bvLowered, bvRaised };
enum TBorderStyle : std::uint8_t { bsNone, bsSingle };

using TMouseMoveEvent = std::function<void(TObject* Sender, TShiftState Shift, int X, int Y)>;
using TKeyEvent = std::function<void(TObject* Sender, WORD& Key, TShiftState Shift)>;
enum TMouseButton : std::uint8_t { mbLeft, mbRight, mbMiddle };
using TMouseEvent = std::function<void(TObject* Sender, TMouseButton Button, TShiftState Shift, int X, int Y)>;

// The shift state from the keyboard and mouse state: Shift, Alt, Ctrl and the
// left, right and middle mouse buttons.
TShiftState CurrentShiftState();

class TCuteButton;

class TCuteButtonTimer : public QTimer {
public:
    explicit TCuteButtonTimer(TCuteButton* button);
    TCuteButton* FCuteButton;
};

class TCuteButton : public QWidget, public TObject {
public:
    explicit TCuteButton(QWidget* parent = nullptr);
    ~TCuteButton() override;

    // Place and size as the form gives them (default size 75 x 25).
    void SetBounds(int left, int top, int width, int height);

    QString Caption() const { return caption_; }
    void SetCaption(const QString& caption);
    TColor Color() const { return color_; }
    void SetColor(TColor color);
    // The caption font; its colour is kept apart as FontColor.
    QFont Font() const { return font(); }
    void SetFont(const QFont& font);
    TColor FontColor() const { return fontColor_; }
    void SetFontColor(TColor color);

    TColor BevelShadowColor() const { return bevelShadowColor_; }
    void SetBevelShadowColor(TColor color);
    TColor BevelHighlightColor() const { return bevelHighlightColor_; }
    void SetBevelHighlightColor(TColor color);
    TColor DisabledColor() const { return disabledColor_; }
    void SetDisabledColor(TColor color);
    bool UseDisabledColor() const { return useDisabledColor_; }
    void SetUseDisabledColor(bool value);
    int DropDownDelay() const { return dropDownDelay_; }
    void SetDropDownDelay(int ms) { dropDownDelay_ = ms; }
    QMenu* DropDownMenu() const { return dropDownMenu_; }
    void SetDropDownMenu(QMenu* menu);
    bool EgnoreContClick() const { return egnoreContClick_; }
    void SetEgnoreContClick(bool value) { egnoreContClick_ = value; }
    bool Flat() const { return flat_; }
    void SetFlat(bool value);
    bool TabFocusUp() const { return tabFocusUp_; }
    void SetTabFocusUp(bool value) { tabFocusUp_ = value; }
    TTextLayout Layout() const { return layout_; }
    void SetLayout(TTextLayout layout);
    bool ShowFocusRect() const { return showFocusRect_; }
    void SetShowFocusRect(bool value);
    int MarginX() const { return marginX_; }
    void SetMarginX(int value);
    int MarginY() const { return marginY_; }
    void SetMarginY(int value);
    TAlignment Alignment() const { return alignment_; }
    void SetAlignment(TAlignment alignment);
    int BevelWidth() const { return bevelWidth_; }
    void SetBevelWidth(int width);
    TBorderStyle BorderStyle() const { return borderStyle_; }
    void SetBorderStyle(TBorderStyle style);
    // The visual state: none at rest, raised, lowered (pressed).
    TPanelBevel BevelOuter() const { return bevelOuter_; }
    void SetBevelOuter(TPanelBevel bevel);
    TPanelBevel BevelInner() const { return bevelInner_; }
    void SetBevelInner(TPanelBevel bevel);

    bool DroppingDown() const { return droppingDown_; }
    bool SpaceDown() const { return spaceDown_; }
    bool KeyboardDropDown() const { return keyboardDropDown_; }
    TCuteButtonTimer* DropDownTimer() const { return dropDownTimer_; }

    // The click operation, however the click is caused.
    virtual void Click();
    // Pressed at once, as by Enter or the accelerator: lowered, the click
    // (or the drop-down), raised again.
    void Press();
    // A visible sibling later in the stacking order lies over the whole
    // button.
    bool Covered() const;
    // The caption as assistive technology reads it: "&" marks removed,
    // "&&" read as "&".
    static QString CaptionText(const QString& caption);
    virtual void StartDropDown();
    virtual void DropDown();
    virtual void MouseEnter(TShiftState shift, int x, int y);
    virtual void MouseLeave(TShiftState shift, int x, int y);
    // The key and mouse handling of the state table, as the Qt events and
    // the drop-down's synthesized release call it.
    void KeyDown(WORD& key, TShiftState shift);
    void KeyUp(WORD& key, TShiftState shift);
    void MouseDown(TMouseButton button, TShiftState shift, int x, int y);
    void MouseUp(TMouseButton button, TShiftState shift, int x, int y);
    // The accelerator character: true when it was handled.
    bool DialogChar(QChar ch);
    // The character after a single "&" in the caption, or a null QChar.
    QChar Accelerator() const;

    // What the button paints, composed off-screen at the widget's device
    // pixel ratio.
    QImage Render() const;
    // The same at the given device pixel ratio: an image of width() x
    // height() times the ratio device pixels, with that devicePixelRatio.
    QImage Render(qreal ratio) const;

    TNotifyEvent OnClick;
    TNotifyEvent OnEnter;
    TNotifyEvent OnExit;
    TKeyEvent OnKeyDown;
    TKeyEvent OnKeyUp;
    TMouseMoveEvent OnMouseEnter;
    TMouseMoveEvent OnMouseLeave;
    TMouseEvent OnMouseDown;
    TMouseEvent OnMouseUp;

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool event(QEvent* event) override;

private:
    void paintOn(QImage& image, int logicalWidth, int logicalHeight, qreal ratio) const;
    void dropDownTimerFired();
    void freeDropDownTimer();
    // Tells assistive technology that the buttons this one lies over stop
    // (or start again) showing.
    void coveringChanged(bool covering);
    void updateShortcut();

    QString caption_;
    TColor color_ = clBtnFace;
    TColor fontColor_ = clBlack;
    TColor bevelShadowColor_ = clBtnShadow;
    TColor bevelHighlightColor_ = clBtnHighlight;
    TColor disabledColor_ = 0x808080;
    bool useDisabledColor_ = false;
    int dropDownDelay_ = 0;
    QMenu* dropDownMenu_ = nullptr;
    bool droppingDown_ = false;
    bool egnoreContClick_ = false;
    bool flat_ = false;
    bool spaceDown_ = false;
    bool tabFocusUp_ = true;
    TTextLayout layout_ = tlCenter;
    bool showFocusRect_ = false;
    bool keyboardDropDown_ = false;
    int marginX_ = -1;
    int marginY_ = -1;
    TAlignment alignment_ = taCenter;
    int bevelWidth_ = 1;
    TBorderStyle borderStyle_ = bsNone;
    TPanelBevel bevelOuter_ = bvNone;
    TPanelBevel bevelInner_ = bvRaised;
    TCuteButtonTimer* dropDownTimer_ = nullptr;
    bool leftCaptured_ = false; // the mouse capture of a left press
    bool clickPending_ = false; // a left press that its release may turn into a click
    bool pointerInside_ = false;
    int shortcutId_ = 0;
};
