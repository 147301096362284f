// Where the program finds its files, the profile file, pictures, starting programs, the sound.
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "platform/linux/qt_images.h"
#include "platform/linux/system_services.h"
#include "settings/ReadWrite.h"
#include "support.h"

namespace vexlo::linux_platform {
namespace {

using testing::ScopedEnv;
using testing::TempDir;

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

bool Exists(const std::string& path) {
    return ::access(path.c_str(), F_OK) == 0;
}

// ---- Program folders ---------------------------------------------------------------------

TEST(ProgramInfo, SettingsLiveInTheXdgConfigFolderUnlessACoreIniStandsBesideTheProgram) {
    TempDir exe;
    {
        ScopedEnv xdg("XDG_CONFIG_HOME", "/somewhere/config");
        LinuxProgramInfo info(exe.path(), "");
        EXPECT_EQ(info.settingsFolder(), "/somewhere/config/vexlo");
    }
    {
        // Unset or relative: the default under the home folder.
        ScopedEnv home("HOME", "/home/someone");
        ScopedEnv unset("XDG_CONFIG_HOME", nullptr);
        EXPECT_EQ(LinuxProgramInfo(exe.path(), "").settingsFolder(), "/home/someone/.config/vexlo");
        ScopedEnv relative("XDG_CONFIG_HOME", "relative/config");
        EXPECT_EQ(LinuxProgramInfo(exe.path(), "").settingsFolder(), "/home/someone/.config/vexlo");
        // No HOME: the user database's home folder, never one at the root.
        ScopedEnv empty("HOME", "");
        const passwd* user = ::getpwuid(::getuid());
        ASSERT_NE(user, nullptr);
        EXPECT_EQ(LinuxProgramInfo(exe.path(), "").settingsFolder(),
                  std::string(user->pw_dir) + "/.config/vexlo");
        ScopedEnv unsetHome("HOME", nullptr);
        EXPECT_EQ(LinuxProgramInfo(exe.path(), "").settingsFolder(),
                  std::string(user->pw_dir) + "/.config/vexlo");
    }
    {
        // Every byte of the folder is kept.
        ScopedEnv xdg("XDG_CONFIG_HOME", "/a\\b/caf\xe9");
        EXPECT_EQ(LinuxProgramInfo(exe.path(), "").settingsFolder(), "/a\\b/caf\xe9/vexlo");
    }
    // Portable use: a core.ini beside the executable wins.
    exe.write("core.ini", "[general]\n");
    ScopedEnv xdg("XDG_CONFIG_HOME", "/somewhere/config");
    EXPECT_EQ(LinuxProgramInfo(exe.path(), "").settingsFolder(), exe.path());
}

TEST(ProgramInfo, SkinIsBesideTheProgramOrInTheInstalledDataFolder) {
    TempDir root;
    const std::string bin = root.file("bin");
    ::mkdir(bin.c_str(), 0755);
    EXPECT_EQ(LinuxProgramInfo(bin, "").folder(), bin);  // build tree: beside the binary
    ::mkdir(root.file("share").c_str(), 0755);
    ::mkdir(root.file("share/vexlo").c_str(), 0755);
    ::mkdir(root.file("share/vexlo/skin").c_str(), 0755);
    EXPECT_EQ(LinuxProgramInfo(bin, "").folder(), root.file("share/vexlo/skin"));
}

TEST(ProgramInfo, OnlyTheProgramsOwnSeparatorBecomesASlash) {
    const struct {
        const char* built;
        const char* native;
    } rows[] = {
        {"/home/me/.config/vexlo\\core.ini", "/home/me/.config/vexlo/core.ini"},
        {"/opt/a\\b/vexlo\\back.bmp", "/opt/a\\b/vexlo/back.bmp"},  // a backslash in a folder
        {"/opt/ends\\\\sound.wav", "/opt/ends\\/sound.wav"},        // a folder named "ends\"
        {"/\\core.ini", "//core.ini"},
        {"/opt/caf\xe9\\icon0.ico", "/opt/caf\xe9/icon0.ico"},  // not UTF-8
        {"/already/native.bmp", "/already/native.bmp"},
        {"/a\\b/native.bmp", "/a\\b/native.bmp"},
    };
    const LinuxProgramInfo info(".", "");
    const ProgramInfo& port = info;
    for (const auto& row : rows) EXPECT_EQ(port.nativePath(row.built), row.native) << row.built;
}

TEST(ProgramInfo, TheArgumentTextIsTheArgumentsJoinedBySingleSpaces) {
    char prog[] = "vexlo", a[] = "/control", b[] = "x";
    char* one[] = {prog, a};
    char* two[] = {prog, a, b};
    char* none[] = {prog};
    EXPECT_EQ(LinuxProgramInfo::JoinArguments(2, one), "/control");
    EXPECT_EQ(LinuxProgramInfo::JoinArguments(3, two), "/control x");
    EXPECT_EQ(LinuxProgramInfo::JoinArguments(1, none), "");
    EXPECT_EQ(LinuxProgramInfo(".", "/control").commandLine(), "/control");
}

// ---- Profile -----------------------------------------------------------------------------

TEST(Profile, TheFirstWriteCreatesTheSettingsFolderAndFile) {
    TempDir home;
    LinuxProfile profile;
    // The program's own path form: folder, a backslash, the name.
    const std::string ini = home.path() + "/config/vexlo" + "\\core.ini";
    EXPECT_EQ(profile.getString("pos", "x", "1", 255, ini), "1");
    EXPECT_NE(profile.writeString("pos", "x", "3225", ini), 0);
    EXPECT_NE(profile.writeString("pos", "y", "-15", ini), 0);
    EXPECT_EQ(ReadFile(home.file("config/vexlo/core.ini")), "[pos]\nx=3225\ny=-15\n");
    EXPECT_EQ(profile.getString("POS", "Y", "1", 255, ini), "-15");
    EXPECT_EQ(profile.getString("pos", "y", "1", 3, ini), "-1");
}

TEST(Profile, AFolderThatCannotBeMadeIsAFailedWriteNotACrash) {
    TempDir home;
    home.write("blocker", "a file where a folder should be");
    LinuxProfile profile;
    EXPECT_EQ(profile.writeString("pos", "x", "1", home.file("blocker/vexlo\\core.ini")), 0);
}

TEST(Profile, TheCoreSettingsModuleReadsAndWritesThroughTheAdapter) {
    TempDir config;
    ScopedEnv xdg("XDG_CONFIG_HOME", config.path().c_str());
    TempDir exe;
    LinuxProgramInfo info(exe.path(), "");
    LinuxProfile profile;
    class NoBoxes : public MessageBoxes {
      public:
        int show(const std::string&, const std::string&, std::uint32_t) override { return IDOK; }
    } boxes;
    const EnglishTexts english;
    ReadWrite settings(profile, info, boxes, english);
    settings.SetIniPath("core.ini");
    EXPECT_EQ(settings.ReadIni("general", "ontop"), "1");
    EXPECT_NE(settings.WriteIni("pos", "x", "15"), 0);
    EXPECT_TRUE(Exists(config.file("vexlo/core.ini")));
    EXPECT_EQ(settings.ReadIni("pos", "x"), "15");
}

// ---- Pictures ----------------------------------------------------------------------------

TEST(Images, LoadsTheSkinsBitmapsIconsAndGif) {
    QtImageLoader loader;
    std::string error;
    const std::string skin = VEXLO_SKIN_DIR;
    auto back = loader.load(skin + "\\back.bmp", error);  // the program's separator
    ASSERT_TRUE(back) << error;
    EXPECT_EQ(back->width(), 212);
    EXPECT_EQ(back->height(), 200);

    auto chunks = loader.load(skin + "/chunks.bmp", error);
    ASSERT_TRUE(chunks) << error;
    EXPECT_EQ(chunks->width(), 144);

    auto icon = loader.load(skin + "/icon3.ico", error);
    ASSERT_TRUE(icon) << error;
    EXPECT_EQ(icon->width(), 32);  // the largest of its 16 and 32 pixel images
    const auto* qicon = dynamic_cast<const QtPicture*>(icon.get());
    ASSERT_NE(qicon, nullptr);
    EXPECT_EQ(QtPicture::Find(icon->handle()), qicon);
    EXPECT_NE(icon->handle(), back->handle());

    auto knob = loader.load(skin + "/controlknob.gif", error);
    ASSERT_TRUE(knob) << error;
    EXPECT_EQ(knob->width(), 15);
    EXPECT_EQ(knob->height(), 15);
    // The GIF's transparent colour stays transparent.
    const QImage& image = dynamic_cast<const QtPicture&>(*knob).image();
    bool transparent = false, opaque = false;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const int alpha = qAlpha(image.pixel(x, y));
            transparent = transparent || alpha == 0;
            opaque = opaque || alpha == 255;
        }
    }
    EXPECT_TRUE(transparent);
    EXPECT_TRUE(opaque);
}

