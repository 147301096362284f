#include "platform/linux/qt_images.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <QImageReader>
#include <QPixmap>
#include <cerrno>
#include <cstring>
#include <fstream>

#include "platform/linux/system_services.h"

namespace vexlo::linux_platform {

namespace {

HandleTable<const QtPicture>& Pictures() {
    static HandleTable<const QtPicture> table;
    return table;
}

std::uint32_t U16(const unsigned char* p) {
    return static_cast<std::uint32_t>(p[0] | (p[1] << 8));
}
std::uint32_t U32(const unsigned char* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

std::string Dimensions(long long width, long long height) {
    return std::to_string(width) + " x " + std::to_string(height);
}

std::string TooLarge(long long width, long long height) {
    return "the picture claims " + Dimensions(width, height) +
           " pixels, more than a skin picture may have (" + std::to_string(kMaxPictureSide) +
           " a side, " + std::to_string(kMaxPicturePixels) + " in all)";
}

bool SizeAllowed(long long width, long long height) {
    return width <= kMaxPictureSide && height <= kMaxPictureSide &&
           width * height <= kMaxPicturePixels;
}

std::string CutOff(std::uint64_t have, std::uint64_t need) {
    return "the file is cut off: it has " + std::to_string(have) + " of the " +
           std::to_string(need) + " bytes its header announces";
}

// Reads up to size bytes from the start of the file.
std::string Head(const std::string& path, std::size_t size) {
    std::ifstream in(path, std::ios::binary);
    std::string bytes(size, '\0');
    in.read(bytes.data(), static_cast<std::streamsize>(size));
    bytes.resize(static_cast<std::size_t>(in.gcount()));
    return bytes;
}

// A Windows bitmap: its pixel size and, for the uncompressed kinds, whether the file holds
// every row its header announces (the decoder would quietly fill missing rows).
std::string CheckBitmap(const std::string& path, std::uint64_t fileSize) {
    const std::string head = Head(path, 54);
    if (head.size() < 26) return {};  // too short for a header: the decoder says why
    const auto* p = reinterpret_cast<const unsigned char*>(head.data());
    const std::uint32_t offset = U32(p + 10);
    const std::uint32_t infoSize = U32(p + 14);
    long long width = 0, height = 0;
    std::uint32_t bits = 0, compression = 0;
    if (infoSize == 12) {  // the old core header
        width = U16(p + 18);
        height = U16(p + 20);
        bits = U16(p + 24);
    } else {
        if (head.size() < 34) return {};
        width = static_cast<std::int32_t>(U32(p + 18));
        height = static_cast<std::int32_t>(U32(p + 22));
        bits = U16(p + 28);
        compression = U32(p + 30);
    }
    if (height < 0) height = -height;  // top-down rows
    if (width <= 0 || height <= 0 || bits == 0) return {};
    if (!SizeAllowed(width, height)) return TooLarge(width, height);
    constexpr std::uint32_t kRgb = 0, kBitfields = 3, kAlphaBitfields = 6;
    if (compression != kRgb && compression != kBitfields && compression != kAlphaBitfields) {
        return {};
    }
    const std::uint64_t stride = (static_cast<std::uint64_t>(width) * bits + 31) / 32 * 4;
    const std::uint64_t need = offset + stride * static_cast<std::uint64_t>(height);
    return fileSize < need ? CutOff(fileSize, need) : std::string();
}

// An icon file: every image its directory lists must lie inside the file.
std::string CheckIcon(const std::string& path, std::uint64_t fileSize) {
    std::string head = Head(path, 6);
    if (head.size() < 6) return {};
    const std::uint32_t count = U16(reinterpret_cast<const unsigned char*>(head.data()) + 4);
    head = Head(path, 6 + 16 * static_cast<std::size_t>(count));
    if (head.size() < 6 + 16 * static_cast<std::size_t>(count)) {
        return CutOff(fileSize, 6 + 16 * static_cast<std::uint64_t>(count));
    }
    const auto* p = reinterpret_cast<const unsigned char*>(head.data());
    std::ifstream in(path, std::ios::binary);
    for (std::uint32_t i = 0; i < count; ++i) {
        const unsigned char* entry = p + 6 + 16 * i;
        const std::uint32_t offset = U32(entry + 12);
        const std::uint64_t end = static_cast<std::uint64_t>(offset) + U32(entry + 8);
        if (end > fileSize) return CutOff(fileSize, end);
        // The image's own header: a PNG's or a bitmap's (colour and mask rows: twice the
        // height). The directory's one-byte sizes say nothing about it.
        unsigned char image[24] = {};
        in.seekg(offset);
        if (!in.read(reinterpret_cast<char*>(image), sizeof image)) {
            in.clear();
            continue;
        }
        long long width = 0, height = 0;
        if (std::memcmp(image, "\x89PNG", 4) == 0) {
            auto big = [&](int at) {
                return (static_cast<long long>(image[at]) << 24) | (image[at + 1] << 16) |
                       (image[at + 2] << 8) | image[at + 3];
            };
            width = big(16);
            height = big(20);
        } else {
            width = static_cast<std::int32_t>(U32(image + 4));
            height = static_cast<std::int32_t>(U32(image + 8)) / 2;
        }
        if (width < 0) width = -width;
        if (height < 0) height = -height;
        if (!SizeAllowed(width, height)) return TooLarge(width, height);
    }
    return {};
}

// What the file is, checked before any decoding: an empty string when the decoder may go on.
std::string CheckFile(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return std::strerror(errno);
    if (S_ISDIR(st.st_mode)) return "it is a folder, not a file";
    {
        std::ifstream probe(path, std::ios::binary);
        if (!probe) return std::strerror(errno);
    }
    const auto size = static_cast<std::uint64_t>(st.st_size);
    if (size == 0) return "the file is empty";
    const std::string magic = Head(path, 4);
    if (magic.compare(0, 2, "BM") == 0) return CheckBitmap(path, size);
    if (magic.size() == 4 && magic[0] == 0 && magic[1] == 0 && (magic[2] == 1 || magic[2] == 2) &&
        magic[3] == 0) {
        return CheckIcon(path, size);
    }
    return {};
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
    const std::string native = LinuxProgramInfo::NativePath(path);
    // The readers' own messages do not tell a missing, empty or cut-off file from one in
    // another format, and a bitmap missing its last rows would load with them blank.
    error = CheckFile(native);
    if (!error.empty()) return nullptr;

    // Also bounds what the decoders themselves allocate, for images nested in other formats.
    QImageReader::setAllocationLimit(kMaxPictureBytes >> 20);
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
        if (announced.isValid() && !SizeAllowed(announced.width(), announced.height())) {
            error = TooLarge(announced.width(), announced.height());
            return nullptr;
        }
        QImage frame = reader.read();
        if (frame.isNull()) break;
        pixels += static_cast<long long>(frame.width()) * frame.height();
        if (pixels > kMaxPicturePixels) {
            error = "its images hold more than " + std::to_string(kMaxPicturePixels) + " pixels";
            return nullptr;
        }
        frames.push_back(std::move(frame));
    } while (reader.jumpToNextImage());
    if (frames.empty()) {
        const std::string reason = reader.errorString().toStdString();
        error = reason.empty() || reason == "Unknown error" ? "not a picture this program can read"
                                                            : reason;
        return nullptr;
    }
    // An icon whose later images fail to decode is damaged, even if its first one is fine.
    const int count = reader.imageCount();
    if (count > 0 && static_cast<int>(frames.size()) < count) {
        error = "only " + std::to_string(frames.size()) + " of its " + std::to_string(count) +
                " images can be read";
        return nullptr;
    }
    error.clear();
    return std::make_shared<QtPicture>(std::move(frames));
}

}  // namespace vexlo::linux_platform
