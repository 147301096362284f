// Port: the wave-in (capture) device.
#pragma once

#include <cstdint>
#include <string>

#include "platform/types.h"

namespace vexlo {

struct WaveFormat {
    std::uint16_t wFormatTag = 0;
    std::uint16_t nChannels = 0;
    std::uint32_t nSamplesPerSec = 0;
    std::uint32_t nAvgBytesPerSec = 0;
    std::uint16_t nBlockAlign = 0;
    std::uint16_t wBitsPerSample = 0;
    std::uint16_t cbSize = 0;
};

inline constexpr std::uint32_t WHDR_DONE = 1;
inline constexpr std::uint32_t WHDR_PREPARED = 2;
inline constexpr std::uint32_t WHDR_INQUEUE = 16;
inline constexpr std::uint32_t kWaveHeaderSize = 32;

// A capture buffer header, laid out as the platform's 32-byte header on 32-bit builds. The
// device sets WHDR_DONE in dwFlags when the block is full; the program polls for it.
struct WaveHeader {
    char* lpData = nullptr;
    std::uint32_t dwBufferLength = 0;
    std::uint32_t dwBytesRecorded = 0;
    std::uintptr_t dwUser = 0;
    std::uint32_t dwFlags = 0;
    std::uint32_t dwLoops = 0;
    WaveHeader* lpNext = nullptr;
    std::uintptr_t reserved = 0;
};

using WaveInHandle = std::uintptr_t;

class WaveInDevice {
  public:
    virtual ~WaveInDevice() = default;
    virtual MMResult open(WaveInHandle& handle, std::uint32_t deviceId,
                          const WaveFormat& format) = 0;
    virtual MMResult prepareHeader(WaveInHandle handle, WaveHeader& header, std::uint32_t size) = 0;
    virtual MMResult addBuffer(WaveInHandle handle, WaveHeader& header, std::uint32_t size) = 0;
    virtual MMResult start(WaveInHandle handle) = 0;
    virtual MMResult reset(WaveInHandle handle) = 0;
    virtual MMResult stop(WaveInHandle handle) = 0;
    virtual MMResult unprepareHeader(WaveInHandle handle, WaveHeader& header,
                                     std::uint32_t size) = 0;
    virtual MMResult close(WaveInHandle handle) = 0;
    // waveInGetErrorTextA: the text for a result code, at most maxChars - 1 characters.
    virtual std::string errorText(MMResult result, std::uint32_t maxChars) = 0;
};

}  // namespace vexlo
