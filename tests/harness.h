// A program on the fake platform: the fake machine, the core wired to it, and shortcuts for
// what the tests look at.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "control/frmControl.h"
#include "controller/application.h"
#include "controller/frmMain.h"
#include "display/frmUnder.h"
#include "platform/fake/fake_platform.h"
#include "tray/frmHelper.h"

namespace vexlo::testing {

using fake::FakePlatform;
using fake::WindowRecord;

struct Harness {
    FakePlatform fp;
    std::unique_ptr<Application> app;

    Harness() {
        fp.installSkin();
        app = std::make_unique<Application>(fp.platform);
        fp.connect(*app);
    }
    // Starts the program with the argument text; the level the device has is kept.
    void start(const std::string& arguments = "") {
        fp.program.arguments = arguments;
        app->start();
    }
    WindowRecord& main() { return *fp.windows.byCaption("Vexlo"); }
    WindowRecord* under(int which) {  // 1 = frmUnder, 2 = frmUnder2
        return fp.windows.byRole(WindowRole::Overlay, static_cast<std::size_t>(which - 1));
    }
    WindowRecord* control() { return fp.windows.byRole(WindowRole::Control); }
    frmMain& form() { return app->Main(); }
    int barWidth() { return main().element("bar")->width(); }
    std::string trayIcon() { return fp.tray.shown ? iconName(fp.tray.shown->hIcon) : ""; }
    std::string iconName(NativeHandle handle) {
        auto tray = main().element("Tray")->picture();
        return tray && tray->handle() == handle ? fake::PictureName(tray) : "?";
    }
    // Another program sets the master level; the next poll sees it.
    void levelFromElsewhere(std::uint32_t level) { fp.mixer.setMaster(level); }
    bool displayShown() {
        return main().visible && under(1) && under(1)->visible && under(2) && under(2)->visible;
    }
    bool displayHidden() {
        return !main().visible && (!under(1) || !under(1)->visible) &&
               (!under(2) || !under(2)->visible);
    }
    std::string lastBox() {
        return fp.messageBox.shown.empty() ? "" : fp.messageBox.shown.back().text;
    }
};

}  // namespace vexlo::testing
