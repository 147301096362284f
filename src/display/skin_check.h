// The skin check for skin authors: every file the program would load, loaded with the
// program's own loaders, and the fit between them measured against the display's layout.
#pragma once

#include <string>
#include <vector>

#include "platform/images.h"
#include "platform/sound.h"

namespace vexlo {

// The files of a skin, as the program names them.
extern const std::vector<std::string> kSkinFileNames;
// The files a skin may leave out; checked like the others when they are there.
extern const std::vector<std::string> kOptionalSkinFileNames;

// One line per finding, each naming the file and what to change; none when the skin would
// load and look as intended.
std::vector<std::string> CheckSkin(ImageLoader& images, Sound& sound, const std::string& folder);

// The report as the programs give it: the findings, or one line saying the skin is fine.
std::string SkinReport(const std::string& folder, const std::vector<std::string>& findings);

}  // namespace vexlo
