// The timer of a polling watch. Its periods are counted on a thread of its own (a timerfd),
// which asks the watch's unchanged() each period; only a period it answers false for wakes
// the program's thread with a tick. An idle watch then costs one wake-up of that small
// thread per period instead of a turn of the whole event loop.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <thread>

#include "platform/linux/event_port.h"
#include "platform/timers.h"

class QObject;

namespace vexlo::linux_platform {

class WatchTimer : public Timer {
  public:
    WatchTimer(EventPort& port, TimerId id, int intervalMs, bool enabled,
               std::function<bool()> unchanged);
    ~WatchTimer() override;
    WatchTimer(const WatchTimer&) = delete;
    WatchTimer& operator=(const WatchTimer&) = delete;

    TimerId id() const override { return id_; }
    int interval() const override { return intervalMs_; }
    void setEnabled(bool enabled) override;
    bool enabled() const override { return state_->enabled.load(); }

  private:
    // What the thread and the ticks it posts share; a tick posted before the timer ended
    // finds it ended and does nothing.
    struct State {
        std::atomic<bool> enabled {false};
        std::atomic<bool> posted {false};  // a tick is on its way to the program's thread
        std::atomic<bool> ended {false};
    };
    void arm(bool on);
    void run();

    EventPort& port_;
    TimerId id_;
    int intervalMs_;
    std::function<bool()> unchanged_;
    std::shared_ptr<State> state_;
    QObject* context_;  // lives on the program's thread; posted ticks run there
    int fd_ = -1;
    std::thread thread_;
};

}  // namespace vexlo::linux_platform
