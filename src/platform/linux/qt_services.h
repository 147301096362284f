// The small Qt-backed services: timers, the screen, the tray icon and message boxes.
#pragma once

#include <QIcon>
#include <QImage>
#include <QObject>
#include <QSystemTrayIcon>
#include <list>
#include <map>
#include <memory>
#include <utility>
#include <vector>

#include "platform/linux/event_port.h"
#include "platform/message_box.h"
#include "platform/screen.h"
#include "platform/timers.h"
#include "platform/tray.h"

class QTimer;

namespace vexlo::linux_platform {

class QtTimerService : public TimerService {
  public:
    explicit QtTimerService(EventPort& port) : port_(port) {}
    std::unique_ptr<Timer> createTimer(int intervalMs, bool enabled) override;

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
};

// Tray icons as QSystemTrayIcon (XEmbed or StatusNotifier, whichever the desktop offers).
// Presses reach the core as the mouse message the icon record asks for: a WM_MOUSEMOVE of the
// record's window whose x is the button message.
class QtTray : public TrayService {
  public:
    explicit QtTray(EventPort& port) : port_(port) {}
    ~QtTray() override;
    bool notify(std::uint32_t message, const TrayIconRecord& record) override;
    bool balloon(const TrayIconRecord& record, const std::string& title,
                 const std::string& text) override;

    // For tests: the live icon of a record, or null.
    QSystemTrayIcon* icon(NativeHandle window, std::uint32_t id) const;

  private:
    using Key = std::pair<NativeHandle, std::uint32_t>;
    void apply(QSystemTrayIcon& icon, const TrayIconRecord& record);
    void activated(Key key, QSystemTrayIcon::ActivationReason reason);
    void showBalloon(QSystemTrayIcon& icon, const QString& title, const QString& text,
                     int triesLeft);
    // The icon for a picture's images: the same QIcon for the same images. The program loads
    // the level icon anew at every level change, and every new QIcon leaves its scaled
    // pixmaps in Qt's pixmap cache, which a resident program would fill to its limit.
    QIcon iconFor(const std::vector<QImage>& frames);

    EventPort& port_;
    std::list<std::pair<std::vector<QImage>, QIcon>> iconCache_;  // most recent first
    std::map<Key, QSystemTrayIcon*> icons_;
    std::map<Key, TrayIconRecord> records_;
};

class QtMessageBoxes : public MessageBoxes {
  public:
    explicit QtMessageBoxes(EventPort& port) : port_(port) {}
    int show(const std::string& text, const std::string& caption, std::uint32_t style) override;

  private:
    EventPort& port_;
};

}  // namespace vexlo::linux_platform
