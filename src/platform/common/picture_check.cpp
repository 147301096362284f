#include "platform/common/picture_check.h"

#include <cctype>
#include <cstring>

#include "platform/common/little_endian.h"
#include "platform/texts.h"

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

std::string N(std::int64_t n) {
    return std::to_string(n);
}

// The reasons below fill {reason} in "The skin file "{file}" cannot be loaded: {reason}.".
std::string Size(const Texts& t, std::int64_t width, std::int64_t height) {
    // TRANSLATORS: A picture's size, filling {size} in the reasons a skin picture cannot be
    // loaded.
    return Fill(Tr(t, "{width} x {height} pixels"), {{"width", N(width)}, {"height", N(height)}});
}

// The size limits; empty when the size is fine.
std::string SizeProblem(const Texts& t, std::int64_t width, std::int64_t height,
                        std::int64_t maxSide) {
    if (width <= 0 || height <= 0) {
        // TRANSLATORS: Why a skin picture cannot be loaded; fills {reason} in "The skin file
        // "{file}" cannot be loaded: {reason}.". {size} is "{width} x {height} pixels".
        return Fill(Tr(t, "the picture is {size} (empty)"), {{"size", Size(t, width, height)}});
    }
    if (width > maxSide || height > maxSide || width * height > kMaxPicturePixels) {
        // TRANSLATORS: Why a skin picture cannot be loaded. {size} is "{width} x {height}
        // pixels"; {side} is the longest side allowed, {pixels} the most pixels in all.
        return Fill(Tr(t,
                       "the picture is {size}, more than the {side} x {side} (at most "
                       "{pixels} pixels) allowed"),
                    {{"size", Size(t, width, height)},
                     {"side", N(maxSide)},
                     {"pixels", N(kMaxPicturePixels)}});
    }
    return {};
}

std::string CutOff(const Texts& t, std::uint64_t needed, std::size_t present) {
    // TRANSLATORS: Why a skin picture cannot be loaded; {needed} and {present} count bytes.
    return Fill(Tr(t, "the file is cut off ({needed} bytes needed, {present} present)"),
                {{"needed", std::to_string(needed)}, {"present", std::to_string(present)}});
}

// A reason about one of several pictures in an icon file.
std::string InPicture(const Texts& t, const std::string& reason, std::uint32_t count,
                      std::uint32_t index) {
    if (count <= 1) return reason;
    // TRANSLATORS: A reason a skin picture cannot be loaded, said of one of the pictures an
    // icon file holds: {reason} is one of the reasons, {number} counts the pictures from 1.
    return Fill(Tr(t, "{reason} (picture {number})"),
                {{"reason", reason}, {"number", N(index + 1)}});
}

