// The default render endpoint's volume through Core Audio, and the reports of a change of
// the default render device.
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

// The enumerator's callbacks come on threads of the audio service: they post one message and
// touch nothing else.
class NotificationClient final : public IMMNotificationClient {
  public:
    NotificationClient(HWND window, UINT message) : window_(window), message_(message) {}

    void disconnect() { window_.store(nullptr); }

    ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = --references_;
        if (left == 0) delete this;
        return left;
    }
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        if (iid == IID_IUnknown || iid == __uuidof(IMMNotificationClient)) {
            *out = static_cast<IMMNotificationClient*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    HRESULT STDMETHODCALLTYPE OnDefaultDeviceChanged(EDataFlow flow, ERole role,
                                                     LPCWSTR /*id*/) override {
        // The id may be null (no render device left): the mixer's thread asks for the default
        // endpoint anew either way.
        if (flow == eRender && role == eConsole) {
            if (HWND window = window_.load()) PostMessageA(window, message_, 0, 0);
        }
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnDeviceStateChanged(LPCWSTR, DWORD) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnDeviceAdded(LPCWSTR) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnDeviceRemoved(LPCWSTR) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnPropertyValueChanged(LPCWSTR, const PROPERTYKEY) override {
        return S_OK;
    }

  private:
    ~NotificationClient() = default;
    std::atomic<HWND> window_;
    const UINT message_;
    std::atomic<ULONG> references_ {1};
};

class EnumeratorWatch : public EndpointWatch {
  public:
    EnumeratorWatch(IMMDeviceEnumerator* enumerator, IMMNotificationClient* client)
        : enumerator_(enumerator), client_(client) {
        client_->AddRef();
    }
    ~EnumeratorWatch() override {
        enumerator_->UnregisterEndpointNotificationCallback(client_);
        Release(client_);
        Release(enumerator_);
    }
    EnumeratorWatch(const EnumeratorWatch&) = delete;
    EnumeratorWatch& operator=(const EnumeratorWatch&) = delete;

  private:
    IMMDeviceEnumerator* enumerator_;
    IMMNotificationClient* client_;
};

IMMDeviceEnumerator* CreateEnumerator() {
    IMMDeviceEnumerator* enumerator = nullptr;
    if (FAILED(CoCreateInstance(CLSID_MMDeviceEnumerator, nullptr, CLSCTX_ALL,
                                IID_IMMDeviceEnumerator, reinterpret_cast<void**>(&enumerator)))) {
        return nullptr;
    }
    return enumerator;
}

}  // namespace

DefaultEndpointListener::DefaultEndpointListener(HWND window, UINT message)
    : client_(new NotificationClient(window, message)) {}

DefaultEndpointListener::~DefaultEndpointListener() {
    disconnect();
    client_->Release();
}

void DefaultEndpointListener::disconnect() {
    static_cast<NotificationClient*>(client_)->disconnect();
}

std::unique_ptr<EndpointWatch> WatchDefaultEndpoint(IMMNotificationClient* client) {
    // COM is initialised by the program's entry; a thread without it gets no reports.
    IMMDeviceEnumerator* enumerator = CreateEnumerator();
    if (!enumerator) return nullptr;
    if (FAILED(enumerator->RegisterEndpointNotificationCallback(client))) {
        Release(enumerator);
        return nullptr;
    }
    return std::make_unique<EnumeratorWatch>(enumerator, client);
}

std::unique_ptr<MasterEndpoint> OpenDefaultEndpoint() {
    IMMDeviceEnumerator* enumerator = CreateEnumerator();
    IMMDevice* device = nullptr;
    IAudioEndpointVolume* volume = nullptr;
    if (enumerator && SUCCEEDED(enumerator->GetDefaultAudioEndpoint(eRender, eConsole, &device))) {
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
