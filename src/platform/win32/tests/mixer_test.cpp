#include "platform/win32/mixer.h"

#include <gtest/gtest.h>

#include <cstring>

#include "platform/win32/wave_in.h"
#include "tests/test_support.h"

namespace vexlo::win32 {
namespace {

// What the fake endpoint does and what was done to it.
struct EndpointState {
    bool exists = true;
    HRESULT setResult = S_OK;
    float scalar = 0.5f;
    bool mute = false;
    int opened = 0;
    int writes = 0;
} g_endpoint;

class FakeEndpoint : public MasterEndpoint {
  public:
    HRESULT getScalar(float& scalar) override {
        scalar = g_endpoint.scalar;
        return S_OK;
    }
    HRESULT setScalar(float scalar) override {
        ++g_endpoint.writes;
        if (SUCCEEDED(g_endpoint.setResult)) g_endpoint.scalar = scalar;
        return g_endpoint.setResult;
    }
    HRESULT getMute(bool& mute) override {
        mute = g_endpoint.mute;
        return S_OK;
    }
    HRESULT setMute(bool mute) override {
        if (SUCCEEDED(g_endpoint.setResult)) g_endpoint.mute = mute;
        return g_endpoint.setResult;
    }
};

std::unique_ptr<MasterEndpoint> FakeEndpoints() {
    ++g_endpoint.opened;
    if (!g_endpoint.exists) return nullptr;
    return std::make_unique<FakeEndpoint>();
}

class MixerTest : public ::testing::Test {
  protected:
    void SetUp() override { g_endpoint = EndpointState{}; }

    // The speakers' control of a type, looked up as the core does it: a 152-byte record.
    ControlRecord Lookup(MixerHandle h, std::uint32_t controlType, MMResult& result) {
        std::uint32_t line = 0;
        result = mixer.lineByComponentType(h, MIXERLINE_COMPONENTTYPE_DST_SPEAKERS, line);
        ControlRecord record;
        std::memset(&record, 0xAB, sizeof record);
        if (result == MMSYSERR_NOERROR) {
            result = mixer.controlByType(h, line, controlType, kControlRecordSize, &record);
        }
        return record;
    }
    std::uint32_t Read(MixerHandle h, std::uint32_t id) {
        std::uint32_t value = 0xDEADBEEF;
        ControlDetails d;
        d.dwControlID = id;
        d.paDetails = &value;
        EXPECT_EQ(mixer.getControlDetails(h, d), MMSYSERR_NOERROR);
        return value;
    }
    MMResult Write(MixerHandle h, std::uint32_t id, std::int32_t value) {
        ControlDetails d;
        d.dwControlID = id;
        d.paDetails = &value;
        return mixer.setControlDetails(h, d);
    }

