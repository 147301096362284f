// The window, tray, timer, message box and hotkey adapters on the session's X display.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QApplication>
#include <QDBusMessage>
#include <QMenu>
#include <QMessageBox>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <QWheelEvent>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>

#include "hotkeys/key_chord.h"
#include "platform/linux/portal_shortcuts.h"
#include "platform/linux/qt_images.h"
#include "platform/linux/qt_services.h"
#include "platform/linux/qt_windows.h"
#include "platform/linux/termination.h"
#include "platform/linux/x11_util.h"
#include "platform/linux/xcb_hotkeys.h"
#include "platform/types.h"
#include "support.h"

namespace vexlo::linux_platform {
namespace {

using namespace std::chrono_literals;
using testing::RecordingSink;
using testing::WaitFor;

const QRgb kMagenta = qRgb(255, 0, 255);
const QRgb kBlue = qRgb(0, 0, 200);

// A picture: the left half magenta, the right half blue.
std::shared_ptr<const Picture> HalfKeyed(int width, int height) {
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(kBlue);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width / 2; ++x) image.setPixel(x, y, kMagenta);
    }
    return std::make_shared<QtPicture>(std::vector<QImage> {image});
}

std::shared_ptr<const Picture> Solid(int width, int height, QRgb colour) {
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(colour);
    return std::make_shared<QtPicture>(std::vector<QImage> {image});
}

QRgb ScreenPixel(int x, int y) {
    return QGuiApplication::primaryScreen()->grabWindow(0, x, y, 1, 1).toImage().pixel(0, 0);
}

std::uint32_t OpacityProperty(QtWindow& window) {
    xcb_connection_t* c = X11Connection();
    const auto id = static_cast<xcb_window_t>(window.surface()->winId());
    xcb_get_property_reply_t* reply = xcb_get_property_reply(
        c, xcb_get_property(c, 0, id, X11Atom("_NET_WM_WINDOW_OPACITY"), XCB_ATOM_CARDINAL, 0, 1),
        nullptr);
    std::uint32_t value = 0xFFFFFFFF;
    if (reply != nullptr && xcb_get_property_value_length(reply) == 4) {
        value = *static_cast<std::uint32_t*>(xcb_get_property_value(reply));
    }
    std::free(reply);
    return value;
}

// The program's top-level windows from bottom to top.
std::vector<xcb_window_t> StackingOrder() {
    xcb_connection_t* c = X11Connection();
    xcb_query_tree_reply_t* reply = xcb_query_tree_reply(c, xcb_query_tree(c, X11Root()), nullptr);
    std::vector<xcb_window_t> children;
    if (reply != nullptr) {
        const xcb_window_t* list = xcb_query_tree_children(reply);
        children.assign(list, list + xcb_query_tree_children_length(reply));
    }
    std::free(reply);
    return children;
}

class Windows : public ::testing::Test {
  protected:
    void SetUp() override {
        REQUIRE_X();
        port.setSink(&sink);
    }
    QtWindow& Make(WindowRole role = WindowRole::Overlay) {
        owned.push_back(std::make_unique<QtWindow>(system, role, "Test"));
        return *owned.back();
    }
    void Settle() {
        system.flush();
        testing::Pump(150ms);
    }

    EventPort port;
    RecordingSink sink;
    QtWindowSystem system {port};
    std::vector<std::unique_ptr<QtWindow>> owned;
};

TEST_F(Windows, TheColourKeyCutsOutExactlyTheMagentaThatIsPainted) {
    QtWindow& w = Make();
    system.setWindowLong(w.handle(), GWL_EXSTYLE,
                         system.getWindowLong(w.handle(), GWL_EXSTYLE) | WS_EX_LAYERED);
    EXPECT_EQ(system.getWindowLong(w.handle(), GWL_EXSTYLE), WS_EX_LAYERED);
    ASSERT_TRUE(system.setLayeredWindowAttributes(w.handle(), COLOR_KEY, 255, LWA_COLORKEY));
    w.setBackground(HalfKeyed(40, 20));
    // Wider than the picture: the uncovered strip is the plain background, not see-through.
    w.setBounds(100, 100, 60, 20);
    Element& bar = w.addElement(Element::Kind::Image, "bar");
    bar.setPicture(Solid(30, 4, qRgb(0, 200, 0)));
    bar.setBounds(0, 0, 10, 4);  // green over part of the magenta half
    w.show();
    Settle();

    const QRegion mask = w.surface()->mask();
    EXPECT_FALSE(mask.contains(QPoint(5, 10)));  // magenta: see-through
    EXPECT_TRUE(mask.contains(QPoint(30, 10)));  // blue
    EXPECT_TRUE(mask.contains(QPoint(50, 10)));  // plain background
    EXPECT_TRUE(mask.contains(QPoint(5, 2)));    // the element covers the key there
    EXPECT_FALSE(mask.contains(QPoint(15, 2)));  // clipped to the element's width
    // The first paint reaches the screen later on a loaded machine than the settle allows.
    WaitFor([] { return ScreenPixel(130, 110) == kBlue; });
    EXPECT_EQ(ScreenPixel(130, 110), kBlue);
    EXPECT_EQ(ScreenPixel(150, 110), qRgb(240, 240, 240));
    EXPECT_NE(ScreenPixel(105, 110), kMagenta);
    EXPECT_EQ(ScreenPixel(105, 101), qRgb(0, 200, 0));

    // Growing the element changes the mask with what is painted.
    bar.setBounds(0, 0, 30, 4);
    Settle();
    EXPECT_TRUE(w.surface()->mask().contains(QPoint(15, 2)));

    // A window that is all key colour shows nothing at all.
    w.setBounds(100, 100, 20, 20);
    Settle();
    EXPECT_FALSE(w.surface()->mask().contains(QPoint(5, 5)));
    EXPECT_NE(ScreenPixel(105, 110), kMagenta);
}

TEST_F(Windows, ConstantAlphaBecomesTheWindowOpacityAndNeedsTheLayeredStyle) {
    QtWindow& w = Make();
    w.setBackground(Solid(10, 10, kBlue));
    w.setBounds(0, 0, 10, 10);
    // Not layered yet: refused, as the system does.
    EXPECT_FALSE(
        system.setLayeredWindowAttributes(w.handle(), COLOR_KEY, 125, LWA_COLORKEY | LWA_ALPHA));
    system.setWindowLong(w.handle(), GWL_EXSTYLE, WS_EX_LAYERED);
    EXPECT_TRUE(
        system.setLayeredWindowAttributes(w.handle(), COLOR_KEY, 125, LWA_COLORKEY | LWA_ALPHA));
    w.show();
    Settle();
    EXPECT_EQ(OpacityProperty(w) >> 24, 125u);
    EXPECT_TRUE(
        system.setLayeredWindowAttributes(w.handle(), COLOR_KEY, 0, LWA_COLORKEY | LWA_ALPHA));
    Settle();
    EXPECT_EQ(OpacityProperty(w) >> 24, 0u);
    EXPECT_TRUE(w.surface()->isVisible());  // shown but invisible
    // The colour key alone means no constant alpha.
    EXPECT_TRUE(system.setLayeredWindowAttributes(w.handle(), COLOR_KEY, 17, LWA_COLORKEY));
    EXPECT_DOUBLE_EQ(w.opacity(), 1.0);
    EXPECT_TRUE(w.colorKeyed());
    // Unknown handles are refused everywhere.
    EXPECT_FALSE(system.setLayeredWindowAttributes(12345678, COLOR_KEY, 1, LWA_ALPHA));
    EXPECT_EQ(system.getWindowLong(12345678, GWL_EXSTYLE), 0);
    EXPECT_FALSE(system.setWindowPos(12345678, HWND_TOPMOST, 0, 0, 0, 0, 3));
}

TEST_F(Windows, ShowsStackInCallOrderAndAShowUndoneInTheSameEventNeverAppears) {
    QtWindow& a = Make();
    QtWindow& b = Make();
    QtWindow& c = Make();
    for (QtWindow* w : {&a, &b, &c}) {
        w->setBackground(Solid(20, 20, kBlue));
        w->setBounds(300, 300, 20, 20);
    }
    // Start-up shows the main window and hides it at once.
    a.show();
    a.hide();
    EXPECT_FALSE(a.visible());
    Settle();
    EXPECT_FALSE(a.surface()->isVisible());

    a.show();
    b.show();
    c.show();
    Settle();
    const auto order = StackingOrder();
    const auto at = [&](QtWindow& w) {
        return std::find(order.begin(), order.end(),
                         static_cast<xcb_window_t>(w.surface()->winId())) -
               order.begin();
    };
    EXPECT_LT(at(a), at(b));
    EXPECT_LT(at(b), at(c));

    // A window shown again from hidden comes above the others.
    a.hide();
    Settle();
    a.show();
    Settle();
    const auto again = StackingOrder();
    const auto pos = [&](QtWindow& w) {
        return std::find(again.begin(), again.end(),
                         static_cast<xcb_window_t>(w.surface()->winId())) -
               again.begin();
    };
    EXPECT_GT(pos(a), pos(c));
}

