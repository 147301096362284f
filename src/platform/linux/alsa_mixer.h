// The mixer device over the ALSA simple mixer of one device ("default"). Lines map to simple
// elements by name: the speakers destination to "Master", the sources to "Capture"/"Mic",
// "Line", "CD", "Synth" and "PCM". Levels are the element's own units (0..65536 with the
// PulseAudio plugin); a level written outside the element's range is limited to it.
//
// The sound server behind "default" may go away (restarted, crashed) while the program runs.
// A handle then stays valid: the adapter notices the broken connection at the next transfer,
// closes it and opens the device again, at most once per kReopenIntervalMs, until it is back.
// Meanwhile a read fails with MMSYSERR_NODRIVER but leaves the last value the device reported
// in the block, so a caller that takes the block whatever the result (the core's volume class
// does) sees the level stand still instead of a sudden drop to 0; a write fails and changes
// nothing.
#pragma once

#include <alsa/asoundlib.h>

#include <cstdint>
#include <functional>
#include <map>
#include <string>

#include "platform/mixer_device.h"

namespace vexlo::linux_platform {

// Keeps ALSA's diagnostics off stderr (once per process).
void SilenceAlsa();

class AlsaMixer : public MixerDevice {
  public:
    // Milliseconds of a monotonic clock; tests pass their own.
    using Clock = std::function<std::int64_t()>;
    static constexpr std::int64_t kReopenIntervalMs = 300;

    explicit AlsaMixer(std::string device = "default", Clock clock = nullptr);
    ~AlsaMixer() override;

    MMResult open(std::uint32_t deviceId, MixerHandle& handle) override;
    MMResult close(MixerHandle handle) override;
    MMResult lineByComponentType(MixerHandle handle, std::uint32_t componentType,
                                 std::uint32_t& lineId) override;
    MMResult controlByType(MixerHandle handle, std::uint32_t lineId, std::uint32_t controlType,
                           std::uint32_t cbControl, void* block) override;
    MMResult getControlDetails(MixerHandle handle, ControlDetails& details) override;
    MMResult setControlDetails(MixerHandle handle, const ControlDetails& details) override;

    // Control ids: the line's component type in the upper bits, the control kind below.
    static constexpr std::uint32_t kVolumeKind = 1;
    static constexpr std::uint32_t kMuteKind = 2;

  private:
    struct Element {
        snd_mixer_elem_t* elem = nullptr;
        bool capture = false;  // an element with capture controls only
    };
    struct Open {
        snd_mixer_t* mixer = nullptr;                       // null while the device is away
        std::int64_t nextAttempt = 0;                       // when the next re-open may be tried
        std::map<std::uint32_t, std::uint32_t> lastValues;  // by control id
    };
    Open* find(MixerHandle handle);
    Element element(Open& open, std::uint32_t componentType);
    snd_mixer_t* openDevice() const;
    // Takes in the device's pending changes; detects a lost connection and re-opens it when
    // it is time. True when the device can be used now.
    bool usable(Open& open);

    std::string device_;
    Clock clock_;
    std::map<MixerHandle, Open> opens_;
    MixerHandle nextHandle_ = 1;
};

}  // namespace vexlo::linux_platform
