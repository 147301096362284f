#include "platform/win32/timers.h"

#include <gtest/gtest.h>

#include "tests/test_support.h"

namespace vexlo::win32 {
namespace {

using testing::Pump;
using testing::RecordingSink;

class TimersTest : public ::testing::Test {
  protected:
    TimersTest() { dispatcher.setSink(&sink); }
    // Milliseconds from start until the first tick of id, or -1.
    long FirstTick(TimerId id, DWORD start, DWORD within) {
        Pump(within, [&] {
            for (TimerId t : sink.timers) {
                if (t == id) return true;
            }
            return false;
        });
        for (TimerId t : sink.timers) {
            if (t == id) return static_cast<long>(GetTickCount() - start);
        }
        return -1;
    }
    Dispatcher dispatcher;
    RecordingSink sink;
    Win32TimerService timers {dispatcher};
};

TEST_F(TimersTest, EnabledTimersTickAndDisabledOnesDoNot) {
    auto running = timers.createTimer(20, true);
    auto stopped = timers.createTimer(20, false);
    EXPECT_NE(running->id(), stopped->id());
    EXPECT_TRUE(running->enabled());
    EXPECT_FALSE(stopped->enabled());
    EXPECT_EQ(running->interval(), 20);
    Pump(300);
    int ticks = 0;
    for (TimerId t : sink.timers) {
        EXPECT_NE(t, stopped->id());
        if (t == running->id()) ++ticks;
    }
    EXPECT_GE(ticks, 3);
    EXPECT_LE(ticks, 16);
}

TEST_F(TimersTest, EnablingAnEnabledTimerKeepsItsPeriod) {
    const DWORD start = GetTickCount();
    auto timer = timers.createTimer(1000, true);
    Pump(500);
    timer->setEnabled(true);
    const long at = FirstTick(timer->id(), start, 2500);
    EXPECT_GE(at, 900);
    EXPECT_LT(at, 1350) << "a restarted period would tick at about 1500 ms";
}

TEST_F(TimersTest, EnablingADisabledTimerStartsAFreshPeriod) {
    const DWORD start = GetTickCount();
    auto timer = timers.createTimer(1000, true);
    Pump(500);
    timer->setEnabled(false);
    timer->setEnabled(true);
    const long at = FirstTick(timer->id(), start, 2500);
    EXPECT_GE(at, 1350) << "the old period would tick at about 1000 ms";
}

TEST_F(TimersTest, StoppedOrDestroyedTimersDeliverNoQueuedTick) {
    auto stopped = timers.createTimer(10, true);
    auto destroyed = timers.createTimer(10, true);
    const TimerId destroyedId = destroyed->id();
    Sleep(60);  // ticks come due while nobody reads the queue
    stopped->setEnabled(false);
    destroyed.reset();
    Pump(100);
    for (TimerId t : sink.timers) {
        EXPECT_NE(t, stopped->id());
        EXPECT_NE(t, destroyedId);
    }
}

}  // namespace
}  // namespace vexlo::win32
