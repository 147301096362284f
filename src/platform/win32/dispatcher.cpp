#include "platform/win32/dispatcher.h"

namespace vexlo::win32 {

namespace {
constexpr UINT kMenuCommandMessage = WM_APP + 1;
constexpr UINT kCloseMessage = WM_APP + 2;
constexpr const char* kHiddenClass = "VexloHidden";

void RegisterHiddenClass(WNDPROC procedure) {
    static bool registered = false;
    if (registered) return;
    WNDCLASSA wc {};
    wc.lpfnWndProc = procedure;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = kHiddenClass;
    registered = RegisterClassA(&wc) != 0;
}
}  // namespace

HiddenWindow::HiddenWindow(const char* name, bool messageOnly, Handler handler)
    : handler_(std::move(handler)) {
    RegisterHiddenClass(&HiddenWindow::Procedure);
    hwnd_ = CreateWindowExA(WS_EX_TOOLWINDOW, kHiddenClass, name, WS_POPUP, 0, 0, 0, 0,
                            messageOnly ? HWND_MESSAGE : nullptr, nullptr,
                            GetModuleHandleA(nullptr), this);
}

HiddenWindow::~HiddenWindow() {
    if (hwnd_) {
        SetWindowLongPtrA(hwnd_, GWLP_USERDATA, 0);
        DestroyWindow(hwnd_);
    }
}

LRESULT CALLBACK HiddenWindow::Procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        const auto* cs = reinterpret_cast<const CREATESTRUCTA*>(lParam);
        SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(cs->lpCreateParams));
    }
    auto* self = reinterpret_cast<HiddenWindow*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
    LRESULT result = 0;
    if (self && self->handler_ && self->handler_(message, wParam, lParam, result)) return result;
    return DefWindowProcA(hwnd, message, wParam, lParam);
}

Dispatcher::Dispatcher()
    : taskbarCreated_(RegisterWindowMessageA("TaskbarCreated")),
      window_("Vexlo helper", false,
              [this](UINT m, WPARAM w, LPARAM l, LRESULT& r) { return handle(m, w, l, r); }) {}

template <typename F>
void Dispatcher::deliver(F&& call) {
    if (!open()) return;
    ++busy_;
    call(*sink_);
    --busy_;
    if (busy_ > 0 || !open()) return;
    // A box opened by the event has closed with it: what came meanwhile follows now.
    if (taskbarPending_) {
        taskbarPending_ = false;
        PostMessageA(window_.hwnd(), taskbarCreated_, 0, 0);
    }
    if (closePending_) closeWhenIdle();
}

void Dispatcher::timer(TimerId id) {
    deliver([id](EventSink& sink) { sink.onTimer(id); });
}

void Dispatcher::mouse(const MouseEvent& event) {
    deliver([&event](EventSink& sink) { sink.onMouse(event); });
}

void Dispatcher::closeWhenIdle() {
    if (!closeRequest_) return;
    if (!open() || busy_ > 0) {
        closePending_ = true;  // after the event or the box that holds the core now
        return;
    }
    closePending_ = false;
    deliver([this](EventSink& sink) { closeRequest_(sink); });
}

void Dispatcher::postMenuCommand(int itemId) {
    PostMessageA(window_.hwnd(), kMenuCommandMessage, static_cast<WPARAM>(itemId), 0);
}

bool Dispatcher::handle(UINT message, WPARAM wParam, LPARAM /*lParam*/, LRESULT& result) {
    result = 0;
    switch (message) {
        case kMenuCommandMessage:
            deliver([wParam](EventSink& sink) { sink.onMenuCommand(static_cast<int>(wParam)); });
            return true;
        case WM_CLOSE:
            // Never the default (which would destroy this window and with it the menu and
            // taskbar events): the request is the program's quit, from the message loop.
            if (closeRequest_) PostMessageA(window_.hwnd(), kCloseMessage, 0, 0);
            return true;
        case kCloseMessage:
            closeWhenIdle();
            return true;
        case WM_QUERYENDSESSION:
            result = TRUE;
            return true;
        case WM_ENDSESSION:
            // The process may be ended as soon as this returns: quit now if the core is free.
            if (wParam && closeRequest_ && open() && busy_ == 0) closeWhenIdle();
            return true;
        default:
            break;
    }
    if (taskbarCreated_ != 0 && message == taskbarCreated_) {
        if (open()) {
            deliver([](EventSink& sink) { sink.onTaskbarCreated(); });
        } else {
            taskbarPending_ = true;
        }
        return true;
    }
    return false;
}

}  // namespace vexlo::win32
