#include "controls/CuteBtn.h"

#include "runtime/Application.h"

#include <QEnterEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>

TCuteButtonTimer::TCuteButtonTimer(TCuteButton* button) : QTimer(button), FCuteButton(button) {}

TCuteButton::TCuteButton(QWidget* parent) : QWidget(parent)
{
    resize(75, 25);
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_Hover, true);
    font_ = font();
}

TCuteButton::~TCuteButton() = default;

void TCuteButton::SetBounds(int left, int top, int width, int height)
{
    setGeometry(left, top, width, height);
}

void TCuteButton::SetCaption(const QString& caption)
{
    caption_ = caption;
    update();
}

void TCuteButton::SetColor(TColor color)
{
    if (color_ != color) {
        color_ = color;
        update();
    }
}

void TCuteButton::SetFont(const QFont& font)
{
    font_ = font;
    update();
}

void TCuteButton::SetFontColor(TColor color)
{
    if (fontColor_ != color) {
        fontColor_ = color;
        update();
    }
}

void TCuteButton::SetBevelShadowColor(TColor c) { if (c != bevelShadowColor_) { bevelShadowColor_ = c; update(); } }
void TCuteButton::SetBevelHighlightColor(TColor c) { if (c != bevelHighlightColor_) { bevelHighlightColor_ = c; update(); } }
void TCuteButton::SetDisabledColor(TColor c) { if (c != disabledColor_) { disabledColor_ = c; if (!isEnabled()) update(); } }
void TCuteButton::SetUseDisabledColor(bool v) { if (v != useDisabledColor_) { useDisabledColor_ = v; if (!isEnabled()) update(); } }
void TCuteButton::SetDropDownMenu(QMenu* m) { if (m != dropDownMenu_) { dropDownMenu_ = m; update(); } }
void TCuteButton::SetFlat(bool v) { if (v != flat_) { flat_ = v; SetBevelInner(v ? bvNone : bvRaised); } }
void TCuteButton::SetLayout(TTextLayout l) { if (l != layout_) { layout_ = l; update(); } }
void TCuteButton::SetShowFocusRect(bool v) { if (v != showFocusRect_) { showFocusRect_ = v; update(); } }
void TCuteButton::SetMarginX(int v) { if (v < -1) v = -1; if (v != marginX_) { marginX_ = v; update(); } }
void TCuteButton::SetMarginY(int v) { if (v < -1) v = -1; if (v != marginY_) { marginY_ = v; update(); } }
void TCuteButton::SetAlignment(TAlignment a) { alignment_ = a; update(); }
void TCuteButton::SetBevelWidth(int w) { if (w < 1) w = 1; bevelWidth_ = w; update(); }
void TCuteButton::SetBorderStyle(TBorderStyle s) { borderStyle_ = s; update(); }
void TCuteButton::SetBevelOuter(TPanelBevel b) { bevelOuter_ = b; update(); }
void TCuteButton::SetBevelInner(TPanelBevel b) { bevelInner_ = b; update(); }

void TCuteButton::Click()
{
    if (droppingDown_) {
        droppingDown_ = false;
        return;
    }
    if (OnClick)
        OnClick(this);
}

void TCuteButton::StartDropDown() { DropDown(); }
void TCuteButton::DropDown() {}
void TCuteButton::dropDownTimerFired() {}

void TCuteButton::MouseEnter(TShiftState shift, int x, int y)
{
    if (OnMouseEnter)
        OnMouseEnter(this, shift, x, y);
    SetBevelOuter(bvRaised);
}

void TCuteButton::MouseLeave(TShiftState shift, int x, int y)
{
    if (OnMouseLeave)
        OnMouseLeave(this, shift, x, y);
    if (!(hasFocus() && tabFocusUp_))
        SetBevelOuter(bvNone);
}

QImage TCuteButton::Render() const
{
    QImage image(width(), height(), QImage::Format_RGB32);
    paintOn(image);
    return image;
}