std::string TooLargeIcon(const Texts& t, std::int64_t width, std::int64_t height) {
    // TRANSLATORS: Why a skin picture cannot be loaded; {size} is "{width} x {height} pixels".
    return Fill(Tr(t, "the icon picture is {size}, more than the 256 x 256 an icon holds"),
                {{"size", Size(t, width, height)}});
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

PictureCheck CheckBmp(const Texts& t, const unsigned char* d, std::size_t size) {
    const auto fmt = PictureFormat::Bmp;
    if (size < 14 + 12) return Refuse(fmt, CutOff(t, 14 + 12, size));
    const std::uint32_t bitsOffset = U32(d + 10);
    const std::uint32_t headerSize = U32(d + 14);
    if (headerSize != 12 && headerSize != 40 && headerSize != 52 && headerSize != 56 &&
        headerSize != 108 && headerSize != 124) {
        // TRANSLATORS: Why a skin picture cannot be loaded; {bytes} is a number of bytes.
        return Refuse(
            fmt, Fill(Tr(t, "unknown bitmap header ({bytes} bytes)"), {{"bytes", N(headerSize)}}));
    }
    if (size < 14 + std::uint64_t {headerSize})
        return Refuse(fmt, CutOff(t, 14 + headerSize, size));
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
        // TRANSLATORS: Why a skin picture cannot be loaded; {bits} and {planes} are numbers.
        return Refuse(fmt, Fill(Tr(t,
                                   "not a bitmap this program reads ({bits} bits per pixel, "
                                   "{planes} planes)"),
                                {{"bits", N(bitCount)}, {"planes", N(planes)}}));
    }
    const bool rle = compression == kRle8 || compression == kRle4;
    const bool fields = compression == kBitfields || compression == kAlphaBitfields;
    if (!(compression == kRgb || (compression == kRle8 && bitCount == 8) ||
          (compression == kRle4 && bitCount == 4) ||
          (fields && (bitCount == 16 || bitCount == 32)))) {
        // TRANSLATORS: Why a skin picture cannot be loaded; {compression} is the number of a
        // bitmap's compression method.
        return Refuse(fmt, Fill(Tr(t,
                                   "bitmap compression {compression} is not read by this "
                                   "program"),
                                {{"compression", N(compression)}}));
    }
    if (rle && rawHeight < 0) {
        // TRANSLATORS: Why a skin picture cannot be loaded: its rows are stored from the top.
        return Refuse(fmt, Tr(t, "a compressed bitmap cannot be top-down"));
    }
    if (const std::string problem = SizeProblem(t, width, height, kMaxPictureSide);
        !problem.empty()) {
        return Refuse(fmt, problem);
    }
    // Colour masks after a plain 40-byte header, then the palette.
    std::uint64_t tables = 0;
    if (headerSize == 40 && fields) tables += compression == kAlphaBitfields ? 16 : 12;
    if (bitCount <= 8) {
        const std::uint64_t entries =
            colorsUsed != 0 ? colorsUsed : (std::uint64_t {1} << bitCount);
        if (entries > (std::uint64_t {1} << bitCount)) {
            // TRANSLATORS: Why a skin picture cannot be loaded; {colours} is a number.
            return Refuse(fmt, Fill(Tr(t, "the palette claims {colours} colours"),
                                    {{"colours", N(colorsUsed)}}));
        }
        tables += entries * (core ? 3 : 4);
    }
    const std::uint64_t headersEnd = 14 + std::uint64_t {headerSize} + tables;
    if (headersEnd > size) return Refuse(fmt, CutOff(t, headersEnd, size));
    if (bitsOffset < 14 + std::uint64_t {headerSize} || bitsOffset >= size) {
        // TRANSLATORS: Why a skin picture cannot be loaded; {offset} is a position in the file.
        return Refuse(fmt, Fill(Tr(t, "the pixel data offset {offset} lies outside the file"),
                                {{"offset", N(bitsOffset)}}));
    }
    const std::uint64_t pixels = rle ? std::uint64_t {imageSize}
                                     : Stride(width, bitCount) * static_cast<std::uint64_t>(height);
    if (rle && imageSize == 0) {
        // TRANSLATORS: Why a skin picture cannot be loaded.
        return Refuse(fmt, Tr(t, "a compressed bitmap without its data size"));
    }
    if (bitsOffset + pixels > size) return Refuse(fmt, CutOff(t, bitsOffset + pixels, size));
    return Accept(fmt, width, height);
}

// ---- ICO ----

