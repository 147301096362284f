#include "platform/linux/qt_images.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <QImageReader>
#include <QPixmap>
#include <cerrno>
#include <cstring>

#include "platform/common/picture_check.h"
#include "platform/linux/mapped_file.h"
#include "platform/linux/system_services.h"

namespace vexlo::linux_platform {

namespace {

HandleTable<const QtPicture>& Pictures() {
    static HandleTable<const QtPicture> table;
    return table;
}

// What the file is, checked before any decoding: an empty string when the decoder may go on.
std::string CheckFile(const std::string& path, const Texts& texts) {
    const MappedFile file(path);
    // TRANSLATORS: Why a skin picture cannot be loaded: its name is a folder's.
    if (file.folder()) return Tr(texts, "it is a folder, not a file");
    if (!file.error().empty()) return file.error();
    const PictureCheck check = CheckPicture(file.data(), file.size(), FormatOfName(path), texts);
    return check.ok ? std::string() : check.reason;
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

std::vector<Picture::Size> QtPicture::sizes() const {
    std::vector<Size> sizes;
    for (const QImage& frame : frames_) sizes.push_back({frame.width(), frame.height()});
    return sizes;
}

std::vector<std::uint32_t> QtPicture::pixels() const {
    const QImage rgb = image().convertToFormat(QImage::Format_RGB32);
    std::vector<std::uint32_t> pixels;
    pixels.reserve(static_cast<std::size_t>(rgb.width()) * rgb.height());
    for (int y = 0; y < rgb.height(); ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(rgb.constScanLine(y));
        for (int x = 0; x < rgb.width(); ++x) pixels.push_back(line[x] & 0xFFFFFFu);
    }
    return pixels;
}

QIcon QtPicture::icon() const {
    QIcon icon;
    for (const QImage& frame : frames_) icon.addPixmap(QPixmap::fromImage(frame));
    return icon;
}

bool QtImageLoader::exists(const std::string& path) {
    struct stat st {};
    return ::stat(LinuxProgramInfo::NativePath(path).c_str(), &st) == 0;
}

std::shared_ptr<const Picture> QtImageLoader::load(const std::string& path, std::string& error) {
    const std::string native = LinuxProgramInfo::NativePath(path);
    // The readers' own messages do not tell a missing, empty or cut-off file from one in
    // another format, and a bitmap missing its last rows would load with them blank.
    error = CheckFile(native, texts());
    if (!error.empty()) return nullptr;

    // Also bounds what the decoders themselves allocate: 32-bit pixels of the largest picture.
    QImageReader::setAllocationLimit(static_cast<int>((kMaxPicturePixels * 4) >> 20));
    // Opened by its bytes: a file name need not be valid in any character set.
    QFile file;
    const int fd = ::open(native.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0 || !file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        error = std::strerror(errno);
        if (fd >= 0) ::close(fd);
        return nullptr;
    }
    QImageReader reader(&file);
    reader.setAutoTransform(false);
    std::vector<QImage> frames;
    long long pixels = 0;
    do {
        const QSize announced = reader.size();
        if (!announced.isEmpty()) {  // some readers cannot tell before decoding
            error = PictureSizeProblem(announced.width(), announced.height(), texts());
            if (!error.empty()) return nullptr;
        }
        QImage frame = reader.read();
        if (frame.isNull()) break;
        pixels += static_cast<long long>(frame.width()) * frame.height();
        if (pixels > kMaxPicturePixels) {
            // TRANSLATORS: Why a skin picture cannot be loaded; fills {reason} in "The skin
            // file "{file}" cannot be loaded: {reason}.". {pixels} is a number.
            error = Fill(Tr(texts(), "its images hold more than {pixels} pixels"),
                         {{"pixels", std::to_string(kMaxPicturePixels)}});
            return nullptr;
        }
        frames.push_back(std::move(frame));
    } while (reader.jumpToNextImage());
    if (frames.empty()) {
        // Qt's own messages are English: the kind of error is told instead.
        error = reader.error() == QImageReader::InvalidDataError
                    // TRANSLATORS: Why a skin picture cannot be loaded.
                    ? Tr(texts(), "the picture's data is damaged")
                    // TRANSLATORS: Why a skin picture cannot be loaded.
                    : Tr(texts(), "not a picture this program can read");
        return nullptr;
    }
    // An icon whose later images fail to decode is damaged, even if its first one is fine.
    const int count = reader.imageCount();
    if (count > 0 && static_cast<int>(frames.size()) < count) {
        // TRANSLATORS: Why a skin picture cannot be loaded; {read} and {count} are numbers
        // of the images an icon file holds.
        error = Fill(Tr(texts(), "only {read} of its {count} images can be read"),
                     {{"read", std::to_string(frames.size())}, {"count", std::to_string(count)}});
        return nullptr;
    }
    error.clear();
    return std::make_shared<QtPicture>(std::move(frames));
}

}  // namespace vexlo::linux_platform
