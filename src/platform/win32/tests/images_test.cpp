#include "platform/win32/images.h"

#include <gtest/gtest.h>

#include <fstream>
#include <vector>

#include "tests/test_support.h"

namespace vexlo::win32 {
namespace {

using testing::TestFile;

std::shared_ptr<const Picture> Load(const std::string& name, std::string& error) {
    Win32ImageLoader loader;
    return loader.load(TestFile("data\\" + name), error);
}

// A 24-bit memory canvas filled with one colour.
struct Canvas {
    Canvas(int width, int height, COLORREF fill) {
        HDC screen = GetDC(nullptr);
        dc = CreateCompatibleDC(screen);
        BITMAPINFO info {};
        info.bmiHeader.biSize = sizeof info.bmiHeader;
        info.bmiHeader.biWidth = width;
        info.bmiHeader.biHeight = -height;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        void* bits = nullptr;
        bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
        ReleaseDC(nullptr, screen);
        old = SelectObject(dc, bitmap);
        RECT all {0, 0, width, height};
        HBRUSH brush = CreateSolidBrush(fill);
        FillRect(dc, &all, brush);
        DeleteObject(brush);
    }
    ~Canvas() {
        SelectObject(dc, old);
        DeleteObject(bitmap);
        DeleteDC(dc);
    }
    COLORREF at(int x, int y) const { return GetPixel(dc, x, y); }
    HDC dc;
    HBITMAP bitmap;
    HGDIOBJ old;
};

TEST(Images, LoadsBitmapIconAndGifWithTheirPixelSizes) {
    std::string error;
    auto bmp = Load("seven_by_five.bmp", error);
    ASSERT_TRUE(bmp) << error;
    EXPECT_EQ(bmp->width(), 7);
    EXPECT_EQ(bmp->height(), 5);

    auto ico = Load("icon24.ico", error);
    ASSERT_TRUE(ico) << error;
    EXPECT_EQ(ico->width(), 24);
    EXPECT_EQ(ico->height(), 24);
    // The tray names the icon by this handle: it must be the icon itself.
    ICONINFO info {};
    ASSERT_TRUE(GetIconInfo(reinterpret_cast<HICON>(ico->handle()), &info));
    if (info.hbmColor) DeleteObject(info.hbmColor);
    if (info.hbmMask) DeleteObject(info.hbmMask);

    auto gif = Load("knob15x9.gif", error);
    ASSERT_TRUE(gif) << error;
    EXPECT_EQ(gif->width(), 15);
    EXPECT_EQ(gif->height(), 9);
}

TEST(Images, BitmapPixelsAreRgbRowsFromTheTop) {
    std::string error;
    auto bmp = Load("corners.bmp", error);  // stored bottom-up
    ASSERT_TRUE(bmp) << error;
    const std::vector<std::uint32_t> want = {0xFF0000, 0x00FF00, 0x0000FF,
                                             0xFE00FF, 0xFFFFFF, 0x010203};
    EXPECT_EQ(bmp->pixels(), want);
}

TEST(Images, MissingOrBrokenFilesGiveNoPictureAndAReason) {
    for (const char* name : {"no_such_file.bmp", "corrupt.bmp", "truncated.gif", "unknown.bin"}) {
        std::string error;
        EXPECT_FALSE(Load(name, error)) << name;
        EXPECT_FALSE(error.empty()) << name;
    }
    std::string error;
    Load("unknown.bin", error);
    EXPECT_EQ(error, "not a BMP, ICO or GIF picture");
}

TEST(Images, AnAbsurdBitmapIsRefusedWithoutBeingDecoded) {
    // A 24-bit header claiming 60000 x 60000 pixels with the data of 16 MB present: a decoder
    // would try to allocate gigabytes.
    std::vector<unsigned char> header(54, 0);
    auto put32 = [&](std::size_t at, std::uint32_t v) {
        for (int i = 0; i < 4; ++i) header[at + i] = static_cast<unsigned char>(v >> (8 * i));
    };
    header[0] = 'B';
    header[1] = 'M';
    put32(10, 54);
    put32(14, 40);
    put32(18, 60000);
    put32(22, 60000);
    header[26] = 1;
    header[28] = 24;
    const std::string path = TestFile("absurd.bmp");
    {
        std::ofstream out(path, std::ios::binary);
        out.write(reinterpret_cast<const char*>(header.data()),
                  static_cast<std::streamsize>(header.size()));
        const std::vector<char> filler(16 * 1024 * 1024, 0x40);
        out.write(filler.data(), static_cast<std::streamsize>(filler.size()));
    }
    Win32ImageLoader loader;
    std::string error;
    EXPECT_FALSE(loader.load(path, error));
    EXPECT_NE(error.find("60000 x 60000"), std::string::npos) << error;
    DeleteFileA(path.c_str());
}

TEST(Images, GifKeepsItsTransparentPixels) {
    std::string error;
    auto gif = Load("knob15x9.gif", error);
    ASSERT_TRUE(gif) << error;
    Canvas canvas(20, 12, RGB(255, 0, 255));
    DrawPictureClipped(canvas.dc, *gif, 2, 1, gif->width(), gif->height());
    EXPECT_EQ(canvas.at(3, 2), RGB(255, 0, 255)) << "transparent column shows what lies beneath";
    EXPECT_EQ(canvas.at(12, 5), RGB(0, 0, 255));
    EXPECT_EQ(canvas.at(17, 5), RGB(255, 0, 255)) << "right of the picture";
}

TEST(Images, DrawingIsUnscaledAndClippedToTheGivenSize) {
    std::string error;
    auto bmp = Load("seven_by_five.bmp", error);
    ASSERT_TRUE(bmp) << error;
    Canvas canvas(12, 8, RGB(255, 255, 255));
    DrawPictureClipped(canvas.dc, *bmp, 2, 1, 3, 10);
    EXPECT_EQ(canvas.at(2, 1), RGB(10, 200, 30));
    EXPECT_EQ(canvas.at(4, 5), RGB(10, 200, 30)) << "full height: not cut, not stretched";
    EXPECT_EQ(canvas.at(4, 6), RGB(255, 255, 255)) << "below the picture's own height";
    EXPECT_EQ(canvas.at(5, 1), RGB(255, 255, 255)) << "beyond the clip width";
}

}  // namespace
}  // namespace vexlo::win32
