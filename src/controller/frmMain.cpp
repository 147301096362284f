#include "controller/frmMain.h"

#include <algorithm>

#include "control/frmControl.h"
#include "controller/application.h"
#include "controller/errors.h"
#include "controller/rounding.h"
#include "controller/volume_command.h"
#include "display/frmUnder.h"
#include "settings/keys.h"
#include "tray/frmHelper.h"

namespace vexlo {

namespace {
constexpr std::uint8_t kFadeStep = 25;
constexpr int kWheelNotch = 120;
// Seventeen steps cross the whole range: a larger turn in one event has nothing more to do.
constexpr std::int64_t kMostNotches = 17;
}  // namespace

frmMain::frmMain(Application& app)
    : app_(app), window_(app.platform().windows.createWindow(WindowRole::Main, kCaption)) {
    tray_ = &window_->addElement(Element::Kind::Picture, "Tray");
    bar_ = &window_->addElement(Element::Kind::Image, "bar");
    testbox_ = &window_->addElement(Element::Kind::Image, "testbox");
    TimerService& timers = app.platform().timers;
    // A period in which the mixer has nothing new would only find the level where it was.
    MixerDevice& mixer = app.platform().mixer;
    timer1_ = timers.createWatchTimer(5, true, [&mixer] { return mixer.unchangedSinceLastRead(); });
    timer2_ = timers.createTimer(1000, false);
    timer3_ = timers.createTimer(50, false);
}

frmMain::~frmMain() = default;

clsVolume& frmMain::Vol() {
    if (!vol_) {
        Platform& p = app_.platform();
        vol_ = std::make_unique<clsVolume>(p.mixer, p.waveIn, app_.Boxes());
    }
    return *vol_;
}

void frmMain::Form_Load() {
    Trans& trans = app_.Transparency();
    SkinFiles& skin = app_.Skin();
    ReadWrite& settings = app_.Settings();
    Screen& screen = app_.platform().screen;

    trans.MakeLayered(handle());
    // Windows are created as tool windows, out of the task-switching list already.
    window_->setIcon(skin.Load("\\icon3.ico"));
    tray_->setPicture(skin.Load("\\icon3.ico"));
    settings.SetIniPath("core.ini");
    if (settings.IsOn(settings::kOnTop)) {
        app_.OnTop().MakeTopmost(handle());
        app_.OnTop().MakeTopmost(app_.Under().handle());
        app_.OnTop().MakeTopmost(app_.Under2().handle());
    }
    LoadDisplayFace(*window_, *bar_, *testbox_, skin, screen);
    trans.SetAlpha(handle(), kMainAlpha);
    LastLevel = Vol().VolumeLevel();
    LevelUnknown = Vol().LastResult() != MMSYSERR_NOERROR;
    if (!LevelUnknown) {
        LastMute = MasterMuted(Vol());
        LevelUnknown = Vol().LastResult() != MMSYSERR_NOERROR;
    }
    if (settings.IsOn(settings::kTrayIcon)) {
        TrayOn = true;
        app_.Systray().SetTrayIcon(false, *tray_, kCaption);
        SetTrayLevelIcon(ChunkCount(), LastMute);
    }
    if (settings.IsOn(settings::kHotkeys)) {
        app_.HotKeys().Choose(settings.ReadOptional(settings::kHotkeyUp),
                              settings.ReadOptional(settings::kHotkeyDown));
        app_.HotKeys().Register(handle());
    }
    window_->show();
    window_->hide();
}

std::int16_t frmMain::ChunkCount() {
    ChunkStep = RoundToInt32(Vol().VolumeMax() / 17.0);
    for (std::int64_t i = 1; i <= 17; ++i) {
        if (LastLevel <= i * ChunkStep) return static_cast<std::int16_t>(i - 1);
    }
    // Above seventeen steps (a maximum that is not a multiple of 17 rounded the step down):
    // the bar is full, not empty. A step of 0 has no range to be full of.
    return ChunkStep > 0 ? 16 : 0;
}

void frmMain::Timer1_Timer() {
    NewLevel = Vol().VolumeLevel();
    // The mute switch is read with the level (the adapters answer it from the same exchange
    // with the device), so an idle tick costs the device no more than before.
    if (Vol().LastResult() == MMSYSERR_NOERROR) NewMute = MasterMuted(Vol());
    if (Vol().LastResult() != MMSYSERR_NOERROR) {
        LevelUnknown = true;
        return;
    }
    if (NewLevel == LastLevel && NewMute == LastMute) {
        LevelUnknown = false;
        return;
    }
    if (LevelUnknown) {
        // Back after a gap (or connected for the first time since the start): what the device
        // has now was nobody's change.
        LevelUnknown = false;
        LastLevel = NewLevel;
        LastMute = NewMute;
        return;
    }

    LastLevel = NewLevel;
    LastMute = NewMute;
    ShowDisplay(true);
}

void frmMain::ShowDisplay(bool changed) {
    timer2_->setEnabled(false);
    if (!window_->visible()) {
        const MonitorArea area = app_.platform().screen.monitor(ChosenMonitor());
        const Placement at = CentreOnMonitor(area, window_->width(), window_->height());
        window_->setBounds(at.left, at.top, window_->width(), window_->height());
        app_.Under().PlaceOn(area);
        app_.Under2().PlaceOn(area);
    }
    window_->show();
    app_.Under().Show();
    app_.Under2().Show();
    const std::int16_t n = ChunkCount();
    // The click follows the level's chunks; switching the mute alone leaves them as they were
    // and is silent.
    if (n != LastChunks) {
        if (changed && app_.Settings().IsOn(settings::kSoundOn)) {
            app_.platform().sound.play(app_.Skin().Path("\\sound.wav"), SND_ASYNC);
        }
        LastChunks = n;
    }
    if (TrayOn) SetTrayLevelIcon(n, LastMute);
    // Muted, nothing is heard: the bar is empty, whatever the level.
    const std::int16_t shown = LastMute ? 0 : n;
    bar_->setBounds(bar_->x(), bar_->y(), BarWidth(shown), bar_->height());
    app_.Under2().SetWidth(Overlay2Width(LastMute ? 0 : ChunkCount()));
    timer2_->setEnabled(true);
}

void frmMain::Timer2_Timer() {
    Trans& trans = app_.Transparency();
    timer3_->setEnabled(true);
    trans.SetAlpha(app_.Under().handle(), kMainAlpha);
    trans.SetAlpha(app_.Under2().handle(), kMainAlpha);
    timer2_->setEnabled(false);
}

void frmMain::Timer3_Timer() {
    Trans& trans = app_.Transparency();
    timer1_->setEnabled(false);
    if (trans.LastAlpha() != 0) {
        const auto a =
            static_cast<std::uint8_t>(static_cast<std::int16_t>(trans.LastAlpha() - kFadeStep));
        trans.SetAlpha(handle(), a);
        trans.SetAlpha(app_.Under().handle(), trans.LastAlpha());
        trans.SetAlpha(app_.Under2().handle(), trans.LastAlpha());
    } else {
        timer3_->setEnabled(false);
        window_->hide();
        app_.Under().Hide();
        app_.Under2().Hide();
        trans.SetAlpha(handle(), kMainAlpha);
        trans.SetAlpha(app_.Under().handle(), 255);
        trans.SetAlpha(app_.Under2().handle(), 255);
    }
    timer1_->setEnabled(true);
}

void frmMain::SetTrayLevelIcon(std::int16_t chunks, bool muted) {
    std::shared_ptr<const Picture> picture;
    if (muted) picture = app_.Skin().LoadOptional("\\iconmute.ico");
    if (!picture) {
        const char* file = muted         ? "\\icon0.ico"
                           : chunks > 12 ? "\\icon3.ico"
                           : chunks > 7  ? "\\icon2.ico"
                           : chunks > 3  ? "\\icon1.ico"
                                         : "\\icon0.ico";
        picture = app_.Skin().Load(file);
    }
    tray_->setPicture(std::move(picture));
    app_.Systray().SetTrayIcon(true, *tray_,
                               muted ? Tr(app_.platform().texts, kMutedCaption) : kCaption);
}

void frmMain::Tray_MouseMove(int x) {
    const auto message = static_cast<std::uint32_t>(x);
    if (message == WM_LBUTTONDOWN) {
        if (app_.Settings().IsOn(settings::kMixerOnLeftClick)) {
            app_.Helper().OpMix_Click();
        } else {
            app_.Control().Show();
        }
    }
    if (message == WM_RBUTTONDOWN) {
        app_.platform().windows.setForegroundWindow(handle());
        app_.platform().windows.popupMenu(handle(), app_.Helper().MenuItems());
    }
}

void frmMain::Tray_Wheel(int delta, bool vertical) {
    if (!vertical || delta == 0) return;
    // A turn the other way starts afresh: what was left of the last one would only eat into it.
    if (WheelRest != 0 && (WheelRest > 0) != (delta > 0)) WheelRest = 0;
    const std::int64_t units = std::int64_t {WheelRest} + delta;
    const std::int64_t notches = units / kWheelNotch;
    WheelRest = static_cast<int>(units - notches * kWheelNotch);
    for (std::int64_t i = 0; i < std::min(notches, kMostNotches); ++i) upvol();
    for (std::int64_t i = 0; i < std::min(-notches, kMostNotches); ++i) downvol();
}

void frmMain::TaskbarCreated() {
    if (!TrayOn) return;
    app_.Systray().SetTrayIcon(false, *tray_, kCaption);
    SetTrayLevelIcon(ChunkCount(), LastMute);
}

MonitorChoice frmMain::ChosenMonitor() {
    const std::string text = app_.Settings().ReadOptional(settings::kMonitor);
    MonitorChoice choice = MonitorChoice::Primary;
    if (ReadMonitorChoice(text, choice)) return choice;
    if (text != toldMonitor_) {
        toldMonitor_ = text;
        if (TrayOn) {
            const std::string told =
                Tr(app_.platform().texts,
                   // TRANSLATORS: {value} is the text after monitor= in the file, as written;
                   // primary, pointer and active are the words the file holds: keep them.
                   "The setting monitor={value} in core.ini is not one Vexlo knows (primary, "
                   "pointer or active); it shows the display on the primary monitor.");
            app_.Systray().ShowBalloon(kAppTitle, Fill(told, {{"value", text}}));
        }
    }
    return choice;
}

void frmMain::upvol() {
    Step(true);
}

void frmMain::downvol() {
    Step(false);
}

void frmMain::Step(bool up) {
    clsVolume& vol = Vol();
    const std::int32_t before = vol.VolumeLevel();
    bool known = vol.LastResult() == MMSYSERR_NOERROR;
    const bool mutedBefore = known && MasterMuted(vol);
    known = known && vol.LastResult() == MMSYSERR_NOERROR;
    if (up) {
        StepUp(vol);
    } else {
        StepDown(vol);
    }
    // Only a press that met the level the display last showed is answered here; any other
    // difference is a change the next poll shows.
    if (!known || LevelUnknown || before != LastLevel || mutedBefore != LastMute) return;
    const std::int32_t after = vol.VolumeLevel();
    if (vol.LastResult() != MMSYSERR_NOERROR || after != before) return;
    const bool mutedAfter = MasterMuted(vol);
    if (vol.LastResult() != MMSYSERR_NOERROR || mutedAfter != mutedBefore) return;
    ShowDisplay(false);
}

void frmMain::ShowLevelAsItStands() {
    if (!LevelUnknown) ShowDisplay(false);
}

}  // namespace vexlo