TEST_F(Windows, MakingAShownWindowTopmostKeepsItShownAndInPlace) {
    QtWindow& w = Make(WindowRole::Control);
    w.setBackground(Solid(30, 134, kBlue));
    w.setBounds(0, 0, 30, 134);
    w.show();
    Settle();
    EXPECT_TRUE(system.setWindowPos(w.handle(), HWND_TOPMOST, 5, 5, 1, 1, SWP_NOMOVE | SWP_NOSIZE));
    Settle();
    EXPECT_TRUE(w.surface()->windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_TRUE(w.surface()->isVisible());
    EXPECT_EQ(w.x(), 0);
    EXPECT_EQ(w.width(), 30);
    EXPECT_EQ(w.height(), 134);
}

class Mouse : public Windows {
  protected:
    void SetUp() override {
        Windows::SetUp();
        if (IsSkipped()) return;
        QtWindow& w = Make(WindowRole::Control);
        window = &w;
        w.setBackground(Solid(30, 134, kBlue));
        w.setBounds(200, 200, 30, 134);
        knob = &w.addElement(Element::Kind::Image, "knob");
        knob->setPicture(Solid(15, 15, qRgb(200, 0, 0)));
        knob->setBounds(8, 50, 15, 15);
        w.show();
        Settle();
    }
    QtWindow* window = nullptr;
    Element* knob = nullptr;
};

TEST_F(Mouse, PressesOnAnElementGoToItAndItKeepsThePointerWhileTheButtonIsHeld) {
    QWidget* s = window->surface();
    QTest::mousePress(s, Qt::LeftButton, {}, QPoint(10, 55));
    ASSERT_EQ(sink.mouse.size(), 1u);
    EXPECT_EQ(sink.mouse[0].target, knob->handle());
    EXPECT_EQ(sink.mouse[0].message, WM_LBUTTONDOWN);
    EXPECT_EQ(sink.mouse[0].buttons, MK_LBUTTON);
    EXPECT_EQ(sink.mouse[0].x, 2);
    EXPECT_EQ(sink.mouse[0].y, 5);
    // Far outside the knob, even outside the window: still the knob's, relative to it.
    QTest::mouseMove(s, QPoint(20, 120));
    QMouseEvent move(QEvent::MouseMove, QPointF(20, -30), s->mapToGlobal(QPointF(20, -30)),
                     Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(s, &move);
    ASSERT_GE(sink.mouse.size(), 2u);
    const MouseEvent& last = sink.mouse.back();
    EXPECT_EQ(last.target, knob->handle());
    EXPECT_EQ(last.message, WM_MOUSEMOVE);
    EXPECT_EQ(last.buttons, MK_LBUTTON);
    EXPECT_EQ(last.y, -80);
    QTest::mouseRelease(s, Qt::LeftButton, {}, QPoint(20, 120));
    EXPECT_EQ(sink.mouse.back().message, WM_LBUTTONUP);
    EXPECT_EQ(sink.mouse.back().target, knob->handle());

    // Right presses on the window itself go to the window.
    sink.mouse.clear();
    QTest::mousePress(s, Qt::RightButton, {}, QPoint(3, 3), 1000);
    ASSERT_EQ(sink.mouse.size(), 1u);
    EXPECT_EQ(sink.mouse[0].target, window->handle());
    EXPECT_EQ(sink.mouse[0].message, WM_RBUTTONDOWN);
    EXPECT_EQ(sink.mouse[0].buttons, MK_RBUTTON);
    QTest::mouseRelease(s, Qt::RightButton, {}, QPoint(3, 3));
}

TEST_F(Mouse, TheSecondPressOfADoubleClickIsTheDoubleClickAndNotAPress) {
    // Real clicks from the X server, over the window outside the knob.
    const auto buttonMessages = [&] {
        std::vector<std::uint32_t> out;
        for (const MouseEvent& e : sink.mouse) {
            if (e.message != WM_MOUSEMOVE) out.push_back(e.message);
        }
        return out;
    };
    testing::Shell("xdotool mousemove 203 300 click --repeat 2 --delay 60 1");
    ASSERT_TRUE(WaitFor([&] { return buttonMessages().size() >= 4; }));
    EXPECT_EQ(buttonMessages(), (std::vector<std::uint32_t> {WM_LBUTTONDOWN, WM_LBUTTONUP,
                                                             WM_LBUTTONDBLCLK, WM_LBUTTONUP}));
    EXPECT_EQ(sink.mouse.back().target, window->handle());
    // A third press right after is a press again; presses far apart in time are two presses.
    sink.mouse.clear();
    testing::Shell("xdotool click 1 sleep 0.8 click 1 sleep 0.8 click --repeat 3 --delay 60 1");
    ASSERT_TRUE(WaitFor([&] { return buttonMessages().size() >= 10; }));
    EXPECT_EQ(buttonMessages(),
              (std::vector<std::uint32_t> {
                  WM_LBUTTONDOWN, WM_LBUTTONUP, WM_LBUTTONDOWN, WM_LBUTTONUP, WM_LBUTTONDOWN,
                  WM_LBUTTONUP, WM_LBUTTONDBLCLK, WM_LBUTTONUP, WM_LBUTTONDOWN, WM_LBUTTONUP}));
}

TEST_F(Mouse, AWindowMayBeDestroyedWhileItsOwnEventIsHandled) {
    QWidget* s = window->surface();
    sink.onMouseHook = [this](const MouseEvent&) { owned.clear(); };
    QTest::mousePress(s, Qt::LeftButton, {}, QPoint(3, 100));
    EXPECT_EQ(sink.mouse.size(), 1u);
    testing::Pump(50ms);  // the widget goes at the next turn of the loop
}

TEST_F(Mouse, ADragMoveRequestMovesTheWindowWithThePointerUntilRelease) {
    QWidget* s = window->surface();
    QCursor::setPos(s->mapToGlobal(QPoint(3, 100)));
    QTest::mousePress(s, Qt::LeftButton, {}, QPoint(3, 100));
    // Without a window manager the adapter moves the window itself.
    system.sendMessage(window->handle(), WM_SYSCOMMAND, SC_DRAGMOVE, 0);
    QMouseEvent move(QEvent::MouseMove, QPointF(53, 140), s->mapToGlobal(QPointF(53, 140)),
                     Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(s, &move);
    QTest::mouseRelease(s, Qt::LeftButton, {}, QPoint(3, 100));
    testing::Pump(100ms);
    EXPECT_EQ(window->x(), 250);
    EXPECT_EQ(window->y(), 240);
    // Moves of the drag are not mouse events of the program.
    EXPECT_EQ(sink.mouse.size(), 1u);
}

TEST_F(Windows, MenuCommandsArriveAfterTheMenuHasClosed) {
    system.popupMenu(0, {{1, "Quit"}, {2, "Open Mixer"}});
    QMenu* menu = nullptr;
    ASSERT_TRUE(
        WaitFor([&] { return (menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())); }));
    ASSERT_EQ(menu->actions().size(), 2);
    EXPECT_EQ(menu->actions()[0]->text(), "Quit");
    EXPECT_EQ(menu->actions()[1]->text(), "Open Mixer");
    menu->actions()[1]->trigger();
    EXPECT_TRUE(sink.menuCommands.empty());
    menu->close();
    ASSERT_TRUE(WaitFor([&] { return !sink.menuCommands.empty(); }));
    EXPECT_EQ(sink.menuCommands, std::vector<int> {2});
}

// ---- Timers and boxes --------------------------------------------------------------------

TEST(Timers, TickOnlyWhileEnabledAndMayBeDestroyedInTheirOwnTick) {
    EventPort port;
    RecordingSink sink;
    port.setSink(&sink);
    QtTimerService service(port);
    auto stopped = service.createTimer(5, false);
    auto running = service.createTimer(5, true);
    EXPECT_NE(stopped->id(), running->id());
    EXPECT_EQ(running->interval(), 5);
    ASSERT_TRUE(WaitFor([&] { return sink.timers.size() >= 3; }));
    EXPECT_EQ(std::count(sink.timers.begin(), sink.timers.end(), stopped->id()), 0);

    running->setEnabled(false);
    sink.timers.clear();
    testing::Pump(50ms);
    EXPECT_TRUE(sink.timers.empty());

    sink.onTimerHook = [&](TimerId) { stopped.reset(); };
    stopped->setEnabled(true);
    ASSERT_TRUE(WaitFor([&] { return stopped == nullptr; }));
    testing::Pump(30ms);
    EXPECT_EQ(sink.timers.size(), 1u);
}

// A watch timer asks its watch each period on a thread of its own and ticks only for periods
// with something new; disabled, it neither asks nor ticks; it too may end in its own tick.
TEST(Timers, AWatchTimerTicksOnlyForPeriodsWithSomethingNew) {
    EventPort port;
    RecordingSink sink;
    port.setSink(&sink);
    QtTimerService service(port);
    std::atomic<bool> unchanged {true};
    std::atomic<int> asked {0};
    auto watch = service.createWatchTimer(5, true, [&] {
        ++asked;
        return unchanged.load();
    });
    EXPECT_EQ(watch->interval(), 5);
    ASSERT_TRUE(WaitFor([&] { return asked >= 5; }));
    testing::Pump(20ms);
    EXPECT_TRUE(sink.timers.empty());

    unchanged = false;
    ASSERT_TRUE(WaitFor([&] { return sink.timers.size() >= 2; }));
    EXPECT_EQ(std::count(sink.timers.begin(), sink.timers.end(), watch->id()),
              static_cast<long>(sink.timers.size()));

    watch->setEnabled(false);
    testing::Pump(20ms);
    sink.timers.clear();
    const int before = asked;
    testing::Pump(50ms);
    EXPECT_TRUE(sink.timers.empty());
    EXPECT_EQ(asked, before);

    sink.onTimerHook = [&](TimerId) { watch.reset(); };
    watch->setEnabled(true);
    ASSERT_TRUE(WaitFor([&] { return watch == nullptr; }));
    testing::Pump(30ms);
    EXPECT_EQ(sink.timers.size(), 1u);
}

TEST(MessageBoxes, ShowCaptionTextAndIconAndHoldEventsBackWhileOpen) {
    EventPort port;
    RecordingSink sink;
    port.setSink(&sink);
    QtTimerService service(port);
    auto timer = service.createTimer(5, true);
    QtMessageBoxes boxes;
    QString title, text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    std::size_t ticksBefore = 0;
    QTimer::singleShot(200, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box == nullptr) return;
        title = box->windowTitle();
        text = box->text();
        icon = box->icon();
        ticksBefore = sink.timers.size();
        box->accept();
    });
    sink.timers.clear();
    sink.holding = true;  // as the core does while its box is open
    EXPECT_EQ(boxes.show("The skin file is missing.", "Vexlo", MB_OK | MB_ICONHAND), IDOK);
    sink.holding = false;
    EXPECT_EQ(title, "Vexlo");
    EXPECT_EQ(text, "The skin file is missing.");
    EXPECT_EQ(icon, QMessageBox::Critical);
    EXPECT_EQ(ticksBefore, 0u);  // 200 ms of a 5 ms timer, none delivered
    EXPECT_TRUE(WaitFor([&] { return !sink.timers.empty(); }));
}

