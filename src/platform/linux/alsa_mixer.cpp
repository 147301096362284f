#include "platform/linux/alsa_mixer.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <vector>

#include "platform/types.h"

namespace vexlo::linux_platform {

namespace {

void QuietErrorHandler(const char*, int, const char*, int, const char*, ...) {}

// Element names by line, in order of preference.
std::vector<const char*> ElementNames(std::uint32_t componentType) {
    switch (componentType) {
        case MIXERLINE_COMPONENTTYPE_DST_SPEAKERS:
            return {"Master", "Speaker", "PCM"};
        case MIXERLINE_COMPONENTTYPE_DST_WAVEIN:
            return {"Capture"};
        case MIXERLINE_COMPONENTTYPE_SRC_MICROPHONE:
            return {"Capture", "Mic"};
        case MIXERLINE_COMPONENTTYPE_SRC_LINE:
            return {"Line"};
        case MIXERLINE_COMPONENTTYPE_SRC_COMPACTDISC:
            return {"CD"};
        case MIXERLINE_COMPONENTTYPE_SRC_SYNTHESIZER:
            return {"Synth"};
        case MIXERLINE_COMPONENTTYPE_SRC_WAVEOUT:
            return {"PCM"};
        default:
            return {};
    }
}

constexpr std::uint32_t kKindBits = 4;
// The published control description; the program's record adds one word to it.
constexpr std::uint32_t kPublishedControlSize = 148;

std::uint32_t ControlId(std::uint32_t componentType, std::uint32_t kind) {
    return (componentType << kKindBits) | kind;
}

void CopyName(char* to, std::size_t size, const std::string& from) {
    std::memset(to, 0, size);
    std::memcpy(to, from.data(), std::min(size - 1, from.size()));
}

void DescribeMaster(ControlRecord& record, std::uint32_t controlType, long maximum) {
    const bool volume = controlType == MIXERCONTROL_CONTROLTYPE_VOLUME;
    record.dwControlID = ControlId(MIXERLINE_COMPONENTTYPE_DST_SPEAKERS,
                                   volume ? AlsaMixer::kVolumeKind : AlsaMixer::kMuteKind);
    record.lMinimum = 0;
    record.lMaximum = volume ? static_cast<std::int32_t>(maximum) : 1;
    CopyName(record.szShortName, sizeof record.szShortName, "Master");
    CopyName(record.szName, sizeof record.szName, volume ? "Master Volume" : "Master Mute");
}

// A level of one range as the same fraction of another, limited to it.
long Rescale(long value, long fromMin, long fromMax, long toMin, long toMax) {
    if (fromMin == toMin && fromMax == toMax) return std::clamp(value, toMin, toMax);
    if (fromMax <= fromMin) return toMin;
    const double fraction =
        static_cast<double>(std::clamp(value, fromMin, fromMax) - fromMin) / (fromMax - fromMin);
    return std::clamp(std::lround(static_cast<double>(toMin) + fraction * (toMax - toMin)), toMin,
                      toMax);
}

}  // namespace

void SilenceAlsa() {
    static const bool done = [] {
        snd_lib_error_set_handler(&QuietErrorHandler);
        return true;
    }();
    (void)done;
}

AlsaMixer::AlsaMixer(std::string device, Clock clock)
    : device_(std::move(device)), clock_(std::move(clock)) {
    SilenceAlsa();
    if (!clock_) {
        clock_ = [] {
            return std::chrono::duration_cast<std::chrono::milliseconds>(
                       std::chrono::steady_clock::now().time_since_epoch())
                .count();
        };
    }
}

AlsaMixer::~AlsaMixer() {
    for (auto& [handle, open] : opens_) closeDevice(open);
}

// ALSA reads its configuration once per process, and PulseAudio's part of it (which makes
// "default" the sound server) is taken in only if the server runs at that moment. A program
// started before its server would never see it: a device that cannot be opened through the
// process's configuration is tried through one read anew, which the mixer then keeps.
snd_mixer_t* AlsaMixer::openDevice(snd_config_t*& config) const {
    config = nullptr;
    snd_mixer_t* mixer = nullptr;
    if (snd_mixer_open(&mixer, 0) < 0) return nullptr;
    int rc = snd_mixer_attach(mixer, device_.c_str());
    if (rc < 0) {
        snd_config_update_t* update = nullptr;
        snd_ctl_t* ctl = nullptr;
        snd_hctl_t* hctl = nullptr;
        if (snd_config_update_r(&config, &update, nullptr) >= 0 && config != nullptr &&
            snd_ctl_open_lconf(&ctl, device_.c_str(), 0, config) >= 0) {
            if (snd_hctl_open_ctl(&hctl, ctl) < 0) {
                snd_ctl_close(ctl);
            } else if ((rc = snd_mixer_attach_hctl(mixer, hctl)) < 0) {
                snd_hctl_close(hctl);
            }
        }
        if (update != nullptr) snd_config_update_free(update);
    }
    if (rc < 0 || snd_mixer_selem_register(mixer, nullptr, nullptr) < 0 ||
        snd_mixer_load(mixer) < 0) {
        snd_mixer_close(mixer);
        if (config != nullptr) snd_config_delete(config);
        config = nullptr;
        return nullptr;
    }
    return mixer;
}

void AlsaMixer::closeDevice(Open& open) {
    if (open.mixer != nullptr) snd_mixer_close(open.mixer);
    if (open.config != nullptr) snd_config_delete(open.config);
    open.mixer = nullptr;
    open.config = nullptr;
    open.keptLine = 0;
    open.clean = false;
    open.lost = false;
}

void AlsaMixer::openSession(Open& open) {
    // Noted before the open: a change while it runs brings another one.
    const std::uint64_t changes = defaultChanges();
    open.mixer = openDevice(open.config);
    if (open.mixer != nullptr) open.defaultSeen = changes;
}

bool AlsaMixer::usable(Open& open) {
    bool newDefault = false;
    if (open.mixer != nullptr) {
        if (open.defaultSeen != defaultChanges()) {
            // Another output became the default: the device is opened again at once.
            closeDevice(open);
            open.nextAttempt = clock_();
            newDefault = true;
        } else if (const int events = open.lost ? -1 : snd_mixer_handle_events(open.mixer);
                   events >= 0) {
            // Took in changes other programs made since the last transfer. An error there
            // means the connection is gone (the sound server ended): the element values are
            // no longer the device's. Events may also have added or removed elements.
            if (events > 0) open.keptLine = 0;
            return true;
        } else {
            closeDevice(open);
            open.nextAttempt = clock_();
        }
    }
    const std::int64_t now = clock_();
    if (now < open.nextAttempt) return false;
    open.nextAttempt = now + kReopenIntervalMs;
    openSession(open);
    if (open.mixer != nullptr && !newDefault) {
        // Back after the server was away (or there for the first time): it is settling.
        open.settleUntil = now + kSettleMs;
        open.cameValues.clear();
    }
    reachable(open.mixer != nullptr);
    return open.mixer != nullptr;
}

void AlsaMixer::reachable(bool yes) {
    if (yes == reachable_) return;
    reachable_ = yes;
    if (!reports_) return;
    const std::string text =
        yes ? Tr(texts(), "the sound server is back; the volume is followed again.")
            : Tr(texts(),
                 "the sound server cannot be reached; the volume is followed once it is "
                 "there.");
    std::fprintf(stderr, "vexlo: %s\n", text.c_str());
}

long AlsaMixer::toDescribed(const Open& open, std::uint32_t id, const Element& e,
                            long value) const {
    const auto told = open.described.find(id);
    if (told == open.described.end()) return value;
    long min = 0, max = 0;
    if (e.capture) {
        snd_mixer_selem_get_capture_volume_range(e.elem, &min, &max);
    } else {
        snd_mixer_selem_get_playback_volume_range(e.elem, &min, &max);
    }
    if (min == told->second.minimum && max == told->second.maximum) return value;
    return Rescale(value, min, max, told->second.minimum, told->second.maximum);
}

long AlsaMixer::fromDescribed(const Open& open, std::uint32_t id, long level, long min,
                              long max) const {
    const auto told = open.described.find(id);
    if (told == open.described.end()) return std::clamp(level, min, max);
    return Rescale(level, told->second.minimum, told->second.maximum, min, max);
}

AlsaMixer::Open* AlsaMixer::find(MixerHandle handle) {
    const auto it = opens_.find(handle);
    return it == opens_.end() ? nullptr : &it->second;
}

MMResult AlsaMixer::open(std::uint32_t deviceId, MixerHandle& handle) {
    const std::lock_guard<std::mutex> hold(lock_);
    handle = 0;
    if (deviceId != 0) return MMSYSERR_BADDEVICEID;
    // Without the device (no sound server yet) the session is made all the same and the device
    // opened when it comes.
    Open session;
    openSession(session);
    session.nextAttempt = clock_() + kReopenIntervalMs;
    reachable(session.mixer != nullptr);
    handle = nextHandle_++;
    opens_[handle] = std::move(session);
    return MMSYSERR_NOERROR;
}

MMResult AlsaMixer::close(MixerHandle handle) {
    const std::lock_guard<std::mutex> hold(lock_);
    const auto it = opens_.find(handle);
    if (it == opens_.end()) return MMSYSERR_INVALHANDLE;
    closeDevice(it->second);
    opens_.erase(it);
    return MMSYSERR_NOERROR;
}

AlsaMixer::Element AlsaMixer::element(Open& open, std::uint32_t componentType) {
    if (open.mixer == nullptr) return {};
    for (const char* name : ElementNames(componentType)) {
        snd_mixer_selem_id_t* id = nullptr;
        snd_mixer_selem_id_alloca(&id);
        snd_mixer_selem_id_set_index(id, 0);
        snd_mixer_selem_id_set_name(id, name);
        snd_mixer_elem_t* elem = snd_mixer_find_selem(open.mixer, id);
        if (elem == nullptr) continue;
        const bool playback =
            snd_mixer_selem_has_playback_volume(elem) || snd_mixer_selem_has_playback_switch(elem);
        const bool capture =
            snd_mixer_selem_has_capture_volume(elem) || snd_mixer_selem_has_capture_switch(elem);
        if (!playback && !capture) continue;
        // The recording side uses the capture controls of an element that has both.
        const bool useCapture = !playback || componentType == MIXERLINE_COMPONENTTYPE_DST_WAVEIN;
        return {elem, useCapture};
    }
    return {};
}

const AlsaMixer::Element& AlsaMixer::keptElement(Open& open, std::uint32_t componentType) {
    if (open.keptLine == componentType) return open.kept;
    open.kept = element(open, componentType);
    open.keptChannels.clear();
    if (open.kept.elem == nullptr) return open.kept;
    open.keptLine = componentType;
    for (int ch = 0; ch <= SND_MIXER_SCHN_LAST; ++ch) {
        const auto channel = static_cast<snd_mixer_selem_channel_id_t>(ch);
        if (open.kept.capture ? snd_mixer_selem_has_capture_channel(open.kept.elem, channel)
                              : snd_mixer_selem_has_playback_channel(open.kept.elem, channel)) {
            open.keptChannels.push_back(channel);
        }
    }
    return open.kept;
}

MMResult AlsaMixer::lineByComponentType(MixerHandle handle, std::uint32_t componentType,
                                        std::uint32_t& lineId) {
    const std::lock_guard<std::mutex> hold(lock_);
    Open* open = find(handle);
    if (open == nullptr) return MMSYSERR_INVALHANDLE;
    // While the device is away only the master line is known: every device has one.
    const bool assumed =
        open->mixer == nullptr && componentType == MIXERLINE_COMPONENTTYPE_DST_SPEAKERS;
    if (!assumed && element(*open, componentType).elem == nullptr) return MIXERR_INVALLINE;
    lineId = componentType;
    return MMSYSERR_NOERROR;
}

MMResult AlsaMixer::controlByType(MixerHandle handle, std::uint32_t lineId,
                                  std::uint32_t controlType, std::uint32_t cbControl, void* block) {
    const std::lock_guard<std::mutex> hold(lock_);
    Open* open = find(handle);
    if (open == nullptr) return MMSYSERR_INVALHANDLE;
    if (block == nullptr || cbControl < kPublishedControlSize) { return MMSYSERR_INVALPARAM; }
    ControlRecord record {};
    record.cbStruct = cbControl;
    record.dwControlType = controlType;
    if (open->mixer == nullptr && lineId == MIXERLINE_COMPONENTTYPE_DST_SPEAKERS) {
        if (controlType != MIXERCONTROL_CONTROLTYPE_VOLUME &&
            controlType != MIXERCONTROL_CONTROLTYPE_MUTE) {
            return MIXERR_INVALCONTROL;
        }
        DescribeMaster(record, controlType, kAssumedMaximum);
        if (controlType == MIXERCONTROL_CONTROLTYPE_VOLUME) {
            open->described[record.dwControlID] = {0, kAssumedMaximum};
        }
        std::memcpy(block, &record, std::min<std::size_t>(cbControl, sizeof record));
        return MMSYSERR_NOERROR;
    }
    const Element e = element(*open, lineId);
    if (e.elem == nullptr) return MIXERR_INVALLINE;

    const std::string name = snd_mixer_selem_get_name(e.elem);
    if (controlType == MIXERCONTROL_CONTROLTYPE_VOLUME) {
        const bool has = e.capture ? snd_mixer_selem_has_capture_volume(e.elem)
                                   : snd_mixer_selem_has_playback_volume(e.elem);
        if (!has) return MIXERR_INVALCONTROL;
        long min = 0, max = 0;
        if (e.capture) {
            snd_mixer_selem_get_capture_volume_range(e.elem, &min, &max);
        } else {
            snd_mixer_selem_get_playback_volume_range(e.elem, &min, &max);
        }
        record.dwControlID = ControlId(lineId, kVolumeKind);
        record.lMinimum = static_cast<std::int32_t>(min);
        record.lMaximum = static_cast<std::int32_t>(max);
        open->described[record.dwControlID] = {min, max};
        CopyName(record.szShortName, sizeof record.szShortName, name);
        CopyName(record.szName, sizeof record.szName, name + " Volume");
    } else if (controlType == MIXERCONTROL_CONTROLTYPE_MUTE) {
        const bool has = e.capture ? snd_mixer_selem_has_capture_switch(e.elem)
                                   : snd_mixer_selem_has_playback_switch(e.elem);
        if (!has) return MIXERR_INVALCONTROL;
        record.dwControlID = ControlId(lineId, kMuteKind);
        record.lMinimum = 0;
        record.lMaximum = 1;
        CopyName(record.szShortName, sizeof record.szShortName, name);
        CopyName(record.szName, sizeof record.szName, name + " Mute");
    } else {
        // No simple-mixer element carries a peak meter.
        return MIXERR_INVALCONTROL;
    }
    std::memcpy(block, &record, std::min<std::size_t>(cbControl, sizeof record));
    return MMSYSERR_NOERROR;
}

MMResult AlsaMixer::getControlDetails(MixerHandle handle, ControlDetails& details) {
    const std::lock_guard<std::mutex> hold(lock_);
    Open* open = find(handle);
    if (open == nullptr) return MMSYSERR_INVALHANDLE;
    if (details.paDetails == nullptr || details.cbDetails < 4 || details.cChannels == 0) {
        return MMSYSERR_INVALPARAM;
    }
    const std::uint32_t kind = details.dwControlID & ((1u << kKindBits) - 1);
    if (kind != kVolumeKind && kind != kMuteKind) return MIXERR_INVALCONTROL;
    auto* bytes = static_cast<unsigned char*>(details.paDetails);
    auto fill = [&](std::uint32_t value) {
        for (std::uint32_t i = 0; i < details.cChannels; ++i)
            std::memcpy(bytes + i * details.cbDetails, &value, 4);
    };
    const bool fresh = open->justRead && kind == kMuteKind && open->mixer != nullptr;
    open->justRead = false;
    open->clean = false;
    if (!fresh && !usable(*open)) {
        const auto last = open->lastValues.find(details.dwControlID);
        fill(last != open->lastValues.end() ? last->second : 0);
        return MMSYSERR_NODRIVER;
    }
    const Element e = keptElement(*open, details.dwControlID >> kKindBits);
    if (e.elem == nullptr) return MIXERR_INVALCONTROL;

    // With one channel requested the control is read as one value: the loudest channel, and
    // muted only when every channel is off.
    long value = 0;
    bool any = false;
    for (const snd_mixer_selem_channel_id_t channel : open->keptChannels) {
        long v = 0;
        int on = 0;
        int rc = 0;
        if (kind == kVolumeKind) {
            rc = e.capture ? snd_mixer_selem_get_capture_volume(e.elem, channel, &v)
                           : snd_mixer_selem_get_playback_volume(e.elem, channel, &v);
            if (rc >= 0) value = any ? std::max(value, v) : v;
        } else {
            rc = e.capture ? snd_mixer_selem_get_capture_switch(e.elem, channel, &on)
                           : snd_mixer_selem_get_playback_switch(e.elem, channel, &on);
            if (rc >= 0) value = (any ? value : 1) && !on;
        }
        if (rc >= 0) any = true;
    }
    if (!any) return MMSYSERR_ERROR;
    open->justRead = kind == kVolumeKind;
    if (kind == kVolumeKind) value = toDescribed(*open, details.dwControlID, e, value);
    const auto out = static_cast<std::uint32_t>(value);
    open->lastValues[details.dwControlID] = out;
    fill(out);
    if (open->settleUntil != 0) {
        if (clock_() >= open->settleUntil) {
            open->settleUntil = 0;  // settled: the clock need not be asked again
        } else {
            // The server settling its levels after it came back: not a change anybody made.
            const auto came = open->cameValues.try_emplace(details.dwControlID, out).first;
            if (came->second != out) return MMSYSERR_NODRIVER;
        }
    }
    // A level and its mute read together, as the watch reads them each tick: this handle is
    // the watch's, and what it read is where things stand.
    open->clean = fresh;
    if (fresh) watch_ = handle;
    return MMSYSERR_NOERROR;
}

bool AlsaMixer::unchangedSinceLastRead() {
    const std::lock_guard<std::mutex> hold(lock_);
    if (written_) {
        written_ = false;
        return false;
    }
    Open* open = find(watch_);
    // A read now would do more than the last one: open the device again, follow another
    // default output, or tell settling levels from changes.
    if (open == nullptr || !open->clean || open->mixer == nullptr || open->settleUntil != 0 ||
        open->defaultSeen != defaultChanges()) {
        return false;
    }
    // The element values change only through the device's events: none, nothing new.
    const int events = snd_mixer_handle_events(open->mixer);
    if (events == 0) return true;
    open->clean = false;
    if (events > 0) {
        open->keptLine = 0;
    } else {
        open->lost = true;
    }
    return false;
}

MMResult AlsaMixer::setControlDetails(MixerHandle handle, const ControlDetails& details) {
    const std::lock_guard<std::mutex> hold(lock_);
    Open* open = find(handle);
    if (open == nullptr) return MMSYSERR_INVALHANDLE;
    if (details.paDetails == nullptr || details.cbDetails < 4 || details.cChannels == 0) {
        return MMSYSERR_INVALPARAM;
    }
    const std::uint32_t kind = details.dwControlID & ((1u << kKindBits) - 1);
    if (kind != kVolumeKind && kind != kMuteKind) return MIXERR_INVALCONTROL;
    // The simple mixer skips a write that equals the value it knows; that must be the value
    // the device has now, not one another program has changed since.
    open->justRead = false;
    // What every handle read last is no longer what the device has, and the watch takes a
    // tick even when the writer reads the new value back first.
    for (auto& [other, session] : opens_) session.clean = false;
    written_ = true;
    if (!usable(*open)) return MMSYSERR_NODRIVER;
    const Element e = element(*open, details.dwControlID >> kKindBits);
    if (e.elem == nullptr) return MIXERR_INVALCONTROL;
    // The program changes the level itself: what the device says from now on counts.
    open->settleUntil = 0;
    std::int32_t raw = 0;
    std::memcpy(&raw, details.paDetails, 4);
    int rc = 0;
    std::uint32_t written = 0;
    if (kind == kVolumeKind) {
        long min = 0, max = 0;
        if (e.capture) {
            snd_mixer_selem_get_capture_volume_range(e.elem, &min, &max);
        } else {
            snd_mixer_selem_get_playback_volume_range(e.elem, &min, &max);
        }
        // Read as the signed level the program computed: above the range is the top, below
        // it (a negative level) the bottom, never a wrap to the other end.
        const long level = fromDescribed(*open, details.dwControlID, raw, min, max);
        written = static_cast<std::uint32_t>(level);
        rc = e.capture ? snd_mixer_selem_set_capture_volume_all(e.elem, level)
                       : snd_mixer_selem_set_playback_volume_all(e.elem, level);
    } else {
        const int on = raw != 0 ? 0 : 1;
        written = raw != 0 ? 1 : 0;
        rc = e.capture ? snd_mixer_selem_set_capture_switch_all(e.elem, on)
                       : snd_mixer_selem_set_playback_switch_all(e.elem, on);
    }
    if (rc < 0) return MMSYSERR_ERROR;
    // What a read gives until the device says otherwise.
    open->lastValues[details.dwControlID] = written;
    return MMSYSERR_NOERROR;
}

}  // namespace vexlo::linux_platform
