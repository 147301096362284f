// The services that are not about windows: the click sound (libcanberra), starting programs
// (no shell; paths and arguments are bytes), the profile file, what the program knows about
// itself, and ending.
#pragma once

#include <string>
#include <vector>

#include "platform/common/file_profile.h"
#include "platform/launcher.h"
#include "platform/profile_file.h"
#include "platform/program.h"
#include "platform/sound.h"
#include "platform/texts.h"

struct ca_context;

namespace vexlo::linux_platform {

class CanberraSound : public Sound, public UsesTexts {
  public:
    ~CanberraSound() override;
    // Plays the file through the sound server; a new sound cancels the one still playing.
    // After the server was restarted the next play connects anew. Where no PulseAudio server
    // answers (pipewire-alsa, plain ALSA) the sound goes to ALSA's default device. When it
    // cannot play at all, that is said once on stderr.
    bool play(const std::string& path, std::uint32_t flags) override;
    std::string problem(const std::string& path) override;

  private:
    // A libcanberra result code; driver null for libcanberra's default (the sound server).
    int playOnce(ca_context*& context, const char* driver, const std::string& path);
    ca_context* context_ = nullptr;  // the default driver
    ca_context* alsa_ = nullptr;     // ALSA, for when the default cannot play
    bool reported_ = false;
};

class ProcessLauncher : public Launcher, public UsesTexts {
  public:
    // The programs tried, in order, when the system's own mixer ("sndvol32") is asked for:
    // the volume controls of the desktop named (as in XDG_CURRENT_DESKTOP) first.
    static std::vector<std::string> DefaultMixers(const std::string& desktop);
    static std::vector<std::string> DefaultMixers();  // for this session's desktop

    ProcessLauncher() : mixers_(DefaultMixers()) {}
    explicit ProcessLauncher(std::vector<std::string> mixers) : mixers_(std::move(mixers)) {}
    // Starts the command line detached, without a shell: the program is the quoted first word,
    // or the shortest run of leading words that names an executable file (so an unquoted
    // "/opt/my mixer/run" works); the rest is split into words as a shell would (double
    // quotes group, no expansion).
    LaunchResult start(const std::string& commandLine, int showCommand) override;

  private:
    std::vector<std::string> mixers_;
};

// The profile file, creating the settings folder on the first write.
class LinuxProfile : public ProfileFile {
  public:
    std::string getString(const std::string& section, const std::string& key,
                          const std::string& defaultValue, std::uint32_t size,
                          const std::string& path) override;
    std::int32_t writeString(const std::string& section, const std::string& key,
                             const std::string& value, const std::string& path) override;

  private:
    FileProfile file_;
};

// Where the program's files are:
//  - skin: "<exe>/../share/vexlo/skin" when that exists (an installed program), otherwise the
//    executable's own folder (a build tree, where the build puts the skin beside the binary);
//  - settings: the executable's folder when a core.ini stands there (portable use), otherwise
//    $XDG_CONFIG_HOME/vexlo when that is absolute, else ~/.config/vexlo (HOME, or the user
//    database's home folder when HOME is unset or empty).
class LinuxProgramInfo : public ProgramInfo {
  public:
    LinuxProgramInfo(std::string executableFolder, std::string commandLine);
    std::string folder() const override { return skinFolder_; }
    std::string settingsFolder() const override;
    std::string commandLine() const override { return commandLine_; }
    std::string nativePath(const std::string& path) const override { return NativePath(path); }

    // A path the program built, with its folder-to-name backslash made a slash; every other
    // byte stays. The one place where the program's paths become file paths.
    static std::string NativePath(const std::string& path);
    // The folder part of the running executable's path (/proc/self/exe).
    static std::string ExecutableFolder();
    // argv[1..] joined with single spaces.
    static std::string JoinArguments(int argc, char** argv);

  private:
    std::string executableFolder_;
    std::string skinFolder_;
    std::string commandLine_;
};

// Ends the event loop with the code; main returns it.
class QtProcess : public Process {
  public:
    void exit(int code) override;
    bool exited() const { return exited_; }
    int code() const { return code_; }

  private:
    bool exited_ = false;
    int code_ = 0;
};

}  // namespace vexlo::linux_platform