// ---- Ending on request --------------------------------------------------------------------

TEST(Termination, ASignalIsTheQuitCommandAndWaitsForAnOpenBoxWhichItCloses) {
    EventPort port;
    RecordingSink sink;
    port.setSink(&sink);
    TerminationSignals termination(port, [](EventSink& s) { s.onMenuCommand(42); });

    // A box is open when the request comes: the box goes, then the quit follows.
    QtMessageBoxes boxes;
    QTimer::singleShot(100, [] { std::raise(SIGTERM); });
    sink.holding = true;
    EXPECT_EQ(boxes.show("A question nobody answers.", "Vexlo", MB_OK), IDOK);
    sink.holding = false;
    EXPECT_TRUE(sink.menuCommands.empty());
    ASSERT_TRUE(WaitFor([&] { return !sink.menuCommands.empty(); }));
    EXPECT_EQ(sink.menuCommands, std::vector<int> {42});
    // Once is enough; the handler went back to the default for the next one.
    testing::Pump(100ms);
    EXPECT_EQ(sink.menuCommands.size(), 1u);
    struct sigaction now {};
    ::sigaction(SIGTERM, nullptr, &now);
    EXPECT_EQ(now.sa_handler, SIG_DFL);
    ::sigaction(SIGINT, nullptr, &now);
    EXPECT_NE(now.sa_handler, SIG_DFL);
}

