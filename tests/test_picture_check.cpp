#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "platform/common/picture_check.h"

namespace vexlo {
namespace {

using Bytes = std::vector<unsigned char>;

void Put16(Bytes& b, std::size_t at, std::uint32_t v) {
    b[at] = static_cast<unsigned char>(v);
    b[at + 1] = static_cast<unsigned char>(v >> 8);
}
void Put32(Bytes& b, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = static_cast<unsigned char>(v >> (8 * i));
}

// A 24-bit BMP of the given size with all its pixel rows (or only the header when pixels is
// false).
Bytes Bmp(std::int32_t width, std::int32_t height, bool pixels = true) {
    const std::uint32_t stride = (static_cast<std::uint32_t>(width) * 24 + 31) / 32 * 4;
    const std::uint32_t rows = static_cast<std::uint32_t>(height < 0 ? -height : height);
    Bytes b(54 + (pixels ? stride * rows : 0), 0);
    b[0] = 'B';
    b[1] = 'M';
    Put32(b, 2, static_cast<std::uint32_t>(b.size()));
    Put32(b, 10, 54);
    Put32(b, 14, 40);
    Put32(b, 18, static_cast<std::uint32_t>(width));
    Put32(b, 22, static_cast<std::uint32_t>(height));
    Put16(b, 26, 1);
    Put16(b, 28, 24);
    return b;
}

// An icon file with one 32-bit picture of the given size.
Bytes Ico(std::int32_t size) {
    const std::uint32_t colour = static_cast<std::uint32_t>(size * size * 4);
    const std::uint32_t mask = (static_cast<std::uint32_t>(size) + 31) / 32 * 4 * size;
    const std::uint32_t length = 40 + colour + mask;
    Bytes b(22 + length, 0);
    Put16(b, 2, 1);
    Put16(b, 4, 1);
    b[6] = static_cast<unsigned char>(size);
    b[7] = static_cast<unsigned char>(size);
    Put16(b, 10, 1);
    Put16(b, 12, 32);
    Put32(b, 14, length);
    Put32(b, 18, 22);
    Put32(b, 22, 40);
    Put32(b, 26, static_cast<std::uint32_t>(size));
    Put32(b, 30, static_cast<std::uint32_t>(size * 2));
    Put16(b, 34, 1);
    Put16(b, 36, 32);
    return b;
}

// The 15 x 9 GIF of the test data: a global table, a graphic control extension, one picture.
Bytes Gif() {
    return {0x47, 0x49, 0x46, 0x38, 0x39, 0x61, 0x0f, 0x00, 0x09, 0x00, 0xf0, 0x00,
            0x00, 0x00, 0x00, 0xff, 0x00, 0x00, 0x00, 0x21, 0xf9, 0x04, 0x01, 0x00,
            0x00, 0x01, 0x00, 0x2c, 0x00, 0x00, 0x00, 0x00, 0x0f, 0x00, 0x09, 0x00,
            0x00, 0x02, 0x13, 0x8c, 0x0d, 0xa9, 0x7b, 0xb8, 0xdf, 0xc2, 0x83, 0x6d,
            0xb2, 0x6a, 0x53, 0xcc, 0x1a, 0xe7, 0xcd, 0x81, 0x59, 0x01, 0x00, 0x3b};
}

PictureCheck Check(const Bytes& b, PictureFormat expected) {
    return CheckPicture(b.data(), b.size(), expected);
}

TEST(PictureCheck, SoundFilesPassWithTheirSizes) {
    PictureCheck c = Check(Bmp(212, 200), PictureFormat::Bmp);
    EXPECT_TRUE(c.ok) << c.reason;
    EXPECT_EQ(c.width, 212);
    EXPECT_EQ(c.height, 200);
    c = Check(Bmp(7, -5), PictureFormat::Bmp);  // top-down rows
    EXPECT_TRUE(c.ok) << c.reason;
    EXPECT_EQ(c.height, 5);
    c = Check(Ico(32), PictureFormat::Ico);
    EXPECT_TRUE(c.ok) << c.reason;
    EXPECT_EQ(c.width, 32);
    c = Check(Gif(), PictureFormat::Gif);
    EXPECT_TRUE(c.ok) << c.reason;
    EXPECT_EQ(c.width, 15);
    EXPECT_EQ(c.height, 9);
    // A name without a known extension takes whatever the content is.
    EXPECT_TRUE(Check(Gif(), PictureFormat::Unknown).ok);
}

TEST(PictureCheck, AbsurdSizesAreRefusedWhateverTheFileHolds) {
    // A valid header claiming 60000 x 60000 (10 GB of pixels): refused for its size, even
    // before the missing data is noticed.
    PictureCheck c = Check(Bmp(60000, 60000, false), PictureFormat::Bmp);
    EXPECT_FALSE(c.ok);
    EXPECT_NE(c.reason.find("60000 x 60000"), std::string::npos) << c.reason;
    EXPECT_FALSE(Check(Bmp(16385, 1, false), PictureFormat::Bmp).ok);
    EXPECT_FALSE(Check(Bmp(8000, 8000, false), PictureFormat::Bmp).ok) << "64 M pixels in all";
    EXPECT_FALSE(Check(Bmp(0, 10), PictureFormat::Bmp).ok);
    EXPECT_FALSE(Check(Bmp(-3, 10, false), PictureFormat::Bmp).ok);

    Bytes gif = Gif();
    Put16(gif, 6, 60000);
    Put16(gif, 8, 60000);
    c = Check(gif, PictureFormat::Gif);
    EXPECT_FALSE(c.ok);
    EXPECT_NE(c.reason.find("60000 x 60000"), std::string::npos) << c.reason;

    Bytes icon = Ico(16);
    Put32(icon, 26, 60000);
    Put32(icon, 30, 120000);
    EXPECT_FALSE(Check(icon, PictureFormat::Ico).ok);
    // A PNG picture in an icon carries its size in its own (big-endian) header.
    Bytes png = Ico(16);
    const unsigned char ihdr[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0, 0, 0,    13,
                                  'I',  'H', 'D', 'R', 0,    0,    0xEA, 0x60, 0, 0, 0x75, 0x30};
    std::memcpy(png.data() + 22, ihdr, sizeof ihdr);
    c = Check(png, PictureFormat::Ico);
    EXPECT_FALSE(c.ok);
    EXPECT_NE(c.reason.find("60000 x 30000"), std::string::npos) << c.reason;
}

TEST(PictureCheck, MissingDataAnywhereIsACutOffFile) {
    const Bytes bmp = Bmp(212, 200);
    for (std::size_t keep : {std::size_t {1}, std::size_t {20}, std::size_t {53}, std::size_t {54},
                             bmp.size() / 2, bmp.size() - 1}) {
        const Bytes cut(bmp.begin(), bmp.begin() + static_cast<std::ptrdiff_t>(keep));
        const PictureCheck c = Check(cut, PictureFormat::Bmp);
        EXPECT_FALSE(c.ok) << keep;
    }
    EXPECT_NE(Check(Bytes(bmp.begin(), bmp.end() - 1), PictureFormat::Bmp).reason.find("cut off"),
              std::string::npos);

    const Bytes ico = Ico(32);
    for (std::size_t keep : {std::size_t {3}, std::size_t {10}, std::size_t {30}, ico.size() - 1}) {
        EXPECT_FALSE(Check(Bytes(ico.begin(), ico.begin() + static_cast<std::ptrdiff_t>(keep)),
                           PictureFormat::Ico)
                         .ok)
            << keep;
    }
    const Bytes gif = Gif();
    for (std::size_t keep = 1; keep < gif.size() - 1; ++keep) {
        EXPECT_FALSE(Check(Bytes(gif.begin(), gif.begin() + static_cast<std::ptrdiff_t>(keep)),
                           PictureFormat::Gif)
                         .ok)
            << keep;
    }
    // The trailer is not needed once the first picture is complete.
    EXPECT_TRUE(Check(Bytes(gif.begin(), gif.end() - 1), PictureFormat::Gif).ok);
}

TEST(PictureCheck, HeadersThatContradictThemselvesAreRefused) {
    Bytes b = Bmp(7, 5);
    Put32(b, 10, 5000);  // pixel data beyond the end
    EXPECT_FALSE(Check(b, PictureFormat::Bmp).ok);
    b = Bmp(7, 5);
    Put32(b, 14, 41);  // no such header
    EXPECT_FALSE(Check(b, PictureFormat::Bmp).ok);
    b = Bmp(7, 5);
    Put16(b, 28, 7);  // 7 bits per pixel
    EXPECT_FALSE(Check(b, PictureFormat::Bmp).ok);
    b = Bmp(7, 5);
    Put16(b, 28, 8);
    Put32(b, 46, 1000);  // 1000 colours in an 8-bit palette
    EXPECT_FALSE(Check(b, PictureFormat::Bmp).ok);
    b = Bmp(7, 5);
    Put32(b, 30, 4);  // JPEG inside a bitmap
    EXPECT_FALSE(Check(b, PictureFormat::Bmp).ok);

    Bytes icon = Ico(16);
    Put32(icon, 18, 5000);  // picture offset outside the file
    EXPECT_FALSE(Check(icon, PictureFormat::Ico).ok);
    icon = Ico(16);
    Put16(icon, 2, 2);  // a cursor file
    EXPECT_FALSE(Check(icon, PictureFormat::Ico).ok);
    icon = Ico(16);
    Put16(icon, 4, 0);  // no picture at all
    EXPECT_FALSE(Check(icon, PictureFormat::Ico).ok);

    Bytes gif = Gif();
    Put16(gif, 32, 40);  // the picture is wider than the GIF
    EXPECT_FALSE(Check(gif, PictureFormat::Gif).ok);
    gif = Gif();
    gif[27] = 0x3B;  // the trailer where the picture should start
    EXPECT_FALSE(Check(gif, PictureFormat::Gif).ok);
}

TEST(PictureCheck, TheNamePromisesTheFormat) {
    PictureCheck c = Check(Gif(), PictureFormat::Bmp);
    EXPECT_FALSE(c.ok);
    EXPECT_EQ(c.reason, "the file holds a GIF picture, not a BMP picture");
    EXPECT_FALSE(Check(Bmp(16, 16), PictureFormat::Ico).ok) << "a tray icon must be an icon";
    const unsigned char png[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0, 0, 0, 13};
    c = CheckPicture(png, sizeof png, PictureFormat::Bmp);
    EXPECT_EQ(c.reason, "not a BMP picture");
    c = CheckPicture(png, 0, PictureFormat::Gif);
    EXPECT_EQ(c.reason, "the file is empty");

    EXPECT_EQ(FormatOfName("C:\\skin\\Back.BMP"), PictureFormat::Bmp);
    EXPECT_EQ(FormatOfName("C:\\skin\\icon0.ico"), PictureFormat::Ico);
    EXPECT_EQ(FormatOfName("C:\\skin.gif\\knob"), PictureFormat::Unknown);
    EXPECT_EQ(FormatOfName("data\\unknown.bin"), PictureFormat::Unknown);
}

}  // namespace
}  // namespace vexlo
