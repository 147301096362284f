// The settings file: the INI rules, the readings callers make of values, and the writer that
// must never lose the file.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>

#include "controller/errors.h"
#include "harness.h"
#include "platform/common/file_profile.h"
#include "platform/common/ini_document.h"
#include "settings/ReadWrite.h"

namespace vexlo::testing {
namespace {

TEST(IniDocument, LooksUpCaseInsensitivelyAndTrims) {
    const std::string text =
        "; comment\r\n[General]\r\n  OnTop =  0  \r\nsoundon=\r\n[mixer]\r\npathtomixer=\"C:\\a "
        "b\\m.exe\" /x\r\n";
    EXPECT_EQ(ini::Lookup(text, "general", "ontop"), "0");
    EXPECT_EQ(ini::Lookup(text, "GENERAL", "SoundOn"), "");  // present but empty
    EXPECT_EQ(ini::Lookup(text, "general", "hotkeys"), std::nullopt);
    EXPECT_EQ(ini::Lookup(text, "pos", "x"), std::nullopt);
    // Quotes are removed only when they enclose the whole value.
    EXPECT_EQ(ini::Lookup(text, "mixer", "pathtomixer"), "\"C:\\a b\\m.exe\" /x");
    EXPECT_EQ(ini::Lookup("[a]\nk=\"quoted\"\n", "a", "k"), "quoted");
    // A key of another section with the same name is not taken; the first of duplicates wins.
    EXPECT_EQ(ini::Lookup("[b]\nk=1\n[a]\nk=2\nk=3\n[a]\nk=4\n", "a", "k"), "2");
    EXPECT_EQ(ini::Lookup("k=1\n[a]\n", "a", "k"), std::nullopt);
}

TEST(IniDocument, UpdateKeepsEveryOtherLine) {
    const std::string text =
        "; keep me\r\n[pos]\r\nx = 15\r\n; note\r\n\r\n[general]\r\nontop=1\r\n";
    EXPECT_EQ(ini::Update(text, "POS", "x", "30"),
              "; keep me\r\n[pos]\r\nx=30\r\n; note\r\n\r\n[general]\r\nontop=1\r\n");
    EXPECT_EQ(ini::Update(text, "pos", "y", "45"),
              "; keep me\r\n[pos]\r\nx = 15\r\n; note\r\ny=45\r\n\r\n[general]\r\nontop=1\r\n");
    EXPECT_EQ(ini::Update("[general]\nontop=0", "pos", "x", "1"),
              "[general]\nontop=0\n[pos]\nx=1\n");
    EXPECT_EQ(ini::Update("", "pos", "x", "1"), "[pos]\nx=1\n");
}

TEST(IniDocument, ALoneCarriageReturnAtTheEndStaysALineEnd) {
    // Found by fuzzing: adding a key after "X = \r" must not turn the CR into the value.
    const std::string text = "\r\n[Pos]\nX = \r";
    EXPECT_EQ(ini::Lookup(text, "pos", "x"), "");
    const std::string updated = ini::Update(text, "pos", "ontop", "5");
    EXPECT_EQ(updated, "\r\n[Pos]\nX = \r\nontop=5\r\n");
    EXPECT_EQ(ini::Lookup(updated, "pos", "x"), "");
    EXPECT_EQ(ini::Lookup(updated, "pos", "ontop"), "5");
}

TEST(IniDocument, RandomEditsKeepOtherLines) {
    // Whatever the file holds, a write changes only the line of its key (or adds lines).
    std::mt19937 random(7);
    const std::vector<std::string> pieces = {"[pos]", "[Pos]",   "[general]", "x=1",  "X = 2",
                                             "y=",    "; c",     "",          "junk", "=v",
                                             "[",     "ontop=1", "\t"};
    for (int round = 0; round < 300; ++round) {
        std::string text;
        const int lines = static_cast<int>(random() % 12);
        for (int i = 0; i < lines; ++i)
            text += pieces[random() % pieces.size()] + (random() % 3 ? "\n" : "\r\n");
        const std::string updated = ini::Update(text, "pos", "x", "99");
        EXPECT_EQ(ini::Lookup(updated, "pos", "x"), "99") << text;
        // Every other key reads as before.
        EXPECT_EQ(ini::Lookup(updated, "pos", "y"), ini::Lookup(text, "pos", "y")) << text;
        EXPECT_EQ(ini::Lookup(updated, "general", "ontop"), ini::Lookup(text, "general", "ontop"));
        // Comments survive.
        const auto count = [](const std::string& s, const std::string& what) {
            std::size_t n = 0;
            for (std::size_t at = s.find(what); at != std::string::npos; at = s.find(what, at + 1))
                ++n;
            return n;
        };
        EXPECT_EQ(count(updated, "; c"), count(text, "; c"));
        EXPECT_EQ(count(updated, "junk"), count(text, "junk"));
    }
}

TEST(Numbers, WhatCountsAsANumber) {
    double v = 0;
    for (const char* good :
         {"1", " 1 ", "+1", "-1", "1.0", "1.", ".5", "1e0", "3225", "-15.5", "2E3"}) {
        EXPECT_TRUE(ParseNumber(good, v)) << good;
    }
    for (const char* bad :
         {"", " ", "abc", "1a", "1,0", "--1", "1e", "e1", ".", "0x10", "1 2", "\x01"}) {
        EXPECT_FALSE(ParseNumber(bad, v)) << bad;
    }
    ASSERT_TRUE(ParseNumber("1e999", v));
    EXPECT_TRUE(std::isinf(v));
    ASSERT_TRUE(ParseNumber("-1e999", v));
    EXPECT_TRUE(std::isinf(v) && v < 0);
    ASSERT_TRUE(ParseNumber("1e-999", v));
    EXPECT_EQ(v, 0.0);
}

TEST(Numbers, TheMonitorSettingsWords) {
    struct Row {
        const char* text;
        bool readable;
        MonitorChoice choice;
    };
    for (const Row& row : {
             Row {"", true, MonitorChoice::Primary},
             Row {" \t ", true, MonitorChoice::Primary},
             Row {"primary", true, MonitorChoice::Primary},
             Row {"Pointer", true, MonitorChoice::Pointer},
             Row {"\t ACTIVE  ", true, MonitorChoice::Active},
             Row {"1", false, MonitorChoice::Primary},
             Row {"pointer active", false, MonitorChoice::Primary},
             Row {"mouse", false, MonitorChoice::Primary},
             Row {"activ", false, MonitorChoice::Primary},
             Row {"\"active\"", false, MonitorChoice::Primary},
         }) {
        MonitorChoice choice = MonitorChoice::Active;
        EXPECT_EQ(ReadMonitorChoice(row.text, choice), row.readable) << row.text;
        EXPECT_EQ(choice, row.choice) << row.text;
    }
}

TEST(Numbers, PositionsAreWrittenAsSingles) {
    EXPECT_EQ(FormatSingle(3225.0f), "3225");
    EXPECT_EQ(FormatSingle(1.0f), "1");
    EXPECT_EQ(FormatSingle(-15.0f), "-15");
    EXPECT_EQ(FormatSingle(22.5f), "22.5");
    EXPECT_EQ(FormatSingle(0.0f), "0");
    EXPECT_EQ(FormatSingle(-0.0f), "0");
}

struct ReadWriteTest : ::testing::Test {
    FakePlatform fp;
    ReadWrite rw {fp.profile, fp.program, fp.messageBox, fp.texts};
    void SetUp() override { rw.SetIniPath("core.ini"); }
};

TEST_F(ReadWriteTest, MissingFileSectionOrKeyReadsOne) {
    EXPECT_EQ(rw.IniPath(), "C:\\Vexlo\\core.ini");
    EXPECT_EQ(rw.ReadIni("general", "ontop"), "1");
    fp.setIni("[general]\nontop=0\n");
    EXPECT_EQ(rw.ReadIni("general", "soundon"), "1");
    EXPECT_EQ(rw.ReadIni("mixer", "pathtomixer"), "1");
    EXPECT_EQ(rw.ReadIni("general", "ontop"), "0");
}

TEST_F(ReadWriteTest, FlagsAreOnOnlyForOne) {
    const std::pair<const char*, bool> cases[] = {{"1", true},    {"1.0", true},   {" 1", true},
                                                  {"0", false},   {"2", false},    {"-1", false},
                                                  {"1.5", false}, {"1e999", false}};
    for (const auto& [value, on] : cases) {
        fp.setIni(std::string("[general]\nontop=") + value + "\n");
        EXPECT_EQ(rw.IsOn(settings::kOnTop), on) << value;
    }
}

TEST_F(ReadWriteTest, NonNumbersAreFatalAndNameTheSetting) {
    for (const char* value : {"", "abc", "yes", "1x"}) {
        fp.setIni(std::string("[general]\nontop=") + value + "\n");
        try {
            rw.IsOn(settings::kOnTop);
            ADD_FAILURE() << "no error for '" << value << "'";
        } catch (const FatalError& e) {
            EXPECT_NE(std::string(e.what()).find("ontop"), std::string::npos) << e.what();
        }
    }
    fp.setIni("[pos]\nx=1e39\n");
    EXPECT_THROW(rw.Position(settings::kPosX), FatalError);  // no single holds it
    fp.setIni("[pos]\nx=-3225.5\n");
    EXPECT_FLOAT_EQ(rw.Position(settings::kPosX), -3225.5f);
}

TEST_F(ReadWriteTest, LongValuesAreCutOnReadAndRefusedOnWrite) {
    fp.setIni("[mixer]\npathtomixer=" + std::string(300, 'a') + "\n");
    EXPECT_EQ(rw.ReadIni("mixer", "pathtomixer"), std::string(254, 'a'));

    fp.profile.files.clear();
    EXPECT_EQ(rw.WriteIni("pos", "x", std::string(255, '7')), 1);
    EXPECT_EQ(ini::Lookup(*fp.ini(), "pos", "x"), std::string(255, '7'));
    EXPECT_TRUE(fp.messageBox.shown.empty());

    const std::string before = *fp.ini();
    EXPECT_EQ(rw.WriteIni("pos", "x", std::string(256, '8')), -1);
    EXPECT_EQ(rw.WriteIni("pos", std::string(256, 'k'), "1"), -1);
    EXPECT_EQ(*fp.ini(), before);
    ASSERT_EQ(fp.messageBox.shown.size(), 2u);
    EXPECT_EQ(fp.messageBox.shown[0].text,
              "Can't write more than 255 characters for key or value.");
    EXPECT_EQ(fp.messageBox.shown[0].caption, "Vexlo");
    EXPECT_EQ(fp.messageBox.shown[0].style, 0u);
}

TEST_F(ReadWriteTest, UnwritableFileIsSilent) {
    fp.profile.writable = false;
    EXPECT_EQ(rw.WriteIni("pos", "x", "15"), 0);
    EXPECT_TRUE(fp.messageBox.shown.empty());
    EXPECT_FALSE(fp.ini());
}

// The profile functions over real files.
struct FileProfileTest : ::testing::Test {
    std::filesystem::path dir;
    FileProfile profile;
    void SetUp() override {
        char tmpl[] = "/tmp/vexlo-profile-XXXXXX";
        dir = ::mkdtemp(tmpl);
    }
    void TearDown() override {
        ::chmod(dir.c_str(), 0755);
        std::filesystem::remove_all(dir);
    }
    std::string path() const { return (dir / "core.ini").string(); }
    std::string native() const { return path(); }
    std::string contents() const {
        std::ifstream in(native(), std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
};

TEST_F(FileProfileTest, CreatesReadsAndRewrites) {
    EXPECT_EQ(profile.getString("pos", "x", "1", 255, path()), "1");
    const mode_t mask = ::umask(027);
    EXPECT_EQ(profile.writeString("pos", "x", "3225", path()), 1);
    ::umask(mask);
    struct stat st {};
    ::stat(native().c_str(), &st);
    EXPECT_EQ(st.st_mode & 0777, 0640u);  // a new file as the umask has it
    EXPECT_EQ(profile.writeString("pos", "y", "15", path()), 1);
    EXPECT_EQ(contents(), "[pos]\nx=3225\ny=15\n");
    EXPECT_EQ(profile.getString("POS", "X", "1", 255, path()), "3225");
    EXPECT_EQ(profile.getString("pos", "x", "1", 3, path()), "32");
    // No temporary files stay behind.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir), {}), 1);
}

TEST_F(FileProfileTest, KeepsModeAndOwnerRefusesReadOnlyFilesAndRewritesInReadOnlyFolders) {
    { std::ofstream(native()) << "; mine\r\n[pos]\r\nx=1\r\n"; }
    ::chmod(native().c_str(), 0604);
    const bool root = ::geteuid() == 0;
    if (root) { ASSERT_EQ(::chown(native().c_str(), 65534, 65534), 0); }
    ASSERT_EQ(profile.writeString("pos", "x", "2", path()), 1);
    EXPECT_EQ(contents(), "; mine\r\n[pos]\r\nx=2\r\n");
    struct stat st {};
    ::stat(native().c_str(), &st);
    EXPECT_EQ(st.st_mode & 0777, 0604u);
    if (root) { EXPECT_EQ(st.st_uid, 65534u); }

    // A file its owner made read-only is refused, also to root.
    ::chmod(native().c_str(), 0444);
    EXPECT_EQ(profile.writeString("pos", "x", "3", path()), 0);
    EXPECT_EQ(contents(), "; mine\r\n[pos]\r\nx=2\r\n");

    // A read-only folder with a writable file, here with a second hard link: rewritten in
    // place. Root may write anywhere, so the write is tried by an ordinary user in a child.
    ::chmod(native().c_str(), 0666);
    std::filesystem::create_hard_link(native(), dir / "other.ini");
    ::chmod(dir.c_str(), 0555);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(2);
        ::_exit(FileProfile().writeString("pos", "x", "40", path()) == 1 ? 0 : 1);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_EQ(contents(), "; mine\r\n[pos]\r\nx=40\r\n");
    EXPECT_EQ(std::filesystem::hard_link_count(native()), 2u);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir), {}), 2);
}

TEST_F(FileProfileTest, WritesThroughSymbolicLinksAndKeepsHardLinks) {
    namespace fs = std::filesystem;
    fs::create_directories(dir / "dotfiles" / "vexlo");
    { std::ofstream(dir / "dotfiles/vexlo/core.ini") << "[pos]\nx=1\n"; }
    // A relative link to a link to the file: the file gets the value, the links stay.
    fs::create_symlink("dotfiles/vexlo/core.ini", dir / "middle.ini");
    fs::create_symlink("middle.ini", native());
    ASSERT_EQ(profile.writeString("pos", "x", "2", path()), 1);
    EXPECT_TRUE(fs::is_symlink(native()));
    EXPECT_EQ(contents(), "[pos]\nx=2\n");
    EXPECT_EQ(profile.getString("pos", "x", "1", 255, path()), "2");

    // A dangling link: the file it names is created.
    fs::remove(native());
    fs::create_symlink("dotfiles/vexlo/new.ini", native());
    ASSERT_EQ(profile.writeString("pos", "x", "3", path()), 1);
    EXPECT_TRUE(fs::is_symlink(native()));
    EXPECT_EQ(contents(), "[pos]\nx=3\n");

    // A link to a device or into a loop: nothing is replaced.
    fs::remove(native());
    fs::create_symlink("/dev/null", native());
    EXPECT_EQ(profile.writeString("pos", "x", "4", path()), 0);
    EXPECT_EQ(fs::read_symlink(native()), "/dev/null");
    EXPECT_TRUE(fs::is_character_file("/dev/null"));
    fs::remove(native());
    fs::create_symlink("core.ini", native());
    EXPECT_EQ(profile.writeString("pos", "x", "4", path()), 0);

    // A second hard link sees the new text.
    fs::remove(native());
    fs::create_hard_link(dir / "dotfiles/vexlo/core.ini", native());
    ASSERT_EQ(profile.writeString("pos", "x", "5", path()), 1);
    EXPECT_EQ(fs::hard_link_count(native()), 2u);
    std::ifstream other(dir / "dotfiles/vexlo/core.ini", std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(other), {}), "[pos]\nx=5\n");

