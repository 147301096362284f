// Tray presses, the menu, the mixer launch, the shell restart and quitting in both modes.
#include "harness.h"

namespace vexlo::testing {
namespace {

TEST(TrayClicks, LeftPressOpensTheMixerOrTheSlider) {
    Harness h;
    h.start();
    h.fp.launcher.installed = {"sndvol32"};
    h.fp.trayNotify(WM_LBUTTONDOWN);
    // No core.ini: "1" names no program, so the system mixer starts.
    EXPECT_EQ(h.fp.launcher.started, (std::vector<std::pair<std::string, int>> {
                                         {"1", SW_SHOWNORMAL}, {"sndvol32", SW_SHOWNORMAL}}));
    // Releases, double clicks, moves and the middle button do nothing.
    for (std::uint32_t other :
         {WM_LBUTTONUP, WM_LBUTTONDBLCLK, WM_MOUSEMOVE, WM_RBUTTONUP, 0x207u}) {
        h.fp.trayNotify(other);
    }
    EXPECT_EQ(h.fp.launcher.started.size(), 2u);
    EXPECT_TRUE(h.fp.windows.menus.empty());
    EXPECT_EQ(h.control(), nullptr);

    h.fp.setIni("[mixer]\nmixeronleftclick=0\npathtomixer=\"C:\\Mixer\\mix.exe\" /a\n");
    h.fp.trayNotify(WM_LBUTTONDOWN);
    ASSERT_NE(h.control(), nullptr);
    EXPECT_TRUE(h.control()->visible);
    const NativeHandle first = h.control()->handle;
    h.fp.trayNotify(WM_LBUTTONDOWN);  // shown again, not loaded again
    EXPECT_EQ(h.control()->handle, first);

    h.fp.setIni("[mixer]\npathtomixer=\"C:\\Mixer\\mix.exe\" /a\n");
    h.fp.launcher.installed = {"\"C:\\Mixer\\mix.exe\" /a"};
    h.fp.launcher.started.clear();
    h.fp.trayNotify(WM_LBUTTONDOWN);
    EXPECT_EQ(h.fp.launcher.started.size(), 1u);  // the configured one starts, no fallback
}

TEST(TrayClicks, BadLeftClickSettingEndsTheProgramAtThePress) {
    Harness h;
    h.fp.setIni("[mixer]\nmixeronleftclick=no\n");
    h.start();
    EXPECT_FALSE(h.fp.program.exited);
    h.fp.trayNotify(WM_RBUTTONDOWN);
    EXPECT_FALSE(h.fp.program.exited);
    h.fp.trayNotify(WM_LBUTTONDOWN);
    EXPECT_TRUE(h.fp.program.exited);
}

TEST(OpenMixer, NeitherProgramStartsTellsTheUserAndKeepsRunning) {
    Harness h;
    h.fp.setIni("[mixer]\npathtomixer=nomixer.exe\n");
    h.start();
    h.fp.trayNotify(WM_RBUTTONDOWN);
    h.fp.chooseMenuItem("Open Mixer");
    EXPECT_FALSE(h.fp.program.exited);
    ASSERT_EQ(h.fp.messageBox.shown.size(), 1u);
    EXPECT_EQ(h.fp.messageBox.shown[0].caption, "Vexlo");
    EXPECT_EQ(h.lastBox(),
              "No mixer program could be started.\n\n\"nomixer.exe\": The system cannot find the "
              "file specified.\nThe system's volume control: The system cannot find the file "
              "specified.\n\nSet \"pathtomixer\" in the [mixer] section of C:\\Vexlo\\core.ini "
              "to the command line of your mixer program.");
    // Without the key only the system's mixer was asked for, and only its failure is told.
    h.fp.setIni("");
    h.fp.trayNotify(WM_LBUTTONDOWN);
    ASSERT_EQ(h.fp.messageBox.shown.size(), 2u);
    EXPECT_EQ(h.lastBox().find("\"1\""), std::string::npos);
    EXPECT_EQ(h.lastBox().find("sndvol32"), std::string::npos);
    // Still working: a level change shows the display.
    h.levelFromElsewhere(20000);
    h.fp.advance(5);
    EXPECT_TRUE(h.displayShown());
}

TEST(TrayMenu, RightPressPopsTheMenuFromTheMainWindow) {
    Harness h;
    h.start();
    h.fp.trayNotify(WM_RBUTTONDOWN);
    ASSERT_EQ(h.fp.windows.menus.size(), 1u);
    EXPECT_EQ(h.fp.windows.foreground, (std::vector<NativeHandle> {h.main().handle}));
    EXPECT_EQ(h.fp.windows.menus[0].first, h.main().handle);
    const auto& items = h.fp.windows.menus[0].second;
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[0].caption, "Quit");
    EXPECT_EQ(items[1].caption, "Open Mixer");
    // The watch loop goes on behind the open menu.
    h.levelFromElsewhere(20000);
    h.fp.advance(5);
    EXPECT_TRUE(h.displayShown());

