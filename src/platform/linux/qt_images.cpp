#include "platform/linux/qt_images.h"

#include <QFileInfo>
#include <QImageReader>
#include <QPixmap>
#include <cerrno>
#include <cstring>
#include <fstream>

#include "platform/common/file_profile.h"

namespace vexlo::linux_platform {

namespace {
HandleTable<const QtPicture>& Pictures() {
    static HandleTable<const QtPicture> table;
    return table;
}
}  // namespace

QtPicture::QtPicture(std::vector<QImage> frames)
    : handle_(NewHandle()), frames_(std::move(frames)) {
    for (std::size_t i = 1; i < frames_.size(); ++i) {
        const QSize a = frames_[i].size(), b = frames_[primary_].size();
        if (a.width() * a.height() > b.width() * b.height()) primary_ = i;
    }
    Pictures().add(handle_, this);
}

QtPicture::~QtPicture() {
    Pictures().remove(handle_);
}

const QtPicture* QtPicture::Find(NativeHandle handle) {
    return Pictures().find(handle);
}

QIcon QtPicture::icon() const {
    QIcon icon;
    for (const QImage& frame : frames_) icon.addPixmap(QPixmap::fromImage(frame));
    return icon;
}

std::shared_ptr<const Picture> QtImageLoader::load(const std::string& path, std::string& error) {
    const std::string native = NativePath(path);
    // The readers' own messages do not tell a missing file from an unreadable one.
    {
        std::ifstream probe(native, std::ios::binary);
        if (!probe) {
            error = std::strerror(errno);
            return nullptr;
        }
    }
    QImageReader reader(QString::fromStdString(native));
    reader.setAutoTransform(false);
    std::vector<QImage> frames;
    do {
        QImage frame = reader.read();
        if (frame.isNull()) break;
        frames.push_back(std::move(frame));
    } while (reader.jumpToNextImage());
    if (frames.empty()) {
        const std::string reason = reader.errorString().toStdString();
        error = reason.empty() ? "not a picture this program can read" : reason;
        return nullptr;
    }
    error.clear();
    return std::make_shared<QtPicture>(std::move(frames));
}

}  // namespace vexlo::linux_platform
