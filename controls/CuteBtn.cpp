#include "controls/CuteBtn.h"

#include "controls/GdiDraw.h"
#include "runtime/AccessibleFactory.h"
#include "runtime/Application.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QEnterEvent>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QKeySequence>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QShortcutEvent>

#include <algorithm>
#include <climits>

namespace {

TPixel Pixel(TColor color)
{
    return ColorToArgb(color);
}

TShiftState ShiftFrom(Qt::KeyboardModifiers modifiers, Qt::MouseButtons buttons)
{
    TShiftState s = 0;
    if (modifiers & Qt::ShiftModifier)
        s |= ssShift;
    if (modifiers & Qt::AltModifier)
        s |= ssAlt;
    if (modifiers & Qt::ControlModifier)
        s |= ssCtrl;
    if (buttons & Qt::LeftButton)
        s |= ssLeft;
    if (buttons & Qt::RightButton)
        s |= ssRight;
    if (buttons & Qt::MiddleButton)
        s |= ssMiddle;
    return s;
}

bool ToMouseButton(Qt::MouseButton b, TMouseButton& out)
{
    switch (b) {
    case Qt::LeftButton: out = mbLeft; return true;
    case Qt::RightButton: out = mbRight; return true;
    case Qt::MiddleButton: out = mbMiddle; return true;
    default: return false;
    }
}

int Clamp32(long long v)
{
    return static_cast<int>(std::clamp<long long>(v, INT_MIN, INT_MAX));
}

// Runs a cleanup when the scope ends, also by an exception.
template <typename F>
struct ScopeExit {
    F f;
    ~ScopeExit() { f(); }
};
template <typename F>
ScopeExit(F) -> ScopeExit<F>;

class TCuteButtonAccessible : public QAccessibleWidget {
public:
    explicit TCuteButtonAccessible(TCuteButton* button) : QAccessibleWidget(button, QAccessible::Button) {}

    QString text(QAccessible::Text t) const override
    {
        switch (t) {
        case QAccessible::Name:
            return button()->accessibleName().isEmpty() ? TCuteButton::CaptionText(button()->Caption())
                                                        : button()->accessibleName();
        case QAccessible::Accelerator:
            return accelerator();
        default:
            return QAccessibleWidget::text(t);
        }
    }

    QAccessible::State state() const override
    {
        QAccessible::State s = QAccessibleWidget::state();
        s.pressed = button()->BevelOuter() == bvLowered;
        if (button()->Covered())
            s.offscreen = true;
        return s;
    }

    QStringList actionNames() const override
    {
        QStringList names = QAccessibleWidget::actionNames();
        names.prepend(pressAction());
        return names;
    }

    QStringList keyBindingsForAction(const QString& action) const override
    {
        if (action == pressAction() && !accelerator().isEmpty())
            return {accelerator()};
        return QAccessibleWidget::keyBindingsForAction(action);
    }

    void doAction(const QString& action) override
    {
        if (action != pressAction()) {
            QAccessibleWidget::doAction(action);
            return;
        }
        // Only what a mouse could click, then and when the click comes.
        const auto clickable = [](const TCuteButton* b) { return b->isEnabled() && b->isVisible() && !b->Covered(); };
        if (clickable(button()))
            PostGuarded(button(), [clickable](TCuteButton* target) {
                if (clickable(target))
                    target->Press();
            });
    }

private:
    TCuteButton* button() const { return static_cast<TCuteButton*>(widget()); }
    QString accelerator() const
    {
        return QKeySequence::mnemonic(button()->Caption()).toString(QKeySequence::NativeText);
    }
};

void Tell(QObject* object, QAccessible::Event what)
{
    QAccessibleEvent event(object, what);
    QAccessible::updateAccessibility(&event);
}

} // namespace

TShiftState CurrentShiftState()
{
    return ShiftFrom(QGuiApplication::keyboardModifiers(), QGuiApplication::mouseButtons());
}

TCuteButtonTimer::TCuteButtonTimer(TCuteButton* button) : QTimer(button), FCuteButton(button) {}

TCuteButton::TCuteButton(QWidget* parent) : QWidget(parent)
{
    QAccessible::installFactory(AccessibleFactory<TCuteButton, TCuteButtonAccessible>); // once; later calls do nothing
    resize(75, 25);
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_OpaquePaintEvent, true);
}

TCuteButton::~TCuteButton() = default;

void TCuteButton::SetBounds(int left, int top, int width, int height)
{
    setGeometry(left, top, width, height);
}

