#include "platform/win32/dispatcher.h"

namespace vexlo::win32 {

namespace {
constexpr UINT kMenuCommandMessage = WM_APP + 1;
constexpr const char* kHiddenClass = "VexloHidden";

void RegisterHiddenClass(WNDPROC procedure) {
    static bool registered = false;
    if (registered) return;
    WNDCLASSA wc{};
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

void Dispatcher::timer(TimerId id) {
    if (open()) sink_->onTimer(id);
}

void Dispatcher::mouse(const MouseEvent& event) {
    if (open()) sink_->onMouse(event);
}

void Dispatcher::leaveModal() {
    if (--modalDepth_ == 0 && taskbarPending_) {
        taskbarPending_ = false;
        PostMessageA(window_.hwnd(), taskbarCreated_, 0, 0);
    }
}

void Dispatcher::postMenuCommand(int itemId) {
    PostMessageA(window_.hwnd(), kMenuCommandMessage, static_cast<WPARAM>(itemId), 0);
}

bool Dispatcher::handle(UINT message, WPARAM wParam, LPARAM /*lParam*/, LRESULT& result) {
    if (message == kMenuCommandMessage) {
        if (open()) sink_->onMenuCommand(static_cast<int>(wParam));
        result = 0;
        return true;
    }
    if (taskbarCreated_ != 0 && message == taskbarCreated_) {
        if (open()) {
            sink_->onTaskbarCreated();
        } else {
            taskbarPending_ = true;
        }
        result = 0;
        return true;
    }
    return false;
}

}  // namespace vexlo::win32
