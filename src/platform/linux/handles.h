// Native handles on this platform: plain numbers handed out from one counter, so a window, an
// element, a picture and a procedure never share a value. Tables map them back to objects.
#pragma once

#include <map>

#include "platform/types.h"

namespace vexlo::linux_platform {

// A fresh handle; never 0, never reused during the process.
NativeHandle NewHandle();

// Handle -> object, for the adapters that receive handles from the core.
template <typename T>
class HandleTable {
  public:
    void add(NativeHandle handle, T* object) { objects_[handle] = object; }
    void remove(NativeHandle handle) { objects_.erase(handle); }
    T* find(NativeHandle handle) const {
        const auto it = objects_.find(handle);
        return it == objects_.end() ? nullptr : it->second;
    }
    std::size_t size() const { return objects_.size(); }

  private:
    std::map<NativeHandle, T*> objects_;
};

}  // namespace vexlo::linux_platform
