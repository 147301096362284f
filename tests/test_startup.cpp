// The program entry and the start-up sequence.
#include "harness.h"

namespace vexlo::testing {
namespace {

TEST(Startup, WithoutCoreIniEverythingIsOn) {
    Harness h;
    h.fp.mixer.setMaster(30000);
    h.start();
    ASSERT_FALSE(h.fp.program.exited);
    WindowRecord& m = h.main();
    // Hidden, layered at 125, topmost, centred on back.bmp.
    EXPECT_FALSE(m.visible);
    EXPECT_TRUE(m.exStyle & WS_EX_LAYERED);
    EXPECT_EQ(m.alpha, 125);
    EXPECT_EQ(m.layeredFlags, 3u);
    EXPECT_TRUE(m.topmost);
    EXPECT_TRUE(h.under(1)->topmost);
    EXPECT_TRUE(h.under(2)->topmost);
    EXPECT_EQ(m.width, 220);
    EXPECT_EQ(m.height, 200);
    EXPECT_EQ(m.x, 402);
    EXPECT_EQ(m.y, 284);
    EXPECT_EQ(fake::PictureName(m.background), "back.bmp");
    EXPECT_EQ(fake::PictureName(m.icon), "icon3.ico");
    auto* bar = m.element("bar");
    EXPECT_EQ(bar->x(), 34);
    EXPECT_EQ(bar->y(), 168);
    EXPECT_EQ(fake::PictureName(bar->picture()), "chunks.bmp");
    EXPECT_FALSE(m.element("testbox")->visible());
    // The level is remembered; tray icon added then set for the level (30000 -> 7 chunks).
    EXPECT_EQ(h.form().LastLevel, 30000);
    EXPECT_TRUE(h.form().TrayOn);
    ASSERT_GE(h.fp.tray.calls.size(), 2u);
    EXPECT_EQ(h.fp.tray.calls[0].first, NIM_ADD);
    EXPECT_EQ(h.fp.tray.calls[1].first, NIM_MODIFY);
    EXPECT_EQ(h.trayIcon(), "icon1.ico");
    const TrayIconRecord& r = *h.fp.tray.shown;
    EXPECT_EQ(r.cbSize, 88u);
    EXPECT_EQ(r.uID, 1u);
    EXPECT_EQ(r.uFlags, 7u);
    EXPECT_EQ(r.uCallbackMessage, 0x200u);
    EXPECT_EQ(r.hWnd, m.element("Tray")->handle());
    EXPECT_STREQ(r.szTip, "Vexlo");
    EXPECT_EQ(r.szTip[63], ' ');
    // Hotkeys registered in order, then the procedure replaced.
    EXPECT_EQ(h.fp.hotkeys.log,
              (std::vector<std::string> {"register 1331", "register 1332", "setproc 0xc0de"}));
    EXPECT_EQ(h.fp.hotkeys.registered[0].modifiers, MOD_WIN);
    EXPECT_EQ(h.fp.hotkeys.registered[0].virtualKey, VK_OEM_PLUS);
    EXPECT_EQ(h.fp.hotkeys.registered[1].virtualKey, VK_OEM_MINUS);
    // Timers: the poll runs, the hold and the fade wait.
    EXPECT_TRUE(h.form().Timer1().enabled());
    EXPECT_EQ(h.form().Timer1().interval(), 5);
    EXPECT_FALSE(h.form().Timer2().enabled());
    EXPECT_FALSE(h.form().Timer3().enabled());
    // The first poll sees no change and shows nothing.
    h.fp.advance(50);
    EXPECT_TRUE(h.displayHidden());
    EXPECT_TRUE(h.fp.sound.played.empty());
}

TEST(Startup, FlagsOtherThanOneAreOff) {
    for (const char* off : {"0", "2", "-1"}) {
        Harness h;
        h.fp.setIni(std::string("[general]\nontop=") + off + "\ntrayicon=" + off +
                    "\nhotkeys=" + off + "\n");
        h.start();
        ASSERT_FALSE(h.fp.program.exited) << off;
        EXPECT_FALSE(h.main().topmost);
        EXPECT_EQ(h.under(1), nullptr);  // not made until first shown
        EXPECT_FALSE(h.form().TrayOn);
        EXPECT_TRUE(h.fp.tray.calls.empty());
        EXPECT_TRUE(h.fp.hotkeys.log.empty());
        EXPECT_EQ(h.fp.hotkeys.procOf(h.main().handle),
                  fake::FakeHotkeys::OwnProc(h.main().handle));
        // The overlays appear on the first change, not topmost.
        h.levelFromElsewhere(9000);
        h.fp.advance(5);
        ASSERT_NE(h.under(2), nullptr);
        EXPECT_FALSE(h.under(2)->topmost);
        EXPECT_TRUE(h.displayShown());
    }
}

TEST(Startup, BadSettingsEndTheProgramWithABox) {
    const char* cases[] = {"[general]\nontop=\n", "[general]\nontop=abc\n",
                           "[general]\ntrayicon=on\n", "[general]\nhotkeys=\n"};
    for (const char* ini : cases) {
        Harness h;
        h.fp.setIni(ini);
        h.start();
        EXPECT_TRUE(h.fp.program.exited) << ini;
        EXPECT_EQ(h.fp.program.exitCode, 1);
        ASSERT_EQ(h.fp.messageBox.shown.size(), 1u);
        EXPECT_EQ(h.fp.messageBox.shown[0].caption, "Vexlo");
        EXPECT_NE(h.lastBox().find("not a number"), std::string::npos);
        // After the end no event is handled.
        const auto reads = h.fp.mixer.reads;
        h.fp.advance(100);
        EXPECT_EQ(h.fp.mixer.reads, reads);
    }
}

TEST(Startup, EveryMissingSkinFileOfStartupIsFatal) {
    for (const char* file : {"\\icon3.ico", "\\back.bmp", "\\chunks.bmp", "\\overlay1.bmp"}) {
        Harness h;
        h.fp.images.remove(h.fp.skinPath(file));
        h.start();
        EXPECT_TRUE(h.fp.program.exited) << file;
        EXPECT_NE(h.lastBox().find(h.fp.skinPath(file)), std::string::npos) << h.lastBox();
    }
}

TEST(Startup, BackgroundLargerThanTheScreen) {
    Harness h;
    h.fp.images.put(h.fp.skinPath("\\back.bmp"), 1100, 800);
    h.start();
    EXPECT_EQ(h.main().x, 1024 - 1100);
    EXPECT_EQ(h.main().y, 768 - 800);
}

TEST(Startup, NoMixerDeviceStillRuns) {
    Harness h;
    h.fp.mixer.openResult = MMSYSERR_NODRIVER;
    h.start();
    ASSERT_FALSE(h.fp.program.exited);
    EXPECT_EQ(h.form().ChunkCount(), 0);
    EXPECT_EQ(h.form().ChunkStep, 0);
    EXPECT_EQ(h.trayIcon(), "icon0.ico");
    h.fp.hotkeys.press(MOD_WIN, VK_OEM_PLUS);
    h.fp.advance(2000);
    EXPECT_TRUE(h.displayHidden());
}

TEST(Entry, ModeComesFromTheExactArgumentText) {
    for (const char* full : {"", "/Control", "/CONTROL", "/control x", " /control"}) {
        Harness h;
        h.start(full);
        EXPECT_TRUE(h.app->MainLoaded()) << full;
        EXPECT_EQ(h.control(), nullptr);
    }
    Harness h;
    h.start("/control");
    EXPECT_FALSE(h.app->MainLoaded());
    ASSERT_NE(h.control(), nullptr);
    EXPECT_TRUE(h.control()->visible);
    EXPECT_TRUE(h.fp.tray.calls.empty());
    EXPECT_TRUE(h.fp.hotkeys.log.empty());
    // A level changed elsewhere shows nothing.
    h.levelFromElsewhere(40000);
    h.fp.advance(500);
    EXPECT_EQ(h.fp.windows.byCaption("Vexlo"), nullptr);
}

}  // namespace
}  // namespace vexlo::testing
