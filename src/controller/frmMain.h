// frmMain: the hidden controller window. It owns the volume object and the display's state,
// watches the master level, fades the display, keeps the tray icon's picture and steps the
// level for the hotkeys. It is also the on-screen display's background window.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "mixer/clsVolume.h"
#include "platform/screen.h"
#include "platform/texts.h"
#include "platform/timers.h"
#include "platform/window_system.h"

namespace vexlo {

class Application;

class frmMain {
  public:
    // Creates the window, its elements and its timers (Timer1 running).
    explicit frmMain(Application& app);
    ~frmMain();

    // The start-up sequence; leaves the window hidden.
    void Form_Load();

    void Timer1_Timer();  // the 5 ms level poll
    void Timer2_Timer();  // end of the hold after the last change
    void Timer3_Timer();  // one fade step

    // The level as 0..16 chunks of ChunkStep each; updates ChunkStep.
    std::int16_t ChunkCount();
    // The tray's picture for a chunk count, or its muted picture (the skin's "\iconmute.ico",
    // else the lowest level's), with a tooltip that says so.
    void SetTrayLevelIcon(std::int16_t chunks, bool muted = false);
    // A tray notification: x carries the mouse message.
    void Tray_MouseMove(int x);
    // The wheel over the tray icon: each whole notch up is upvol, each one down downvol.
    // Smaller deltas (a touchpad's) add up to notches; horizontal scrolling does nothing.
    void Tray_Wheel(int delta, bool vertical);
    // The tray icon is gone with the notification area; add it again.
    void TaskbarCreated();

    // One step each. A step that changes nothing (up at the top, down at the bottom) shows
    // the display as it stands, as a change would, without the click.
    void upvol();
    void downvol();
    // The display as it stands, held and faded as after a change, without the click: the
    // answer to a step that changed nothing. Nothing while the level cannot be read.
    void ShowLevelAsItStands();
    // The monitor the setting "monitor" names; a value that cannot be read is told once at
    // the tray icon and gives the primary monitor.
    MonitorChoice ChosenMonitor();

    clsVolume& Vol();
    NativeHandle handle() const { return window_->handle(); }
    Window& window() { return *window_; }
    Element& Tray() { return *tray_; }
    Element& bar() { return *bar_; }
    Timer& Timer1() { return *timer1_; }
    Timer& Timer2() { return *timer2_; }
    Timer& Timer3() { return *timer3_; }

    bool TrayOn = false;
    std::int32_t LastLevel = 0;
    std::int32_t NewLevel = 0;
    std::int32_t ChunkStep = 0;
    std::int16_t LastChunks = 0;
    // The master mute as last seen, and as just read. A muted master shows an empty bar.
    bool LastMute = false;
    bool NewMute = false;
    // The device could not be read (no sound server yet, a restart, a device that went away).
    // The first reading after such a gap is the level as it stands, not a change to show.
    bool LevelUnknown = false;
    // Wheel units towards the next notch, of the direction turned last.
    int WheelRest = 0;

  private:
    void Step(bool up);
    // Shows the three windows with the bar at LastLevel and restarts the hold; a display that
    // appears from hidden is first centred on the chosen monitor, and stays there until it
    // has faded out. Only a change clicks when the chunks differ from those shown last.
    void ShowDisplay(bool changed);

    Application& app_;
    std::string toldMonitor_;  // the unreadable "monitor" value told last
    std::unique_ptr<Window> window_;
    Element* tray_ = nullptr;
    Element* bar_ = nullptr;
    Element* testbox_ = nullptr;
    std::unique_ptr<Timer> timer1_;
    std::unique_ptr<Timer> timer2_;
    std::unique_ptr<Timer> timer3_;
    std::unique_ptr<clsVolume> vol_;
};

inline constexpr const char* kCaption = "Vexlo";
inline constexpr const char* kMutedCaption = N_("Vexlo (muted)");

}  // namespace vexlo
