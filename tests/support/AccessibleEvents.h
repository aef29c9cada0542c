// What the program tells assistive technology, seen in process: AccessibleEvents
// switches Qt's accessibility on (as a screen reader's arrival does) and
// records every event Qt would hand to the platform's bridge, with what the
// object's interface said at that moment (name, value, state). Accessible()
// is an object's interface; RunEventsUntil lets the event loop run until a
// condition holds (bounded).
//
// Qt hands events on only while accessibility is active, which the
// platform's bridge decides; the offscreen platform has the generic one,
// which stays off until told. Nothing public tells it, so its two exported
// entries are declared here by hand: the platform integration's
// accessibility object and its setActive. Only the tests do this.
#pragma once
#include "RunEvents.h"

#include <QAccessible>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QVariant>

#include <vector>

class QPlatformAccessibility {
public:
    void setActive(bool active);
};
class QPlatformIntegration {
public:
    QPlatformAccessibility* accessibility() const;
};
class QGuiApplicationPrivate {
public:
    static QPlatformIntegration* platform_integration;
};

namespace testsupport {

inline QAccessibleInterface* Accessible(QObject* object)
{
    return QAccessible::queryAccessibleInterface(object);
}

struct AccessibleEvent {
    QAccessible::Event type;
    QPointer<QObject> object;
    QObject* address; // also once the object is gone
    QString name;
    QVariant value;                 // value changes: the value carried
    QAccessible::State changed;     // state changes: which states
    QAccessible::State state;       // the object's state then
    qint64 at;                      // milliseconds since recording began
};

class AccessibleEvents {
public:
    AccessibleEvents()
    {
        QGuiApplicationPrivate::platform_integration->accessibility()->setActive(true);
        Recording() = this;
        clock_.start();
        previous_ = QAccessible::installUpdateHandler(&AccessibleEvents::Record);
    }
    ~AccessibleEvents()
    {
        QAccessible::installUpdateHandler(previous_);
        Recording() = nullptr;
        QGuiApplicationPrivate::platform_integration->accessibility()->setActive(false);
    }
    AccessibleEvents(const AccessibleEvents&) = delete;
    AccessibleEvents& operator=(const AccessibleEvents&) = delete;

    const std::vector<AccessibleEvent>& All() const { return events_; }
    void Clear() { events_.clear(); }
    // The events of one object, optionally of one type.
    std::vector<AccessibleEvent> Of(const QObject* object) const
    {
        std::vector<AccessibleEvent> found;
        for (const AccessibleEvent& e : events_)
            if (e.address == object)
                found.push_back(e);
        return found;
    }
    std::vector<AccessibleEvent> Of(const QObject* object, QAccessible::Event type) const
    {
        std::vector<AccessibleEvent> found;
        for (const AccessibleEvent& e : Of(object))
            if (e.type == type)
                found.push_back(e);
        return found;
    }
    qint64 Elapsed() const { return clock_.elapsed(); }

private:
    static AccessibleEvents*& Recording()
    {
        static AccessibleEvents* recording = nullptr;
        return recording;
    }
    static void Record(QAccessibleEvent* event)
    {
        AccessibleEvents* self = Recording();
        if (!self)
            return;
        AccessibleEvent e{event->type(), event->object(), event->object(), {}, {}, {}, {}, self->clock_.elapsed()};
        if (QAccessibleInterface* iface = event->accessibleInterface(); iface && iface->isValid()) {
            e.name = iface->text(QAccessible::Name);
            e.state = iface->state();
        }
        if (event->type() == QAccessible::ValueChanged)
            e.value = static_cast<QAccessibleValueChangeEvent*>(event)->value();
        if (event->type() == QAccessible::StateChanged)
            e.changed = static_cast<QAccessibleStateChangeEvent*>(event)->changedStates();
        self->events_.push_back(e);
    }

    std::vector<AccessibleEvent> events_;
    QElapsedTimer clock_;
    QAccessible::UpdateHandler previous_ = nullptr;
};

} // namespace testsupport
