#include "platform/win32/windowing.h"

#include <gtest/gtest.h>

#include "platform/win32/images.h"
#include "tests/test_support.h"

namespace vexlo::win32 {
namespace {

using testing::Pump;
using testing::RecordingSink;
using testing::TestFile;

class WindowsTest : public ::testing::Test {
  protected:
    WindowsTest() { dispatcher.setSink(&sink); }
    std::shared_ptr<const Picture> Picture(const std::string& name) {
        std::string error;
        auto picture = images.load(TestFile("data\\" + name), error);
        EXPECT_TRUE(picture) << error;
        return picture;
    }
    static HWND Hwnd(const Window& w) { return reinterpret_cast<HWND>(w.handle()); }

    Dispatcher dispatcher;
    RecordingSink sink;
    Win32WindowSystem system {dispatcher};
    Win32ImageLoader images;
};

TEST_F(WindowsTest, WindowsAreHiddenBorderlessToolWindowsAndOnlyTheSliderTakesDoubleClicks) {
    for (WindowRole role : {WindowRole::Main, WindowRole::Overlay, WindowRole::Control}) {
        auto window = system.createWindow(role, "Vexlo");
        const HWND hwnd = Hwnd(*window);
        ASSERT_TRUE(IsWindow(hwnd));
        EXPECT_FALSE(window->visible());
        const LONG style = GetWindowLongA(hwnd, GWL_STYLE);
        EXPECT_TRUE(style & WS_POPUP);
        EXPECT_FALSE(style & (WS_CAPTION | WS_THICKFRAME | WS_BORDER));
        EXPECT_TRUE(GetWindowLongA(hwnd, GWL_EXSTYLE) & WS_EX_TOOLWINDOW);
        EXPECT_TRUE(GetWindowLongA(hwnd, GWL_EXSTYLE) & WS_EX_NOACTIVATE);
        const bool doubleClicks = GetClassLongA(hwnd, GCL_STYLE) & CS_DBLCLKS;
        EXPECT_EQ(doubleClicks, role == WindowRole::Control);
    }
}

TEST_F(WindowsTest, ShowingNeverActivatesAndPutsAHiddenWindowAboveTheOthers) {
    auto a = system.createWindow(WindowRole::Overlay, "a");
    auto b = system.createWindow(WindowRole::Overlay, "b");
    a->setBounds(100, 100, 50, 50);
    b->setBounds(120, 120, 50, 50);
    const auto above = [](HWND upper, HWND lower) {
        for (HWND w = GetWindow(upper, GW_HWNDNEXT); w; w = GetWindow(w, GW_HWNDNEXT)) {
            if (w == lower) return true;
        }
        return false;
    };
    a->show();
    b->show();
    EXPECT_TRUE(a->visible());
    EXPECT_TRUE(above(Hwnd(*b), Hwnd(*a)));
    EXPECT_NE(GetActiveWindow(), Hwnd(*a));
    EXPECT_NE(GetActiveWindow(), Hwnd(*b));
    a->show();  // already shown: stays where it is
    EXPECT_TRUE(above(Hwnd(*b), Hwnd(*a)));
    a->hide();
    EXPECT_FALSE(a->visible());
    a->show();
    EXPECT_TRUE(above(Hwnd(*a), Hwnd(*b)));
    EXPECT_EQ(a->x(), 100);
    EXPECT_EQ(b->height(), 50);
}

TEST_F(WindowsTest, PaintsPlainColourThenBackgroundThenClippedImages) {
    auto window = system.createWindow(WindowRole::Main, "Vexlo");
    window->setBounds(0, 0, 30, 12);
    window->setBackground(Picture("seven_by_five.bmp"));  // green, 7 x 5
    Element& bar = window->addElement(Element::Kind::Image, "bar");
    bar.setPicture(Picture("knob15x9.gif"));  // 5 transparent columns, then blue
    bar.setBounds(4, 2, 8, 9);
    Element& hidden = window->addElement(Element::Kind::Image, "testbox");
    hidden.setPicture(Picture("seven_by_five.bmp"));
    hidden.setBounds(20, 0, 7, 5);
    hidden.setVisible(false);

    HDC screen = GetDC(nullptr);
    HDC dc = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, 30, 12);
    ReleaseDC(nullptr, screen);
    HGDIOBJ old = SelectObject(dc, bitmap);
    static_cast<Win32Window&>(*window).render(dc);

