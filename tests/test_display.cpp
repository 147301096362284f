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
