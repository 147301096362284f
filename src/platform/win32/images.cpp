#include "platform/win32/images.h"

#include <ole2.h>
#include <olectl.h>

#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

#include "platform/common/picture_check.h"

namespace vexlo::win32 {

std::string SystemErrorText(DWORD code) {
    char* text = nullptr;
    const DWORD n = FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string result = n && text ? std::string(text, n) : std::string();
    if (text) LocalFree(text);
    while (!result.empty() && (result.back() == '\n' || result.back() == '\r' ||
                               result.back() == ' ' || result.back() == '.')) {
        result.pop_back();
    }
    if (result.empty()) result = "system error " + std::to_string(code);
    return result;
}

namespace {

class BitmapPicture : public Win32Picture {
  public:
    BitmapPicture(HBITMAP bitmap, int width, int height)
        : bitmap_(bitmap), width_(width), height_(height) {}
    ~BitmapPicture() override { DeleteObject(bitmap_); }
    NativeHandle handle() const override { return reinterpret_cast<NativeHandle>(bitmap_); }
    int width() const override { return width_; }
    int height() const override { return height_; }
    void draw(HDC dc, int x, int y) const override {
        HDC source = CreateCompatibleDC(dc);
        HGDIOBJ old = SelectObject(source, bitmap_);
        BitBlt(dc, x, y, width_, height_, source, 0, 0, SRCCOPY);
        SelectObject(source, old);
        DeleteDC(source);
    }
    // The loaded bitmap is in the screen's format, so these are the colours it is drawn in.
    std::vector<std::uint32_t> pixels() const override {
        std::vector<std::uint32_t> rows(static_cast<std::size_t>(width_) * height_);
        if (rows.empty()) return rows;
        BITMAPINFO info {};
        info.bmiHeader.biSize = sizeof info.bmiHeader;
        info.bmiHeader.biWidth = width_;
        info.bmiHeader.biHeight = -height_;  // top-down
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        info.bmiHeader.biCompression = BI_RGB;
        HDC screen = GetDC(nullptr);
        const int got = GetDIBits(screen, bitmap_, 0, static_cast<UINT>(height_), rows.data(),
                                  &info, DIB_RGB_COLORS);
        ReleaseDC(nullptr, screen);
        if (got != height_) return {};
        for (std::uint32_t& p : rows) p &= 0xFFFFFF;  // BGRA in memory: 0x00RRGGBB
        return rows;
    }

  private:
    HBITMAP bitmap_;
    int width_;
    int height_;
};

class IconPicture : public Win32Picture {
  public:
    IconPicture(HICON icon, int width, int height, std::vector<Size> sizes)
        : icon_(icon), width_(width), height_(height), sizes_(std::move(sizes)) {}
    ~IconPicture() override { DestroyIcon(icon_); }
    // The icon handle itself: the tray record names it.
    NativeHandle handle() const override { return reinterpret_cast<NativeHandle>(icon_); }
    int width() const override { return width_; }
    int height() const override { return height_; }
    void draw(HDC dc, int x, int y) const override {
        DrawIconEx(dc, x, y, icon_, width_, height_, 0, nullptr, DI_NORMAL);
    }
    std::vector<Size> sizes() const override { return sizes_.empty() ? Picture::sizes() : sizes_; }

  private:
    HICON icon_;
    int width_;
    int height_;
    std::vector<Size> sizes_;  // of every picture in the file
};

class GifPicture : public Win32Picture {
  public:
    GifPicture(IPicture* picture, int width, int height)
        : picture_(picture), width_(width), height_(height) {}
    ~GifPicture() override { picture_->Release(); }
    NativeHandle handle() const override {
        OLE_HANDLE h = 0;
        picture_->get_Handle(&h);
        return static_cast<NativeHandle>(h);
    }
    int width() const override { return width_; }
    int height() const override { return height_; }
    void draw(HDC dc, int x, int y) const override {
        OLE_XSIZE_HIMETRIC w = 0;
        OLE_YSIZE_HIMETRIC h = 0;
        picture_->get_Width(&w);
        picture_->get_Height(&h);
        // Source rectangle in HIMETRIC, bottom-up; transparent pixels are left untouched.
        picture_->Render(dc, x, y, width_, height_, 0, h, w, -h, nullptr);
    }

  private:
    IPicture* picture_;
    int width_;
    int height_;
};

}  // namespace

FileBytes ReadWholeFile(const std::string& path, std::uint64_t limit) {
    FileBytes result;
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        result.error = SystemErrorText(GetLastError());
        return result;
    }
    LARGE_INTEGER size {};
    if (!GetFileSizeEx(file, &size)) {
        result.error = SystemErrorText(GetLastError());
    } else if (static_cast<std::uint64_t>(size.QuadPart) > limit) {
        result.tooLarge = true;
        result.error = "the file is too large";
    } else {
        result.data.resize(static_cast<std::size_t>(size.QuadPart));
        DWORD read = 0;
        if (!result.data.empty() &&
            (!::ReadFile(file, result.data.data(), static_cast<DWORD>(result.data.size()), &read,
                         nullptr) ||
             read != result.data.size())) {
            result.error = SystemErrorText(GetLastError());
            result.data.clear();
        }
    }
    CloseHandle(file);
    return result;
}

