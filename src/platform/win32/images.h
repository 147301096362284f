// Pictures on Windows: BMP and ICO through LoadImageA, GIF through OleLoadPicture (which keeps
// the transparent colour when drawn).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/images.h"
#include "platform/texts.h"
#include "platform/win32/win.h"

namespace vexlo::win32 {

class Win32Picture : public Picture {
  public:
    // Draws the picture unscaled with its top-left corner at x, y. The caller clips.
    virtual void draw(HDC dc, int x, int y) const = 0;
};

// Its reasons are in the language of the texts it is given (English until then).
class Win32ImageLoader : public ImageLoader, public UsesTexts {
  public:
    std::shared_ptr<const Picture> load(const std::string& path, std::string& error) override;
    bool exists(const std::string& path) override {
        return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
    }
};

// Draws a picture (one of this loader's) at x, y clipped to width × height.
void DrawPictureClipped(HDC dc, const Picture& picture, int x, int y, int width, int height);

struct FileBytes {
    std::vector<unsigned char> data;
    std::string error;      // why the file could not be read; empty when it was
    bool tooLarge = false;  // larger than the limit, and left unread
};

// The whole file, when it is no larger than limit bytes.
FileBytes ReadWholeFile(const std::string& path, std::uint64_t limit);

// The text of a system error code, without the trailing line break.
std::string SystemErrorText(DWORD code);

}  // namespace vexlo::win32
