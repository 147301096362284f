#include "platform/common/picture_check.h"

#include <cctype>
#include <cstring>

#include "platform/common/little_endian.h"

namespace vexlo {

namespace {

std::uint32_t BigU32(const unsigned char* p) {
    return (static_cast<std::uint32_t>(p[0]) << 24) | (static_cast<std::uint32_t>(p[1]) << 16) |
           (static_cast<std::uint32_t>(p[2]) << 8) | static_cast<std::uint32_t>(p[3]);
}

constexpr unsigned char kPngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

PictureCheck Refuse(PictureFormat format, std::string reason) {
    PictureCheck check;
    check.format = format;
    check.reason = std::move(reason);
    return check;
}

PictureCheck Accept(PictureFormat format, std::int64_t width, std::int64_t height) {
    PictureCheck check;
    check.ok = true;
    check.format = format;
    check.width = static_cast<int>(width);
    check.height = static_cast<int>(height);
    return check;
}

std::string Size(std::int64_t width, std::int64_t height) {
    return std::to_string(width) + " x " + std::to_string(height) + " pixels";
}

// The size limits; empty when the size is fine.
std::string SizeProblem(std::int64_t width, std::int64_t height, std::int64_t maxSide) {
    if (width <= 0 || height <= 0) return "the picture is " + Size(width, height) + " (empty)";
    if (width > maxSide || height > maxSide || width * height > kMaxPicturePixels) {
        return "the picture is " + Size(width, height) + ", more than the " +
               std::to_string(maxSide) + " x " + std::to_string(maxSide) + " (at most " +
               std::to_string(kMaxPicturePixels) + " pixels) allowed";
    }
    return {};
}

std::string CutOff(std::uint64_t needed, std::size_t present) {
    return "the file is cut off (" + std::to_string(needed) + " bytes needed, " +
           std::to_string(present) + " present)";
}

// Bytes of one row of a bottom-up or top-down DIB, padded to 32 bits.
std::uint64_t Stride(std::int64_t width, std::uint32_t bitCount) {
    return (static_cast<std::uint64_t>(width) * bitCount + 31) / 32 * 4;
}

bool ValidBitCount(std::uint32_t bits) {
    return bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32;
}

// ---- BMP ----

constexpr std::uint32_t kRgb = 0, kRle8 = 1, kRle4 = 2, kBitfields = 3, kAlphaBitfields = 6;

PictureCheck CheckBmp(const unsigned char* d, std::size_t size) {
    const auto fmt = PictureFormat::Bmp;
    if (size < 14 + 12) return Refuse(fmt, CutOff(14 + 12, size));
    const std::uint32_t bitsOffset = U32(d + 10);
    const std::uint32_t headerSize = U32(d + 14);
    if (headerSize != 12 && headerSize != 40 && headerSize != 52 && headerSize != 56 &&
        headerSize != 108 && headerSize != 124) {
        return Refuse(fmt, "unknown bitmap header (" + std::to_string(headerSize) + " bytes)");
    }
    if (size < 14 + std::uint64_t {headerSize}) return Refuse(fmt, CutOff(14 + headerSize, size));
    const bool core = headerSize == 12;
    const std::int64_t width = core ? static_cast<std::int64_t>(U16(d + 18)) : I32(d + 18);
    const std::int64_t rawHeight = core ? static_cast<std::int64_t>(U16(d + 20)) : I32(d + 22);
    const std::uint32_t planes = core ? U16(d + 22) : U16(d + 26);
    const std::uint32_t bitCount = core ? U16(d + 24) : U16(d + 28);
    const std::uint32_t compression = core ? kRgb : U32(d + 30);
    const std::uint32_t imageSize = core ? 0 : U32(d + 34);
    const std::uint32_t colorsUsed = core ? 0 : U32(d + 46);
    const std::int64_t height = rawHeight < 0 ? -rawHeight : rawHeight;

    if (planes != 1 || !ValidBitCount(bitCount)) {
        return Refuse(fmt, "not a bitmap this program reads (" + std::to_string(bitCount) +
                               " bits per pixel, " + std::to_string(planes) + " planes)");
    }
    const bool rle = compression == kRle8 || compression == kRle4;
    const bool fields = compression == kBitfields || compression == kAlphaBitfields;
    if (!(compression == kRgb || (compression == kRle8 && bitCount == 8) ||
          (compression == kRle4 && bitCount == 4) ||
          (fields && (bitCount == 16 || bitCount == 32)))) {
        return Refuse(fmt, "bitmap compression " + std::to_string(compression) +
                               " is not read by this program");
    }
    if (rle && rawHeight < 0) return Refuse(fmt, "a compressed bitmap cannot be top-down");
    if (const std::string problem = SizeProblem(width, height, kMaxPictureSide); !problem.empty()) {
        return Refuse(fmt, problem);
    }
    // Colour masks after a plain 40-byte header, then the palette.
    std::uint64_t tables = 0;
    if (headerSize == 40 && fields) tables += compression == kAlphaBitfields ? 16 : 12;
    if (bitCount <= 8) {
        const std::uint64_t entries =
            colorsUsed != 0 ? colorsUsed : (std::uint64_t {1} << bitCount);
        if (entries > (std::uint64_t {1} << bitCount)) {
            return Refuse(fmt, "the palette claims " + std::to_string(colorsUsed) + " colours");
        }
        tables += entries * (core ? 3 : 4);
    }
    const std::uint64_t headersEnd = 14 + std::uint64_t {headerSize} + tables;
    if (headersEnd > size) return Refuse(fmt, CutOff(headersEnd, size));
    if (bitsOffset < 14 + std::uint64_t {headerSize} || bitsOffset >= size) {
        return Refuse(
            fmt, "the pixel data offset " + std::to_string(bitsOffset) + " lies outside the file");
    }
    const std::uint64_t pixels = rle ? std::uint64_t {imageSize}
                                     : Stride(width, bitCount) * static_cast<std::uint64_t>(height);
    if (rle && imageSize == 0) return Refuse(fmt, "a compressed bitmap without its data size");
    if (bitsOffset + pixels > size) return Refuse(fmt, CutOff(bitsOffset + pixels, size));
    return Accept(fmt, width, height);
}

// ---- ICO ----

PictureCheck CheckIco(const unsigned char* d, std::size_t size) {
    const auto fmt = PictureFormat::Ico;
    if (size < 6) return Refuse(fmt, CutOff(6, size));
    if (U16(d) != 0 || U16(d + 2) != 1) return Refuse(fmt, "not an icon file");
    const std::uint32_t count = U16(d + 4);
    if (count == 0) return Refuse(fmt, "the icon file holds no picture");
    const std::uint64_t directoryEnd = 6 + 16ull * count;
    if (directoryEnd > size) return Refuse(fmt, CutOff(directoryEnd, size));
    std::int64_t shownWidth = 0;
    std::int64_t shownHeight = 0;
    std::vector<PictureCheck::Size> sizes;
    for (std::uint32_t i = 0; i < count; ++i) {
        const unsigned char* entry = d + 6 + 16 * i;
        const std::uint32_t length = U32(entry + 8);
        const std::uint32_t offset = U32(entry + 12);
        const std::string which = count > 1 ? " (picture " + std::to_string(i + 1) + ")" : "";
        if (offset < directoryEnd || offset >= size) {
            return Refuse(fmt, "an icon picture lies outside the file" + which);
        }
        if (std::uint64_t {offset} + length > size) {
            return Refuse(fmt, CutOff(std::uint64_t {offset} + length, size) + which);
        }
        const unsigned char* image = d + offset;
        std::int64_t width = 0;
        std::int64_t height = 0;
        if (length >= 8 && std::memcmp(image, kPngSignature, 8) == 0) {
            // PNG: the IHDR chunk comes first, with big-endian width and height.
            if (length < 33 || std::memcmp(image + 12, "IHDR", 4) != 0) {
                return Refuse(fmt, "a damaged PNG picture in the icon" + which);
            }
            width = BigU32(image + 16);
            height = BigU32(image + 20);
            if (width > kMaxIconSide || height > kMaxIconSide || width <= 0 || height <= 0) {
                return Refuse(fmt, "the icon picture is " + Size(width, height) +
                                       ", more than the 256 x 256 an icon holds" + which);
            }
        } else {
            if (length < 40 || U32(image) != 40) {
                return Refuse(fmt, "a damaged icon picture header" + which);
            }
            width = I32(image + 4);
            const std::int64_t doubled = I32(image + 8);  // colour and mask rows together
            const std::uint32_t planes = U16(image + 12);
            const std::uint32_t bitCount = U16(image + 14);
            const std::uint32_t compression = U32(image + 16);
            const std::uint32_t colorsUsed = U32(image + 32);
            height = doubled / 2;
            if (width <= 0 || doubled <= 0 || width > kMaxIconSide || height > kMaxIconSide) {
                return Refuse(fmt, "the icon picture is " + Size(width, height) +
                                       ", more than the 256 x 256 an icon holds" + which);
            }
            if (planes > 1 || !ValidBitCount(bitCount) || compression != kRgb) {
                return Refuse(fmt, "an icon picture this program cannot read" + which);
            }
            std::uint64_t palette = 0;
            if (bitCount <= 8) {
                const std::uint64_t entries =
                    colorsUsed != 0 ? colorsUsed : (std::uint64_t {1} << bitCount);
                if (entries > (std::uint64_t {1} << bitCount)) {
                    return Refuse(fmt, "the icon's palette claims " + std::to_string(colorsUsed) +
                                           " colours" + which);
                }
                palette = entries * 4;
            }
            const std::uint64_t needed =
                40 + palette + Stride(width, bitCount) * height + Stride(width, 1) * height;
            if (needed > length) {
                return Refuse(fmt, CutOff(std::uint64_t {offset} + needed, size) + which);
            }
        }
        if (i == 0 || width * height > shownWidth * shownHeight) {
            shownWidth = width;
            shownHeight = height;
        }
        sizes.push_back({static_cast<int>(width), static_cast<int>(height)});
    }
    PictureCheck check = Accept(fmt, shownWidth, shownHeight);
    check.sizes = std::move(sizes);
    return check;
}

// ---- GIF ----

// Skips a chain of data sub-blocks starting at `at`; false when it runs past the end.
bool SkipSubBlocks(const unsigned char* d, std::size_t size, std::size_t& at) {
    while (at < size) {
        const std::size_t length = d[at++];
        if (length == 0) return true;
        at += length;
    }
    return false;
}

PictureCheck CheckGif(const unsigned char* d, std::size_t size) {
    const auto fmt = PictureFormat::Gif;
    if (size < 13) return Refuse(fmt, CutOff(13, size));
    if (std::memcmp(d, "GIF87a", 6) != 0 && std::memcmp(d, "GIF89a", 6) != 0) {
        return Refuse(fmt, "not a GIF87a or GIF89a picture");
    }
    const std::int64_t width = U16(d + 6);
    const std::int64_t height = U16(d + 8);
    if (const std::string problem = SizeProblem(width, height, kMaxPictureSide); !problem.empty()) {
        return Refuse(fmt, problem);
    }
    std::size_t at = 13;
    if (d[10] & 0x80) at += 3u << ((d[10] & 7) + 1);  // global colour table
    if (at > size) return Refuse(fmt, CutOff(at, size));
    // Extensions up to the first image, then that image whole.
    while (at < size) {
        const unsigned char kind = d[at++];
        if (kind == 0x21) {
            if (at >= size) break;
            ++at;  // the extension's label
            if (!SkipSubBlocks(d, size, at)) break;
        } else if (kind == 0x2C) {
            if (at + 9 > size) break;
            const std::int64_t left = U16(d + at);
            const std::int64_t top = U16(d + at + 2);
            const std::int64_t frameWidth = U16(d + at + 4);
            const std::int64_t frameHeight = U16(d + at + 6);
            const unsigned char packed = d[at + 8];
            at += 9;
            if (frameWidth == 0 || frameHeight == 0 || left + frameWidth > width ||
                top + frameHeight > height) {
                return Refuse(fmt, "the GIF's picture (" + Size(frameWidth, frameHeight) + " at " +
                                       std::to_string(left) + "," + std::to_string(top) +
                                       ") lies outside its " + Size(width, height));
            }
            if (packed & 0x80) at += 3u << ((packed & 7) + 1);  // local colour table
            if (at >= size) break;
            const unsigned codeSize = d[at++];
            if (codeSize < 2 || codeSize > 8) return Refuse(fmt, "damaged GIF picture data");
            if (!SkipSubBlocks(d, size, at)) break;
            return Accept(fmt, width, height);
        } else if (kind == 0x3B) {
            return Refuse(fmt, "the GIF holds no picture");
        } else {
            return Refuse(fmt, "damaged GIF data (block type " + std::to_string(kind) + ")");
        }
    }
    return Refuse(fmt, "the file is cut off (the GIF's first picture is incomplete)");
}

}  // namespace

std::string PictureSizeProblem(std::int64_t width, std::int64_t height) {
    return SizeProblem(width, height, kMaxPictureSide);
}

PictureFormat FormatOfName(const std::string& path) {
    const auto dot = path.find_last_of('.');
    const auto slash = path.find_last_of("\\/");
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) {
        return PictureFormat::Unknown;
    }
    std::string extension = path.substr(dot + 1);
    for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (extension == "bmp") return PictureFormat::Bmp;
    if (extension == "ico") return PictureFormat::Ico;
    if (extension == "gif") return PictureFormat::Gif;
    return PictureFormat::Unknown;
}