// The end of a session takes the program's connections away: a write to one whose other end
// is gone fails, and the program goes on.
TEST(Termination, AWriteToAConnectionWithoutItsOtherEndFails) {
    EventPort port;
    TerminationSignals termination(port, [](EventSink&) {});
    int pair[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
    ::close(pair[1]);
    EXPECT_EQ(::write(pair[0], "x", 1), -1);
    EXPECT_EQ(errno, EPIPE);
    ::close(pair[0]);
}

// ---- Tray --------------------------------------------------------------------------------

TrayIconRecord Record(NativeHandle window, NativeHandle icon, const char* tip) {
    TrayIconRecord r;
    r.cbSize = 88;
    r.hWnd = window;
    r.uID = 1;
    r.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    r.uCallbackMessage = WM_MOUSEMOVE;
    r.hIcon = icon;
    std::memset(r.szTip, ' ', sizeof r.szTip);
    std::memcpy(r.szTip, tip, std::strlen(tip) + 1);
    return r;
}

QtTray::Host XEmbedTray() {
    return QtTray::Host::XEmbed;
}

TEST(Tray, AddModifyAndDeleteTheIconAndReportPressesAsMouseMessages) {
    EventPort port;
    RecordingSink sink;
    port.setSink(&sink);
    QtTray tray(port, XEmbedTray);
    auto picture = Solid(16, 16, kBlue);
    const NativeHandle element = 4242;
    EXPECT_FALSE(tray.notify(NIM_MODIFY, Record(element, picture->handle(), "Vexlo")));
    ASSERT_TRUE(tray.notify(NIM_ADD, Record(element, picture->handle(), "Vexlo")));
    EXPECT_FALSE(tray.notify(NIM_ADD, Record(element, picture->handle(), "Vexlo")));
    QSystemTrayIcon* icon = tray.icon(element, 1);
    ASSERT_NE(icon, nullptr);
    EXPECT_TRUE(icon->isVisible());
    EXPECT_EQ(icon->toolTip(), "Vexlo");  // up to the NUL, not the padding
    EXPECT_FALSE(icon->icon().isNull());

    emit icon->activated(QSystemTrayIcon::Trigger);
    emit icon->activated(QSystemTrayIcon::Context);
    ASSERT_EQ(sink.mouse.size(), 2u);
    EXPECT_EQ(sink.mouse[0].target, element);
    EXPECT_EQ(sink.mouse[0].message, WM_MOUSEMOVE);
    EXPECT_EQ(sink.mouse[0].x, 0x201);
    EXPECT_EQ(sink.mouse[1].x, 0x204);

    auto other = Solid(16, 16, kMagenta);
    ASSERT_TRUE(tray.notify(NIM_MODIFY, Record(element, other->handle(), "Other")));
    EXPECT_EQ(icon->toolTip(), "Other");
    EXPECT_TRUE(tray.balloon(Record(element, 0, ""), "Vexlo", "A warning"));

    ASSERT_TRUE(tray.notify(NIM_DELETE, Record(element, 0, "")));
    EXPECT_EQ(tray.icon(element, 1), nullptr);
    EXPECT_FALSE(tray.notify(NIM_DELETE, Record(element, 0, "")));
    EXPECT_FALSE(tray.balloon(Record(element, 0, ""), "Vexlo", "A warning"));
}

TEST(Tray, AnIconLoadedAgainWithTheSameImagesIsTheSameIcon) {
    // The program loads the level icon anew at every level change; a new QIcon each time
    // would leave new scaled pixmaps in Qt's pixmap cache every time (about 3 kB a change).
    EventPort port;
    QtTray tray(port, XEmbedTray);
    const NativeHandle element = 4343;
    auto blue = Solid(16, 16, kBlue);
    ASSERT_TRUE(tray.notify(NIM_ADD, Record(element, blue->handle(), "Vexlo")));
    QSystemTrayIcon* icon = tray.icon(element, 1);
    ASSERT_NE(icon, nullptr);
    const qint64 blueKey = icon->icon().cacheKey();
    for (int i = 0; i < 20; ++i) {
        auto again = Solid(16, 16, kBlue);  // another picture, the same images
        ASSERT_TRUE(tray.notify(NIM_MODIFY, Record(element, again->handle(), "Vexlo")));
        EXPECT_EQ(icon->icon().cacheKey(), blueKey);
        auto other = Solid(16, 16, kMagenta);
        ASSERT_TRUE(tray.notify(NIM_MODIFY, Record(element, other->handle(), "Vexlo")));
        EXPECT_NE(icon->icon().cacheKey(), blueKey);
        EXPECT_EQ(icon->icon().pixmap(16).toImage().pixel(0, 0), kMagenta);
    }
    ASSERT_TRUE(tray.notify(NIM_DELETE, Record(element, 0, "")));
}

TEST(Tray, AnIconWaitsForATrayHostAndExportsTheCoresMenuToAStatusNotifierHost) {
    EventPort port;
    RecordingSink sink;
    port.setSink(&sink);
    QtWindowSystem windows(port);
    // The core's answer to a right press: its menu.
    sink.onMouseHook = [&](const MouseEvent& e) {
        if (e.x == static_cast<int>(WM_RBUTTONDOWN))
            windows.popupMenu(e.target, {{1, "Quit"}, {2, "Open Mixer"}});
    };
    QtTray::Host host = QtTray::Host::None;
    QtTray tray(port, [&] { return host; });
    tray.setMenuSource(&windows);
    const NativeHandle element = 4444;
    auto blue = Solid(16, 16, kBlue);
    ASSERT_TRUE(tray.notify(NIM_ADD, Record(element, blue->handle(), "Vexlo")));
    EXPECT_EQ(tray.icon(element, 1), nullptr);
    ASSERT_TRUE(tray.notify(NIM_MODIFY, Record(element, blue->handle(), "Later")));

    host = QtTray::Host::StatusNotifier;
    ASSERT_TRUE(
        WaitFor([&] { return tray.icon(element, 1) != nullptr; }, std::chrono::milliseconds(1500)));
    QSystemTrayIcon* icon = tray.icon(element, 1);
    EXPECT_EQ(icon->toolTip(), "Later");
    QMenu* menu = tray.exportedMenu(element, 1);
    ASSERT_NE(menu, nullptr);
    ASSERT_TRUE(WaitFor([&] { return menu->actions().size() == 2; }));
    EXPECT_EQ(menu->actions()[0]->text(), "Quit");
    EXPECT_EQ(menu->actions()[1]->text(), "Open Mixer");
    EXPECT_EQ(icon->contextMenu(), menu);
    // Taking the menu popped nothing up.
    for (QWidget* w : QApplication::topLevelWidgets()) {
        EXPECT_FALSE(qobject_cast<QMenu*>(w) != nullptr && w->isVisible());
    }

    // A command of the exported menu reaches the core after the menu has closed.
    menu->actions()[1]->trigger();
    EXPECT_TRUE(sink.menuCommands.empty());
    ASSERT_TRUE(WaitFor([&] { return !sink.menuCommands.empty(); }));
    EXPECT_EQ(sink.menuCommands, std::vector<int> {2});

    // The host opened the exported menu and also asks for the application's own: one menu.
    sink.mouse.clear();
    emit menu->aboutToShow();
    emit icon->activated(QSystemTrayIcon::Context);
    testing::Pump(std::chrono::milliseconds(400));
    EXPECT_EQ(std::count_if(sink.mouse.begin(), sink.mouse.end(),
                            [](const MouseEvent& e) { return e.x == 0x204; }),
              1);  // the refresh of the exported menu, no popup
    // A host that only asks for the application's own menu gets the core's popup.
    testing::Pump(std::chrono::milliseconds(1100));
    sink.mouse.clear();
    emit icon->activated(QSystemTrayIcon::Context);
    ASSERT_TRUE(WaitFor([&] { return !sink.mouse.empty(); }));
    EXPECT_EQ(sink.mouse[0].x, 0x204);
    emit icon->activated(QSystemTrayIcon::Trigger);
    EXPECT_EQ(sink.mouse.back().x, 0x201);
    ASSERT_TRUE(tray.notify(NIM_DELETE, Record(element, 0, "")));
}

TEST(Tray, TheWheelOverTheIconReachesTheCoreAsTurnedOnBothKindsOfHost) {
    // What the core gets is what was turned: it adds the deltas up to notches itself.
    using W = testing::RecordedWheel;
    EventPort port;
    RecordingSink sink;
    port.setSink(&sink);
    auto blue = Solid(16, 16, kBlue);
    const NativeHandle element = 4545;
    const auto turn = [](QSystemTrayIcon* icon, QPoint angle) {
        QWheelEvent event(QPointF(8, 8), QPointF(8, 8), QPoint(), angle, Qt::NoButton,
                          Qt::NoModifier, Qt::NoScrollPhase, false);
        QCoreApplication::sendEvent(icon, &event);
    };
    {
        // XEmbed: Qt hands the icon window's wheel events to the QSystemTrayIcon.
        QtTray tray(port, XEmbedTray);
        ASSERT_TRUE(tray.notify(NIM_ADD, Record(element, blue->handle(), "Vexlo")));
        QSystemTrayIcon* icon = tray.icon(element, 1);
        ASSERT_NE(icon, nullptr);
        turn(icon, QPoint(0, 120));
        turn(icon, QPoint(0, -40));   // a touchpad's part of a notch
        turn(icon, QPoint(120, 0));   // horizontal
        turn(icon, QPoint(-15, 30));  // diagonal: both
        EXPECT_EQ(sink.wheels, (std::vector<W> {{element, 120, true},
                                                {element, -40, true},
                                                {element, 120, false},
                                                {element, 30, true},
                                                {element, -15, false}}));
        // A StatusNotifier call is none of an XEmbed icon's business.
        QDBusMessage scroll =
            QDBusMessage::createMethodCall("org.kde.StatusNotifierItem-1-1", "/StatusNotifierItem",
                                           "org.kde.StatusNotifierItem", "Scroll");
        scroll << 120 << QString("vertical");
        EXPECT_FALSE(tray.hostCall(scroll));
        // Nothing while the core holds events back, nothing after the icon is gone.
        sink.wheels.clear();
        sink.holding = true;
        turn(icon, QPoint(0, 120));
        sink.holding = false;
        ASSERT_TRUE(tray.notify(NIM_DELETE, Record(element, 0, "")));
        EXPECT_TRUE(sink.wheels.empty());
    }
    {
        // StatusNotifier: the host's Scroll(delta, orientation) call on the item.
        QtTray tray(port, [] { return QtTray::Host::StatusNotifier; });
        ASSERT_TRUE(tray.notify(NIM_ADD, Record(element, blue->handle(), "Vexlo")));
        ASSERT_NE(tray.icon(element, 1), nullptr);
        const auto call = [&](const char* path, const char* member, const QVariant& delta,
                              const QString& orientation) {
            QDBusMessage m = QDBusMessage::createMethodCall("org.kde.StatusNotifierItem-1-1", path,
                                                            "org.kde.StatusNotifierItem", member);
            m << delta << orientation;
            return tray.hostCall(m);
        };
        EXPECT_TRUE(call("/StatusNotifierItem", "Scroll", 120, "vertical"));
        EXPECT_TRUE(call("/StatusNotifierItem", "Scroll", -24, "Vertical"));  // KDE's spelling
        EXPECT_TRUE(call("/StatusNotifierItem", "Scroll", 120, "horizontal"));
        EXPECT_FALSE(call("/StatusNotifierItem", "Activate", 1, "2"));
        EXPECT_FALSE(call("/Other", "Scroll", 120, "vertical"));
        EXPECT_FALSE(call("/StatusNotifierItem", "Scroll", QString("120"), "vertical"));
        EXPECT_EQ(
            sink.wheels,
            (std::vector<W> {{element, 120, true}, {element, -24, true}, {element, 120, false}}));
        ASSERT_TRUE(tray.notify(NIM_DELETE, Record(element, 0, "")));
        EXPECT_FALSE(call("/StatusNotifierItem", "Scroll", 120, "vertical"));
    }
    // The hosts' conventions, told by the calling process: one notch up is +120 from each.
    struct Host {
        const char* process;
        int delta;
        int units;
    };
    for (const Host& h : std::vector<Host> {{"plasmashell", 120, 120},
                                            {"plasmashell", -3, -3},  // a touchpad's angle
                                            {"lxqt-panel", -120, -120},
                                            {"gnome-shell", -1, 120},
                                            {"gnome-shell", 1, -120},
                                            {"gnome-shell", 0, 0},  // a touchpad's fraction down
                                            {"swaybar", -1, 120},
                                            {"wrapper-2.0", 1, -120},  // Xfce's panel
                                            {"waybar", -2, 120},
                                            {"waybar", 2, -120},
                                            {"waybar", -3, 240},  // two notches at once
                                            {"waybar", -1, 60},   // a touchpad's part
                                            {"waybar", 0, 0},
                                            {"waybar", INT_MIN, 12000},
                                            {"", -1, 120},  // unknown: small deltas are notches
                                            {"", 3, -360},
                                            {"", 120, 120},  // and larger ones angles
                                            {"", -24, -24},
                                            {"", INT_MIN, -12000},
                                            {"gnome-shell", INT_MIN, 12000}})
        EXPECT_EQ(QtTray::ScrollUnits(h.process, h.delta), h.units) << h.process << " " << h.delta;
}

// ---- Hotkeys -----------------------------------------------------------------------------

class Hotkeys : public Windows {
  protected:
    void SetUp() override {
        Windows::SetUp();
        if (IsSkipped()) return;
        hotkeys = std::make_unique<XcbHotkeys>(port, system);
        main = &Make(WindowRole::Main);
    }
    void TearDown() override { hotkeys.reset(); }
    void PressKeys(const char* keys) {
        testing::Shell(std::string("xdotool key ") + keys);
        testing::Pump(150ms);
    }
    std::unique_ptr<XcbHotkeys> hotkeys;
    QtWindow* main = nullptr;
};

TEST_F(Hotkeys, AGrabbedKeyIsAHotkeyMessageForTheCoreProcedureOnly) {
    ASSERT_TRUE(hotkeys->registerHotKey(main->handle(), HOTKEY_UP, MOD_WIN, VK_OEM_PLUS));
    ASSERT_TRUE(hotkeys->registerHotKey(main->handle(), HOTKEY_DOWN, MOD_WIN, VK_OEM_MINUS));
    EXPECT_FALSE(hotkeys->registerHotKey(main->handle(), HOTKEY_UP, MOD_WIN, VK_OEM_PLUS));
    EXPECT_FALSE(hotkeys->conflict());

    // The window's own procedure knows no hotkeys.
    PressKeys("super+equal");
    EXPECT_TRUE(sink.messages.empty());

    const WindowProc own = hotkeys->setWindowProc(main->handle(), hotkeys->coreProcedure());
    EXPECT_NE(own, 0);
    EXPECT_EQ(system.getWindowLong(main->handle(), GWL_WNDPROC),
              static_cast<std::int32_t>(hotkeys->coreProcedure()));
    PressKeys("super+equal super+minus");
    ASSERT_EQ(sink.messages.size(), 2u);
    EXPECT_EQ(sink.messages[0].window, main->handle());
    EXPECT_EQ(sink.messages[0].message, WM_HOTKEY);
    EXPECT_EQ(sink.messages[0].wParam, static_cast<std::uintptr_t>(HOTKEY_UP));
    EXPECT_EQ(sink.messages[1].wParam, static_cast<std::uintptr_t>(HOTKEY_DOWN));

    // Without the Windows key, or on the keypad, nothing.
    PressKeys("equal KP_Subtract super+KP_Subtract");
    EXPECT_EQ(sink.messages.size(), 2u);

    // NumLock and CapsLock do not matter.
    const std::uint8_t equal = hotkeys->KeycodesFor(0x3d).front();
    EXPECT_TRUE(hotkeys->keyPressed(equal, XCB_MOD_MASK_4 | XCB_MOD_MASK_2 | XCB_MOD_MASK_LOCK));
    EXPECT_FALSE(hotkeys->keyPressed(equal, XCB_MOD_MASK_4 | XCB_MOD_MASK_CONTROL));
    EXPECT_EQ(sink.messages.size(), 3u);

    // Released: the key is free again and no message comes.
    EXPECT_EQ(hotkeys->setWindowProc(main->handle(), own), hotkeys->coreProcedure());
    EXPECT_TRUE(hotkeys->unregisterHotKey(main->handle(), HOTKEY_UP));
    EXPECT_FALSE(hotkeys->unregisterHotKey(main->handle(), HOTKEY_UP));
    EXPECT_FALSE(hotkeys->unregisterHotKey(main->handle() + 1, HOTKEY_DOWN));
    PressKeys("super+equal");
    EXPECT_EQ(sink.messages.size(), 3u);
}

TEST_F(Hotkeys, CallWindowProcHandsTheOwnProcedureToTheDefaultAndTheCoreOneToTheCore) {
    const WindowProc own =
        static_cast<WindowProc>(system.getWindowLong(main->handle(), GWL_WNDPROC));
    sink.messageResult = 99;
    EXPECT_EQ(hotkeys->callWindowProc(own, main->handle(), 0x10, 1, 2), 0);
    EXPECT_TRUE(sink.messages.empty());
    EXPECT_EQ(hotkeys->callWindowProc(hotkeys->coreProcedure(), main->handle(), 0x10, 1, 2), 99);
    ASSERT_EQ(sink.messages.size(), 1u);
    EXPECT_EQ(sink.messages[0].lParam, 2);
    // Unknown windows and unknown keys are refused.
    EXPECT_FALSE(hotkeys->registerHotKey(987654, HOTKEY_UP, MOD_WIN, VK_OEM_PLUS));
    EXPECT_FALSE(hotkeys->registerHotKey(main->handle(), 5, MOD_WIN, 0x07));
}

TEST_F(Hotkeys, AKeyHeldByAnotherClientIsRefusedAndReportedAsAConflict) {
    // Another client grabs Windows + minus first.
    xcb_connection_t* other = xcb_connect(nullptr, nullptr);
    ASSERT_FALSE(xcb_connection_has_error(other));
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(other)).data->root;
    const std::uint8_t minus = hotkeys->KeycodesFor(0x2d).front();
    xcb_generic_error_t* error =
        xcb_request_check(other, xcb_grab_key_checked(other, 1, root, XCB_MOD_MASK_4, minus,
                                                      XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC));
    ASSERT_EQ(error, nullptr);

    EXPECT_TRUE(hotkeys->registerHotKey(main->handle(), HOTKEY_UP, MOD_WIN, VK_OEM_PLUS));
    EXPECT_FALSE(hotkeys->registerHotKey(main->handle(), HOTKEY_DOWN, MOD_WIN, VK_OEM_MINUS));
    EXPECT_TRUE(hotkeys->conflict());
    // Named in the messages as the keys are labelled here.
    EXPECT_EQ(hotkeys->combinationName(MOD_WIN, VK_OEM_MINUS), "Super + minus");
    EXPECT_EQ(hotkeys->combinationName(MOD_WIN, VK_OEM_PLUS), "Super + plus");

    xcb_disconnect(other);
    testing::Pump(50ms);
    EXPECT_TRUE(hotkeys->registerHotKey(main->handle(), HOTKEY_DOWN, MOD_WIN, VK_OEM_MINUS));
}

