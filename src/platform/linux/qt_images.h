// Pictures: BMP, ICO and GIF files read with Qt's image readers.
#pragma once

#include <QIcon>
#include <QImage>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/images.h"
#include "platform/linux/handles.h"
#include "platform/texts.h"

namespace vexlo::linux_platform {

class QtPicture : public Picture {
  public:
    // frames: every image of the file (an icon file holds several sizes); the largest one is
    // the picture, as an icon is drawn at the standard (largest) size.
    explicit QtPicture(std::vector<QImage> frames);
    ~QtPicture() override;
    NativeHandle handle() const override { return handle_; }
    int width() const override { return image().width(); }
    int height() const override { return image().height(); }
    std::vector<Size> sizes() const override;
    std::vector<std::uint32_t> pixels() const override;

    const QImage& image() const { return frames_[primary_]; }
    const std::vector<QImage>& frames() const { return frames_; }
    // All sizes, for the tray and the window icon. Needs the GUI application.
    QIcon icon() const;

    // The live picture with this handle, or null.
    static const QtPicture* Find(NativeHandle handle);

  private:
    NativeHandle handle_;
    std::vector<QImage> frames_;
    std::size_t primary_ = 0;
};

class QtImageLoader : public ImageLoader, public UsesTexts {
  public:
    // Paths use the program's backslashes; they are turned into this system's separators.
    // Empty, cut-off and over-large files are refused with a reason before decoding, in the
    // language of the texts it is given (English until then).
    std::shared_ptr<const Picture> load(const std::string& path, std::string& error) override;
    bool exists(const std::string& path) override;
};

}  // namespace vexlo::linux_platform
