// Which output is the sound server's default, watched over the PulseAudio protocol (PulseAudio
// itself, and PipeWire through pipewire-pulse). ALSA's pulse plugin binds the sink that is the
// default when a mixer is opened and keeps it; the mixer asks this watch whether the default
// has changed since it opened the device and opens it again when it has.
//
// The watch runs on a thread of libpulse's own and touches nothing of the program but one
// counter. Without a server it tries again every second; it never starts one.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

struct pa_threaded_mainloop;
struct pa_context;
struct pa_time_event;
struct pa_server_info;
struct pa_mainloop_api;
struct timeval;

namespace vexlo::linux_platform {

class PulseDefaultWatch {
  public:
    PulseDefaultWatch();
    ~PulseDefaultWatch();
    PulseDefaultWatch(const PulseDefaultWatch&) = delete;
    PulseDefaultWatch& operator=(const PulseDefaultWatch&) = delete;

    // Grows by one each time the default output changes (also when a restarted server comes
    // back with another default). Read from any thread.
    std::uint64_t changes() const { return changes_.load(std::memory_order_acquire); }
    const std::atomic<std::uint64_t>& counter() const { return changes_; }

  private:
    static constexpr int kRetryMs = 1000;
    void connect();
    void retryLater();
    void askDefault();
    void tookDefault(const char* name);
    static void onState(pa_context* context, void* self);
    static void onEvent(pa_context* context, unsigned type, std::uint32_t index, void* self);
    static void onServerInfo(pa_context* context, const pa_server_info* info, void* self);
    static void onRetry(pa_mainloop_api* api, pa_time_event* event, const timeval* when,
                        void* self);

    pa_threaded_mainloop* loop_ = nullptr;
    pa_context* context_ = nullptr;
    pa_time_event* retry_ = nullptr;
    std::string default_;  // loop thread only
    bool known_ = false;   // default_ holds a server's answer
    std::atomic<std::uint64_t> changes_ {0};
};

}  // namespace vexlo::linux_platform
