// The level poll, the chunk buckets, the sound and the fade of the display.
#include "harness.h"

namespace vexlo::testing {
namespace {

struct Watch : ::testing::Test {
    Harness h;
    void SetUp() override {
        h.fp.mixer.setMaster(0);
        h.start();
        ASSERT_FALSE(h.fp.program.exited);
    }
    std::int16_t chunksAt(std::int32_t level) {
        h.form().LastLevel = level;
        return h.form().ChunkCount();
    }
    std::vector<int> alphas() { return {h.main().alpha, h.under(1)->alpha, h.under(2)->alpha}; }
};

TEST_F(Watch, ChunkBucketsAtTheUsualMaximum) {
    const std::pair<std::int32_t, int> cases[] = {
        {0, 0},      {3855, 0},   {3856, 1},   {7710, 1},   {7711, 2},   {15420, 3}, {15421, 4},
        {57825, 14}, {57826, 15}, {61680, 15}, {61681, 16}, {65535, 16}, {-100, 0},  {69390, 16}};
    for (const auto& [level, chunks] : cases) EXPECT_EQ(chunksAt(level), chunks) << level;
    EXPECT_EQ(h.form().ChunkStep, 3855);
}

TEST(ChunkCount, MaximaThatAreNotMultiplesOfSeventeen) {
    Harness h;
    h.fp.mixer.find(MIXERLINE_COMPONENTTYPE_DST_SPEAKERS, MIXERCONTROL_CONTROLTYPE_VOLUME)->max =
        127;
    h.start();
    frmMain& m = h.form();
    m.LastLevel = 119;
    EXPECT_EQ(m.ChunkCount(), 16);
    EXPECT_EQ(m.ChunkStep, 7);
    // Above seventeen steps the bar stays full instead of dropping to empty.
    m.LastLevel = 120;
    EXPECT_EQ(m.ChunkCount(), 16);
    m.LastLevel = 127;
    EXPECT_EQ(m.ChunkCount(), 16);
    // 65536 (a sound server's range) gives a step of 3855 and a full bar at the top.
    Harness p;
    p.fp.mixer.find(MIXERLINE_COMPONENTTYPE_DST_SPEAKERS, MIXERCONTROL_CONTROLTYPE_VOLUME)->max =
        65536;
    p.start();
    p.form().LastLevel = 65536;
    EXPECT_EQ(p.form().ChunkCount(), 16);
    // Halves of the step round to even: 8.5 -> 8.
    Harness q;
    q.fp.mixer.find(MIXERLINE_COMPONENTTYPE_DST_SPEAKERS, MIXERCONTROL_CONTROLTYPE_VOLUME)->max =
        144 + 8;
    q.start();
    q.form().ChunkCount();
    EXPECT_EQ(q.form().ChunkStep, 9);  // 152 / 17 = 8.94
}

TEST_F(Watch, OneChangeShowsTheDisplayInOrderAndFadesOut) {
    h.fp.advance(100);
    h.levelFromElsewhere(36000);  // 9 chunks
    h.fp.advance(5);
    ASSERT_TRUE(h.displayShown());
    EXPECT_EQ(
        h.fp.windows.stacking(),
        (std::vector<NativeHandle> {h.main().handle, h.under(1)->handle, h.under(2)->handle}));
    EXPECT_EQ(h.barWidth(), 81);
    EXPECT_EQ(h.under(2)->width, 35 + 81);
    EXPECT_EQ(h.under(2)->x, h.under(1)->x);
    EXPECT_EQ(h.under(2)->height, 200);
    ASSERT_EQ(h.fp.sound.played.size(), 1u);
    EXPECT_EQ(h.fp.sound.played[0].first, "C:\\Vexlo\\sound.wav");
    EXPECT_EQ(h.fp.sound.played[0].second, SND_ASYNC);
    EXPECT_EQ(h.trayIcon(), "icon2.ico");
    // Held: main at 125, the overlays opaque with the key only (before the first fade).
    EXPECT_EQ(alphas(), (std::vector<int> {125, 255, 255}));
    EXPECT_EQ(h.under(1)->layeredFlags, LWA_COLORKEY);

    h.fp.advance(999);  // 999 ms after the poll that saw the change
    EXPECT_TRUE(h.displayShown());
    EXPECT_EQ(alphas(), (std::vector<int> {125, 255, 255}));
    h.fp.advance(1);  // 1000: the hold ends
    EXPECT_EQ(alphas(), (std::vector<int> {125, 125, 125}));
    const int expected[] = {100, 75, 50, 25, 0};
    for (int step : expected) {
        h.fp.advance(50);
        EXPECT_EQ(alphas(), (std::vector<int> {step, step, step}));
        EXPECT_TRUE(h.displayShown());
    }
    h.fp.advance(49);
    EXPECT_TRUE(h.displayShown());
    h.fp.advance(1);  // 1300: hidden, alphas ready for the next time
    EXPECT_TRUE(h.displayHidden());
    EXPECT_EQ(alphas(), (std::vector<int> {125, 255, 255}));
    EXPECT_EQ(h.under(1)->layeredFlags, 3u);
    EXPECT_EQ(h.app->Transparency().LastAlpha(), 255);
    EXPECT_FALSE(h.form().Timer3().enabled());
    EXPECT_FALSE(h.form().Timer2().enabled());
    EXPECT_TRUE(h.form().Timer1().enabled());
}

TEST_F(Watch, ChangesInsideOneChunkPlayNoSoundButRestartTheHold) {
    h.levelFromElsewhere(10000);
    h.fp.advance(5);
    const auto trayCalls = h.fp.tray.calls.size();
    const auto loads = h.fp.images.loads.size();
    h.fp.advance(500);
    h.levelFromElsewhere(10100);
    h.fp.advance(5);
    EXPECT_EQ(h.fp.sound.played.size(), 1u);
    EXPECT_EQ(h.fp.tray.calls.size(), trayCalls + 1);  // the icon is set again
    EXPECT_EQ(h.fp.images.loads.size(), loads + 1);    // and its file loaded anew
    h.fp.advance(990);                                 // 995 after the second change: still held
    EXPECT_EQ(h.under(1)->alpha, 255);
    h.fp.advance(10);
    EXPECT_EQ(h.under(1)->alpha, 125);
}

TEST_F(Watch, StaysUpWhileChangesKeepComing) {
    for (int i = 1; i <= 8; ++i) {
        h.levelFromElsewhere(static_cast<std::uint32_t>(4000 * i));
        h.fp.advance(500);
        EXPECT_TRUE(h.displayShown());
        EXPECT_EQ(h.main().alpha, 125);
        EXPECT_EQ(h.under(2)->alpha, 255);
    }
    h.fp.advance(805);  // 1300 after the poll that saw the last change
    EXPECT_TRUE(h.displayHidden());
}

TEST_F(Watch, AChangeDuringTheFadeUpdatesTheBarButDoesNotStopIt) {
    h.levelFromElsewhere(20000);
    h.fp.advance(5);
    h.fp.advance(1100);  // alpha 100 after the first fade step at 1050, 75 at 1100
    EXPECT_EQ(h.main().alpha, 75);
    h.levelFromElsewhere(60000);
    h.fp.advance(5);
    EXPECT_EQ(h.barWidth(), 15 * 9);
    EXPECT_EQ(h.main().alpha, 75);  // never raised by a change
    h.fp.advance(195);              // 1300 after the first change
    EXPECT_TRUE(h.displayHidden());
    EXPECT_TRUE(h.form().Timer2().enabled());  // counting for the second change
    // 1000 after the second change the invisible fade runs once more, changing nothing seen.
    h.fp.advance(805);
    EXPECT_TRUE(h.form().Timer3().enabled());
    h.fp.advance(50);
    EXPECT_TRUE(h.displayHidden());
    EXPECT_EQ(h.main().alpha, 100);
    h.fp.advance(250);
    EXPECT_FALSE(h.form().Timer3().enabled());
    EXPECT_TRUE(h.displayHidden());
    EXPECT_EQ(alphas(), (std::vector<int> {125, 255, 255}));
}

TEST_F(Watch, AChangeDuringAnInvisibleFadeShowsTheWindowsAtTheFadesAlpha) {
    h.levelFromElsewhere(20000);
    h.fp.advance(5);
    h.fp.advance(1100);
    h.levelFromElsewhere(30000);
    h.fp.advance(5);
    h.fp.advance(1150);  // the second hold ended; the invisible fade is at 50
    h.levelFromElsewhere(40000);
    h.fp.advance(5);
    EXPECT_TRUE(h.displayShown());
    EXPECT_LT(h.main().alpha, 125);
    EXPECT_EQ(h.main().alpha, h.under(2)->alpha);
    h.fp.advance(300);
    EXPECT_TRUE(h.displayHidden());
}

// A device that cannot be read (a sound server not yet up, restarting, an output that went
// away) shows nothing, and the level it has when it is back is not a change: only a change
// after that is shown.
TEST(WatchGap, TheFirstReadingAfterAGapIsTakenAsItStands) {
    for (const bool atStart : {true, false}) {
        SCOPED_TRACE(atStart ? "no device at the start" : "a gap while running");
        Harness h;
        h.fp.mixer.setMaster(20000);
        if (atStart) h.fp.mixer.readResult = MMSYSERR_NODRIVER;
        h.start();
        h.fp.advance(100);
        h.fp.mixer.readResult = MMSYSERR_NODRIVER;
        h.levelFromElsewhere(45000);
        h.fp.advance(300);
        h.fp.mixer.readResult = MMSYSERR_NOERROR;
        h.fp.advance(300);
        EXPECT_TRUE(h.displayHidden());
        EXPECT_TRUE(h.fp.sound.played.empty());
        EXPECT_EQ(h.form().LastLevel, 45000);
        h.levelFromElsewhere(46000);
        h.fp.advance(5);
        EXPECT_TRUE(h.displayShown());
        EXPECT_EQ(h.barWidth(), 11 * 9);
    }
}

TEST_F(Watch, SoundFollowsTheSettingAtEachChunkChange) {
    h.fp.setIni("[general]\nsoundon=0\n");
    h.levelFromElsewhere(8000);  // 2 chunks
    h.fp.advance(5);
    EXPECT_TRUE(h.fp.sound.played.empty());
    EXPECT_EQ(h.form().LastChunks, 2);  // followed even while silent
    h.fp.setIni("[general]\nsoundon=1\n");
    h.levelFromElsewhere(8100);  // same chunk: still no sound
    h.fp.advance(5);
    EXPECT_TRUE(h.fp.sound.played.empty());
    h.levelFromElsewhere(12000);
    h.fp.advance(5);
    EXPECT_EQ(h.fp.sound.played.size(), 1u);
    // A bad value ends the program at the next chunk change, not before.
    h.fp.setIni("[general]\nsoundon=\n");
    h.levelFromElsewhere(12100);
    h.fp.advance(5);
    EXPECT_FALSE(h.fp.program.exited);
    h.levelFromElsewhere(30000);
    h.fp.advance(5);
    EXPECT_TRUE(h.fp.program.exited);
    EXPECT_EQ(h.fp.messageBox.shown.back().caption, "Vexlo");
}

TEST_F(Watch, TheFirstChangeToANonZeroCountSoundsEvenIfTheCountIsTheStartOne) {
    Harness g;
    g.fp.mixer.setMaster(40000);
    g.start();
    g.levelFromElsewhere(40001);
    g.fp.advance(5);
    EXPECT_EQ(g.fp.sound.played.size(), 1u);
}

TEST_F(Watch, AQuietTickTouchesNothingButTheLevel) {
    h.fp.advance(20);
    const auto windowLog = h.fp.windows.log.size();
    const auto reads = h.fp.mixer.reads;
    const auto profileReads = h.fp.profile.readPaths.size();
    const auto loads = h.fp.images.loads.size();
    h.fp.advance(1000);
    EXPECT_EQ(h.fp.mixer.reads - reads, 400u);  // the level and the mute switch per 5 ms
    EXPECT_EQ(h.fp.windows.log.size(), windowLog);
    EXPECT_EQ(h.fp.profile.readPaths.size(), profileReads);
    EXPECT_EQ(h.fp.images.loads.size(), loads);
}

TEST_F(Watch, TrayPictureByChunk) {
    const std::pair<std::uint32_t, const char*> cases[] = {
        {7710, "icon0.ico"},  {15420, "icon0.ico"}, {15421, "icon1.ico"}, {30840, "icon1.ico"},
        {30841, "icon2.ico"}, {50115, "icon2.ico"}, {50116, "icon3.ico"}, {65535, "icon3.ico"}};
    for (const auto& [level, icon] : cases) {
        h.levelFromElsewhere(level);
        h.fp.advance(5);
        EXPECT_EQ(h.trayIcon(), icon) << level;
        EXPECT_STREQ(h.fp.tray.shown->szTip, "Vexlo");
    }
}

TEST_F(Watch, MuteIsShownAsAnEmptyBarWithoutAClick) {
    auto& mute =
        h.fp.mixer.find(MIXERLINE_COMPONENTTYPE_DST_SPEAKERS, MIXERCONTROL_CONTROLTYPE_MUTE)->value;
    h.levelFromElsewhere(40000);  // 10 chunks
    h.fp.advance(3000);
    const std::size_t clicks = h.fp.sound.played.size();
    struct Step {
        std::uint32_t level;
        std::uint32_t muted;
        int bar;  // chunks shown
        const char* icon;
        const char* tip;
        std::size_t clicks;  // more than before the first step
    };
    // Muted, another level while muted (a new chunk count clicks as ever), unmuted, and a
    // skin with its own muted picture.
    for (const Step& step : {Step {40000, 1, 0, "icon0.ico", "Vexlo (muted)", 0},
                             Step {50000, 1, 0, "icon0.ico", "Vexlo (muted)", 1},
                             Step {50000, 0, 12, "icon2.ico", "Vexlo", 1},
                             Step {50000, 1, 0, "iconmute.ico", "Vexlo (muted)", 1}}) {
        if (step.icon == std::string("iconmute.ico"))
            h.fp.images.put(h.fp.skinPath("\\iconmute.ico"), 16, 16);
        mute = step.muted;
        h.levelFromElsewhere(step.level);
        h.fp.advance(5);
        const std::string at = std::to_string(step.level) + (step.muted ? " muted" : "");
        EXPECT_TRUE(h.displayShown()) << at;
        EXPECT_EQ(h.barWidth(), 9 * step.bar) << at;
        EXPECT_EQ(h.under(2)->width, 9 * step.bar + 35) << at;
        EXPECT_EQ(h.trayIcon(), step.icon) << at;
        EXPECT_STREQ(h.fp.tray.shown->szTip, step.tip) << at;
        EXPECT_EQ(h.fp.sound.played.size() - clicks, step.clicks) << at;
        h.fp.advance(3000);
        EXPECT_TRUE(h.displayHidden()) << at;
    }
    // A muted picture that cannot be loaded leaves the lowest level's; the program goes on.
    h.fp.images.remove(h.fp.skinPath("\\iconmute.ico"));
    h.fp.images.putBroken(h.fp.skinPath("\\iconmute.ico"));
    mute = 0;
    h.fp.advance(5);
    mute = 1;
    h.fp.advance(5);
    EXPECT_EQ(h.trayIcon(), "icon0.ico");
    EXPECT_FALSE(h.fp.program.exited);

    // Started muted: the tray says so from the start, and nothing is shown until a change.
    Harness q;
    q.fp.mixer.find(MIXERLINE_COMPONENTTYPE_DST_SPEAKERS, MIXERCONTROL_CONTROLTYPE_MUTE)->value = 1;
    q.fp.mixer.setMaster(65535);
    q.start();
    q.fp.advance(100);
    EXPECT_EQ(q.trayIcon(), "icon0.ico");
    EXPECT_STREQ(q.fp.tray.shown->szTip, "Vexlo (muted)");
    EXPECT_TRUE(q.displayHidden());
    // A device without a mute switch is never muted, and its level is followed as ever.
    Harness r;
    r.fp.mixer.removeControl(MIXERLINE_COMPONENTTYPE_DST_SPEAKERS, MIXERCONTROL_CONTROLTYPE_MUTE);
    r.start();
    r.levelFromElsewhere(65535);
    r.fp.advance(5);
    EXPECT_TRUE(r.displayShown());
    EXPECT_EQ(r.barWidth(), 9 * 16);
}

TEST_F(Watch, MissingIconFileEndsTheProgramWhenFirstNeeded) {
    h.fp.images.remove(h.fp.skinPath("\\icon2.ico"));
    h.levelFromElsewhere(10000);  // icon0
    h.fp.advance(5);
    EXPECT_FALSE(h.fp.program.exited);
    h.levelFromElsewhere(40000);  // icon2
    h.fp.advance(5);
    EXPECT_TRUE(h.fp.program.exited);
    EXPECT_NE(h.lastBox().find("icon2.ico"), std::string::npos);
}

}  // namespace
}  // namespace vexlo::testing