void TCuteButton::paintOn(QImage& image) const
{
    const bool disabled = !isEnabled();
    const TColor face = (useDisabledColor_ && disabled) ? disabledColor_ : color_;
    image.fill(QColor::fromRgb(ColorToArgb(face)));
    QPainter p(&image);
    if (bevelOuter_ != bvNone) {
        const bool raised = bevelOuter_ == bvRaised;
        p.setPen(QColor::fromRgb(ColorToArgb(raised ? bevelHighlightColor_ : bevelShadowColor_)));
        p.drawLine(0, 0, width() - 1, 0);
        p.drawLine(0, 0, 0, height() - 1);
        p.setPen(QColor::fromRgb(ColorToArgb(raised ? bevelShadowColor_ : bevelHighlightColor_)));
        p.drawLine(width() - 1, 0, width() - 1, height() - 1);
        p.drawLine(0, height() - 1, width() - 1, height() - 1);
    }
    QRect text = rect();
    if (bevelOuter_ == bvLowered)
        text.translate(2, 2);
    p.setFont(font_);
    p.setPen(QColor::fromRgb(ColorToArgb(disabled ? clBtnShadow : fontColor_)));
    p.drawText(text, Qt::AlignCenter | Qt::TextShowMnemonic, caption_);
}

void TCuteButton::paintEvent(QPaintEvent*)
{
    Guarded([&] {
        QImage image = Render();
        QPainter p(this);
        p.drawImage(0, 0, image);
    });
}

void TCuteButton::enterEvent(QEnterEvent* e)
{
    Guarded([&] { MouseEnter(0, int(e->position().x()), int(e->position().y())); });
}

void TCuteButton::leaveEvent(QEvent*)
{
    Guarded([&] { MouseLeave(0, 0, 0); });
}

void TCuteButton::mousePressEvent(QMouseEvent* e)
{
    Guarded([&] {
        setFocus(Qt::MouseFocusReason);
        if (e->button() == Qt::LeftButton)
            SetBevelOuter(bvLowered);
    });
}

void TCuteButton::mouseReleaseEvent(QMouseEvent* e)
{
    Guarded([&] {
        if (e->button() != Qt::LeftButton)
            return;
        const bool inside = rect().contains(e->position().toPoint());
        SetBevelOuter(inside ? bvRaised : bvNone);
        if (inside)
            Click();
    });
}

void TCuteButton::keyPressEvent(QKeyEvent* e)
{
    Guarded([&] {
        WORD key = QtKeyToVK(e->key());
        if (OnKeyDown)
            OnKeyDown(this, key, 0);
        if (!isEnabled())
            return;
        if (key == VK_SPACE) {
            spaceDown_ = true;
            SetBevelOuter(bvLowered);
        } else if (key == VK_RETURN) {
            SetBevelOuter(bvLowered);
            Click();
            SetBevelOuter(tabFocusUp_ ? bvRaised : bvNone);
        }
    });
}

void TCuteButton::keyReleaseEvent(QKeyEvent* e)
{
    Guarded([&] {
        WORD key = QtKeyToVK(e->key());
        if (OnKeyUp)
            OnKeyUp(this, key, 0);
        if (spaceDown_ && key == VK_SPACE && !e->isAutoRepeat()) {
            spaceDown_ = false;
            Click();
            SetBevelOuter(tabFocusUp_ ? bvRaised : bvNone);
        }
    });
}

void TCuteButton::focusInEvent(QFocusEvent*)
{
    Guarded([&] {
        if (tabFocusUp_)
            SetBevelOuter(bvRaised);
        if (OnEnter)
            OnEnter(this);
    });
}

void TCuteButton::focusOutEvent(QFocusEvent*)
{
    Guarded([&] {
        if (OnExit)
            OnExit(this);
        SetBevelOuter(bvNone);
    });
}

void TCuteButton::changeEvent(QEvent* e)
{
    if (e->type() == QEvent::EnabledChange)
        update();
    QWidget::changeEvent(e);
}

bool TCuteButton::event(QEvent* e)
{
    return QWidget::event(e);
}
