#!/usr/bin/python3
"""A stand-in for the desktop's portal service, for tests on a private session bus.

Owns org.freedesktop.portal.Desktop and answers, at /org/freedesktop/portal/desktop, the host
app registry (Register), GlobalShortcuts (CreateSession, ListShortcuts, BindShortcuts, the
Request objects' Response signals, Activated, ShortcutsChanged) and the version properties.
What an application bound is kept under its id (or its session token) for its later sessions,
as desktops keep it. The test drives it through the interface org.vexlo.Test on the same object:

    Activate(s shortcut_id)   emits Activated for the last session with that shortcut bound
    Change(s id, s trigger)   the user sets a key: ShortcutsChanged for the last session
    Calls() -> as             what the clients asked, one line per call
    Flood(s id, u count)      count times Activated for that shortcut and ShortcutsChanged, at once

  portal_standin.py [--bind accept|decline] [--no-shortcuts] [--early] [--keyless ID]
                    [--unlisted ID] [--stale-session] [--kglobalaccel] [--no-active-key ID]
                    [--holds ID] [--bind-response N] [--unknown-app] [--silent] [--ready FILE]
    --bind decline   BindShortcuts answers 1 (the user cancelled)
    --holds ID       the desktop holds that shortcut for the application already, with its key
                     (a later start); ListShortcuts lists it
    --bind-response N  BindShortcuts answers N with the shortcuts (GNOME 48 answers 2)
    --unknown-app    Register fails as for an application without a desktop file
    --no-shortcuts   the portal offers no GlobalShortcuts interface
    --early          the interface's early form, as with KDE Plasma 5.27: no host app registry;
                     the session binds only the shortcuts of CreateSession's "shortcuts" option
                     and BindShortcuts answers with those, whatever it was given
    --keyless ID     the answer lists that shortcut without a key (trigger_description "")
    --unlisted ID    the answer leaves that shortcut out
    --stale-session  the first CreateSession answers 2, as KDE's backend does while it still
                     holds the session of the same token for a portal that has restarted
    --kglobalaccel   also owns org.kde.kglobalaccel, KDE's global shortcuts service, whose
                     /component/TOKEN answers allShortcutInfos for the session's shortcuts
    --no-active-key ID  there that shortcut has no active key (only a default one), as where
                     another shortcut of KDE holds the preferred key
    --silent         owns the name and never answers a call (a portal that hangs)
    --asked FILE     with --silent: written when the first call arrives
    --ready FILE     written once the name is owned
"""
import argparse
import sys

import dbus
import dbus.service
from dbus.mainloop.glib import DBusGMainLoop
from gi.repository import GLib

NAME = "org.freedesktop.portal.Desktop"
KGLOBALACCEL = "org.kde.kglobalaccel"
PATH = "/org/freedesktop/portal/desktop"
SHORTCUTS = "org.freedesktop.portal.GlobalShortcuts"
REGISTRY = "org.freedesktop.host.portal.Registry"
PROPERTIES = "org.freedesktop.DBus.Properties"
CONTROL = "org.vexlo.Test"


def sender_element(sender):
    return sender[1:].replace(".", "_")


def listed(shortcuts):
    return " ".join("%s=%s" % (sid, props.get("preferred_trigger", "")) for sid, props in shortcuts)


class Request(dbus.service.Object):
    @dbus.service.signal("org.freedesktop.portal.Request", signature="ua{sv}")
    def Response(self, response, results):
        pass

    @dbus.service.method("org.freedesktop.portal.Request")
    def Close(self):
        self.remove_from_connection()


class Session(dbus.service.Object):
    def __init__(self, bus, path, portal):
        super().__init__(bus, path)
        self.portal = portal
        self.path = path

    @dbus.service.method("org.freedesktop.portal.Session")
    def Close(self):
        self.portal.calls.append("Close")
        self.portal.sessions.pop(self.path, None)
        self.remove_from_connection()


class Component(dbus.service.Object):
    """A session's shortcuts as KDE's global shortcuts service holds them."""

    def __init__(self, bus, token, shortcuts, options):
        super().__init__(bus, "/component/" + token)
        self.token = token
        self.shortcuts = shortcuts
        self.options = options

    @dbus.service.method("org.kde.kglobalaccel.Component", out_signature="a(ssssssaiai)")
    def allShortcutInfos(self):
        meta_equal = 0x1000003d
        return dbus.Array([
            dbus.Struct((sid, sid, self.token, self.token, "default", "Default Context",
                         dbus.Array([0 if sid in self.options.no_active_key else meta_equal],
                                    signature="i"),
                         dbus.Array([meta_equal], signature="i")))
            for sid in self.shortcuts], signature="(ssssssaiai)")


