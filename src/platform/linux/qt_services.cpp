#include "platform/linux/qt_services.h"

#include <QGuiApplication>
#include <QMessageBox>
#include <QPixmap>
#include <QScreen>
#include <QTimer>
#include <cstdio>
#include <cstring>

#include "platform/event_sink.h"
#include "platform/linux/qt_images.h"
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

QtTray::~QtTray() {
    for (auto& [key, icon] : icons_) {
        icon->hide();
        delete icon;
    }
}

QSystemTrayIcon* QtTray::icon(NativeHandle window, std::uint32_t id) const {
    const auto it = icons_.find({window, id});
    return it == icons_.end() ? nullptr : it->second;
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
    icon.showMessage(title, text, QSystemTrayIcon::Warning, 10000);
}

bool QtTray::balloon(const TrayIconRecord& record, const std::string& title,
                     const std::string& text) {
    QSystemTrayIcon* shown = icon(record.hWnd, record.uID);
    if (shown == nullptr) return false;
    showBalloon(*shown, QString::fromStdString(title), QString::fromStdString(text), 20);
    return true;
}

bool QtTray::notify(std::uint32_t message, const TrayIconRecord& record) {
    const Key key{record.hWnd, record.uID};
    const auto it = icons_.find(key);
    switch (message) {
        case NIM_ADD: {
            if (it != icons_.end()) return false;
            auto* icon = new QSystemTrayIcon;
            apply(*icon, record);
            QObject::connect(
                icon, &QSystemTrayIcon::activated, icon,
                [this, key](QSystemTrayIcon::ActivationReason reason) { activated(key, reason); });
            icons_[key] = icon;
            records_[key] = record;
            icon->show();
            return true;
        }
        case NIM_MODIFY: {
            if (it == icons_.end()) return false;
            apply(*it->second, record);
            records_[key] = record;
            return true;
        }
        case NIM_DELETE: {
            if (it == icons_.end()) return false;
            QSystemTrayIcon* icon = it->second;
            icons_.erase(it);
            records_.erase(key);
            icon->hide();
            icon->deleteLater();
            return true;
        }
        default:
            return false;
    }
}

void QtTray::activated(Key key, QSystemTrayIcon::ActivationReason reason) {
    const auto it = records_.find(key);
    if (it == records_.end()) return;
    const TrayIconRecord& record = it->second;
    if (!(record.uFlags & NIF_MESSAGE) || record.uCallbackMessage != WM_MOUSEMOVE) return;
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
    MouseEvent event;
    event.target = record.hWnd;
    event.message = WM_MOUSEMOVE;
    event.x = static_cast<int>(message);
    event.y = 0;
    port_.deliver([&event](EventSink& sink) { sink.onMouse(event); });
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
    EventPort::ModalScope modal(port_);
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
