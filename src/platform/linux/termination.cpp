#include "platform/linux/termination.h"

#include <fcntl.h>
#include <unistd.h>

#include <QApplication>
#include <QSocketNotifier>
#include <QTimer>
#include <QWidget>
#include <cerrno>
#include <csignal>

namespace vexlo::linux_platform {

namespace {

constexpr int kRetryMs = 20;
constexpr int kSignals[] = {SIGHUP, SIGINT, SIGTERM};

// The write end is all a signal handler may touch.
int g_pipe[2] = {-1, -1};

extern "C" void OnSignal(int signal) {
    const int saved = errno;
    const char byte = static_cast<char>(signal);
    [[maybe_unused]] const ssize_t n = ::write(g_pipe[1], &byte, 1);
    // The next one of this kind is not asked twice.
    std::signal(signal, SIG_DFL);
    errno = saved;
}

}  // namespace

TerminationSignals::TerminationSignals(EventPort& port, std::function<void(EventSink&)> quit)
    : port_(port), quit_(std::move(quit)) {
    if (g_pipe[0] < 0 && ::pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
    notifier_ = new QSocketNotifier(g_pipe[0], QSocketNotifier::Read);
    QObject::connect(notifier_, &QSocketNotifier::activated, notifier_, [this] { received(); });
    struct sigaction action {};
    action.sa_handler = &OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signal : kSignals) ::sigaction(signal, &action, nullptr);
}

TerminationSignals::~TerminationSignals() {
    for (int signal : kSignals) std::signal(signal, SIG_DFL);
    delete notifier_;
}

void TerminationSignals::received() {
    char buffer[16];
    while (::read(g_pipe[0], buffer, sizeof buffer) > 0) {
    }
    if (pending_ || done_) return;
    pending_ = true;
    tryQuit();
}

void TerminationSignals::tryQuit() {
    if (port_.holding()) {
        // The box's own event loop holds the core's events back: close it; the handler that
        // opened it carries on (a fatal error then ends the program itself).
        if (QWidget* box = QApplication::activeModalWidget()) box->close();
        QTimer::singleShot(kRetryMs, notifier_, [this] { tryQuit(); });
        return;
    }
    pending_ = false;
    done_ = port_.deliver([this](EventSink& sink) { quit_(sink); });
}

}  // namespace vexlo::linux_platform