class Portal(dbus.service.Object):
    def __init__(self, bus, options):
        super().__init__(bus, PATH)
        self.bus = bus
        self.options = options
        self.calls = []
        self.used = set()  # senders that made a portal call
        self.registered = set()
        self.sessions = {}  # session path -> {shortcut id: trigger}
        self.serial = 0
        self.components = {}  # token -> Component
        self.apps = {}  # sender -> the id it registered
        self.kept = {}  # application id or token -> {shortcut id: trigger}
        self.session_app = {}  # session path -> application id or token

    def _respond(self, sender, token, response, results):
        if not token:
            self.serial += 1
            token = "t%d" % self.serial
        path = "%s/request/%s/%s" % (PATH, sender_element(sender), token)
        request = Request(self.bus, path)

        def emit():
            request.Response(dbus.UInt32(response), dbus.Dictionary(results, signature="sv"))
            request.remove_from_connection()
            return False

        # The answer comes after the call has returned, as from a real dialog.
        GLib.timeout_add(30, emit)
        return dbus.ObjectPath(path)

    # ---- the host app registry

    @dbus.service.method(REGISTRY, in_signature="sa{sv}", sender_keyword="sender")
    def Register(self, app_id, options, sender=None):
        self.calls.append("Register %s" % app_id)
        if self.options.early:
            raise dbus.exceptions.DBusException(
                "no such interface", name="org.freedesktop.DBus.Error.UnknownMethod")
        if sender in self.registered or sender in self.used:
            raise dbus.exceptions.DBusException(
                "registered too late or twice", name="org.freedesktop.portal.Error.Failed")
        if self.options.unknown_app:
            raise dbus.exceptions.DBusException(
                "App info not found for '%s'" % app_id, name="org.freedesktop.portal.Error.Failed")
        self.registered.add(sender)
        self.apps[sender] = str(app_id)

    # ---- global shortcuts

    @dbus.service.method(SHORTCUTS, in_signature="a{sv}", out_signature="o",
                         sender_keyword="sender")
    def CreateSession(self, options, sender=None):
        self._require_shortcuts()
        self.used.add(sender)
        token = str(options.get("session_handle_token", "s%d" % len(self.sessions)))
        early = options.get("shortcuts", [])
        self.calls.append(("CreateSession %s %s" % (token, listed(early))).strip())
        session = "%s/session/%s/%s" % (PATH, sender_element(sender), token)
        if session in self.sessions:
            raise dbus.exceptions.DBusException(
                "session exists", name="org.freedesktop.portal.Error.Failed")
        if self.options.stale_session:
            self.options.stale_session = False
            return self._respond(sender, str(options.get("handle_token", "")), 2, {})
        self.sessions[session] = {}
        if self.options.early:
            self.sessions[session] = {str(sid): str(props.get("preferred_trigger", ""))
                                      for sid, props in early}
        if self.options.kglobalaccel:
            if token not in self.components:
                self.components[token] = Component(self.bus, token, {}, self.options)
            self.components[token].shortcuts = self.sessions[session]
        app = self.apps.get(sender, "token_" + token)
        self.session_app[session] = app
        if app not in self.kept:
            self.kept[app] = {sid: "LOGO+" + sid for sid in self.options.holds}
        Session(self.bus, session, self)
        return self._respond(sender, str(options.get("handle_token", "")), 0,
                             {"session_handle": dbus.String(session)})

    @dbus.service.method(SHORTCUTS, in_signature="oa(sa{sv})sa{sv}", out_signature="o",
                         sender_keyword="sender")
    def BindShortcuts(self, session, shortcuts, parent_window, options, sender=None):
        self._require_shortcuts()
        self.used.add(sender)
        self.calls.append("BindShortcuts %s" % listed(shortcuts))
        token = str(options.get("handle_token", ""))
        if self.options.bind == "decline" or str(session) not in self.sessions:
            return self._respond(sender, token, 1, {})
        bound = self.sessions[str(session)]
        if not self.options.early:
            bound.update({str(sid): str(props.get("preferred_trigger", ""))
                          for sid, props in shortcuts})
            self.kept[self.session_app[str(session)]].update(bound)
        return self._respond(sender, token, self.options.bind_response,
                             {"shortcuts": self._listing(bound)})

    @dbus.service.method(SHORTCUTS, in_signature="oa{sv}", out_signature="o",
                         sender_keyword="sender")
    def ListShortcuts(self, session, options, sender=None):
        self._require_shortcuts()
        self.calls.append("ListShortcuts")
        token = str(options.get("handle_token", ""))
        if str(session) not in self.sessions:
            return self._respond(sender, token, 2, {})
        bound = self.sessions[str(session)]
        if not self.options.early:
            bound.update(self.kept[self.session_app[str(session)]])
        return self._respond(sender, token, 0, {"shortcuts": self._listing(bound)})

    def _listing(self, bound):
        return dbus.Array([
            dbus.Struct((sid, dbus.Dictionary(
                {"trigger_description": "" if sid in self.options.keyless else trigger},
                signature="sv")))
            for sid, trigger in bound.items() if sid not in self.options.unlisted],
            signature="(sa{sv})")

    @dbus.service.signal(SHORTCUTS, signature="oa(sa{sv})")
    def ShortcutsChanged(self, session_handle, shortcuts):
        pass

    @dbus.service.signal(SHORTCUTS, signature="osta{sv}")
    def Activated(self, session_handle, shortcut_id, timestamp, options):
        pass

    def _require_shortcuts(self):
        if self.options.no_shortcuts:
            raise dbus.exceptions.DBusException(
                "no such interface", name="org.freedesktop.DBus.Error.UnknownMethod")

    # ---- properties

    @dbus.service.method(PROPERTIES, in_signature="ss", out_signature="v")
    def Get(self, interface, prop):
        if prop == "version" and (interface == REGISTRY or
                                  (interface == SHORTCUTS and not self.options.no_shortcuts)):
            return dbus.UInt32(1)
        raise dbus.exceptions.DBusException(
            "no property %s.%s" % (interface, prop),
            name="org.freedesktop.DBus.Error.UnknownProperty")

    # ---- driven by the test

    @dbus.service.method(CONTROL, in_signature="s")
    def Activate(self, shortcut_id):
        for session, bound in reversed(list(self.sessions.items())):
            if shortcut_id in bound:
                self.Activated(dbus.ObjectPath(session), shortcut_id, dbus.UInt64(0),
                               dbus.Dictionary({}, signature="sv"))
                return
        raise dbus.exceptions.DBusException("not bound: " + shortcut_id,
                                            name="org.freedesktop.DBus.Error.InvalidArgs")

    @dbus.service.method(CONTROL, in_signature="su")
    def Flood(self, shortcut_id, count):
        session, bound = list(self.sessions.items())[-1]
        for _ in range(count):
            self.Activated(dbus.ObjectPath(session), shortcut_id, dbus.UInt64(0),
                           dbus.Dictionary({}, signature="sv"))
            self.ShortcutsChanged(dbus.ObjectPath(session), self._listing(bound))

    @dbus.service.method(CONTROL, in_signature="ss")
    def Change(self, shortcut_id, trigger):
        session, bound = list(self.sessions.items())[-1]
        bound[str(shortcut_id)] = str(trigger)
        self.options.keyless = [k for k in self.options.keyless if k != shortcut_id]
        self.options.unlisted = [k for k in self.options.unlisted if k != shortcut_id]
        self.ShortcutsChanged(dbus.ObjectPath(session), self._listing(bound))

    @dbus.service.method(CONTROL, out_signature="as")
    def Calls(self):
        return dbus.Array(self.calls, signature="s")


