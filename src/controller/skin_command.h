// The switches for skin authors: check a skin folder, or preview it on the real display.
#pragma once

#include <string>

namespace vexlo {

enum class SkinCommand { None, Check, Preview };

// "/checkskin" and "--check-skin", "/previewskin" and "--preview-skin"; None for any other
// word, which leaves the command line to the program's usual modes.
SkinCommand SkinCommandOf(const std::string& word);

struct SkinRequest {
    SkinCommand command = SkinCommand::None;
    std::string folder;
    std::string error;  // the request is malformed: what to say instead of running it
};

// Reads an argument text such as Windows hands it over: the switch, then the folder, which may
// stand in double quotes (a folder with spaces).
SkinRequest ReadSkinRequest(const std::string& commandLine);

// Reads separate arguments (argv without the program's name).
SkinRequest ReadSkinRequest(const std::string& word, const std::string* folder, int extra);

}  // namespace vexlo
