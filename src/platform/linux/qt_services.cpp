#include "platform/linux/qt_services.h"

#include <dlfcn.h>

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusReply>
#include <QDBusServiceWatcher>
#include <QDBusVariant>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QMenu>
#include <QMessageBox>
#include <QPixmap>
#include <QScreen>
#include <QTimer>
#include <QWheelEvent>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>

#include "platform/event_sink.h"
#include "platform/linux/bus_connection.h"
#include "platform/linux/qt_images.h"
#include "platform/linux/qt_windows.h"
#include "platform/linux/watch_timer.h"
#include "platform/linux/x11_util.h"
#include "platform/types.h"

namespace vexlo::linux_platform {

// ---- Timers ------------------------------------------------------------------------------

namespace {

class QtTimer : public Timer {
  public:
    QtTimer(EventPort& port, TimerId id, int intervalMs, bool enabled)
        : id_(id), timer_(new QTimer) {
        timer_->setTimerType(Qt::PreciseTimer);
        timer_->setInterval(intervalMs);
        QObject::connect(timer_, &QTimer::timeout, timer_, [&port, id] {
            port.deliver([id](EventSink& sink) { sink.onTimer(id); });
        });
        if (enabled) timer_->start();
    }
    ~QtTimer() override {
        // The tick that is running may be the one that destroys this timer.
        timer_->stop();
        timer_->disconnect();
        timer_->deleteLater();
    }
    TimerId id() const override { return id_; }
    int interval() const override { return timer_->interval(); }
    void setEnabled(bool enabled) override {
        if (enabled == timer_->isActive()) return;
        if (enabled) {
            timer_->start();
        } else {
            timer_->stop();
        }
    }
    bool enabled() const override { return timer_->isActive(); }