    // A rewrite in place cut off by a crash left the old text beside the file: it is put back
    // before the file is used.
    { std::ofstream(dir / ".core.ini.vexlo-old") << "[pos]\nx=5\n"; }
    { std::ofstream(native(), std::ios::trunc) << "[pos]\nx=6\n\n;"; }
    EXPECT_EQ(profile.getString("pos", "x", "1", 255, path()), "5");
    EXPECT_EQ(contents(), "[pos]\nx=5\n");
    EXPECT_FALSE(fs::exists(dir / ".core.ini.vexlo-old"));
    EXPECT_EQ(fs::hard_link_count(native()), 2u);
}

TEST_F(FileProfileTest, ByteOrderMarksAndUtf16AreReadAndKept) {
    const std::string mark8 = "\xEF\xBB\xBF";
    auto utf16 = [](const std::string& ascii, bool be) {
        std::string out = be ? "\xFE\xFF" : "\xFF\xFE";
        for (char c : ascii) out += be ? std::string {'\0', c} : std::string {c, '\0'};
        return out;
    };
    const std::string before = "[general]\r\nontop=0\r\n[pos]\r\nx=1\r\n";
    const std::string after = "[general]\r\nontop=0\r\n[pos]\r\nx=2\r\n";
    struct Case {
        const char* name;
        std::string file, saved;
    } cases[] = {
        {"utf-8 with a mark", mark8 + before, mark8 + after},
        {"utf-16 le", utf16(before, false), utf16(after, false)},
        {"utf-16 be", utf16(before, true), utf16(after, true)},
    };
    for (const Case& c : cases) {
        { std::ofstream(native(), std::ios::binary | std::ios::trunc) << c.file; }
        EXPECT_EQ(profile.getString("general", "ontop", "1", 255, path()), "0") << c.name;
        ASSERT_EQ(profile.writeString("pos", "x", "2", path()), 1) << c.name;
        EXPECT_EQ(contents(), c.saved) << c.name;
    }
    // Whatever a marked file holds comes back byte for byte: characters outside the basic
    // plane, a lone surrogate, an odd last byte, stray bytes after a UTF-8 mark.
    for (const std::string& bytes :
         {std::string("\xFF\xFE\x3D\xD8\x00\xDE=\x00\x00\xD8\xE9\x00\x41", 13),
          std::string("\xFE\xFF\xDC\x00\x00=\xD8\x3D\xDE\x00", 10), mark8 + "\xFF\xC3[x]"}) {
        const auto file = profile_text::Decode(bytes);
        EXPECT_EQ(profile_text::Encode(file, file.text), bytes);
    }
}

