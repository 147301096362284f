// Application: the core's side of a program's composition root. It owns the modules and the
// forms, creates each form on its first use, and is the one entry point for platform events:
// every event is handled under one guard that turns the errors which end the program into a
// message box and the end of the process.
#pragma once

#include <memory>

#include "controller/rounding.h"
#include "display/Trans.h"
#include "display/skin.h"
#include "hotkeys/HotKey.h"
#include "platform/platform.h"
#include "settings/ReadWrite.h"
#include "tray/modSystray.h"

namespace vexlo {

class frmMain;
class frmControl;
class frmHelper;
class OverlayForm;
class SkinPreview;

class Application final : public EventSink {
  public:
    explicit Application(Platform& platform);
    ~Application() override;
    Application(const Application&) = delete;
    Application& operator=(const Application&) = delete;

    // Loads frmHelper, whose load is the program entry. Returns when the entry is done; the
    // program then lives on events until ended() is true.
    void start();
    // Instead of start: the skin preview with the skin in folder, until Esc or a press on it.
    void startPreview(const std::string& folder);
    bool ended() const { return ended_; }
    int exitCode() const { return exitCode_; }

    // EventSink: the guarded dispatch point.
    void onTimer(TimerId timer) override;
    void onMouse(const MouseEvent& event) override;
    std::intptr_t onWindowMessage(NativeHandle window, std::uint32_t message, std::uintptr_t wParam,
                                  std::intptr_t lParam) override;
    void onMenuCommand(int itemId) override;
    void onTrayWheel(NativeHandle target, int delta, bool vertical) override;
    void onTaskbarCreated() override;
    void onHotkeysUnavailable(const std::string& reason) override;
    void onLevelUnchanged() override;
    bool holdsEvents() const override { return Blocked(); }

    // Forms, created (and loaded) on first use.
    frmHelper& Helper();
    frmMain& Main();
    OverlayForm& Under();
    OverlayForm& Under2();
    // The slider window object; its window exists only while it is loaded.
    frmControl& Control();
    bool MainLoaded() const { return main_ != nullptr; }
    bool UnderLoaded() const { return under_ != nullptr; }
    bool Under2Loaded() const { return under2_ != nullptr; }
    bool ControlLoaded() const;
    void UnloadDisplay();  // frmMain, then frmUnder and frmUnder2
    void UnloadControl();  // frmControl, which saves its position

    // True when the command line is exactly "/control"; asked anew each time.
    bool ControlOnlyMode() const;

    Platform& platform() { return platform_; }
    // Message boxes for the core's modules: while one is open, platform events are held off
    // the core (a modal box runs its own message loop, which would re-enter it).
    MessageBoxes& Boxes() { return boxes_; }
    ReadWrite& Settings() { return readWrite_; }
    Trans& Transparency() { return trans_; }
    AlwaysOnTop& OnTop() { return onTop_; }
    SkinFiles& Skin() { return skin_; }
    modSystray& Systray() { return systray_; }
    HotKey& HotKeys() { return hotKey_; }

  private:
    template <typename F>
    void Guarded(F&& handler);
    void End(int code);
    bool Blocked() const { return ended_ || boxes_.open() > 0; }

    class ModalBoxes final : public MessageBoxes {
      public:
        explicit ModalBoxes(MessageBoxes& boxes) : boxes_(boxes) {}
        int show(const std::string& text, const std::string& caption, std::uint32_t style) override;
        int open() const { return open_; }

      private:
        MessageBoxes& boxes_;
        int open_ = 0;
    };

    Platform& platform_;
    ModalBoxes boxes_;
    ReadWrite readWrite_;
    Trans trans_;
    AlwaysOnTop onTop_;
    SkinFiles skin_;
    modSystray systray_;
    HotKey hotKey_;
    std::unique_ptr<frmHelper> helper_;
    std::unique_ptr<frmMain> main_;
    std::unique_ptr<OverlayForm> under_;
    std::unique_ptr<OverlayForm> under2_;
    std::unique_ptr<frmControl> control_;
    std::unique_ptr<SkinPreview> preview_;
    bool ended_ = false;
    int exitCode_ = 0;
};

}  // namespace vexlo
