#include "platform/linux/system_services.h"

#include <canberra.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QProcess>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace vexlo::linux_platform {

// ---- Sound -------------------------------------------------------------------------------

namespace {
constexpr std::uint32_t kSoundId = 1;
}

CanberraSound::~CanberraSound() {
    if (context_ != nullptr) ca_context_destroy(context_);
}

bool CanberraSound::play(const std::string& path, std::uint32_t) {
    int rc = playOnce(path);
    // A context whose connection to the sound server broke (the server was restarted) stays
    // broken: start over with a new one.
    if (rc == CA_ERROR_STATE || rc == CA_ERROR_DISCONNECTED || rc == CA_ERROR_NOTAVAILABLE) {
        ca_context_destroy(context_);
        context_ = nullptr;
        rc = playOnce(path);
    }
    return rc == CA_SUCCESS;
}

int CanberraSound::playOnce(const std::string& path) {
    if (context_ == nullptr) {
        if (ca_context_create(&context_) != CA_SUCCESS) {
            context_ = nullptr;
            return CA_ERROR_OOM;
        }
        ca_context_change_props(context_, CA_PROP_APPLICATION_NAME, "Vexlo", CA_PROP_APPLICATION_ID,
                                "vexlo", nullptr);
    }
    // Every play returns at once; the one before is cut off.
    ca_context_cancel(context_, kSoundId);
    ca_proplist* props = nullptr;
    if (ca_proplist_create(&props) != CA_SUCCESS) return CA_ERROR_OOM;
    ca_proplist_sets(props, CA_PROP_MEDIA_FILENAME, NativePath(path).c_str());
    ca_proplist_sets(props, CA_PROP_MEDIA_ROLE, "event");
    ca_proplist_sets(props, CA_PROP_CANBERRA_CACHE_CONTROL, "never");
    const int rc = ca_context_play_full(context_, kSoundId, props, nullptr, nullptr);
    ca_proplist_destroy(props);
    return rc;
}

// ---- Launcher ----------------------------------------------------------------------------

std::vector<std::string> ProcessLauncher::DefaultMixers() {
    return {
        "pavucontrol", "pavucontrol-qt", "gnome-control-center sound",       "mate-volume-control",
        "xfce4-mixer", "kmix",           "x-terminal-emulator -e alsamixer", "xterm -e alsamixer"};
}

LaunchResult ProcessLauncher::StartOne(const std::string& commandLine) {
    const QStringList words = QProcess::splitCommand(QString::fromStdString(commandLine));
    if (words.isEmpty()) return {false, "the command line is empty"};
    QProcess process;
    process.setProgram(words.front());
    process.setArguments(words.mid(1));
    process.setStandardInputFile(QProcess::nullDevice());
    if (!process.startDetached()) return {false, process.errorString().toStdString()};
    return {true, {}};
}

LaunchResult ProcessLauncher::start(const std::string& commandLine, int) {
    if (commandLine != "sndvol32") return StartOne(commandLine);
    // There is no "sndvol32" here: the first of the desktop's mixer programs that starts.
    std::string tried;
    for (const std::string& mixer : mixers_) {
        const LaunchResult result = StartOne(mixer);
        if (result.started) return result;
        tried += (tried.empty() ? "" : ", ") + mixer;
    }
    return {false, "no mixer program could be started (tried " + tried + ")"};
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
    return file_.getString(section, key, defaultValue, size, path);
}

std::int32_t LinuxProfile::writeString(const std::string& section, const std::string& key,
                                       const std::string& value, const std::string& path) {
    const std::string native = NativePath(path);
    const std::size_t slash = native.rfind('/');
    if (slash != std::string::npos && !MakeFolders(native.substr(0, slash))) return 0;
    return file_.writeString(section, key, value, path);
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
    return std::string(home != nullptr ? home : "") + "/.config/vexlo";
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
