#include "control/frmControl.h"

#include <cmath>

#include "controller/application.h"
#include "controller/frmMain.h"
#include "controller/rounding.h"
#include "settings/keys.h"
#include "tray/frmHelper.h"

namespace vexlo {

namespace {
constexpr int kKnobLeft = 8;
constexpr float kTrackTop = 11;                                  // highest top edge of the knob
constexpr float kTrackBottom = 122;                              // lowest bottom edge of the knob
constexpr float kTravel = kTrackBottom - kTrackTop - kKnobSide;  // top 11: full, 107: 0

int ToPixels(float twips, float factor) {
    const double px = std::nearbyint(static_cast<double>(twips) / factor);
    return RoundToInt32(px);
}
}  // namespace

frmControl::frmControl(Application& app) : app_(app) {}
frmControl::~frmControl() = default;

NativeHandle frmControl::handle() const {
    return window_ ? window_->handle() : 0;
}
NativeHandle frmControl::knobHandle() const {
    return knob_ ? knob_->handle() : 0;
}

clsVolume& frmControl::Vol() {
    if (!vol_) {
        Platform& p = app_.platform();
        vol_ = std::make_unique<clsVolume>(p.mixer, p.waveIn, app_.Boxes());
    }
    return *vol_;
}

void frmControl::Show() {
    if (!window_) Form_Load();
    window_->show();
}

void frmControl::Form_Load() {
    const bool fullMode = !app_.ControlOnlyMode();
    Platform& p = app_.platform();
    window_ = p.windows.createWindow(WindowRole::Control, "Control");
    knob_ = &window_->addElement(Element::Kind::Image, "knob");
    timer1_ = p.timers.createTimer(200, true);

    if (fullMode) app_.Main().Timer1().setEnabled(false);
    ReadWrite& settings = app_.Settings();
    settings.SetIniPath("core.ini");
    const float left = settings.Position(settings::kPosX);
    const float top = settings.Position(settings::kPosY);
    const float tx = p.screen.twipsPerPixelX();
    const float ty = p.screen.twipsPerPixelY();
    window_->setBounds(ToPixels(left, tx), ToPixels(top, ty), window_->width(), window_->height());
    if (settings.IsOn(settings::kOnTop)) app_.OnTop().MakeTopmost(window_->handle());
    window_->setBackground(app_.Skin().Load("\\controlbg.bmp"));
    auto knob = app_.Skin().Load("\\controlknob.gif");
    knob_->setPicture(knob);
    knob_->setBounds(kKnobLeft, knob_->y(), knob->width(), knob->height());
    window_->setBounds(window_->x(), window_->y(), kControlWidth, kControlHeight);
    const double level = Vol().VolumeLevel();
    const double max = Vol().VolumeMax();
    // Without a level range the knob rests at the bottom of its track (level 0).
    const double fraction = max != 0 ? level / max : 0.0;
    SetKnobTop(static_cast<float>((kTrackTop + kTravel * (1 - fraction)) * ty));
    syncedKnobTop_ = knobTop_;
    if (fullMode) app_.Main().Timer1().setEnabled(true);
}

void frmControl::SetKnobTop(float twips) {
    knobTop_ = twips;
    knob_->setBounds(knob_->x(), ToPixels(twips, app_.platform().screen.twipsPerPixelY()),
                     knob_->width(), knob_->height());
}

void frmControl::Unload() {
    if (!window_) return;
    Platform& p = app_.platform();
    ReadWrite& settings = app_.Settings();
    settings.SetIniPath("core.ini");
    settings.WriteIni("pos", "x", FormatSingle(window_->x() * p.screen.twipsPerPixelX()));
    settings.WriteIni("pos", "y", FormatSingle(window_->y() * p.screen.twipsPerPixelY()));
    timer1_.reset();
    knob_ = nullptr;
    window_.reset();
}

void frmControl::knob_MouseDown(int /*buttons*/, int /*x*/, int y) {
    GrabY = RoundToInt32(static_cast<double>(y) * app_.platform().screen.twipsPerPixelY());
}

void frmControl::knob_MouseMove(int buttons, int /*x*/, int y) {
    if (buttons != MK_LBUTTON) return;
    const float ty = app_.platform().screen.twipsPerPixelY();
    const float yTwips = static_cast<float>(y) * ty;
    const float h = static_cast<float>(knob_->height()) * ty;
    const float candidate = knobTop_ + (yTwips - static_cast<float>(GrabY));
    if (candidate >= kTrackTop * ty && candidate + h <= kTrackBottom * ty) {
        SetKnobTop(candidate);
    } else if (candidate < kTrackTop * ty) {
        SetKnobTop(kTrackTop * ty);
    } else {
        SetKnobTop(kTrackBottom * ty - h);
    }
}

void frmControl::Form_MouseDown(int /*buttons*/, int /*x*/, int /*y*/) {
    WindowSystem& windows = app_.platform().windows;
    windows.releaseCapture();
    windows.sendMessage(window_->handle(), WM_SYSCOMMAND, SC_DRAGMOVE, 0);
}

void frmControl::Form_DblClick() {
    if (app_.ControlOnlyMode()) {
        app_.Helper().Quit_Click();
    } else {
        app_.UnloadControl();
    }
}

void frmControl::Timer1_Timer() {
    if (knobTop_ == syncedKnobTop_) return;
    const float p = knobTop_ / app_.platform().screen.twipsPerPixelY();
    const float f = 1 - (p - kTrackTop) / kTravel;
    const double t = static_cast<double>(Vol().VolumeMax()) * f;
    Vol().VolumeLevel(RoundToInt32(t));
    WrittenLevel = Vol().VolumeLevel();
    syncedKnobTop_ = knobTop_;
}

}  // namespace vexlo
