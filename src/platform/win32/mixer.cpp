#include "platform/win32/mixer.h"

#include <mmsystem.h>

#include <cmath>
#include <cstring>

namespace vexlo::win32 {

namespace {

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
    MIXERCONTROLDETAILS native{};
    native.cbStruct = sizeof native;
    native.dwControlID = details.dwControlID;
    native.cChannels = details.cChannels;
    native.cMultipleItems = details.cMultipleItems;
    native.cbDetails = details.cbDetails;
    native.paDetails = details.paDetails;
    return native;
}

}  // namespace

Win32Mixer::Win32Mixer(EndpointFactory endpoints) : endpoints_(endpoints) {}

Win32Mixer::~Win32Mixer() {
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

MMResult Win32Mixer::open(std::uint32_t deviceId, MixerHandle& handle) {
    Session session;
    HMIXER mixer = nullptr;
    const MMRESULT opened = mixerOpen(&mixer, deviceId, 0, 0, MIXER_OBJECTF_MIXER);
    if (opened == MMSYSERR_NOERROR) session.mixer = mixer;

    // The endpoint carries the master line only if a write of its current value goes
    // through; otherwise (none, or it cannot be set) the winmm mixer does.
    if (deviceId == 0 && endpoints_) {
        std::unique_ptr<MasterEndpoint> endpoint = endpoints_();
        float scalar = 0;
        if (endpoint && SUCCEEDED(endpoint->getScalar(scalar)) &&
            SUCCEEDED(endpoint->setScalar(scalar))) {
            session.endpoint = std::move(endpoint);
        }
    }
    if (!session.mixer && !session.endpoint) {
        handle = 0;
        return opened;
    }
    handle = nextHandle_++;
    sessions_.emplace(handle, std::move(session));
    return MMSYSERR_NOERROR;
}

MMResult Win32Mixer::close(MixerHandle handle) {
    auto it = sessions_.find(handle);
    if (it == sessions_.end()) return MMSYSERR_INVALHANDLE;
    MMResult result = MMSYSERR_NOERROR;
    if (it->second.mixer) result = mixerClose(it->second.mixer);
    sessions_.erase(it);
    return result;
}

MMResult Win32Mixer::lineByComponentType(MixerHandle handle, std::uint32_t componentType,
                                         std::uint32_t& lineId) {
    Session* s = find(handle);
    if (!s) return MMSYSERR_INVALHANDLE;
    MMResult result = MMSYSERR_NODRIVER;
    if (s->mixer) {
        MIXERLINEA line{};
        line.cbStruct = sizeof line;
        line.dwComponentType = componentType;
        result = mixerGetLineInfoA(reinterpret_cast<HMIXEROBJ>(s->mixer), &line,
                                   MIXER_OBJECTF_HMIXER | MIXER_GETLINEINFOF_COMPONENTTYPE);
        if (result == MMSYSERR_NOERROR) lineId = line.dwLineID;
    }
    if (componentType == MIXERLINE_COMPONENTTYPE_DST_SPEAKERS && s->endpoint) {
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

    if (s->endpoint && s->haveSpeakersLine && lineId == s->speakersLineId &&
        (controlType == MIXERCONTROL_CONTROLTYPE_VOLUME ||
         controlType == MIXERCONTROL_CONTROLTYPE_MUTE)) {
        if (cbControl < kControlRecordSize) return MMSYSERR_INVALPARAM;
        DescribeEndpointControl(*static_cast<ControlRecord*>(block), controlType);
        return MMSYSERR_NOERROR;
    }
    if (!s->mixer) return MIXERR_INVALLINE;

    MIXERLINECONTROLSA request{};
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
        MIXERCONTROLA control{};
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
        if (IsFader(control->dwControlType)) {
            s->faders[control->dwControlID] = {control->Bounds.lMinimum, control->Bounds.lMaximum};
        }
    }
    return result;
}

MMResult Win32Mixer::getControlDetails(MixerHandle handle, ControlDetails& details) {
    Session* s = find(handle);
    if (!s) return MMSYSERR_INVALHANDLE;
    if (s->endpoint &&
        (details.dwControlID == kEndpointVolumeId || details.dwControlID == kEndpointMuteId)) {
        if (!details.paDetails || details.cbDetails < 4) return MMSYSERR_INVALPARAM;
        std::uint32_t value = 0;
        if (details.dwControlID == kEndpointVolumeId) {
            float scalar = 0;
            if (FAILED(s->endpoint->getScalar(scalar))) return MMSYSERR_ERROR;
            value = static_cast<std::uint32_t>(std::nearbyint(
                std::fmin(std::fmax(scalar, 0.0f), 1.0f) * static_cast<double>(kEndpointMaximum)));
        } else {
            bool mute = false;
            if (FAILED(s->endpoint->getMute(mute))) return MMSYSERR_ERROR;
            value = mute ? 1 : 0;
        }
        std::memcpy(details.paDetails, &value, sizeof value);
        return MMSYSERR_NOERROR;
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
    if (s->endpoint &&
        (details.dwControlID == kEndpointVolumeId || details.dwControlID == kEndpointMuteId)) {
        std::int32_t value = 0;
        std::memcpy(&value, details.paDetails, sizeof value);
        HRESULT hr;
        if (details.dwControlID == kEndpointVolumeId) {
            // Levels outside the range are limited to it, never wrapped.
            const std::int32_t level = value < 0                  ? 0
                                       : value > kEndpointMaximum ? kEndpointMaximum
                                                                  : value;
            hr = s->endpoint->setScalar(static_cast<float>(level) / kEndpointMaximum);
        } else {
            hr = s->endpoint->setMute(value != 0);
        }
        return SUCCEEDED(hr) ? MMSYSERR_NOERROR : MMSYSERR_ERROR;
    }
    if (!s->mixer) return MMSYSERR_INVALHANDLE;

    // A level beyond a fader's bounds is limited to them (the value is the signed 32 bits the
    // core computed; a device would otherwise refuse it or take only some of its bits).
    std::uint32_t buffer[64];
    MIXERCONTROLDETAILS native = ToNative(details);
    const auto fader = s->faders.find(details.dwControlID);
    if (fader != s->faders.end() && details.cbDetails == 4 && details.cChannels >= 1 &&
        details.cChannels <= 64 && details.cMultipleItems == 0) {
        const Range r = fader->second;
        for (std::uint32_t i = 0; i < details.cChannels; ++i) {
            std::int32_t v = 0;
            std::memcpy(&v, static_cast<const char*>(details.paDetails) + 4 * i, 4);
            v = v < r.minimum ? r.minimum : v > r.maximum ? r.maximum : v;
            buffer[i] = static_cast<std::uint32_t>(v);
        }
        native.paDetails = buffer;
    }
    return mixerSetControlDetails(reinterpret_cast<HMIXEROBJ>(s->mixer), &native,
                                  MIXER_OBJECTF_HMIXER | MIXER_SETCONTROLDETAILSF_VALUE);
}

}  // namespace vexlo::win32
