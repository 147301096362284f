// clsVolume: the program's access to the mixer device and the wave-in capture. Creating an
// instance opens mixer device 0 and looks up the line controls once; every property access
// is one exchange with the device. Nothing is scaled, clamped or cached.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/message_box.h"
#include "platform/mixer_device.h"
#include "platform/wave_in_device.h"

namespace vexlo {

class clsVolume {
  public:
    clsVolume(MixerDevice& mixer, WaveInDevice& waveIn, MessageBoxes& messageBox);
    ~clsVolume();
    clsVolume(const clsVolume&) = delete;
    clsVolume& operator=(const clsVolume&) = delete;

    // Lower bounds.
    std::int32_t VolumeMin() const { return VolumeCtl.lMinimum; }
    std::int32_t MicMin() const { return MicCtl.lMinimum; }
    std::int32_t LineMin() const { return LineCtl.lMinimum; }
    std::int32_t CDMin() const { return CDCtl.lMinimum; }
    std::int32_t WaveMin() const { return WaveCtl.lMinimum; }
    std::int32_t SynMin() const { return SynCtl.lMinimum; }
    // Upper bounds.
    std::int32_t VolumeMax() const { return VolumeCtl.lMaximum; }
    std::int32_t MicMax() const { return MicCtl.lMaximum; }
    std::int32_t LineMax() const { return LineCtl.lMaximum; }
    std::int32_t CDMax() const { return CDCtl.lMaximum; }
    std::int32_t SynMax() const { return SynCtl.lMaximum; }
    std::int32_t WaveMax() const { return WaveCtl.lMaximum; }
    // Levels, read.
    std::int32_t VolumeLevel() { return ReadControlValue(VolumeCtl); }
    std::int32_t MicLevel() { return ReadControlValue(MicCtl); }
    std::int32_t LineLevel() { return ReadControlValue(LineCtl); }
    std::int32_t SynLevel() { return ReadControlValue(SynCtl); }
    std::int32_t WaveLevel() { return ReadControlValue(WaveCtl); }
    std::int32_t CDLevel() { return ReadControlValue(CDCtl); }
    // Levels, set.
    void MicLevel(std::int32_t v) { WriteControlValue(MixerHandle_, MicCtl, v); }
    void LineLevel(std::int32_t v) { WriteControlValue(MixerHandle_, LineCtl, v); }
    void CDLevel(std::int32_t v) { WriteControlValue(MixerHandle_, CDCtl, v); }
    void SynLevel(std::int32_t v) { WriteControlValue(MixerHandle_, SynCtl, v); }
    void WaveLevel(std::int32_t v) { WriteControlValue(MixerHandle_, WaveCtl, v); }
    void VolumeLevel(std::int32_t v) { WriteControlValue(MixerHandle_, VolumeCtl, v); }
    // Mutes, read.
    bool VolumeMute() { return ReadMute(VolumeMuteCtl); }
    bool MikrofonMute() { return ReadMute(MicMuteCtl); }
    bool LineMute() { return ReadMute(LineMuteCtl); }
    bool CompactDiscMute() { return ReadMute(CDMuteCtl); }
    bool SynthesizerMute() { return ReadMute(SynMuteCtl); }
    bool WaveMute() { return ReadMute(WaveMuteCtl); }
    // Mutes, set.
    void VolumeMute(bool m) { WriteMute(VolumeMuteCtl, m); }
    void MikrofonMute(bool m) { WriteMute(MicMuteCtl, m); }
    void LineMute(bool m) { WriteMute(LineMuteCtl, m); }
    void CompactDiscMute(bool m) { WriteMute(CDMuteCtl, m); }
    void SynthesizerMute(bool m) { WriteMute(SynMuteCtl, m); }
    void WaveMute(bool m) { WriteMute(WaveMuteCtl, m); }
    // Level meters.
    std::int32_t MaxVolumeMeterInput() const { return InputMeterCtl.lMaximum; }
    std::int32_t MinVolumeMeterInput() const { return InputMeterCtl.lMinimum; }
    std::int32_t MaxVolumeMeterOutput() const { return OutputMeterCtl.lMaximum; }
    std::int32_t MinVolumeMeterOutput() const { return OutputMeterCtl.lMinimum; }
    std::int32_t CurrentVolumeMeterOutput();
    std::int32_t CurrentVolumeMeterInput();

    // State, for diagnostics and tests.
    MMResult LastResult() const { return LastResult_; }
    MixerHandle Handle() const { return MixerHandle_; }
    bool Capturing() const { return Capturing_; }
    const ControlRecord& VolumeRecord() const { return VolumeCtl; }
    const ControlRecord& VolumeMuteRecord() const { return VolumeMuteCtl; }
    // Whether the master line has a mute switch (every device found one so far; a line
    // without one reads as never muted).
    bool HasVolumeMute() const {
        return VolumeMuteCtl.dwControlType == MIXERCONTROL_CONTROLTYPE_MUTE;
    }
    const ControlRecord& InputMeterRecord() const { return InputMeterCtl; }
    const ControlRecord& OutputMeterRecord() const { return OutputMeterCtl; }

  private:
    bool FindControl(MixerHandle handle, std::uint32_t componentType, std::uint32_t controlType,
                     ControlRecord& record);
    bool WriteControlValue(MixerHandle handle, const ControlRecord& record, std::int32_t value);
    std::int32_t ReadControlValue(const ControlRecord& record);
    bool ReadMute(const ControlRecord& record);
    void WriteMute(const ControlRecord& record, bool mute);
    bool StartCapture();
    void StopCapture();
    void ReportWaveInError();
    void RequeueFinishedBlocks();
    std::int32_t ReadMeter(const ControlRecord& record);

    MixerDevice& mixer_;
    WaveInDevice& waveIn_;
    MessageBoxes& messageBox_;
    bool opened_ = false;

    MixerHandle MixerHandle_ = 0;
    ControlRecord VolumeCtl {}, MicCtl {}, LineCtl {}, CDCtl {}, SynCtl {}, WaveCtl {};
    ControlRecord VolumeMuteCtl {}, MicMuteCtl {}, LineMuteCtl {}, CDMuteCtl {}, SynMuteCtl {},
        WaveMuteCtl {};
    MMResult LastResult_ = MMSYSERR_NOERROR;
    std::string ErrorText;
    WaveInHandle WaveInHandle_ = 0;
    WaveFormat CaptureFormat {};
    std::array<std::vector<char>, 2> CaptureBuffers;
    std::array<WaveHeader, 2> CaptureHeaders {};
    bool Capturing_ = false;
    ControlRecord InputMeterCtl {}, OutputMeterCtl {};
    std::int32_t MeterValue = 0;
    // The meter value block, shared by both meters; it exists only once the device opened,
    // and it starts zeroed.
    std::vector<std::int32_t> MeterBlock;
    ControlDetails MeterDetails {};
};

}  // namespace vexlo