void TCuteButton::SetCaption(const QString& caption)
{
    if (caption == caption_)
        return;
    caption_ = caption;
    updateShortcut();
    update();
    if (accessibleName().isEmpty())
        Tell(this, QAccessible::NameChanged);
}

void TCuteButton::SetColor(TColor color)
{
    if (color_ != color) {
        color_ = color;
        update();
    }
}

void TCuteButton::SetFont(const QFont& f)
{
    const bool same = f == font();
    setFont(f);
    if (!same)
        update();
}

void TCuteButton::SetFontColor(TColor color)
{
    if (fontColor_ != color) {
        fontColor_ = color;
        update();
    }
}

void TCuteButton::SetBevelShadowColor(TColor c)
{
    if (c != bevelShadowColor_) {
        bevelShadowColor_ = c;
        update();
    }
}

void TCuteButton::SetBevelHighlightColor(TColor c)
{
    if (c != bevelHighlightColor_) {
        bevelHighlightColor_ = c;
        update();
    }
}

void TCuteButton::SetDisabledColor(TColor c)
{
    if (c != disabledColor_) {
        disabledColor_ = c;
        if (!isEnabled())
            update();
    }
}

void TCuteButton::SetUseDisabledColor(bool v)
{
    if (v != useDisabledColor_) {
        useDisabledColor_ = v;
        if (!isEnabled())
            update();
    }
}

void TCuteButton::SetDropDownMenu(QMenu* m)
{
    if (m != dropDownMenu_) {
        dropDownMenu_ = m;
        update();
    }
}

void TCuteButton::SetFlat(bool v)
{
    if (v != flat_) {
        flat_ = v;
        SetBevelInner(v ? bvNone : bvRaised);
    }
}

void TCuteButton::SetLayout(TTextLayout l)
{
    if (l != layout_) {
        layout_ = l;
        update();
    }
}

void TCuteButton::SetShowFocusRect(bool v)
{
    if (v != showFocusRect_) {
        showFocusRect_ = v;
        update();
    }
}

void TCuteButton::SetMarginX(int v)
{
    v = std::max(v, -1);
    if (v != marginX_) {
        marginX_ = v;
        update();
    }
}

void TCuteButton::SetMarginY(int v)
{
    v = std::max(v, -1);
    if (v != marginY_) {
        marginY_ = v;
        update();
    }
}

void TCuteButton::SetAlignment(TAlignment a)
{
    alignment_ = a;
    update();
}

void TCuteButton::SetBevelWidth(int w)
{
    bevelWidth_ = std::max(w, 1);
    update();
}

void TCuteButton::SetBorderStyle(TBorderStyle s)
{
    if (s != borderStyle_) {
        borderStyle_ = s;
        update();
    }
}

void TCuteButton::SetBevelOuter(TPanelBevel b)
{
    const bool wasPressed = bevelOuter_ == bvLowered;
    bevelOuter_ = b;
    update();
    if (wasPressed != (b == bvLowered)) {
        QAccessible::State pressed;
        pressed.pressed = true;
        QAccessibleStateChangeEvent event(this, pressed);
        QAccessible::updateAccessibility(&event);
    }
}

void TCuteButton::SetBevelInner(TPanelBevel b)
{
    bevelInner_ = b;
    update();
}

QChar TCuteButton::Accelerator() const
{
    for (qsizetype i = 0; i + 1 < caption_.size(); ++i) {
        if (caption_[i] != QLatin1Char('&'))
            continue;
        if (caption_[i + 1] == QLatin1Char('&')) {
            ++i;
            continue;
        }
        return caption_[i + 1];
    }
    return QChar();
}

void TCuteButton::updateShortcut()
{
    if (shortcutId_ != 0) {
        releaseShortcut(shortcutId_);
        shortcutId_ = 0;
    }
    if (!Accelerator().isNull())
        shortcutId_ = grabShortcut(QKeySequence::mnemonic(caption_));
}

// --- clicking and dropping down -------------------------------------------

void TCuteButton::Click()
{
    if (droppingDown_) {
        droppingDown_ = false;
        return;
    }
    if (egnoreContClick_) {
        // Clicks that arrive while the handler runs, or while the queue is
        // pumped after it, find no handler.
        TNotifyEvent handler = std::move(OnClick);
        OnClick = nullptr;
        ScopeExit restore{[&] {
            if (!OnClick)
                OnClick = std::move(handler);
        }};
        if (handler) {
            handler(this);
            Application().ProcessMessages();
        }
        return;
    }
    if (OnClick) {
        const TNotifyEvent handler = OnClick; // the handler may replace itself
        handler(this);
    }
}

