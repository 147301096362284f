#include "display/frmUnder.h"

#include "display/skin.h"

namespace vexlo {

OverlayForm::OverlayForm(WindowSystem& windows, SkinFiles& skin, Screen& screen, Trans& trans,
                         const std::string& bitmapLiteral)
    : window_(windows.createWindow(WindowRole::Overlay, "Hidden")) {
    testbox_ = &window_->addElement(Element::Kind::Image, "testbox");
    trans.MakeLayered(window_->handle());
    window_->setBackground(skin.Load(bitmapLiteral));
    auto picture = skin.Load(bitmapLiteral);
    testbox_->setPicture(picture);
    testbox_->setBounds(0, 0, picture->width(), picture->height());
    const int width = bitmapWidth_ = testbox_->width();
    const int height = bitmapHeight_ = testbox_->height();
    const Placement at = CentreOnScreen(screen.width(), screen.height(), width, height);
    window_->setBounds(at.left, at.top, width, height);
    testbox_->setPicture(nullptr);
    testbox_->setVisible(false);
}

void OverlayForm::SetWidth(int width) {
    window_->setBounds(window_->x(), window_->y(), width, window_->height());
}

void OverlayForm::PlaceOn(const MonitorArea& area) {
    const Placement at = CentreOnMonitor(area, bitmapWidth_, bitmapHeight_);
    window_->setBounds(at.left, at.top, window_->width(), window_->height());
}

}  // namespace vexlo
