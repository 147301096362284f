// The slider window: load, knob maths, drag, sync and its position.
#include "harness.h"

namespace vexlo::testing {
namespace {

struct Slider : ::testing::Test {
    Harness h;
    void open(std::uint32_t level, const std::string& ini = "") {
        h.fp.mixer.setMaster(level);
        if (!ini.empty()) h.fp.setIni(ini);
        h.start("/control");
        ASSERT_FALSE(h.fp.program.exited) << h.lastBox();
    }
    fake::FakeElement& knob() { return *h.control()->element("knob"); }
    frmControl& form() { return h.app->Control(); }
    void press(int buttons, int y) {
        h.fp.mouse(knob().handle(), buttons == MK_RBUTTON ? WM_RBUTTONDOWN : WM_LBUTTONDOWN,
                   buttons, 7, y);
    }
    void move(int buttons, int y) { h.fp.mouse(knob().handle(), WM_MOUSEMOVE, buttons, 7, y); }
};

TEST_F(Slider, LoadsAtTheSavedPlaceWithTheKnobFromTheLevel) {
    open(65535, "[pos]\nx=1500\ny=3000\n");
    WindowRecord& w = *h.control();
    EXPECT_EQ(w.x, 100);
    EXPECT_EQ(w.y, 200);
    EXPECT_EQ(w.width, 30);
    EXPECT_EQ(w.height, 134);
    EXPECT_TRUE(w.topmost);
    EXPECT_EQ(fake::PictureName(w.background), "controlbg.bmp");
    EXPECT_EQ(fake::PictureName(knob().picture()), "controlknob.gif");
    EXPECT_EQ(knob().x(), 8);
    EXPECT_EQ(knob().y(), 11);
    EXPECT_EQ(knob().width(), 15);
    EXPECT_FLOAT_EQ(form().KnobTop(), 165.0f);
}

TEST_F(Slider, KnobPlacesForLevels) {
    const std::pair<std::uint32_t, int> cases[] = {{0, 107}, {65535, 11}, {32768, 59}};
    for (const auto& [level, top] : cases) {
        Harness g;
        g.fp.mixer.setMaster(level);
        g.start("/control");
        EXPECT_EQ(g.control()->element("knob")->y(), top) << level;
    }
}

TEST_F(Slider, WithoutSettingsItOpensAtOneTwipAndOnTop) {
    open(0);
    EXPECT_EQ(h.control()->x, 0);  // 1 twip is within the first pixel
    EXPECT_EQ(h.control()->y, 0);
    EXPECT_TRUE(h.control()->topmost);
}

TEST_F(Slider, WithoutALevelRangeTheKnobRestsAtTheBottom) {
    h.fp.mixer.openResult = MMSYSERR_NODRIVER;
    open(0);
    EXPECT_EQ(knob().y(), 107);
    h.fp.advance(1000);
    EXPECT_TRUE(h.fp.mixer.writes.empty());
}

TEST_F(Slider, BadSettingsAndMissingPicturesAreFatal) {
    for (const char* ini : {"[pos]\nx=\n", "[pos]\ny=left\n", "[general]\nontop=x\n"}) {
        Harness g;
        g.fp.setIni(ini);
        g.start("/control");
        EXPECT_TRUE(g.fp.program.exited) << ini;
    }
    for (const char* file : {"\\controlbg.bmp", "\\controlknob.gif"}) {
        Harness g;
        g.fp.images.remove(g.fp.skinPath(file));
        g.start("/control");
        EXPECT_TRUE(g.fp.program.exited) << file;
        EXPECT_NE(g.lastBox().find(file + 1), std::string::npos);
    }
}

TEST_F(Slider, DragFollowsTheGrabPointAndStopsAtTheTrackEnds) {
    open(32768);  // knob top 59 px
    press(MK_LBUTTON, 4);
    EXPECT_EQ(form().GrabY, 60);
    move(MK_LBUTTON, 14);  // 10 px down
    EXPECT_EQ(knob().y(), 69);
    EXPECT_NEAR(form().KnobTop(), 69 * 15.0f, 0.1f);  // unrounded: 58.999 + 10 pixels
    move(MK_LBUTTON, -100);                           // far above
    EXPECT_EQ(knob().y(), 11);
    move(MK_LBUTTON, 500);  // far below: the bottom edge stops at 122
    EXPECT_EQ(knob().y(), 107);
    // Right, middle, several or no buttons leave the knob where it is.
    for (int buttons : {0, MK_RBUTTON, MK_MBUTTON, MK_LBUTTON | MK_RBUTTON}) {
        move(buttons, -50);
        EXPECT_EQ(knob().y(), 107) << buttons;
    }
    // A right press still takes the grab point.
    press(MK_RBUTTON, 9);
    EXPECT_EQ(form().GrabY, 135);
}

TEST_F(Slider, SyncWritesTheLevelOnlyAfterTheKnobMoved) {
    open(32768);
    h.fp.advance(1000);
    EXPECT_TRUE(h.fp.mixer.writes.empty());  // resting knob: nothing written
    press(MK_LBUTTON, 0);
    move(MK_LBUTTON, -48);                   // top to 11: full
    EXPECT_TRUE(h.fp.mixer.writes.empty());  // the drag changes only the knob
    h.fp.advance(200);
    ASSERT_EQ(h.fp.mixer.writes.size(), 1u);
    EXPECT_EQ(h.fp.mixer.master(), 65535u);
    EXPECT_EQ(form().WrittenLevel, 65535);
    // A level changed elsewhere while the knob rests stays.
    h.levelFromElsewhere(1000);
    h.fp.advance(1000);
    EXPECT_EQ(h.fp.mixer.master(), 1000u);
    EXPECT_EQ(h.fp.mixer.writes.size(), 1u);
    // To the middle: 32767.5 rounds to the even 32768.
    move(MK_LBUTTON, 48);
    h.fp.advance(200);
    EXPECT_EQ(h.fp.mixer.master(), 32768u);
    move(MK_LBUTTON, 96);
    h.fp.advance(200);
    EXPECT_EQ(h.fp.mixer.master(), 0u);
}

TEST_F(Slider, AnAdjustingDeviceIsNotWrittenAgainAndAgain) {
    open(0);
    h.fp.mixer.adjust = [](std::uint32_t v) { return v / 1000 * 1000; };
    press(MK_LBUTTON, 0);
    move(MK_LBUTTON, -30);
    h.fp.advance(200);
    ASSERT_EQ(h.fp.mixer.writes.size(), 1u);
    EXPECT_EQ(form().WrittenLevel, static_cast<std::int32_t>(h.fp.mixer.master()));
    h.fp.advance(2000);
    EXPECT_EQ(h.fp.mixer.writes.size(), 1u);
}

TEST_F(Slider, ATallerKnobReachesBelowZero) {
    h.fp.images.put(h.fp.skinPath("\\controlknob.gif"), 15, 20);
    open(65535);
    press(MK_LBUTTON, 0);
    move(MK_LBUTTON, 500);
    EXPECT_EQ(knob().y(), 102);
    h.fp.advance(200);
    // 65535 * (1 - 91/96) = 3413.3 -> 3413: the lowest level this knob reaches.
    EXPECT_EQ(h.fp.mixer.master(), 3413u);
}

TEST_F(Slider, WindowPressDragsAndDoubleClickClosesInFullMode) {
    h.fp.setIni("[mixer]\nmixeronleftclick=0\n");
    h.start();
    h.fp.trayNotify(WM_LBUTTONDOWN);
    ASSERT_NE(h.control(), nullptr);
    // Opening the slider pauses the display's poll only while it loads.
    EXPECT_TRUE(h.form().Timer1().enabled());
    const NativeHandle w = h.control()->handle;
    h.fp.mouse(w, WM_LBUTTONDOWN, MK_LBUTTON, 3, 3);
    EXPECT_EQ(h.fp.windows.releaseCaptures, 1);
    ASSERT_EQ(h.fp.windows.sent.size(), 1u);
    EXPECT_EQ(h.fp.windows.sent[0].window, w);
    EXPECT_EQ(h.fp.windows.sent[0].message, 0x112u);
    EXPECT_EQ(h.fp.windows.sent[0].wParam, 0xF012u);
    EXPECT_EQ(h.fp.windows.sent[0].lParam, 0);
    h.fp.windows.moveByUser(w, 40, 60);
    h.fp.mouse(w, WM_LBUTTONDBLCLK, MK_LBUTTON, 3, 3);
    EXPECT_FALSE(h.fp.program.exited);
    EXPECT_EQ(h.control(), nullptr);
    EXPECT_EQ(h.fp.windows.sent.size(), 1u);  // the double click started no drag
    EXPECT_EQ(*h.fp.ini(), "[mixer]\nmixeronleftclick=0\n[pos]\nx=600\ny=900\n");
    // The knob's double click does nothing.
    h.fp.trayNotify(WM_LBUTTONDOWN);
    h.fp.mouse(h.control()->element("knob")->handle(), WM_LBUTTONDBLCLK, MK_LBUTTON, 3, 3);
    EXPECT_NE(h.control(), nullptr);
    // The next opening is at the saved place, with a fresh knob from the level.
    EXPECT_EQ(h.control()->x, 40);
    EXPECT_EQ(h.control()->y, 60);
    // The state of the window object survives closing and reopening.
    EXPECT_EQ(h.fp.mixer.openHandles, 2);  // the display's and the slider's own
}

TEST_F(Slider, UnsavablePositionIsSilent) {
    open(0);
    h.fp.profile.writable = false;
    h.fp.mouse(h.control()->handle, WM_LBUTTONDBLCLK, MK_LBUTTON, 1, 1);
    EXPECT_TRUE(h.fp.program.exited);
    EXPECT_EQ(h.fp.program.exitCode, 0);
    EXPECT_TRUE(h.fp.messageBox.shown.empty());
    EXPECT_FALSE(h.fp.ini());
}

}  // namespace
}  // namespace vexlo::testing