void TCuteButton::StartDropDown()
{
    if (dropDownDelay_ <= 0) {
        DropDown();
        return;
    }
    if (dropDownTimer_)
        return;
    auto* timer = new TCuteButtonTimer(this);
    timer->setInterval(dropDownDelay_);
    QObject::connect(timer, &QTimer::timeout, this, [this, timer] {
        Guarded([&] {
            if (dropDownTimer_ == timer)
                dropDownTimerFired();
        });
    });
    dropDownTimer_ = timer;
    timer->start();
}

void TCuteButton::dropDownTimerFired()
{
    // It fires once: forget it and free it once its signal has returned.
    TCuteButtonTimer* timer = dropDownTimer_;
    dropDownTimer_ = nullptr;
    timer->stop();
    timer->deleteLater();
    if (keyboardDropDown_) {
        DropDown();
    } else if (leftCaptured_) {
        DropDown();
        leftCaptured_ = false;
    }
}

void TCuteButton::freeDropDownTimer()
{
    if (TCuteButtonTimer* timer = dropDownTimer_) {
        dropDownTimer_ = nullptr;
        delete timer;
    }
}

void TCuteButton::DropDown()
{
    QPointer<QMenu> menu = dropDownMenu_;
    if (!menu)
        return;
    const QPoint where = mapToGlobal(QPoint(0, height()));
    droppingDown_ = true;
    ScopeExit clear{[this] { droppingDown_ = false; }};
    Application().ProcessMessages(); // paint the sunken face first
    if (menu)
        menu->exec(where);
    clickPending_ = false; // the press that opened the menu never clicks
    // Finish the press as if it had been released; the click this causes is
    // swallowed by the dropping-down flag.
    if (keyboardDropDown_) {
        WORD key = VK_SPACE;
        KeyUp(key, 0);
    } else {
        MouseUp(mbLeft, 0, 0, 0);
    }
}

QString TCuteButton::CaptionText(const QString& caption)
{
    QString text;
    text.reserve(caption.size());
    for (qsizetype i = 0; i < caption.size(); ++i) {
        if (caption[i] == QLatin1Char('&')) {
            if (i + 1 < caption.size() && caption[i + 1] == QLatin1Char('&'))
                text += caption[++i];
            continue;
        }
        text += caption[i];
    }
    return text;
}

bool TCuteButton::Covered() const
{
    const QWidget* parent = parentWidget();
    if (!parent)
        return false;
    const QObjectList& siblings = parent->children(); // bottom to top
    const qsizetype self = siblings.indexOf(const_cast<TCuteButton*>(this));
    for (qsizetype i = self + 1; self >= 0 && i < siblings.size(); ++i) {
        const auto* above = qobject_cast<const QWidget*>(siblings[i]);
        if (above && !above->isHidden() && !above->isWindow() && above->geometry().contains(geometry()))
            return true;
    }
    return false;
}

void TCuteButton::coveringChanged(bool covering)
{
    const QWidget* parent = parentWidget();
    if (!parent)
        return;
    for (QObject* sibling : parent->children()) {
        if (sibling == this)
            break; // only those below
        auto* below = dynamic_cast<TCuteButton*>(sibling);
        if (below && below->isVisible() && geometry().contains(below->geometry()))
            Tell(below, covering || below->Covered() ? QAccessible::ObjectHide : QAccessible::ObjectShow);
    }
}

void TCuteButton::Press()
{
    SetBevelOuter(bvLowered);
    if (dropDownMenu_ && dropDownDelay_ == 0)
        DropDown();
    else
        Click();
    SetBevelOuter(tabFocusUp_ ? bvRaised : bvNone);
}

// --- the state table -----------------------------------------------------

void TCuteButton::MouseEnter(TShiftState shift, int x, int y)
{
    if (OnMouseEnter)
        OnMouseEnter(this, shift, x, y);
    SetBevelOuter((shift & ssLeft) ? bvLowered : bvRaised);
}

void TCuteButton::MouseLeave(TShiftState shift, int x, int y)
{
    if (OnMouseLeave)
        OnMouseLeave(this, shift, x, y);
    if (!(hasFocus() && tabFocusUp_))
        SetBevelOuter(bvNone);
}

