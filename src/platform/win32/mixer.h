// The mixer port on Windows. The master line (the speakers destination's volume and mute)
// is the default render endpoint's volume where that can be set: on Windows Vista and later
// the winmm mixer's master controls only this program's own audio session. Where the
// endpoint is missing or refuses a write (Wine), the master goes to the winmm mixer. Every
// other line is the winmm mixer's.
//
// The choice is made when a device is opened and made again whenever the default render
// device changes (the system reports it on a thread of its own; the report is posted to the
// thread that made the mixer and handled there). The core keeps the control ids and the range
// it was given at discovery, whichever side carries the master at the moment: values are
// converted between that range and the side's own.
//
// Device 0 opens also when there is no output device at all (a headset plugged in after the
// start): the master line is then described as the endpoint's, reads give the last level
// known (0 before any) and fail, and the session takes whichever side appears first, at the
// next default-device report or at a slow retry for systems that send none.
#pragma once

#include <atomic>
#include <map>
#include <memory>

#include "platform/mixer_device.h"
#include "platform/win32/dispatcher.h"
#include "platform/win32/win.h"

struct IMMNotificationClient;

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

// Posts `message` to `window` whenever the default render endpoint for the console role
// changes. Called on the system's notification threads: it touches nothing but the window
// handle, which disconnect() clears before the window goes.
class DefaultEndpointListener {
  public:
    DefaultEndpointListener(HWND window, UINT message);
    ~DefaultEndpointListener();
    DefaultEndpointListener(const DefaultEndpointListener&) = delete;
    DefaultEndpointListener& operator=(const DefaultEndpointListener&) = delete;
    // The COM object the device enumerator calls (one reference held by this listener).
    IMMNotificationClient* client() const { return client_; }
    void disconnect();

  private:
    IMMNotificationClient* client_;
};

// A registration of a listener with the system's device enumerator; ends when destroyed.
class EndpointWatch {
  public:
    virtual ~EndpointWatch() = default;
};

// Registers the listener's client with the device enumerator (RegisterEndpointNotification-
// Callback); null when that is not possible.
std::unique_ptr<EndpointWatch> WatchDefaultEndpoint(IMMNotificationClient* client);

using WatchFactory = std::unique_ptr<EndpointWatch> (*)(IMMNotificationClient* client);

// mixerOpen of a device by number, flags MIXER_OBJECTF_MIXER.
MMRESULT OpenWinmmMixer(HMIXER* mixer, UINT deviceId);
using WinmmOpener = MMRESULT (*)(HMIXER* mixer, UINT deviceId);

// The master control as the core sees it when the endpoint carried it at discovery.
inline constexpr std::int32_t kEndpointMaximum = 65535;
inline constexpr std::uint32_t kEndpointVolumeId = 0xFFFF0E01;
inline constexpr std::uint32_t kEndpointMuteId = 0xFFFF0E02;
inline constexpr std::uint32_t kEndpointLineId = 0xFFFF0E00;

class Win32Mixer : public MixerDevice {
  public:
    // Milliseconds between two attempts to find a device while device 0 has none.
    static constexpr UINT kDeviceRetryMs = 2000;
    // Winmm's master mute is read from the device again at least this often (see readMaster).
    static constexpr DWORD kWinmmMuteRecheckMs = 250;

    explicit Win32Mixer(EndpointFactory endpoints = &OpenDefaultEndpoint,
                        WatchFactory watches = &WatchDefaultEndpoint,
                        WinmmOpener winmm = &OpenWinmmMixer, UINT retryMs = kDeviceRetryMs);
    ~Win32Mixer() override;
    Win32Mixer(const Win32Mixer&) = delete;
    Win32Mixer& operator=(const Win32Mixer&) = delete;

    MMResult open(std::uint32_t deviceId, MixerHandle& handle) override;
    MMResult close(MixerHandle handle) override;
    MMResult lineByComponentType(MixerHandle handle, std::uint32_t componentType,
                                 std::uint32_t& lineId) override;
    MMResult controlByType(MixerHandle handle, std::uint32_t lineId, std::uint32_t controlType,
                           std::uint32_t cbControl, void* block) override;
    MMResult getControlDetails(MixerHandle handle, ControlDetails& details) override;
    MMResult setControlDetails(MixerHandle handle, const ControlDetails& details) override;

    // Whether the open session carries its master line on the endpoint now (false: winmm).
    bool usesEndpoint(MixerHandle handle) const;
    // Whether the open session has neither side yet and waits for a device.
    bool waitingForDevice(MixerHandle handle) const;
    // The default render device changed: every session of device 0 takes the new endpoint if
    // it can be set, else goes back to winmm. Runs on the mixer's own thread.
    void defaultEndpointChanged();
    // Whether device changes are being reported (the system accepted the listener).
    bool watchingDevices() const { return watch_ != nullptr; }
    // The listener the device enumerator calls; null when no endpoints are used at all.
    DefaultEndpointListener* listener() const { return listener_.get(); }

  private:
    struct Range {
        std::int32_t minimum = 0;
        std::int32_t maximum = 0;
    };
    // A master control (volume or mute) as the core was told it at discovery.
    struct MasterControl {
        bool described = false;
        std::uint32_t id = 0;
        Range range;
        std::uint32_t last = 0;  // the value last read or written, given while no side is there
    };
    // Winmm's own master control, found when a session first needs it.
    struct WinmmControl {
        bool looked = false;
        bool found = false;
        std::uint32_t id = 0;
        Range range;
    };
    struct Session {
        HMIXER mixer = nullptr;
        bool deviceZero = false;
        std::unique_ptr<MasterEndpoint> endpoint;
        bool haveSpeakersLine = false;
        std::uint32_t speakersLineId = 0;
        MasterControl volume;
        MasterControl mute;
        WinmmControl winmmVolume;
        WinmmControl winmmMute;
        // Winmm's mute as last read from the device, and when.
        bool winmmMuteKnown = false;
        std::uint32_t winmmMuteValue = 0;
        DWORD winmmMuteReadAt = 0;
        std::map<std::uint32_t, Range> faders;  // control id -> bounds, for level writes
    };
    Session* find(MixerHandle handle);
    const Session* find(MixerHandle handle) const;
    // A fresh endpoint if one exists and a write of its current value goes through.
    std::unique_ptr<MasterEndpoint> settableEndpoint();
    static bool waiting(const Session& s) { return s.deviceZero && !s.mixer && !s.endpoint; }
    // Runs the retry timer exactly while some session waits for a device.
    void retryWhileWaiting();
    // A session without either side opens winmm device 0 if it is there now.
    void openWinmmIfNeeded(Session& s);
    // Device-0 sessions (all of them, or only those that wait) take whichever side is there
    // now; the retry is findDevice.
    void retake(bool onlyWaiting);
    void findDevice();
    const WinmmControl& winmmMaster(Session& s, std::uint32_t controlType);
    MMResult readMaster(Session& s, bool volume, std::uint32_t& value);
    MMResult writeMaster(Session& s, bool volume, std::int32_t value);

    EndpointFactory endpoints_;
    WinmmOpener winmm_;
    UINT retryMs_;
    bool retrying_ = false;
    std::map<MixerHandle, Session> sessions_;
    MixerHandle nextHandle_ = 1;
    std::unique_ptr<HiddenWindow> window_;  // receives the device change reports
    std::unique_ptr<DefaultEndpointListener> listener_;
    std::unique_ptr<EndpointWatch> watch_;
};

}  // namespace vexlo::win32
