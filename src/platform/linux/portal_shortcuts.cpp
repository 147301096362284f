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

#include "platform/linux/bus_connection.h"
#include "platform/linux/desktop_keys.h"
#include "platform/linux/xcb_hotkeys.h"
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
// The application id: the desktop file's name, which names the program to the portal and in
// its dialogs. GNOME takes only reverse-DNS ids.
const QString kAppId = QStringLiteral("io.github.vexlo.vexlo");
// The session's token, the same in every run: desktops that name the program's group of
// shortcuts after it keep the keys the user assigned there.
const QString kSessionToken = QStringLiteral("vexlo");
// The portal may be started on demand by the first call.
constexpr int kCheckTimeoutMs = 10000;
// How often the connection is looked at, and a lost bus tried again.
constexpr int kBusCheckMs = 1000;
const QString kBusPrefix = QStringLiteral("vexlo-portal");
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

QString Description(const vexlo::Texts& texts, int id) {
    if (id == vexlo::HOTKEY_UP) return QString::fromStdString(Tr(texts, "Volume up"));
    if (id == vexlo::HOTKEY_DOWN) return QString::fromStdString(Tr(texts, "Volume down"));
    return QStringLiteral("Hotkey %1").arg(id);
}

// An object path arrives as "o" or, in the session handle's case, as "s".
QString PathText(const QVariant& value) {
    if (value.canConvert<QDBusObjectPath>()) return value.value<QDBusObjectPath>().path();
    return value.toString();
}

QList<Shortcut> ShortcutList(const vexlo::Texts& texts,
                             const std::map<int, std::string>& triggers) {
    QList<Shortcut> shortcuts;
    for (const auto& [id, trigger] : triggers) {
        QVariantMap properties;
        properties.insert(QStringLiteral("description"), Description(texts, id));
        if (!trigger.empty()) {
            properties.insert(QStringLiteral("preferred_trigger"), QString::fromStdString(trigger));
        }
        shortcuts.push_back({ShortcutName(id), properties});
    }
    return shortcuts;
}

