#include "display/skin.h"

#include <cmath>

#include "controller/errors.h"

namespace vexlo {

std::shared_ptr<const Picture> SkinFiles::Load(const std::string& literal) {
    const std::string path = Path(literal);
    std::string reason;
    auto picture = images_.load(path, reason);
    if (!picture) {
        throw FatalError("The skin file \"" + path + "\" cannot be loaded" +
                         (reason.empty() ? std::string(".") : ": " + reason + "."));
    }
    return picture;
}

Placement CentreOnScreen(int screenWidth, int screenHeight, int width, int height) {
    // Half pixels of an odd difference round to the even neighbour.
    int left = static_cast<int>(std::nearbyint(screenWidth / 2.0 - width / 2.0));
    int top = static_cast<int>(std::nearbyint(screenHeight / 2.0 - height / 2.0));
    if (left + width > screenWidth) left = screenWidth - width;
    if (top + height > screenHeight) top = screenHeight - height;
    return {left, top};
}

}  // namespace vexlo
