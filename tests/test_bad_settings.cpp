// Every malformed settings file of the shared table, in both modes, on the fake platform: the
// program either runs normally or ends with the error box; the file is never damaged.
#include "harness.h"
#include "platform/common/ini_document.h"
#include "settings_table.h"

namespace vexlo::testing {
namespace {

const std::vector<SettingsCase>& Cases() {
    static const auto cases = LoadSettingsCases(VEXLO_TEST_DATA_DIR "/bad_settings.tsv");
    return cases;
}

void Prepare(Harness& h, const SettingsCase& c) {
    if (c.content) h.fp.setIni(*c.content);
}

void ExpectFatal(Harness& h, const std::string& name) {
    EXPECT_TRUE(h.fp.program.exited) << name;
    EXPECT_EQ(h.fp.program.exitCode, 1) << name;
    ASSERT_EQ(h.fp.messageBox.shown.size(), 1u) << name;
    EXPECT_EQ(h.fp.messageBox.shown[0].caption, "Vexlo") << name;
}

TEST(BadSettings, TableIsComplete) {
    EXPECT_GE(Cases().size(), 30u);
    EXPECT_EQ(Cases()[0].content, std::nullopt);
    bool big = false;
    for (const auto& c : Cases()) big = big || (c.content && c.content->size() >= 10'000'000);
    EXPECT_TRUE(big);
}

TEST(BadSettings, FullMode) {
    for (const auto& c : Cases()) {
        Harness h;
        Prepare(h, c);
        h.start();
        if (!c.fullRuns) {
            ExpectFatal(h, c.name);
            continue;
        }
        ASSERT_FALSE(h.fp.program.exited) << c.name << ": " << h.lastBox();
        // A change, the display and its fade, then quit from the menu (or the app's own
        // entry point when the tray icon is off).
        h.levelFromElsewhere(30000);
        h.fp.advance(1400);
        EXPECT_TRUE(h.displayHidden()) << c.name;
        h.app->onMenuCommand(kMenuQuit);
        EXPECT_TRUE(h.fp.program.exited) << c.name;
        EXPECT_EQ(h.fp.program.exitCode, 0) << c.name;
        EXPECT_TRUE(h.fp.messageBox.shown.empty()) << c.name << ": " << h.lastBox();
        // Full mode never writes the file.
        EXPECT_EQ(h.fp.ini(), c.content) << c.name;
    }
}

TEST(BadSettings, ControlModeSavesWithoutDamage) {
    for (const auto& c : Cases()) {
        Harness h;
        Prepare(h, c);
        h.start("/control");
        if (!c.controlRuns) {
            ExpectFatal(h, c.name);
            EXPECT_EQ(h.fp.ini(), c.content) << c.name;
            continue;
        }
        ASSERT_FALSE(h.fp.program.exited) << c.name << ": " << h.lastBox();
        h.fp.windows.moveByUser(h.control()->handle, 21, 34);
        h.fp.mouse(h.control()->handle, WM_LBUTTONDBLCLK, MK_LBUTTON, 1, 1);
        EXPECT_EQ(h.fp.program.exitCode, 0) << c.name;
        const std::string after = h.fp.ini().value_or("");
        EXPECT_EQ(ini::Lookup(after, "pos", "x"), "315") << c.name;
        EXPECT_EQ(ini::Lookup(after, "pos", "y"), "510") << c.name;
        // Every other setting reads as before.
        const std::string before = c.content.value_or("");
        for (const char* key : {"ontop", "trayicon", "hotkeys", "soundon"}) {
            EXPECT_EQ(ini::Lookup(after, "general", key), ini::Lookup(before, "general", key))
                << c.name << " " << key;
        }
        EXPECT_EQ(ini::Lookup(after, "mixer", "pathtomixer"),
                  ini::Lookup(before, "mixer", "pathtomixer"))
            << c.name;
    }
}

TEST(BadSettings, AnUnwritableFolderIsSilent) {
    // A file the platform cannot read looks like no file: every default applies.
    Harness h;
    h.start("/control");
    ASSERT_FALSE(h.fp.program.exited);
    h.fp.profile.writable = false;  // a read-only folder
    h.fp.mouse(h.control()->handle, WM_LBUTTONDBLCLK, MK_LBUTTON, 1, 1);
    EXPECT_EQ(h.fp.program.exitCode, 0);
    EXPECT_TRUE(h.fp.messageBox.shown.empty());
    EXPECT_FALSE(h.fp.ini());
}

}  // namespace
}  // namespace vexlo::testing
