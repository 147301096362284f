#include "display/skin_check.h"

#include <algorithm>
#include <cstdint>
#include <map>
#include <memory>
#include <new>

#include "control/frmControl.h"
#include "display/skin.h"

namespace vexlo {

const std::vector<std::string> kSkinFileNames = {
    "back.bmp",  "chunks.bmp", "overlay1.bmp",  "overlay2.bmp",    "icon0.ico", "icon1.ico",
    "icon2.ico", "icon3.ico",  "controlbg.bmp", "controlknob.gif", "sound.wav"};
const std::vector<std::string> kOptionalSkinFileNames = {"iconmute.ico"};

namespace {

// The tray shows its icon at this size on a desktop at normal scale.
constexpr int kTrayIconSide = 16;
// More than this share of the bar's area drawn over by an overlay hides the bar.
constexpr int kMostBarCovered = 50;  // per cent

std::string Size(int width, int height) {
    return std::to_string(width) + " x " + std::to_string(height);
}

std::string KindOf(const std::string& name) {
    const std::string extension = name.substr(name.rfind('.') + 1);
    if (extension == "bmp") return "a Windows bitmap (BMP)";
    if (extension == "ico") return "a Windows icon (ICO)";
    return "a GIF picture";
}

constexpr std::uint32_t kKey = 0xFF00FF;  // the colour key as red, green, blue

bool NearKey(std::uint32_t rgb) {
    const std::uint32_t r = (rgb >> 16) & 0xFF, g = (rgb >> 8) & 0xFF, b = rgb & 0xFF;
    return rgb != kKey && r >= 240 && g <= 15 && b >= 240;
}

class Checker {
  public:
    Checker(ImageLoader& images, Sound& sound, const std::string& folder)
        : folder_(folder), images_(images), sound_(sound) {}

    std::vector<std::string> Run() {
        for (const std::string& name : kSkinFileNames) {
            if (name != "sound.wav") Load(name, "the skin needs it as ");
        }
        for (const std::string& name : kOptionalSkinFileNames) {
            if (images_.exists(Path(name))) Load(name, "leave it out, or save it as ");
        }
        CheckBar();
        // The colour-keyed pictures, each one's pixels fetched once.
        for (const std::string name : {"back.bmp", "chunks.bmp", "overlay1.bmp", "overlay2.bmp"}) {
            if (!Get(name)) continue;
            const std::vector<std::uint32_t> pixels = PixelsOf(name);
            if (name.rfind("overlay", 0) == 0) CheckOverlay(name, pixels);
            CheckNearKey(name, pixels);
        }
        for (const char* icon :
             {"icon0.ico", "icon1.ico", "icon2.ico", "icon3.ico", "iconmute.ico"})
            CheckIcon(icon);
        CheckSlider();
        const std::string sound = sound_.problem(Path("sound.wav"));
        if (!sound.empty()) {
            Say("sound.wav", sound + "; save it as a PCM WAV sound (8 or 16 bits, mono or stereo)");
        }
        // In the order of the files, each file's findings in the order they were found.
        std::vector<std::string> lines;
        for (const auto* names : {&kSkinFileNames, &kOptionalSkinFileNames}) {
            for (const std::string& name : *names) {
                for (const std::string& text : findings_[name])
                    lines.push_back(name + ": " + text + ".");
            }
        }
        return lines;
    }

  private:
    // As the program names its files: the folder, a backslash, the name.
    std::string Path(const std::string& name) const { return folder_ + "\\" + name; }
    void Say(const std::string& name, const std::string& text) { findings_[name].push_back(text); }
    void Load(const std::string& name, const std::string& remedy) {
        std::string reason;
        auto picture = images_.load(Path(name), reason);
        if (picture) {
            pictures_[name] = std::move(picture);
        } else {
            Say(name, "cannot be loaded (" + reason + "); " + remedy + KindOf(name));
        }
    }
    // The picture's pixels, one per pixel of its size; none when the loader has none to give
    // or they do not fit in memory (a picture at the size limits, in a 32-bit process).
    std::vector<std::uint32_t> PixelsOf(const std::string& name) {
        const Picture* picture = Get(name);
        if (!picture) return {};
        try {
            std::vector<std::uint32_t> pixels = picture->pixels();
            const auto count = static_cast<std::size_t>(picture->width()) *
                               static_cast<std::size_t>(picture->height());
            if (pixels.size() == count) return pixels;
        } catch (const std::bad_alloc&) {
            Say(name, "is too large to check its colours (out of memory); make it smaller");
        }
        return {};
    }
    const Picture* Get(const std::string& name) const {
        const auto it = pictures_.find(name);
        return it == pictures_.end() ? nullptr : it->second.get();
    }

    // The bar: sixteen chunks of "\chunks.bmp" inside the background window.
    void CheckBar() {
        const Picture* chunks = Get("chunks.bmp");
        const Picture* back = Get("back.bmp");
        const int full = BarWidth(kMostChunks);
        if (chunks && chunks->width() != full) {
            Say("chunks.bmp", "is " + std::to_string(chunks->width()) +
                                  " pixels wide; the bar shows " + std::to_string(kMostChunks) +
                                  " chunks of " + std::to_string(kChunkWidth) +
                                  " pixels, so make it " + std::to_string(full) + " wide");
        }
        if (!chunks || !back) return;
        // The second overlay reaches one pixel past the full bar.
        const int width = Overlay2Width(kMostChunks);
        const int height = kBarTop + chunks->height();
        if (back->width() < width || back->height() < height) {
            Say("back.bmp", "is " + Size(back->width(), back->height()) +
                                ", too small for the bar (" + Size(full, chunks->height()) +
                                " at " + std::to_string(kBarLeft) + ", " + std::to_string(kBarTop) +
                                ") and the second overlay's reveal; make it at least " +
                                Size(width, height));
        }
    }