  private:
    TimerId id_;
    QTimer* timer_;
};

}  // namespace

std::unique_ptr<Timer> QtTimerService::createTimer(int intervalMs, bool enabled) {
    return std::make_unique<QtTimer>(port_, nextId_++, intervalMs, enabled);
}

std::unique_ptr<Timer> QtTimerService::createWatchTimer(int intervalMs, bool enabled,
                                                        std::function<bool()> unchanged) {
    return std::make_unique<WatchTimer>(port_, nextId_++, intervalMs, enabled,
                                        std::move(unchanged));
}

// ---- Screen ------------------------------------------------------------------------------

namespace {
QScreen* Primary() {
    return qGuiApp != nullptr ? QGuiApplication::primaryScreen() : nullptr;
}
constexpr float kTwipsPerInch = 1440.0f;
constexpr float kDefaultTwipsPerPixel = 15.0f;
}  // namespace

int QtScreen::width() const {
    QScreen* s = Primary();
    return s != nullptr ? s->geometry().width() : 0;
}

int QtScreen::height() const {
    QScreen* s = Primary();
    return s != nullptr ? s->geometry().height() : 0;
}

float QtScreen::twipsPerPixelX() const {
    QScreen* s = Primary();
    const double dpi = s != nullptr ? s->logicalDotsPerInchX() : 0;
    return dpi > 0 ? kTwipsPerInch / static_cast<float>(dpi) : kDefaultTwipsPerPixel;
}

float QtScreen::twipsPerPixelY() const {
    QScreen* s = Primary();
    const double dpi = s != nullptr ? s->logicalDotsPerInchY() : 0;
    return dpi > 0 ? kTwipsPerInch / static_cast<float>(dpi) : kDefaultTwipsPerPixel;
}

// ---- Tray --------------------------------------------------------------------------------

namespace {

const QString kWatcherService = QStringLiteral("org.kde.StatusNotifierWatcher");
const QString kNotifications = QStringLiteral("org.freedesktop.Notifications");
constexpr int kBalloonMs = 10000;
constexpr int kNotifyTimeoutMs = 5000;

// The program's icon as installed in the icon theme, which notification services take by
// name; empty when it is not installed (a build folder).
QString InstalledIconName() {
    QStringList folders;
    const QByteArray home = qgetenv("XDG_DATA_HOME");
    folders << (home.startsWith('/')
                    ? QString::fromLocal8Bit(home)
                    : QString::fromLocal8Bit(qgetenv("HOME")) + QStringLiteral("/.local/share"));
    const QByteArray dirs = qgetenv("XDG_DATA_DIRS");
    folders << (dirs.isEmpty() ? QStringLiteral("/usr/local/share:/usr/share")
                               : QString::fromLocal8Bit(dirs))
                   .split(QLatin1Char(':'), Qt::SkipEmptyParts);
    for (const QString& folder : folders) {
        if (QFile::exists(folder + QStringLiteral("/icons/hicolor/scalable/apps/vexlo.svg")) ||
            QFile::exists(folder + QStringLiteral("/icons/hicolor/256x256/apps/vexlo.png"))) {
            return QStringLiteral("vexlo");
        }
    }
    return QString();
}
constexpr int kProbeMs = 500;
// How often the tray's connection is looked at, and a lost bus tried again.
constexpr int kBusCheckMs = 1000;
// A request of a StatusNotifier host to show the application's own menu is answered with the
// core's popup unless the host opened the exported menu about then: a host may do both.
constexpr int kContextSettleMs = 250;
constexpr qint64 kMenuShownWindowMs = 1000;

const QString kItemInterface = QStringLiteral("org.kde.StatusNotifierItem");
const QString kItemPath = QStringLiteral("/StatusNotifierItem");

// Qt's StatusNotifierItem answers a host's Scroll call and does nothing with it, and the item
// object it registers cannot be registered a second time. QtDBus lets a program look at every
// method call it receives before the call is handled (a "spy hook"; calls from other processes
// reach it on the main thread, through the event loop); that sees the Scroll calls and leaves Qt's
// own handling as it is. The hook is exported by QtDBus without a public declaration, so it is
// looked up at run time: a Qt without it has no wheel on StatusNotifier hosts and nothing else
// changes. Hooks stay for the whole process.
using SpyHook = void (*)(const QDBusMessage&);
std::set<QtTray*>& LiveTrays() {
    static std::set<QtTray*> trays;
    return trays;
}
void SpyOnCall(const QDBusMessage& call) {
    for (QtTray* tray : LiveTrays()) {
        if (tray->hostCall(call)) return;
    }
}
void InstallScrollSpy() {
    static const bool installed = [] {
        // void qDBusAddSpyHook(void (*)(const QDBusMessage&))
        auto add = reinterpret_cast<void (*)(SpyHook)>(
            dlsym(RTLD_DEFAULT, "_Z15qDBusAddSpyHookPFvRK12QDBusMessageE"));
        if (add == nullptr) return false;
        add(&SpyOnCall);
        return true;
    }();
    (void)installed;
}

// Wheel events of an XEmbed icon's window, which Qt hands on to the QSystemTrayIcon.
class WheelFilter : public QObject {
  public:
    WheelFilter(QObject* parent, std::function<void(QPoint)> turned)
        : QObject(parent), turned_(std::move(turned)) {}
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::Wheel) return QObject::eventFilter(watched, event);
        turned_(static_cast<QWheelEvent*>(event)->angleDelta());
        return true;
    }

  private:
    std::function<void(QPoint)> turned_;
};

qint64 NowMs() {
    static QElapsedTimer clock;
    if (!clock.isValid()) clock.start();
    return clock.elapsed();
}

bool XEmbedHostRuns() {
    xcb_connection_t* c = X11Connection();
    if (c == nullptr) return false;
    // The tray of the default screen owns its selection; Qt docks on the default screen.
    int screen = 0;
    if (const char* display = std::getenv("DISPLAY")) {
        if (const char* dot = std::strrchr(display, '.');
            dot != nullptr && dot > std::strchr(display, ':'))
            screen = std::atoi(dot + 1);
    }
    const xcb_atom_t selection = X11Atom("_NET_SYSTEM_TRAY_S" + std::to_string(screen));
    if (selection == XCB_ATOM_NONE) return false;
    xcb_get_selection_owner_reply_t* reply =
        xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, selection), nullptr);
    const bool owned = reply != nullptr && reply->owner != XCB_WINDOW_NONE;
    std::free(reply);
    return owned;
}

}  // namespace

