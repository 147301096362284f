// The mixer port on Windows. The master line (the speakers destination's volume and mute)
// is the default render endpoint's volume where that can be set: on Windows Vista and later
// the winmm mixer's master controls only this program's own audio session. Where the
// endpoint is missing or refuses a write (Wine), everything goes to the winmm mixer. The
// choice is made once per open. Every other line is the winmm mixer's.
#pragma once

#include <map>
#include <memory>

#include "platform/mixer_device.h"
#include "platform/win32/win.h"

namespace vexlo::win32 {

// The system volume of the default render endpoint, as a scalar 0..1.
class MasterEndpoint {
  public:
    virtual ~MasterEndpoint() = default;
    virtual HRESULT getScalar(float& scalar) = 0;
    virtual HRESULT setScalar(float scalar) = 0;
    virtual HRESULT getMute(bool& mute) = 0;
    virtual HRESULT setMute(bool mute) = 0;
};

// Opens the default render endpoint's volume (IAudioEndpointVolume); null when there is none.
std::unique_ptr<MasterEndpoint> OpenDefaultEndpoint();

using EndpointFactory = std::unique_ptr<MasterEndpoint> (*)();

// The master control as the core sees it when the endpoint carries it.
inline constexpr std::int32_t kEndpointMaximum = 65535;
inline constexpr std::uint32_t kEndpointVolumeId = 0xFFFF0E01;
inline constexpr std::uint32_t kEndpointMuteId = 0xFFFF0E02;
inline constexpr std::uint32_t kEndpointLineId = 0xFFFF0E00;

class Win32Mixer : public MixerDevice {
  public:
    explicit Win32Mixer(EndpointFactory endpoints = &OpenDefaultEndpoint);
    ~Win32Mixer() override;

    MMResult open(std::uint32_t deviceId, MixerHandle& handle) override;
    MMResult close(MixerHandle handle) override;
    MMResult lineByComponentType(MixerHandle handle, std::uint32_t componentType,
                                 std::uint32_t& lineId) override;
    MMResult controlByType(MixerHandle handle, std::uint32_t lineId, std::uint32_t controlType,
                           std::uint32_t cbControl, void* block) override;
    MMResult getControlDetails(MixerHandle handle, ControlDetails& details) override;
    MMResult setControlDetails(MixerHandle handle, const ControlDetails& details) override;

    // Whether the open session carries its master line on the endpoint (false: winmm).
    bool usesEndpoint(MixerHandle handle) const;

  private:
    struct Range {
        std::int32_t minimum;
        std::int32_t maximum;
    };
    struct Session {
        HMIXER mixer = nullptr;
        std::unique_ptr<MasterEndpoint> endpoint;
        bool haveSpeakersLine = false;
        std::uint32_t speakersLineId = 0;
        std::map<std::uint32_t, Range> faders;  // control id -> bounds, for level writes
    };
    Session* find(MixerHandle handle);
    const Session* find(MixerHandle handle) const;

    EndpointFactory endpoints_;
    std::map<MixerHandle, Session> sessions_;
    MixerHandle nextHandle_ = 1;
};

}  // namespace vexlo::win32