TEST_F(Hotkeys, AChosenKeyIsGrabbedWhereTheKeyboardHasItAndNamedAsTheSettingsWriteIt) {
    // A key only at Shift's level of its keycode, as F13 is nowhere on the stock keymap: it
    // is grabbed with Shift, as the key gives it.
    testing::Shell("xmodmap -e 'keycode 191 = F14 F13'");
    struct Case {
        std::uint32_t modifiers, virtualKey;
        const char* press;  // xdotool's keys for the combination
        const char* miss;   // a near one that must not count
        const char* name;
    } const cases[] = {
        {MOD_CONTROL | MOD_ALT, VK_UP, "ctrl+alt+Up", "alt+Up ctrl+alt+KP_Up", "Ctrl + Alt + Up"},
        {MOD_CONTROL | MOD_ALT, VK_NEXT, "ctrl+alt+Next", "ctrl+alt+Prior",
         "Ctrl + Alt + PageDown"},
        {MOD_ALT, VK_F1 + 4, "alt+F5", "F5 alt+F6", "Alt + F5"},
        {0, VK_ADD, "KP_Add", "plus", "KP_Add"},
        {MOD_CONTROL | MOD_SHIFT, 'A', "ctrl+shift+a", "ctrl+a", "Ctrl + Shift + A"},
        {MOD_WIN, VK_OEM_4, "super+bracketleft", "super+bracketright", "Super + ["},
        {MOD_CONTROL | MOD_ALT, VK_SPACE, "ctrl+alt+space", "ctrl+space", "Ctrl + Alt + Space"},
        {MOD_CONTROL, VK_F1 + 12, "ctrl+F13", "ctrl+F14", "Ctrl + F13"},
    };
    hotkeys->setWindowProc(main->handle(), hotkeys->coreProcedure());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        sink.messages.clear();
        ASSERT_TRUE(hotkeys->registerHotKey(main->handle(), HOTKEY_UP, c.modifiers, c.virtualKey));
        PressKeys(c.miss);
        EXPECT_TRUE(sink.messages.empty());
        PressKeys(c.press);
        EXPECT_EQ(sink.messages.size(), 1u);
        EXPECT_EQ(hotkeys->combinationName(c.modifiers, c.virtualKey), c.name);
        // Only a combination with Super is one GNOME's overview key takes.
        EXPECT_EQ(hotkeys->superGrabs(), c.modifiers & MOD_WIN ? c.name : "");
        EXPECT_TRUE(hotkeys->unregisterHotKey(main->handle(), HOTKEY_UP));
    }
    // A key the keyboard does not have is refused, and nobody holds it.
    testing::Shell("xmodmap -e 'keycode 191 = XF86Tools'");
    EXPECT_FALSE(hotkeys->registerHotKey(main->handle(), HOTKEY_UP, MOD_CONTROL, VK_F1 + 12));
    EXPECT_EQ(hotkeys->lastRefusal(), HotkeyRefusal::NoSuchKey);
    EXPECT_FALSE(hotkeys->conflict());
    EXPECT_EQ(hotkeys->combinationName(MOD_CONTROL, VK_F1 + 12), "Ctrl + F13");
}