void TCuteButton::MouseDown(TMouseButton button, TShiftState shift, int x, int y)
{
    if (focusPolicy() != Qt::NoFocus && isEnabled() && !hasFocus())
        setFocus(Qt::MouseFocusReason);
    if (button == mbLeft) {
        SetBevelOuter(bvLowered);
        leftCaptured_ = true;
        clickPending_ = true;
    }
    if (OnMouseDown)
        OnMouseDown(this, button, shift, x, y);
    if (dropDownMenu_ && button == mbLeft) {
        keyboardDropDown_ = false;
        StartDropDown();
    }
}

void TCuteButton::MouseUp(TMouseButton button, TShiftState shift, int x, int y)
{
    if (button == mbLeft) {
        const bool inside = rect().contains(x, y);
        const bool active = tabFocusUp_ && window()->focusWidget() == this;
        SetBevelOuter(inside || active ? bvRaised : bvNone);
    }
    if (OnMouseUp)
        OnMouseUp(this, button, shift, x, y);
    freeDropDownTimer();
    leftCaptured_ = false;
}

void TCuteButton::KeyDown(WORD& key, TShiftState shift)
{
    if (OnKeyDown)
        OnKeyDown(this, key, shift);
    if (!isEnabled())
        return;
    if (key == VK_SPACE) {
        spaceDown_ = true;
        SetBevelOuter(bvLowered);
        if (dropDownMenu_) {
            keyboardDropDown_ = true;
            StartDropDown();
        }
    } else if (key == VK_RETURN) {
        Press();
    } else if (spaceDown_) {
        spaceDown_ = false;
        SetBevelOuter(tabFocusUp_ ? bvRaised : bvNone);
    }
}

void TCuteButton::KeyUp(WORD& key, TShiftState shift)
{
    if (OnKeyUp)
        OnKeyUp(this, key, shift);
    freeDropDownTimer();
    if (spaceDown_ && key == VK_SPACE) {
        spaceDown_ = false;
        Click();
        SetBevelOuter(tabFocusUp_ ? bvRaised : bvNone);
    }
}

bool TCuteButton::DialogChar(QChar ch)
{
    const QChar accel = Accelerator();
    const bool parentVisible = parentWidget() ? parentWidget()->isVisible() : isVisible();
    if (accel.isNull() || ch.toUpper() != accel.toUpper() || !isEnabled() || !parentVisible)
        return false;
    Press();
    return true;
}

// --- Qt events -------------------------------------------------------------

void TCuteButton::enterEvent(QEnterEvent* e)
{
    if (pointerInside_)
        return;
    pointerInside_ = true;
    Guarded([&] {
        const QPoint p = e->position().toPoint();
        MouseEnter(CurrentShiftState(), p.x(), p.y());
    });
}

void TCuteButton::leaveEvent(QEvent*)
{
    if (!pointerInside_)
        return;
    pointerInside_ = false;
    Guarded([&] {
        const QPoint p = mapFromGlobal(QCursor::pos());
        MouseLeave(CurrentShiftState(), p.x(), p.y());
    });
}

void TCuteButton::mousePressEvent(QMouseEvent* e)
{
    Guarded([&] {
        TMouseButton b;
        if (!ToMouseButton(e->button(), b))
            return;
        const QPoint p = e->position().toPoint();
        MouseDown(b, ShiftFrom(e->modifiers(), e->buttons()), p.x(), p.y());
    });
}

void TCuteButton::mouseReleaseEvent(QMouseEvent* e)
{
    Guarded([&] {
        TMouseButton b;
        if (!ToMouseButton(e->button(), b))
            return;
        const QPoint p = e->position().toPoint();
        // A left press on the button followed by its release inside clicks,
        // before the release itself is handled.
        const bool clicks = b == mbLeft && clickPending_ && rect().contains(p);
        if (b == mbLeft) {
            clickPending_ = false;
            leftCaptured_ = false;
        }
        if (clicks)
            Click();
        MouseUp(b, ShiftFrom(e->modifiers(), e->buttons()), p.x(), p.y());
    });
}

void TCuteButton::mouseMoveEvent(QMouseEvent* e)
{
    const QPoint p = e->position().toPoint();
    const bool inside = rect().contains(p);
    if (inside == pointerInside_)
        return;
    pointerInside_ = inside;
    Guarded([&] {
        const TShiftState shift = ShiftFrom(e->modifiers(), e->buttons());
        if (inside)
            MouseEnter(shift, p.x(), p.y());
        else
            MouseLeave(shift, p.x(), p.y());
    });
}

