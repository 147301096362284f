// Port: timers with millisecond periods, and the clock.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

namespace vexlo {

using TimerId = int;

// A periodic timer. Its ticks arrive as EventSink::onTimer(id) on the program's one thread.
// Enabling a disabled timer starts a fresh period; enabling an enabled one changes nothing.
class Timer {
  public:
    virtual ~Timer() = default;
    virtual TimerId id() const = 0;
    virtual int interval() const = 0;
    virtual void setEnabled(bool enabled) = 0;
    virtual bool enabled() const = 0;
};

class TimerService {
  public:
    virtual ~TimerService() = default;
    virtual std::unique_ptr<Timer> createTimer(int intervalMs, bool enabled) = 0;
    // A timer for a watch that polls something: each period unchanged() is asked first (on
    // any thread), and a period it answers true for brings no tick, as the tick would find
    // nothing new. A service that cannot ask off the program's thread ticks every period.
    virtual std::unique_ptr<Timer> createWatchTimer(int intervalMs, bool enabled,
                                                    std::function<bool()> unchanged) {
        (void)unchanged;
        return createTimer(intervalMs, enabled);
    }
};

class Clock {
  public:
    virtual ~Clock() = default;
    virtual std::int64_t nowMs() const = 0;
};

}  // namespace vexlo