// A Response's or ShortcutsChanged's list, a(sa{sv}): each shortcut it names, and whether the
// desktop gave it a key (a trigger description).
std::map<QString, bool> ListedKeys(const QVariant& listed) {
    std::map<QString, bool> keys;
    QList<Shortcut> shortcuts;
    if (listed.canConvert<QDBusArgument>()) listed.value<QDBusArgument>() >> shortcuts;
    for (const Shortcut& s : shortcuts) {
        keys[s.id] =
            !s.properties.value(QStringLiteral("trigger_description")).toString().isEmpty();
    }
    return keys;
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
std::set<QString> WithoutActiveKey(const QDBusMessage& reply, std::set<QString>* all) {
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
        all->insert(name);
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
    TellOnStderr(EnglishTexts(), text);
}

void PortalShortcuts::TellOnStderr(const Texts& texts, const std::string& text) {
    const std::string line =
        // TRANSLATORS: A line on standard error after "vexlo: ". {reason} is a clause saying
        // why the volume hotkeys do not work ("the desktop's shortcut dialog was declined; ...").
        Fill(Tr(texts, "volume hotkeys: {reason}."), {{"reason", text}});
    std::fprintf(stderr, "vexlo: %s\n", line.c_str());
}

std::string PortalShortcuts::TriggerFor(std::uint32_t modifiers, std::uint32_t virtualKey) {
    // The shortcuts' own form: the modifiers, then the key's keysym name ("CTRL+ALT+Up"); the
    // plus key by what it gives on this layout ("LOGO+equal" on US keyboards, "LOGO+plus" on
    // German ones): the desktops bind a keysym to the key that gives it.
    const std::string key = XcbHotkeys::ShortcutKeyName(virtualKey);
    if (key.empty()) return "";
    std::string trigger;
    if (modifiers & MOD_CONTROL) trigger += "CTRL+";
    if (modifiers & MOD_ALT) trigger += "ALT+";
    if (modifiers & MOD_SHIFT) trigger += "SHIFT+";
    if (modifiers & MOD_WIN) trigger += "LOGO+";
    return trigger + key;
}

PortalShortcuts::PortalShortcuts(QString busAddress, Report report)
    : busAddress_(std::move(busAddress)), bus_(QString()), report_(std::move(report)) {
    qDBusRegisterMetaType<Shortcut>();
    qDBusRegisterMetaType<QList<Shortcut>>();
    connect(&portalWatcher_, &QDBusServiceWatcher::serviceOwnerChanged, this,
            &PortalShortcuts::onPortalOwner);
    busCheck_.setInterval(kBusCheckMs);
    connect(&busCheck_, &QTimer::timeout, this, &PortalShortcuts::checkBus);
}

PortalShortcuts::~PortalShortcuts() {
    // Nothing of this object stays subscribed to the connection, and the connection outlives
    // it: its close-down must not meet an object half destroyed.
    busCheck_.stop();
    dropSession();
    portalWatcher_.setWatchedServices({});
    ReleaseBus(bus_);
}

std::string PortalShortcuts::SettingsPlace(const Texts& texts, const std::string& desktop) {
    // The steps as the desktops label them (Plasma 6, GNOME 48).
    // TRANSLATORS: Fills {place} in "... assign one in {place}". Each step is the label KDE
    // Plasma shows in the user's language: "System Settings" (systemsettings), "Keyboard"
    // (its category), "Shortcuts" (the Shortcuts page, kcm_keys); keep the arrows.
    if (IsKde(desktop)) return Tr(texts, "System Settings → Keyboard → Shortcuts → Vexlo");
    if ((":" + desktop + ":").find(":GNOME:") != std::string::npos) {
        // TRANSLATORS: Fills {place} as above. Each step is the label GNOME Settings shows in
        // the user's language ("Settings", "Apps", "Global Shortcuts").
        return Tr(texts, "Settings → Apps → Vexlo → Global Shortcuts");
    }
    // TRANSLATORS: Fills {place} as above, on other desktops.
    return Tr(texts, "the desktop's keyboard shortcut settings");
}

void PortalShortcuts::fail(const std::string& text) {
    if (reported_) return;
    reported_ = true;
    if (report_) report_(text);
}

void PortalShortcuts::failUnbound(const std::string& text) {
    const std::string hint = BindCommandsHint(texts());
    // Without its desktop file the program has no name the desktop keeps shortcuts under;
    // that is the cause whatever else went wrong.
    if (unregistered_) {
        fail(Fill(Tr(texts(),
                     "the desktop does not know Vexlo as an application ({file} is not "
                     "installed), so it keeps no shortcuts for it; install Vexlo's "
                     "package, or {hint}"),
                  {{"file", kAppId.toStdString() + ".desktop"}, {"hint", hint}}));
        return;
    }
    fail(Fill(text, {{"hint", hint}}));
}

QDBusMessage PortalShortcuts::registration() const {
    QDBusMessage call =
        QDBusMessage::createMethodCall(kService, kPath, kRegistry, QStringLiteral("Register"));
    call << kAppId << QVariantMap();
    return call;
}

void PortalShortcuts::tookRegistration(const QDBusMessage& reply) {
    // Portals without the registry (before 1.18) answer that they know no such method; the
    // program then has no id there, as before.
    unregistered_ = false;
    if (reply.type() != QDBusMessage::ErrorMessage) return;
    const QString name = reply.errorName();
    if (name.startsWith(QLatin1String("org.freedesktop.DBus.Error.Unknown")) ||
        name == QLatin1String("org.freedesktop.DBus.Error.NoReply") ||
        name == QLatin1String("org.freedesktop.DBus.Error.ServiceUnknown")) {
        return;
    }
    // "App info not found": no desktop file of that name where the portal looks.
    unregistered_ = true;
}

void PortalShortcuts::registerApp(std::function<void()> then) {
    // A program outside a sandbox names itself before its first portal call on a connection.
    auto* watcher =
        new QDBusPendingCallWatcher(bus_.asyncCall(registration(), kCheckTimeoutMs), this);
    const int generation = generation_;
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, watcher, generation, then = std::move(then)] {
                watcher->deleteLater();
                // The answer of a portal that has gone since.
                if (generation != generation_) return;
                tookRegistration(watcher->reply());
                then();
            });
}

bool PortalShortcuts::available() {
    if (checked_ != 0) return checked_ > 0;
    checked_ = -1;
    // A connection of its own: the registration must come before any other portal call on
    // it, and Qt may already have asked the portal for its settings on the shared one. The
    // event loop does not run yet: this one time the answers are waited for.
    bus_ = OpenBus(busAddress_, kBusPrefix);
    if (bus_.isConnected()) {
        tookRegistration(bus_.call(registration(), QDBus::Block, kCheckTimeoutMs));
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
            busCheck_.start();
        }
    }
    if (checked_ < 0) {
        fail(Fill(Tr(texts(),
                     "this Wayland session offers no global shortcuts portal, so they "
                     "work only while an X11 window has the focus; {hint}"),
                  {{"hint", BindCommandsHint(texts())}}));
    }
    return checked_ > 0;
}

