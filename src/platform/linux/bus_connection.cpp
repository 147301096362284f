#include "platform/linux/bus_connection.h"

#include <QCoreApplication>
#include <QTimer>

namespace vexlo::linux_platform {

QDBusConnection OpenBus(const QString& address, const QString& prefix) {
    static int serial = 0;
    const QString name = QStringLiteral("%1-%2").arg(prefix).arg(++serial);
    // Where nothing listens this fails at once; a bus that is there answers its Hello quickly.
    return address.isEmpty() ? QDBusConnection::connectToBus(QDBusConnection::SessionBus, name)
                             : QDBusConnection::connectToBus(address, name);
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