class SilentPortal(dbus.service.Object):
    """A portal that has hung: every call stays unanswered (the test's own are answered)."""

    def __init__(self, bus, asked):
        super().__init__(bus, PATH)
        self.asked = asked
        self.calls = []

    def _asked(self, call):
        self.calls.append(call)
        if self.asked:
            with open(self.asked, "w") as f:
                f.write("asked\n")

    @dbus.service.method(REGISTRY, in_signature="sa{sv}", async_callbacks=("ok", "error"))
    def Register(self, app_id, options, ok=None, error=None):
        self._asked("Register %s" % app_id)

    @dbus.service.method(SHORTCUTS, in_signature="a{sv}", out_signature="o",
                         async_callbacks=("ok", "error"))
    def CreateSession(self, options, ok=None, error=None):
        self._asked("CreateSession")

    @dbus.service.method(PROPERTIES, in_signature="ss", out_signature="v",
                         async_callbacks=("ok", "error"))
    def Get(self, interface, prop, ok=None, error=None):
        self._asked("Get %s" % prop)

    @dbus.service.method(CONTROL, out_signature="as")
    def Calls(self):
        return dbus.Array(self.calls, signature="s")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--bind", choices=["accept", "decline"], default="accept")
    parser.add_argument("--no-shortcuts", action="store_true")
    parser.add_argument("--early", action="store_true")
    parser.add_argument("--keyless", action="append", default=[])
    parser.add_argument("--unlisted", action="append", default=[])
    parser.add_argument("--stale-session", action="store_true")
    parser.add_argument("--kglobalaccel", action="store_true")
    parser.add_argument("--no-active-key", action="append", default=[])
    parser.add_argument("--holds", action="append", default=[])
    parser.add_argument("--bind-response", type=int, default=0)
    parser.add_argument("--unknown-app", action="store_true")
    parser.add_argument("--silent", action="store_true")
    parser.add_argument("--asked")
    parser.add_argument("--ready")
    options = parser.parse_args()

    DBusGMainLoop(set_as_default=True)
    bus = dbus.SessionBus()
    portal = SilentPortal(bus, options.asked) if options.silent else Portal(bus, options)
    name = dbus.service.BusName(NAME, bus, do_not_queue=True)
    kde = None
    if options.kglobalaccel:
        kde = dbus.service.BusName(KGLOBALACCEL, bus, do_not_queue=True)
    if options.ready:
        with open(options.ready, "w") as f:
            f.write("ready\n")
    loop = GLib.MainLoop()
    try:
        loop.run()
    except KeyboardInterrupt:
        pass
    del name, kde, portal
    return 0


if __name__ == "__main__":
    sys.exit(main())
