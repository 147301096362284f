#include "platform/linux/running_instance.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <memory>

namespace vexlo::linux_platform {

namespace {
const QString kService = QStringLiteral("io.github.vexlo.vexlo");
const QString kPath = QStringLiteral("/io/github/vexlo/vexlo");
const QString kInterface = QStringLiteral("io.github.vexlo.Vexlo");
constexpr int kCallTimeoutMs = 500;
}  // namespace

RunningInstance::RunningInstance(EventPort& port) : port_(port) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) return;
    // Another resident on the same bus (a second display of one session) keeps the name.
    if (!bus.registerService(kService)) return;
    registered_ = bus.registerObject(kPath, this, QDBusConnection::ExportScriptableSlots);
    if (!registered_) bus.unregisterService(kService);
}

RunningInstance::~RunningInstance() {
    if (!registered_) return;
    QDBusConnection bus = QDBusConnection::sessionBus();
    bus.unregisterObject(kPath);
    bus.unregisterService(kService);
}

void RunningInstance::LevelUnchanged() {
    port_.deliver([](EventSink& sink) { sink.onLevelUnchanged(); });
}

void TellLevelUnchanged() {
    // QtDBus wants an application object; the volume commands run without one.
    std::unique_ptr<QCoreApplication> app;
    static int argc = 1;
    static char name[] = "vexlo";
    static char* argv[] = {name, nullptr};
    if (QCoreApplication::instance() == nullptr) {
        app = std::make_unique<QCoreApplication>(argc, argv);
    }
    {
        QDBusConnection bus = QDBusConnection::sessionBus();
        if (!bus.isConnected()) return;
        QDBusMessage call =
            QDBusMessage::createMethodCall(kService, kPath, kInterface, "LevelUnchanged");
        call.setAutoStartService(false);
        bus.call(call, QDBus::Block, kCallTimeoutMs);
    }
}

}  // namespace vexlo::linux_platform