QtTray::Host QtTray::sessionHost() {
    askWatcher();
    undecided_ = false;
    if (sniHost_ == 1) return Host::StatusNotifier;
    // The bus's first answer decides between the kinds (a StatusNotifier desktop may also
    // offer an XEmbed tray); it comes by the next probe.
    if (sniHost_ < 0 && bus_.isConnected()) {
        undecided_ = true;
        return Host::None;
    }
    return XEmbedHostRuns() ? Host::XEmbed : Host::None;
}

void QtTray::openBus() {
    if (opened_) return;
    opened_ = true;
    bus_ = OpenBus(QString(), QStringLiteral("vexlo-tray"));
    if (!bus_.isConnected()) return;  // no session bus: nothing to follow
    busCheck_ = new QTimer(context_.get());
    busCheck_->setInterval(kBusCheckMs);
    QObject::connect(busCheck_, &QTimer::timeout, context_.get(), [this] { checkBus(); });
    busCheck_->start();
}

void QtTray::askWatcher() {
    openBus();
    if (!bus_.isConnected()) {
        sniHost_ = 0;
        return;
    }
    if (asking_) return;
    asking_ = true;
    // Qt gives its icons to the watcher only when a host has registered with it.
    QDBusMessage get = QDBusMessage::createMethodCall(
        kWatcherService, QStringLiteral("/StatusNotifierWatcher"),
        QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    get << kWatcherService << QStringLiteral("IsStatusNotifierHostRegistered");
    get.setAutoStartService(false);
    auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(get, kProbeMs), context_.get());
    const int serial = ++askSerial_;
    QObject::connect(
        watcher, &QDBusPendingCallWatcher::finished, context_.get(), [this, watcher, serial] {
            watcher->deleteLater();
            if (serial != askSerial_) return;
            asking_ = false;
            const QDBusMessage reply = watcher->reply();
            sniHost_ =
                reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty() &&
                        qvariant_cast<QDBusVariant>(reply.arguments().first()).variant().toBool()
                    ? 1
                    : 0;
        });
}

void QtTray::watchWatcher() {
    delete watcher_;
    watcher_ = new QDBusServiceWatcher(kWatcherService, bus_,
                                       QDBusServiceWatcher::WatchForRegistration, context_.get());
    QObject::connect(watcher_, &QDBusServiceWatcher::serviceRegistered, context_.get(),
                     [this] { watcherChanged(); });
}

void QtTray::checkBus() {
    if (bus_.isConnected()) return;
    if (!busLost_) {
        // Gone: its subscriptions first, then the connection.
        busLost_ = true;
        delete watcher_;
        watcher_ = nullptr;
        ReleaseBus(bus_);
        sniHost_ = -1;
        // A question on the old bus may never be answered.
        asking_ = false;
        ++askSerial_;
    }
    bus_ = OpenBus(QString(), QStringLiteral("vexlo-tray"));
    if (!bus_.isConnected()) {
        ReleaseBus(bus_);
        return;  // tried again at the next check
    }
    busLost_ = false;
    // Items of a StatusNotifier host went with the old bus: made anew for the new one.
    if (host_ == Host::StatusNotifier) {
        watchWatcher();
        watcherChanged();
    }
}

QtTray::QtTray(EventPort& port, std::function<Host()> hostProbe)
    : port_(port), hostProbe_(std::move(hostProbe)), context_(new QObject) {
    if (!hostProbe_) hostProbe_ = [this] { return sessionHost(); };
    probeTimer_ = new QTimer(context_.get());
    probeTimer_->setInterval(kProbeMs);
    QObject::connect(probeTimer_, &QTimer::timeout, context_.get(), [this] { probe(); });
    LiveTrays().insert(this);
}