void TCuteButton::showEvent(QShowEvent* e)
{
    QWidget::showEvent(e);
    coveringChanged(true);
}

void TCuteButton::hideEvent(QHideEvent* e)
{
    pointerInside_ = false; // the next crossing after showing again counts
    QWidget::hideEvent(e);
    if (isHidden()) // hidden itself, not with its window
        coveringChanged(false);
}

void TCuteButton::keyPressEvent(QKeyEvent* e)
{
    Guarded([&] {
        WORD key = QtKeyToVK(e->key());
        KeyDown(key, ShiftFrom(e->modifiers(), Qt::NoButton));
    });
    e->accept(); // a focused button's keys do not reach its window
}

void TCuteButton::keyReleaseEvent(QKeyEvent* e)
{
    e->accept();
    if (e->isAutoRepeat())
        return; // a held key goes up once, at its real release
    Guarded([&] {
        WORD key = QtKeyToVK(e->key());
        KeyUp(key, ShiftFrom(e->modifiers(), Qt::NoButton));
    });
}

void TCuteButton::focusInEvent(QFocusEvent* e)
{
    if (e->reason() == Qt::PopupFocusReason)
        return; // the drop-down menu does not take the focus away
    Guarded([&] {
        if (tabFocusUp_)
            SetBevelOuter(bvRaised);
        if (OnEnter)
            OnEnter(this);
    });
}

void TCuteButton::focusOutEvent(QFocusEvent* e)
{
    if (e->reason() == Qt::PopupFocusReason)
        return;
    Guarded([&] {
        if (OnExit)
            OnExit(this);
        SetBevelOuter(bvNone);
    });
}

void TCuteButton::changeEvent(QEvent* e)
{
    if (e->type() == QEvent::EnabledChange || e->type() == QEvent::FontChange)
        update();
    QWidget::changeEvent(e);
}

bool TCuteButton::event(QEvent* e)
{
    if (e->type() == QEvent::Shortcut) {
        auto* se = static_cast<QShortcutEvent*>(e);
        if (shortcutId_ != 0 && se->shortcutId() == shortcutId_) {
            Guarded([&] { DialogChar(Accelerator()); });
            return true;
        }
    }
    return QWidget::event(e);
}

// --- painting ----------------------------------------------------------------

QImage TCuteButton::Render() const
{
    return Render(devicePixelRatioF());
}

QImage TCuteButton::Render(qreal ratio) const
{
    const int W = width(), H = height();
    if (W <= 0 || H <= 0)
        return QImage();
    if (!(ratio > 0))
        ratio = 1;
    const auto device = [ratio](int v) { return std::max(1, GdiDraw::DeviceLength(v, ratio)); };
    QImage image(device(W), device(H), QImage::Format_RGB32);
    if (borderStyle_ != bsSingle) {
        paintOn(image, W, H, ratio);
    } else {
        image.fill(Pixel(clWindowFrame));
        if (W > 2 && H > 2) {
            QImage client(device(W - 2), device(H - 2), QImage::Format_RGB32);
            paintOn(client, W - 2, H - 2, ratio);
            QPainter p(&image);
            p.setCompositionMode(QPainter::CompositionMode_Source);
            p.drawImage(GdiDraw::DeviceLength(1, ratio), GdiDraw::DeviceLength(1, ratio), client);
        }
    }
    image.setDevicePixelRatio(ratio);
    return image;
}

