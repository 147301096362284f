#include "platform/win32/services.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <fstream>
#include <sstream>
#include <vector>

#include "platform/common/sound_check.h"
#include "platform/win32/images.h"
#include "platform/win32/user_language.h"
#include "tests/test_support.h"

namespace vexlo::win32 {
namespace {

using testing::Pump;
using testing::RecordingSink;
using testing::TestFile;

// A fresh folder for one test's files.
std::string FreshFolder(const std::string& name) {
    const std::string folder = TestFile("scratch " + name);  // with a blank on purpose
    CreateDirectoryA(folder.c_str(), nullptr);
    return folder;
}

// What a started stand-in program wrote into the file, waiting up to 10 s for it.
std::string WrittenText(const std::string& path) {
    const DWORD start = GetTickCount();
    while (GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES &&
           GetTickCount() - start < 10000) {
        Sleep(20);
    }
    Sleep(100);
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

TEST(Tray, RecordBecomesThe88ByteShellRecord) {
    static_assert(offsetof(NOTIFYICONDATAA, szTip) + 64 == 88);
    TrayIconRecord record;
    record.cbSize = 88;
    record.hWnd = 0x1234;
    record.uID = 1;
    record.uFlags = 7;
    record.uCallbackMessage = 0x200;
    record.hIcon = 0x5678;
    std::memset(record.szTip, ' ', sizeof record.szTip);
    std::memcpy(record.szTip, "Vexlo", 6);
    const NOTIFYICONDATAA data = ToNotifyIconData(record);
    EXPECT_EQ(data.cbSize, 88u);
    EXPECT_EQ(data.hWnd, reinterpret_cast<HWND>(0x1234));
    EXPECT_EQ(data.uID, 1u);
    EXPECT_EQ(data.uFlags, 7u);
    EXPECT_EQ(data.uCallbackMessage, 0x200u);
    EXPECT_EQ(data.hIcon, reinterpret_cast<HICON>(0x5678));
    EXPECT_EQ(std::memcmp(data.szTip, record.szTip, 64), 0);
}

// The shell shows 255 bytes of a balloon; a longer text is cut after a sentence (not after a
// "." inside one) in any script and code page, else at a blank, else where it must but never
// inside a character.
TEST(Tray, LongBalloonTextsGoOutInPartsCutAfterASentence) {
    const struct {
        const char* text;  // UTF-8, shown in the code page
        std::vector<std::string> parts;
        unsigned codePage = 1252;
        std::size_t limit = 20;
    } cases[] = {
        {"Short.", {"Short."}},
        {"", {""}},
        {"First one. Second one here.", {"First one.", "Second one here."}},
        {"Keys Ctrl+. in it. Next", {"Keys Ctrl+. in it.", "Next"}},
        {"aaaa bbbb cccc dddd eeee", {"aaaa bbbb cccc dddd", "eeee"}},
        {"xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx",
         {"xxxxxxxxxxxxxxxxxxxx", "xxxxxxxxxxxxxxxxxxxx", "xxxxx"}},
        {"Hecho. ¿Seguro que sí?", {"Hecho.", "¿Seguro que sí?"}},
        {"Первое. Второе здесь.", {"Первое.", "Второе здесь."}, 1251},
        {"Первое. Второе здесь.", {"Первое.", "Второе здесь."}, 65001, 30},
        {"Да, т. е. нет. Ещё раз", {"Да, т. е. нет.", "Ещё раз"}, 1251},
        {"жжжжжжжжжжж", {"жж", "жж", "жж", "жж", "жж", "ж"}, 65001, 5},
    };
    for (const auto& c : cases) {
        std::vector<std::string> parts;
        for (const std::string& part : c.parts) parts.push_back(*InCodePage(part, c.codePage));
        EXPECT_EQ(BalloonParts(*InCodePage(c.text, c.codePage), c.limit, c.codePage), parts)
            << c.text << " in " << c.codePage;
    }
}

TEST(Program, FoldersAreTheExecutablesAndTheArgumentTextIsKeptAsGiven) {
    char path[MAX_PATH];
    const DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
    const std::string exe(path, n);
    Win32ProgramInfo program("  /control ");
    EXPECT_EQ(program.folder(), exe.substr(0, exe.find_last_of('\\')));
    EXPECT_EQ(program.settingsFolder(), program.folder());
    EXPECT_NE(program.folder().back(), '\\');
    EXPECT_EQ(program.commandLine(), "  /control ");
}

TEST(Profile, ReadsWritesAndCutsValuesInTheNamedFile) {
    const std::string ini = FreshFolder("profile") + "\\core.ini";
    DeleteFileA(ini.c_str());
    Win32Profile profile;
    EXPECT_EQ(profile.getString("general", "ontop", "1", 255, ini), "1") << "no file";
    EXPECT_NE(profile.writeString("pos", "x", "3225", ini), 0);
    EXPECT_EQ(profile.getString("POS", "X", "1", 255, ini), "3225");
    EXPECT_EQ(profile.getString("pos", "y", "1", 255, ini), "1") << "missing key";

    EXPECT_NE(profile.writeString("general", "ontop", "", ini), 0);
    EXPECT_EQ(profile.getString("general", "ontop", "1", 255, ini), "") << "present but empty";

    const std::string longValue(300, 'v');
    EXPECT_NE(profile.writeString("mixer", "pathtomixer", longValue, ini), 0);
    EXPECT_EQ(profile.getString("mixer", "pathtomixer", "1", 255, ini), longValue.substr(0, 254));

    const std::string nowhere = TestFile("no such folder\\core.ini");
    EXPECT_EQ(profile.writeString("pos", "x", "1", nowhere), 0);
}

// What the skin check says about a sound file: files that cannot be read or are too large to
// read give the reason; the bytes of the rest are checked.
TEST(Sound, ProblemReadsTheFileOrSaysWhyNot) {
    const std::string folder = FreshFolder("sound");
    auto write = [&](const std::string& name, const std::string& bytes) {
        std::ofstream(folder + "\\" + name, std::ios::binary) << bytes;
        return folder + "\\" + name;
    };
    std::string wav(
        "RIFF\x2c\0\0\0WAVEfmt \x10\0\0\0\x01\0\x01\0\x44\xac\0\0\x88\x58\x01\0\x02\0\x10\0"
        "data\x08\0\0\0",
        44);
    wav += std::string(8, '\0');
    std::string big(kMaxSoundBytes + 1, '\0');
    big.replace(0, wav.size(), wav);
    Win32Sound sound;
    EXPECT_EQ(sound.problem(write("good.wav", wav)), "");
    EXPECT_EQ(sound.problem(write("mp3.wav", "ID3\x04 rest")), "an MP3 file, not a WAV");
    EXPECT_EQ(sound.problem(write("big.wav", big)), "the file is larger than 16 MB");
    DeleteFileA((folder + "\\big.wav").c_str());
    EXPECT_EQ(sound.problem(folder + "\\missing.wav"), SystemErrorText(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(sound.problem(folder), SystemErrorText(ERROR_ACCESS_DENIED)) << "a folder";
}

TEST(Launcher, StartsACommandLineWithAQuotedPathAndArguments) {
    const std::string folder = FreshFolder("launch");
    const std::string program = folder + "\\mixer.exe";
    ASSERT_TRUE(CopyFileA(TestFile("vexlo_marker.exe").c_str(), program.c_str(), FALSE));
    const std::string marker = folder + "\\started.txt";
    DeleteFileA(marker.c_str());

    Win32Launcher launcher;
    const std::string command = "\"" + program + "\" \"" + marker + "\" second";
    const LaunchResult result = launcher.start(command, SW_SHOWNORMAL);
    ASSERT_TRUE(result.started) << result.error;
    EXPECT_TRUE(result.error.empty());
    EXPECT_EQ(WrittenText(marker), command) << "the program got the command line as written";
}

TEST(Launcher, FailuresSayWhy) {
    Win32Launcher launcher;
    for (const char* command :
         {"", "   ", "1", "no_such_mixer_program_here", "\"C:\\no such folder\\mixer.exe\" /x"}) {
        const LaunchResult result = launcher.start(command, SW_SHOWNORMAL);
        EXPECT_FALSE(result.started) << command;
        EXPECT_FALSE(result.error.empty()) << command;
    }
    EXPECT_EQ(launcher.start("no_such_mixer_program_here", SW_SHOWNORMAL).error,
              SystemErrorText(ERROR_FILE_NOT_FOUND));
}

TEST(Launcher, TheSystemsMixerIsTheVolumeControlOfTheSystemFolder) {
    char folder[MAX_PATH];
    const UINT n = GetSystemDirectoryA(folder, MAX_PATH);
    ASSERT_GT(n, 0u);
    const std::string system(folder, n);
    const std::string standIn = system + "\\SndVol.exe";
    const std::string marker = standIn + ".txt";
    DeleteFileA(standIn.c_str());
    DeleteFileA(marker.c_str());
    ASSERT_EQ(GetFileAttributesA((system + "\\sndvol32.exe").c_str()), INVALID_FILE_ATTRIBUTES);

    Win32Launcher launcher;
    LaunchResult result = launcher.start("sndvol32", SW_SHOWNORMAL);
    EXPECT_FALSE(result.started);
    EXPECT_EQ(result.error, "SndVol.exe was not found in " + system);

    // A program of that name in the current folder is not the system's.
    const std::string current = FreshFolder("current");
    ASSERT_TRUE(CopyFileA(TestFile("vexlo_marker.exe").c_str(),
                          (current + "\\sndvol32.exe").c_str(), FALSE));
    char previous[MAX_PATH];
    GetCurrentDirectoryA(MAX_PATH, previous);
    SetCurrentDirectoryA(current.c_str());
    result = launcher.start("sndvol32", SW_SHOWNORMAL);
    SetCurrentDirectoryA(previous);
    EXPECT_FALSE(result.started);

    ASSERT_TRUE(CopyFileA(TestFile("vexlo_marker.exe").c_str(), standIn.c_str(), FALSE));
    result = launcher.start("sndvol32", SW_SHOWNORMAL);
    EXPECT_TRUE(result.started) << result.error;
    EXPECT_EQ(WrittenText(marker), "\"" + standIn + "\"") << "by its full path, no arguments";
    DeleteFileA(marker.c_str());
    DeleteFileA(standIn.c_str());
}

TEST(Dispatcher, TaskbarCreatedBroadcastReachesTheCore) {
    Dispatcher dispatcher;
    RecordingSink sink;
    dispatcher.setSink(&sink);
    ASSERT_NE(dispatcher.taskbarCreatedMessage(), 0u);
    // The shell broadcasts it to every top-level window when its taskbar comes (back).
    PostMessageA(HWND_BROADCAST, dispatcher.taskbarCreatedMessage(), 0, 0);
    Pump(2000, [&] { return sink.taskbarCreated > 0; });
    EXPECT_EQ(sink.taskbarCreated, 1);

    // One that comes while a box of the core's is up (opened by a tick) is delivered once
    // the box is gone.
    sink.onTimerHook = [&](TimerId) {
        sink.holding = true;
        SendMessageA(dispatcher.helperWindow(), dispatcher.taskbarCreatedMessage(), 0, 0);
        Pump(50);
        EXPECT_EQ(sink.taskbarCreated, 1);
        sink.holding = false;
    };
    dispatcher.timer(1);
    sink.onTimerHook = nullptr;
    Pump(2000, [&] { return sink.taskbarCreated > 1; });
    EXPECT_EQ(sink.taskbarCreated, 2);
}

TEST(Dispatcher, EventsWaitNeitherForNorDuringAModalBox) {
    Dispatcher dispatcher;
    RecordingSink sink;
    dispatcher.setSink(&sink);
    sink.holding = true;
    dispatcher.timer(4);
    dispatcher.mouse(MouseEvent {});
    dispatcher.postMenuCommand(1);
    Pump(50);
    sink.holding = false;
    EXPECT_TRUE(sink.timers.empty());
    EXPECT_TRUE(sink.mice.empty());
    EXPECT_TRUE(sink.menuCommands.empty());
    dispatcher.timer(4);
    EXPECT_EQ(sink.timers, std::vector<TimerId> {4});
    dispatcher.postMenuCommand(2);
    EXPECT_TRUE(sink.menuCommands.empty()) << "menu commands come from the loop";
    Pump(500, [&] { return !sink.menuCommands.empty(); });
    EXPECT_EQ(sink.menuCommands, std::vector<int> {2});
}

TEST(Dispatcher, ACloseRequestFromOutsideIsTheProgramsQuitAndKeepsTheHelper) {
    Dispatcher dispatcher;
    RecordingSink sink;
    dispatcher.setSink(&sink);
    // Without a quit to run, a close request must not take the helper window with it.
    PostMessageA(dispatcher.helperWindow(), WM_CLOSE, 0, 0);
    Pump(100);
    EXPECT_TRUE(IsWindow(dispatcher.helperWindow()));

    int closes = 0;
    dispatcher.setCloseRequest([&](EventSink& target) {
        EXPECT_EQ(&target, &sink);
        ++closes;
    });
    PostMessageA(dispatcher.helperWindow(), WM_CLOSE, 0, 0);  // as "taskkill /pid" does
    EXPECT_EQ(closes, 0) << "from the message loop, not from inside the sender";
    Pump(1000, [&] { return closes > 0; });
    EXPECT_EQ(closes, 1);
    EXPECT_TRUE(IsWindow(dispatcher.helperWindow()));

    // The end of the session: at once (the process may end when the message returns).
    EXPECT_EQ(SendMessageA(dispatcher.helperWindow(), WM_QUERYENDSESSION, 0, 0), TRUE);
    SendMessageA(dispatcher.helperWindow(), WM_ENDSESSION, FALSE, 0);
    EXPECT_EQ(closes, 1) << "a cancelled end of session";
    SendMessageA(dispatcher.helperWindow(), WM_ENDSESSION, TRUE, 0);
    EXPECT_EQ(closes, 2);
}

TEST(Dispatcher, ACloseRequestWaitsForTheEventOrTheBoxThatHoldsTheCore) {
    Dispatcher dispatcher;
    RecordingSink sink;
    dispatcher.setSink(&sink);
    std::vector<std::string> order;
    dispatcher.setCloseRequest([&](EventSink&) { order.push_back("close"); });

    // A nested message loop inside the core's handling (a popup menu, say) sees the close
    // request; the core gets it only after the event.
    sink.onMouseHook = [&](const MouseEvent&) {
        order.push_back("mouse begins");
        PostMessageA(dispatcher.helperWindow(), WM_CLOSE, 0, 0);
        Pump(200);
        order.push_back("mouse ends");
    };
    dispatcher.mouse(MouseEvent {});
    Pump(200);
    EXPECT_EQ(order, (std::vector<std::string> {"mouse begins", "mouse ends", "close"}));

    // A box the event opened: the close comes once the box and the event are done.
    order.clear();
    sink.onMouseHook = [&](const MouseEvent&) {
        sink.holding = true;
        PostMessageA(dispatcher.helperWindow(), WM_CLOSE, 0, 0);
        Pump(200);
        EXPECT_TRUE(order.empty()) << "not while a box is open";
        sink.holding = false;
        order.push_back("box closed");
    };
    dispatcher.mouse(MouseEvent {});
    Pump(1000, [&] { return order.size() > 1; });
    EXPECT_EQ(order, (std::vector<std::string> {"box closed", "close"}));
}

TEST(Hotkeys, CoreProcedureHandsEveryMessageToTheCoreAndBack) {
    Dispatcher dispatcher;
    RecordingSink sink;
    dispatcher.setSink(&sink);
    Win32Hotkeys hotkeys(dispatcher);
    HWND window = CreateWindowExA(0, "STATIC", "abc", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr,
                                  GetModuleHandleA(nullptr), nullptr);
    ASSERT_TRUE(window);
    const auto handle = reinterpret_cast<NativeHandle>(window);
    const WindowProc previous = hotkeys.setWindowProc(handle, hotkeys.coreProcedure());
    ASSERT_NE(previous, 0);
    EXPECT_EQ(hotkeys.setWindowProc(handle, hotkeys.coreProcedure()), hotkeys.coreProcedure());

    sink.windowMessageResult = 42;
    EXPECT_EQ(SendMessageA(window, WM_USER + 5, 7, 9), 42);
    ASSERT_EQ(sink.windowMessages.size(), 1u);
    EXPECT_EQ(sink.windowMessages[0].window, handle);
    EXPECT_EQ(sink.windowMessages[0].message, static_cast<std::uint32_t>(WM_USER + 5));
    EXPECT_EQ(sink.windowMessages[0].wParam, 7u);
    EXPECT_EQ(sink.windowMessages[0].lParam, 9);

    // The previous procedure still answers through callWindowProc.
    EXPECT_EQ(hotkeys.callWindowProc(previous, handle, WM_GETTEXTLENGTH, 0, 0), 3);

    EXPECT_EQ(hotkeys.setWindowProc(handle, previous), hotkeys.coreProcedure());
    DestroyWindow(window);
}

TEST(Hotkeys, AKeyTheKeyboardLacksIsToldApartFromATakenOneAndKeysGoByTheirLabels) {
    Dispatcher dispatcher;
    Win32Hotkeys hotkeys(dispatcher);
    HWND window = CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr,
                                  GetModuleHandleA(nullptr), nullptr);
    ASSERT_TRUE(window);
    const auto handle = reinterpret_cast<NativeHandle>(window);
    // The test display's keyboard has no F13: the layout gives it no scan code.
    ASSERT_EQ(MapVirtualKeyA(VK_F13, MAPVK_VK_TO_VSC), 0u);
    EXPECT_FALSE(hotkeys.registerHotKey(handle, 1, MOD_CONTROL, VK_F13));
    EXPECT_EQ(hotkeys.lastRefusal(), HotkeyRefusal::NoSuchKey);
    // Held by another registration: taken.
    ASSERT_TRUE(RegisterHotKey(nullptr, 7, MOD_CONTROL | MOD_ALT, VK_F11));
    EXPECT_FALSE(hotkeys.registerHotKey(handle, 2, MOD_CONTROL | MOD_ALT, VK_F11));
    EXPECT_EQ(hotkeys.lastRefusal(), HotkeyRefusal::Taken);
    UnregisterHotKey(nullptr, 7);
    EXPECT_TRUE(hotkeys.registerHotKey(handle, 2, MOD_CONTROL | MOD_ALT, VK_F11));
    EXPECT_TRUE(hotkeys.unregisterHotKey(handle, 2));

    EXPECT_EQ(hotkeys.combinationName(MOD_WIN, VK_OEM_PLUS), "Windows + plus");
    EXPECT_EQ(hotkeys.combinationName(MOD_CONTROL | MOD_ALT, VK_NEXT), "Ctrl + Alt + PageDown");
    // Keys with a character by the character on them, also one the settings have no name
    // for (the key beside the left Shift).
    EXPECT_EQ(hotkeys.combinationName(MOD_CONTROL | MOD_SHIFT, 'A'), "Ctrl + Shift + A");
    EXPECT_EQ(hotkeys.combinationName(MOD_WIN, VK_OEM_4), "Windows + [");
    EXPECT_EQ(hotkeys.combinationName(MOD_WIN, VK_OEM_102), "Windows + <");
    DestroyWindow(window);
}

}  // namespace
}  // namespace vexlo::win32
