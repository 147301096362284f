// The adapters' way into the core. Every platform event goes through deliver(). The core
// itself holds events back while one of its modal message boxes is open (the box runs a
// nested event loop, and a tick or a hotkey handled there would re-enter the core in the
// middle of the handler that opened the box); deliver() then reports the event as not taken.
#pragma once

#include "platform/event_sink.h"

namespace vexlo::linux_platform {

class EventPort {
  public:
    void setSink(EventSink* sink) { sink_ = sink; }

    // Calls f(sink) unless there is no sink yet or the core holds events back. Returns whether
    // the event was delivered.
    template <typename F>
    bool deliver(F&& f) {
        if (sink_ == nullptr || sink_->holdsEvents()) return false;
        f(*sink_);
        return true;
    }

    // True while the core holds events back (one of its boxes is open, or it has ended).
    bool holding() const { return sink_ != nullptr && sink_->holdsEvents(); }

  private:
    EventSink* sink_ = nullptr;
};

}  // namespace vexlo::linux_platform
