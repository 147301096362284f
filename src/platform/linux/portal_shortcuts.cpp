#include "platform/linux/portal_shortcuts.h"

#include <QDBusArgument>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/linux/desktop_keys.h"
#include "platform/types.h"

namespace {

// One entry of BindShortcuts' list and of its answer: a(sa{sv}).
struct Shortcut {
    QString id;
    QVariantMap properties;
};

}  // namespace

Q_DECLARE_METATYPE(Shortcut)

namespace {

QDBusArgument& operator<<(QDBusArgument& arg, const Shortcut& s) {
    arg.beginStructure();
    arg << s.id << s.properties;
    arg.endStructure();
    return arg;
}

const QDBusArgument& operator>>(const QDBusArgument& arg, Shortcut& s) {
    arg.beginStructure();
    arg >> s.id >> s.properties;
    arg.endStructure();
    return arg;
}

const QString kService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString kPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString kShortcuts = QStringLiteral("org.freedesktop.portal.GlobalShortcuts");
const QString kRegistry = QStringLiteral("org.freedesktop.host.portal.Registry");
const QString kRequest = QStringLiteral("org.freedesktop.portal.Request");
const QString kSession = QStringLiteral("org.freedesktop.portal.Session");
// The desktop file id, which names the program to the portal and in its dialogs.
const QString kAppId = QStringLiteral("vexlo");
// The session's token, the same in every run: desktops that name the program's group of
// shortcuts after it keep the keys the user assigned there.
const QString kSessionToken = QStringLiteral("vexlo");
// The portal may be started on demand by the first call.
constexpr int kCheckTimeoutMs = 10000;
// Before a second try at a session the desktop refused.
constexpr int kRetryDelayMs = 200;
// KDE's global shortcuts service, which names the program's component after the session token.
const QString kKdeService = QStringLiteral("org.kde.kglobalaccel");
const QString kKdeComponent = QStringLiteral("org.kde.kglobalaccel.Component");
constexpr int kKdeTimeoutMs = 5000;

QString ShortcutName(int id) {
    if (id == vexlo::HOTKEY_UP) return QStringLiteral("volume-up");
    if (id == vexlo::HOTKEY_DOWN) return QStringLiteral("volume-down");
    return QStringLiteral("hotkey-%1").arg(id);
}

QString Description(int id) {
    if (id == vexlo::HOTKEY_UP) return QStringLiteral("Volume up");
    if (id == vexlo::HOTKEY_DOWN) return QStringLiteral("Volume down");
    return QStringLiteral("Hotkey %1").arg(id);
}

// An object path arrives as "o" or, in the session handle's case, as "s".
QString PathText(const QVariant& value) {
    if (value.canConvert<QDBusObjectPath>()) return value.value<QDBusObjectPath>().path();
    return value.toString();
}

int Counter() {
    static int next = 0;
    return ++next;
}

QList<Shortcut> ShortcutList(const std::map<int, std::string>& triggers) {
    QList<Shortcut> shortcuts;
    for (const auto& [id, trigger] : triggers) {
        QVariantMap properties;
        properties.insert(QStringLiteral("description"), Description(id));
        if (!trigger.empty()) {
            properties.insert(QStringLiteral("preferred_trigger"), QString::fromStdString(trigger));
        }
        shortcuts.push_back({ShortcutName(id), properties});
    }
    return shortcuts;
}

bool IsKde(const std::string& desktop) {
    // A list such as "KDE" or "ubuntu:GNOME".
    return (":" + desktop + ":").find(":KDE:") != std::string::npos;
}

std::string CurrentDesktop() {
    const char* desktop = std::getenv("XDG_CURRENT_DESKTOP");
    return desktop != nullptr ? desktop : "";
}

// The shortcuts of kglobalaccel's answer to allShortcutInfos, a(ssssssaiai) (name, its
// friendly name, the component's and the context's names, active keys, default keys), that
// have no active key. KDE keeps a shortcut whose preferred key another one holds with that
// key as its default only, while the portal's first answer still names it.
std::set<QString> WithoutActiveKey(const QDBusMessage& reply) {
    std::set<QString> names;
    if (reply.type() != QDBusMessage::ReplyMessage ||
        reply.signature() != QLatin1String("a(ssssssaiai)")) {
        return names;
    }
    const QDBusArgument infos = reply.arguments().value(0).value<QDBusArgument>();
    infos.beginArray();
    while (!infos.atEnd()) {
        QString name, unused;
        QList<int> active, defaults;
        infos.beginStructure();
        infos >> name;
        for (int i = 0; i < 5; ++i) infos >> unused;
        infos >> active >> defaults;
        infos.endStructure();
        // No key is an empty list or [0].
        bool none = true;
        for (int key : active) none = none && key == 0;
        if (none) names.insert(name);
    }
    infos.endArray();
    return names;
}

}  // namespace

