// The set of ports the core runs on. Each program's composition root builds one.
#pragma once

#include "platform/event_sink.h"
#include "platform/hotkeys.h"
#include "platform/images.h"
#include "platform/launcher.h"
#include "platform/message_box.h"
#include "platform/mixer_device.h"
#include "platform/profile_file.h"
#include "platform/program.h"
#include "platform/screen.h"
#include "platform/sound.h"
#include "platform/texts.h"
#include "platform/timers.h"
#include "platform/tray.h"
#include "platform/wave_in_device.h"
#include "platform/window_system.h"

namespace vexlo {

struct Platform {
    MixerDevice& mixer;
    WaveInDevice& waveIn;
    WindowSystem& windows;
    ImageLoader& images;
    TimerService& timers;
    Screen& screen;
    TrayService& tray;
    HotkeyService& hotkeys;
    ProfileFile& profile;
    Sound& sound;
    Launcher& launcher;
    MessageBoxes& messageBox;
    ProgramInfo& program;
    Process& process;
    const Texts& texts;
};

}  // namespace vexlo
