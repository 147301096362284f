// Helpers for the adapter tests: an event sink that records, waiting on the event loop,
// commands, temporary folders, and what the session offers (X display, sound server).
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/event_sink.h"

namespace vexlo::linux_platform::testing {

struct RecordedMessage {
    NativeHandle window;
    std::uint32_t message;
    std::uintptr_t wParam;
    std::intptr_t lParam;
};

struct RecordedWheel {
    NativeHandle target;
    int delta;
    bool vertical;
    bool operator==(const RecordedWheel& o) const {
        return target == o.target && delta == o.delta && vertical == o.vertical;
    }
};

class RecordingSink : public EventSink {
  public:
    void onTimer(TimerId timer) override {
        timers.push_back(timer);
        if (onTimerHook) onTimerHook(timer);
    }
    void onMouse(const MouseEvent& event) override {
        mouse.push_back(event);
        if (onMouseHook) onMouseHook(event);
    }
    std::intptr_t onWindowMessage(NativeHandle window, std::uint32_t message, std::uintptr_t wParam,
                                  std::intptr_t lParam) override {
        messages.push_back({window, message, wParam, lParam});
        return messageResult;
    }
    void onMenuCommand(int itemId) override { menuCommands.push_back(itemId); }
    void onTrayWheel(NativeHandle target, int delta, bool vertical) override {
        wheels.push_back({target, delta, vertical});
    }
    void onTaskbarCreated() override {}
    void onHotkeysUnavailable(const std::string&) override {}
    bool holdsEvents() const override { return holding; }

    std::vector<TimerId> timers;
    std::vector<MouseEvent> mouse;
    std::vector<RecordedMessage> messages;
    std::vector<int> menuCommands;
    std::vector<RecordedWheel> wheels;
    std::intptr_t messageResult = 0;
    bool holding = false;  // as the core while one of its boxes is open
    std::function<void(TimerId)> onTimerHook;
    std::function<void(const MouseEvent&)> onMouseHook;
};

// Runs the event loop until the condition holds or the time is up; returns the condition.
bool WaitFor(const std::function<bool()>& condition,
             std::chrono::milliseconds limit = std::chrono::milliseconds(3000));
// Runs the event loop for a while.
void Pump(std::chrono::milliseconds duration);

// Runs a shell command; returns its standard output, the exit status in status.
std::string Shell(const std::string& command, int* status = nullptr);

// The test session's sound sink (set by with-session.sh) or empty.
std::string SinkName();
bool HaveSoundServer();
bool HaveX();

// A fresh folder removed again at the end of the test.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }
    void write(const std::string& name, const std::string& text, bool executable = false) const;

  private:
    std::string path_;
};

// Sets an environment variable for the scope of the object.
class ScopedEnv {
  public:
    ScopedEnv(const char* name, const char* value);
    ~ScopedEnv();

  private:
    std::string name_;
    bool had_;
    std::string old_;
};

}  // namespace vexlo::linux_platform::testing

#define REQUIRE_SOUND_SERVER()                                             \
    do {                                                                   \
        if (!::vexlo::linux_platform::testing::HaveSoundServer())          \
            GTEST_SKIP() << "no sound server (run under with-session.sh)"; \
    } while (0)

#define REQUIRE_X()                                                     \
    do {                                                                \
        if (!::vexlo::linux_platform::testing::HaveX())                 \
            GTEST_SKIP() << "no X display (run under with-session.sh)"; \
    } while (0)
