// The volume commands of the command line: one step up or down, exactly as the hotkeys step,
// or the master mute switched over, and the program ends. They need only the mixer: no window, no
// tray, no settings, and they are no second copy of the resident program (which sees the change
// through its watch).
#pragma once

#include <cstdint>
#include <string>

#include "platform/message_box.h"
#include "platform/mixer_device.h"
#include "platform/texts.h"
#include "platform/wave_in_device.h"

namespace vexlo {

class clsVolume;

enum class VolumeCommand { None, Up, Down, Mute };

// "--volume-up", "--volume-down" or "--volume-mute" as the whole argument text (blanks around
// it allowed).
VolumeCommand ReadVolumeCommand(const std::string& commandLine);

// One step of 1/17 of the master range; down steps nothing at or below one step. Up on a
// muted master first unmutes it, as the desktops' own volume keys do, and then steps only
// when the level was within its first step: the user hears again what was set before, and
// never raises a level that cannot be heard. Down leaves the mute as it is.
void StepUp(clsVolume& vol);
void StepDown(clsVolume& vol);
// Whether the master is muted now (never, without a mute switch).
bool MasterMuted(clsVolume& vol);

struct VolumeCommandResult {
    bool ok = false;
    std::int32_t before = 0;
    std::int32_t after = 0;
    bool muted = false;  // after a mute command: the switch as it now stands
    // A step that left level and mute as they were (up at the top, down at the bottom): a
    // running Vexlo shows the display for it, as for such a key press.
    bool unchanged = false;
    std::string error;  // why it failed, one line in the user's language
};

// Opens the mixer, takes one step (or switches the mute over) and closes it again.
VolumeCommandResult RunVolumeCommand(VolumeCommand command, MixerDevice& mixer,
                                     WaveInDevice& waveIn, MessageBoxes& boxes, const Texts& texts);

}  // namespace vexlo