PictureCheck CheckIco(const Texts& t, const unsigned char* d, std::size_t size) {
    const auto fmt = PictureFormat::Ico;
    if (size < 6) return Refuse(fmt, CutOff(t, 6, size));
    // TRANSLATORS: Why a skin picture cannot be loaded.
    if (U16(d) != 0 || U16(d + 2) != 1) return Refuse(fmt, Tr(t, "not an icon file"));
    const std::uint32_t count = U16(d + 4);
    // TRANSLATORS: Why a skin picture cannot be loaded.
    if (count == 0) return Refuse(fmt, Tr(t, "the icon file holds no picture"));
    const std::uint64_t directoryEnd = 6 + 16ull * count;
    if (directoryEnd > size) return Refuse(fmt, CutOff(t, directoryEnd, size));
    std::int64_t shownWidth = 0;
    std::int64_t shownHeight = 0;
    std::vector<PictureCheck::Size> sizes;
    for (std::uint32_t i = 0; i < count; ++i) {
        const unsigned char* entry = d + 6 + 16 * i;
        const std::uint32_t length = U32(entry + 8);
        const std::uint32_t offset = U32(entry + 12);
        const auto which = [&](const std::string& reason) {
            return Refuse(fmt, InPicture(t, reason, count, i));
        };
        if (offset < directoryEnd || offset >= size) {
            // TRANSLATORS: Why a skin picture cannot be loaded.
            return which(Tr(t, "an icon picture lies outside the file"));
        }
        if (std::uint64_t {offset} + length > size) {
            return which(CutOff(t, std::uint64_t {offset} + length, size));
        }
        const unsigned char* image = d + offset;
        std::int64_t width = 0;
        std::int64_t height = 0;
        if (length >= 8 && std::memcmp(image, kPngSignature, 8) == 0) {
            // PNG: the IHDR chunk comes first, with big-endian width and height.
            if (length < 33 || std::memcmp(image + 12, "IHDR", 4) != 0) {
                // TRANSLATORS: Why a skin picture cannot be loaded.
                return which(Tr(t, "a damaged PNG picture in the icon"));
            }
            width = BigU32(image + 16);
            height = BigU32(image + 20);
            if (width > kMaxIconSide || height > kMaxIconSide || width <= 0 || height <= 0) {
                return which(TooLargeIcon(t, width, height));
            }
        } else {
            if (length < 40 || U32(image) != 40) {
                // TRANSLATORS: Why a skin picture cannot be loaded.
                return which(Tr(t, "a damaged icon picture header"));
            }
            width = I32(image + 4);
            const std::int64_t doubled = I32(image + 8);  // colour and mask rows together
            const std::uint32_t planes = U16(image + 12);
            const std::uint32_t bitCount = U16(image + 14);
            const std::uint32_t compression = U32(image + 16);
            const std::uint32_t colorsUsed = U32(image + 32);
            height = doubled / 2;
            if (width <= 0 || doubled <= 0 || width > kMaxIconSide || height > kMaxIconSide) {
                return which(TooLargeIcon(t, width, height));
            }
            if (planes > 1 || !ValidBitCount(bitCount) || compression != kRgb) {
                // TRANSLATORS: Why a skin picture cannot be loaded.
                return which(Tr(t, "an icon picture this program cannot read"));
            }
            std::uint64_t palette = 0;
            if (bitCount <= 8) {
                const std::uint64_t entries =
                    colorsUsed != 0 ? colorsUsed : (std::uint64_t {1} << bitCount);
                if (entries > (std::uint64_t {1} << bitCount)) {
                    // TRANSLATORS: Why a skin picture cannot be loaded; {colours} is a number.
                    return which(Fill(Tr(t, "the icon's palette claims {colours} colours"),
                                      {{"colours", N(colorsUsed)}}));
                }
                palette = entries * 4;
            }
            const std::uint64_t needed =
                40 + palette + Stride(width, bitCount) * height + Stride(width, 1) * height;
            if (needed > length) return which(CutOff(t, std::uint64_t {offset} + needed, size));
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

PictureCheck CheckGif(const Texts& t, const unsigned char* d, std::size_t size) {
    const auto fmt = PictureFormat::Gif;
    if (size < 13) return Refuse(fmt, CutOff(t, 13, size));
    if (std::memcmp(d, "GIF87a", 6) != 0 && std::memcmp(d, "GIF89a", 6) != 0) {
        // TRANSLATORS: Why a skin picture cannot be loaded.
        return Refuse(fmt, Tr(t, "not a GIF87a or GIF89a picture"));
    }
    const std::int64_t width = U16(d + 6);
    const std::int64_t height = U16(d + 8);
    if (const std::string problem = SizeProblem(t, width, height, kMaxPictureSide);
        !problem.empty()) {
        return Refuse(fmt, problem);
    }
    std::size_t at = 13;
    if (d[10] & 0x80) at += 3u << ((d[10] & 7) + 1);  // global colour table
    if (at > size) return Refuse(fmt, CutOff(t, at, size));
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
                // TRANSLATORS: Why a skin picture cannot be loaded. {size} and {whole} are
                // "{width} x {height} pixels"; {left},{top} the place of the GIF's picture.
                return Refuse(fmt, Fill(Tr(t,
                                           "the GIF's picture ({size} at {left},{top}) lies "
                                           "outside its {whole}"),
                                        {{"size", Size(t, frameWidth, frameHeight)},
                                         {"left", N(left)},
                                         {"top", N(top)},
                                         {"whole", Size(t, width, height)}}));
            }
            if (packed & 0x80) at += 3u << ((packed & 7) + 1);  // local colour table
            if (at >= size) break;
            const unsigned codeSize = d[at++];
            if (codeSize < 2 || codeSize > 8) {
                // TRANSLATORS: Why a skin picture cannot be loaded.
                return Refuse(fmt, Tr(t, "damaged GIF picture data"));
            }
            if (!SkipSubBlocks(d, size, at)) break;
            return Accept(fmt, width, height);
        } else if (kind == 0x3B) {
            // TRANSLATORS: Why a skin picture cannot be loaded.
            return Refuse(fmt, Tr(t, "the GIF holds no picture"));
        } else {
            // TRANSLATORS: Why a skin picture cannot be loaded; {type} is a number.
            return Refuse(fmt,
                          Fill(Tr(t, "damaged GIF data (block type {type})"), {{"type", N(kind)}}));
        }
    }
    // TRANSLATORS: Why a skin picture cannot be loaded.
    return Refuse(fmt, Tr(t, "the file is cut off (the GIF's first picture is incomplete)"));
}

}  // namespace

