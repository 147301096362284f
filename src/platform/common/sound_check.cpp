#include "platform/common/sound_check.h"

#include <cstdint>
#include <cstring>

#include "platform/common/little_endian.h"

namespace vexlo {

namespace {

// What a file that is no WAV at all holds, when its first bytes tell.
std::string OtherFormat(const unsigned char* d, std::size_t size) {
    if (size >= 4 && std::memcmp(d, "OggS", 4) == 0) return "an Ogg file, not a WAV";
    if (size >= 4 && std::memcmp(d, "fLaC", 4) == 0) return "a FLAC file, not a WAV";
    if ((size >= 3 && std::memcmp(d, "ID3", 3) == 0) ||
        (size >= 2 && d[0] == 0xFF && (d[1] & 0xE0) == 0xE0)) {
        return "an MP3 file, not a WAV";
    }
    return "not a WAV file (no RIFF WAVE header)";
}

}  // namespace

std::string SoundDataProblem(const unsigned char* d, std::size_t size) {
    if (size == 0) return "the file is empty";
    if (size > kMaxSoundBytes) return "the file is larger than 16 MB";
    if (size < 12 || std::memcmp(d, "RIFF", 4) != 0 || std::memcmp(d + 8, "WAVE", 4) != 0) {
        return OtherFormat(d, size);
    }
    bool haveFormat = false;
    std::size_t at = 12;
    while (at + 8 <= size) {
        const unsigned char* chunk = d + at;
        const std::uint64_t length = U32(chunk + 4);
        const std::uint64_t available = size - at - 8;
        if (std::memcmp(chunk, "fmt ", 4) == 0) {
            if (length < 16 || length > available) return "its format chunk is damaged";
            const std::uint32_t tag = U16(chunk + 8);
            const std::uint32_t channels = U16(chunk + 10);
            const std::uint32_t rate = U32(chunk + 12);
            const std::uint32_t blockAlign = U16(chunk + 20);
            const std::uint32_t bits = U16(chunk + 22);
            if (tag == 0xFFFE) return "its samples are in the extensible WAV format";
            if (tag != 1) {
                return "its samples are compressed (WAV format " + std::to_string(tag) +
                       "), not plain PCM";
            }
            if (bits != 8 && bits != 16) return "it has " + std::to_string(bits) + "-bit samples";
            if (channels != 1 && channels != 2) {
                return "it has " + std::to_string(channels) + " channels";
            }
            if (rate < 8000 || rate > 192000) {
                return "its sample rate is " + std::to_string(rate) + " Hz";
            }
            if (blockAlign != channels * bits / 8) return "its format chunk is damaged";
            haveFormat = true;
        } else if (std::memcmp(chunk, "data", 4) == 0) {
            if (!haveFormat) return "its sound data comes before its format";
            if (length == 0) return "it holds no sound";
            if (length > available) {
                return "the file is cut off (" + std::to_string(length) +
                       " bytes of sound announced, " + std::to_string(available) + " present)";
            }
            return {};
        }
        at += 8 + static_cast<std::size_t>(length < available ? length : available);
        at += at & 1;  // chunks are padded to an even length
    }
    return haveFormat ? "it holds no sound data" : "it has no format chunk";
}

}  // namespace vexlo