TEST_F(Hotkeys, ThePlusAndMinusKeysAreWhereTheLayoutPutsThemAlsoAfterAChange) {
    struct Restore {
        ~Restore() { testing::Shell("setxkbmap us"); }
    } restore;
    hotkeys->setWindowProc(main->handle(), hotkeys->coreProcedure());
    ASSERT_TRUE(hotkeys->registerHotKey(main->handle(), HOTKEY_UP, MOD_WIN, VK_OEM_PLUS));
    ASSERT_TRUE(hotkeys->registerHotKey(main->handle(), HOTKEY_DOWN, MOD_WIN, VK_OEM_MINUS));
    // US: the "= +" key as it is; with Shift it is another combination.
    PressKeys("super+equal super+shift+equal");
    ASSERT_EQ(sink.messages.size(), 1u);
    // German, while the keys are held: the "+ *" key. "=" is Shift + 0 there, no hotkey.
    testing::Shell("setxkbmap de");
    testing::Pump(300ms);
    PressKeys("super+plus super+shift+0 super+minus");
    ASSERT_EQ(sink.messages.size(), 3u);
    EXPECT_EQ(sink.messages[1].wParam, static_cast<std::uintptr_t>(HOTKEY_UP));
    EXPECT_EQ(sink.messages[2].wParam, static_cast<std::uintptr_t>(HOTKEY_DOWN));
    EXPECT_EQ(hotkeys->combinationName(MOD_WIN, VK_OEM_PLUS), "Super + plus");
    // A desktop's shortcut names the key by what it gives without Shift.
    EXPECT_EQ(PortalShortcuts::TriggerFor(MOD_WIN, VK_OEM_PLUS), "LOGO+plus");
    // And back: the German "+" key is "]" here.
    testing::Shell("setxkbmap us");
    testing::Pump(300ms);
    PressKeys("super+bracketright super+equal");
    ASSERT_EQ(sink.messages.size(), 4u);
    EXPECT_EQ(sink.messages[3].wParam, static_cast<std::uintptr_t>(HOTKEY_UP));
    EXPECT_EQ(PortalShortcuts::TriggerFor(MOD_WIN, VK_OEM_PLUS), "LOGO+equal");

    // Two layouts in one keymap, switched with a group lock: the keys of the active one. The
    // keys go in by keycode (Super is 133; 21 is the US "= +" key, 35 the German "+" key).
    testing::Shell("setxkbmap -layout us,de");
    const char* const press = R"(/usr/bin/python3 -c '
import ctypes, sys
x = ctypes.CDLL("libX11.so.6"); t = ctypes.CDLL("libXtst.so.6")
x.XOpenDisplay.restype = ctypes.c_void_p
d = ctypes.c_void_p(x.XOpenDisplay(None))
x.XkbLockGroup(d, 0x100, int(sys.argv[1])); x.XSync(d, 0)
for code, down in ((133, 1), (int(sys.argv[2]), 1), (int(sys.argv[2]), 0), (133, 0)):
    t.XTestFakeKeyEvent(d, code, down, 0)
x.XSync(d, 0)' )";
    const auto inGroup = [&](int group, int keycode) {
        testing::Shell(press + std::to_string(group) + " " + std::to_string(keycode));
        testing::Pump(150ms);
    };
    testing::Pump(300ms);
    inGroup(1, 21);
    EXPECT_EQ(sink.messages.size(), 4u);
    inGroup(1, 35);
    ASSERT_EQ(sink.messages.size(), 5u);
    inGroup(0, 35);
    EXPECT_EQ(sink.messages.size(), 5u);
    inGroup(0, 21);
    ASSERT_EQ(sink.messages.size(), 6u);
    EXPECT_EQ(sink.messages[5].wParam, static_cast<std::uintptr_t>(HOTKEY_UP));
}

// ---- Hotkeys through the desktop's shortcut portal ----------------------------------------

// A private session bus, and on it the stand-in portal of the tests when it is asked for. The
// bus starts nothing on demand: a portal installed on the machine stays out.
class Portal : public Hotkeys {
  protected:
    void TearDown() override {
        hotkeys.reset();
        portal.reset();
        for (std::string* pid : {&standIn, &bus}) {
            if (!pid->empty()) ::kill(std::stoi(*pid), SIGTERM);
            pid->clear();
        }
        Hotkeys::TearDown();
    }
    // args: the stand-in's options; without args the bus has no portal.
    void Start(const char* args = nullptr) {
        const std::string folder = VEXLO_PORTAL_STANDIN;
        const std::string out =
            testing::Shell("dbus-daemon --config-file=" + folder.substr(0, folder.rfind('/')) +
                           "/test-bus.conf --fork --print-address=1 --print-pid=1");
        const auto newline = out.find('\n');
        ASSERT_NE(newline, std::string::npos) << out;
        address = out.substr(0, newline);
        bus = out.substr(newline + 1, out.find('\n', newline + 1) - newline - 1);
        if (args != nullptr) { ASSERT_NO_FATAL_FAILURE(StartStandIn(args)); }
        portal = std::make_unique<PortalShortcuts>(
            QString::fromStdString(address),
            [this](const std::string& text) { reports.push_back(text); });
        hotkeys->usePortal(*portal);
    }
    void StartStandIn(const std::string& args) {
        const std::string ready = dir.file("ready");
        ::unlink(ready.c_str());
        standIn = testing::Shell("DBUS_SESSION_BUS_ADDRESS='" + address + "' /usr/bin/python3 " +
                                 VEXLO_PORTAL_STANDIN + " " + args + " --ready " + ready + " >>" +
                                 dir.file("standin.log") + " 2>&1 & echo $!");
        ASSERT_TRUE(WaitFor([&] { return ::access(ready.c_str(), F_OK) == 0; }, 10s));
        standIn.erase(standIn.find_last_not_of('\n') + 1);
    }
    void RegisterBoth(KeyChord up = {MOD_WIN, VK_OEM_PLUS},
                      KeyChord down = {MOD_WIN, VK_OEM_MINUS}) {
        EXPECT_TRUE(
            hotkeys->registerHotKey(main->handle(), HOTKEY_UP, up.modifiers, up.virtualKey));
        EXPECT_TRUE(
            hotkeys->registerHotKey(main->handle(), HOTKEY_DOWN, down.modifiers, down.virtualKey));
        hotkeys->setWindowProc(main->handle(), hotkeys->coreProcedure());
    }
    std::string Control(const std::string& call) {
        const std::string out =
            testing::Shell("dbus-send --bus='" + address +
                           "' --print-reply --dest=org.freedesktop.portal.Desktop "
                           "/org/freedesktop/portal/desktop org.vexlo.Test." +
                           call + " 2>&1");
        testing::Pump(100ms);
        return out;
    }

