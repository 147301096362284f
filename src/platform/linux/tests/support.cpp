#include "support.h"

#include <sys/stat.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "platform/linux/x11_util.h"

namespace vexlo::linux_platform::testing {

bool WaitFor(const std::function<bool()>& condition, std::chrono::milliseconds limit) {
    QElapsedTimer clock;
    clock.start();
    while (!condition()) {
        if (clock.elapsed() > limit.count()) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        ::usleep(2000);
    }
    return true;
}

void Pump(std::chrono::milliseconds duration) {
    WaitFor([] { return false; }, duration);
}

std::string Shell(const std::string& command, int* status) {
    std::string out;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) {
        if (status != nullptr) *status = -1;
        return out;
    }
    char buffer[512];
    while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) out += buffer;
    const int rc = ::pclose(pipe);
    if (status != nullptr) *status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
    return out;
}

std::string SinkName() {
    const char* sink = std::getenv("VEXLO_SINK");
    return sink != nullptr ? sink : "";
}

bool HaveSoundServer() {
    if (SinkName().empty()) return false;
    int status = 0;
    Shell("pactl info >/dev/null 2>&1", &status);
    return status == 0;
}

bool HaveX() {
    return X11Connection() != nullptr;
}

TempDir::TempDir() {
    char pattern[] = "/tmp/vexlo-test.XXXXXX";
    const char* made = ::mkdtemp(pattern);
    path_ = made != nullptr ? made : "/tmp";
}

TempDir::~TempDir() {
    if (path_.rfind("/tmp/vexlo-test.", 0) == 0) Shell("rm -rf '" + path_ + "'");
}

void TempDir::write(const std::string& name, const std::string& text, bool executable) const {
    const std::string path = file(name);
    std::ofstream(path, std::ios::binary) << text;
    if (executable) ::chmod(path.c_str(), 0755);
}

ScopedEnv::ScopedEnv(const char* name, const char* value) : name_(name) {
    const char* old = std::getenv(name);
    had_ = old != nullptr;
    if (had_) old_ = old;
    if (value != nullptr) {
        ::setenv(name, value, 1);
    } else {
        ::unsetenv(name);
    }
}

ScopedEnv::~ScopedEnv() {
    if (had_) {
        ::setenv(name_.c_str(), old_.c_str(), 1);
    } else {
        ::unsetenv(name_.c_str());
    }
}

}  // namespace vexlo::linux_platform::testing