namespace {

std::shared_ptr<const Picture> LoadBitmapFile(const std::string& path, std::string& error,
                                              const Texts& texts) {
    auto* bitmap = static_cast<HBITMAP>(
        LoadImageA(nullptr, path.c_str(), IMAGE_BITMAP, 0, 0, LR_LOADFROMFILE));
    BITMAP info {};
    if (!bitmap || !GetObjectA(bitmap, sizeof info, &info)) {
        if (bitmap) DeleteObject(bitmap);
        // TRANSLATORS: Why a skin picture cannot be loaded; fills {reason} in "The skin file
        // "{file}" cannot be loaded: {reason}.".
        error = Tr(texts, "not a readable bitmap");
        return nullptr;
    }
    return std::make_shared<BitmapPicture>(bitmap, info.bmWidth, std::abs(info.bmHeight));
}

std::shared_ptr<const Picture> LoadIconFile(const std::string& path,
                                            const std::vector<PictureCheck::Size>& held,
                                            std::string& error, const Texts& texts) {
    auto* icon =
        static_cast<HICON>(LoadImageA(nullptr, path.c_str(), IMAGE_ICON, 0, 0, LR_LOADFROMFILE));
    ICONINFO info {};
    if (!icon || !GetIconInfo(icon, &info)) {
        if (icon) DestroyIcon(icon);
        // TRANSLATORS: Why a skin picture cannot be loaded.
        error = Tr(texts, "not a readable icon");
        return nullptr;
    }
    BITMAP bits {};
    int width = 0;
    int height = 0;
    if (info.hbmColor && GetObjectA(info.hbmColor, sizeof bits, &bits)) {
        width = bits.bmWidth;
        height = bits.bmHeight;
    } else if (info.hbmMask && GetObjectA(info.hbmMask, sizeof bits, &bits)) {
        width = bits.bmWidth;
        height = bits.bmHeight / 2;  // monochrome icons: AND and XOR masks stacked
    }
    if (info.hbmColor) DeleteObject(info.hbmColor);
    if (info.hbmMask) DeleteObject(info.hbmMask);
    std::vector<Picture::Size> sizes;
    for (const PictureCheck::Size& size : held) sizes.push_back({size.width, size.height});
    return std::make_shared<IconPicture>(icon, width, height, std::move(sizes));
}

std::shared_ptr<const Picture> LoadGif(const std::vector<unsigned char>& data, std::string& error,
                                       const Texts& texts) {
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, data.size());
    if (!memory) {
        // TRANSLATORS: Why a skin picture cannot be loaded.
        error = Tr(texts, "out of memory");
        return nullptr;
    }
    void* bytes = GlobalLock(memory);
    std::memcpy(bytes, data.data(), data.size());
    GlobalUnlock(memory);
    IStream* stream = nullptr;
    if (FAILED(CreateStreamOnHGlobal(memory, TRUE, &stream))) {
        GlobalFree(memory);
        // TRANSLATORS: Why a skin picture cannot be loaded.
        error = Tr(texts, "cannot read the file from memory");
        return nullptr;
    }
    IPicture* picture = nullptr;
    const HRESULT hr = OleLoadPicture(stream, static_cast<LONG>(data.size()), FALSE, IID_IPicture,
                                      reinterpret_cast<void**>(&picture));
    stream->Release();  // frees the memory too
    if (FAILED(hr) || !picture) {
        // TRANSLATORS: Why a skin picture cannot be loaded.
        error = Tr(texts, "not a readable GIF picture");
        return nullptr;
    }
    OLE_XSIZE_HIMETRIC w = 0;
    OLE_YSIZE_HIMETRIC h = 0;
    picture->get_Width(&w);
    picture->get_Height(&h);
    HDC screen = GetDC(nullptr);
    const int width = MulDiv(w, GetDeviceCaps(screen, LOGPIXELSX), 2540);
    const int height = MulDiv(h, GetDeviceCaps(screen, LOGPIXELSY), 2540);
    ReleaseDC(nullptr, screen);
    return std::make_shared<GifPicture>(picture, width, height);
}

}  // namespace

std::shared_ptr<const Picture> Win32ImageLoader::load(const std::string& path, std::string& error) {
    const FileBytes file = ReadWholeFile(path, 64 * 1024 * 1024);
    if (!file.error.empty()) {
        // TRANSLATORS: Why a skin picture cannot be loaded.
        error = file.tooLarge ? Tr(texts(), "the file is too large") : file.error;
        return nullptr;
    }
    // Nothing is decoded before the bytes have passed the checks: the format the name
    // promises (an unknown extension takes what the content is), a sound header, an
    // affordable size, and all the data there.
    const PictureCheck check =
        CheckPicture(file.data.data(), file.data.size(), FormatOfName(path), texts());
    if (!check.ok) {
        error = check.reason;
        return nullptr;
    }
    switch (check.format) {
        case PictureFormat::Bmp:
            return LoadBitmapFile(path, error, texts());
        case PictureFormat::Ico:
            return LoadIconFile(path, check.sizes, error, texts());
        case PictureFormat::Gif:
            return LoadGif(file.data, error, texts());
        case PictureFormat::Unknown:
            break;
    }
    error = NotAPicture(texts());
    return nullptr;
}

void DrawPictureClipped(HDC dc, const Picture& picture, int x, int y, int width, int height) {
    const auto* native = dynamic_cast<const Win32Picture*>(&picture);
    if (!native || width <= 0 || height <= 0) return;
    const int saved = SaveDC(dc);
    IntersectClipRect(dc, x, y, x + width, y + height);
    native->draw(dc, x, y);
    RestoreDC(dc, saved);
}

}  // namespace vexlo::win32