QtTray::~QtTray() {
    LiveTrays().erase(this);
    for (auto& [key, entry] : entries_) dropIcon(entry);
    if (windows_ != nullptr) windows_->setMenuCapture({});
    // What is subscribed to the connection goes before it.
    watcher_ = nullptr;
    context_.reset();
    ReleaseBus(bus_);
}

QSystemTrayIcon* QtTray::icon(NativeHandle window, std::uint32_t id) const {
    const auto it = entries_.find({window, id});
    return it == entries_.end() ? nullptr : it->second.icon;
}

QMenu* QtTray::exportedMenu(NativeHandle window, std::uint32_t id) const {
    const auto it = entries_.find({window, id});
    return it == entries_.end() ? nullptr : it->second.menu;
}

QIcon QtTray::iconFor(const std::vector<QImage>& frames) {
    constexpr std::size_t kKept = 8;  // four level icons, and room for a changed skin
    for (auto it = iconCache_.begin(); it != iconCache_.end(); ++it) {
        if (it->first == frames) {
            iconCache_.splice(iconCache_.begin(), iconCache_, it);
            return it->second;
        }
    }
    QIcon icon;
    for (const QImage& frame : frames) icon.addPixmap(QPixmap::fromImage(frame));
    iconCache_.emplace_front(frames, icon);
    if (iconCache_.size() > kKept) iconCache_.pop_back();
    return icon;
}

void QtTray::apply(QSystemTrayIcon& icon, const TrayIconRecord& record) {
    if (record.uFlags & NIF_ICON) {
        const QtPicture* picture = QtPicture::Find(record.hIcon);
        icon.setIcon(picture != nullptr ? iconFor(picture->frames()) : QIcon());
    }
    if (record.uFlags & NIF_TIP) {
        const std::size_t n = strnlen(record.szTip, sizeof record.szTip);
        icon.setToolTip(QString::fromLocal8Bit(record.szTip, static_cast<qsizetype>(n)));
    }
}

void QtTray::makeIcon(Key key, Entry& entry) {
    auto* icon = new QSystemTrayIcon;
    // Everything the record has set so far: it may have been modified while it waited.
    TrayIconRecord all = entry.record;
    all.uFlags |= NIF_ICON | NIF_TIP;
    apply(*icon, all);
    QObject::connect(
        icon, &QSystemTrayIcon::activated, context_.get(),
        [this, key](QSystemTrayIcon::ActivationReason reason) { activated(key, reason); });
    entry.wheelFilter = new WheelFilter(icon, [this, key](QPoint angle) {
        // A diagonal turn of a touchpad is both.
        if (angle.y() != 0) wheel(key, angle.y(), true);
        if (angle.x() != 0) wheel(key, angle.x(), false);
    });
    icon->installEventFilter(entry.wheelFilter);
    if (host_ == Host::StatusNotifier) {
        entry.menu = new QMenu;
        QObject::connect(entry.menu, &QMenu::aboutToShow, context_.get(), [this, key] {
            const auto it = entries_.find(key);
            if (it == entries_.end()) return;
            it->second.menuShownAt = NowMs();
            fillMenu(key);
        });
        icon->setContextMenu(entry.menu);
        InstallScrollSpy();
        // Filled once the core is done with what it is doing now.
        QTimer::singleShot(0, context_.get(), [this, key] { fillMenu(key); });
    }
    entry.icon = icon;
    icon->show();
    if (entry.balloon) {
        showBalloon(*icon, entry.balloon->first, entry.balloon->second, 20);
        entry.balloon.reset();
    }
}

