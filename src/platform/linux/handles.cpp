#include "platform/linux/handles.h"

namespace vexlo::linux_platform {

NativeHandle NewHandle() {
    // The user-interface thread is the only caller.
    static NativeHandle next = 0x1000;
    return ++next;
}

}  // namespace vexlo::linux_platform
