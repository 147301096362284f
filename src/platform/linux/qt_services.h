// The small Qt-backed services: timers, the screen, the tray icon and message boxes.
#pragma once

#include <QDBusConnection>
#include <QIcon>
#include <QImage>
#include <QObject>
#include <QSystemTrayIcon>
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "platform/linux/event_port.h"
#include "platform/message_box.h"
#include "platform/screen.h"
#include "platform/texts.h"
#include "platform/timers.h"
#include "platform/tray.h"
#include "platform/window_system.h"

class QDBusMessage;
class QDBusServiceWatcher;
class QMenu;
class QTimer;

namespace vexlo::linux_platform {

class QtWindowSystem;

class QtTimerService : public TimerService {
  public:
    explicit QtTimerService(EventPort& port) : port_(port) {}
    std::unique_ptr<Timer> createTimer(int intervalMs, bool enabled) override;
    std::unique_ptr<Timer> createWatchTimer(int intervalMs, bool enabled,
                                            std::function<bool()> unchanged) override;

  private:
    EventPort& port_;
    TimerId nextId_ = 1;
};

class QtScreen : public Screen {
  public:
    int width() const override;
    int height() const override;
    // 1440 twips per logical inch.
    float twipsPerPixelX() const override;
    float twipsPerPixelY() const override;
    // Qt's screens as they are now (qt_windows.cpp, beside the placement of windows).
    MonitorArea monitor(MonitorChoice choice) override;
};

// Tray icons as QSystemTrayIcon (XEmbed or StatusNotifier, whichever the desktop offers).
// Presses reach the core as the mouse message the icon record asks for: a WM_MOUSEMOVE of the
// record's window whose x is the button message.
//
// Qt decides once per process, when its first tray icon is made, which kind of tray it
// talks to, so an icon is only made once a tray host runs; until then the record waits and
// the session is asked twice a second. A StatusNotifier host shows the menu the item exports:
// it holds the core's own tray menu (the one a right press pops up), and its commands go to
// the core as menu commands. A StatusNotifier watcher that is replaced gets the icons anew.
// The wheel over an icon reaches the core as a tray wheel event of the record's window, as
// reported: over an XEmbed icon Qt's wheel event, on a StatusNotifier host the host's Scroll
// call.
//
// The tray asks the session bus on a connection of its own and never waits for an answer: a
// probe takes the last answer and asks anew. When the bus goes (its daemon restarted), the
// tray connects again once it is back, and icons on a StatusNotifier host are made anew there;
// notifications go to the new bus too.
class QtTray : public TrayService, public UsesTexts {
  public:
    enum class Host { None, XEmbed, StatusNotifier };
    // hostProbe tells which tray host runs now; by default the session is asked.
    explicit QtTray(EventPort& port, std::function<Host()> hostProbe = {});
    ~QtTray() override;
    bool notify(std::uint32_t message, const TrayIconRecord& record) override;
    // The window system whose popup menus the exported menu is taken from.
    void setMenuSource(QtWindowSystem* windows) { windows_ = windows; }
    bool balloon(const TrayIconRecord& record, const std::string& title,
                 const std::string& text) override;

    // For tests: the live icon of a record (null while it waits for a host) and its
    // exported menu (null on an XEmbed tray).
    QSystemTrayIcon* icon(NativeHandle window, std::uint32_t id) const;
    QMenu* exportedMenu(NativeHandle window, std::uint32_t id) const;
    // A Scroll or ContextMenu call of a StatusNotifier host on the item as the program gets it
    // (Qt answers Scroll itself and drops it, and drops ContextMenu's place); true when it was
    // one.
    bool hostCall(const QDBusMessage& call);
    // The wheel units (120 a notch, positive up) of a Scroll delta from the tray host whose
    // process has the name given ("" when it is not known): the hosts do not agree on it.
    static int ScrollUnits(const QString& host, int delta);

  private:
    using Key = std::pair<NativeHandle, std::uint32_t>;
    struct Entry {
        TrayIconRecord record;
        QSystemTrayIcon* icon = nullptr;
        QMenu* menu = nullptr;           // the exported menu on a StatusNotifier host
        QObject* wheelFilter = nullptr;  // on the icon
        std::vector<MenuItem> items;
        qint64 menuShownAt = -1;  // when the host last opened the exported menu
        // A balloon asked for while the icon waits for a host: shown with the icon.
        std::optional<std::pair<QString, QString>> balloon;
    };
    void apply(QSystemTrayIcon& icon, const TrayIconRecord& record);
    void activated(Key key, QSystemTrayIcon::ActivationReason reason);
    void press(const TrayIconRecord& record, std::uint32_t message);
    void wheel(Key key, int delta, bool vertical);
    QString callerName(const QString& sender);  // the process of a bus connection, or ""
    void makeIcon(Key key, Entry& entry);
    void dropIcon(Entry& entry);
    void fillMenu(Key key);
    void probe();
    void watcherChanged();
    // The session's tray host as last heard; asks again meanwhile.
    Host sessionHost();
    void askWatcher();
    void openBus();
    void watchWatcher();
    // Looks at the connection; once it has broken, connects again when the bus is back.
    void checkBus();
    void notifyOrBalloon(Key key, const QString& title, const QString& text);
    void showEntryBalloon(Key key, const QString& title, const QString& text);
    void showBalloon(QSystemTrayIcon& icon, const QString& title, const QString& text,
                     int triesLeft);
    // The icon for a picture's images: the same QIcon for the same images. The program loads
    // the level icon anew at every level change, and every new QIcon leaves its scaled
    // pixmaps in Qt's pixmap cache, which a resident program would fill to its limit.
    QIcon iconFor(const std::vector<QImage>& frames);

    EventPort& port_;
    std::function<Host()> hostProbe_;
    QtWindowSystem* windows_ = nullptr;
    Host host_ = Host::None;  // the kind of tray Qt was given, once an icon is made
    bool toldNoHost_ = false;
    std::unique_ptr<QObject> context_;
    QTimer* probeTimer_ = nullptr;
    QDBusServiceWatcher* watcher_ = nullptr;
    QDBusConnection bus_ {QString()};  // opened on first use
    bool opened_ = false;
    QTimer* busCheck_ = nullptr;
    // Whether a StatusNotifier host has registered with the watcher: -1 not heard yet, 0 no,
    // 1 yes.
    int sniHost_ = -1;
    bool asking_ = false;
    int askSerial_ = 0;  // answers to an older question (on a bus gone since) are ignored
    bool busLost_ = false;
    bool undecided_ = false;  // the last probe waits for the session's answer
    std::list<std::pair<std::vector<QImage>, QIcon>> iconCache_;  // most recent first
    std::map<Key, Entry> entries_;
    std::map<QString, QString> callers_;  // the process names of the hosts' connections
    std::optional<std::pair<QPoint, qint64>> contextPlace_;  // of the last ContextMenu, and when
};

class QtMessageBoxes : public MessageBoxes {
  public:
    int show(const std::string& text, const std::string& caption, std::uint32_t style) override;
};

}  // namespace vexlo::linux_platform