void QtTray::dropIcon(Entry& entry) {
    // Gone from the tray at once; the objects go when the event that dropped them is done.
    if (entry.icon != nullptr) {
        QObject::disconnect(entry.icon, nullptr, context_.get(), nullptr);
        // The filter goes with the icon; it may be the one running now.
        entry.icon->removeEventFilter(entry.wheelFilter);
        entry.wheelFilter = nullptr;
        entry.icon->hide();
        entry.icon->setContextMenu(nullptr);
        entry.icon->deleteLater();
        entry.icon = nullptr;
    }
    if (entry.menu != nullptr) {
        QObject::disconnect(entry.menu, nullptr, context_.get(), nullptr);
        entry.menu->deleteLater();
        entry.menu = nullptr;
    }
    entry.items.clear();
}

// The core's tray menu is what it pops up on a right press: that press is made here with the
// popup taken instead of shown.
void QtTray::fillMenu(Key key) {
    auto it = entries_.find(key);
    if (it == entries_.end() || it->second.menu == nullptr || windows_ == nullptr) return;
    std::vector<MenuItem> items;
    bool captured = false;
    windows_->setMenuCapture([&](const std::vector<MenuItem>& menu) {
        items = menu;
        captured = true;
    });
    press(it->second.record, WM_RBUTTONDOWN);
    windows_->setMenuCapture({});
    it = entries_.find(key);  // the core may have removed the icon meanwhile
    if (!captured || it == entries_.end() || it->second.menu == nullptr) return;
    Entry& entry = it->second;
    const bool same = items.size() == entry.items.size() &&
                      std::equal(items.begin(), items.end(), entry.items.begin(),
                                 [](const MenuItem& a, const MenuItem& b) {
                                     return a.id == b.id && a.caption == b.caption;
                                 });
    if (same) return;
    entry.items = items;
    entry.menu->clear();
    for (const MenuItem& item : items) {
        QAction* action = entry.menu->addAction(QString::fromStdString(item.caption));
        const int id = item.id;
        // The command arrives after the host's menu has closed, as a posted command would.
        QObject::connect(action, &QAction::triggered, context_.get(), [this, id] {
            QTimer::singleShot(0, context_.get(), [this, id] {
                port_.deliver([id](EventSink& sink) { sink.onMenuCommand(id); });
            });
        });
    }
}

void QtTray::probe() {
    const bool waiting = std::any_of(entries_.begin(), entries_.end(),
                                     [](const auto& e) { return e.second.icon == nullptr; });
    if (!waiting) {
        probeTimer_->stop();
        return;
    }
    const Host host = hostProbe_();
    if (host == Host::None) {
        if (!toldNoHost_ && !undecided_) {
            toldNoHost_ = true;
            std::fprintf(stderr, "vexlo: %s\n",
                         Tr(texts(),
                            "no system tray is running; the tray icon appears when one "
                            "starts.")
                             .c_str());
            std::fflush(stderr);
        }
        if (!probeTimer_->isActive()) probeTimer_->start();
        return;
    }
    probeTimer_->stop();
    // Qt keeps the kind of tray it found for its first icon.
    if (host_ == Host::None) {
        host_ = host;
        if (host_ == Host::StatusNotifier) {
            openBus();
            watchWatcher();
        }
    }
    for (auto& [key, entry] : entries_) {
        if (entry.icon == nullptr) makeIcon(key, entry);
    }
}

// A new StatusNotifier watcher knows none of the items the old one had: they are made anew
// once a host has registered with it.
void QtTray::watcherChanged() {
    for (auto& [key, entry] : entries_) dropIcon(entry);
    sniHost_ = -1;  // the new watcher is asked
    probe();
}

