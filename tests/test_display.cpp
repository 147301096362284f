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
