// The default render endpoint's volume through Core Audio.
// clang-format off
#include "platform/win32/mixer.h"
#include <initguid.h>  // defines the interface and class ids of the headers below, once
#include <mmdeviceapi.h>
#include <endpointvolume.h>
// clang-format on

namespace vexlo::win32 {

namespace {

template <typename T>
void Release(T*& p) {
    if (p) p->Release();
    p = nullptr;
}

class CoreAudioEndpoint : public MasterEndpoint {
  public:
    explicit CoreAudioEndpoint(IAudioEndpointVolume* volume) : volume_(volume) {}
    ~CoreAudioEndpoint() override { Release(volume_); }
    CoreAudioEndpoint(const CoreAudioEndpoint&) = delete;
    CoreAudioEndpoint& operator=(const CoreAudioEndpoint&) = delete;

    HRESULT getScalar(float& scalar) override {
        return volume_->GetMasterVolumeLevelScalar(&scalar);
    }
    HRESULT setScalar(float scalar) override {
        return volume_->SetMasterVolumeLevelScalar(scalar, nullptr);
    }
    HRESULT getMute(bool& mute) override {
        BOOL value = FALSE;
        const HRESULT hr = volume_->GetMute(&value);
        mute = value != FALSE;
        return hr;
    }
    HRESULT setMute(bool mute) override { return volume_->SetMute(mute ? TRUE : FALSE, nullptr); }

  private:
    IAudioEndpointVolume* volume_;
};

}  // namespace

std::unique_ptr<MasterEndpoint> OpenDefaultEndpoint() {
    // COM is initialised by the program's entry; a thread without it gets no endpoint.
    IMMDeviceEnumerator* enumerator = nullptr;
    IMMDevice* device = nullptr;
    IAudioEndpointVolume* volume = nullptr;
    if (SUCCEEDED(CoCreateInstance(CLSID_MMDeviceEnumerator, nullptr, CLSCTX_ALL,
                                   IID_IMMDeviceEnumerator,
                                   reinterpret_cast<void**>(&enumerator))) &&
        SUCCEEDED(enumerator->GetDefaultAudioEndpoint(eRender, eConsole, &device))) {
        if (FAILED(device->Activate(IID_IAudioEndpointVolume, CLSCTX_ALL, nullptr,
                                    reinterpret_cast<void**>(&volume)))) {
            volume = nullptr;
        }
    }
    Release(device);
    Release(enumerator);
    if (!volume) return nullptr;
    return std::make_unique<CoreAudioEndpoint>(volume);
}

}  // namespace vexlo::win32