    // An overlay is centred over the background window and drawn with the colour key.
    void CheckOverlay(const std::string& name, const std::vector<std::uint32_t>& pixels) {
        const Picture* overlay = Get(name);
        const Picture* back = Get("back.bmp");
        if (back && (overlay->width() != back->width() || overlay->height() != back->height())) {
            Say(name, "is " + Size(overlay->width(), overlay->height()) +
                          "; it is centred over back.bmp, so make it " +
                          Size(back->width(), back->height()) + " like back.bmp");
            return;
        }
        if (pixels.empty()) return;
        bool anyKey = false;
        for (std::uint32_t p : pixels) anyKey = anyKey || (p & 0xFFFFFF) == kKey;
        if (!anyKey) {
            Say(name,
                "has no see-through pixel, so it hides the whole display under it; paint "
                "what should let the display show through in exactly magenta (255, 0, 255)");
            return;
        }
        const Picture* chunks = Get("chunks.bmp");
        if (!chunks || !back) return;
        long covered = 0, area = 0;
        const int right = std::min(kBarLeft + BarWidth(kMostChunks), overlay->width());
        const int bottom = std::min(kBarTop + chunks->height(), overlay->height());
        for (int y = kBarTop; y < bottom; ++y) {
            for (int x = kBarLeft; x < right; ++x) {
                ++area;
                if ((pixels[static_cast<std::size_t>(y) * overlay->width() + x] & 0xFFFFFF) !=
                    kKey) {
                    ++covered;
                }
            }
        }
        if (area > 0 && covered * 100 > area * kMostBarCovered) {
            Say(name, "draws over " + std::to_string(covered * 100 / area) +
                          " % of the level bar (" + Size(BarWidth(kMostChunks), chunks->height()) +
                          " at " + std::to_string(kBarLeft) + ", " + std::to_string(kBarTop) +
                          "), which it hides; paint that area in exactly magenta (255, 0, 255) "
                          "where the bar should show");
        }
    }

    // Colour-keyed pictures: a pixel that is almost the key is drawn, which nobody meant.
    void CheckNearKey(const std::string& name, const std::vector<std::uint32_t>& pixels) {
        long count = 0;
        std::size_t first = 0;
        for (std::size_t i = 0; i < pixels.size(); ++i) {
            if (!NearKey(pixels[i] & 0xFFFFFF)) continue;
            if (count++ == 0) first = i;
        }
        if (count == 0) return;
        const std::uint32_t p = pixels[first];
        const int w = Get(name)->width();
        Say(name, std::to_string(count) + (count == 1 ? " pixel is" : " pixels are") +
                      " nearly magenta but not exactly (the first at " +
                      std::to_string(static_cast<long>(first) % w) + ", " +
                      std::to_string(static_cast<long>(first) / w) + " is " +
                      std::to_string((p >> 16) & 0xFF) + ", " + std::to_string((p >> 8) & 0xFF) +
                      ", " + std::to_string(p & 0xFF) +
                      "), so they are drawn, not see-through; make them exactly 255, 0, 255");
    }

    void CheckIcon(const std::string& name) {
        const Picture* icon = Get(name);
        if (!icon) return;
        std::string held;
        for (const Picture::Size& size : icon->sizes()) {
            if (size.width == kTrayIconSide && size.height == kTrayIconSide) return;
            held += (held.empty() ? "" : ", ") + Size(size.width, size.height);
        }
        Say(name, "holds no " + Size(kTrayIconSide, kTrayIconSide) + " picture (only " + held +
                      "); the tray shows its icon at " + Size(kTrayIconSide, kTrayIconSide) +
                      ", so add one");
    }

    void CheckSlider() {
        if (const Picture* bg = Get("controlbg.bmp");
            bg && (bg->width() != kControlWidth || bg->height() != kControlHeight)) {
            Say("controlbg.bmp",
                "is " + Size(bg->width(), bg->height()) + "; the slider window is " +
                    Size(kControlWidth, kControlHeight) + ", so make it that size");
        }
        if (const Picture* knob = Get("controlknob.gif");
            knob && (knob->width() != kKnobSide || knob->height() != kKnobSide)) {
            Say("controlknob.gif", "is " + Size(knob->width(), knob->height()) +
                                       "; the slider's track is laid out for a " +
                                       Size(kKnobSide, kKnobSide) + " knob, so make it that size");
        }
    }

    std::string folder_;
    ImageLoader& images_;
    Sound& sound_;
    std::map<std::string, std::shared_ptr<const Picture>> pictures_;
    std::map<std::string, std::vector<std::string>> findings_;
};

}  // namespace

std::vector<std::string> CheckSkin(ImageLoader& images, Sound& sound, const std::string& folder) {
    return Checker(images, sound, folder).Run();
}

std::string SkinReport(const std::string& folder, const std::vector<std::string>& findings) {
    if (findings.empty()) {
        return "The skin in " + folder + " is complete and fits: all " +
               std::to_string(kSkinFileNames.size()) + " files load and look as intended.\n";
    }
    std::string text;
    for (const std::string& line : findings) text += line + "\n";
    return text;
}

}  // namespace vexlo
