// The layered-window helpers and the overlay windows' placement.
#include "display/Trans.h"
#include "display/skin.h"
#include "harness.h"

namespace vexlo::testing {
namespace {

TEST(Trans, LayeredKeyAlphaAndTopmostCalls) {
    FakePlatform fp;
    auto window = fp.windows.createWindow(WindowRole::Overlay, "Hidden");
    const NativeHandle h = window->handle();
    fp.windows.setWindowLong(h, GWL_EXSTYLE, 0x80);  // some style of its own
    fp.windows.log.clear();
    Trans trans(fp.windows);
    EXPECT_EQ(trans.LastAlpha(), 0);
    trans.MakeLayered(h);
    trans.MakeLayered(h);  // twice changes nothing
    auto& r = *fp.windows.byHandle(h);
    EXPECT_EQ(r.exStyle, 0x80 | WS_EX_LAYERED);
    EXPECT_EQ(r.layeredFlags, LWA_COLORKEY);
    EXPECT_EQ(r.colorKey, 0x00FF00FFu);
    EXPECT_EQ(r.alpha, 255);
    EXPECT_EQ(trans.LastAlpha(), 0);  // MakeLayered does not touch it

    trans.SetAlpha(h, 0);
    EXPECT_EQ(r.layeredFlags, 3u);
    EXPECT_EQ(r.alpha, 0);
    EXPECT_EQ(trans.LastAlpha(), 0);
    // LastAlpha follows the latest call whatever the window, even a dead one.
    trans.SetAlpha(h, 125);
    trans.SetAlpha(0xDEAD, 255);
    EXPECT_EQ(trans.LastAlpha(), 255);
    EXPECT_EQ(r.alpha, 125);

    r.x = 7;
    r.y = 9;
    AlwaysOnTop(fp.windows).MakeTopmost(h);
    EXPECT_TRUE(r.topmost);
    EXPECT_EQ(fp.windows.log.back(), "setpos 0x100 after=-1 flags=3");
    EXPECT_EQ(r.x, 7);
    EXPECT_EQ(r.y, 9);
}

TEST(Placement, CentredAndPulledBackOnlyAtTheRightAndBottom) {
    EXPECT_EQ(CentreOnScreen(1024, 768, 200, 100).left, 412);
    EXPECT_EQ(CentreOnScreen(1024, 768, 200, 100).top, 334);
    EXPECT_EQ(CentreOnScreen(1024, 768, 1024, 768).left, 0);  // an exact fit stays
    // Wider than the screen: right edges meet, the left one lies off-screen.
    const Placement wide = CentreOnScreen(1024, 768, 1200, 900);
    EXPECT_EQ(wide.left, -176);
    EXPECT_EQ(wide.top, -132);
    // Half pixels go to the even neighbour.
    EXPECT_EQ(CentreOnScreen(1024, 768, 201, 101).left, 412);  // 411.5
    EXPECT_EQ(CentreOnScreen(1024, 768, 203, 101).left, 410);  // 410.5
    // On a monitor left of the primary one, oversized: pulled back to that monitor's edges.
    const Placement left = CentreOnMonitor({-1280, -200, 1280, 1024}, 1300, 1100);
    EXPECT_EQ(left.left, -1300);
    EXPECT_EQ(left.top, -276);
}

TEST(Overlay, LoadsLayeredSizedAndCentred) {
    Harness h;
    h.fp.images.put(h.fp.skinPath("\\overlay1.bmp"), 200, 100);
    h.start();
    WindowRecord* u = h.under(1);
    ASSERT_NE(u, nullptr);  // "ontop" is on without a file, so start-up made it
    EXPECT_EQ(u->caption, "Hidden");
    EXPECT_EQ(u->x, 412);
    EXPECT_EQ(u->y, 334);
    EXPECT_EQ(u->width, 200);
    EXPECT_EQ(u->height, 100);
    EXPECT_TRUE(u->exStyle & WS_EX_LAYERED);
    EXPECT_EQ(fake::PictureName(u->background), "overlay1.bmp");
    EXPECT_FALSE(u->element("testbox")->visible());
    EXPECT_EQ(u->element("testbox")->picture(), nullptr);
    EXPECT_FALSE(u->visible);
}

// The display appears centred on the monitor the setting names, as it stands when the display
// appears, and stays there while it is shown or fading. The skin's pictures are 220 × 200;
// beside the primary 1024 × 768 lies a 1920 × 1080 monitor.
TEST(Overlay, CentredOnTheChosenMonitorWhenItAppears) {
    const MonitorArea primary {0, 0, 1024, 768}, right {1024, 0, 1920, 1080};
    const std::pair<int, int> onPrimary {402, 284}, onRight {1874, 440};
    struct Row {
        const char* ini;
        int pointerOn;
        int activeOn;
        std::pair<int, int> at;
        const char* told;
    };
    for (const Row& row : {
             Row {"", 1, 1, onPrimary, ""},
             Row {"monitor=primary", 1, 1, onPrimary, ""},
             Row {"monitor=pointer", 1, 0, onRight, ""},
             Row {"monitor= Pointer ", 0, 1, onPrimary, ""},
             Row {"monitor=active", 0, 1, onRight, ""},
             Row {"monitor=ACTIVE", 1, -1, onPrimary, ""},  // no active window
             Row {"monitor=", 1, 1, onPrimary, ""},
             Row {"monitor=mouse", 1, 1, onPrimary,
                  "The setting monitor=mouse in core.ini is not one Vexlo knows (primary, pointer "
                  "or active); it shows the display on the primary monitor."},
         }) {
        SCOPED_TRACE(row.ini);
        Harness h;
        h.fp.screen.monitors = {primary, right};
        h.fp.screen.pointerOn = row.pointerOn;
        h.fp.screen.activeOn = row.activeOn;
        h.fp.setIni(std::string("[general]\n") + row.ini + "\n");
        h.start();
        for (int round = 0; round < 2; ++round) {
            h.levelFromElsewhere(20000 + 10000 * round);
            h.fp.advance(5);
            ASSERT_TRUE(h.displayShown());
            for (WindowRecord* w : {&h.main(), h.under(1), h.under(2)}) {
                EXPECT_EQ(std::make_pair(w->x, w->y), row.at) << w->caption;
            }
            h.fp.advance(1400);
            ASSERT_TRUE(h.displayHidden());
        }
        // Told once, however often the display appears; the file is only read.
        EXPECT_EQ(h.fp.tray.balloons.empty() ? "" : h.fp.tray.balloons[0].text, row.told);
        EXPECT_LE(h.fp.tray.balloons.size(), 1u);
        EXPECT_EQ(h.fp.profile.writes, 0);
    }

    // While shown or fading a change does not move it; the pointer's monitor, the setting and
    // the monitors themselves are asked anew each time it appears from hidden.
    Harness h;
    h.fp.screen.monitors = {primary, right};
    h.fp.screen.pointerOn = 1;
    h.fp.setIni("[general]\nmonitor=pointer\n");
    h.start();
    h.levelFromElsewhere(20000);
    h.fp.advance(5);
    EXPECT_EQ(h.main().x, onRight.first);
    h.fp.screen.pointerOn = 0;
    for (int at : {500, 1100}) {  // holding, then fading
        h.fp.advance(at - (at == 500 ? 5 : 500));
        h.levelFromElsewhere(20000 + at);
        h.fp.advance(5);
        for (WindowRecord* w : {&h.main(), h.under(1), h.under(2)}) {
            EXPECT_EQ(std::make_pair(w->x, w->y), onRight) << at << " " << w->caption;
        }
    }
    EXPECT_EQ(h.under(2)->width, 35 + 9 * 5);  // the level still moves the cut
    EXPECT_EQ(h.fp.screen.asked.size(), 1u);
    h.fp.advance(3000);
    ASSERT_TRUE(h.displayHidden());
    h.levelFromElsewhere(40000);
    h.fp.advance(5);
    EXPECT_EQ(h.main().x, onPrimary.first);
    EXPECT_EQ(h.under(2)->x, onPrimary.first);
    // The right monitor goes away while the pointer was there; one comes back at the left;
    // then the setting changes.
    h.fp.advance(3000);
    h.fp.screen.pointerOn = 1;
    h.fp.screen.monitors = {primary};
    h.levelFromElsewhere(30000);
    h.fp.advance(5);
    EXPECT_EQ(std::make_pair(h.main().x, h.main().y), onPrimary);
    h.fp.advance(3000);
    h.fp.screen.monitors = {primary, {-1280, 0, 1280, 1024}};
    h.levelFromElsewhere(20000);
    h.fp.advance(5);
    EXPECT_EQ(std::make_pair(h.under(1)->x, h.under(1)->y), std::make_pair(-750, 412));
    h.fp.advance(3000);
    h.fp.setIni("[general]\nmonitor=primary\n");
    h.levelFromElsewhere(30000);
    h.fp.advance(5);
    EXPECT_EQ(std::make_pair(h.under(2)->x, h.under(2)->y), onPrimary);
    EXPECT_EQ(h.fp.screen.asked.back(), MonitorChoice::Primary);
}

TEST(Overlay, MissingBitmapNamesTheFileAndEndsTheProgram) {
    Harness h;
    h.fp.images.remove(h.fp.skinPath("\\overlay2.bmp"));
    h.start();
    EXPECT_TRUE(h.fp.program.exited);
    EXPECT_EQ(h.fp.program.exitCode, 1);
    ASSERT_EQ(h.fp.messageBox.shown.size(), 1u);
    EXPECT_EQ(h.fp.messageBox.shown[0].caption, "Vexlo");
    EXPECT_NE(h.lastBox().find("C:\\Vexlo\\overlay2.bmp"), std::string::npos) << h.lastBox();
}

}  // namespace
}  // namespace vexlo::testing