    const COLORREF green = RGB(10, 200, 30);
    EXPECT_EQ(GetPixel(dc, 1, 1), green);
    EXPECT_EQ(GetPixel(dc, 5, 3), green) << "the GIF's transparent pixels show the background";
    EXPECT_EQ(GetPixel(dc, 5, 8), kPlainBackground) << "transparent, below the background";
    EXPECT_EQ(GetPixel(dc, 10, 3), RGB(0, 0, 255));
    EXPECT_EQ(GetPixel(dc, 12, 3), kPlainBackground) << "the bar is cut at its width";
    EXPECT_EQ(GetPixel(dc, 22, 2), kPlainBackground) << "invisible elements are not drawn";
    EXPECT_NE(kPlainBackground, RGB(255, 0, 255));
    SelectObject(dc, old);
    DeleteObject(bitmap);
    DeleteDC(dc);
}

TEST_F(WindowsTest, KnobKeepsTheMouseWhileAButtonIsHeld) {
    auto window = system.createWindow(WindowRole::Control, "Control");
    window->setBounds(0, 0, 30, 134);
    Element& knob = window->addElement(Element::Kind::Image, "knob");
    knob.setBounds(8, 20, 15, 15);
    const HWND hwnd = Hwnd(*window);

    SendMessageA(hwnd, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(10, 25));
    ASSERT_EQ(sink.mice.size(), 1u);
    EXPECT_EQ(sink.mice[0].target, knob.handle());
    EXPECT_EQ(sink.mice[0].message, static_cast<std::uint32_t>(WM_LBUTTONDOWN));
    EXPECT_EQ(sink.mice[0].x, 2);
    EXPECT_EQ(sink.mice[0].y, 5);
    EXPECT_EQ(sink.mice[0].buttons, 1);
    EXPECT_EQ(GetCapture(), hwnd);

    SendMessageA(hwnd, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(100, -30));
    EXPECT_EQ(sink.mice[1].target, knob.handle()) << "outside the knob, still the knob's";
    EXPECT_EQ(sink.mice[1].x, 92);
    EXPECT_EQ(sink.mice[1].y, -50);

    SendMessageA(hwnd, WM_LBUTTONUP, 0, MAKELPARAM(100, -30));
    EXPECT_EQ(sink.mice[2].target, knob.handle());
    EXPECT_EQ(GetCapture(), nullptr);

    SendMessageA(hwnd, WM_MOUSEMOVE, 0, MAKELPARAM(2, 2));
    EXPECT_EQ(sink.mice[3].target, window->handle());
    SendMessageA(hwnd, WM_LBUTTONDBLCLK, MK_LBUTTON, MAKELPARAM(2, 100));
    EXPECT_EQ(sink.mice[4].target, window->handle());
    EXPECT_EQ(sink.mice[4].message, static_cast<std::uint32_t>(WM_LBUTTONDBLCLK));
    EXPECT_EQ(sink.mice[4].y, 100);
    EXPECT_EQ(GetCapture(), nullptr) << "no capture for presses outside the knob";
    SendMessageA(hwnd, WM_MOUSEMOVE, MK_MBUTTON | MK_SHIFT, MAKELPARAM(2, 2));
    EXPECT_EQ(sink.mice[5].buttons, 4) << "the core's middle-button bit, no shift";
}

TEST_F(WindowsTest, CaptionDragFollowsThePointerAndLeavesTheNextPressToTheCore) {
    auto window = system.createWindow(WindowRole::Control, "Control");
    window->setBounds(100, 100, 30, 134);
    window->show();
    const HWND hwnd = Hwnd(*window);
    SetCursorPos(110, 110);
    // What the core does on a press outside the knob.
    system.releaseCapture();
    EXPECT_EQ(system.sendMessage(window->handle(), WM_SYSCOMMAND, 0xF012, 0), 0);
    EXPECT_EQ(GetCapture(), hwnd);
    SetCursorPos(150, 160);
    SendMessageA(hwnd, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(10, 10));
    EXPECT_EQ(window->x(), 140);
    EXPECT_EQ(window->y(), 150);
    SendMessageA(hwnd, WM_LBUTTONUP, 0, MAKELPARAM(10, 10));
    EXPECT_EQ(GetCapture(), nullptr);
    EXPECT_TRUE(sink.mice.empty()) << "the move's own events are not the core's";
    SendMessageA(hwnd, WM_MOUSEMOVE, 0, MAKELPARAM(10, 12));
    SendMessageA(hwnd, WM_LBUTTONDBLCLK, MK_LBUTTON, MAKELPARAM(10, 12));
    ASSERT_EQ(sink.mice.size(), 2u);
    EXPECT_EQ(sink.mice[1].message, static_cast<std::uint32_t>(WM_LBUTTONDBLCLK));
    EXPECT_EQ(window->x(), 140) << "no longer moving";
}

TEST_F(WindowsTest, TrayNotificationsArriveAsMovesOfThePictureElement) {
    auto window = system.createWindow(WindowRole::Main, "Vexlo");
    Element& tray = window->addElement(Element::Kind::Picture, "Tray");
    const HWND trayWindow = reinterpret_cast<HWND>(tray.handle());
    ASSERT_TRUE(IsWindow(trayWindow));
    EXPECT_EQ(GetParent(trayWindow), Hwnd(*window));
    tray.setPicture(Picture("icon24.ico"));
    EXPECT_EQ(tray.picture()->width(), 24);

    SendMessageA(trayWindow, WM_MOUSEMOVE, 1, WM_RBUTTONDOWN);
    ASSERT_EQ(sink.mice.size(), 1u);
    EXPECT_EQ(sink.mice[0].target, tray.handle());
    EXPECT_EQ(sink.mice[0].message, static_cast<std::uint32_t>(WM_MOUSEMOVE));
    EXPECT_EQ(sink.mice[0].x, WM_RBUTTONDOWN);
}

TEST_F(WindowsTest, TheCoreMayDestroyAWindowFromInsideItsOwnEvent) {
    auto window = system.createWindow(WindowRole::Control, "Control");
    Element& knob = window->addElement(Element::Kind::Image, "knob");
    knob.setBounds(8, 20, 15, 15);
    const HWND hwnd = Hwnd(*window);
    sink.onMouseHook = [&](const MouseEvent&) { window.reset(); };
    SendMessageA(hwnd, WM_LBUTTONDBLCLK, MK_LBUTTON, MAKELPARAM(1, 1));
    EXPECT_FALSE(window);
    EXPECT_FALSE(IsWindow(hwnd));
    EXPECT_EQ(sink.mice.size(), 1u);
}

TEST_F(WindowsTest, MenuChoicesAreDeliveredFromTheLoop) {
    auto window = system.createWindow(WindowRole::Main, "Vexlo");
    SendMessageA(Hwnd(*window), WM_COMMAND, MAKEWPARAM(2, 0), 0);
    EXPECT_TRUE(sink.menuCommands.empty());
    Pump(500, [&] { return !sink.menuCommands.empty(); });
    EXPECT_EQ(sink.menuCommands, std::vector<int> {2});
}

TEST_F(WindowsTest, LayeredAttributesAndStackingPassThrough) {
    auto window = system.createWindow(WindowRole::Overlay, "Hidden");
    const NativeHandle h = window->handle();
    const std::int32_t style = system.getWindowLong(h, GWL_EXSTYLE);
    system.setWindowLong(h, GWL_EXSTYLE, style | WS_EX_LAYERED);
    EXPECT_TRUE(system.getWindowLong(h, GWL_EXSTYLE) & WS_EX_LAYERED);
    EXPECT_TRUE(system.setLayeredWindowAttributes(h, 0x00FF00FF, 125, 3));
    COLORREF key = 0;
    BYTE alpha = 0;
    DWORD flags = 0;
    ASSERT_TRUE(GetLayeredWindowAttributes(Hwnd(*window), &key, &alpha, &flags));
    EXPECT_EQ(key, 0x00FF00FFu);
    EXPECT_EQ(alpha, 125);
    EXPECT_EQ(flags, 3u);
    window->setBounds(10, 20, 30, 40);
    EXPECT_TRUE(system.setWindowPos(h, -1, 0, 0, 0, 0, 3));
    EXPECT_TRUE(system.getWindowLong(h, GWL_EXSTYLE) & WS_EX_TOPMOST);
    EXPECT_EQ(window->x(), 10);
    EXPECT_EQ(window->width(), 30);
}

}  // namespace
}  // namespace vexlo::win32
