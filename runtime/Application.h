// The application object: title, icon, "terminate", "process messages",
// the standard error box, and the guard every event handler runs in.
//
// Terminate() asks the main loop to end when control returns to it; it never
// interrupts the handler that asked (also when it is called before the loop
// has started). The standard error box shows the exception's message with a
// full stop appended when it ends without punctuation, an error icon and the
// application title as caption, and the program runs on.
#pragma once
#include <QIcon>
#include <QMetaObject>
#include <QPointer>
#include <QString>

#include <exception>
#include <functional>

class QWidget;

class TApplication {
public:
    static TApplication& Instance();

    QString Title() const { return title_; }
    void SetTitle(const QString& title);
    QIcon Icon() const { return icon_; }
    void SetIcon(const QIcon& icon);

    QWidget* MainForm() const { return mainForm_; }
    void SetMainForm(QWidget* form) { mainForm_ = form; }

    void Terminate();
    bool Terminated() const { return terminated_; }
    // Takes a request to terminate back and lets the message loop run
    // again (for a process that goes on after the program's windows have
    // closed, such as a test run).
    void Revive();
    // Runs the message loop until Terminate or the main window closes.
    int Run();
    void ProcessMessages();

    // Shows the standard error box for the exception.
    void HandleException(std::exception_ptr error);
    void ShowException(const std::string& message);
    // The text the standard error box shows for a message.
    static QString ErrorBoxText(const std::string& message);

private:
    TApplication();
    QString title_;
    QIcon icon_;
    QWidget* mainForm_ = nullptr;
    bool terminated_ = false;
};

inline TApplication& Application() { return TApplication::Instance(); }

// Runs an event handler; anything it throws goes to the standard error box.
template <typename F>
void Guarded(F&& handler) noexcept
{
    try {
        handler();
    } catch (...) {
        try {
            Application().HandleException(std::current_exception());
        } catch (...) {
        }
    }
}

// Runs handler(target) later, from the event loop (as a click comes, after
// the caller's own request has been answered), inside the guard; nothing
// when the target has gone by then.
template <typename Target, typename F>
void PostGuarded(Target* target, F handler)
{
    QMetaObject::invokeMethod(
        target,
        [guard = QPointer<Target>(target), handler = std::move(handler)] {
            if (guard)
                Guarded([&] { handler(guard.data()); });
        },
        Qt::QueuedConnection);
}
