// Ending on request: SIGTERM (a session ending, `kill`), SIGINT (Ctrl+C in a terminal) and
// SIGHUP (the terminal closed) run the program's own quit operation, as the menu's "Quit"
// does, so the slider window saves its position and the tray icon and key grabs go away. The
// quit waits while one of the program's message boxes is open, and that box is closed first.
// A second signal of the same kind ends the process at once, the system's default.
//
// The end of a session takes the X server, the sound server and the bus away in any order,
// often in the same moment as the signal: from then on a write to a connection whose other end
// is gone fails (no SIGPIPE), and when Qt ends the program itself because the X connection
// broke, windows whose deletion was still pending are left to the end of the process instead
// of being destroyed inside exit().
#pragma once

#include <functional>

#include "platform/linux/event_port.h"

class QSocketNotifier;

namespace vexlo::linux_platform {

class TerminationSignals {
  public:
    // quit(sink): hands the quit command to the core; called once, outside any message box.
    TerminationSignals(EventPort& port, std::function<void(EventSink&)> quit);
    ~TerminationSignals();
    TerminationSignals(const TerminationSignals&) = delete;
    TerminationSignals& operator=(const TerminationSignals&) = delete;

  private:
    void received();
    void tryQuit();

    EventPort& port_;
    std::function<void(EventSink&)> quit_;
    QSocketNotifier* notifier_ = nullptr;
    bool pending_ = false;
    bool done_ = false;
};

}  // namespace vexlo::linux_platform
