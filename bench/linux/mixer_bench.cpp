// The cost of reading the master level the way the 5 ms poll does, on ALSA's "default" device
// (a running sound server is needed): through the adapter alone, through the core's volume
// class, and the level with the mute as each tick reads them.
#include <benchmark/benchmark.h>

#include "controller/volume_command.h"
#include "mixer/clsVolume.h"
#include "platform/linux/alsa_mixer.h"
#include "platform/linux/alsa_wave_in.h"
#include "platform/types.h"

namespace {

using namespace vexlo;
using namespace vexlo::linux_platform;

class NoBoxes : public MessageBoxes {
  public:
    int show(const std::string&, const std::string&, std::uint32_t) override { return IDOK; }
};

void AdapterRead(benchmark::State& state) {
    AlsaMixer mixer;
    MixerHandle handle = 0;
    std::uint32_t line = 0;
    ControlRecord record {};
    if (mixer.open(0, handle) != MMSYSERR_NOERROR ||
        mixer.lineByComponentType(handle, MIXERLINE_COMPONENTTYPE_DST_SPEAKERS, line) != 0 ||
        mixer.controlByType(handle, line, MIXERCONTROL_CONTROLTYPE_VOLUME, kControlRecordSize,
                            &record) != 0) {
        state.SkipWithError("no mixer device (is a sound server running?)");
        return;
    }
    std::uint32_t value = 0;
    ControlDetails details;
    details.dwControlID = record.dwControlID;
    details.paDetails = &value;
    for (auto _ : state) {
        mixer.getControlDetails(handle, details);
        benchmark::DoNotOptimize(value);
    }
    mixer.close(handle);
}
BENCHMARK(AdapterRead);

void VolumeLevelRead(benchmark::State& state) {
    AlsaMixer mixer;
    AlsaWaveIn waveIn;
    NoBoxes boxes;
    clsVolume vol(mixer, waveIn, boxes);
    if (vol.VolumeMax() == 0) {
        state.SkipWithError("no mixer device (is a sound server running?)");
        return;
    }
    for (auto _ : state) benchmark::DoNotOptimize(vol.VolumeLevel());
}
BENCHMARK(VolumeLevelRead);

// The watch's tick: the level, then the mute.
void LevelAndMuteRead(benchmark::State& state) {
    AlsaMixer mixer;
    AlsaWaveIn waveIn;
    NoBoxes boxes;
    clsVolume vol(mixer, waveIn, boxes);
    if (vol.VolumeMax() == 0 || !vol.HasVolumeMute()) {
        state.SkipWithError("no mixer device with a mute switch (is a sound server running?)");
        return;
    }
    for (auto _ : state) {
        benchmark::DoNotOptimize(vol.VolumeLevel());
        if (vol.LastResult() == MMSYSERR_NOERROR) benchmark::DoNotOptimize(MasterMuted(vol));
    }
}
BENCHMARK(LevelAndMuteRead);

}  // namespace

BENCHMARK_MAIN();