// Paints a button of logicalWidth x logicalHeight pixels on an image that
// many times ratio device pixels large.
void TCuteButton::paintOn(QImage& image, int logicalWidth, int logicalHeight, qreal ratio) const
{
    const TRect client{0, 0, logicalWidth, logicalHeight};
    const bool disabled = !isEnabled();
    const TColor face = (useDisabledColor_ && disabled) ? disabledColor_ : color_;
    GdiDraw::FillRect(image, client, Pixel(face), ratio);

    TRect r = client;
    const TPixel highlight = Pixel(bevelHighlightColor_), shadow = Pixel(bevelShadowColor_);
    if (bevelOuter_ != bvNone) {
        const bool raised = bevelOuter_ == bvRaised;
        GdiDraw::Frame3D(image, r, raised ? highlight : shadow, raised ? shadow : highlight, bevelWidth_, ratio);
    }
    if (bevelInner_ != bvNone) {
        const bool raised = bevelInner_ == bvRaised;
        GdiDraw::Frame3D(image, r, raised ? highlight : shadow, raised ? shadow : highlight, bevelWidth_, ratio);
    }

    // The caption rectangle.
    const long long inset = flat_ ? bevelWidth_ : 2LL * bevelWidth_;
    TRect t{Clamp32(client.Left + inset), Clamp32(client.Top + inset), Clamp32(client.Right - inset),
            Clamp32(client.Bottom - inset)};
    if (alignment_ == taLeftJustify && marginX_ != -1)
        t.Left = Clamp32(static_cast<long long>(t.Left) + marginX_);
    else if (alignment_ == taRightJustify && marginX_ != -1)
        t.Right = Clamp32(static_cast<long long>(t.Right) - marginX_);
    if (layout_ == tlTop && marginY_ != -1)
        t.Top = Clamp32(static_cast<long long>(t.Top) + marginY_);
    else if (layout_ == tlBottom && marginY_ != -1)
        t.Bottom = Clamp32(static_cast<long long>(t.Bottom) - marginY_);
    if (bevelOuter_ == bvLowered) { // the caption sinks with the face
        t.Left = Clamp32(static_cast<long long>(t.Left) + 2);
        t.Top = Clamp32(static_cast<long long>(t.Top) + 2);
        t.Right = Clamp32(static_cast<long long>(t.Right) + 2);
        t.Bottom = Clamp32(static_cast<long long>(t.Bottom) + 2);
    }

    if (!caption_.isEmpty()) {
        // The caption is laid out in logical pixels and rendered by Qt at
        // the image's device pixel ratio.
        image.setDevicePixelRatio(ratio);
        QPainter p(&image);
        QFont f = Font();
        f.setStyleStrategy(QFont::NoAntialias);
        p.setFont(f);
        const QFontMetrics fm(f, &image);
        constexpr int flags = Qt::TextShowMnemonic | Qt::TextSingleLine;
        const int tw = fm.size(flags, caption_).width(), th = fm.height();
        // Single line, placed inside the caption rectangle and clipped to it.
        auto place = [&](const TRect& in) {
            long long x = in.Left, y = in.Top;
            if (alignment_ == taRightJustify)
                x = static_cast<long long>(in.Right) - tw;
            else if (alignment_ == taCenter)
                x = in.Left + (static_cast<long long>(in.Right) - in.Left - tw) / 2;
            if (layout_ == tlBottom)
                y = static_cast<long long>(in.Bottom) - th;
            else if (layout_ == tlCenter)
                y = in.Top + (static_cast<long long>(in.Bottom) - in.Top - th) / 2;
            return QPoint(Clamp32(x), Clamp32(y));
        };
        auto draw = [&](const TRect& in, TColor color) {
            if (in.Right <= in.Left || in.Bottom <= in.Top)
                return;
            const QPoint at = place(in);
            p.setClipRect(QRect(in.Left, in.Top, in.Width(), in.Height()));
            p.setPen(QColor::fromRgb(Pixel(color)));
            p.drawText(QRect(at.x(), at.y(), tw + th + 16, th + 16), Qt::AlignLeft | Qt::AlignTop | flags, caption_);
        };
        if (disabled) {
            TRect moved = t;
            moved.Left = Clamp32(static_cast<long long>(moved.Left) + 1);
            moved.Right = Clamp32(static_cast<long long>(moved.Right) + 1);
            moved.Top = Clamp32(static_cast<long long>(moved.Top) + 1);
            moved.Bottom = Clamp32(static_cast<long long>(moved.Bottom) + 1);
            draw(moved, clBtnHighlight);
            draw(t, clBtnShadow);
        } else {
            draw(t, fontColor_);
        }
        p.end();
        image.setDevicePixelRatio(1);
    }

    if (showFocusRect_ && hasFocus()) {
        TRect focus = t;
        focus.Left = Clamp32(static_cast<long long>(focus.Left) + 2);
        focus.Top = Clamp32(static_cast<long long>(focus.Top) + 2);
        focus.Right = Clamp32(static_cast<long long>(focus.Right) - 2);
        focus.Bottom = Clamp32(static_cast<long long>(focus.Bottom) - 2);
        GdiDraw::FocusRect(image, focus, ratio);
    }
}

void TCuteButton::paintEvent(QPaintEvent*)
{
    Guarded([&] {
        const QImage image = Render();
        QPainter p(this);
        p.drawImage(0, 0, image);
    });
}