TEST_F(FileProfileTest, KilledWritersLeaveACompleteFile) {
    // A writer killed at any moment leaves the old or the new file, never a cut-off one; a
    // file with a second hard link, which is rewritten in place, is made whole at the next use.
    const std::string head = "; settings\n[general]\nontop=0\n" + std::string(4000, ';') + "\n";
    { std::ofstream(native()) << head; }
    std::mt19937 random(11);
    int seen = 0;
    for (int round = 0; round < 300; ++round) {
        if (round == 150) std::filesystem::create_hard_link(native(), dir / "other.ini");
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            FileProfile writer;
            for (int i = 0;; ++i) {
                writer.writeString("pos", "x", std::to_string(100000 + i), path());
                writer.writeString("pos", "y", std::to_string(200000 + i), path());
            }
        }
        ::usleep(static_cast<useconds_t>(random() % 4000));
        ::kill(child, SIGKILL);
        ::waitpid(child, nullptr, 0);
        profile.getString("pos", "x", "", 255, path());
        const std::string text = contents();
        ASSERT_EQ(text.substr(0, head.size()), head) << "round " << round;
        EXPECT_EQ(ini::Lookup(text, "general", "ontop"), "0");
        const auto x = ini::Lookup(text, "pos", "x");
        if (x) {
            ++seen;
            EXPECT_EQ(x->size(), 6u) << *x;
            EXPECT_EQ(text.back(), '\n');
        }
    }
    EXPECT_GT(seen, 0);  // the writers got somewhere
}