TEST(Images, LoadFromAFolderWhoseNameIsNotUtf8AndHasABackslash) {
    TempDir root;
    const std::string folder = root.file("sk\\in caf\xe9");
    ASSERT_EQ(::mkdir(folder.c_str(), 0755), 0);
    std::ofstream(folder + "/icon3.ico", std::ios::binary)
        << ReadFile(std::string(VEXLO_SKIN_DIR) + "/icon3.ico");
    QtImageLoader loader;
    std::string error;
    auto icon = loader.load(folder + "\\icon3.ico", error);
    ASSERT_TRUE(icon) << error;
    EXPECT_EQ(icon->width(), 32);
}

TEST(Images, MissingAndCorruptFilesGiveNullAndAReason) {
    QtImageLoader loader;
    TempDir dir;
    std::string error;
    const NativeHandle before = 0;
    EXPECT_FALSE(loader.load(dir.file("missing.bmp"), error));
    EXPECT_NE(error.find("No such file"), std::string::npos) << error;

    dir.write("broken.bmp", "BM this is not a bitmap at all");
    error.clear();
    EXPECT_FALSE(loader.load(dir.file("broken.bmp"), error));
    EXPECT_FALSE(error.empty());

    dir.write("empty.gif", "");
    error.clear();
    EXPECT_FALSE(loader.load(dir.file("empty.gif"), error));
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(QtPicture::Find(before), nullptr);
}

