#include "platform/MessageWindow.h"

#include <QCoreApplication>
#include <QEvent>
#include <QEventLoop>
#include <QObject>
#include <QTimerEvent>

#include <map>
#include <mutex>
#include <unordered_map>

namespace {

std::function<void(std::exception_ptr)>& exceptionHook()
{
    static std::function<void(std::exception_ptr)> hook;
    return hook;
}

QEvent::Type postedMessageType()
{
    static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
}

class PostedMessage : public QEvent {
public:
    PostedMessage(UINT m, WPARAM w, LPARAM l) : QEvent(postedMessageType()), msg(m), wParam(w), lParam(l) {}
    UINT msg;
    WPARAM wParam;
    LPARAM lParam;
};

std::unordered_map<HWND, TMessageWindow*>& windows()
{
    static std::unordered_map<HWND, TMessageWindow*> map;
    return map;
}

HWND nextHandle()
{
    static HWND next = 0x10000;
    next += 4;
    return next;
}

TMessageWindow* find(HWND window)
{
    auto it = windows().find(window);
    return it == windows().end() ? nullptr : it->second;
}

} // namespace

struct TMessageWindow::Impl : QObject {
    explicit Impl(TMessageWindow* owner) : owner_(owner) {}

    bool event(QEvent* e) override
    {
        if (e->type() == postedMessageType()) {
            auto* m = static_cast<PostedMessage*>(e);
            owner_->Dispatch(m->msg, m->wParam, m->lParam);
            return true;
        }
        return QObject::event(e);
    }

    void timerEvent(QTimerEvent* e) override
    {
        for (const auto& [id, qtId] : timers)
            if (qtId == e->timerId()) {
                owner_->Dispatch(WM_TIMER, id, 0);
                return;
            }
    }

    TMessageWindow* owner_;
    std::map<std::uintptr_t, int> timers; // window timer id -> Qt timer id
};

TMessageWindow::TMessageWindow(Procedure procedure, std::string className)
    : handle_(nextHandle()), className_(std::move(className)), procedure_(std::move(procedure)),
      impl_(std::make_unique<Impl>(this))
{
    windows()[handle_] = this;
}

TMessageWindow::~TMessageWindow()
{
    windows().erase(handle_);
    for (const auto& [id, qtId] : impl_->timers)
        impl_->killTimer(qtId);
}

LRESULT TMessageWindow::Dispatch(UINT msg, WPARAM wParam, LPARAM lParam)
{
    if (!procedure_)
        return 0;
    try {
        return procedure_(msg, wParam, lParam);
    } catch (...) {
        HandleMessageException(std::current_exception());
        return 0;
    }
}

bool PostMessage(HWND window, UINT msg, WPARAM wParam, LPARAM lParam)
{
    TMessageWindow* w = find(window);
    if (!w)
        return false;
    QCoreApplication::postEvent(w->impl(), new PostedMessage(msg, wParam, lParam));
    return true;
}

LRESULT SendMessage(HWND window, UINT msg, WPARAM wParam, LPARAM lParam)
{
    TMessageWindow* w = find(window);
    return w ? w->Dispatch(msg, wParam, lParam) : 0;
}

bool SetTimer(HWND window, std::uintptr_t id, UINT milliseconds)
{
    TMessageWindow* w = find(window);
    if (!w || milliseconds == 0)
        return false;
    auto& timers = w->impl()->timers;
    if (auto it = timers.find(id); it != timers.end()) {
        w->impl()->killTimer(it->second);
        timers.erase(it);
    }
    const int qtId = w->impl()->startTimer(static_cast<int>(milliseconds), Qt::PreciseTimer);
    if (qtId == 0)
        return false;
    timers[id] = qtId;
    return true;
}

bool KillTimer(HWND window, std::uintptr_t id)
{
    TMessageWindow* w = find(window);
    if (!w)
        return false;
    auto& timers = w->impl()->timers;
    auto it = timers.find(id);
    if (it == timers.end())
        return false;
    w->impl()->killTimer(it->second);
    timers.erase(it);
    return true;
}

bool IsWindow(HWND window) { return find(window) != nullptr; }

UINT RegisterWindowMessage(const std::string& name)
{
    static std::mutex lock;
    static std::map<std::string, UINT> numbers;
    std::string key;
    for (char c : name)
        key += (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c;
    std::lock_guard<std::mutex> guard(lock);
    auto it = numbers.find(key);
    if (it != numbers.end())
        return it->second;
    const UINT number = 0xC000 + static_cast<UINT>(numbers.size());
    numbers[key] = number;
    return number;
}

void ProcessMessages()
{
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void WaitForMessages()
{
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
}

void SetMessageExceptionHook(std::function<void(std::exception_ptr)> hook)
{
    exceptionHook() = std::move(hook);
}

void HandleMessageException(std::exception_ptr error)
{
    if (exceptionHook()) {
        try {
            exceptionHook()(error);
        } catch (...) {
        }
    }
}

extern "C" LRESULT SendMessageA(HWND window, UINT msg, WPARAM wParam, LPARAM lParam)
{
    return SendMessage(window, msg, wParam, lParam);
}

extern "C" UINT RegisterWindowMessageA(const char* name)
{
    return RegisterWindowMessage(name ? name : "");
}