    Win32Mixer mixer{&FakeEndpoints};
};

TEST_F(MixerTest, SettableEndpointCarriesTheMasterLineAsZeroTo65535) {
    MixerHandle h = 0;
    ASSERT_EQ(mixer.open(0, h), MMSYSERR_NOERROR);
    EXPECT_TRUE(mixer.usesEndpoint(h));
    EXPECT_EQ(g_endpoint.writes, 1) << "one probing write";
    EXPECT_EQ(g_endpoint.scalar, 0.5f) << "the probe writes the current value back";

    MMResult result;
    const ControlRecord volume = Lookup(h, MIXERCONTROL_CONTROLTYPE_VOLUME, result);
    ASSERT_EQ(result, MMSYSERR_NOERROR);
    EXPECT_EQ(volume.cbStruct, kControlRecordSize);
    EXPECT_EQ(volume.lMinimum, 0);
    EXPECT_EQ(volume.lMaximum, 65535);
    EXPECT_EQ(volume.reserved[10], 0xABABABABu) << "the word past the published record";

    EXPECT_EQ(Read(h, volume.dwControlID), 32768u) << "0.5 x 65535 = 32767.5, to even";
    EXPECT_EQ(Write(h, volume.dwControlID, 13107), MMSYSERR_NOERROR);
    EXPECT_FLOAT_EQ(g_endpoint.scalar, 0.2f);
    EXPECT_EQ(Read(h, volume.dwControlID), 13107u);
    // Out of range: limited, never wrapped (69390 is what one step up from the top writes).
    Write(h, volume.dwControlID, 69390);
    EXPECT_EQ(g_endpoint.scalar, 1.0f);
    Write(h, volume.dwControlID, -5);
    EXPECT_EQ(g_endpoint.scalar, 0.0f);

    const ControlRecord mute = Lookup(h, MIXERCONTROL_CONTROLTYPE_MUTE, result);
    ASSERT_EQ(result, MMSYSERR_NOERROR);
    EXPECT_NE(mute.dwControlID, volume.dwControlID);
    Write(h, mute.dwControlID, 1);
    EXPECT_TRUE(g_endpoint.mute);
    EXPECT_EQ(Read(h, mute.dwControlID), 1u);
    EXPECT_EQ(mixer.close(h), MMSYSERR_NOERROR);
}

TEST_F(MixerTest, EndpointThatCannotBeSetOrIsMissingLeavesTheMasterToWinmm) {
    for (bool exists : {true, false}) {
        g_endpoint = EndpointState{};
        g_endpoint.exists = exists;
        g_endpoint.setResult = E_NOTIMPL;  // what Wine answers
        MixerHandle h = 0;
        const MMResult opened = mixer.open(0, h);
        if (opened != MMSYSERR_NOERROR) GTEST_SKIP() << "no winmm mixer device here";
        EXPECT_FALSE(mixer.usesEndpoint(h));

        MMResult result;
        const ControlRecord volume = Lookup(h, MIXERCONTROL_CONTROLTYPE_VOLUME, result);
        ASSERT_EQ(result, MMSYSERR_NOERROR);
        EXPECT_NE(volume.dwControlID, kEndpointVolumeId);
        EXPECT_EQ(volume.cbStruct, kControlRecordSize);
        EXPECT_EQ(volume.dwControlType, MIXERCONTROL_CONTROLTYPE_VOLUME);
        EXPECT_LT(volume.lMinimum, volume.lMaximum);
        EXPECT_EQ(volume.reserved[10], 0xABABABABu);

        // The level lives in winmm now: writes do not reach the endpoint.
        const int writes = g_endpoint.writes;
        ASSERT_EQ(Write(h, volume.dwControlID, volume.lMaximum / 2), MMSYSERR_NOERROR);
        EXPECT_EQ(Read(h, volume.dwControlID), static_cast<std::uint32_t>(volume.lMaximum / 2));
        EXPECT_EQ(g_endpoint.writes, writes);
        mixer.close(h);
    }
}

TEST_F(MixerTest, WinmmLevelsOutsideTheControlsRangeAreLimited) {
    g_endpoint.exists = false;
    MixerHandle h = 0;
    if (mixer.open(0, h) != MMSYSERR_NOERROR) GTEST_SKIP() << "no winmm mixer device here";
    MMResult result;
    const ControlRecord volume = Lookup(h, MIXERCONTROL_CONTROLTYPE_VOLUME, result);
    ASSERT_EQ(result, MMSYSERR_NOERROR);
    const std::int32_t max = volume.lMaximum;
    const std::int32_t step = max / 17;

    ASSERT_EQ(Write(h, volume.dwControlID, max - step), MMSYSERR_NOERROR);
    EXPECT_EQ(Write(h, volume.dwControlID, max + step), MMSYSERR_NOERROR);
    EXPECT_EQ(Read(h, volume.dwControlID), static_cast<std::uint32_t>(max));
    Write(h, volume.dwControlID, step);
    EXPECT_EQ(Write(h, volume.dwControlID, -1), MMSYSERR_NOERROR);
    EXPECT_EQ(Read(h, volume.dwControlID), static_cast<std::uint32_t>(volume.lMinimum));
    mixer.close(h);
}

TEST_F(MixerTest, EveryOpenDecidesForItselfAndClosesOnlyItself) {
    MixerHandle first = 0;
    ASSERT_EQ(mixer.open(0, first), MMSYSERR_NOERROR);
    g_endpoint.setResult = E_NOTIMPL;
    MixerHandle second = 0;
    const MMResult opened = mixer.open(0, second);
    EXPECT_EQ(g_endpoint.opened, 2);
    EXPECT_TRUE(mixer.usesEndpoint(first));
    if (opened == MMSYSERR_NOERROR) {
        EXPECT_NE(first, second);
        EXPECT_FALSE(mixer.usesEndpoint(second));
        EXPECT_EQ(mixer.close(second), MMSYSERR_NOERROR);
    }
    EXPECT_EQ(mixer.close(second), MMSYSERR_INVALHANDLE) << "already closed";
    std::uint32_t line = 0;
    EXPECT_EQ(mixer.lineByComponentType(first, MIXERLINE_COMPONENTTYPE_DST_SPEAKERS, line),
              MMSYSERR_NOERROR);
    mixer.close(first);
}

TEST_F(MixerTest, NoDeviceAndNoEndpointReportsWinmmsError) {
    MixerHandle h = 77;
    EXPECT_EQ(mixer.open(99, h), MMSYSERR_BADDEVICEID) << "the endpoint stands only for device 0";
    EXPECT_EQ(h, 0u);
    EXPECT_EQ(g_endpoint.opened, 0);
}

TEST(WaveIn, HeadersPassStraightThroughAndComeBackDone) {
    Win32WaveIn waveIn;
    WaveFormat format;
    format.wFormatTag = 1;
    format.nChannels = 1;
    format.nSamplesPerSec = 8000;
    format.nAvgBytesPerSec = 8000;
    format.nBlockAlign = 1;
    format.wBitsPerSample = 8;
    WaveInHandle h = 0;
    const MMResult opened = waveIn.open(h, 0, format);
    if (opened != MMSYSERR_NOERROR) {
        EXPECT_FALSE(waveIn.errorText(opened, 200).empty());
        GTEST_SKIP() << "no wave-in device here: " << waveIn.errorText(opened, 200);
    }
    std::vector<char> block(400);  // 50 ms
    WaveHeader header;
    header.lpData = block.data();
    header.dwBufferLength = static_cast<std::uint32_t>(block.size());
    ASSERT_EQ(waveIn.prepareHeader(h, header, kWaveHeaderSize), MMSYSERR_NOERROR);
    EXPECT_TRUE(header.dwFlags & WHDR_PREPARED);
    ASSERT_EQ(waveIn.addBuffer(h, header, kWaveHeaderSize), MMSYSERR_NOERROR);
    ASSERT_EQ(waveIn.start(h), MMSYSERR_NOERROR);
    const DWORD start = GetTickCount();
    while (!(header.dwFlags & WHDR_DONE) && GetTickCount() - start < 3000) Sleep(10);
    EXPECT_TRUE(header.dwFlags & WHDR_DONE) << "the device marks the core's header itself";
    EXPECT_EQ(header.dwBytesRecorded, block.size());
    waveIn.reset(h);
    waveIn.stop(h);
    EXPECT_EQ(waveIn.unprepareHeader(h, header, kWaveHeaderSize), MMSYSERR_NOERROR);
    EXPECT_EQ(waveIn.close(h), MMSYSERR_NOERROR);
}

TEST(WaveIn, ErrorTextsAreCutToTheBuffer) {
    Win32WaveIn waveIn;
    const std::string full = waveIn.errorText(MMSYSERR_BADDEVICEID, 200);
    ASSERT_FALSE(full.empty());
    const std::string cut = waveIn.errorText(MMSYSERR_BADDEVICEID, 6);
    EXPECT_LE(cut.size(), 5u);
}

}  // namespace
}  // namespace vexlo::win32
