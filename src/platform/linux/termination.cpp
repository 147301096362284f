#include "platform/linux/termination.h"

#include <fcntl.h>
#include <unistd.h>

#include <QApplication>
#include <QCoreApplication>
#include <QEvent>
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

// With this handler a write to a connection whose other end is gone (the X server, the sound
// server or the bus ended first) fails with EPIPE, which the library in question takes for a
// lost connection, instead of ending the process. A handler rather than SIG_IGN: programs
// started from here do not inherit it.
extern "C" void OnBrokenPipe(int) {}

// Qt ends the program with exit() from inside its event loop when the X connection breaks.
// Since Qt 6.8 that exit() first runs Qt's clean-up of the main thread (a thread_local), which
// delivers the deferred deletions still pending: windows that a quit in the same moment (a
// session ending) handed to deleteLater would be destroyed after Qt's per-thread storage is
// gone, and ~QWindow crashes. Thread-locals end in the reverse order of their making, so this
// one, made after Qt's, runs first and drops those deletions: the process is ending, and none
// of its other windows is destroyed on that path either. After a normal end the QApplication
// is gone by then and so is everything it could drop.
struct ExitFromEventLoop {
    ExitFromEventLoop() = default;
    ExitFromEventLoop(const ExitFromEventLoop&) = delete;
    ExitFromEventLoop& operator=(const ExitFromEventLoop&) = delete;
    ~ExitFromEventLoop() {
        if (QCoreApplication::instance() != nullptr) {
            QCoreApplication::removePostedEvents(nullptr, QEvent::DeferredDelete);
        }
    }
};

}  // namespace

TerminationSignals::TerminationSignals(EventPort& port, std::function<void(EventSink&)> quit)
    : port_(port), quit_(std::move(quit)) {
    // Made on the main thread, once the QApplication exists.
    static thread_local ExitFromEventLoop exitGuard;
    struct sigaction broken {};
    broken.sa_handler = &OnBrokenPipe;
    sigemptyset(&broken.sa_mask);
    broken.sa_flags = SA_RESTART;
    ::sigaction(SIGPIPE, &broken, nullptr);
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
    while (::read(g_pipe[0], buffer, sizeof buffer) > 0) {}
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
