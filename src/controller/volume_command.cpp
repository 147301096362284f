#include "controller/volume_command.h"

#include "controller/rounding.h"
#include "mixer/clsVolume.h"

namespace vexlo {

VolumeCommand ReadVolumeCommand(const std::string& commandLine) {
    const auto first = commandLine.find_first_not_of(" \t");
    if (first == std::string::npos) return VolumeCommand::None;
    const auto last = commandLine.find_last_not_of(" \t");
    const std::string word = commandLine.substr(first, last - first + 1);
    if (word == "--volume-up") return VolumeCommand::Up;
    if (word == "--volume-down") return VolumeCommand::Down;
    if (word == "--volume-mute") return VolumeCommand::Mute;
    return VolumeCommand::None;
}

bool MasterMuted(clsVolume& vol) {
    return vol.HasVolumeMute() && vol.VolumeMute();
}

void StepUp(clsVolume& vol) {
    if (MasterMuted(vol)) {
        vol.VolumeMute(false);
        if (vol.VolumeMax() / 17.0 < vol.VolumeLevel()) return;
    }
    const double m = vol.VolumeMax();
    const double l = vol.VolumeLevel();
    vol.VolumeLevel(RoundToInt32(m / 17 + l));
}

void StepDown(clsVolume& vol) {
    double m = vol.VolumeMax();
    double l = vol.VolumeLevel();
    if (m / 17 < l) {
        m = vol.VolumeMax();
        l = vol.VolumeLevel();
        vol.VolumeLevel(RoundToInt32(l - m / 17));
    }
}

VolumeCommandResult RunVolumeCommand(VolumeCommand command, MixerDevice& mixer,
                                     WaveInDevice& waveIn, MessageBoxes& boxes,
                                     const Texts& texts) {
    VolumeCommandResult result;
    if (command == VolumeCommand::None) {
        result.error = Tr(texts, "no volume command");
        return result;
    }
    clsVolume vol(mixer, waveIn, boxes);
    result.before = vol.VolumeLevel();
    if (vol.LastResult() != MMSYSERR_NOERROR) {
        result.error = Tr(texts, "cannot read the master volume (is the sound server running?)");
        return result;
    }
    if (command == VolumeCommand::Mute) {
        if (!vol.HasVolumeMute()) {
            result.error = Tr(texts, "the master volume has no mute switch");
            return result;
        }
        const bool was = vol.VolumeMute();
        if (vol.LastResult() == MMSYSERR_NOERROR) vol.VolumeMute(!was);
        if (vol.LastResult() != MMSYSERR_NOERROR) {
            result.error = Tr(texts, "the master mute could not be switched");
            return result;
        }
        result.muted = vol.VolumeMute();
        result.after = vol.VolumeLevel();
        result.ok = vol.LastResult() == MMSYSERR_NOERROR && result.muted != was;
        if (!result.ok) result.error = Tr(texts, "the master mute did not change");
        return result;
    }
    if (vol.VolumeMax() <= 0) {
        result.error = Tr(texts, "the master volume has no range to step");
        return result;
    }
    const bool mutedBefore = MasterMuted(vol);
    if (command == VolumeCommand::Up) {
        StepUp(vol);
    } else {
        StepDown(vol);
    }
    if (vol.LastResult() != MMSYSERR_NOERROR) {
        result.error = Tr(texts, "the master volume could not be set");
        return result;
    }
    result.after = vol.VolumeLevel();
    result.ok = vol.LastResult() == MMSYSERR_NOERROR;
    if (!result.ok) result.error = Tr(texts, "cannot read the master volume back");
    result.unchanged =
        result.ok && result.after == result.before && MasterMuted(vol) == mutedBefore;
    return result;
}

}  // namespace vexlo
