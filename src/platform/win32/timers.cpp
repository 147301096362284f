#include "platform/win32/timers.h"

namespace vexlo::win32 {

class Win32TimerService::Win32Timer : public Timer {
  public:
    Win32Timer(Win32TimerService& service, TimerId id, int interval)
        : service_(service), id_(id), interval_(interval) {}
    ~Win32Timer() override { service_.forget(id_); }
    Win32Timer(const Win32Timer&) = delete;
    Win32Timer& operator=(const Win32Timer&) = delete;

    TimerId id() const override { return id_; }
    int interval() const override { return interval_; }
    bool enabled() const override { return enabled_; }
    void setEnabled(bool enabled) override {
        // Enabling an enabled timer leaves its period alone; enabling a disabled one starts
        // a fresh period.
        if (enabled == enabled_) return;
        enabled_ = enabled;
        if (enabled) {
            service_.arm(id_, interval_);
        } else {
            service_.disarm(id_);
        }
    }

  private:
    Win32TimerService& service_;
    TimerId id_;
    int interval_;
    bool enabled_ = false;
};

Win32TimerService::Win32TimerService(Dispatcher& dispatcher)
    : dispatcher_(dispatcher),
      window_("Vexlo timers", true, [this](UINT m, WPARAM w, LPARAM, LRESULT& result) {
          result = 0;
          return handle(m, w);
      }) {}

Win32TimerService::~Win32TimerService() {
    for (auto& [id, timer] : timers_) KillTimer(window_.hwnd(), static_cast<UINT_PTR>(id));
}

std::unique_ptr<Timer> Win32TimerService::createTimer(int intervalMs, bool enabled) {
    const TimerId id = nextId_++;
    auto timer = std::make_unique<Win32Timer>(*this, id, intervalMs);
    timers_[id] = timer.get();
    timer->setEnabled(enabled);
    return timer;
}

void Win32TimerService::arm(TimerId id, int intervalMs) {
    SetTimer(window_.hwnd(), static_cast<UINT_PTR>(id),
             static_cast<UINT>(intervalMs > 0 ? intervalMs : 1), nullptr);
}

void Win32TimerService::disarm(TimerId id) {
    KillTimer(window_.hwnd(), static_cast<UINT_PTR>(id));
}

void Win32TimerService::forget(TimerId id) {
    disarm(id);
    timers_.erase(id);
}

bool Win32TimerService::handle(UINT message, WPARAM wParam) {
    if (message != WM_TIMER) return false;
    const auto id = static_cast<TimerId>(wParam);
    const auto it = timers_.find(id);
    // A tick already queued for a timer that has since been stopped or destroyed is dropped.
    if (it == timers_.end() || !it->second->enabled()) return true;
    dispatcher_.timer(id);
    return true;
}

}  // namespace vexlo::win32