void PortalShortcuts::bind(int id, const std::string& trigger) {
    if (!available()) return;
    wanted_[id] = trigger;
    if (bound_.count(id) != 0) return;
    if (starting_) return;
    starting_ = true;
    // The others asked for in this turn of the event loop go with it.
    QTimer::singleShot(0, this, [this] {
        starting_ = false;
        // Without a bus the session is asked for once it is back.
        if (busGone_) return;
        if (!session_.isEmpty()) {
            // A shortcut asked for once the session stands: what the desktop holds is asked
            // first, as at the start.
            listShortcuts();
        } else if (!creating_) {
            creating_ = true;
            createSession();
        }
    });
}

void PortalShortcuts::release(int id) {
    wanted_.erase(id);
    if (!wanted_.empty() || session_.isEmpty()) return;
    bus_.asyncCall(
        QDBusMessage::createMethodCall(kService, session_, kSession, QStringLiteral("Close")),
        kCheckTimeoutMs);
    dropSession();
}

void PortalShortcuts::dropSession() {
    ++generation_;
    if (!watchedRequest_.isEmpty()) {
        for (const char* slot :
             {SLOT(onSessionResponse(uint, QVariantMap)), SLOT(onListResponse(uint, QVariantMap)),
              SLOT(onBindResponse(uint, QVariantMap))}) {
            bus_.disconnect(kService, watchedRequest_, kRequest, QStringLiteral("Response"), this,
                            slot);
        }
        watchedRequest_.clear();
    }
    if (!session_.isEmpty()) {
        bus_.disconnect(kService, kPath, kShortcuts, QStringLiteral("Activated"), this,
                        SLOT(onActivated(QDBusObjectPath, QString, qulonglong, QVariantMap)));
        bus_.disconnect(kService, kPath, kShortcuts, QStringLiteral("ShortcutsChanged"), this,
                        SLOT(onShortcutsChanged(QDBusMessage)));
    }
    session_.clear();
    creating_ = false;
    retried_ = false;
    busy_ = false;
    again_ = false;
    bound_.clear();
}

void PortalShortcuts::onPortalOwner(const QString&, const QString&, const QString& newOwner) {
    if (newOwner == portalOwner_) return;
    portalOwner_ = newOwner;
    dropSession();
    if (newOwner.isEmpty()) return;
    // The new portal knows nothing of the program: it is named again before anything else
    // (also when nothing is wanted now), and what is wanted is asked for in a new session.
    creating_ = true;
    registerApp([this] {
        if (wanted_.empty()) {
            creating_ = false;
            return;
        }
        createSession();
    });
}

void PortalShortcuts::checkBus() {
    if (!busGone_) {
        if (bus_.isConnected()) return;
        // The bus has gone, and the session and every subscription with it.
        busGone_ = true;
        dropSession();
        portalWatcher_.setWatchedServices({});
        ReleaseBus(bus_);
        portalOwner_.clear();
        if (!wanted_.empty() && report_) {
            report_(Tr(texts(),
                       "the session bus went away, and with it the desktop's shortcuts; they "
                       "come back when the bus is back"));
        }
    }
    bus_ = OpenBus(busAddress_, kBusPrefix);
    if (!bus_.isConnected()) {
        ReleaseBus(bus_);
        return;  // tried again at the next check
    }
    busGone_ = false;
    reconnected();
}

void PortalShortcuts::reconnected() {
    // The portal on the new bus is followed from now on; where it runs already, it is asked
    // as at the start.
    portalWatcher_.setConnection(bus_);
    portalWatcher_.addWatchedService(kService);
    QDBusMessage owner = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("GetNameOwner"));
    owner << kService;
    auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(owner, kCheckTimeoutMs), this);
    const int generation = generation_;
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, watcher, generation] {
        watcher->deleteLater();
        if (generation != generation_) return;
        const QDBusMessage reply = watcher->reply();
        if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) return;
        onPortalOwner(kService, QString(), reply.arguments().first().toString());
    });
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

