#include "display/skin.h"

#include <cmath>

#include "controller/errors.h"

namespace vexlo {

std::shared_ptr<const Picture> SkinFiles::Load(const std::string& literal) {
    const std::string path = Path(literal);
    std::string reason;
    auto picture = images_.load(path, reason);
    if (!picture) {
        const std::string file = program_.nativePath(path);
        throw FatalError(
            reason.empty()
                ? Fill(Tr(texts_, "The skin file \"{file}\" cannot be loaded."), {{"file", file}})
                // TRANSLATORS: {file} is a file's path; {reason} a clause saying why, such as
                // "the file is cut off (...)" or a message of the system.
                : Fill(Tr(texts_, "The skin file \"{file}\" cannot be loaded: {reason}."),
                       {{"file", file}, {"reason", reason}}));
    }
    return picture;
}

std::shared_ptr<const Picture> SkinFiles::LoadOptional(const std::string& literal) {
    std::string reason;
    return images_.load(Path(literal), reason);
}

void LoadDisplayFace(Window& window, Element& bar, Element& testbox, SkinFiles& skin,
                     Screen& screen) {
    window.setBackground(skin.Load("\\back.bmp"));
    auto back = skin.Load("\\back.bmp");
    testbox.setPicture(back);
    testbox.setBounds(0, 0, back->width(), back->height());
    auto chunks = skin.Load("\\chunks.bmp");
    bar.setPicture(chunks);
    const int width = testbox.width();
    const int height = testbox.height();
    const Placement at = CentreOnScreen(screen.width(), screen.height(), width, height);
    window.setBounds(at.left, at.top, width, height);
    testbox.setPicture(nullptr);
    testbox.setVisible(false);
    bar.setBounds(kBarLeft, kBarTop, chunks->width(), chunks->height());
}

Placement CentreOnScreen(int screenWidth, int screenHeight, int width, int height) {
    // Half pixels of an odd difference round to the even neighbour.
    int left = static_cast<int>(std::nearbyint(screenWidth / 2.0 - width / 2.0));
    int top = static_cast<int>(std::nearbyint(screenHeight / 2.0 - height / 2.0));
    if (left + width > screenWidth) left = screenWidth - width;
    if (top + height > screenHeight) top = screenHeight - height;
    return {left, top};
}

Placement CentreOnMonitor(const MonitorArea& area, int width, int height) {
    const Placement at = CentreOnScreen(area.width, area.height, width, height);
    return {area.left + at.left, area.top + at.top};
}

}  // namespace vexlo
