// Private connections to a session bus, and how they end. QtDBus closes a connection on a
// thread of its own once the last reference to it goes, and that close-down walks every object
// still subscribed to the connection. An object that dropped the last reference in its own
// destructor could be freed in the middle of that walk. So an adapter removes its
// subscriptions first and hands the connection to ReleaseBus, which lets the last reference
// go from the event loop, once the adapter is gone.
#pragma once

#include <QDBusConnection>
#include <QString>

namespace vexlo::linux_platform {

// A new connection of its own (a fresh name each time) to the bus at address, or to the
// session bus when address is empty (DBUS_SESSION_BUS_ADDRESS, else $XDG_RUNTIME_DIR/bus). Not
// connected when the bus is not there.
QDBusConnection OpenBus(const QString& address, const QString& prefix);

// Lets the connection go; connection is left disconnected. Its last reference is dropped from
// the event loop (or with the application's pending events when no loop runs again).
void ReleaseBus(QDBusConnection& connection);

}  // namespace vexlo::linux_platform