    // In the user's language, and the muted tooltip with it; the commands stay what they are.
    Harness german;
    german.fp.texts.translations = {
        {"Quit", "Beenden"}, {"Open Mixer", "Mixer öffnen"}, {"Vexlo (muted)", "Vexlo (stumm)"}};
    german.fp.mixer.find(MIXERLINE_COMPONENTTYPE_DST_SPEAKERS, MIXERCONTROL_CONTROLTYPE_MUTE)
        ->value = 1;
    german.start();
    german.fp.trayNotify(WM_RBUTTONDOWN);
    ASSERT_EQ(german.fp.windows.menus.size(), 1u);
    EXPECT_EQ(german.fp.windows.menus[0].second[0].caption, "Beenden");
    EXPECT_EQ(german.fp.windows.menus[0].second[1].caption, "Mixer öffnen");
    EXPECT_STREQ(german.fp.tray.shown->szTip, "Vexlo (stumm)");
    german.fp.chooseMenuItem("Beenden");
    EXPECT_TRUE(german.fp.program.exited);
}

TEST(Quit, FullModeTearsDownInOrderAndEnds) {
    Harness h;
    h.start();
    h.fp.setIni("[mixer]\nmixeronleftclick=0\n");
    h.fp.trayNotify(WM_LBUTTONDOWN);  // the slider is open
    h.fp.windows.moveByUser(h.control()->handle, 100, 50);
    h.levelFromElsewhere(20000);
    h.fp.advance(5);
    const NativeHandle main = h.main().handle;
    h.fp.hotkeys.log.clear();
    h.fp.trayNotify(WM_RBUTTONDOWN);
    h.fp.chooseMenuItem("Quit");
    EXPECT_TRUE(h.fp.program.exited);
    EXPECT_EQ(h.fp.program.exitCode, 0);
    EXPECT_EQ(h.fp.hotkeys.log,
              (std::vector<std::string> {"unregister 1331", "unregister 1332", "setproc 0x40100"}));
    EXPECT_EQ(h.fp.hotkeys.procOf(main), fake::FakeHotkeys::OwnProc(main));
    EXPECT_EQ(h.fp.tray.calls.back().first, NIM_DELETE);
    EXPECT_FALSE(h.fp.tray.shown);
    EXPECT_FALSE(h.fp.windows.byHandle(main)->alive);
    EXPECT_EQ(h.under(1), nullptr);
    EXPECT_EQ(h.control(), nullptr);
    // The slider saved where the user put it.
    EXPECT_EQ(*h.fp.ini(), "[mixer]\nmixeronleftclick=0\n[pos]\nx=1500\ny=750\n");
    EXPECT_TRUE(h.fp.messageBox.shown.empty());
}

TEST(Quit, HotkeySettingIsReadAgainAtQuit) {
    // Switched off while running: no release; the registrations end with the process.
    Harness off;
    off.start();
    off.fp.setIni("[general]\nhotkeys=0\n");
    off.fp.hotkeys.log.clear();
    off.fp.trayNotify(WM_RBUTTONDOWN);
    off.fp.chooseMenuItem("Quit");
    EXPECT_TRUE(off.fp.program.exited);
    EXPECT_TRUE(off.fp.hotkeys.log.empty());
    // Switched on while running: the unregisters fail quietly, nothing is restored.
    Harness on;
    on.fp.setIni("[general]\nhotkeys=0\ntrayicon=0\n");
    on.start();
    on.fp.setIni("[general]\nhotkeys=1\ntrayicon=0\n");
    on.app->onMenuCommand(kMenuQuit);
    EXPECT_TRUE(on.fp.program.exited);
    EXPECT_EQ(on.fp.hotkeys.log, (std::vector<std::string> {"unregister 1331", "unregister 1332"}));
    EXPECT_TRUE(on.fp.tray.calls.empty());  // no icon to remove
}

TEST(Quit, ControlOnlyModeSavesThePositionAndEnds) {
    Harness h;
    h.start("/control");
    h.fp.windows.moveByUser(h.control()->handle, -20, 300);
    h.fp.mouse(h.control()->handle, WM_LBUTTONDBLCLK, MK_LBUTTON, 5, 5);
    EXPECT_TRUE(h.fp.program.exited);
    EXPECT_EQ(h.fp.program.exitCode, 0);
    EXPECT_EQ(*h.fp.ini(), "[pos]\nx=-300\ny=4500\n");
    EXPECT_TRUE(h.fp.hotkeys.log.empty());
    EXPECT_TRUE(h.fp.tray.calls.empty());
}

TEST(ShellRestart, TheIconComesBackWithTheCurrentPicture) {
    Harness h;
    h.fp.mixer.setMaster(65535);
    h.start();
    h.fp.tray.restartShell();
    h.levelFromElsewhere(65000);
    h.fp.advance(5);
    EXPECT_FALSE(h.fp.tray.shown);  // a modify alone does not bring it back
    h.app->onTaskbarCreated();
    ASSERT_TRUE(h.fp.tray.shown);
    EXPECT_EQ(h.trayIcon(), "icon3.ico");
    EXPECT_STREQ(h.fp.tray.shown->szTip, "Vexlo");
    // Without a tray icon nothing is added.
    Harness off;
    off.fp.setIni("[general]\ntrayicon=0\n");
    off.start();
    off.app->onTaskbarCreated();
    EXPECT_TRUE(off.fp.tray.calls.empty());
}

}  // namespace
}  // namespace vexlo::testing