TEST_F(FileProfileTest, LeftoversOfKilledWritesAreRemovedLater) {
    const auto old = std::filesystem::file_time_type::clock::now() - std::chrono::minutes(5);
    const auto leftover = dir / ".core.ini.vexlo-Ab12Cd";
    const auto fresh = dir / ".core.ini.vexlo-Xy34Zw";  // perhaps a write in progress
    const auto mine = dir / "core.ini.vexlo-backup";    // the user's own file
    for (const auto& p : {leftover, fresh, mine}) std::ofstream(p) << "x";
    std::filesystem::last_write_time(leftover, old);
    std::filesystem::last_write_time(mine, old);
    ASSERT_EQ(profile.writeString("pos", "x", "1", path()), 1);
    EXPECT_FALSE(std::filesystem::exists(leftover));
    EXPECT_TRUE(std::filesystem::exists(fresh));
    EXPECT_TRUE(std::filesystem::exists(mine));
    EXPECT_EQ(contents(), "[pos]\nx=1\n");
}

TEST_F(FileProfileTest, AFolderInPlaceOfTheFileIsNotReplaced) {
    std::filesystem::create_directory(native());
    EXPECT_EQ(profile.getString("pos", "x", "1", 255, path()), "1");
    EXPECT_EQ(profile.writeString("pos", "x", "3", path()), 0);
    EXPECT_TRUE(std::filesystem::is_directory(native()));
}

}  // namespace
}  // namespace vexlo::testing
