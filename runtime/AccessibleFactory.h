// AccessibleFactory: the factory QAccessible::installFactory takes for the
// widgets of one class, giving each of them the accessible interface made
// for that class (Interface(Widget*)); null for any other object, which
// Qt then asks the next factory about. Installing it again does nothing.
#pragma once
#include <QAccessible>

template <typename Widget, typename Interface>
QAccessibleInterface* AccessibleFactory(const QString&, QObject* object)
{
    if (auto* widget = dynamic_cast<Widget*>(object))
        return new Interface(widget);
    return nullptr;
}