std::string LittleEndian(std::uint64_t value, int bytes) {
    std::string out;
    for (int i = 0; i < bytes; ++i) out += static_cast<char>((value >> (8 * i)) & 0xff);
    return out;
}

// A bitmap header for width x height at 24 bits, followed by only a few bytes of pixels.
std::string BitmapHeader(std::int32_t width, std::int32_t height) {
    return "BM" + LittleEndian(0, 4) + LittleEndian(0, 4) + LittleEndian(54, 4) +
           LittleEndian(40, 4) + LittleEndian(static_cast<std::uint32_t>(width), 4) +
           LittleEndian(static_cast<std::uint32_t>(height), 4) + LittleEndian(1, 2) +
           LittleEndian(24, 2) + std::string(24, '\0') + std::string(64, '\0');
}

TEST(Images, EmptyCutOffAndOverLargeFilesAreRefusedBeforeDecoding) {
    QtImageLoader loader;
    TempDir dir;
    const std::string skin = VEXLO_SKIN_DIR;
    std::string error;
    auto refused = [&](const std::string& name, const std::string& content) {
        dir.write(name, content);
        error.clear();
        return loader.load(dir.file(name), error) == nullptr;
    };

    EXPECT_TRUE(refused("empty.bmp", ""));
    EXPECT_EQ(error, "the file is empty");

    // The decoder would fill the missing rows of a cut-off bitmap with black.
    const std::string back = ReadFile(skin + "/back.bmp");
    EXPECT_TRUE(refused("half.bmp", back.substr(0, back.size() / 2)));
    EXPECT_EQ(error, "the file is cut off (" + std::to_string(back.size()) + " bytes needed, " +
                         std::to_string(back.size() / 2) + " present)");
    // One byte short is as cut off as half; a complete copy loads.
    EXPECT_TRUE(refused("short.bmp", back.substr(0, back.size() - 1)));
    EXPECT_FALSE(refused("whole.bmp", back)) << error;

    // An icon cut inside its second image would load with the first one only.
    const std::string icon = ReadFile(skin + "/icon0.ico");
    EXPECT_TRUE(refused("half.ico", icon.substr(0, icon.size() / 2)));
    EXPECT_NE(error.find("cut off"), std::string::npos) << error;

    // The header check's other rows are the core suite's; these show the loader applies it.
    EXPECT_TRUE(refused("huge.bmp", BitmapHeader(60000, 60000)));
    EXPECT_EQ(error.find("the picture is 60000 x 60000 pixels"), 0u) << error;
    EXPECT_TRUE(refused("tall.bmp", BitmapHeader(1, -20000)));  // top-down rows
    EXPECT_EQ(error.find("the picture is 1 x 20000 pixels"), 0u) << error;

    ASSERT_EQ(::mkdir(dir.file("folder.bmp").c_str(), 0755), 0);
    error.clear();
    EXPECT_FALSE(loader.load(dir.file("folder.bmp"), error));
    EXPECT_EQ(error, "it is a folder, not a file");

    EXPECT_TRUE(refused("text.gif", "GIF? no, just text\n"));
    EXPECT_EQ(error, "not a GIF picture");
}

// ---- Launcher ----------------------------------------------------------------------------