namespace vexlo::testing {
namespace {

TEST(ModalBoxes, EventsWaitWhileAFatalBoxIsOpen) {
    Harness h;
    h.fp.setIni("[general]\nsoundon=abc\n");
    h.start();
    // The box's own loop keeps the timers and hotkeys coming; none may reach the program.
    h.fp.messageBox.whileShown = [&] {
        EXPECT_TRUE(h.app->holdsEvents());  // what the adapters ask
        h.levelFromElsewhere(50000);
        h.fp.advance(2000);
        h.fp.hotkeys.press(MOD_WIN, VK_OEM_PLUS);
        EXPECT_EQ(h.fp.hotkeys.sendToWindow(h.main().handle, 0x0010, 1, 2), 77);  // handed on
    };
    h.levelFromElsewhere(30000);
    h.fp.advance(5);
    EXPECT_TRUE(h.fp.program.exited);
    EXPECT_EQ(h.fp.messageBox.shown.size(), 1u);  // one box, not one per tick
    EXPECT_EQ(h.fp.mixer.master(), 50000u);       // the hotkey did nothing
    EXPECT_EQ(h.fp.hotkeys.passedOn.size(), 1u);
}

TEST(ModalBoxes, TheProgramGoesOnAfterAnOpenMixerBox) {
    Harness h;
    h.fp.mixer.setMaster(10000);
    h.start();
    h.fp.messageBox.whileShown = [&] {
        h.fp.hotkeys.press(MOD_WIN, VK_OEM_PLUS);
        h.fp.advance(100);
    };
    h.fp.trayNotify(WM_RBUTTONDOWN);
    h.fp.chooseMenuItem("Open Mixer");
    ASSERT_EQ(h.fp.messageBox.shown.size(), 1u);
    EXPECT_EQ(h.fp.mixer.master(), 10000u);
    EXPECT_TRUE(h.displayHidden());
    // Closed: everything works again.
    EXPECT_FALSE(h.app->holdsEvents());
    EXPECT_TRUE(h.fp.hotkeys.press(MOD_WIN, VK_OEM_PLUS));
    h.fp.advance(5);
    EXPECT_EQ(h.fp.mixer.master(), 13855u);
    EXPECT_TRUE(h.displayShown());
}

}  // namespace
}  // namespace vexlo::testing
