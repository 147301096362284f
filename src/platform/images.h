// Port: loading pictures (BMP, ICO, GIF) from files.
#pragma once

#include <memory>
#include <string>

#include "platform/types.h"

namespace vexlo {

// A loaded picture. Icons carry their native icon handle, which the tray record names.
class Picture {
  public:
    virtual ~Picture() = default;
    virtual NativeHandle handle() const = 0;
    virtual int width() const = 0;  // pixels
    virtual int height() const = 0;
};

class ImageLoader {
  public:
    virtual ~ImageLoader() = default;
    // Loads the file; on failure returns null and puts a short reason into error.
    virtual std::shared_ptr<const Picture> load(const std::string& path, std::string& error) = 0;
};

}  // namespace vexlo