namespace vexlo::linux_platform {

bool PortalShortcuts::WaylandSession() {
    const char* display = std::getenv("WAYLAND_DISPLAY");
    const char* type = std::getenv("XDG_SESSION_TYPE");
    return (display != nullptr && *display != '\0') ||
           (type != nullptr && std::strcmp(type, "wayland") == 0);
}

void PortalShortcuts::ReportOnStderr(const std::string& text) {
    std::fprintf(stderr, "vexlo: volume hotkeys: %s.\n", text.c_str());
}

std::string PortalShortcuts::TriggerFor(std::uint32_t modifiers, std::uint32_t virtualKey) {
    std::string key;
    if (virtualKey == VK_OEM_PLUS) {
        key = "equal";  // the "= +" key
    } else if (virtualKey == VK_OEM_MINUS) {
        key = "minus";
    } else if ((virtualKey >= '0' && virtualKey <= '9') ||
               (virtualKey >= 'A' && virtualKey <= 'Z')) {
        key = std::string(1, static_cast<char>(virtualKey));
        if (virtualKey >= 'A') key[0] = static_cast<char>(key[0] - 'A' + 'a');
    } else if (virtualKey >= 0x70 && virtualKey <= 0x7B) {
        key = "F" + std::to_string(virtualKey - 0x70 + 1);
    } else {
        return "";
    }
    std::string trigger;
    // MOD_CONTROL, MOD_ALT, MOD_SHIFT, MOD_WIN
    if (modifiers & 2) trigger += "CTRL+";
    if (modifiers & 1) trigger += "ALT+";
    if (modifiers & 4) trigger += "SHIFT+";
    if (modifiers & MOD_WIN) trigger += "LOGO+";
    return trigger + key;
}

PortalShortcuts::PortalShortcuts(QString busAddress, Report report)
    : busAddress_(std::move(busAddress)),
      connectionName_(QStringLiteral("vexlo-portal-%1").arg(Counter())),
      bus_(connectionName_),
      report_(std::move(report)) {
    qDBusRegisterMetaType<Shortcut>();
    qDBusRegisterMetaType<QList<Shortcut>>();
    connect(&portalWatcher_, &QDBusServiceWatcher::serviceOwnerChanged, this,
            &PortalShortcuts::onPortalOwner);
}

PortalShortcuts::~PortalShortcuts() {
    if (checked_ != 0) QDBusConnection::disconnectFromBus(connectionName_);
}

std::string PortalShortcuts::SettingsPlace(const std::string& desktop) {
    if (IsKde(desktop)) return "System Settings, Shortcuts";
    return "the desktop's keyboard shortcut settings";
}

void PortalShortcuts::fail(const std::string& text) {
    if (reported_) return;
    reported_ = true;
    if (report_) report_(text);
}

bool PortalShortcuts::available() {
    if (checked_ != 0) return checked_ > 0;
    checked_ = -1;
    // A connection of its own: the registration must come before any other portal call on
    // it, and Qt may already have asked the portal for its settings on the shared one.
    bus_ = busAddress_.isEmpty()
               ? QDBusConnection::connectToBus(QDBusConnection::SessionBus, connectionName_)
               : QDBusConnection::connectToBus(busAddress_, connectionName_);
    if (bus_.isConnected()) {
        // A program outside a sandbox names itself before its first portal call; portals
        // without the registry, or that know the program already, answer with an error.
        QDBusMessage registration =
            QDBusMessage::createMethodCall(kService, kPath, kRegistry, QStringLiteral("Register"));
        registration << kAppId << QVariantMap();
        bus_.call(registration, QDBus::Block, kCheckTimeoutMs);

        QDBusMessage version = QDBusMessage::createMethodCall(
            kService, kPath, QStringLiteral("org.freedesktop.DBus.Properties"),
            QStringLiteral("Get"));
        version << kShortcuts << QStringLiteral("version");
        if (bus_.call(version, QDBus::Block, kCheckTimeoutMs).type() ==
            QDBusMessage::ReplyMessage) {
            checked_ = 1;
            // A portal that restarts forgets the session; the new one is asked again.
            portalOwner_ = bus_.interface()->serviceOwner(kService).value();
            portalWatcher_.setConnection(bus_);
            portalWatcher_.setWatchMode(QDBusServiceWatcher::WatchForOwnerChange);
            portalWatcher_.addWatchedService(kService);
        }
    }
    if (checked_ < 0) {
        fail(
            "this Wayland session offers no global shortcuts portal, so they work only while "
            "an X11 window has the focus; " +
            BindCommandsHint());
    }
    return checked_ > 0;
}

void PortalShortcuts::bind(int id, const std::string& trigger) {
    if (!available()) return;
    wanted_[id] = trigger;
    if (bound_.count(id) != 0) return;
    pending_[id] = trigger;
    if (starting_) return;
    starting_ = true;
    // The others asked for in this turn of the event loop go with it.
    QTimer::singleShot(0, this, [this] {
        starting_ = false;
        if (!session_.isEmpty()) {
            bindPending();
        } else if (!creating_) {
            creating_ = true;
            createSession();
        }
    });
}

void PortalShortcuts::release(int id) {
    wanted_.erase(id);
    pending_.erase(id);
    if (!wanted_.empty() || session_.isEmpty()) return;
    bus_.asyncCall(
        QDBusMessage::createMethodCall(kService, session_, kSession, QStringLiteral("Close")));
    dropSession();
}

void PortalShortcuts::dropSession() {
    ++generation_;
    if (!watchedRequest_.isEmpty()) {
        for (const char* slot : {SLOT(onSessionResponse(uint, QVariantMap)),
                                 SLOT(onBindResponse(uint, QVariantMap))}) {
            bus_.disconnect(kService, watchedRequest_, kRequest, QStringLiteral("Response"), this,
                            slot);
        }
        watchedRequest_.clear();
    }
    if (!session_.isEmpty()) {
        bus_.disconnect(kService, kPath, kShortcuts, QStringLiteral("Activated"), this,
                        SLOT(onActivated(QDBusObjectPath, QString, qulonglong, QVariantMap)));
    }
    session_.clear();
    creating_ = false;
    retried_ = false;
    asked_.clear();
    pending_.clear();
    bound_.clear();
}

void PortalShortcuts::onPortalOwner(const QString&, const QString&, const QString& newOwner) {
    if (newOwner == portalOwner_) return;
    portalOwner_ = newOwner;
    dropSession();
    if (newOwner.isEmpty() || wanted_.empty()) return;
    // The new portal knows nothing of the program: everything wanted is asked for again.
    pending_ = wanted_;
    creating_ = true;
    createSession();
}

QString PortalShortcuts::nextToken() {
    return QStringLiteral("vexlo%1").arg(++serial_);
}

QString PortalShortcuts::requestPath(const QString& token) const {
    QString sender = bus_.baseService();
    if (sender.startsWith(QLatin1Char(':'))) sender.remove(0, 1);
    sender.replace(QLatin1Char('.'), QLatin1Char('_'));
    return kPath + QStringLiteral("/request/") + sender + QLatin1Char('/') + token;
}

void PortalShortcuts::request(const QString& interfaceName, const QString& method,
                              const QList<QVariant>& args, const QString& token, const char* slot) {
    // Listening before the call, so that a quick answer is not missed.
    watchedRequest_ = requestPath(token);
    bus_.connect(kService, watchedRequest_, kRequest, QStringLiteral("Response"), this, slot);
    QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, interfaceName, method);
    call.setArguments(args);
    auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(call), this);
    const QString expected = watchedRequest_;
    const int generation = generation_;
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, watcher, expected, slot, method, generation] {
                watcher->deleteLater();
                // The answer of a portal that has gone since.
                if (generation != generation_) return;
                QDBusPendingReply<QDBusObjectPath> reply = *watcher;
                if (reply.isError()) {
                    bus_.disconnect(kService, expected, kRequest, QStringLiteral("Response"), this,
                                    slot);
                    fail("the desktop's global shortcuts portal refused " + method.toStdString() +
                         " (" + reply.error().message().toStdString() + ")");
                    return;
                }
                // Older portals choose their own request path.
                const QString handle = reply.value().path();
                if (handle != expected && watchedRequest_ == expected) {
                    bus_.disconnect(kService, expected, kRequest, QStringLiteral("Response"), this,
                                    slot);
                    watchedRequest_ = handle;
                    bus_.connect(kService, handle, kRequest, QStringLiteral("Response"), this,
                                 slot);
                }
            });
}