void PortalShortcuts::request(const QString& method, const QList<QVariant>& args,
                              const QString& token, const char* slot) {
    // Listening before the call, so that a quick answer is not missed.
    watchedRequest_ = requestPath(token);
    bus_.connect(kService, watchedRequest_, kRequest, QStringLiteral("Response"), this, slot);
    QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kShortcuts, method);
    call.setArguments(args);
    auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(call, kCheckTimeoutMs), this);
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
                    watchedRequest_.clear();
                    busy_ = false;
                    if (method == QLatin1String("ListShortcuts")) {
                        // A portal without the list: the shortcuts are bound as before.
                        bindWanted();
                        return;
                    }
                    failUnbound(Fill(Tr(texts(),
                                        "the desktop's global shortcuts portal refused "
                                        "{method} ({error}); {hint}"),
                                     {{"method", method.toStdString()},
                                      {"error", reply.error().message().toStdString()}}));
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
    options.insert(QStringLiteral("shortcuts"),
                   QVariant::fromValue(ShortcutList(texts(), wanted_)));
    request(QStringLiteral("CreateSession"), {options}, token,
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
            if (wanted_.empty()) {
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
        failUnbound(Tr(texts(), "the desktop did not open a global shortcuts session; {hint}"));
        return;
    }
    retried_ = false;
    bus_.connect(kService, kPath, kShortcuts, QStringLiteral("Activated"), this,
                 SLOT(onActivated(QDBusObjectPath, QString, qulonglong, QVariantMap)));
    bus_.connect(kService, kPath, kShortcuts, QStringLiteral("ShortcutsChanged"), this,
                 SLOT(onShortcutsChanged(QDBusMessage)));
    listShortcuts();
}

void PortalShortcuts::listShortcuts() {
    // One request at a time: what is asked for meanwhile is looked at when it is answered.
    if (busy_) again_ = true;
    if (busy_ || session_.isEmpty()) return;
    busy_ = true;
    const QString token = nextToken();
    QVariantMap options;
    options.insert(QStringLiteral("handle_token"), token);
    request(QStringLiteral("ListShortcuts"),
            {QVariant::fromValue(QDBusObjectPath(session_)), options}, token,
            SLOT(onListResponse(uint, QVariantMap)));
}

void PortalShortcuts::onListResponse(uint response, const QVariantMap& results) {
    bus_.disconnect(kService, watchedRequest_, kRequest, QStringLiteral("Response"), this,
                    SLOT(onListResponse(uint, QVariantMap)));
    watchedRequest_.clear();
    busy_ = false;
    // What the desktop already holds for the program is not bound again: a desktop that opens
    // its settings or a dialog for each bind does so once, not at every login.
    const std::map<QString, bool> listed = ListedKeys(results.value(QStringLiteral("shortcuts")));
    bool complete = response == 0;
    for (const auto& [id, trigger] : wanted_) {
        complete = complete && listed.count(ShortcutName(id)) != 0;
    }
    if (!complete) {
        bindWanted();
        return;
    }
    judge(listed);
}

void PortalShortcuts::bindWanted() {
    if (busy_ || session_.isEmpty() || wanted_.empty()) return;
    busy_ = true;
    // Every shortcut, also those the desktop holds: some desktops keep only what the last
    // bind listed.
    const QString token = nextToken();
    QVariantMap options;
    options.insert(QStringLiteral("handle_token"), token);
    // No parent window: the display is not a window to put the portal's dialog on. The
    // request stays open while the desktop's dialog waits for the user.
    request(QStringLiteral("BindShortcuts"),
            {QVariant::fromValue(QDBusObjectPath(session_)),
             QVariant::fromValue(ShortcutList(texts(), wanted_)), QString(), options},
            token, SLOT(onBindResponse(uint, QVariantMap)));
}

void PortalShortcuts::onBindResponse(uint response, const QVariantMap& results) {
    bus_.disconnect(kService, watchedRequest_, kRequest, QStringLiteral("Response"), this,
                    SLOT(onBindResponse(uint, QVariantMap)));
    watchedRequest_.clear();
    busy_ = false;
    // The list decides, not the code: GNOME answers 2 also after the user added the keys.
    const QVariant list = results.value(QStringLiteral("shortcuts"));
    std::map<QString, bool> listed = ListedKeys(list);
    if (!list.isValid() && response == 0) {
        // An answer without a list: what was asked is bound.
        for (const auto& [id, trigger] : wanted_) listed[ShortcutName(id)] = true;
    }
    bool any = false;
    for (const auto& [name, key] : listed) any = any || key;
    if (!any && response == 1) {
        failUnbound(Tr(texts(),
                       "the desktop's shortcut dialog was declined; Vexlo asks again at "
                       "its next start, or {hint}"));
        return;
    }
    if (!any && response != 0) {
        // GNOME answers its dialog's "Cancel" so: 2 without a list (and "Add" with 2 and the
        // list), as it answers a refusal of its own.
        failUnbound(Tr(texts(),
                       "the desktop did not add them (its shortcut dialog was "
                       "cancelled, or it refused them); Vexlo asks again at its next "
                       "start, or {hint}"));
        return;
    }
    judge(listed);
}