void QtTray::notifyOrBalloon(Key key, const QString& title, const QString& text) {
    // A notification of the desktop's service where the session has one (running or started
    // on demand): at normal urgency, so that every desktop shows it as a banner, and with the
    // application id, by which the desktop finds the program's entry and icon. Elsewhere the
    // tray's own balloon.
    openBus();
    if (!bus_.isConnected()) {
        showEntryBalloon(key, title, text);
        return;
    }
    QVariantMap hints;
    hints.insert(QStringLiteral("urgency"), QVariant::fromValue(static_cast<uchar>(1)));
    hints.insert(QStringLiteral("desktop-entry"), QGuiApplication::desktopFileName());
    QDBusMessage call = QDBusMessage::createMethodCall(
        kNotifications, QStringLiteral("/org/freedesktop/Notifications"), kNotifications,
        QStringLiteral("Notify"));
    call << QStringLiteral("Vexlo") << 0u << InstalledIconName() << title << text << QStringList()
         << hints << kBalloonMs;
    auto* watcher =
        new QDBusPendingCallWatcher(bus_.asyncCall(call, kNotifyTimeoutMs), context_.get());
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, context_.get(),
                     [this, watcher, key, title, text] {
                         watcher->deleteLater();
                         if (watcher->isError()) showEntryBalloon(key, title, text);
                     });
}

void QtTray::showEntryBalloon(Key key, const QString& title, const QString& text) {
    const auto it = entries_.find(key);
    if (it == entries_.end()) return;
    if (it->second.icon == nullptr) {
        it->second.balloon.emplace(title, text);  // no tray host yet
        return;
    }
    showBalloon(*it->second.icon, title, text, 20);
}

void QtTray::showBalloon(QSystemTrayIcon& icon, const QString& title, const QString& text,
                         int triesLeft) {
    // A notification where the desktop has a service for them, else Qt's own balloon, which
    // points at the icon's place: an icon added a moment ago may not be docked yet (it is
    // still at the screen's origin), so the balloon waits for it, two seconds at most. The
    // wait ends with the icon.
    const QRect place = icon.geometry();
    if ((place.isEmpty() || place.topLeft().isNull()) && triesLeft > 0) {
        QTimer::singleShot(100, &icon, [this, &icon, title, text, triesLeft] {
            showBalloon(icon, title, text, triesLeft - 1);
        });
        return;
    }
    // A StatusNotifier item shows the message's icon in its own place for as long as the
    // message is up; the item's own icon keeps that place for Vexlo (a warning sign there
    // would stand in the panel after the notification has gone).
    if (host_ == Host::StatusNotifier) {
        icon.showMessage(title, text, icon.icon(), kBalloonMs);
    } else {
        icon.showMessage(title, text, QSystemTrayIcon::Warning, kBalloonMs);
    }
}

bool QtTray::balloon(const TrayIconRecord& record, const std::string& title,
                     const std::string& text) {
    const auto it = entries_.find({record.hWnd, record.uID});
    if (it == entries_.end()) return false;
    notifyOrBalloon(it->first, QString::fromStdString(title), QString::fromStdString(text));
    return true;
}

bool QtTray::notify(std::uint32_t message, const TrayIconRecord& record) {
    const Key key {record.hWnd, record.uID};
    const auto it = entries_.find(key);
    switch (message) {
        case NIM_ADD: {
            if (it != entries_.end()) return false;
            entries_[key].record = record;
            probe();
            return true;
        }
        case NIM_MODIFY: {
            if (it == entries_.end()) return false;
            TrayIconRecord& kept = it->second.record;
            if (record.uFlags & NIF_ICON) kept.hIcon = record.hIcon;
            if (record.uFlags & NIF_TIP) std::memcpy(kept.szTip, record.szTip, sizeof kept.szTip);
            if (record.uFlags & NIF_MESSAGE) kept.uCallbackMessage = record.uCallbackMessage;
            kept.uFlags |= record.uFlags;
            if (it->second.icon != nullptr) apply(*it->second.icon, record);
            return true;
        }
        case NIM_DELETE: {
            if (it == entries_.end()) return false;
            dropIcon(it->second);
            entries_.erase(it);
            return true;
        }
        default:
            return false;
    }
}

void QtTray::press(const TrayIconRecord& record, std::uint32_t message) {
    if (!(record.uFlags & NIF_MESSAGE) || record.uCallbackMessage != WM_MOUSEMOVE) return;
    MouseEvent event;
    event.target = record.hWnd;
    event.message = WM_MOUSEMOVE;
    event.x = static_cast<int>(message);
    event.y = 0;
    port_.deliver([&event](EventSink& sink) { sink.onMouse(event); });
}

