// Checks a sound file's bytes against what both programs' players take: a RIFF WAVE file with
// uncompressed PCM samples of 8 or 16 bits, mono or stereo, all its sound data there.
// sndPlaySound takes more (compressed formats through the codecs Windows has), libcanberra
// less, so a skin is held to what plays on both.
#pragma once

#include <cstddef>
#include <string>

namespace vexlo {

// A click is small: larger files are refused unread.
inline constexpr std::size_t kMaxSoundBytes = 16 * 1024 * 1024;

// Why the file's bytes would not play; empty when they play.
std::string SoundDataProblem(const unsigned char* data, std::size_t size);

}  // namespace vexlo
