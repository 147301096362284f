// Loading the skin's pictures from the program folder. A file that is missing or unreadable
// is a FatalError that names it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/images.h"
#include "platform/program.h"
#include "platform/screen.h"
#include "platform/texts.h"
#include "platform/window_system.h"

namespace vexlo {

// Where the skin lies: the program's folder, or a folder named for a skin check or preview.
class SkinFiles {
  public:
    // folder: the skin's folder when it is not the program's.
    SkinFiles(ImageLoader& images, ProgramInfo& program, const Texts& texts,
              std::string folder = {})
        : images_(images), program_(program), texts_(texts), folder_(std::move(folder)) {}
    std::string Folder() const { return folder_.empty() ? program_.folder() : folder_; }
    // The folder followed by the literal, which begins with a backslash.
    std::string Path(const std::string& literal) const { return Folder() + literal; }
    std::shared_ptr<const Picture> Load(const std::string& literal);
    // A file a skin may leave out: null when it is not there or cannot be loaded (the skin
    // check tells the author which).
    std::shared_ptr<const Picture> LoadOptional(const std::string& literal);
    // Whether the skin has the file at all.
    bool Has(const std::string& literal) { return images_.exists(Path(literal)); }

  private:
    ImageLoader& images_;
    ProgramInfo& program_;
    const Texts& texts_;
    std::string folder_;
};

// The display's layout: the level bar lies at (kBarLeft, kBarTop) in the background window and
// shows kChunkWidth pixels of "\chunks.bmp" per lit chunk; the second overlay shows
// kOverlayStart pixels more than the bar's width.
inline constexpr int kBarLeft = 34;
inline constexpr int kBarTop = 168;
inline constexpr int kChunkWidth = 9;
inline constexpr int kOverlayStart = 35;
inline constexpr int kMostChunks = 16;
// The background window's opacity whenever the display is shown.
inline constexpr std::uint8_t kMainAlpha = 125;
// Widths for n lit chunks; the bar's is formed in 16 bits.
inline std::int16_t BarWidth(int chunks) {
    return static_cast<std::int16_t>(chunks * kChunkWidth);
}
inline int Overlay2Width(int chunks) {
    return kChunkWidth * chunks + kOverlayStart;
}

// The background window's face: "\back.bmp" as its picture and size, centred on the screen,
// the bar showing "\chunks.bmp" at its place. testbox measures the background and is left
// empty and hidden.
void LoadDisplayFace(Window& window, Element& bar, Element& testbox, SkinFiles& skin,
                     Screen& screen);

// Centres a size on the screen and pulls an oversized one back so that its right and bottom
// edges meet the screen's.
struct Placement {
    int left;
    int top;
};
Placement CentreOnScreen(int screenWidth, int screenHeight, int width, int height);
// The same on one monitor's whole area: its own edges pull an oversized window back.
Placement CentreOnMonitor(const MonitorArea& area, int width, int height);

}  // namespace vexlo