void QtTray::wheel(Key key, int delta, bool vertical) {
    const auto it = entries_.find(key);
    if (it == entries_.end()) return;
    const NativeHandle target = it->second.record.hWnd;
    port_.deliver([&](EventSink& sink) { sink.onTrayWheel(target, delta, vertical); });
}

// How the StatusNotifier hosts users run report the wheel (measured; see the desktop parts
// notes): Qt's angle (120 a notch, positive up) from Plasma's and LXQt's panels; notches counted
// positive down from GNOME Shell's AppIndicator extension (Clutter's delta rounded down, so a
// touchpad's fractions come as whole notches up and as nothing down), from swaybar (a call for
// each notch) and from Xfce's panel (its tray runs in the panel's plugin wrapper); GTK's delta
// (1.5 a notch, positive down) rounded from waybar: 2 for one notch, 3 for two at once, 1 for a
// touchpad's or a fine wheel's part. A host is told by the name of the process that makes the
// call: the delta cannot tell Plasma's touchpad (a few units of angle) from another host's
// notches. An unknown host is judged by the magnitude: small deltas are notches, larger ones
// angles.
int QtTray::ScrollUnits(const QString& host, int delta) {
    constexpr qint64 kNotch = 120;
    constexpr qint64 kMost = 100 * kNotch;  // far beyond what the core steps at once
    constexpr int kLargestNotchCount = 10;
    const qint64 down = delta;
    qint64 units = down;
    if (host == u"plasmashell" || host == u"lxqt-panel") {
        units = down;
    } else if (host == u"waybar") {
        const qint64 size = std::abs(down);
        units = (size == 1 ? kNotch / 2 : (2 * size + 1) / 3 * kNotch) * (down < 0 ? 1 : -1);
    } else if (host == u"gnome-shell" || host == u"swaybar" || host == u"xfce4-panel" ||
               host == u"wrapper-2.0" || std::abs(down) <= kLargestNotchCount) {
        units = -down * kNotch;
    }
    return static_cast<int>(std::clamp(units, -kMost, kMost));
}

bool QtTray::hostCall(const QDBusMessage& call) {
    if (call.type() != QDBusMessage::MethodCallMessage || call.interface() != kItemInterface ||
        call.path() != kItemPath)
        return false;
    const QList<QVariant> args = call.arguments();
    if (call.member() == u"ContextMenu" && args.size() == 2 &&
        args[0].metaType() == QMetaType::fromType<int>() &&
        args[1].metaType() == QMetaType::fromType<int>()) {
        // The place comes with the request Qt hands on (activated); (0, 0) is no place.
        const QPoint place(args[0].toInt(), args[1].toInt());
        if (place.isNull())
            contextPlace_.reset();
        else
            contextPlace_.emplace(place, NowMs());
        return true;
    }
    if (call.member() != u"Scroll") return false;
    if (args.size() != 2 || args[0].metaType() != QMetaType::fromType<int>() ||
        args[1].metaType() != QMetaType::fromType<QString>())
        return false;
    // Every item of the process has that path, each on its own connection, and the call does
    // not say which connection it came by: it goes to the first icon on a StatusNotifier host
    // (the program has one).
    for (auto& [key, entry] : entries_) {
        if (entry.icon == nullptr || entry.menu == nullptr) continue;
        wheel(key, ScrollUnits(callerName(call.service()), args[0].toInt()),
              args[1].toString().compare(u"vertical", Qt::CaseInsensitive) == 0);
        return true;
    }
    return false;
}

