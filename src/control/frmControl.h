// frmControl: the small slider window. The knob is placed from the level when the window
// loads; from then on the window sets the level from the knob every 200 ms.
#pragma once

#include <cstdint>
#include <memory>

#include "mixer/clsVolume.h"
#include "platform/event_sink.h"
#include "platform/timers.h"
#include "platform/window_system.h"

namespace vexlo {

class Application;

// The slider window's size, and the knob size its track is laid out for.
inline constexpr int kControlWidth = 30;
inline constexpr int kControlHeight = 134;
inline constexpr int kKnobSide = 15;

class frmControl {
  public:
    explicit frmControl(Application& app);
    ~frmControl();

    // Loads the window when it is not loaded, then shows it.
    void Show();
    bool Loaded() const { return window_ != nullptr; }
    // Saves the position and removes the window; the object and its state stay.
    void Unload();

    void knob_MouseDown(int buttons, int x, int y);
    void knob_MouseMove(int buttons, int x, int y);
    void Form_MouseDown(int buttons, int x, int y);
    void Form_DblClick();
    void Timer1_Timer();

    // Handles of the window, the knob and the sync timer while loaded.
    NativeHandle handle() const;
    NativeHandle knobHandle() const;
    bool OwnsTimer(TimerId id) const { return timer1_ && timer1_->id() == id; }

    // The knob's top edge in twips from the window's top edge.
    float KnobTop() const { return knobTop_; }
    std::int32_t GrabY = 0;
    std::int32_t WrittenLevel = 0;

  private:
    void Form_Load();
    void SetKnobTop(float twips);
    clsVolume& Vol();

    Application& app_;
    std::unique_ptr<Window> window_;
    Element* knob_ = nullptr;
    std::unique_ptr<Timer> timer1_;
    std::unique_ptr<clsVolume> vol_;
    float knobTop_ = 0;
    // The knob's top at the last write of the level (or at the load): the level is written
    // only when the knob has moved since.
    float syncedKnobTop_ = 0;
};

}  // namespace vexlo
