#include "platform/linux/bus_connection.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QTimer>

namespace vexlo::linux_platform {

QDBusConnection OpenBus(const QString& address, const QString& prefix) {
    static int serial = 0;
    const QString name = QStringLiteral("%1-%2").arg(prefix).arg(++serial);
    // Where nothing listens this fails at once; a bus that is there answers its Hello quickly.
    if (!address.isEmpty()) return QDBusConnection::connectToBus(address, name);
    if (!qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS")) {
        return QDBusConnection::connectToBus(QDBusConnection::SessionBus, name);
    }
    // No address given: the user's bus where the system keeps one, and never a bus started
    // for the display on demand (dbus-launch).
    const QString socket = qEnvironmentVariable("XDG_RUNTIME_DIR") + QStringLiteral("/bus");
    if (qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR") || !QFileInfo(socket).exists()) {
        return QDBusConnection(QString());
    }
    return QDBusConnection::connectToBus(QStringLiteral("unix:path=") + socket, name);
}

void ReleaseBus(QDBusConnection& connection) {
    const QString name = connection.name();
    QDBusConnection last = connection;
    connection = QDBusConnection(QString());
    if (name.isEmpty()) return;
    QDBusConnection::disconnectFromBus(name);
    QCoreApplication* app = QCoreApplication::instance();
    if (app == nullptr) return;
    QTimer::singleShot(0, app, [last] {});
}

}  // namespace vexlo::linux_platform
