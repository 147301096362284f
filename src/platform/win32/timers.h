// Timers on Windows: SetTimer on a hidden message window; ticks go to the dispatcher.
#pragma once

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

    // Used by the timers themselves.
    void arm(TimerId id, int intervalMs);
    void disarm(TimerId id);
    void forget(TimerId id);

  private:
    class Win32Timer;
    bool handle(UINT message, WPARAM wParam);

    Dispatcher& dispatcher_;
    HiddenWindow window_;
    std::map<TimerId, Win32Timer*> timers_;
    TimerId nextId_ = 1;
};

}  // namespace vexlo::win32
