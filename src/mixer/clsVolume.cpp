#include "mixer/clsVolume.h"

#include <cstring>

#include "controller/errors.h"
#include "platform/types.h"

namespace vexlo {

namespace {
constexpr std::uint32_t kCaptureBlockSize = 8192;
constexpr std::uint32_t kErrorTextSize = 200;
}  // namespace

clsVolume::clsVolume(MixerDevice& mixer, WaveInDevice& waveIn, MessageBoxes& messageBox)
    : mixer_(mixer), waveIn_(waveIn), messageBox_(messageBox) {
    LastResult_ = mixer_.open(0, MixerHandle_);
    if (LastResult_ != MMSYSERR_NOERROR) {
        MixerHandle_ = 0;
        return;
    }
    opened_ = true;

    struct Lookup {
        std::uint32_t componentType;
        std::uint32_t controlType;
        ControlRecord* record;
    };
    const Lookup lookups[] = {
        {MIXERLINE_COMPONENTTYPE_DST_SPEAKERS, MIXERCONTROL_CONTROLTYPE_VOLUME, &VolumeCtl},
        {MIXERLINE_COMPONENTTYPE_SRC_MICROPHONE, MIXERCONTROL_CONTROLTYPE_VOLUME, &MicCtl},
        {MIXERLINE_COMPONENTTYPE_SRC_LINE, MIXERCONTROL_CONTROLTYPE_VOLUME, &LineCtl},
        {MIXERLINE_COMPONENTTYPE_SRC_COMPACTDISC, MIXERCONTROL_CONTROLTYPE_VOLUME, &CDCtl},
        {MIXERLINE_COMPONENTTYPE_SRC_SYNTHESIZER, MIXERCONTROL_CONTROLTYPE_VOLUME, &SynCtl},
        {MIXERLINE_COMPONENTTYPE_SRC_WAVEOUT, MIXERCONTROL_CONTROLTYPE_VOLUME, &WaveCtl},
        {MIXERLINE_COMPONENTTYPE_DST_SPEAKERS, MIXERCONTROL_CONTROLTYPE_MUTE, &VolumeMuteCtl},
        {MIXERLINE_COMPONENTTYPE_SRC_MICROPHONE, MIXERCONTROL_CONTROLTYPE_MUTE, &MicMuteCtl},
        {MIXERLINE_COMPONENTTYPE_SRC_LINE, MIXERCONTROL_CONTROLTYPE_MUTE, &LineMuteCtl},
        {MIXERLINE_COMPONENTTYPE_SRC_COMPACTDISC, MIXERCONTROL_CONTROLTYPE_MUTE, &CDMuteCtl},
        {MIXERLINE_COMPONENTTYPE_SRC_SYNTHESIZER, MIXERCONTROL_CONTROLTYPE_MUTE, &SynMuteCtl},
        {MIXERLINE_COMPONENTTYPE_SRC_WAVEOUT, MIXERCONTROL_CONTROLTYPE_MUTE, &WaveMuteCtl},
    };
    for (const Lookup& l : lookups)
        FindControl(MixerHandle_, l.componentType, l.controlType, *l.record);

    MeterBlock.assign(1, 0);
    MeterDetails.cbStruct = 24;
    MeterDetails.paDetails = MeterBlock.data();
    MeterDetails.cbDetails = 4;
    MeterDetails.cChannels = 1;

    if (!FindControl(MixerHandle_, MIXERLINE_COMPONENTTYPE_DST_WAVEIN,
                     MIXERCONTROL_CONTROLTYPE_PEAKMETER, InputMeterCtl)) {
        FindControl(MixerHandle_, MIXERLINE_COMPONENTTYPE_SRC_MICROPHONE,
                    MIXERCONTROL_CONTROLTYPE_PEAKMETER, InputMeterCtl);
    }
    FindControl(MixerHandle_, MIXERLINE_COMPONENTTYPE_SRC_WAVEOUT,
                MIXERCONTROL_CONTROLTYPE_PEAKMETER, OutputMeterCtl);
}

clsVolume::~clsVolume() {
    if (Capturing_) StopCapture();
    MeterBlock.clear();
    if (opened_) mixer_.close(MixerHandle_);
}

bool clsVolume::FindControl(MixerHandle handle, std::uint32_t componentType,
                            std::uint32_t controlType, ControlRecord& record) {
    std::uint32_t lineId = 0;
    if (mixer_.lineByComponentType(handle, componentType, lineId) != MMSYSERR_NOERROR) return false;
    ControlRecord block {};
    record.cbStruct = kControlRecordSize;
    const MMResult result =
        mixer_.controlByType(handle, lineId, controlType, kControlRecordSize, &block);
    if (result != MMSYSERR_NOERROR) return false;
    std::memcpy(&record, &block, sizeof record);
    return true;
}

bool clsVolume::WriteControlValue(MixerHandle handle, const ControlRecord& record,
                                  std::int32_t value) {
    std::uint32_t block = static_cast<std::uint32_t>(value);
    ControlDetails details;
    details.dwControlID = record.dwControlID;
    details.paDetails = &block;
    LastResult_ = mixer_.setControlDetails(handle, details);
    return LastResult_ == MMSYSERR_NOERROR;
}

std::int32_t clsVolume::ReadControlValue(const ControlRecord& record) {
    std::uint32_t block = 0;
    ControlDetails details;
    details.dwControlID = record.dwControlID;
    details.paDetails = &block;
    LastResult_ = mixer_.getControlDetails(MixerHandle_, details);
    return static_cast<std::int32_t>(block);
}

bool clsVolume::ReadMute(const ControlRecord& record) {
    return ReadControlValue(record) == 1;
}

void clsVolume::WriteMute(const ControlRecord& record, bool mute) {
    WriteControlValue(MixerHandle_, record, mute ? 1 : 0);
}

void clsVolume::ReportWaveInError() {
    ErrorText = waveIn_.errorText(LastResult_, kErrorTextSize);
    if (ErrorText.size() > kErrorTextSize - 1) ErrorText.resize(kErrorTextSize - 1);
    messageBox_.show(ErrorText, std::string(kAppTitle) + " - Mixercontrol Fehler",
                     MB_OK | MB_ICONHAND);
}

bool clsVolume::StartCapture() {
    if (Capturing_) return true;
    CaptureFormat.wFormatTag = 1;  // PCM
    CaptureFormat.nChannels = 1;
    CaptureFormat.nSamplesPerSec = 8000;
    CaptureFormat.wBitsPerSample = 8;
    CaptureFormat.nBlockAlign = CaptureFormat.wBitsPerSample / 8;
    CaptureFormat.nAvgBytesPerSec = CaptureFormat.nBlockAlign * CaptureFormat.nSamplesPerSec;
    CaptureFormat.cbSize = 0;
    for (std::size_t i = 0; i < 2; ++i) {
        CaptureBuffers[i].assign(kCaptureBlockSize, 0);
        CaptureHeaders[i] = WaveHeader {};
        CaptureHeaders[i].lpData = CaptureBuffers[i].data();
        CaptureHeaders[i].dwBufferLength = kCaptureBlockSize;
    }
    LastResult_ = waveIn_.open(WaveInHandle_, 0, CaptureFormat);
    if (LastResult_ != MMSYSERR_NOERROR) {
        for (auto& b : CaptureBuffers) std::vector<char>().swap(b);
        ReportWaveInError();
        return false;
    }
    for (auto& header : CaptureHeaders) {
        LastResult_ = waveIn_.prepareHeader(WaveInHandle_, header, kWaveHeaderSize);
        if (LastResult_ != MMSYSERR_NOERROR) ReportWaveInError();
    }
    for (auto& header : CaptureHeaders) {
        LastResult_ = waveIn_.addBuffer(WaveInHandle_, header, kWaveHeaderSize);
        if (LastResult_ != MMSYSERR_NOERROR) ReportWaveInError();
    }
    Capturing_ = true;
    LastResult_ = waveIn_.start(WaveInHandle_);
    return true;
}

void clsVolume::StopCapture() {
    Capturing_ = false;
    waveIn_.reset(WaveInHandle_);
    waveIn_.stop(WaveInHandle_);
    for (std::size_t i = 0; i < 2; ++i) {
        waveIn_.unprepareHeader(WaveInHandle_, CaptureHeaders[i], kWaveHeaderSize);
        std::vector<char>().swap(CaptureBuffers[i]);
    }
    waveIn_.close(WaveInHandle_);
}

void clsVolume::RequeueFinishedBlocks() {
    if (!Capturing_) return;
    for (auto& header : CaptureHeaders) {
        if (header.dwFlags & WHDR_DONE) {
            LastResult_ = waveIn_.addBuffer(WaveInHandle_, header, kWaveHeaderSize);
        }
    }
}

std::int32_t clsVolume::ReadMeter(const ControlRecord& record) {
    RequeueFinishedBlocks();
    // Without an open device there is no value block to read from.
    if (!opened_) return 0;
    MeterDetails.dwControlID = record.dwControlID;
    MeterDetails.cMultipleItems = record.cMultipleItems;
    LastResult_ = mixer_.getControlDetails(MixerHandle_, MeterDetails);
    MeterValue = MeterBlock[0];
    // The magnitude of the most negative value does not fit; it stays the largest one.
    if (MeterValue < 0) MeterValue = MeterValue == INT32_MIN ? INT32_MAX : -MeterValue;
    return MeterValue;
}

std::int32_t clsVolume::CurrentVolumeMeterInput() {
    if (!StartCapture()) StartCapture();
    return ReadMeter(InputMeterCtl);
}

std::int32_t clsVolume::CurrentVolumeMeterOutput() {
    return ReadMeter(OutputMeterCtl);
}

}  // namespace vexlo
