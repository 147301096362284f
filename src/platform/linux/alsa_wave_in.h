// The wave-in device over ALSA capture on "default". There are no completion callbacks: the
// device is read without blocking by a poll timer, which fills the queued headers in order and
// marks each full one WHDR_DONE, as the program expects to find them.
#pragma once

#include <alsa/asoundlib.h>

#include <deque>
#include <map>
#include <memory>
#include <string>

#include "platform/wave_in_device.h"

class QTimer;

namespace vexlo::linux_platform {

class AlsaWaveIn : public WaveInDevice {
  public:
    explicit AlsaWaveIn(std::string device = "default");
    ~AlsaWaveIn() override;

    MMResult open(WaveInHandle& handle, std::uint32_t deviceId, const WaveFormat& format) override;
    MMResult prepareHeader(WaveInHandle handle, WaveHeader& header, std::uint32_t size) override;
    MMResult addBuffer(WaveInHandle handle, WaveHeader& header, std::uint32_t size) override;
    MMResult start(WaveInHandle handle) override;
    MMResult reset(WaveInHandle handle) override;
    MMResult stop(WaveInHandle handle) override;
    MMResult unprepareHeader(WaveInHandle handle, WaveHeader& header, std::uint32_t size) override;
    MMResult close(WaveInHandle handle) override;
    std::string errorText(MMResult result, std::uint32_t maxChars) override;

    // Moves what the device has captured into the queued headers; the poll timer calls it.
    void poll();

  private:
    struct Capture {
        snd_pcm_t* pcm = nullptr;
        std::uint32_t frameBytes = 1;
        bool running = false;
        std::deque<WaveHeader*> queue;
    };
    Capture* find(WaveInHandle handle);
    void finishAll(Capture& capture);
    void updateTimer();

    std::string device_;
    std::map<WaveInHandle, Capture> captures_;
    WaveInHandle nextHandle_ = 1;
    std::unique_ptr<QTimer> timer_;
};

}  // namespace vexlo::linux_platform
