// Port: loading pictures (BMP, ICO, GIF) from files.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/types.h"

namespace vexlo {

// A loaded picture. Icons carry their native icon handle, which the tray record names.
class Picture {
  public:
    virtual ~Picture() = default;
    virtual NativeHandle handle() const = 0;
    virtual int width() const = 0;  // pixels
    virtual int height() const = 0;

    struct Size {
        int width;
        int height;
    };
    // Every image the file holds, as decoded (an icon file holds one per size).
    virtual std::vector<Size> sizes() const { return {{width(), height()}}; }
    // The picture as it is drawn, 0x00RRGGBB, rows from the top; empty where the loader has no
    // pixels to give (the display's bitmaps always have them).
    virtual std::vector<std::uint32_t> pixels() const { return {}; }
};

class ImageLoader {
  public:
    virtual ~ImageLoader() = default;
    // Loads the file; on failure returns null and puts a short reason into error.
    virtual std::shared_ptr<const Picture> load(const std::string& path, std::string& error) = 0;
    // Whether a file lies at the path (loadable or not): tells an optional file that is left
    // out from one that is there but broken.
    virtual bool exists(const std::string& path) = 0;
};

}  // namespace vexlo