QString QtTray::callerName(const QString& sender) {
    // A connection's unique name is never given again, so its answer is kept (a host makes
    // one connection, or a few).
    const auto known = callers_.find(sender);
    if (known != callers_.end()) return known->second;
    QString name;
    QDBusConnectionInterface* bus =
        sender.startsWith(u':') && bus_.isConnected() ? bus_.interface() : nullptr;
    if (bus != nullptr) {
        const QDBusReply<uint> pid = bus->servicePid(sender);
        QFile comm(QStringLiteral("/proc/%1/comm").arg(pid.isValid() ? pid.value() : 0));
        if (pid.isValid() && comm.open(QIODevice::ReadOnly))
            name = QString::fromUtf8(comm.readAll()).trimmed();
    }
    if (callers_.size() < 64) callers_.emplace(sender, name);
    return name;
}

void QtTray::activated(Key key, QSystemTrayIcon::ActivationReason reason) {
    const auto it = entries_.find(key);
    if (it == entries_.end()) return;
    std::uint32_t message = 0;
    switch (reason) {
        case QSystemTrayIcon::Trigger:
            message = WM_LBUTTONDOWN;
            break;
        case QSystemTrayIcon::Context:
            message = WM_RBUTTONDOWN;
            break;
        case QSystemTrayIcon::DoubleClick:
            message = WM_LBUTTONDBLCLK;
            break;
        case QSystemTrayIcon::MiddleClick:
            message = WM_MBUTTONDOWN;
            break;
        default:
            return;
    }
    if (message == WM_RBUTTONDOWN && it->second.menu != nullptr) {
        // A StatusNotifier host asks for the application's own menu; it gets the core's popup
        // unless it is showing the exported one.
        const qint64 asked = NowMs();
        QTimer::singleShot(kContextSettleMs, context_.get(), [this, key, asked] {
            const auto e = entries_.find(key);
            if (e == entries_.end()) return;
            if (e->second.menuShownAt >= 0 &&
                std::abs(e->second.menuShownAt - asked) <= kMenuShownWindowMs)
                return;
            const bool placed =
                contextPlace_ && std::abs(contextPlace_->second - asked) <= kMenuShownWindowMs;
            if (placed && windows_ != nullptr) windows_->setMenuPlace(contextPlace_->first);
            contextPlace_.reset();
            press(e->second.record, WM_RBUTTONDOWN);
            if (windows_ != nullptr) windows_->setMenuPlace(std::nullopt);
        });
        return;
    }
    press(it->second.record, message);
}

// ---- Message boxes -----------------------------------------------------------------------

int QtMessageBoxes::show(const std::string& text, const std::string& caption, std::uint32_t style) {
    constexpr std::uint32_t kIconMask = 0xF0;
    constexpr std::uint32_t kButtonMask = 0x0F;
    constexpr std::uint32_t kOkCancel = 1, kYesNo = 4;
    constexpr int kIdCancel = 2, kIdYes = 6, kIdNo = 7;

    QMessageBox::Icon icon = QMessageBox::NoIcon;
    switch (style & kIconMask) {
        case MB_ICONHAND:
            icon = QMessageBox::Critical;
            break;
        case 0x20:
            icon = QMessageBox::Question;
            break;
        case 0x30:
            icon = QMessageBox::Warning;
            break;
        case 0x40:
            icon = QMessageBox::Information;
            break;
        default:
            break;
    }
    QMessageBox::StandardButtons buttons = QMessageBox::Ok;
    if ((style & kButtonMask) == kOkCancel) buttons = QMessageBox::Ok | QMessageBox::Cancel;
    if ((style & kButtonMask) == kYesNo) buttons = QMessageBox::Yes | QMessageBox::No;

    // Also on the standard error stream, which the desktop session keeps in its journal: a box
    // that ends the program is gone with it, and the reason should not be.
    std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
    std::fflush(stderr);
    QMessageBox box(icon, QString::fromStdString(caption), QString::fromStdString(text), buttons);
    box.setWindowFlag(Qt::WindowStaysOnTopHint, true);
    switch (box.exec()) {
        case QMessageBox::Cancel:
            return kIdCancel;
        case QMessageBox::Yes:
            return kIdYes;
        case QMessageBox::No:
            return kIdNo;
        default:
            return IDOK;
    }
}

}  // namespace vexlo::linux_platform
