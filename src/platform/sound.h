// Port: playing a sound file.
#pragma once

#include <cstdint>
#include <string>

namespace vexlo {

class Sound {
  public:
    virtual ~Sound() = default;
    // sndPlaySoundA: with SND_ASYNC returns at once; a new sound replaces one still playing.
    virtual bool play(const std::string& path, std::uint32_t flags) = 0;
    // Why the player would refuse the file; empty when it plays it.
    virtual std::string problem(const std::string& path) = 0;
};

}  // namespace vexlo
