#include "display/skin_preview.h"

#include "controller/errors.h"

namespace vexlo {

namespace {
constexpr int kStepMs = 1000;
constexpr int kEscapeHotkey = 1333;
}  // namespace

SkinPreview::SkinPreview(Platform& platform, Trans& trans, AlwaysOnTop& onTop, std::string folder)
    : platform_(platform),
      trans_(trans),
      onTop_(onTop),
      skin_(platform.images, platform.program, platform.texts, std::move(folder)) {}

SkinPreview::~SkinPreview() {
    if (!window_) return;
    if (escape_) platform_.hotkeys.unregisterHotKey(window_->handle(), kEscapeHotkey);
    if (prevWndProc_ != 0) platform_.hotkeys.setWindowProc(window_->handle(), prevWndProc_);
}

void SkinPreview::Start() {
    // The windows as the resident program makes them, topmost as it has them by default.
    window_ = platform_.windows.createWindow(WindowRole::Main, "Vexlo");
    bar_ = &window_->addElement(Element::Kind::Image, "bar");
    testbox_ = &window_->addElement(Element::Kind::Image, "testbox");
    trans_.MakeLayered(window_->handle());
    window_->setIcon(skin_.Load("\\icon3.ico"));
    under_ = std::make_unique<OverlayForm>(platform_.windows, skin_, platform_.screen, trans_,
                                           "\\overlay1.bmp");
    under2_ = std::make_unique<OverlayForm>(platform_.windows, skin_, platform_.screen, trans_,
                                            "\\overlay2.bmp");
    onTop_.MakeTopmost(window_->handle());
    onTop_.MakeTopmost(under_->handle());
    onTop_.MakeTopmost(under2_->handle());
    LoadDisplayFace(*window_, *bar_, *testbox_, skin_, platform_.screen);
    // While the level changes the background is half transparent and the overlays opaque.
    trans_.SetAlpha(window_->handle(), kMainAlpha);
    // Esc wherever the keyboard focus is: the display never takes it.
    prevWndProc_ =
        platform_.hotkeys.setWindowProc(window_->handle(), platform_.hotkeys.coreProcedure());
    escape_ = platform_.hotkeys.registerHotKey(window_->handle(), kEscapeHotkey, 0, VK_ESCAPE);
    window_->show();
    under_->Show();
    under2_->Show();
    ShowChunks(0);
    timer_ = platform_.timers.createTimer(kStepMs, true);
}

void SkinPreview::ShowChunks(int chunks) {
    chunks_ = chunks;
    bar_->setBounds(bar_->x(), bar_->y(), BarWidth(chunks), bar_->height());
    under2_->SetWidth(Overlay2Width(chunks));
}

void SkinPreview::Timer_Timer() {
    if (chunks_ + direction_ > kMostChunks || chunks_ + direction_ < 0) direction_ = -direction_;
    ShowChunks(chunks_ + direction_);
}

void SkinPreview::Mouse(const MouseEvent& event) {
    const bool press = event.message == WM_LBUTTONDOWN || event.message == WM_RBUTTONDOWN ||
                       event.message == WM_MBUTTONDOWN;
    if (!press || !window_) return;
    if (event.target == window_->handle() || event.target == under_->handle() ||
        event.target == under2_->handle()) {
        End();
    }
}

std::intptr_t SkinPreview::PreviewProc(NativeHandle window, std::uint32_t message,
                                       std::uintptr_t wParam, std::intptr_t lParam) {
    if (message == WM_HOTKEY && wParam == kEscapeHotkey) End();
    return platform_.hotkeys.callWindowProc(prevWndProc_, window, message, wParam, lParam);
}

void SkinPreview::End() {
    timer_.reset();
    window_->hide();
    under_->Hide();
    under2_->Hide();
    throw ProgramEnd {0};
}

}  // namespace vexlo