PictureFormat FormatOfContent(const unsigned char* d, std::size_t size) {
    if (size >= 2 && d[0] == 'B' && d[1] == 'M') return PictureFormat::Bmp;
    if (size >= 4 && d[0] == 0 && d[1] == 0 && d[2] == 1 && d[3] == 0) return PictureFormat::Ico;
    if (size >= 4 && std::memcmp(d, "GIF8", 4) == 0) return PictureFormat::Gif;
    return PictureFormat::Unknown;
}

const char* FormatName(PictureFormat format) {
    switch (format) {
        case PictureFormat::Bmp:
            return "BMP";
        case PictureFormat::Ico:
            return "ICO";
        case PictureFormat::Gif:
            return "GIF";
        case PictureFormat::Unknown:
            break;
    }
    return "unknown";
}

namespace {
std::string Named(PictureFormat format) {
    return std::string(format == PictureFormat::Ico ? "an " : "a ") + FormatName(format);
}
}  // namespace

PictureCheck CheckPicture(const unsigned char* data, std::size_t size, PictureFormat expected) {
    if (size == 0) return Refuse(expected, "the file is empty");
    const PictureFormat content = FormatOfContent(data, size);
    if (content == PictureFormat::Unknown) {
        return Refuse(expected, expected == PictureFormat::Unknown
                                    ? "not a BMP, ICO or GIF picture"
                                    : "not " + Named(expected) + " picture");
    }
    if (expected != PictureFormat::Unknown && content != expected) {
        return Refuse(content, "the file holds " + Named(content) + " picture, not " +
                                   Named(expected) + " picture");
    }
    switch (content) {
        case PictureFormat::Bmp:
            return CheckBmp(data, size);
        case PictureFormat::Ico:
            return CheckIco(data, size);
        case PictureFormat::Gif:
            return CheckGif(data, size);
        case PictureFormat::Unknown:
            break;
    }
    return Refuse(content, "not a BMP, ICO or GIF picture");
}

}  // namespace vexlo
