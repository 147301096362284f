#include "platform/linux/system_services.h"

#include <canberra.h>
#include <fcntl.h>
#include <pwd.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QCoreApplication>
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "platform/common/sound_check.h"
#include "platform/linux/mapped_file.h"

namespace vexlo::linux_platform {

// ---- Sound -------------------------------------------------------------------------------

namespace {
constexpr std::uint32_t kSoundId = 1;
}

CanberraSound::~CanberraSound() {
    if (context_ != nullptr) ca_context_destroy(context_);
    if (alsa_ != nullptr) ca_context_destroy(alsa_);
}

bool CanberraSound::play(const std::string& path, std::uint32_t) {
    int rc = playOnce(context_, nullptr, path);
    // A context whose connection to the sound server broke (the server was restarted) stays
    // broken: start over with a new one.
    if (rc == CA_ERROR_STATE || rc == CA_ERROR_DISCONNECTED || rc == CA_ERROR_NOTAVAILABLE) {
        ca_context_destroy(context_);
        context_ = nullptr;
        rc = playOnce(context_, nullptr, path);
    }
    if (rc == CA_SUCCESS) return true;
    // libcanberra's default driver knows only the PulseAudio server.
    const int alsa = playOnce(alsa_, "alsa", path);
    if (alsa == CA_SUCCESS) return true;
    if (alsa_ != nullptr) {
        // A device that went away leaves the context unusable too.
        ca_context_destroy(alsa_);
        alsa_ = nullptr;
    }
    if (!reported_) {
        reported_ = true;
        std::fprintf(
            stderr, "vexlo: %s\n",
            Fill(Tr(texts(), "the click cannot be played: {error} (through ALSA: {alsa})."),
                 {{"error", ca_strerror(rc)}, {"alsa", ca_strerror(alsa)}})
                .c_str());
    }
    return false;
}

std::string CanberraSound::problem(const std::string& path) {
    const MappedFile file(LinuxProgramInfo::NativePath(path));
    return file.error().empty() ? SoundDataProblem(file.data(), file.size()) : file.error();
}

int CanberraSound::playOnce(ca_context*& context, const char* driver, const std::string& path) {
    if (context == nullptr) {
        if (ca_context_create(&context) != CA_SUCCESS) {
            context = nullptr;
            return CA_ERROR_OOM;
        }
        if (driver != nullptr) ca_context_set_driver(context, driver);
        ca_context_change_props(context, CA_PROP_APPLICATION_NAME, "Vexlo", CA_PROP_APPLICATION_ID,
                                "vexlo", nullptr);
    }
    // Every play returns at once; the one before is cut off.
    ca_context_cancel(context, kSoundId);
    ca_proplist* props = nullptr;
    if (ca_proplist_create(&props) != CA_SUCCESS) return CA_ERROR_OOM;
    ca_proplist_sets(props, CA_PROP_MEDIA_FILENAME, LinuxProgramInfo::NativePath(path).c_str());
    ca_proplist_sets(props, CA_PROP_MEDIA_ROLE, "event");
    ca_proplist_sets(props, CA_PROP_CANBERRA_CACHE_CONTROL, "never");
    const int rc = ca_context_play_full(context, kSoundId, props, nullptr, nullptr);
    ca_proplist_destroy(props);
    return rc;
}

// ---- Launcher ----------------------------------------------------------------------------

namespace {

bool IsExecutableFile(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
           ::access(path.c_str(), X_OK) == 0;
}

// The file a program name stands for: itself when it has a slash, else the first executable
// file of that name in a folder of PATH. Empty when there is none.
std::string FindProgram(const std::string& name) {
    if (name.empty()) return {};
    if (name.find('/') != std::string::npos) return IsExecutableFile(name) ? name : std::string();
    const char* path = std::getenv("PATH");
    const std::string folders = path != nullptr ? path : "/usr/local/bin:/usr/bin:/bin";
    std::size_t at = 0;
    for (;;) {
        const std::size_t colon = folders.find(':', at);
        const std::string folder = folders.substr(at, colon - at);
        const std::string candidate = (folder.empty() ? "." : folder) + "/" + name;
        if (IsExecutableFile(candidate)) return candidate;
        if (colon == std::string::npos) return {};
        at = colon + 1;
    }
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

// The words of a command line, as QProcess::splitCommand gives them but on bytes: blanks
// separate words, double quotes group, three quotes in a row stand for one, empty words drop.
std::vector<std::string> SplitWords(const std::string& text) {
    std::vector<std::string> words;
    std::string word;
    int quotes = 0;
    bool quoted = false;
    for (const char c : text) {
        if (c == '"') {
            if (++quotes == 3) {
                quotes = 0;
                word += c;
            }
            continue;
        }
        if (quotes == 1) quoted = !quoted;
        quotes = 0;
        if (!quoted && std::isspace(static_cast<unsigned char>(c))) {
            if (!word.empty()) words.push_back(std::move(word));
            word.clear();
        } else {
            word += c;
        }
    }
    if (!word.empty()) words.push_back(std::move(word));
    return words;
}

struct Command {
    std::string program;  // as written, for messages
    std::string file;     // the executable file it names; empty when there is none
    std::vector<std::string> arguments;
};

// A line that starts with a quote names its program in the quotes. Otherwise, as Windows
// reads an unquoted line, the program is the shortest run of leading words that names an
// executable file: "/opt/my mixer/run --x" runs "/opt/my mixer/run" when "/opt/my" is no
// program. When no run of words does, the first word is the program.
Command ResolveCommand(const std::string& commandLine) {
    std::size_t begin = 0;
    while (begin < commandLine.size() && IsBlank(commandLine[begin])) ++begin;
    const std::string line = commandLine.substr(begin);
    if (!line.empty() && line.front() != '"') {
        for (std::size_t end = 1; end <= line.size(); ++end) {
            if (end < line.size() && !(IsBlank(line[end]) && !IsBlank(line[end - 1]))) continue;
            const std::string candidate = line.substr(0, end);
            const std::string file = FindProgram(candidate);
            if (!file.empty()) return {candidate, file, SplitWords(line.substr(end))};
        }
    }
    std::vector<std::string> words = SplitWords(line);
    if (words.empty()) return {};
    Command command {words.front(), FindProgram(words.front()), {}};
    command.arguments.assign(words.begin() + 1, words.end());
    return command;
}

// Starts the program in a session of its own, with no input, the default signal handling and
// no signal blocked; a thread of its own collects it when it ends.
LaunchResult StartCommand(const Command& command) {
    if (command.program.empty()) return {false, "the command line is empty"};
    const std::string& file = command.file.empty() ? command.program : command.file;
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(command.program.c_str()));
    for (const std::string& argument : command.arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawnattr_init(&attributes);
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &all);
    posix_spawnattr_setflags(&attributes,
                             POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    pid_t pid = 0;
    const int rc =
        file.find('/') != std::string::npos
            ? ::posix_spawn(&pid, file.c_str(), &actions, &attributes, argv.data(), environ)
            : ::posix_spawnp(&pid, file.c_str(), &actions, &attributes, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (rc != 0) return {false, std::strerror(rc)};
    std::thread([pid] {
        while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {}
    }).detach();
    return {true, {}};
}

}  // namespace

std::vector<std::string> ProcessLauncher::DefaultMixers(const std::string& desktop) {
    // The desktop's own volume settings first, then the volume controls that serve any desktop
    // (PulseAudio's and PipeWire's), then ALSA's mixer in a terminal.
    std::vector<std::string> own;
    auto is = [&](const char* name) {
        return (":" + desktop + ":").find(std::string(":") + name + ":") != std::string::npos;
    };
    if (is("KDE")) own = {"kcmshell6 kcm_pulseaudio", "kcmshell5 kcm_pulseaudio", "kmix"};
    if (is("GNOME") || is("Unity") || is("Budgie")) own = {"gnome-control-center sound"};
    if (is("X-Cinnamon") || is("Cinnamon")) own = {"cinnamon-settings sound"};
    if (is("MATE")) own = {"mate-volume-control"};
    if (is("XFCE")) own = {"pavucontrol", "xfce4-mixer"};
    if (is("LXQt")) own = {"pavucontrol-qt"};
    const std::vector<std::string> any = {"pavucontrol",
                                          "pwvucontrol",
                                          "pavucontrol-qt",
                                          "kcmshell6 kcm_pulseaudio",
                                          "kcmshell5 kcm_pulseaudio",
                                          "gnome-control-center sound",
                                          "cinnamon-settings sound",
                                          "mate-volume-control",
                                          "xfce4-mixer",
                                          "kmix",
                                          "x-terminal-emulator -e alsamixer",
                                          "xterm -e alsamixer"};
    std::vector<std::string> order = own;
    for (const std::string& mixer : any) {
        if (std::find(order.begin(), order.end(), mixer) == order.end()) order.push_back(mixer);
    }
    return order;
}

std::vector<std::string> ProcessLauncher::DefaultMixers() {
    const char* desktop = std::getenv("XDG_CURRENT_DESKTOP");
    return DefaultMixers(desktop != nullptr ? desktop : "");
}

LaunchResult ProcessLauncher::start(const std::string& commandLine, int) {
    if (commandLine != "sndvol32") {
        const Command command = ResolveCommand(commandLine);
        if (command.program.empty()) return {false, Tr(texts(), "the command line is empty")};
        return StartCommand(command);
    }
    // The system's own mixer is the desktop's volume control: the first one there that starts.
    std::string looked, failures;
    for (const std::string& mixer : mixers_) {
        const Command command = ResolveCommand(mixer);
        looked += (looked.empty() ? "" : ", ") + command.program;
        if (command.file.empty()) continue;
        const LaunchResult result = StartCommand(command);
        if (result.started) return result;
        failures += (failures.empty() ? "" : "; ") + command.program + ": " + result.error;
    }
    if (!failures.empty()) {
        return {false, Fill(Tr(texts(),
                               "none of the desktop's volume controls could be started "
                               "({failures})"),
                            {{"failures", failures}})};
    }
    return {false, Fill(Tr(texts(),
                           "none of the desktop's volume controls was found (looked for "
                           "{programs})"),
                        {{"programs", looked}})};
}

// ---- Profile -----------------------------------------------------------------------------

namespace {

bool MakeFolders(const std::string& folder) {
    if (folder.empty()) return true;
    std::string partial;
    std::size_t at = 0;
    while (at != std::string::npos) {
        at = folder.find('/', at + 1);
        partial = folder.substr(0, at);
        if (partial.empty()) continue;
        // As the base directory rules ask for folders made on the way.
        if (::mkdir(partial.c_str(), 0700) != 0 && errno != EEXIST) return false;
    }
    return true;
}

}  // namespace

std::string LinuxProfile::getString(const std::string& section, const std::string& key,
                                    const std::string& defaultValue, std::uint32_t size,
                                    const std::string& path) {
    return file_.getString(section, key, defaultValue, size, LinuxProgramInfo::NativePath(path));
}

std::int32_t LinuxProfile::writeString(const std::string& section, const std::string& key,
                                       const std::string& value, const std::string& path) {
    const std::string native = LinuxProgramInfo::NativePath(path);
    const std::size_t slash = native.rfind('/');
    if (slash != std::string::npos && !MakeFolders(native.substr(0, slash))) return 0;
    return file_.writeString(section, key, value, native);
}

// ---- Program -----------------------------------------------------------------------------

namespace {

bool IsFolder(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool IsFile(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

}  // namespace

LinuxProgramInfo::LinuxProgramInfo(std::string executableFolder, std::string commandLine)
    : executableFolder_(std::move(executableFolder)), commandLine_(std::move(commandLine)) {
    const std::string installed = executableFolder_ + "/../share/vexlo/skin";
    if (IsFolder(installed)) {
        char resolved[PATH_MAX];
        skinFolder_ = ::realpath(installed.c_str(), resolved) != nullptr ? resolved : installed;
    } else {
        skinFolder_ = executableFolder_;
    }
}

std::string LinuxProgramInfo::settingsFolder() const {
    if (IsFile(executableFolder_ + "/core.ini")) return executableFolder_;
    const char* config = std::getenv("XDG_CONFIG_HOME");
    // Relative values are to be ignored.
    if (config != nullptr && config[0] == '/') return std::string(config) + "/vexlo";
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] != '\0') return std::string(home) + "/.config/vexlo";
    // No HOME: the home folder the user database gives; with none, the program's own folder.
    if (const passwd* user = ::getpwuid(::getuid());
        user != nullptr && user->pw_dir != nullptr && user->pw_dir[0] == '/') {
        return std::string(user->pw_dir) + "/.config/vexlo";
    }
    return executableFolder_;
}

std::string LinuxProgramInfo::NativePath(const std::string& path) {
    // The program puts a backslash between a folder and a bare file name, so the join is the
    // last backslash, and only when no slash follows it.
    const std::size_t join = path.rfind('\\');
    if (join == std::string::npos || path.find('/', join) != std::string::npos) return path;
    std::string native = path;
    native[join] = '/';
    return native;
}

std::string LinuxProgramInfo::ExecutableFolder() {
    char buffer[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (n <= 0) return ".";
    const std::string path(buffer, static_cast<std::size_t>(n));
    const std::size_t slash = path.rfind('/');
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string LinuxProgramInfo::JoinArguments(int argc, char** argv) {
    std::string text;
    for (int i = 1; i < argc; ++i) {
        if (i > 1) text += ' ';
        text += argv[i];
    }
    return text;
}

// ---- Process -----------------------------------------------------------------------------

void QtProcess::exit(int code) {
    exited_ = true;
    code_ = code;
    // Before the event loop runs this does nothing; main looks at exited() after start.
    QCoreApplication::exit(code);
}

}  // namespace vexlo::linux_platform
