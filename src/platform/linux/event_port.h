// The adapters' way into the core. Every platform event goes through deliver(), which holds
// events back while the core is inside one of its own modal message boxes: the box runs a
// nested event loop, and a tick or a hotkey handled there would re-enter the core in the
// middle of the handler that opened the box (for a fatal error, in the middle of ending).
#pragma once

#include "platform/event_sink.h"

namespace vexlo::linux_platform {

class EventPort {
  public:
    void setSink(EventSink* sink) { sink_ = sink; }

    // Calls f(sink) unless there is no sink yet or a modal box is open. Returns whether the
    // event was delivered.
    template <typename F>
    bool deliver(F&& f) {
        if (sink_ == nullptr || modalDepth_ > 0) return false;
        f(*sink_);
        return true;
    }

    // Held by the message box adapter while its box is open.
    class ModalScope {
      public:
        explicit ModalScope(EventPort& port) : port_(port) { ++port_.modalDepth_; }
        ~ModalScope() { --port_.modalDepth_; }
        ModalScope(const ModalScope&) = delete;
        ModalScope& operator=(const ModalScope&) = delete;

      private:
        EventPort& port_;
    };

    bool modal() const { return modalDepth_ > 0; }

  private:
    EventSink* sink_ = nullptr;
    int modalDepth_ = 0;
};

}  // namespace vexlo::linux_platform
