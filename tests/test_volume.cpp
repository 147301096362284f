// clsVolume: discovery, transfers, failure states and the meter capture.
#include <gtest/gtest.h>

#include "mixer/clsVolume.h"
#include "platform/fake/fake_platform.h"

namespace vexlo::testing {
namespace {

using fake::FakePlatform;

struct VolumeTest : ::testing::Test {
    FakePlatform fp;
    std::unique_ptr<clsVolume> make() {
        return std::make_unique<clsVolume>(fp.mixer, fp.waveIn, fp.messageBox);
    }
    std::vector<std::string> lookups() {
        std::vector<std::string> out;
        for (const auto& entry : fp.mixer.log) {
            if (entry.rfind("line ", 0) == 0) out.push_back(entry.substr(5));
        }
        return out;
    }
};

TEST_F(VolumeTest, DiscoveryOrderAndRecords) {
    auto vol = make();
    EXPECT_EQ(fp.mixer.log.front(), "open 0");
    EXPECT_EQ(lookups(), (std::vector<std::string> {"0x4", "0x1003", "0x1002", "0x1005", "0x1004",
                                                    "0x1008", "0x4", "0x1003", "0x1002", "0x1005",
                                                    "0x1004", "0x1008", "0x7", "0x1008"}));
    const ControlRecord& r = vol->VolumeRecord();
    EXPECT_EQ(r.cbStruct, 152u);
    EXPECT_EQ(r.dwControlType, MIXERCONTROL_CONTROLTYPE_VOLUME);
    EXPECT_EQ(vol->VolumeMin(), 0);
    EXPECT_EQ(vol->VolumeMax(), 65535);
    EXPECT_EQ(vol->MaxVolumeMeterInput(), 32767);
    EXPECT_EQ(vol->MinVolumeMeterOutput(), -32768);
    for (const auto& entry : fp.mixer.log) {
        if (entry.rfind("control", 0) == 0) {
            EXPECT_NE(entry.find(" 152"), std::string::npos) << entry;
        }
    }
}

TEST_F(VolumeTest, NoDeviceReadsZeroAndWritesNothing) {
    fp.mixer.openResult = MMSYSERR_NODRIVER;
    auto vol = make();
    EXPECT_EQ(vol->LastResult(), MMSYSERR_NODRIVER);
    EXPECT_EQ(fp.mixer.log, (std::vector<std::string> {"open 0"}));  // no lookups at all
    EXPECT_EQ(vol->VolumeMax(), 0);
    EXPECT_EQ(vol->VolumeMin(), 0);
    EXPECT_EQ(vol->VolumeLevel(), 0);
    EXPECT_NE(vol->LastResult(), MMSYSERR_NOERROR);
    vol->VolumeLevel(1000);
    EXPECT_FALSE(vol->MikrofonMute());
    vol->MikrofonMute(true);
    EXPECT_TRUE(fp.mixer.writes.empty());
    // Meters read 0 without touching a value block that was never made.
    EXPECT_EQ(vol->CurrentVolumeMeterOutput(), 0);
    vol.reset();
    EXPECT_EQ(fp.mixer.log.back(), "open 0");  // nothing to close
}

TEST_F(VolumeTest, MissingLinesAndControlsLeaveZeroRecords) {
    fp.mixer.removeControl(MIXERLINE_COMPONENTTYPE_DST_SPEAKERS, MIXERCONTROL_CONTROLTYPE_MUTE);
    fp.mixer.removeLine(MIXERLINE_COMPONENTTYPE_SRC_COMPACTDISC);
    fp.mixer.setMaster(4000);
    auto vol = make();
    EXPECT_EQ(vol->VolumeLevel(), 4000);
    EXPECT_EQ(vol->VolumeMuteRecord().dwControlID, 0u);
    EXPECT_EQ(vol->VolumeMuteRecord().cbStruct, 152u);  // set before the failed query
    EXPECT_EQ(vol->CDMax(), 0);
    EXPECT_EQ(vol->LineMax(), 65535);
}

TEST_F(VolumeTest, InputMeterFallsBackToTheMicrophone) {
    fp.mixer.removeLine(MIXERLINE_COMPONENTTYPE_DST_WAVEIN);
    fp.mixer.addControl(MIXERLINE_COMPONENTTYPE_SRC_MICROPHONE, MIXERCONTROL_CONTROLTYPE_PEAKMETER,
                        -100, 100, 0, 3);
    auto vol = make();
    EXPECT_EQ(vol->MaxVolumeMeterInput(), 100);
    EXPECT_EQ(vol->InputMeterRecord().cMultipleItems, 3u);
    // With both, the wave-in destination's meter is taken.
    FakePlatform other;
    other.mixer.addControl(MIXERLINE_COMPONENTTYPE_SRC_MICROPHONE,
                           MIXERCONTROL_CONTROLTYPE_PEAKMETER, -100, 100);
    clsVolume both(other.mixer, other.waveIn, other.messageBox);
    EXPECT_EQ(both.MaxVolumeMeterInput(), 32767);
}

TEST_F(VolumeTest, TransfersPassValuesUnchanged) {
    auto vol = make();
    vol->VolumeLevel(70000);  // above the maximum: handed on as it is
    EXPECT_EQ(fp.mixer.writes.back().second, 70000u);
    EXPECT_EQ(vol->VolumeLevel(), 70000);
    vol->VolumeLevel(-5);
    EXPECT_EQ(fp.mixer.writes.back().second, 0xFFFFFFFBu);
    EXPECT_EQ(vol->VolumeLevel(), -5);
    // A device that refuses keeps its level; the class only records the code.
    fp.mixer.writeMode = fake::FakeMixer::WriteMode::Refuse;
    vol->VolumeLevel(70000);
    EXPECT_EQ(vol->LastResult(), MMSYSERR_INVALPARAM);
    EXPECT_EQ(vol->VolumeLevel(), -5);
    // The maximum stays what the device said at creation.
    fp.mixer.find(MIXERLINE_COMPONENTTYPE_DST_SPEAKERS, MIXERCONTROL_CONTROLTYPE_VOLUME)->max = 100;
    EXPECT_EQ(vol->VolumeMax(), 65535);
}

TEST_F(VolumeTest, MutesReadOneAsMutedOnly) {
    auto vol = make();
    auto* mute = fp.mixer.find(MIXERLINE_COMPONENTTYPE_SRC_WAVEOUT, MIXERCONTROL_CONTROLTYPE_MUTE);
    mute->value = 2;
    EXPECT_FALSE(vol->WaveMute());
    mute->value = 1;
    EXPECT_TRUE(vol->WaveMute());
    vol->WaveMute(false);
    EXPECT_EQ(mute->value, 0u);
    vol->WaveMute(true);
    EXPECT_EQ(mute->value, 1u);
    fp.mixer.readResult = MMSYSERR_ERROR;
    EXPECT_FALSE(vol->WaveMute());
    EXPECT_EQ(vol->VolumeLevel(), 0);  // a failed read reads 0
}

TEST_F(VolumeTest, TwoInstancesOwnTheirHandles) {
    auto a = make();
    auto b = make();
    EXPECT_NE(a->Handle(), b->Handle());
    EXPECT_EQ(fp.mixer.openHandles, 2);
    a.reset();
    EXPECT_EQ(fp.mixer.openHandles, 1);
    EXPECT_EQ(b->VolumeMax(), 65535);
}

TEST_F(VolumeTest, InputMeterStartsOneCaptureAndRequeuesFinishedBlocks) {
    auto vol = make();
    fp.mixer.find(MIXERLINE_COMPONENTTYPE_DST_WAVEIN, MIXERCONTROL_CONTROLTYPE_PEAKMETER)->value =
        static_cast<std::uint32_t>(-1200);
    EXPECT_EQ(vol->CurrentVolumeMeterOutput(), 0);
    EXPECT_TRUE(fp.waveIn.log.empty());  // the output meter starts no capture

    EXPECT_EQ(vol->CurrentVolumeMeterInput(), 1200);
    EXPECT_EQ(fp.waveIn.log, (std::vector<std::string> {"open 0", "prepare 0 32", "prepare 1 32",
                                                        "add 0", "add 1", "start"}));
    EXPECT_EQ(fp.waveIn.lastFormat.nSamplesPerSec, 8000u);
    EXPECT_EQ(fp.waveIn.lastFormat.wBitsPerSample, 8);
    EXPECT_EQ(fp.waveIn.lastFormat.nBlockAlign, 1);
    EXPECT_EQ(fp.waveIn.lastFormat.nAvgBytesPerSec, 8000u);
    EXPECT_EQ(fp.waveIn.headers.at(0)->dwBufferLength, 8192u);

    fp.waveIn.log.clear();
    vol->CurrentVolumeMeterInput();
    EXPECT_TRUE(fp.waveIn.log.empty());  // running: nothing reopened, nothing done yet
    fp.waveIn.fillQueued();
    vol->CurrentVolumeMeterOutput();
    EXPECT_EQ(fp.waveIn.log, (std::vector<std::string> {"add 0", "add 1"}));

    fp.waveIn.log.clear();
    vol.reset();
    EXPECT_EQ(fp.waveIn.log,
              (std::vector<std::string> {"reset", "stop", "unprepare 0", "unprepare 1", "close"}));
}

TEST_F(VolumeTest, NoWaveInDeviceShowsTwoBoxesPerReadAndStillReads) {
    fp.waveIn.openResult = MMSYSERR_BADDEVICEID;
    auto vol = make();
    fp.mixer.find(MIXERLINE_COMPONENTTYPE_DST_WAVEIN, MIXERCONTROL_CONTROLTYPE_PEAKMETER)->value =
        55;
    EXPECT_EQ(vol->CurrentVolumeMeterInput(), 55);
    ASSERT_EQ(fp.messageBox.shown.size(), 2u);
    EXPECT_EQ(fp.messageBox.shown[0].caption, "Vexlo - Mixercontrol Fehler");
    EXPECT_EQ(fp.messageBox.shown[0].style, 16u);
    EXPECT_EQ(fp.messageBox.shown[0].text, "Wave-in error 2: no device.");
    EXPECT_FALSE(vol->Capturing());
    vol.reset();
    EXPECT_EQ(fp.waveIn.log.back(), "open 0");  // nothing to stop
}

TEST_F(VolumeTest, FailedHeaderStepsAreReportedAndCaptureGoesOn) {
    fp.waveIn.prepareResult = MMSYSERR_NOMEM;
    auto vol = make();
    vol->CurrentVolumeMeterInput();
    EXPECT_EQ(fp.messageBox.shown.size(), 2u);  // one per header
    EXPECT_TRUE(vol->Capturing());
}

TEST_F(VolumeTest, FailedMeterReadKeepsTheLastValueAndTheBlockStartsZeroed) {
    auto vol = make();
    fp.mixer.readResult = MMSYSERR_ERROR;
    EXPECT_EQ(vol->CurrentVolumeMeterOutput(), 0);
    fp.mixer.readResult = MMSYSERR_NOERROR;
    fp.mixer.find(MIXERLINE_COMPONENTTYPE_SRC_WAVEOUT, MIXERCONTROL_CONTROLTYPE_PEAKMETER)->value =
        321;
    EXPECT_EQ(vol->CurrentVolumeMeterOutput(), 321);
    fp.mixer.readResult = MMSYSERR_ERROR;
    EXPECT_EQ(vol->CurrentVolumeMeterOutput(), 321);
    // The most negative meter value has no positive twin; it reads as the largest.
    fp.mixer.readResult = MMSYSERR_NOERROR;
    fp.mixer.find(MIXERLINE_COMPONENTTYPE_SRC_WAVEOUT, MIXERCONTROL_CONTROLTYPE_PEAKMETER)->value =
        0x80000000u;
    EXPECT_EQ(vol->CurrentVolumeMeterOutput(), INT32_MAX);
}

}  // namespace
}  // namespace vexlo::testing