void PortalShortcuts::judge(const std::map<QString, bool>& listed) {
    std::set<int> withKey;
    std::set<int> withoutKey;
    for (const auto& [id, trigger] : wanted_) {
        const auto it = listed.find(ShortcutName(id));
        if (it != listed.end() && it->second) {
            withKey.insert(id);
        } else {
            withoutKey.insert(id);
        }
    }
    bound_.insert(withKey.begin(), withKey.end());
    checkActiveKeys(withKey, withoutKey);
    // A shortcut asked for while the desktop was answering is looked up now.
    if (again_) {
        again_ = false;
        listShortcuts();
    }
}

void PortalShortcuts::onShortcutsChanged(const QDBusMessage& message) {
    const QList<QVariant> args = message.arguments();
    if (args.size() < 2 || PathText(args[0]) != session_) return;
    // The user's choice in the desktop's settings or dialog: the keys now set count, and
    // nothing more is told.
    const std::map<QString, bool> listed = ListedKeys(args[1]);
    for (const auto& [id, trigger] : wanted_) {
        const auto it = listed.find(ShortcutName(id));
        if (it == listed.end()) continue;
        if (it->second) {
            bound_.insert(id);
        } else {
            bound_.erase(id);
        }
    }
}

void PortalShortcuts::checkActiveKeys(const std::set<int>& withKey, std::set<int> withoutKey) {
    // Only KDE's own service knows whether the keys its portal named are active; elsewhere,
    // or without it on the bus, the portal's answer stands.
    if (withKey.empty() || !IsKde(CurrentDesktop())) {
        reportWithoutKey(withoutKey);
        return;
    }
    askComponent(0, withKey, std::move(withoutKey));
}

void PortalShortcuts::askComponent(std::size_t candidate, const std::set<int>& withKey,
                                   std::set<int> withoutKey) {
    // KDE names the program's group of shortcuts after the application id (Plasma 6), after
    // the session token where the desktop does not know the id (Plasma 6 without the desktop
    // file), or after the token alone (Plasma 5.27). Object paths spell it with "_" for
    // every other character than a letter or digit.
    static const QString kComponents[] = {kAppId, QStringLiteral("token_") + kSessionToken,
                                          kSessionToken};
    if (candidate >= std::size(kComponents)) {
        reportWithoutKey(withoutKey);
        return;
    }
    QString name = kComponents[candidate];
    for (QChar& c : name) {
        if (!c.isLetterOrNumber() || c.unicode() > 127) c = QLatin1Char('_');
    }
    QDBusMessage call =
        QDBusMessage::createMethodCall(kKdeService, QStringLiteral("/component/") + name,
                                       kKdeComponent, QStringLiteral("allShortcutInfos"));
    call.setAutoStartService(false);
    auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(call, kKdeTimeoutMs), this);
    const int generation = generation_;
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, watcher, candidate, withKey, withoutKey, generation]() mutable {
                watcher->deleteLater();
                if (generation != generation_) return;
                const QDBusMessage reply = watcher->reply();
                std::set<QString> names;
                const std::set<QString> inactive = WithoutActiveKey(reply, &names);
                bool ours = false;
                for (int id : withKey) ours = ours || names.count(ShortcutName(id)) != 0;
                if (!ours) {
                    askComponent(candidate + 1, withKey, std::move(withoutKey));
                    return;
                }
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
        if (wanted_.count(id) == 0 || bound_.count(id) != 0) continue;
        if (!names.empty()) names += Tr(texts(), " and ");
        names += "\"" + Description(texts(), id).toStdString() + "\"";
    }
    if (names.empty()) return;
    if (unregistered_) {
        failUnbound("{hint}");
        return;
    }
    // TRANSLATORS: {names} are the shortcuts' names in quotes, joined by " and " ("Volume up"
    // and "Volume down"); {place} the way to the desktop's shortcut settings.
    fail(Fill(Tr(texts(), "the desktop has no key for {names} yet; assign one in {place}"),
              {{"names", names}, {"place", SettingsPlace(texts(), CurrentDesktop())}}));
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