namespace vexlo::testing {
namespace {

// The skin preview: the display's windows with a skin from elsewhere, stepping 0..16..0 once a
// second with the watch loop's widths, leaving mixer, settings and tray alone; Esc or a press
// on the display ends it, a broken skin ends it with the box naming the file.
TEST(SkinPreview, StepsThroughTheLevelsAndEndsOnEscOrAPress) {
    for (const char* ending : {"esc", "press", "quit", "broken"}) {
        SCOPED_TRACE(ending);
        Harness h;
        const std::string folder = "D:\\skins\\glass";
        for (const char* name : {"\\back.bmp", "\\overlay1.bmp", "\\overlay2.bmp"}) {
            h.fp.images.put(folder + name, 260, 220);
        }
        h.fp.images.put(folder + "\\chunks.bmp", 144, 14);
        h.fp.images.put(folder + "\\icon3.ico", 16, 16);
        if (std::string(ending) == "broken") {
            h.fp.images.remove(folder + "\\overlay2.bmp");
            h.app->startPreview(folder);
            EXPECT_TRUE(h.fp.program.exited);
            EXPECT_EQ(h.fp.program.exitCode, 1);
            EXPECT_NE(h.lastBox().find("D:\\skins\\glass\\overlay2.bmp"), std::string::npos);
            continue;
        }
        h.app->startPreview(folder);
        ASSERT_FALSE(h.fp.program.exited);
        EXPECT_TRUE(h.displayShown());
        EXPECT_EQ(h.main().width, 260);
        EXPECT_EQ(h.main().alpha, 125);
        EXPECT_TRUE(h.main().topmost);
        std::vector<int> bars, overlays;
        for (int s = 0; s <= 34; ++s) {
            bars.push_back(h.barWidth());
            overlays.push_back(h.under(2)->width);
            h.fp.advance(1000);
        }
        EXPECT_EQ(bars[0], 0);
        EXPECT_EQ(bars[1], 9);
        EXPECT_EQ(bars[16], 144);
        EXPECT_EQ(bars[17], 135);
        EXPECT_EQ(bars[32], 0);
        EXPECT_EQ(bars[33], 9);
        EXPECT_EQ(overlays[16], 179);
        EXPECT_EQ(overlays[32], 35);
        EXPECT_EQ(h.fp.mixer.openHandles, 0);
        EXPECT_TRUE(h.fp.mixer.log.empty());
        EXPECT_TRUE(h.fp.profile.readPaths.empty());
        EXPECT_FALSE(h.fp.tray.shown);
        if (std::string(ending) == "esc") {
            EXPECT_TRUE(h.fp.hotkeys.press(0, VK_ESCAPE));
        } else if (std::string(ending) == "quit") {  // the session ends, or a kill
            h.app->onMenuCommand(kMenuQuit);
            EXPECT_FALSE(h.fp.windows.byCaption("Vexlo")->visible);
            EXPECT_EQ(h.fp.windows.byRole(WindowRole::Main, 1), nullptr);  // no resident start
        } else {
            h.fp.mouse(h.under(1)->handle, WM_RBUTTONDOWN, MK_RBUTTON, 5, 5);
        }
        EXPECT_TRUE(h.fp.program.exited);
        EXPECT_EQ(h.fp.program.exitCode, 0);
        EXPECT_TRUE(h.displayHidden());
    }
}

}  // namespace
}  // namespace vexlo::testing
