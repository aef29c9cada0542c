// Hidden notification windows: an object with a message procedure, reached
// through a window handle.
//
// PostMessage queues the message through the Qt event loop, SendMessage
// calls the procedure at once, SetTimer/KillTimer deliver WM_TIMER (275)
// with the timer id as wParam, and RegisterWindowMessage hands out stable
// numbers from 0xC000 up, one per name (compared without regard to case, as
// Windows does) for the life of the process.
//
// Handles are never reused, so a message sent or posted to a window that no
// longer exists goes nowhere (SendMessage answers 0, PostMessage false).
// An exception that escapes a message procedure is handed to the hook set
// with SetMessageExceptionHook (the application's standard error box) and
// never reaches Qt's event loop.
#pragma once
#include "platform/WinTypes.h"

#include <exception>
#include <functional>
#include <memory>
#include <string>

class TMessageWindow {
public:
    using Procedure = std::function<LRESULT(UINT msg, WPARAM wParam, LPARAM lParam)>;

    // className is kept for diagnostics only ("PsockWindowClass", ...).
    explicit TMessageWindow(Procedure procedure, std::string className = {});
    ~TMessageWindow();
    TMessageWindow(const TMessageWindow&) = delete;
    TMessageWindow& operator=(const TMessageWindow&) = delete;

    HWND Handle() const { return handle_; }
    const std::string& ClassName() const { return className_; }

    // Calls the procedure (also used by SendMessage).
    LRESULT Dispatch(UINT msg, WPARAM wParam, LPARAM lParam);

    struct Impl;
    Impl* impl() const { return impl_.get(); }

private:
    HWND handle_;
    std::string className_;
    Procedure procedure_;
    std::unique_ptr<Impl> impl_;
};

bool PostMessage(HWND window, UINT msg, WPARAM wParam, LPARAM lParam);
LRESULT SendMessage(HWND window, UINT msg, WPARAM wParam, LPARAM lParam);
// Starts or restarts timer `id` of the window (period in milliseconds).
// Returns false when the window does not exist or the period is 0.
bool SetTimer(HWND window, std::uintptr_t id, UINT milliseconds);
bool KillTimer(HWND window, std::uintptr_t id);
UINT RegisterWindowMessage(const std::string& name);
bool IsWindow(HWND window);

// Lets the message queue run once (posted messages, timers, input, paint).
void ProcessMessages();
// Blocks in the event dispatcher until at least one event has arrived, then
// handles what is pending. Used by loops that wait for the network: they cost
// no CPU while nothing happens and add no latency when something does.
void WaitForMessages();

// Where exceptions from message procedures and timers go.
void SetMessageExceptionHook(std::function<void(std::exception_ptr)> hook);
void HandleMessageException(std::exception_ptr error);

// The same entries with C linkage, exported from the program so that the
// archiver libraries can report progress to an owner window (they resolve
// them with dlsym(RTLD_DEFAULT, ...)).
extern "C" {
LRESULT SendMessageA(HWND window, UINT msg, WPARAM wParam, LPARAM lParam);
UINT RegisterWindowMessageA(const char* name);
}
