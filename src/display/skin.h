// Loading the skin's pictures from the program folder. A file that is missing or unreadable
// is a FatalError that names it.
#pragma once

#include <memory>
#include <string>

#include "platform/images.h"
#include "platform/program.h"

namespace vexlo {

class SkinFiles {
  public:
    SkinFiles(ImageLoader& images, ProgramInfo& program) : images_(images), program_(program) {}
    // The program folder followed by the literal, which begins with a backslash.
    std::string Path(const std::string& literal) const { return program_.folder() + literal; }
    std::shared_ptr<const Picture> Load(const std::string& literal);

  private:
    ImageLoader& images_;
    ProgramInfo& program_;
};

// Centres a size on the screen and pulls an oversized one back so that its right and bottom
// edges meet the screen's.
struct Placement {
    int left;
    int top;
};
Placement CentreOnScreen(int screenWidth, int screenHeight, int width, int height);

}  // namespace vexlo
