// The Windows program's event path into the core. Every adapter hands the events it
// translates to one Dispatcher, which passes them to the EventSink one at a time. The core
// itself holds events back while one of its message boxes is open; what must not be lost
// then (a re-created taskbar, a request to end) waits here until it takes events again.
#pragma once

#include <cstdint>
#include <functional>

#include "platform/event_sink.h"
#include "platform/win32/win.h"

namespace vexlo::win32 {

// A hidden window whose messages go to a handler. Top-level (receives broadcasts such as
// "TaskbarCreated") unless messageOnly is set.
class HiddenWindow {
  public:
    // Returns true when it handled the message and put the result into result.
    using Handler =
        std::function<bool(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result)>;
    HiddenWindow(const char* name, bool messageOnly, Handler handler);
    ~HiddenWindow();
    HiddenWindow(const HiddenWindow&) = delete;
    HiddenWindow& operator=(const HiddenWindow&) = delete;
    HWND hwnd() const { return hwnd_; }

  private:
    static LRESULT CALLBACK Procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    Handler handler_;
    HWND hwnd_ = nullptr;
};

class Dispatcher {
  public:
    Dispatcher();
    Dispatcher(const Dispatcher&) = delete;
    Dispatcher& operator=(const Dispatcher&) = delete;

    void setSink(EventSink* sink) { sink_ = sink; }
    EventSink* sink() const { return sink_; }
    // True when an event may enter the core now.
    bool open() const { return sink_ != nullptr && !sink_->holdsEvents(); }

    // Each delivery may end with the sender destroyed: callers return at once afterwards.
    void timer(TimerId id);
    void mouse(const MouseEvent& event);
    // Menu commands arrive inside a window procedure; they are posted and delivered from the
    // message loop as events of their own.
    void postMenuCommand(int itemId);

    // What a request from outside to end the program does (the program's own quit). Such a
    // request is WM_CLOSE to the helper window (as "taskkill" without /f sends it) or the end
    // of the session. A close that comes while the core is busy or a box is open waits for it.
    using CloseRequest = std::function<void(EventSink& sink)>;
    void setCloseRequest(CloseRequest request) { closeRequest_ = std::move(request); }

    HWND helperWindow() const { return window_.hwnd(); }
    UINT taskbarCreatedMessage() const { return taskbarCreated_; }

  private:
    bool handle(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result);
    // Hands one event to the core when it may take one; afterwards, once the core is free
    // again, passes on what waited for it.
    template <typename F>
    void deliver(F&& call);
    void closeWhenIdle();

    EventSink* sink_ = nullptr;
    int busy_ = 0;  // events being handled by the core (a nested message loop may run inside)
    // A taskbar that came back while the core held events still needs its icon afterwards.
    bool taskbarPending_ = false;
    bool closePending_ = false;
    CloseRequest closeRequest_;
    UINT taskbarCreated_ = 0;
    HiddenWindow window_;
};

}  // namespace vexlo::win32
