#include "platform/win32/timers.h"

#include <objbase.h>

#include <atomic>
#include <thread>

namespace vexlo::win32 {

namespace {
// A watch timer's tick, posted by its thread: wParam is the timer's id.
constexpr UINT kWatchTick = WM_APP + 0x31;
}  // namespace

class Win32TimerService::WatchTimer : public Timer {
  public:
    WatchTimer(Win32TimerService& service, TimerId id, int interval,
               std::function<bool()> unchanged)
        : service_(service),
          id_(id),
          interval_(interval > 0 ? interval : 1),
          unchanged_(std::move(unchanged)),
          timer_(CreateWaitableTimerA(nullptr, FALSE, nullptr)),
          end_(CreateEventA(nullptr, TRUE, FALSE, nullptr)),
          window_(service.window_.hwnd()) {
        thread_ = std::thread([this] { run(); });
    }
    ~WatchTimer() override {
        enabled_ = false;
        if (end_) SetEvent(end_);
        thread_.join();
        if (timer_) CloseHandle(timer_);
        if (end_) CloseHandle(end_);
        service_.watches_.erase(id_);
        service_.timers_.erase(id_);
    }
    WatchTimer(const WatchTimer&) = delete;
    WatchTimer& operator=(const WatchTimer&) = delete;

    TimerId id() const override { return id_; }
    int interval() const override { return interval_; }
    bool enabled() const override { return enabled_; }
    void setEnabled(bool enabled) override {
        // Enabled again, a fresh period starts; disabled, the thread sleeps until then.
        if (enabled == enabled_) return;
        enabled_ = enabled;
        if (!timer_) return;
        if (enabled) {
            LARGE_INTEGER due;
            due.QuadPart = -10000LL * interval_;  // relative, in 100 ns units
            SetWaitableTimer(timer_, &due, interval_, nullptr, nullptr, FALSE);
        } else {
            CancelWaitableTimer(timer_);
        }
    }
    // The posted tick has arrived on the program's thread.
    void arrived() { posted_ = false; }

  private:
    void run() {
        // The watch's device may be asked through COM from here.
        const HRESULT com = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        HANDLE waits[2] = {end_, timer_};
        for (;;) {
            if (timer_ && end_) {
                if (WaitForMultipleObjects(2, waits, FALSE, INFINITE) != WAIT_OBJECT_0 + 1) break;
            } else if (!end_ || WaitForSingleObject(end_, interval_) != WAIT_TIMEOUT) {
                break;
            }
            // A tick still on its way covers this period too; an unchanged watch needs none.
            if (!enabled_ || posted_ || unchanged_()) continue;
            posted_ = true;
            if (!PostMessageA(window_, kWatchTick, static_cast<WPARAM>(id_), 0)) posted_ = false;
        }
        if (SUCCEEDED(com)) CoUninitialize();
    }

    Win32TimerService& service_;
    TimerId id_;
    int interval_;
    std::function<bool()> unchanged_;
    HANDLE timer_;
    HANDLE end_;
    HWND window_;
    std::atomic<bool> enabled_ {false};
    std::atomic<bool> posted_ {false};
    std::thread thread_;
};

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

std::unique_ptr<Timer> Win32TimerService::createWatchTimer(int intervalMs, bool enabled,
                                                           std::function<bool()> unchanged) {
    const TimerId id = nextId_++;
    auto timer = std::make_unique<WatchTimer>(*this, id, intervalMs, std::move(unchanged));
    timers_[id] = timer.get();
    watches_[id] = timer.get();
    timer->setEnabled(enabled);
    return timer;
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
    if (message == kWatchTick) {
        const auto id = static_cast<TimerId>(wParam);
        const auto it = watches_.find(id);
        if (it == watches_.end()) return true;
        it->second->arrived();
        if (it->second->enabled()) dispatcher_.timer(id);
        return true;
    }
    if (message != WM_TIMER) return false;
    const auto id = static_cast<TimerId>(wParam);
    const auto it = timers_.find(id);
    // A tick already queued for a timer that has since been stopped or destroyed is dropped.
    if (it == timers_.end() || !it->second->enabled()) return true;
    dispatcher_.timer(id);
    return true;
}

}  // namespace vexlo::win32
