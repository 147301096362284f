#include "platform/win32/mixer.h"

#include <mmsystem.h>

#include <cmath>
#include <cstring>

namespace vexlo::win32 {

namespace {

constexpr UINT kDefaultEndpointChanged = WM_APP + 20;
constexpr UINT_PTR kDeviceRetryTimer = 1;

// Fader controls (volume and the like) carry a level within bounds.
bool IsFader(std::uint32_t controlType) {
    return (controlType & MIXERCONTROL_CT_CLASS_MASK) == MIXERCONTROL_CT_CLASS_FADER;
}

void DescribeEndpointControl(ControlRecord& record, std::uint32_t controlType) {
    const bool volume = controlType == MIXERCONTROL_CONTROLTYPE_VOLUME;
    std::memset(&record, 0, sizeof record - sizeof record.reserved[10]);
    record.cbStruct = kControlRecordSize;
    record.dwControlID = volume ? kEndpointVolumeId : kEndpointMuteId;
    record.dwControlType = controlType;
    record.fdwControl = MIXERCONTROL_CONTROLF_UNIFORM;
    const char* name = volume ? "Master Volume" : "Master Mute";
    std::strncpy(record.szShortName, volume ? "Volume" : "Mute", sizeof record.szShortName - 1);
    std::strncpy(record.szName, name, sizeof record.szName - 1);
    record.lMinimum = 0;
    record.lMaximum = volume ? kEndpointMaximum : 1;
}

MIXERCONTROLDETAILS ToNative(const ControlDetails& details) {
    MIXERCONTROLDETAILS native {};
    native.cbStruct = sizeof native;
    native.dwControlID = details.dwControlID;
    native.cChannels = details.cChannels;
    native.cMultipleItems = details.cMultipleItems;
    native.cbDetails = details.cbDetails;
    native.paDetails = details.paDetails;
    return native;
}

template <typename Range>
std::int32_t Limit(std::int64_t value, const Range& r) {
    return static_cast<std::int32_t>(value < r.minimum   ? r.minimum
                                     : value > r.maximum ? r.maximum
                                                         : value);
}

// A value of one range as the same fraction of another, limited to it.
template <typename Range>
std::int32_t Rescale(std::int64_t value, const Range& from, const Range& to) {
    if (from.minimum == to.minimum && from.maximum == to.maximum) return Limit(value, to);
    if (from.maximum <= from.minimum) return to.minimum;
    const double fraction = static_cast<double>(Limit(value, from) - std::int64_t {from.minimum}) /
                            (static_cast<double>(from.maximum) - from.minimum);
    return Limit(
        std::llround(to.minimum + fraction * (static_cast<double>(to.maximum) - to.minimum)), to);
}

}  // namespace

MMRESULT OpenWinmmMixer(HMIXER* mixer, UINT deviceId) {
    return mixerOpen(mixer, deviceId, 0, 0, MIXER_OBJECTF_MIXER);
}

Win32Mixer::Win32Mixer(EndpointFactory endpoints, WatchFactory watches, WinmmOpener winmm,
                       UINT retryMs)
    : endpoints_(endpoints), winmm_(winmm ? winmm : &OpenWinmmMixer), retryMs_(retryMs) {
    window_ = std::make_unique<HiddenWindow>(
        "Vexlo mixer", true, [this](UINT message, WPARAM wParam, LPARAM, LRESULT& result) {
            if (message == WM_TIMER && wParam == kDeviceRetryTimer) {
                findDevice();
                result = 0;
                return true;
            }
            if (message != kDefaultEndpointChanged) return false;
            // Reports that piled up while this one waited are answered by this one.
            MSG more;
            while (PeekMessageA(&more, window_->hwnd(), kDefaultEndpointChanged,
                                kDefaultEndpointChanged, PM_REMOVE)) {}
            defaultEndpointChanged();
            result = 0;
            return true;
        });
    if (!endpoints_) return;
    listener_ = std::make_unique<DefaultEndpointListener>(window_->hwnd(), kDefaultEndpointChanged);
    if (watches) watch_ = watches(listener_->client());
}

Win32Mixer::~Win32Mixer() {
    if (retrying_) KillTimer(window_->hwnd(), kDeviceRetryTimer);
    watch_.reset();  // no more reports from the system
    if (listener_) listener_->disconnect();
    for (auto& [handle, session] : sessions_) {
        if (session.mixer) mixerClose(session.mixer);
    }
}

Win32Mixer::Session* Win32Mixer::find(MixerHandle handle) {
    auto it = sessions_.find(handle);
    return it == sessions_.end() ? nullptr : &it->second;
}

const Win32Mixer::Session* Win32Mixer::find(MixerHandle handle) const {
    auto it = sessions_.find(handle);
    return it == sessions_.end() ? nullptr : &it->second;
}

bool Win32Mixer::usesEndpoint(MixerHandle handle) const {
    const Session* s = find(handle);
    return s && s->endpoint;
}

std::unique_ptr<MasterEndpoint> Win32Mixer::settableEndpoint() {
    if (!endpoints_) return nullptr;
    // The endpoint carries the master line only if a write of its current value goes
    // through; otherwise (none, or it cannot be set) the winmm mixer does.
    std::unique_ptr<MasterEndpoint> endpoint = endpoints_();
    float scalar = 0;
    if (endpoint && SUCCEEDED(endpoint->getScalar(scalar)) &&
        SUCCEEDED(endpoint->setScalar(scalar))) {
        return endpoint;
    }
    return nullptr;
}

bool Win32Mixer::waitingForDevice(MixerHandle handle) const {
    const Session* s = find(handle);
    return s && waiting(*s);
}

void Win32Mixer::openWinmmIfNeeded(Session& s) {
    if (s.mixer || s.endpoint) return;
    HMIXER mixer = nullptr;
    if (winmm_(&mixer, 0) == MMSYSERR_NOERROR) s.mixer = mixer;
}

void Win32Mixer::retake(bool onlyWaiting) {
    for (auto& [handle, session] : sessions_) {
        if (!session.deviceZero || (onlyWaiting && !waiting(session))) continue;
        session.endpoint = settableEndpoint();
        session.winmmMuteKnown = false;
        openWinmmIfNeeded(session);
    }
    retryWhileWaiting();
}

void Win32Mixer::defaultEndpointChanged() {
    retake(false);
}

void Win32Mixer::findDevice() {
    retake(true);
}

void Win32Mixer::retryWhileWaiting() {
    bool any = false;
    for (const auto& [handle, session] : sessions_) any = any || waiting(session);
    if (any == retrying_) return;
    if (any) {
        retrying_ = SetTimer(window_->hwnd(), kDeviceRetryTimer, retryMs_, nullptr) != 0;
    } else {
        KillTimer(window_->hwnd(), kDeviceRetryTimer);
        retrying_ = false;
    }
}

MMResult Win32Mixer::open(std::uint32_t deviceId, MixerHandle& handle) {
    Session session;
    HMIXER mixer = nullptr;
    const MMRESULT opened = winmm_(&mixer, deviceId);
    if (opened == MMSYSERR_NOERROR) session.mixer = mixer;
    session.deviceZero = deviceId == 0;
    if (session.deviceZero) session.endpoint = settableEndpoint();
    // Device 0 is the system's output, which may come later; any other is there or not.
    if (!session.mixer && !session.endpoint && !session.deviceZero) {
        handle = 0;
        return opened;
    }
    handle = nextHandle_++;
    sessions_.emplace(handle, std::move(session));
    retryWhileWaiting();
    return MMSYSERR_NOERROR;
}

MMResult Win32Mixer::close(MixerHandle handle) {
    auto it = sessions_.find(handle);
    if (it == sessions_.end()) return MMSYSERR_INVALHANDLE;
    MMResult result = MMSYSERR_NOERROR;
    if (it->second.mixer) result = mixerClose(it->second.mixer);
    sessions_.erase(it);
    retryWhileWaiting();
    return result;
}

MMResult Win32Mixer::lineByComponentType(MixerHandle handle, std::uint32_t componentType,
                                         std::uint32_t& lineId) {
    Session* s = find(handle);
    if (!s) return MMSYSERR_INVALHANDLE;
    MMResult result = MMSYSERR_NODRIVER;
    if (s->mixer) {
        MIXERLINEA line {};
        line.cbStruct = sizeof line;
        line.dwComponentType = componentType;
        result = mixerGetLineInfoA(reinterpret_cast<HMIXEROBJ>(s->mixer), &line,
                                   MIXER_OBJECTF_HMIXER | MIXER_GETLINEINFOF_COMPONENTTYPE);
        if (result == MMSYSERR_NOERROR) lineId = line.dwLineID;
    }
    if (componentType == MIXERLINE_COMPONENTTYPE_DST_SPEAKERS && s->deviceZero &&
        (s->endpoint || result == MMSYSERR_NOERROR || waiting(*s))) {
        if (result != MMSYSERR_NOERROR) {
            lineId = kEndpointLineId;
            result = MMSYSERR_NOERROR;
        }
        s->haveSpeakersLine = true;
        s->speakersLineId = lineId;
    }
    return result;
}

MMResult Win32Mixer::controlByType(MixerHandle handle, std::uint32_t lineId,
                                   std::uint32_t controlType, std::uint32_t cbControl,
                                   void* block) {
    Session* s = find(handle);
    if (!s) return MMSYSERR_INVALHANDLE;
    if (!block || cbControl < sizeof(MIXERCONTROLA)) return MMSYSERR_INVALPARAM;

    const bool masterVolume = controlType == MIXERCONTROL_CONTROLTYPE_VOLUME;
    const bool master = s->haveSpeakersLine && lineId == s->speakersLineId &&
                        (masterVolume || controlType == MIXERCONTROL_CONTROLTYPE_MUTE);
    MasterControl* described = master ? (masterVolume ? &s->volume : &s->mute) : nullptr;
    // Without either side yet the master is described as the endpoint's, the likelier to come.
    if (master && (s->endpoint || !s->mixer)) {
        if (cbControl < kControlRecordSize) return MMSYSERR_INVALPARAM;
        auto& record = *static_cast<ControlRecord*>(block);
        DescribeEndpointControl(record, controlType);
        *described = {true, record.dwControlID, {record.lMinimum, record.lMaximum}};
        return MMSYSERR_NOERROR;
    }
    if (!s->mixer) return MIXERR_INVALLINE;

    MIXERLINECONTROLSA request {};
    request.cbStruct = sizeof request;
    request.dwLineID = lineId;
    request.dwControlType = controlType;
    request.cControls = 1;
    request.cbmxctrl = cbControl;
    request.pamxctrl = static_cast<MIXERCONTROLA*>(block);
    const auto flags = MIXER_OBJECTF_HMIXER | MIXER_GETLINECONTROLSF_ONEBYTYPE;
    const auto object = reinterpret_cast<HMIXEROBJ>(s->mixer);
    MMResult result = mixerGetLineControlsA(object, &request, flags);
    if (result == MMSYSERR_INVALPARAM && cbControl != sizeof(MIXERCONTROLA)) {
        // Some winmm implementations accept only the published size: ask with that and
        // copy the description into the caller's larger block.
        MIXERCONTROLA control {};
        control.cbStruct = sizeof control;
        request.cbmxctrl = sizeof control;
        request.pamxctrl = &control;
        result = mixerGetLineControlsA(object, &request, flags);
        if (result == MMSYSERR_NOERROR) {
            std::memcpy(block, &control, sizeof control);
            static_cast<ControlRecord*>(block)->cbStruct = cbControl;
        }
    }
    if (result == MMSYSERR_NOERROR) {
        const auto* control = static_cast<const MIXERCONTROLA*>(block);
        const Range range {control->Bounds.lMinimum, control->Bounds.lMaximum};
        if (IsFader(control->dwControlType)) s->faders[control->dwControlID] = range;
        if (described) {
            *described = {true, control->dwControlID, range};
            WinmmControl& own = masterVolume ? s->winmmVolume : s->winmmMute;
            own = {true, true, control->dwControlID, range};
        }
    }
    return result;
}

const Win32Mixer::WinmmControl& Win32Mixer::winmmMaster(Session& s, std::uint32_t controlType) {
    WinmmControl& own =
        controlType == MIXERCONTROL_CONTROLTYPE_VOLUME ? s.winmmVolume : s.winmmMute;
    if (own.looked || !s.mixer) return own;
    own.looked = true;
    MIXERLINEA line {};
    line.cbStruct = sizeof line;
    line.dwComponentType = MIXERLINE_COMPONENTTYPE_DST_SPEAKERS;
    const auto object = reinterpret_cast<HMIXEROBJ>(s.mixer);
    if (mixerGetLineInfoA(object, &line, MIXER_OBJECTF_HMIXER | MIXER_GETLINEINFOF_COMPONENTTYPE) !=
        MMSYSERR_NOERROR) {
        return own;
    }
    MIXERCONTROLA control {};
    control.cbStruct = sizeof control;
    MIXERLINECONTROLSA request {};
    request.cbStruct = sizeof request;
    request.dwLineID = line.dwLineID;
    request.dwControlType = controlType;
    request.cControls = 1;
    request.cbmxctrl = sizeof control;
    request.pamxctrl = &control;
    if (mixerGetLineControlsA(object, &request,
                              MIXER_OBJECTF_HMIXER | MIXER_GETLINECONTROLSF_ONEBYTYPE) ==
        MMSYSERR_NOERROR) {
        own = {true, true, control.dwControlID, {control.Bounds.lMinimum, control.Bounds.lMaximum}};
    }
    return own;
}

MMResult Win32Mixer::readMaster(Session& s, bool volume, std::uint32_t& value) {
    const MasterControl& told = volume ? s.volume : s.mute;
    if (s.endpoint) {
        if (volume) {
            float scalar = 0;
            if (FAILED(s.endpoint->getScalar(scalar))) return MMSYSERR_ERROR;
            const Range whole {0, kEndpointMaximum};
            const auto level = static_cast<std::int32_t>(std::nearbyint(
                std::fmin(std::fmax(scalar, 0.0f), 1.0f) * static_cast<double>(kEndpointMaximum)));
            value = static_cast<std::uint32_t>(Rescale(level, whole, told.range));
        } else {
            bool mute = false;
            if (FAILED(s.endpoint->getMute(mute))) return MMSYSERR_ERROR;
            value = mute ? 1 : 0;
        }
        return MMSYSERR_NOERROR;
    }
    // Winmm answers every read through a message to a thread of its own, which costs as much
    // as the level's read that comes with it at every tick. Its mute is therefore read from
    // the device again only after this mixer switched it, and otherwise at most every
    // kWinmmMuteRecheckMs: a switch made elsewhere shows within that time. (Under Wine
    // nothing else can switch it: the winmm master is the process's own.)
    if (!volume && s.winmmMuteKnown && GetTickCount() - s.winmmMuteReadAt < kWinmmMuteRecheckMs) {
        value = s.winmmMuteValue;
        return MMSYSERR_NOERROR;
    }
    const WinmmControl& own =
        winmmMaster(s, volume ? MIXERCONTROL_CONTROLTYPE_VOLUME : MIXERCONTROL_CONTROLTYPE_MUTE);
    if (!own.found) return MIXERR_INVALCONTROL;
    std::uint32_t raw = 0;
    ControlDetails details;
    details.dwControlID = own.id;
    details.paDetails = &raw;
    MIXERCONTROLDETAILS native = ToNative(details);
    const MMResult result =
        mixerGetControlDetailsA(reinterpret_cast<HMIXEROBJ>(s.mixer), &native,
                                MIXER_OBJECTF_HMIXER | MIXER_GETCONTROLDETAILSF_VALUE);
    if (result != MMSYSERR_NOERROR) return result;
    if (volume) {
        value = static_cast<std::uint32_t>(
            Rescale(static_cast<std::int32_t>(raw), own.range, told.range));
    } else {
        value = raw;
        s.winmmMuteKnown = true;
        s.winmmMuteValue = raw;
        s.winmmMuteReadAt = GetTickCount();
    }
    return MMSYSERR_NOERROR;
}

MMResult Win32Mixer::writeMaster(Session& s, bool volume, std::int32_t value) {
    const MasterControl& told = volume ? s.volume : s.mute;
    if (s.endpoint) {
        HRESULT hr;
        if (volume) {
            // Levels outside the range are limited to it, never wrapped.
            const Range whole {0, kEndpointMaximum};
            const std::int32_t level = Rescale(value, told.range, whole);
            hr = s.endpoint->setScalar(static_cast<float>(level) / kEndpointMaximum);
        } else {
            hr = s.endpoint->setMute(value != 0);
        }
        return SUCCEEDED(hr) ? MMSYSERR_NOERROR : MMSYSERR_ERROR;
    }
    // Every session of this process shares winmm's master: each reads the mute anew.
    if (!volume) {
        for (auto& [handle, session] : sessions_) session.winmmMuteKnown = false;
    }
    const WinmmControl& own =
        winmmMaster(s, volume ? MIXERCONTROL_CONTROLTYPE_VOLUME : MIXERCONTROL_CONTROLTYPE_MUTE);
    if (!own.found) return MIXERR_INVALCONTROL;
    std::uint32_t raw = volume ? static_cast<std::uint32_t>(Rescale(value, told.range, own.range))
                               : static_cast<std::uint32_t>(value);
    ControlDetails details;
    details.dwControlID = own.id;
    details.paDetails = &raw;
    MIXERCONTROLDETAILS native = ToNative(details);
    return mixerSetControlDetails(reinterpret_cast<HMIXEROBJ>(s.mixer), &native,
                                  MIXER_OBJECTF_HMIXER | MIXER_SETCONTROLDETAILSF_VALUE);
}

MMResult Win32Mixer::getControlDetails(MixerHandle handle, ControlDetails& details) {
    Session* s = find(handle);
    if (!s) return MMSYSERR_INVALHANDLE;
    for (const bool volume : {true, false}) {
        MasterControl& told = volume ? s->volume : s->mute;
        if (!told.described || details.dwControlID != told.id) continue;
        if (!details.paDetails || details.cbDetails < 4) return MMSYSERR_INVALPARAM;
        if (waiting(*s)) {
            std::memcpy(details.paDetails, &told.last, sizeof told.last);
            return MMSYSERR_NODRIVER;
        }
        std::uint32_t value = 0;
        const MMResult result = readMaster(*s, volume, value);
        if (result == MMSYSERR_NOERROR) {
            std::memcpy(details.paDetails, &value, sizeof value);
            told.last = value;
        }
        return result;
    }
    if (!s->mixer) return MMSYSERR_INVALHANDLE;
    MIXERCONTROLDETAILS native = ToNative(details);
    return mixerGetControlDetailsA(reinterpret_cast<HMIXEROBJ>(s->mixer), &native,
                                   MIXER_OBJECTF_HMIXER | MIXER_GETCONTROLDETAILSF_VALUE);
}

MMResult Win32Mixer::setControlDetails(MixerHandle handle, const ControlDetails& details) {
    Session* s = find(handle);
    if (!s) return MMSYSERR_INVALHANDLE;
    if (!details.paDetails || details.cbDetails < 4) return MMSYSERR_INVALPARAM;
    for (const bool volume : {true, false}) {
        const MasterControl& told = volume ? s->volume : s->mute;
        if (!told.described || details.dwControlID != told.id) continue;
        if (waiting(*s)) return MMSYSERR_NODRIVER;
        std::int32_t value = 0;
        std::memcpy(&value, details.paDetails, sizeof value);
        return writeMaster(*s, volume, value);
    }
    if (!s->mixer) return MMSYSERR_INVALHANDLE;

    // A level beyond a fader's bounds is limited to them (the value is the signed 32 bits the
    // core computed; a device would otherwise refuse it or take only some of its bits).
    std::uint32_t buffer[64];
    MIXERCONTROLDETAILS native = ToNative(details);
    const auto fader = s->faders.find(details.dwControlID);
    if (fader != s->faders.end() && details.cbDetails == 4 && details.cChannels >= 1 &&
        details.cChannels <= 64 && details.cMultipleItems == 0) {
        for (std::uint32_t i = 0; i < details.cChannels; ++i) {
            std::int32_t v = 0;
            std::memcpy(&v, static_cast<const char*>(details.paDetails) + 4 * i, 4);
            buffer[i] = static_cast<std::uint32_t>(Limit(v, fader->second));
        }
        native.paDetails = buffer;
    }
    return mixerSetControlDetails(reinterpret_cast<HMIXEROBJ>(s->mixer), &native,
                                  MIXER_OBJECTF_HMIXER | MIXER_SETCONTROLDETAILSF_VALUE);
}

}  // namespace vexlo::win32
