// Timers on Windows: SetTimer on a hidden message window; ticks go to the dispatcher. A watch
// timer counts its periods on a thread of its own (a waitable timer) that asks the watch first
// and posts a tick to the window only for a period with something new.
#pragma once

#include <functional>
#include <map>
#include <memory>

#include "platform/timers.h"
#include "platform/win32/dispatcher.h"
#include "platform/win32/win.h"

namespace vexlo::win32 {

class Win32TimerService : public TimerService {
  public:
    explicit Win32TimerService(Dispatcher& dispatcher);
    ~Win32TimerService() override;
    std::unique_ptr<Timer> createTimer(int intervalMs, bool enabled) override;
    std::unique_ptr<Timer> createWatchTimer(int intervalMs, bool enabled,
                                            std::function<bool()> unchanged) override;

    // Used by the timers themselves.
    void arm(TimerId id, int intervalMs);
    void disarm(TimerId id);
    void forget(TimerId id);

  private:
    class Win32Timer;
    class WatchTimer;
    bool handle(UINT message, WPARAM wParam);

    Dispatcher& dispatcher_;
    HiddenWindow window_;
    std::map<TimerId, Timer*> timers_;
    std::map<TimerId, WatchTimer*> watches_;
    TimerId nextId_ = 1;
};

}  // namespace vexlo::win32
