#include "runtime/Label.h"

#include "runtime/AccessibleFactory.h"
#include "runtime/Application.h"
#include "runtime/RateLimiter.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPalette>

namespace {

bool Clickable(const TLabel* label)
{
    return (label->focusPolicy() & Qt::TabFocus) != 0;
}

class TLabelAccessible : public QAccessibleWidget {
public:
    explicit TLabelAccessible(TLabel* label) : QAccessibleWidget(label, QAccessible::StaticText) {}

    QAccessible::Role role() const override
    {
        if (label()->LiveStatus())
            return QAccessible::Notification;
        return Clickable(label()) ? QAccessible::Link : QAccessible::StaticText;
    }

    QString text(QAccessible::Text t) const override
    {
        if (t != QAccessible::Name)
            return QAccessibleWidget::text(t);
        const QString name = label()->accessibleName();
        return name.isEmpty() ? label()->text() : name;
    }

    QAccessible::State state() const override
    {
        QAccessible::State s = QAccessibleWidget::state();
        s.readOnly = !Clickable(label());
        return s;
    }

    QList<QPair<QAccessibleInterface*, QAccessible::Relation>> relations(QAccessible::Relation match) const override
    {
        auto found = QAccessibleWidget::relations(match);
        if ((match & QAccessible::Labelled) && label()->buddy())
            if (QAccessibleInterface* buddy = QAccessible::queryAccessibleInterface(label()->buddy()))
                found.append({buddy, QAccessible::Labelled});
        return found;
    }

    QStringList actionNames() const override
    {
        QStringList names = QAccessibleWidget::actionNames();
        if (Clickable(label()))
            names.prepend(pressAction());
        return names;
    }

    void doAction(const QString& action) override
    {
        if (action != pressAction() || !Clickable(label())) {
            QAccessibleWidget::doAction(action);
            return;
        }
        if (!label()->isEnabled() || !label()->isVisible())
            return;
        PostGuarded(label(), [](TLabel* target) { target->Click(); });
    }

private:
    TLabel* label() const { return static_cast<TLabel*>(widget()); }
};

} // namespace

TLabel::TLabel(const QString& caption, QWidget* parent) : QLabel(parent)
{
    // Before the first change notice, which makes Qt look for the label's
    // accessible interface (once, for good).
    QAccessible::installFactory(AccessibleFactory<TLabel, TLabelAccessible>);
    setAutoFillBackground(false);
    setAttribute(Qt::WA_TranslucentBackground, true);
    setTextFormat(Qt::PlainText);
    setContentsMargins(0, 0, 0, 0);
    setMargin(0);
    setIndent(0);
    setText(caption);
    SetFontColor(fontColor_);
    adjustSize();
}

TLabel::~TLabel() = default;

void TLabel::SetCaption(const QString& caption)
{
    const bool changed = caption != text();
    setText(caption);
    adjustSize();
    if (!changed)
        return;
    if (nameLimit_)
        nameLimit_->Request();
    if (liveStatus_ && isVisible()) {
        QAccessibleEvent shown(this, QAccessible::ObjectShow);
        QAccessible::updateAccessibility(&shown);
    }
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

void TLabel::SetLiveStatus(bool live)
{
    liveStatus_ = live;
}

int TLabel::AccessibleNameInterval() const
{
    return nameLimit_ ? nameLimit_->Interval() : 0;
}

void TLabel::SetAccessibleNameInterval(int ms)
{
    if (ms <= 0) {
        nameLimit_.reset();
        setAccessibleName(QString()); // the caption is the name again
        return;
    }
    nameLimit_ = std::make_unique<TRateLimiter>(ms, [this] {
        if (accessibleName() != text())
            setAccessibleName(text()); // tells the name change
    });
    setAccessibleName(text());
}

void TLabel::Click()
{
    const QPointF at = QRectF(rect()).center();
    const QPointF global = mapToGlobal(at);
    QMouseEvent press(QEvent::MouseButtonPress, at, global, Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(this, &press);
    QMouseEvent release(QEvent::MouseButtonRelease, at, global, Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(this, &release);
}

void TLabel::keyPressEvent(QKeyEvent* event)
{
    const int key = event->key();
    if (Clickable(this) && (key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Space)) {
        event->accept();
        if (!event->isAutoRepeat())
            Guarded([this] { Click(); });
        return;
    }
    QLabel::keyPressEvent(event);
}
