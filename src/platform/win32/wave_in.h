// The wave-in port on Windows: waveIn* with the core's headers passed straight through.
#pragma once

#include "platform/wave_in_device.h"

namespace vexlo::win32 {

class Win32WaveIn : public WaveInDevice {
  public:
    MMResult open(WaveInHandle& handle, std::uint32_t deviceId, const WaveFormat& format) override;
    MMResult prepareHeader(WaveInHandle handle, WaveHeader& header, std::uint32_t size) override;
    MMResult addBuffer(WaveInHandle handle, WaveHeader& header, std::uint32_t size) override;
    MMResult start(WaveInHandle handle) override;
    MMResult reset(WaveInHandle handle) override;
    MMResult stop(WaveInHandle handle) override;
    MMResult unprepareHeader(WaveInHandle handle, WaveHeader& header, std::uint32_t size) override;
    MMResult close(WaveInHandle handle) override;
    std::string errorText(MMResult result, std::uint32_t maxChars) override;
};

}  // namespace vexlo::win32