    testing::TempDir dir;
    std::string address, bus, standIn;
    std::unique_ptr<PortalShortcuts> portal;
    std::vector<std::string> reports;
};

TEST_F(Portal, TheDesktopBindsTheShortcutsAndEachActivationIsTheHotkeyMessage) {
    ASSERT_NO_FATAL_FAILURE(Start(""));
    RegisterBoth();
    ASSERT_TRUE(WaitFor([&] { return portal->bound(HOTKEY_UP) && portal->bound(HOTKEY_DOWN); }));
    // Named by the application id before the first portal call; both shortcuts in one
    // request, and already in the session's options for the early form of the interface,
    // under the token of every run; bound after the desktop listed none.
    const char* const registration = "\"Register io.github.vexlo.vexlo\"";
    const char* const session =
        "\"CreateSession vexlo volume-up=LOGO+equal volume-down=LOGO+minus\"";
    const char* const bind = "\"BindShortcuts volume-up=LOGO+equal volume-down=LOGO+minus\"";
    const auto order = [&](const std::string& calls) {
        const auto registered = calls.find(registration);
        ASSERT_NE(registered, std::string::npos) << calls;
        EXPECT_LT(registered, calls.find(session)) << calls;
        EXPECT_LT(calls.find(session), calls.find("\"ListShortcuts\"")) << calls;
        EXPECT_LT(calls.find("\"ListShortcuts\""), calls.find(bind)) << calls;
        ASSERT_NE(calls.find(bind), std::string::npos) << calls;
    };
    order(Control("Calls"));

    // A later start (a new session of the program) finds both held and binds nothing, so a
    // desktop that opens its settings for a bind does not do so at every login.
    {
        PortalShortcuts later(QString::fromStdString(address),
                              [this](const std::string& text) { reports.push_back(text); });
        ASSERT_TRUE(later.available());
        later.bind(HOTKEY_UP, "LOGO+equal");
        later.bind(HOTKEY_DOWN, "LOGO+minus");
        ASSERT_TRUE(WaitFor([&] { return later.bound(HOTKEY_UP) && later.bound(HOTKEY_DOWN); }));
        const std::string calls = Control("Calls");
        EXPECT_EQ(calls.find(bind), calls.rfind(bind)) << calls;
        later.release(HOTKEY_UP);
        later.release(HOTKEY_DOWN);
        ASSERT_TRUE(
            WaitFor([&] { return Control("Calls").find("\"Close\"") != std::string::npos; }));
    }

    // No X grab beside the portal's shortcut.
    PressKeys("super+equal");
    EXPECT_TRUE(sink.messages.empty());
    Control("Activate string:volume-up");
    Control("Activate string:volume-down");
    ASSERT_TRUE(WaitFor([&] { return sink.messages.size() == 2; }));
    EXPECT_EQ(sink.messages[0].window, main->handle());
    EXPECT_EQ(sink.messages[0].message, WM_HOTKEY);
    EXPECT_EQ(sink.messages[0].wParam, static_cast<std::uintptr_t>(HOTKEY_UP));
    EXPECT_EQ(sink.messages[1].wParam, static_cast<std::uintptr_t>(HOTKEY_DOWN));

    // The portal restarts: the new one is asked for both again, on the same token, and its
    // activations count. Its first answer may be a refusal (the desktop's side still holds
    // the old session), which is not the user's business.
    ::kill(std::stoi(standIn), SIGTERM);
    ASSERT_TRUE(WaitFor([&] { return !portal->bound(HOTKEY_UP); }));
    ASSERT_NO_FATAL_FAILURE(StartStandIn("--stale-session"));
    ASSERT_TRUE(WaitFor([&] { return portal->bound(HOTKEY_UP) && portal->bound(HOTKEY_DOWN); }));
    order(Control("Calls"));
    Control("Activate string:volume-up");
    ASSERT_TRUE(WaitFor([&] { return sink.messages.size() == 3; }));
    EXPECT_EQ(sink.messages[2].wParam, static_cast<std::uintptr_t>(HOTKEY_UP));

    // Released: activations are ignored, and with none left the session is closed.
    EXPECT_TRUE(hotkeys->unregisterHotKey(main->handle(), HOTKEY_UP));
    Control("Activate string:volume-up");
    EXPECT_EQ(sink.messages.size(), 3u);
    EXPECT_TRUE(hotkeys->unregisterHotKey(main->handle(), HOTKEY_DOWN));
    EXPECT_TRUE(WaitFor([&] { return Control("Calls").find("\"Close\"") != std::string::npos; }));
    EXPECT_TRUE(reports.empty());
}

TEST_F(Portal, TheAdapterMayGoWhileSignalsAndItsConnectionsCloseDownAreUnderWay) {
    // The program's end (a quit, a logout) destroys the adapter while the desktop may still be
    // sending; the connection's close-down then runs on QtDBus's thread, slowed down in these
    // tests, and must not meet the adapter half destroyed (the sanitizers' build sees it).
    ASSERT_NO_FATAL_FAILURE(Start(""));
    for (int round = 0; round < 20; ++round) {
        SCOPED_TRACE(round);
        auto adapter = std::make_unique<PortalShortcuts>(QString::fromStdString(address),
                                                         [](const std::string&) {});
        int activations = 0;
        adapter->setActivated([&](int) { ++activations; });
        ASSERT_TRUE(adapter->available());
        adapter->bind(HOTKEY_UP, "LOGO+equal");
        ASSERT_TRUE(WaitFor([&] { return adapter->bound(HOTKEY_UP); }));
        testing::Shell("dbus-send --bus='" + address +
                       "' --print-reply --dest=org.freedesktop.portal.Desktop "
                       "/org/freedesktop/portal/desktop org.vexlo.Test.Flood string:volume-up "
                       "uint32:40 >/dev/null 2>&1 &");
        ASSERT_TRUE(WaitFor([&] { return activations > 0; }));
        adapter.reset();
        testing::Pump(std::chrono::milliseconds(round % 2 == 0 ? 0 : 30));
    }
    testing::Pump(200ms);
}

TEST_F(Portal, APortalThatComesBackHungHoldsNothingUp) {
    // The portal restarts and then answers nothing: the program's calls wait for it with a
    // time limit of 10 s, and meanwhile the event loop, and with it the display and the 5 ms
    // watch, keeps going.
    ASSERT_NO_FATAL_FAILURE(Start(""));
    RegisterBoth();
    ASSERT_TRUE(WaitFor([&] { return portal->bound(HOTKEY_UP) && portal->bound(HOTKEY_DOWN); }));
    ::kill(std::stoi(standIn), SIGTERM);
    ASSERT_TRUE(WaitFor([&] { return !portal->bound(HOTKEY_UP); }));
    const std::string asked = dir.file("asked");
    standIn = testing::Shell("DBUS_SESSION_BUS_ADDRESS='" + address + "' /usr/bin/python3 " +
                             VEXLO_PORTAL_STANDIN + " --silent --asked " + asked + " >>" +
                             dir.file("standin.log") + " 2>&1 & echo $!");
    standIn.erase(standIn.find_last_not_of('\n') + 1);
    QTimer watch;
    watch.setInterval(5);
    int ticksSinceAsked = 0;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (::access(asked.c_str(), F_OK) == 0) ++ticksSinceAsked;
    });
    watch.start();
    EXPECT_TRUE(WaitFor([&] { return ticksSinceAsked >= 40; }, 8s));
    EXPECT_FALSE(portal->bound(HOTKEY_UP));
}