std::string PictureSizeProblem(std::int64_t width, std::int64_t height, const Texts& texts) {
    return SizeProblem(texts, width, height, kMaxPictureSide);
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

// Each fills {found} or {expected} in "the file holds {found}, not {expected}".
constexpr const char* kPictureOf[] = {
    // TRANSLATORS: Fills {found} and {expected} in "the file holds {found}, not {expected}",
    // one of the reasons a skin picture cannot be loaded.
    N_("a BMP picture"),
    // TRANSLATORS: As "a BMP picture".
    N_("an ICO picture"),
    // TRANSLATORS: As "a BMP picture".
    N_("a GIF picture")};
constexpr const char* kNotPictureOf[] = {
    // TRANSLATORS: Why a skin picture cannot be loaded: its content is not what its name
    // says.
    N_("not a BMP picture"),
    // TRANSLATORS: As "not a BMP picture".
    N_("not an ICO picture"),
    // TRANSLATORS: As "not a BMP picture".
    N_("not a GIF picture")};

int IndexOf(PictureFormat format) {
    return format == PictureFormat::Ico ? 1 : format == PictureFormat::Gif ? 2 : 0;
}

}  // namespace

PictureCheck CheckPicture(const unsigned char* data, std::size_t size, PictureFormat expected,
                          const Texts& t) {
    // TRANSLATORS: Why a skin picture cannot be loaded.
    if (size == 0) return Refuse(expected, Tr(t, "the file is empty"));
    const PictureFormat content = FormatOfContent(data, size);
    if (content == PictureFormat::Unknown) {
        return Refuse(expected, expected == PictureFormat::Unknown
                                    ? NotAPicture(t)
                                    : Tr(t, kNotPictureOf[IndexOf(expected)]));
    }
    if (expected != PictureFormat::Unknown && content != expected) {
        // TRANSLATORS: Why a skin picture cannot be loaded; {found} and {expected} are "a BMP
        // picture", "an ICO picture" or "a GIF picture".
        return Refuse(content, Fill(Tr(t, "the file holds {found}, not {expected}"),
                                    {{"found", Tr(t, kPictureOf[IndexOf(content)])},
                                     {"expected", Tr(t, kPictureOf[IndexOf(expected)])}}));
    }
    switch (content) {
        case PictureFormat::Bmp:
            return CheckBmp(t, data, size);
        case PictureFormat::Ico:
            return CheckIco(t, data, size);
        case PictureFormat::Gif:
            return CheckGif(t, data, size);
        case PictureFormat::Unknown:
            break;
    }
    return Refuse(content, NotAPicture(t));
}

std::string NotAPicture(const Texts& texts) {
    // TRANSLATORS: Why a skin picture cannot be loaded.
    return Tr(texts, "not a BMP, ICO or GIF picture");
}

}  // namespace vexlo
