// The resident program's name on the session bus, through which a volume command whose step
// changed nothing (up at the top, down at the bottom) has the display shown as for such a key
// press. Without a session bus neither side does anything.
#pragma once

#include <QObject>

#include "platform/linux/event_port.h"

namespace vexlo::linux_platform {

class RunningInstance : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "io.github.vexlo.Vexlo")

  public:
    // Takes the name and serves the object; the name goes with the object.
    explicit RunningInstance(EventPort& port);
    ~RunningInstance() override;

  public slots:
    Q_SCRIPTABLE void LevelUnchanged();

  private:
    EventPort& port_;
    bool registered_ = false;
};

// The volume command's side: tells the running program, if one has the name; waits at most
// half a second.
void TellLevelUnchanged();

}  // namespace vexlo::linux_platform