TEST(Launcher, StartsACommandLineWithoutAShellAndReportsMissingPrograms) {
    TempDir dir;
    dir.write("marker.sh", "#!/bin/sh\nprintf '%s|' \"$@\" > \"$0.out\"\n", true);
    ProcessLauncher launcher(std::vector<std::string> {});
    const std::string script = dir.file("marker.sh");
    LaunchResult result = launcher.start(script + " \"two words\" $HOME ;", 1);
    ASSERT_TRUE(result.started) << result.error;
    ASSERT_TRUE(testing::WaitFor([&] { return Exists(script + ".out"); }));
    testing::Pump(std::chrono::milliseconds(100));
    // Quotes group; nothing is expanded and ";" is just a word.
    EXPECT_EQ(ReadFile(script + ".out"), "two words|$HOME|;|");

    result = launcher.start(dir.file("no-such-program"), 1);
    EXPECT_FALSE(result.started);
    EXPECT_NE(result.error.find("No such file"), std::string::npos) << result.error;
    // The missing-key value "1" names no program.
    EXPECT_FALSE(launcher.start("1", 1).started);
    result = launcher.start("   ", 1);
    EXPECT_FALSE(result.started);
    EXPECT_FALSE(result.error.empty());

    // An unquoted path with blanks: the shortest run of words that is a program, and the
    // rest as its arguments ("my" is a folder, "my mixer.../run" the program). The folder's
    // name is not UTF-8: its bytes reach the system as they are.
    const std::string folder = "my mixer caf\xe9";
    ASSERT_EQ(::mkdir(dir.file("my").c_str(), 0755), 0);
    ASSERT_EQ(::mkdir(dir.file(folder).c_str(), 0755), 0);
    dir.write(folder + "/run", "#!/bin/sh\nprintf '%s|' \"$@\" > \"$0.out\"\n", true);
    result = launcher.start(dir.file(folder + "/run") + " --tab=3 \"a b\" x\"\"\"y", 1);
    ASSERT_TRUE(result.started) << result.error;
    ASSERT_TRUE(testing::WaitFor([&] { return Exists(dir.file(folder + "/run.out")); }));
    testing::Pump(std::chrono::milliseconds(100));
    EXPECT_EQ(ReadFile(dir.file(folder + "/run.out")), "--tab=3|a b|x\"y|");
}

TEST(Launcher, TheSystemMixerIsTheFirstDesktopMixerThatStarts) {
    TempDir bin;
    // Only the second program of the list is there.
    bin.write("pavucontrol-qt", "#!/bin/sh\n: > \"${0%/*}/started\"\n", true);
    ScopedEnv path("PATH", bin.path().c_str());
    ProcessLauncher launcher;
    const LaunchResult result = launcher.start("sndvol32", 1);
    ASSERT_TRUE(result.started) << result.error;
    EXPECT_TRUE(testing::WaitFor([&] { return Exists(bin.file("started")); }));
}

TEST(Launcher, NoDesktopMixerAtAllIsAFailureThatSaysWhatWasTried) {
    TempDir empty;
    ScopedEnv path("PATH", empty.path().c_str());
    ProcessLauncher launcher;
    const LaunchResult result = launcher.start("sndvol32", 1);
    EXPECT_FALSE(result.started);
    EXPECT_EQ(result.error.find("none of the desktop's volume controls was found (looked for "
                                "pavucontrol, pwvucontrol, pavucontrol-qt, kcmshell6,"),
              0u)
        << result.error;
    EXPECT_EQ(result.error.find("sndvol"), std::string::npos);
    // The desktop's own volume settings come first.
    EXPECT_EQ(ProcessLauncher::DefaultMixers("KDE").front(), "kcmshell6 kcm_pulseaudio");
    EXPECT_EQ(ProcessLauncher::DefaultMixers("ubuntu:GNOME").front(), "gnome-control-center sound");
    EXPECT_EQ(ProcessLauncher::DefaultMixers("XFCE").size(),
              ProcessLauncher::DefaultMixers("").size());
}

// ---- Sound -------------------------------------------------------------------------------

TEST(Sound, PlaysAFileThroughTheSoundServerAndFailsForAMissingOne) {
    REQUIRE_SOUND_SERVER();
    CanberraSound sound;
    EXPECT_TRUE(sound.play(std::string(VEXLO_SKIN_DIR) + "\\sound.wav", 1));
    EXPECT_TRUE(sound.play(std::string(VEXLO_SKIN_DIR) + "/sound.wav", 1));  // replaces it
    TempDir dir;
    EXPECT_FALSE(sound.play(dir.file("missing.wav"), 1));
}

}  // namespace
}  // namespace vexlo::linux_platform
