#include "platform/linux/watch_timer.h"

#include <sys/timerfd.h>
#include <unistd.h>

#include <QObject>
#include <cerrno>
#include <chrono>
#include <cstdint>

#include "platform/event_sink.h"

namespace vexlo::linux_platform {

WatchTimer::WatchTimer(EventPort& port, TimerId id, int intervalMs, bool enabled,
                       std::function<bool()> unchanged)
    : port_(port),
      id_(id),
      intervalMs_(intervalMs),
      unchanged_(std::move(unchanged)),
      state_(std::make_shared<State>()),
      context_(new QObject) {
    fd_ = timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC);
    // Without a timerfd every period is a tick, from a thread that sleeps instead.
    thread_ = std::thread([this] { run(); });
    if (enabled) setEnabled(true);
}

WatchTimer::~WatchTimer() {
    state_->ended = true;
    state_->enabled = false;
    if (fd_ >= 0) {
        // Fires at once: the thread wakes, sees the end and leaves.
        const itimerspec now {{0, 0}, {0, 1}};
        timerfd_settime(fd_, 0, &now, nullptr);
    }
    thread_.join();
    if (fd_ >= 0) close(fd_);
    // The tick that is running may be the one that destroys this timer.
    context_->deleteLater();
}

void WatchTimer::arm(bool on) {
    if (fd_ < 0) return;
    const long ns = static_cast<long>(intervalMs_) * 1000000L;
    const timespec period {ns / 1000000000L, ns % 1000000000L};
    const itimerspec spec {on ? period : timespec {}, on ? period : timespec {}};
    timerfd_settime(fd_, 0, &spec, nullptr);
}

void WatchTimer::setEnabled(bool enabled) {
    if (enabled == state_->enabled.load()) return;
    state_->enabled = enabled;
    // Enabled again, it starts a fresh period; disabled, the thread sleeps until then.
    arm(enabled);
}

void WatchTimer::run() {
    const std::shared_ptr<State> state = state_;
    while (!state->ended) {
        if (fd_ >= 0) {
            std::uint64_t expirations = 0;
            const ssize_t got = read(fd_, &expirations, sizeof expirations);
            if (got < 0 && errno == EINTR) continue;
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(intervalMs_));
        }
        if (state->ended || !state->enabled) continue;
        // A tick still on its way covers this period too; an unchanged watch needs none.
        if (state->posted || unchanged_()) continue;
        state->posted = true;
        QMetaObject::invokeMethod(
            context_,
            [state, port = &port_, id = id_] {
                state->posted = false;
                if (state->ended || !state->enabled) return;
                port->deliver([id](EventSink& sink) { sink.onTimer(id); });
            },
            Qt::QueuedConnection);
    }
}

}  // namespace vexlo::linux_platform
