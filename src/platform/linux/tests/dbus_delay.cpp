// For the adapter tests only, loaded with LD_PRELOAD: a pause of 3 ms before every
// QObject::disconnect made on QtDBus's own thread. That is where a connection's close-down
// unsubscribes the objects still subscribed to it; the pause widens the moment in which an
// object freed meanwhile would be touched, so that a test meets it every time instead of now
// and then. The object is then looked at here, where the sanitizers' build sees the access
// (Qt's own code is not instrumented).
#include <dlfcn.h>
#include <pthread.h>

#include <QObject>
#include <cstring>
#include <ctime>

bool QObject::disconnect(const QObject* sender, const char* signal, const QObject* receiver,
                         const char* method) {
    using Disconnect = bool (*)(const QObject*, const char*, const QObject*, const char*);
    static const auto next =
        reinterpret_cast<Disconnect>(dlsym(RTLD_NEXT, "_ZN7QObject10disconnectEPKS_PKcS1_S3_"));
    char name[16] = {};
    pthread_getname_np(pthread_self(), name, sizeof name);
    if (std::strcmp(name, "QDBusConnection") == 0) {
        const timespec pause {0, 3'000'000};
        nanosleep(&pause, nullptr);
        if (sender != nullptr) {
            [[maybe_unused]] const char first = *reinterpret_cast<const volatile char*>(sender);
        }
    }
    return next(sender, signal, receiver, method);
}