TEST_F(Portal, WhatTheAnswerListsWithAKeyIsBoundAndTheRestIsToldOnceWithWhereToAssignIt) {
    struct Case {
        const char* args;
        const char* desktop;  // XDG_CURRENT_DESKTOP
        bool up, down;        // bound
        bool binds;           // BindShortcuts is called
        const char* told;     // in the one report; nullptr: none
        // The keys as the settings choose them, and what the desktop is asked for with them.
        const char* upKeys = "Super+=";
        const char* downKeys = "Super+-";
        const char* asked = "volume-up=LOGO+equal volume-down=LOGO+minus";
    } const cases[] = {
        // KDE Plasma 5.27's form: no registry, only what CreateSession listed is bound, and
        // the session lists it.
        {"--early", "KDE", true, true, false, nullptr},
        {"--early --keyless volume-down", "KDE", true, false, false,
         "no key for \"Volume down\" yet; assign one in System Settings → Keyboard → Shortcuts → "
         "Vexlo"},
        // KDE's first answer names the preferred keys even where another shortcut holds them;
        // its global shortcuts service knows they are not active.
        {"--early --kglobalaccel --no-active-key volume-up --no-active-key volume-down", "KDE",
         false, false, false,
         "\"Volume up\" and \"Volume down\" yet; assign one in System Settings"},
        {"--early --kglobalaccel --keyless volume-down", "KDE", true, false, false,
         "no key for \"Volume down\" yet"},
        // Plasma 6 keeps the shortcuts under the application id.
        {"--kglobalaccel --no-active-key volume-down", "KDE", true, false, true,
         "no key for \"Volume down\" yet"},
        // Outside KDE its service, running for some other program, is not asked.
        {"--kglobalaccel --no-active-key volume-up", "GNOME", true, true, true, nullptr},
        {"--unlisted volume-up --keyless volume-down", "ubuntu:GNOME", false, false, true,
         "\"Volume up\" and \"Volume down\" yet; assign one in Settings → Apps → Vexlo → "
         "Global Shortcuts"},
        {"--unlisted volume-down", nullptr, true, false, true,
         "\"Volume down\" yet; assign one in the desktop's keyboard shortcut settings"},
        // GNOME answers 2 after the user added the keys in its dialog: the list decides.
        {"--bind-response 2", "GNOME", true, true, true, nullptr},
        {"--bind-response 2 --unlisted volume-up --unlisted volume-down", "GNOME", false, false,
         true,
         "the desktop did not add them (its shortcut dialog was cancelled, or it refused them); "
         "Vexlo asks again at its next start, or bind Super + plus and Super + minus to the "
         "commands"},
        // What the desktop holds from an earlier start is not bound again.
        {"--holds volume-up --holds volume-down", "GNOME", true, true, false, nullptr},
        {"--holds volume-up", "GNOME", true, true, true, nullptr},
        // Without the program's desktop file: said so, with both ways to the keys.
        {"--unknown-app --keyless volume-up --keyless volume-down", "KDE", false, false, true,
         "io.github.vexlo.vexlo.desktop is not installed), so it keeps no shortcuts for it; "
         "install Vexlo's package, or bind"},
        {"--unknown-app", "KDE", true, true, true, nullptr},
        // Keys of the user's choice are the preferred triggers, by their keysym names.
        {"", "GNOME", true, true, true, nullptr, "Ctrl+Alt+PageUp", "Shift+Super+KP_Subtract",
         "volume-up=CTRL+ALT+Page_Up volume-down=SHIFT+LOGO+KP_Subtract"},
        {"--early", "KDE", true, true, false, nullptr, "Alt+F24", "Ctrl+Q",
         "volume-up=ALT+F24 volume-down=CTRL+q"},
    };
    const char* const before = std::getenv("XDG_CURRENT_DESKTOP");
    const std::string saved = before != nullptr ? before : "";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args);
        TearDown();
        hotkeys = std::make_unique<XcbHotkeys>(port, system);
        sink.messages.clear();
        reports.clear();
        if (c.desktop != nullptr) {
            ::setenv("XDG_CURRENT_DESKTOP", c.desktop, 1);
        } else {
            ::unsetenv("XDG_CURRENT_DESKTOP");
        }
        ASSERT_NO_FATAL_FAILURE(Start(c.args));
        KeyChord up, down;
        std::string problem;
        ASSERT_TRUE(ParseKeyChord(c.upKeys, up, problem) &&
                    ParseKeyChord(c.downKeys, down, problem));
        RegisterBoth(up, down);
        ASSERT_TRUE(
            WaitFor([&] { return Control("Calls").find("ListShortcuts") != std::string::npos; }));
        testing::Pump(400ms);
        const std::string calls = Control("Calls");
        EXPECT_EQ(calls.find("BindShortcuts") != std::string::npos, c.binds);
        EXPECT_NE(calls.find(std::string("\"CreateSession vexlo ") + c.asked + "\""),
                  std::string::npos)
            << calls;
        if (c.binds) {
            EXPECT_NE(calls.find(std::string("\"BindShortcuts ") + c.asked + "\""),
                      std::string::npos)
                << calls;
        }
        EXPECT_EQ(portal->bound(HOTKEY_UP), c.up);
        EXPECT_EQ(portal->bound(HOTKEY_DOWN), c.down);
        if (c.told == nullptr) {
            EXPECT_TRUE(reports.empty()) << reports.front();
        } else {
            ASSERT_EQ(reports.size(), 1u);
            EXPECT_NE(reports[0].find(c.told), std::string::npos) << reports[0];
        }
        // The desktop may activate a shortcut once the user has assigned a key to it.
        Control("Activate string:volume-down");
        ASSERT_TRUE(WaitFor([&] { return sink.messages.size() == 1; }));
        EXPECT_EQ(sink.messages[0].wParam, static_cast<std::uintptr_t>(HOTKEY_DOWN));
        EXPECT_LE(reports.size(), 1u);
    }
    if (before != nullptr) {
        ::setenv("XDG_CURRENT_DESKTOP", saved.c_str(), 1);
    } else {
        ::unsetenv("XDG_CURRENT_DESKTOP");
    }
}

TEST_F(Portal, ADeclinedBindIsReportedOnceWithTheWayOutAndTheUsersLaterChoiceCounts) {
    ASSERT_NO_FATAL_FAILURE(Start("--bind decline"));
    RegisterBoth();
    ASSERT_TRUE(WaitFor([&] { return portal->failed(); }));
    testing::Pump(300ms);
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_NE(reports[0].find("the desktop's shortcut dialog was declined; Vexlo asks again at "
                              "its next start, or bind Super + plus and Super + minus to the "
                              "commands \"vexlo --volume-up\" and \"vexlo --volume-down\""),
              std::string::npos)
        << reports[0];
    EXPECT_FALSE(portal->bound(HOTKEY_UP));
    PressKeys("super+equal super+minus");
    EXPECT_TRUE(sink.messages.empty());
    // The user sets a key in the desktop's settings later: it counts, and nothing is told.
    Control("Change string:volume-up string:LOGO+equal");
    ASSERT_TRUE(WaitFor([&] { return portal->bound(HOTKEY_UP); }));
    EXPECT_FALSE(portal->bound(HOTKEY_DOWN));
    EXPECT_EQ(reports.size(), 1u);
}

TEST_F(Portal, WithoutTheShortcutPortalTheXGrabsStayAndThatIsReportedOnce) {
    for (const char* args : {static_cast<const char*>(nullptr), "--no-shortcuts"}) {
        SCOPED_TRACE(args == nullptr ? "no portal" : args);
        TearDown();
        hotkeys = std::make_unique<XcbHotkeys>(port, system);
        sink.messages.clear();
        reports.clear();
        ASSERT_NO_FATAL_FAILURE(Start(args));
        RegisterBoth();
        ASSERT_EQ(reports.size(), 1u);
        EXPECT_NE(reports[0].find("only while an X11 window has the focus"), std::string::npos);
        PressKeys("super+equal");
        ASSERT_EQ(sink.messages.size(), 1u);
        EXPECT_EQ(sink.messages[0].wParam, static_cast<std::uintptr_t>(HOTKEY_UP));
        EXPECT_TRUE(hotkeys->unregisterHotKey(main->handle(), HOTKEY_UP));
        EXPECT_TRUE(hotkeys->unregisterHotKey(main->handle(), HOTKEY_DOWN));
    }
}

TEST(Instance, TheResidentProgramOwnsTheSelectionUntilItEnds) {
    REQUIRE_X();
    EXPECT_FALSE(InstanceGuard::OtherRunning());
    {
        InstanceGuard guard;
        ASSERT_TRUE(guard.claim());
        EXPECT_TRUE(InstanceGuard::OtherRunning());
    }
    EXPECT_FALSE(InstanceGuard::OtherRunning());
}

}  // namespace
}  // namespace vexlo::linux_platform
