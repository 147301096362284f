// The hotkeys' window procedure and the level steps they make.
#include "controller/skin_command.h"
#include "controller/volume_command.h"
#include "harness.h"
#include "hotkeys/key_chord.h"

namespace vexlo::testing {
namespace {

struct Stepping : ::testing::Test {
    Harness h;
    void startWithMaximum(std::int32_t max, std::uint32_t level) {
        h.fp.mixer.find(MIXERLINE_COMPONENTTYPE_DST_SPEAKERS, MIXERCONTROL_CONTROLTYPE_VOLUME)
            ->max = max;
        h.fp.mixer.setMaster(level);
        h.start();
    }
    std::size_t writes() const { return h.fp.mixer.writes.size(); }
    bool up() { return h.fp.hotkeys.press(MOD_WIN, VK_OEM_PLUS); }
    bool down() { return h.fp.hotkeys.press(MOD_WIN, VK_OEM_MINUS); }
};

TEST_F(Stepping, UpFromZeroToTheTopAndBeyond) {
    startWithMaximum(65535, 0);
    for (int i = 1; i <= 17; ++i) {
        ASSERT_TRUE(up());
        EXPECT_EQ(h.fp.mixer.master(), static_cast<std::uint32_t>(3855 * i));
    }
    up();  // no upper bound in the program: the device decides
    EXPECT_EQ(h.fp.mixer.writes.back().second, 69390u);
}

TEST_F(Stepping, DownStopsAtOneStep) {
    startWithMaximum(65535, 65535);
    std::vector<std::uint32_t> seen;
    for (int i = 0; i < 20; ++i) {
        down();
        seen.push_back(h.fp.mixer.master());
    }
    EXPECT_EQ(seen[0], 61680u);
    EXPECT_EQ(seen[15], 3855u);
    EXPECT_EQ(seen[19], 3855u);
    EXPECT_EQ(writes(), 16u);  // nothing written at or below one step
}

TEST_F(Stepping, EdgeLevels) {
    startWithMaximum(65535, 3856);
    down();
    EXPECT_EQ(h.fp.mixer.master(), 1u);
    down();  // 1 is below one step: nothing
    EXPECT_EQ(writes(), 1u);
    h.fp.mixer.setMaster(0);
    down();
    EXPECT_EQ(writes(), 1u);
    up();
    EXPECT_EQ(h.fp.mixer.master(), 3855u);
}

TEST_F(Stepping, SmallRangesRoundOnlyTheResult) {
    startWithMaximum(100, 0);
    up();
    EXPECT_EQ(h.fp.mixer.master(), 6u);  // 5.88 -> 6
    up();
    EXPECT_EQ(h.fp.mixer.master(), 12u);  // 11.88 -> 12
    h.fp.mixer.setMaster(6);
    down();
    EXPECT_EQ(h.fp.mixer.master(), 0u);  // 0.12 -> 0
    h.fp.mixer.setMaster(5);
    down();
    EXPECT_EQ(writes(), 3u);
}

TEST_F(Stepping, HugeRangesDoNotWrap) {
    startWithMaximum(INT32_MAX, static_cast<std::uint32_t>(INT32_MAX - 10));
    up();
    EXPECT_EQ(h.fp.mixer.writes.back().second, static_cast<std::uint32_t>(INT32_MAX));
}

TEST_F(Stepping, APressShowsTheNewLevelAtTheNextPoll) {
    startWithMaximum(65535, 0);
    up();
    EXPECT_TRUE(h.displayHidden());
    h.fp.advance(5);
    EXPECT_TRUE(h.displayShown());
    EXPECT_EQ(h.barWidth(), 0);  // 3855 is still 0 chunks
    EXPECT_EQ(h.under(2)->width, 35);
    up();
    h.fp.advance(5);
    EXPECT_EQ(h.barWidth(), 9);
    EXPECT_EQ(h.under(2)->width, 44);
    EXPECT_EQ(h.fp.sound.played.size(), 1u);
}

// A press that changes nothing is answered at once with the display as it stands, held and
// faded as after a change, without the click; one that changes the level is left to the poll.
TEST(AnswerToEveryPress, AStepThatChangesNothingShowsTheLevelAsItStands) {
    enum class Way { Key, Wheel, Command };
    struct Row {
        const char* what;
        Way way;
        bool upwards;
        std::uint32_t level;
        bool muted;
        bool answered;
        int bar;
    };
    for (const Row& row : {
             Row {"up at the top", Way::Key, true, 65535, false, true, 144},
             Row {"a notch up at the top", Way::Wheel, true, 65535, false, true, 144},
             Row {"down at the bottom", Way::Key, false, 3855, false, true, 0},
             Row {"down from nothing", Way::Wheel, false, 0, false, true, 0},
             Row {"down while muted at the bottom", Way::Key, false, 2000, true, true, 0},
             Row {"the command up at the top", Way::Command, true, 65535, false, true, 144},
             Row {"the command down at the bottom", Way::Command, false, 3000, false, true, 0},
             Row {"the command up while muted unmutes", Way::Command, true, 65535, true, false,
                  144},
             Row {"down while muted above it steps", Way::Key, false, 30000, true, false, 0},
             Row {"up while muted unmutes", Way::Key, true, 65535, true, false, 144},
             Row {"up below the top steps", Way::Key, true, 60000, false, false, 144},
         }) {
        SCOPED_TRACE(row.what);
        Harness h;
        h.fp.mixer.writeMode = fake::FakeMixer::WriteMode::Clamp;
        h.fp.mixer.find(MIXERLINE_COMPONENTTYPE_DST_SPEAKERS, MIXERCONTROL_CONTROLTYPE_MUTE)
            ->value = row.muted ? 1 : 0;
        h.fp.mixer.setMaster(row.level);
        h.start();
        if (row.way == Way::Key) {
            ASSERT_TRUE(h.fp.hotkeys.press(MOD_WIN, row.upwards ? VK_OEM_PLUS : VK_OEM_MINUS));
        } else if (row.way == Way::Wheel) {
            h.fp.trayWheel(row.upwards ? 120 : -120);
        } else {
            // Another process steps the same device and tells the running program when
            // nothing changed.
            const VolumeCommandResult result =
                RunVolumeCommand(row.upwards ? VolumeCommand::Up : VolumeCommand::Down, h.fp.mixer,
                                 h.fp.waveIn, h.fp.messageBox, h.fp.texts);
            ASSERT_TRUE(result.ok) << result.error;
            EXPECT_EQ(result.unchanged, row.answered);
            if (result.unchanged) h.app->onLevelUnchanged();
        }
        EXPECT_EQ(h.displayShown(), row.answered);
        h.fp.advance(5);
        ASSERT_TRUE(h.displayShown());
        EXPECT_EQ(h.barWidth(), row.bar);
        if (row.answered) {
            EXPECT_EQ(h.fp.mixer.master(), row.level);
            EXPECT_TRUE(h.fp.sound.played.empty());
            EXPECT_EQ(h.main().alpha, 125);
            EXPECT_EQ(h.under(2)->width, 35 + row.bar);
            // Pressed again while shown, the hold starts afresh.
            h.fp.advance(800);
            h.fp.hotkeys.press(MOD_WIN, row.upwards ? VK_OEM_PLUS : VK_OEM_MINUS);
            h.fp.advance(900);
            EXPECT_TRUE(h.displayShown());
            EXPECT_EQ(h.under(1)->alpha, 255);
        }
        h.fp.advance(1400);
        EXPECT_TRUE(h.displayHidden());
        EXPECT_TRUE(h.fp.sound.played.size() <= (row.answered ? 0u : 1u));
    }
}

TEST_F(Stepping, ARefusingDeviceKeepsItsLevel) {
    startWithMaximum(65535, 65535);
    h.fp.mixer.writeMode = fake::FakeMixer::WriteMode::Refuse;
    up();
    h.fp.advance(5);
    EXPECT_EQ(h.fp.mixer.master(), 65535u);
    EXPECT_TRUE(h.displayShown());  // the press is answered with the level as it stands
    EXPECT_TRUE(h.fp.sound.played.empty());
    h.fp.mixer.writeMode = fake::FakeMixer::WriteMode::Clamp;
    up();
    EXPECT_EQ(h.fp.mixer.master(), 65535u);
}

TEST_F(Stepping, OtherMessagesPassThroughUnchangedAndUnknownIdsDoNothing) {
    startWithMaximum(65535, 10000);
    const NativeHandle main = h.main().handle;
    EXPECT_EQ(h.fp.hotkeys.sendToWindow(main, 0x0010, 0x1234, -5), 77);
    ASSERT_EQ(h.fp.hotkeys.passedOn.size(), 1u);
    const auto& call = h.fp.hotkeys.passedOn[0];
    EXPECT_EQ(call.procedure, fake::FakeHotkeys::OwnProc(main));
    EXPECT_EQ(call.window, main);
    EXPECT_EQ(call.message, 0x0010u);
    EXPECT_EQ(call.wParam, 0x1234u);
    EXPECT_EQ(call.lParam, -5);
    EXPECT_EQ(h.fp.hotkeys.sendToWindow(main, WM_HOTKEY, 999, 0), 0);
    EXPECT_EQ(h.fp.hotkeys.sendToWindow(main, WM_HOTKEY, HOTKEY_UP, 12345), 0);
    EXPECT_EQ(h.fp.hotkeys.passedOn.size(), 1u);  // hotkeys are not handed on
    EXPECT_EQ(writes(), 1u);
}

TEST_F(Stepping, ATakenCombinationLeavesTheOtherWorking) {
    h.fp.hotkeys.takenByOthers = {HOTKEY_UP};
    startWithMaximum(65535, 30000);
    EXPECT_FALSE(up());
    EXPECT_TRUE(down());
    EXPECT_EQ(h.fp.mixer.master(), 26145u);
    EXPECT_EQ(h.fp.hotkeys.procOf(h.main().handle), fake::FakeHotkeys::kCoreProc);
    // Said once, at the icon, naming the combination; a later report (another cause) is not
    // shown again in the same run.
    ASSERT_EQ(h.fp.tray.balloons.size(), 1u);
    const auto& balloon = h.fp.tray.balloons[0];
    EXPECT_EQ(balloon.hWnd, h.main().element("Tray")->handle());
    EXPECT_EQ(balloon.title, "Vexlo");
    EXPECT_EQ(balloon.text,
              "Vexlo cannot use Windows + plus: another program holds it; choose other keys with "
              "the settings hotkeyup and hotkeydown in core.ini.");
    h.app->onHotkeysUnavailable("the desktop refused them");
    EXPECT_EQ(h.fp.tray.balloons.size(), 1u);
}

TEST_F(Stepping, TakenCombinationsAreToldAtTheIconOnlyWhenThereIsOne) {
    h.fp.hotkeys.takenByOthers = {HOTKEY_UP, HOTKEY_DOWN};
    h.fp.setIni("[general]\ntrayicon=0\n");
    startWithMaximum(65535, 30000);
    EXPECT_TRUE(h.fp.tray.balloons.empty());

    Harness withIcon;
    withIcon.fp.hotkeys.takenByOthers = {HOTKEY_UP, HOTKEY_DOWN};
    withIcon.start();
    ASSERT_EQ(withIcon.fp.tray.balloons.size(), 1u);
    EXPECT_EQ(withIcon.fp.tray.balloons[0].text,
              "Vexlo cannot use Windows + plus and Windows + minus: another program holds them; "
              "choose other keys with the settings hotkeyup and hotkeydown in core.ini.");
    // A platform that finds out later (the desktop declined them) names both, through the
    // event path; only once.
    Harness later;
    later.start();
    later.app->onHotkeysUnavailable("the desktop's shortcut dialog was declined");
    later.app->onHotkeysUnavailable("the desktop's shortcut dialog was declined");
    ASSERT_EQ(later.fp.tray.balloons.size(), 1u);
    EXPECT_EQ(later.fp.tray.balloons[0].text,
              "Vexlo cannot use Windows + plus and Windows + minus: the desktop's shortcut dialog "
              "was declined.");
    // Translated, with the places in the language's own order.
    Harness german;
    german.fp.hotkeys.takenByOthers = {HOTKEY_UP, HOTKEY_DOWN};
    german.fp.texts.translations = {
        {" and ", " und "},
        {"plus", "Plus"},
        {"minus", "Minus"},
        {"Vexlo cannot use {keys}: {reason}.", "{keys}: für Vexlo nicht nutzbar ({reason})."},
        {"another program holds them; choose other keys with the settings hotkeyup and "
         "hotkeydown in core.ini",
         "ein anderes Programm belegt sie"}};
    german.start();
    ASSERT_EQ(german.fp.tray.balloons.size(), 1u);
    EXPECT_EQ(german.fp.tray.balloons[0].text,
              "Windows + Plus und Windows + Minus: für Vexlo nicht nutzbar (ein anderes Programm "
              "belegt sie).");
}

TEST(KeyChords, WrittenAsTheDesktopsWriteThem) {
    struct Row {
        const char* text;
        std::uint32_t modifiers;  // 0 with key 0: not readable
        std::uint32_t key;
    };
    for (const Row& row : {
             Row {"Ctrl+Alt+Up", MOD_CONTROL | MOD_ALT, VK_UP},
             Row {" super + = ", MOD_WIN, VK_OEM_PLUS},
             Row {"Win+Minus", MOD_WIN, VK_OEM_MINUS},
             Row {"META+-", MOD_WIN, VK_OEM_MINUS},
             Row {"Shift+Ctrl+a", MOD_SHIFT | MOD_CONTROL, 'A'},
             Row {"Alt+9", MOD_ALT, '9'},
             Row {"control+pagedown", MOD_CONTROL, VK_NEXT},
             Row {"Ctrl+PageUp", MOD_CONTROL, VK_PRIOR},
             Row {"Alt+Equal", MOD_ALT, VK_OEM_PLUS},
             Row {"Ctrl++", MOD_CONTROL, VK_OEM_PLUS},
             Row {"Ctrl+Plus", MOD_CONTROL, VK_OEM_PLUS},
             Row {"F24", 0, VK_F1 + 23},
             Row {"shift+f1", MOD_SHIFT, VK_F1},
             Row {"KP_Add", 0, VK_ADD},
             Row {"Super+kp_subtract", MOD_WIN, VK_SUBTRACT},
             Row {"Ctrl+Alt+Down", MOD_CONTROL | MOD_ALT, VK_DOWN},
             // Not readable: garbage, nothing, modifiers alone, two keys, a key from typing.
             Row {"", 0, 0},
             Row {"   ", 0, 0},
             Row {"Ctrl+Foo", 0, 0},
             Row {"Hyper+Up", 0, 0},
             Row {"Ctrl+Alt", 0, 0},
             Row {"Ctrl+A+B", 0, 0},
             Row {"Ctrl++A", 0, 0},
             Row {"+Up", 0, 0},
             Row {"F25", 0, 0},
             Row {"F0", 0, 0},
             Row {"A", 0, 0},
             Row {"Shift+Up", 0, 0},
             Row {"Ctrl+\xc3\xa4", 0, 0},
         }) {
        KeyChord chord;
        std::string problem;
        const bool read = ParseKeyChord(row.text, chord, problem);
        EXPECT_EQ(read, row.key != 0) << row.text << ": " << problem;
        if (row.key == 0) {
            EXPECT_FALSE(problem.empty()) << row.text;
            continue;
        }
        EXPECT_EQ(chord.modifiers, row.modifiers) << row.text;
        EXPECT_EQ(chord.virtualKey, row.key) << row.text;
    }
}

TEST(KeyChords, ChosenKeysAreRegisteredAndBadOnesFallBackToTheUsual) {
    struct Row {
        const char* ini;
        KeyChord up;
        KeyChord down;
        const char* told;  // the balloon, or "" for none
    };
    const KeyChord usualUp {MOD_WIN, VK_OEM_PLUS}, usualDown {MOD_WIN, VK_OEM_MINUS};
    for (const Row& row : {
             Row {"", usualUp, usualDown, ""},
             Row {"hotkeyup=\nhotkeydown= \n", usualUp, usualDown, ""},
             Row {"hotkeyup=Ctrl+Alt+Up\nhotkeydown=Ctrl+Alt+Down\n",
                  {MOD_CONTROL | MOD_ALT, VK_UP},
                  {MOD_CONTROL | MOD_ALT, VK_DOWN},
                  ""},
             Row {"hotkeyup=Ctrl+Foo\nhotkeydown=KP_Subtract\n",
                  usualUp,
                  {0, VK_SUBTRACT},
                  "The setting hotkeyup=Ctrl+Foo in core.ini is not a key combination Vexlo can "
                  "use (\"Foo\" is neither a key nor Super, Ctrl, Alt or Shift); it uses Windows "
                  "+ plus instead."},
             Row {"hotkeyup=Super+-\n",
                  {MOD_WIN, VK_OEM_MINUS},
                  usualDown,
                  "The settings hotkeyup and hotkeydown in core.ini both name Windows + minus; it "
                  "steps the volume up, and no key steps it down."},
         }) {
        Harness h;
        h.fp.setIni(std::string("[general]\n") + row.ini);
        h.fp.mixer.setMaster(30000);
        h.start();
        const std::string at = row.ini;
        EXPECT_TRUE(h.fp.hotkeys.press(row.up.modifiers, row.up.virtualKey)) << at;
        EXPECT_EQ(h.fp.mixer.master(), 33855u) << at;
        if (row.up != row.down) {
            EXPECT_TRUE(h.fp.hotkeys.press(row.down.modifiers, row.down.virtualKey)) << at;
            EXPECT_EQ(h.fp.mixer.master(), 30000u) << at;
        }
        // The usual keys no longer step once others are chosen.
        if (row.up != usualUp) { EXPECT_FALSE(h.fp.hotkeys.press(MOD_WIN, VK_OEM_PLUS)) << at; }
        EXPECT_EQ(h.fp.tray.balloons.empty() ? "" : h.fp.tray.balloons[0].text, row.told) << at;
        EXPECT_LE(h.fp.tray.balloons.size(), 1u) << at;
        // The file is read, never written.
        EXPECT_EQ(h.fp.profile.writes, 0) << at;
    }
    // A chosen combination another program holds is told by its name, with the way out, in
    // the same message as a setting that could not be read.
    Harness taken;
    taken.fp.hotkeys.takenByOthers = {HOTKEY_DOWN};
    taken.fp.setIni("[general]\nhotkeyup=Ctrl+Alt+\nhotkeydown=Ctrl+Alt+PageDown\n");
    taken.start();
    ASSERT_EQ(taken.fp.tray.balloons.size(), 1u);
    EXPECT_EQ(taken.fp.tray.balloons[0].text,
              "The setting hotkeyup=Ctrl+Alt+ in core.ini is not a key combination Vexlo can use "
              "(a \"+\" with nothing on one side); it uses Windows + plus instead. Vexlo cannot "
              "use Ctrl + Alt + PageDown: another program holds it; choose other keys with the "
              "settings hotkeyup and hotkeydown in core.ini.");
    // A key the keyboard lacks (F13 on most layouts) is told as such, not as held by another
    // program, beside one that is; the modifiers go by the keyboard's words.
    Harness lacking;
    lacking.fp.hotkeys.missingKeys = {VK_F1 + 12};
    lacking.fp.hotkeys.takenByOthers = {HOTKEY_DOWN};
    lacking.fp.texts.translations = {
        {"Ctrl", "Strg"}, {"Shift", "Umschalt"}, {"key {number}", "Taste {number}"}};
    lacking.fp.setIni("[general]\nhotkeyup=Ctrl+Shift+F13\nhotkeydown=Ctrl+Alt+PageDown\n");
    lacking.start();
    ASSERT_EQ(lacking.fp.tray.balloons.size(), 1u);
    EXPECT_EQ(lacking.fp.tray.balloons[0].text,
              "Vexlo cannot use Strg + Alt + PageDown: another program holds it; choose other "
              "keys with the settings hotkeyup and hotkeydown in core.ini. Vexlo cannot use Strg "
              "+ Umschalt + F13: the keyboard has no such key; choose other keys with the "
              "settings hotkeyup and hotkeydown in core.ini.");
    EXPECT_EQ(lacking.fp.hotkeys.combinationName(MOD_CONTROL, 0x07), "Strg + Taste 7");
}

TEST_F(Stepping, TheWheelOverTheTrayIconStepsOncePerWholeNotch) {
    // From 30000 of 65535 (one step is 3855): the deltas turned, in order, and the level after
    // each.
    struct Row {
        const char* what;
        std::vector<std::pair<int, bool>> deltas;  // delta, vertical
        std::vector<std::uint32_t> levels;
    };
    const std::vector<Row> rows = {
        {"a notch up, a notch down", {{120, true}, {-120, true}}, {33855, 30000}},
        {"a touchpad's small deltas add up; the rest waits for the next",
         {{40, true}, {40, true}, {50, true}, {60, true}, {50, true}},
         {30000, 30000, 33855, 33855, 37710}},
        {"two notches at once", {{240, true}, {-360, true}}, {37710, 26145}},
        {"turning back drops what was left of the other way",
         {{100, true}, {-100, true}, {-20, true}, {100, true}},
         {30000, 30000, 26145, 26145}},
        {"horizontal scrolling does nothing and keeps what was gathered",
         {{120, false}, {-240, false}, {60, true}, {120, false}, {60, true}},
         {30000, 30000, 30000, 30000, 33855}},
        // Any client of the session bus may call with any number: seventeen steps cross the
        // whole range, so that is all it makes (this device takes levels above its maximum),
        // at once, without overflow.
        {"an absurd delta is seventeen steps",
         {{INT32_MAX, true}, {INT32_MAX, true}, {INT32_MIN, true}},
         {95535, 161070, 95535}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        Harness run;
        run.fp.mixer.setMaster(30000);
        run.start();
        for (std::size_t i = 0; i < row.deltas.size(); ++i) {
            run.fp.trayWheel(row.deltas[i].first, row.deltas[i].second);
            EXPECT_EQ(run.fp.mixer.master(), row.levels[i]) << "after turn " << i;
        }
    }

    // The display follows at the next poll, as for the hotkeys.
    startWithMaximum(65535, 0);
    h.fp.trayWheel(120);
    h.fp.trayWheel(120);
    EXPECT_TRUE(h.displayHidden());
    h.fp.advance(5);
    EXPECT_TRUE(h.displayShown());
    EXPECT_EQ(h.barWidth(), 9);
    EXPECT_EQ(h.trayIcon(), "icon0.ico");

    // Without a tray icon there is nothing to turn the wheel over.
    Harness off;
    off.fp.setIni("[general]\ntrayicon=0\n");
    off.fp.mixer.setMaster(30000);
    off.start();
    off.app->onTrayWheel(off.main().element("Tray")->handle(), 120, true);
    EXPECT_TRUE(off.fp.mixer.writes.empty());
}

TEST_F(Stepping, NoHotkeysWhenSwitchedOff) {
    h.fp.setIni("[general]\nhotkeys=2\n");
    startWithMaximum(65535, 30000);
    EXPECT_FALSE(up());
    EXPECT_EQ(writes(), 0u);
}

// The command-line steps: the same level as a key press from the same start, with no window,
// and a failure whenever the device could not be read or set.
TEST(MutedStepping, UpUnmutesAndDownLeavesTheMute) {
    enum class Way { Key, Wheel, Command };
    struct Row {
        Way way;
        bool upwards;
        std::uint32_t level;
        std::uint32_t levelAfter;
        std::uint32_t mutedAfter;
    };
    // Up comes back at the level that was set, stepping only from within the first step;
    // down steps the level and stays muted.
    for (const Row& row :
         {Row {Way::Key, true, 30000, 30000, 0}, Row {Way::Wheel, true, 30000, 30000, 0},
          Row {Way::Command, true, 30000, 30000, 0}, Row {Way::Key, true, 2000, 5855, 0},
          Row {Way::Command, true, 0, 3855, 0}, Row {Way::Key, false, 30000, 26145, 1},
          Row {Way::Command, false, 30000, 26145, 1}}) {
        Harness h;
        auto& mute =
            h.fp.mixer.find(MIXERLINE_COMPONENTTYPE_DST_SPEAKERS, MIXERCONTROL_CONTROLTYPE_MUTE)
                ->value;
        mute = 1;
        h.fp.mixer.setMaster(row.level);
        const std::string at = std::to_string(static_cast<int>(row.way)) +
                               (row.upwards ? " up from " : " down from ") +
                               std::to_string(row.level);
        if (row.way == Way::Command) {
            EXPECT_TRUE(RunVolumeCommand(row.upwards ? VolumeCommand::Up : VolumeCommand::Down,
                                         h.fp.mixer, h.fp.waveIn, h.fp.messageBox, h.fp.texts)
                            .ok)
                << at;
        } else {
            h.start();
            if (row.way == Way::Wheel) {
                h.form().Tray_Wheel(row.upwards ? 120 : -120, true);
            } else {
                h.fp.hotkeys.press(MOD_WIN, row.upwards ? VK_OEM_PLUS : VK_OEM_MINUS);
            }
        }
        EXPECT_EQ(h.fp.mixer.master(), row.levelAfter) << at;
        EXPECT_EQ(mute, row.mutedAfter) << at;
    }

    // The mute command switches it over both ways; a device without a switch says so.
    fake::FakePlatform fp;
    auto& mute =
        fp.mixer.find(MIXERLINE_COMPONENTTYPE_DST_SPEAKERS, MIXERCONTROL_CONTROLTYPE_MUTE)->value;
    fp.mixer.setMaster(30000);
    for (const std::uint32_t expected : {1u, 0u}) {
        const VolumeCommandResult result =
            RunVolumeCommand(VolumeCommand::Mute, fp.mixer, fp.waveIn, fp.messageBox, fp.texts);
        EXPECT_TRUE(result.ok) << result.error;
        EXPECT_EQ(result.muted, expected == 1);
        EXPECT_EQ(mute, expected);
        EXPECT_EQ(fp.mixer.master(), 30000u);
        EXPECT_EQ(fp.mixer.openHandles, 0);
    }
    fp.mixer.removeControl(MIXERLINE_COMPONENTTYPE_DST_SPEAKERS, MIXERCONTROL_CONTROLTYPE_MUTE);
    EXPECT_EQ(
        RunVolumeCommand(VolumeCommand::Mute, fp.mixer, fp.waveIn, fp.messageBox, fp.texts).error,
        "the master volume has no mute switch");
    fp.mixer.readResult = MMSYSERR_NODRIVER;
    EXPECT_FALSE(
        RunVolumeCommand(VolumeCommand::Mute, fp.mixer, fp.waveIn, fp.messageBox, fp.texts).ok);
}

TEST_F(Stepping, TheVolumeCommandsStepAsTheKeysDo) {
    EXPECT_EQ(ReadVolumeCommand(" --volume-up "), VolumeCommand::Up);
    EXPECT_EQ(ReadVolumeCommand("--volume-down"), VolumeCommand::Down);
    EXPECT_EQ(ReadVolumeCommand("--volume-mute"), VolumeCommand::Mute);
    for (const char* other : {"", "/control", "--volume-up --volume-down", "--volume"})
        EXPECT_EQ(ReadVolumeCommand(other), VolumeCommand::None) << other;
    // The skin author's switches, as Windows hands over the text: a folder with spaces stands
    // in quotes; anything else is no skin request and runs the program as before.
    struct SkinRow {
        const char* line;
        SkinCommand command;
        const char* folder;
        bool malformed;
    };
    for (const SkinRow& row :
         {SkinRow {"/checkskin C:\\skins\\glass", SkinCommand::Check, "C:\\skins\\glass", false},
          SkinRow {" /previewskin  \"C:\\My Skins\\x\" ", SkinCommand::Preview, "C:\\My Skins\\x",
                   false},
          SkinRow {"--check-skin", SkinCommand::Check, "", true},
          SkinRow {"/checkskin \"a\" \"b\"", SkinCommand::Check, "", true},
          SkinRow {"/checkskins x", SkinCommand::None, "", false},
          SkinRow {"/control", SkinCommand::None, "", false}}) {
        const SkinRequest request = ReadSkinRequest(row.line);
        EXPECT_EQ(request.command, row.command) << row.line;
        EXPECT_EQ(request.folder, row.folder) << row.line;
        EXPECT_EQ(!request.error.empty(), row.malformed) << row.line;
    }

    struct Row {
        std::int32_t max;
        std::uint32_t level;
    };
    for (const Row row : {Row {65535, 0}, Row {65535, 30000}, Row {65535, 65535}, Row {65535, 3856},
                          Row {65535, 3855}, Row {100, 6}, Row {65536, 65000}}) {
        for (const bool upwards : {true, false}) {
            Harness keys;
            keys.fp.mixer
                .find(MIXERLINE_COMPONENTTYPE_DST_SPEAKERS, MIXERCONTROL_CONTROLTYPE_VOLUME)
                ->max = row.max;
            keys.fp.mixer.writeMode = fake::FakeMixer::WriteMode::Clamp;
            keys.fp.mixer.setMaster(row.level);
            keys.start();
            keys.fp.hotkeys.press(MOD_WIN, upwards ? VK_OEM_PLUS : VK_OEM_MINUS);

            fake::FakePlatform alone;
            alone.mixer.find(MIXERLINE_COMPONENTTYPE_DST_SPEAKERS, MIXERCONTROL_CONTROLTYPE_VOLUME)
                ->max = row.max;
            alone.mixer.writeMode = fake::FakeMixer::WriteMode::Clamp;
            alone.mixer.setMaster(row.level);
            const VolumeCommandResult result =
                RunVolumeCommand(upwards ? VolumeCommand::Up : VolumeCommand::Down, alone.mixer,
                                 alone.waveIn, alone.messageBox, alone.texts);
            const std::string at = std::to_string(row.max) + "/" + std::to_string(row.level);
            EXPECT_TRUE(result.ok) << at << " " << result.error;
            EXPECT_EQ(alone.mixer.master(), keys.fp.mixer.master()) << at;
            EXPECT_EQ(alone.mixer.writes.size(), keys.fp.mixer.writes.size()) << at;
            EXPECT_EQ(alone.mixer.openHandles, 0) << at;
        }
    }

    fake::FakePlatform down;
    down.mixer.readResult = MMSYSERR_NODRIVER;  // no sound server
    EXPECT_FALSE(
        RunVolumeCommand(VolumeCommand::Up, down.mixer, down.waveIn, down.messageBox, down.texts)
            .ok);
    EXPECT_TRUE(down.mixer.writes.empty());
    fake::FakePlatform refusing;
    refusing.mixer.setMaster(65535);
    refusing.mixer.writeMode = fake::FakeMixer::WriteMode::Refuse;
    EXPECT_FALSE(RunVolumeCommand(VolumeCommand::Up, refusing.mixer, refusing.waveIn,
                                  refusing.messageBox, refusing.texts)
                     .ok);
    fake::FakePlatform closed;
    closed.mixer.openResult = MMSYSERR_NODRIVER;
    EXPECT_FALSE(RunVolumeCommand(VolumeCommand::Down, closed.mixer, closed.waveIn,
                                  closed.messageBox, closed.texts)
                     .ok);
}

}  // namespace
}  // namespace vexlo::testing