void PortalShortcuts::createSession() {
    const QString token = nextToken();
    QVariantMap options;
    options.insert(QStringLiteral("handle_token"), token);
    options.insert(QStringLiteral("session_handle_token"), kSessionToken);
    // The early form of the interface registers only what is listed here.
    options.insert(QStringLiteral("shortcuts"), QVariant::fromValue(ShortcutList(pending_)));
    request(kShortcuts, QStringLiteral("CreateSession"), {options}, token,
            SLOT(onSessionResponse(uint, QVariantMap)));
}

void PortalShortcuts::onSessionResponse(uint response, const QVariantMap& results) {
    bus_.disconnect(kService, watchedRequest_, kRequest, QStringLiteral("Response"), this,
                    SLOT(onSessionResponse(uint, QVariantMap)));
    watchedRequest_.clear();
    session_ = PathText(results.value(QStringLiteral("session_handle")));
    if (response == 2 && !retried_) {
        // A desktop backend that outlived its portal still holds the session of the same
        // token; the portal closes it when it refuses the new one, and a second try succeeds.
        retried_ = true;
        session_.clear();
        const int generation = generation_;
        QTimer::singleShot(kRetryDelayMs, this, [this, generation] {
            if (generation != generation_) return;
            if (pending_.empty()) {
                creating_ = false;
                return;
            }
            createSession();
        });
        return;
    }
    creating_ = false;
    if (response != 0 || session_.isEmpty()) {
        session_.clear();
        fail("the desktop did not open a global shortcuts session");
        return;
    }
    retried_ = false;
    bus_.connect(kService, kPath, kShortcuts, QStringLiteral("Activated"), this,
                 SLOT(onActivated(QDBusObjectPath, QString, qulonglong, QVariantMap)));
    bindPending();
}

