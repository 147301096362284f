#include "controller/application.h"

#include "control/frmControl.h"
#include "controller/errors.h"
#include "controller/frmMain.h"
#include "display/frmUnder.h"
#include "display/skin_preview.h"
#include "tray/frmHelper.h"

namespace vexlo {

Application::Application(Platform& platform)
    : platform_(platform),
      boxes_(platform.messageBox),
      readWrite_(platform.profile, platform.program, boxes_, platform.texts),
      trans_(platform.windows),
      onTop_(platform.windows),
      skin_(platform.images, platform.program, platform.texts),
      systray_(platform.tray),
      hotKey_(platform.hotkeys, platform.texts,
              HotKey::Actions {[this] { Main().upvol(); }, [this] { Main().downvol(); },
                               [this](const std::string& text) {
                                   // At the tray icon; without one the platform's own
                                   // diagnostics are all there is.
                                   if (main_ && main_->TrayOn)
                                       systray_.ShowBalloon(kAppTitle, text);
                               }}) {}

Application::~Application() = default;

int Application::ModalBoxes::show(const std::string& text, const std::string& caption,
                                  std::uint32_t style) {
    ++open_;
    const int answer = boxes_.show(text, caption, style);
    --open_;
    return answer;
}

template <typename F>
void Application::Guarded(F&& handler) {
    if (Blocked()) return;
    try {
        handler();
    } catch (const ProgramEnd& end) { End(end.exitCode); } catch (const std::exception& error) {
        ended_ = true;  // nothing more runs, also while the box is open
        boxes_.show(error.what(), kAppTitle, MB_OK | MB_ICONHAND);
        End(1);
    }
}

void Application::End(int code) {
    ended_ = true;
    exitCode_ = code;
    platform_.process.exit(code);
}

void Application::start() {
    Guarded([this] { Helper().Form_Load(); });
}

void Application::startPreview(const std::string& folder) {
    Guarded([&] {
        preview_ = std::make_unique<SkinPreview>(platform_, trans_, onTop_, folder);
        preview_->Start();
    });
}

bool Application::ControlOnlyMode() const {
    return platform_.program.commandLine() == "/control";
}

frmHelper& Application::Helper() {
    if (!helper_) helper_ = std::make_unique<frmHelper>(*this);
    return *helper_;
}

frmMain& Application::Main() {
    if (!main_) {
        main_ = std::make_unique<frmMain>(*this);
        main_->Form_Load();
    }
    return *main_;
}

OverlayForm& Application::Under() {
    if (!under_) {
        under_ = std::make_unique<OverlayForm>(platform_.windows, skin_, platform_.screen, trans_,
                                               "\\overlay1.bmp");
    }
    return *under_;
}

OverlayForm& Application::Under2() {
    if (!under2_) {
        under2_ = std::make_unique<OverlayForm>(platform_.windows, skin_, platform_.screen, trans_,
                                                "\\overlay2.bmp");
    }
    return *under2_;
}

frmControl& Application::Control() {
    if (!control_) control_ = std::make_unique<frmControl>(*this);
    return *control_;
}

bool Application::ControlLoaded() const {
    return control_ && control_->Loaded();
}

void Application::UnloadDisplay() {
    main_.reset();
    under_.reset();
    under2_.reset();
}

void Application::UnloadControl() {
    if (control_) control_->Unload();
}

void Application::onTimer(TimerId timer) {
    Guarded([&] {
        if (preview_ && preview_->OwnsTimer(timer)) return preview_->Timer_Timer();
        if (main_) {
            if (main_->Timer1().id() == timer) return main_->Timer1_Timer();
            if (main_->Timer2().id() == timer) return main_->Timer2_Timer();
            if (main_->Timer3().id() == timer) return main_->Timer3_Timer();
        }
        if (control_ && control_->OwnsTimer(timer)) control_->Timer1_Timer();
    });
}

void Application::onMouse(const MouseEvent& event) {
    Guarded([&] {
        if (preview_) return preview_->Mouse(event);
        if (main_ && event.target == main_->Tray().handle()) {
            if (event.message == WM_MOUSEMOVE) main_->Tray_MouseMove(event.x);
            return;
        }
        if (!ControlLoaded()) return;
        frmControl& control = *control_;
        const bool press = event.message == WM_LBUTTONDOWN || event.message == WM_RBUTTONDOWN ||
                           event.message == WM_MBUTTONDOWN;
        if (event.target == control.knobHandle()) {
            if (press) control.knob_MouseDown(event.buttons, event.x, event.y);
            if (event.message == WM_MOUSEMOVE) {
                control.knob_MouseMove(event.buttons, event.x, event.y);
            }
        } else if (event.target == control.handle()) {
            if (press) control.Form_MouseDown(event.buttons, event.x, event.y);
            if (event.message == WM_LBUTTONDBLCLK) control.Form_DblClick();
        }
    });
}

std::intptr_t Application::onWindowMessage(NativeHandle window, std::uint32_t message,
                                           std::uintptr_t wParam, std::intptr_t lParam) {
    // Every other message goes on to the window's own procedure, whatever state the program
    // is in; that touches none of the program's state.
    if (preview_ && message != WM_HOTKEY) {
        return preview_->PreviewProc(window, message, wParam, lParam);
    }
    if (message != WM_HOTKEY) return hotKey_.HotKeyProc(window, message, wParam, lParam);
    std::intptr_t result = 0;
    Guarded([&] {
        result = preview_ ? preview_->PreviewProc(window, message, wParam, lParam)
                          : hotKey_.HotKeyProc(window, message, wParam, lParam);
    });
    return result;
}

void Application::onMenuCommand(int itemId) {
    Guarded([&] {
        if (preview_) {
            if (itemId == kMenuQuit) preview_->End();
            return;
        }
        if (itemId == kMenuQuit) Helper().Quit_Click();
        if (itemId == kMenuOpenMixer) Helper().OpMix_Click();
    });
}

void Application::onTrayWheel(NativeHandle target, int delta, bool vertical) {
    Guarded([&] {
        if (main_ && main_->TrayOn && target == main_->Tray().handle()) {
            main_->Tray_Wheel(delta, vertical);
        }
    });
}

void Application::onTaskbarCreated() {
    Guarded([&] {
        if (main_) main_->TaskbarCreated();
    });
}

void Application::onHotkeysUnavailable(const std::string& reason) {
    Guarded([&] {
        if (main_) hotKey_.Unavailable(reason);
    });
}

void Application::onLevelUnchanged() {
    Guarded([&] {
        if (main_) main_->ShowLevelAsItStands();
    });
}

}  // namespace vexlo
