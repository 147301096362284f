// For the adapter tests only, loaded with LD_PRELOAD: pauses that widen the moment in which a
// D-Bus connection's close-down could meet an object being destroyed, so that a test meets it
// every time instead of now and then, as on a loaded machine.
//
// The close-down runs on QtDBus's own thread ("QDBusConnection") and unsubscribes every
// object still subscribed to the connection. Each unsubscription pauses for 5 ms after the
// connections are removed (in disconnectNotify, which QObject::disconnect calls on the object
// then) and then looks at the object, where the sanitizers' build sees the access (Qt's own
// code is not instrumented). On the main thread every dropped reference to a connection is
// followed by a pause of 3 ms, in which the close-down it may have started gets ahead.
#include <dlfcn.h>
#include <pthread.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <QDBusConnection>
#include <QMetaMethod>
#include <QObject>
#include <cstring>
#include <ctime>

namespace {

void PauseMs(long ms) {
    const timespec pause {0, ms * 1'000'000};
    nanosleep(&pause, nullptr);
}

bool OnThread(const char* wanted) {
    char name[16] = {};
    pthread_getname_np(pthread_self(), name, sizeof name);
    return std::strcmp(name, wanted) == 0;
}

bool OnMainThread() {
    return ::syscall(SYS_gettid) == ::getpid();
}

}  // namespace

void QObject::disconnectNotify(const QMetaMethod&) {
    if (!OnThread("QDBusConnection")) return;
    PauseMs(5);
    [[maybe_unused]] const char first = *reinterpret_cast<const volatile char*>(this);
}

QDBusConnection::~QDBusConnection() {
    using Destructor = void (*)(QDBusConnection*);
    static const auto next =
        reinterpret_cast<Destructor>(dlsym(RTLD_NEXT, "_ZN15QDBusConnectionD1Ev"));
    next(this);
    if (OnMainThread()) PauseMs(3);
}
