// The Linux program: Qt for windows, tray, timers and boxes; ALSA for the mixer; X key grabs
// for the hotkeys; libcanberra for the click sound.
#include <sys/stat.h>
#include <xcb/xcb.h>

#include <QApplication>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>

#include "controller/application.h"
#include "controller/errors.h"
#include "controller/skin_command.h"
#include "controller/volume_command.h"
#include "display/skin_check.h"
#include "platform/common/catalogue.h"
#include "platform/linux/desktop_keys.h"
#include "platform/linux/linux_platform.h"
#include "platform/linux/running_instance.h"
#include "platform/linux/termination.h"
#include "tray/frmHelper.h"

namespace {

using vexlo::Fill;
using vexlo::N_;
using vexlo::Tr;

constexpr int kAlreadyRunning = 2;

constexpr int kNoDisplay = 1;

constexpr int kCommandFailed = 1;

constexpr const char* kUsage =
    N_("Usage: vexlo [/control | --control]\n"
       "       vexlo --volume-up | --volume-down | --volume-mute\n"
       "       vexlo --check-skin FOLDER | --preview-skin FOLDER\n"
       "\n"
       "Shows every change of the master volume on screen.\n"
       "\n"
       "  vexlo              resident: the on-screen display, the tray icon (left\n"
       "                     press: mixer or slider; right press: \"Open Mixer\" and\n"
       "                     \"Quit\"); hotkeys Super + = (louder), Super + - (softer)\n"
       "  vexlo /control     the volume slider alone; a double-click on it quits\n"
       "  vexlo --volume-up, --volume-down\n"
       "                     steps the master volume once, as Super + = and\n"
       "                     Super + - do, and exits (for the desktop's own keyboard\n"
       "                     shortcuts; a running Vexlo shows the change)\n"
       "  vexlo --volume-mute\n"
       "                     mutes the master volume, or unmutes it when muted, and\n"
       "                     exits, as the two above (Super + = also unmutes)\n"
       "  vexlo --check-skin FOLDER\n"
       "                     checks the skin in FOLDER: every file loads, and sizes\n"
       "                     and see-through colour fit the display; prints each\n"
       "                     finding with what to change (exit 0: fine, 1: not fine)\n"
       "  vexlo --preview-skin FOLDER\n"
       "                     shows the display with the skin in FOLDER, going through\n"
       "                     the levels once a second; the volume stays as it is.\n"
       "                     Esc or a click on the display ends it\n"
       "  vexlo --help, -h   this text\n"
       "  vexlo --version    the version\n"
       "\n"
       "Settings: $XDG_CONFIG_HOME/vexlo/core.ini (~/.config/vexlo/core.ini), or\n"
       "core.ini beside the program. Skin: share/vexlo/skin beside the program's\n"
       "folder, or the program's own folder.\n");

// What the command line asks for before any window exists.
enum class Request { Run, Help, Version };

// The desktop starts Vexlo at login as "vexlo --autostart". Up to version 1.0.0 the autostart
// entry was named vexlo.desktop; a user who turned it off then has a vexlo.desktop in their own
// autostart folder, which the renamed entry no longer matches. Such a copy is still honoured.
bool AutostartTurnedOff() {
    const char* config = std::getenv("XDG_CONFIG_HOME");
    const char* home = std::getenv("HOME");
    std::string folder;
    if (config != nullptr && config[0] == '/') {
        folder = config;
    } else if (home != nullptr && *home != '\0') {
        folder = std::string(home) + "/.config";
    } else {
        return false;
    }
    std::ifstream entry(folder + "/autostart/vexlo.desktop");
    std::string line;
    while (std::getline(entry, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line == "Hidden=true" || line == "X-GNOME-Autostart-enabled=false") return true;
    }
    return false;
}

Request ReadRequest(int argc, char** argv) {
    if (argc != 2) return Request::Run;
    if (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)
        return Request::Help;
    if (std::strcmp(argv[1], "--version") == 0) return Request::Version;
    return Request::Run;
}

// Global key grabs, the display's placement above other windows and the slider's and menu's
// positions need X; under Wayland that is XWayland, whatever QT_QPA_PLATFORM asks of Qt
// programs in general (many Wayland users set it to wayland for all of them). Without a
// display Qt would abort with a long story about plugins; one line naming the problem serves
// better. Returns false when there is no display to run on.
bool PrepareQt(const vexlo::Texts& texts) {
    setenv("QT_QPA_PLATFORM", "xcb", 1);
    // Qt's XInput 2 handling crashes when a pointer device appears soon after the start (a
    // mouse plugged in, a Wayland compositor adding its virtual pointer to Xwayland). Without
    // it Qt takes the core X events: the wheel over the tray icon comes in whole notches (a
    // touchpad's as the X server's notches), touches as the pointer the server makes of them.
    setenv("QT_XCB_NO_XI2", "1", 0);
    const char* display = std::getenv("DISPLAY");
    if (display == nullptr || *display == '\0') {
        std::fprintf(stderr, "vexlo: %s\n",
                     Tr(texts,
                        "no X display (DISPLAY is not set). Vexlo needs an X11 session, or "
                        "XWayland under Wayland.")
                         .c_str());
        return false;
    }
    xcb_connection_t* probe = xcb_connect(nullptr, nullptr);
    const bool open = xcb_connection_has_error(probe) == 0;
    xcb_disconnect(probe);
    if (!open) {
        std::fprintf(
            stderr, "vexlo: %s\n",
            Fill(Tr(texts, "cannot open the X display \"{display}\"."), {{"display", display}})
                .c_str());
        return false;
    }
    return true;
}

// Boxes of the volume commands: they run without a display, so a box is a line on stderr.
class StderrBoxes final : public vexlo::MessageBoxes {
  public:
    int show(const std::string& text, const std::string& caption, std::uint32_t) override {
        std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
        return vexlo::IDOK;
    }
};

// One step of the master volume, or its mute switched over, and the end of the program: no
// display, no second copy.
int RunVolumeCommand(vexlo::VolumeCommand command, const vexlo::Texts& texts) {
    vexlo::linux_platform::AlsaMixer mixer;
    mixer.reportReachability(false);
    vexlo::linux_platform::AlsaWaveIn waveIn;
    StderrBoxes boxes;
    const vexlo::VolumeCommandResult result =
        vexlo::RunVolumeCommand(command, mixer, waveIn, boxes, texts);
    if (!result.ok) std::fprintf(stderr, "vexlo: %s.\n", result.error.c_str());
    const int code = result.ok ? 0 : kCommandFailed;
    if (result.unchanged) {
        vexlo::linux_platform::TellLevelUnchanged();
        // QtDBus's own thread may still be dispatching on its connection while the process
        // ends, and then meets Qt's type registry already gone ("invalid type" warnings, now
        // and then worse): the command ends here, with its output written, before the static
        // objects go.
        std::fflush(nullptr);
        std::_Exit(code);
    }
    return code;
}

// The skin author's commands: the check needs no display; the preview shows the display's
// windows and nothing else.
int RunSkinRequest(const vexlo::SkinRequest& request, const vexlo::Texts& texts, int argc,
                   char** argv) {
    using vexlo::linux_platform::LinuxPlatform;
    using vexlo::linux_platform::LinuxProgramInfo;
    if (!request.error.empty()) {
        std::fprintf(stderr, "vexlo: %s.\n", request.error.c_str());
        return kCommandFailed;
    }
    struct stat st {};
    if (::stat(request.folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        std::fprintf(stderr, "vexlo: %s is not a folder.\n", request.folder.c_str());
        return kCommandFailed;
    }
    if (request.command == vexlo::SkinCommand::Check) {
        // Qt's picture readers, without a display.
        QCoreApplication qt(argc, argv);
        vexlo::linux_platform::QtImageLoader images;
        vexlo::linux_platform::CanberraSound sound;
        const std::vector<std::string> findings = vexlo::CheckSkin(images, sound, request.folder);
        std::fputs(vexlo::SkinReport(request.folder, findings).c_str(), stdout);
        return findings.empty() ? 0 : kCommandFailed;
    }
    if (!PrepareQt(texts)) return kNoDisplay;
    QApplication qt(argc, argv);
    QApplication::setApplicationName("Vexlo");
    QApplication::setQuitOnLastWindowClosed(false);
    LinuxPlatform adapters(LinuxProgramInfo::ExecutableFolder(), "", texts,
                           LinuxPlatform::Use::SkinPreview);
    vexlo::Application app(adapters.platform());
    adapters.setSink(&app);
    vexlo::linux_platform::TerminationSignals termination(
        adapters.port, [](vexlo::EventSink& sink) { sink.onMenuCommand(vexlo::kMenuQuit); });
    std::printf("vexlo: previewing the skin in %s; Esc or a click on the display ends it.\n",
                request.folder.c_str());
    std::fflush(stdout);
    app.startPreview(request.folder);
    if (app.ended()) return app.exitCode();
    const int code = QApplication::exec();
    return adapters.process.exited() ? adapters.process.code() : code;
}

}  // namespace

int main(int argc, char** argv) {
    using vexlo::linux_platform::BindCommandsHint;
    using vexlo::linux_platform::GnomeKeepsSuper;
    using vexlo::linux_platform::InstanceGuard;
    using vexlo::linux_platform::LinuxPlatform;
    using vexlo::linux_platform::LinuxProgramInfo;

    // The user's language, as gettext finds it.
    const vexlo::CatalogueTexts texts(
        vexlo::LanguageFallbacks(std::getenv("LANGUAGE"), std::getenv("LC_ALL"),
                                 std::getenv("LC_MESSAGES"), std::getenv("LANG")));
    switch (ReadRequest(argc, argv)) {
        case Request::Help:
            std::fputs(Tr(texts, kUsage).c_str(), stdout);
            return 0;
        case Request::Version:
            std::printf("vexlo %s\n", VEXLO_VERSION);
            return 0;
        case Request::Run:
            break;
    }
    if (argc >= 2) {
        const std::string folder = argc >= 3 ? argv[2] : "";
        const vexlo::SkinRequest skin =
            vexlo::ReadSkinRequest(argv[1], argc >= 3 ? &folder : nullptr, argc - 3);
        if (skin.command != vexlo::SkinCommand::None)
            return RunSkinRequest(skin, texts, argc, argv);
    }
    // The argument text as the program sees it, before Qt takes its own options out. The
    // usual long form of the slider switch means the switch itself.
    std::string commandLine = LinuxProgramInfo::JoinArguments(argc, argv);
    const vexlo::VolumeCommand volumeCommand = vexlo::ReadVolumeCommand(commandLine);
    if (volumeCommand != vexlo::VolumeCommand::None) return RunVolumeCommand(volumeCommand, texts);
    if (commandLine == "--control") commandLine = "/control";
    if (commandLine == "--autostart") {
        if (AutostartTurnedOff()) return 0;
        commandLine.clear();
    }
    if (!PrepareQt(texts)) return kNoDisplay;
    QApplication qt(argc, argv);
    // The name trays show for the item (StatusNotifierItem Title) and notifications carry. The
    // settings path does not come from it.
    QApplication::setApplicationName("Vexlo");
    // The application id: desktops match windows and notifications to the desktop entry by it.
    QGuiApplication::setDesktopFileName(QStringLiteral("io.github.vexlo.vexlo"));
    // The program ends through its quit operation only, not when a box or window closes.
    QApplication::setQuitOnLastWindowClosed(false);

    LinuxPlatform adapters(LinuxProgramInfo::ExecutableFolder(), commandLine, texts);
    vexlo::Application app(adapters.platform());
    adapters.setSink(&app);
    // A request to end (session end, kill, Ctrl+C) is the program's own quit.
    vexlo::linux_platform::TerminationSignals termination(
        adapters.port, [](vexlo::EventSink& sink) { sink.onMenuCommand(vexlo::kMenuQuit); });

    // One resident copy per display. The slider alone ("/control") may run beside it.
    InstanceGuard guard;
    if (!app.ControlOnlyMode()) {
        if (InstanceGuard::OtherRunning()) {
            adapters.messageBox.show(
                Tr(texts, "Vexlo is already running.") + "\n\n" +
                    Fill(Tr(texts,
                            "Its tray icon has the menu with \"{quit}\"; the slider alone "
                            "can be started with \"vexlo /control\"."),
                         {{"quit", Tr(texts, "Quit")}}),
                vexlo::kAppTitle, vexlo::MB_OK | vexlo::MB_ICONHAND);
            return kAlreadyRunning;
        }
        guard.claim();
    }
    // Volume commands that change nothing reach the resident program by its name.
    std::unique_ptr<vexlo::linux_platform::RunningInstance> running;
    if (!app.ControlOnlyMode()) {
        running = std::make_unique<vexlo::linux_platform::RunningInstance>(adapters.port);
    }

    app.start();
    if (app.ended()) return app.exitCode();
    if (adapters.hotkeys.conflict()) {
        std::fprintf(stderr, "vexlo: %s\n",
                     Tr(texts,
                        "the volume hotkeys are held by another program; they stay "
                        "unavailable to Vexlo.")
                         .c_str());
    }
    // The grabs succeed under GNOME, yet mutter keeps Super for its overview (keys chosen
    // without Super work).
    const std::string superKeys = adapters.hotkeys.superGrabs(texts);
    if (!vexlo::linux_platform::PortalShortcuts::WaylandSession() && !superKeys.empty() &&
        GnomeKeepsSuper()) {
        adapters.reportHotkeys(Fill(Tr(texts,
                                       "GNOME keeps the Super key for its overview, so "
                                       "Vexlo never gets {keys}; {hint}"),
                                    {{"keys", superKeys}, {"hint", BindCommandsHint(texts)}}));
    }
    const int code = QApplication::exec();
    return adapters.process.exited() ? adapters.process.code() : code;
}
