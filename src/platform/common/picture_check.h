// Checks a picture file's bytes before the system decodes them: the format the file name
// promises, a header that holds together, a size the program can afford to draw, and data
// that is all there. A damaged or hostile skin file is refused with a reason instead of being
// handed to a decoder that might allocate gigabytes or read past the end. Both programs check
// with these rules and limits, so a skin loads on one exactly when it loads on the other.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/texts.h"

namespace vexlo {

enum class PictureFormat { Unknown, Bmp, Ico, Gif };

// The format a file name promises by its extension (.bmp, .ico, .gif; any letter case).
PictureFormat FormatOfName(const std::string& path);
// The format the first bytes show.
PictureFormat FormatOfContent(const unsigned char* data, std::size_t size);
const char* FormatName(PictureFormat format);

// The largest picture accepted: no side above kMaxPictureSide pixels and no more than
// kMaxPicturePixels in all (8K screens are 7680 x 4320 = 33 177 600 pixels).
inline constexpr std::int64_t kMaxPictureSide = 16384;
inline constexpr std::int64_t kMaxPicturePixels = std::int64_t {1} << 25;
// Icons hold pictures of at most 256 x 256 (PNG-compressed ones included).
inline constexpr std::int64_t kMaxIconSide = 256;

struct PictureCheck {
    bool ok = false;
    PictureFormat format = PictureFormat::Unknown;  // what the content is
    int width = 0;                                  // of the picture that will be shown
    int height = 0;
    std::string reason;  // why not, when not ok, in the language of the texts given
    struct Size {
        int width;
        int height;
    };
    std::vector<Size> sizes;  // of every picture an icon file holds, in file order
};

// Checks the whole file's bytes as the format `expected` (Unknown: whatever the content is).
// The reasons fill the place of the reason in "The skin file ... cannot be loaded: ...".
PictureCheck CheckPicture(const unsigned char* data, std::size_t size, PictureFormat expected,
                          const Texts& texts = EnglishTexts());

// Why a picture of this size is refused (empty, or more than the limits allow); empty when
// it is fine. For sizes a decoder reports of the pictures it finds inside a file.
std::string PictureSizeProblem(std::int64_t width, std::int64_t height,
                               const Texts& texts = EnglishTexts());

// The reason for bytes that are none of the formats.
std::string NotAPicture(const Texts& texts);

}  // namespace vexlo