void PortalShortcuts::bindPending() {
    // One request at a time: what is asked for meanwhile goes with the next.
    if (pending_.empty() || !asked_.empty()) return;
    const QList<Shortcut> shortcuts = ShortcutList(pending_);
    for (const auto& [id, trigger] : pending_) asked_.insert(id);
    pending_.clear();
    const QString token = nextToken();
    QVariantMap options;
    options.insert(QStringLiteral("handle_token"), token);
    // No parent window: the display is not a window to put the portal's dialog on.
    request(kShortcuts, QStringLiteral("BindShortcuts"),
            {QVariant::fromValue(QDBusObjectPath(session_)), QVariant::fromValue(shortcuts),
             QString(), options},
            token, SLOT(onBindResponse(uint, QVariantMap)));
}

void PortalShortcuts::onBindResponse(uint response, const QVariantMap& results) {
    bus_.disconnect(kService, watchedRequest_, kRequest, QStringLiteral("Response"), this,
                    SLOT(onBindResponse(uint, QVariantMap)));
    watchedRequest_.clear();
    std::set<int> asked;
    asked.swap(asked_);
    if (response != 0) {
        fail(response == 1 ? "the desktop's shortcut dialog was declined"
                           : "the desktop could not bind them");
        return;
    }
    // The answer lists what the session has bound; without a list, take what was asked.
    std::set<int> withKey;
    std::set<int> withoutKey;
    const QVariant listed = results.value(QStringLiteral("shortcuts"));
    if (!listed.isValid()) {
        withKey = asked;
    } else {
        QList<Shortcut> shortcuts;
        if (listed.canConvert<QDBusArgument>()) {
            listed.value<QDBusArgument>() >> shortcuts;
        }
        // Bound is what the list names with a key; the rest waits for the user to assign one.
        withoutKey = asked;
        for (const Shortcut& s : shortcuts) {
            for (int id : asked) {
                if (ShortcutName(id) == s.id &&
                    !s.properties.value(QStringLiteral("trigger_description"))
                         .toString()
                         .isEmpty()) {
                    withKey.insert(id);
                    withoutKey.erase(id);
                }
            }
        }
    }
    bound_.insert(withKey.begin(), withKey.end());
    checkActiveKeys(withKey, withoutKey);
    bindPending();
}

