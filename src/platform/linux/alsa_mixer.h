// The mixer device over the ALSA simple mixer of one device ("default"). Lines map to simple
// elements by name: the speakers destination to "Master", the sources to "Capture"/"Mic",
// "Line", "CD", "Synth" and "PCM". Levels are the element's own units (0..65536 with the
// PulseAudio plugin); a level written outside the element's range is limited to it.
#pragma once

#include <alsa/asoundlib.h>

#include <cstdint>
#include <map>
#include <string>

#include "platform/mixer_device.h"

namespace vexlo::linux_platform {

// Keeps ALSA's diagnostics off stderr (once per process).
void SilenceAlsa();

class AlsaMixer : public MixerDevice {
  public:
    explicit AlsaMixer(std::string device = "default");
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
        snd_mixer_t* mixer = nullptr;
    };
    Open* find(MixerHandle handle);
    Element element(Open& open, std::uint32_t componentType);

    std::string device_;
    std::map<MixerHandle, Open> opens_;
    MixerHandle nextHandle_ = 1;
};

}  // namespace vexlo::linux_platform
