#include "platform/win32/wave_in.h"

#include <cstddef>
#include <vector>

#include "platform/win32/win.h"

namespace vexlo::win32 {

// The core's header is the system's header: same size, same places.
static_assert(sizeof(WaveHeader) == sizeof(WAVEHDR));
static_assert(sizeof(WAVEHDR) == kWaveHeaderSize);
static_assert(offsetof(WaveHeader, lpData) == offsetof(WAVEHDR, lpData));
static_assert(offsetof(WaveHeader, dwBufferLength) == offsetof(WAVEHDR, dwBufferLength));
static_assert(offsetof(WaveHeader, dwBytesRecorded) == offsetof(WAVEHDR, dwBytesRecorded));
static_assert(offsetof(WaveHeader, dwUser) == offsetof(WAVEHDR, dwUser));
static_assert(offsetof(WaveHeader, dwFlags) == offsetof(WAVEHDR, dwFlags));
static_assert(offsetof(WaveHeader, dwLoops) == offsetof(WAVEHDR, dwLoops));
static_assert(offsetof(WaveHeader, lpNext) == offsetof(WAVEHDR, lpNext));
static_assert(offsetof(WaveHeader, reserved) == offsetof(WAVEHDR, reserved));
static_assert(kCoreHeaderDone == WHDR_DONE && kCoreHeaderPrepared == WHDR_PREPARED &&
              kCoreHeaderInQueue == WHDR_INQUEUE);

namespace {
HWAVEIN Native(WaveInHandle handle) {
    return reinterpret_cast<HWAVEIN>(handle);
}
WAVEHDR* Native(WaveHeader& header) {
    return reinterpret_cast<WAVEHDR*>(&header);
}
}  // namespace

MMResult Win32WaveIn::open(WaveInHandle& handle, std::uint32_t deviceId, const WaveFormat& format) {
    WAVEFORMATEX native {};
    native.wFormatTag = format.wFormatTag;
    native.nChannels = format.nChannels;
    native.nSamplesPerSec = format.nSamplesPerSec;
    native.nAvgBytesPerSec = format.nAvgBytesPerSec;
    native.nBlockAlign = format.nBlockAlign;
    native.wBitsPerSample = format.wBitsPerSample;
    native.cbSize = format.cbSize;
    HWAVEIN opened = nullptr;
    const MMRESULT result = waveInOpen(&opened, deviceId, &native, 0, 0, CALLBACK_NULL);
    handle = result == MMSYSERR_NOERROR ? reinterpret_cast<WaveInHandle>(opened) : 0;
    return result;
}

MMResult Win32WaveIn::prepareHeader(WaveInHandle handle, WaveHeader& header, std::uint32_t size) {
    return waveInPrepareHeader(Native(handle), Native(header), size);
}

MMResult Win32WaveIn::addBuffer(WaveInHandle handle, WaveHeader& header, std::uint32_t size) {
    return waveInAddBuffer(Native(handle), Native(header), size);
}

MMResult Win32WaveIn::start(WaveInHandle handle) {
    return waveInStart(Native(handle));
}
MMResult Win32WaveIn::reset(WaveInHandle handle) {
    return waveInReset(Native(handle));
}
MMResult Win32WaveIn::stop(WaveInHandle handle) {
    return waveInStop(Native(handle));
}

MMResult Win32WaveIn::unprepareHeader(WaveInHandle handle, WaveHeader& header, std::uint32_t size) {
    return waveInUnprepareHeader(Native(handle), Native(header), size);
}

MMResult Win32WaveIn::close(WaveInHandle handle) {
    return waveInClose(Native(handle));
}

std::string Win32WaveIn::errorText(MMResult result, std::uint32_t maxChars) {
    if (maxChars == 0) return {};
    std::vector<char> buffer(maxChars, '\0');
    if (waveInGetErrorTextA(result, buffer.data(), maxChars) != MMSYSERR_NOERROR) {
        return "Unknown wave-in error " + std::to_string(result) + ".";
    }
    buffer.back() = '\0';
    return buffer.data();
}

}  // namespace vexlo::win32