void PortalShortcuts::checkActiveKeys(const std::set<int>& withKey, std::set<int> withoutKey) {
    // Only KDE's own service knows whether the keys its portal named are active; elsewhere,
    // or without it on the bus, the portal's answer stands.
    if (withKey.empty() || !IsKde(CurrentDesktop())) {
        reportWithoutKey(withoutKey);
        return;
    }
    QDBusMessage call =
        QDBusMessage::createMethodCall(kKdeService, QStringLiteral("/component/") + kSessionToken,
                                       kKdeComponent, QStringLiteral("allShortcutInfos"));
    call.setAutoStartService(false);
    auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(call, kKdeTimeoutMs), this);
    const int generation = generation_;
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, watcher, withKey, withoutKey, generation]() mutable {
                watcher->deleteLater();
                if (generation != generation_) return;
                const std::set<QString> inactive = WithoutActiveKey(watcher->reply());
                for (int id : withKey) {
                    if (inactive.count(ShortcutName(id)) == 0) continue;
                    bound_.erase(id);
                    withoutKey.insert(id);
                }
                reportWithoutKey(withoutKey);
            });
}

void PortalShortcuts::reportWithoutKey(const std::set<int>& ids) {
    std::string names;
    for (int id : ids) {
        if (wanted_.count(id) == 0) continue;
        if (!names.empty()) names += " and ";
        names += "\"" + Description(id).toStdString() + "\"";
    }
    if (names.empty()) return;
    fail("the desktop has no key for " + names + " yet; assign one in " +
         SettingsPlace(CurrentDesktop()));
}

void PortalShortcuts::onActivated(const QDBusObjectPath& session, const QString& shortcut,
                                  qulonglong, const QVariantMap&) {
    if (session.path() != session_) return;
    // Also a shortcut the desktop had no key for: the user may have assigned one since.
    for (const auto& [id, trigger] : wanted_) {
        if (ShortcutName(id) == shortcut) {
            if (activated_) activated_(id);
            return;
        }
    }
}

}  // namespace vexlo::linux_platform
