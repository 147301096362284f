#include "platform/win32/mixer.h"

#include <gtest/gtest.h>
#include <mmdeviceapi.h>

#include <cmath>
#include <cstring>
#include <thread>

#include "controller/volume_command.h"
#include "platform/win32/wave_in.h"
#include "tests/test_support.h"

namespace vexlo::win32 {
namespace {

// What a fake output device does and what was done to it.
struct EndpointState {
    bool exists = true;
    HRESULT setResult = S_OK;
    float scalar = 0.5f;
    bool mute = false;
    int opened = 0;
    int writes = 0;
    DWORD openedOnThread = 0;
};
// Two output devices; the default is the one the system would hand out now.
EndpointState g_endpoint;
EndpointState g_otherDevice;
EndpointState* g_default = &g_endpoint;

class FakeEndpoint : public MasterEndpoint {
  public:
    explicit FakeEndpoint(EndpointState& device) : device_(device) {}
    HRESULT getScalar(float& scalar) override {
        scalar = device_.scalar;
        return S_OK;
    }
    HRESULT setScalar(float scalar) override {
        ++device_.writes;
        if (SUCCEEDED(device_.setResult)) device_.scalar = scalar;
        return device_.setResult;
    }
    HRESULT getMute(bool& mute) override {
        mute = device_.mute;
        return S_OK;
    }
    HRESULT setMute(bool mute) override {
        if (SUCCEEDED(device_.setResult)) device_.mute = mute;
        return device_.setResult;
    }

  private:
    EndpointState& device_;
};

std::unique_ptr<MasterEndpoint> FakeEndpoints() {
    ++g_default->opened;
    g_default->openedOnThread = GetCurrentThreadId();
    if (!g_default->exists) return nullptr;
    return std::make_unique<FakeEndpoint>(*g_default);
}

// The system's device enumerator, as far as the mixer uses it: who registered, who left.
struct WatchState {
    IMMNotificationClient* client = nullptr;
    int registered = 0;
    int unregistered = 0;
} g_watch;

class FakeWatch : public EndpointWatch {
  public:
    ~FakeWatch() override { ++g_watch.unregistered; }
};

std::unique_ptr<EndpointWatch> FakeWatches(IMMNotificationClient* client) {
    g_watch.client = client;
    ++g_watch.registered;
    return std::make_unique<FakeWatch>();
}

// Winmm's device 0, which a machine without an output device does not have.
bool g_winmmPresent = true;
MMRESULT FakeWinmm(HMIXER* mixer, UINT deviceId) {
    if (!g_winmmPresent) return MMSYSERR_BADDEVICEID;
    return OpenWinmmMixer(mixer, deviceId);
}

class MixerTest : public ::testing::Test {
  protected:
    // Every test starts with fresh devices, before the fixture's mixer registers.
    struct FreshDevices {
        FreshDevices() {
            g_endpoint = EndpointState {};
            g_otherDevice = EndpointState {};
            g_default = &g_endpoint;
            g_watch = WatchState {};
            g_winmmPresent = true;
        }
    };

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

    FreshDevices fresh;
    Win32Mixer mixer {&FakeEndpoints, &FakeWatches};
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
        g_endpoint = EndpointState {};
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

// Winmm's own master level, read past the adapter (Wine keeps one per process).
bool WinmmMaster(std::uint32_t& level, std::int32_t& maximum) {
    HMIXER mixer = nullptr;
    if (mixerOpen(&mixer, 0, 0, 0, MIXER_OBJECTF_MIXER) != MMSYSERR_NOERROR) return false;
    MIXERLINEA line {};
    line.cbStruct = sizeof line;
    line.dwComponentType = MIXERLINE_COMPONENTTYPE_DST_SPEAKERS;
    MIXERCONTROLA control {};
    control.cbStruct = sizeof control;
    MIXERLINECONTROLSA request {};
    request.cbStruct = sizeof request;
    request.dwControlType = MIXERCONTROL_CONTROLTYPE_VOLUME;
    request.cControls = 1;
    request.cbmxctrl = sizeof control;
    request.pamxctrl = &control;
    MIXERCONTROLDETAILS details {};
    details.cbStruct = sizeof details;
    details.cChannels = 1;
    details.cbDetails = sizeof level;
    details.paDetails = &level;
    const auto object = reinterpret_cast<HMIXEROBJ>(mixer);
    bool ok = mixerGetLineInfoA(object, &line,
                                MIXER_OBJECTF_HMIXER | MIXER_GETLINEINFOF_COMPONENTTYPE) == 0;
    request.dwLineID = line.dwLineID;
    ok = ok && mixerGetLineControlsA(object, &request,
                                     MIXER_OBJECTF_HMIXER | MIXER_GETLINECONTROLSF_ONEBYTYPE) == 0;
    details.dwControlID = control.dwControlID;
    ok = ok && mixerGetControlDetailsA(object, &details,
                                       MIXER_OBJECTF_HMIXER | MIXER_GETCONTROLDETAILSF_VALUE) == 0;
    maximum = control.Bounds.lMaximum;
    mixerClose(mixer);
    return ok;
}

// Winmm's own master mute, read or switched past the adapter, as another program would.
bool WinmmMute(std::uint32_t& value, bool write) {
    HMIXER mixer = nullptr;
    if (mixerOpen(&mixer, 0, 0, 0, MIXER_OBJECTF_MIXER) != MMSYSERR_NOERROR) return false;
    MIXERLINEA line {};
    line.cbStruct = sizeof line;
    line.dwComponentType = MIXERLINE_COMPONENTTYPE_DST_SPEAKERS;
    MIXERCONTROLA control {};
    control.cbStruct = sizeof control;
    MIXERLINECONTROLSA request {};
    request.cbStruct = sizeof request;
    request.dwControlType = MIXERCONTROL_CONTROLTYPE_MUTE;
    request.cControls = 1;
    request.cbmxctrl = sizeof control;
    request.pamxctrl = &control;
    MIXERCONTROLDETAILS details {};
    details.cbStruct = sizeof details;
    details.cChannels = 1;
    details.cbDetails = sizeof value;
    details.paDetails = &value;
    const auto object = reinterpret_cast<HMIXEROBJ>(mixer);
    bool ok = mixerGetLineInfoA(object, &line,
                                MIXER_OBJECTF_HMIXER | MIXER_GETLINEINFOF_COMPONENTTYPE) == 0;
    request.dwLineID = line.dwLineID;
    ok = ok && mixerGetLineControlsA(object, &request,
                                     MIXER_OBJECTF_HMIXER | MIXER_GETLINECONTROLSF_ONEBYTYPE) == 0;
    details.dwControlID = control.dwControlID;
    ok = ok && (write ? mixerSetControlDetails(
                            object, &details, MIXER_OBJECTF_HMIXER | MIXER_SETCONTROLDETAILSF_VALUE)
                      : mixerGetControlDetailsA(
                            object, &details,
                            MIXER_OBJECTF_HMIXER | MIXER_GETCONTROLDETAILSF_VALUE)) == 0;
    mixerClose(mixer);
    return ok;
}

// Winmm's mute is not asked for at every read (each read is a message to winmm's thread): the
// adapter's own switch shows at once in every session, another's within the recheck time.
TEST_F(MixerTest, TheWinmmMuteShowsItsOwnSwitchAtOnceAndAnothersWithinTheRecheckTime) {
    g_endpoint.setResult = E_NOTIMPL;  // as under Wine: winmm carries the master
    MixerHandle h = 0;
    MixerHandle other = 0;
    if (mixer.open(0, h) != MMSYSERR_NOERROR) GTEST_SKIP() << "no winmm mixer device here";
    ASSERT_EQ(mixer.open(0, other), MMSYSERR_NOERROR);
    MMResult result;
    const ControlRecord mute = Lookup(h, MIXERCONTROL_CONTROLTYPE_MUTE, result);
    ASSERT_EQ(result, MMSYSERR_NOERROR);
    ASSERT_EQ(Lookup(other, MIXERCONTROL_CONTROLTYPE_MUTE, result).dwControlID, mute.dwControlID);
    ASSERT_EQ(Write(h, mute.dwControlID, 0), MMSYSERR_NOERROR);
    EXPECT_EQ(Read(other, mute.dwControlID), 0u);

    ASSERT_EQ(Write(h, mute.dwControlID, 1), MMSYSERR_NOERROR);
    std::uint32_t raw = 0;
    ASSERT_TRUE(WinmmMute(raw, false));
    EXPECT_EQ(raw, 1u);
    EXPECT_EQ(Read(h, mute.dwControlID), 1u);
    EXPECT_EQ(Read(other, mute.dwControlID), 1u) << "the other session's read was not kept";

    raw = 0;
    ASSERT_TRUE(WinmmMute(raw, true));
    Sleep(Win32Mixer::kWinmmMuteRecheckMs + 50);
    EXPECT_EQ(Read(h, mute.dwControlID), 0u) << "a switch made elsewhere";
    mixer.close(other);
    mixer.close(h);
}

// "--volume-mute" as the program runs it, on the system's own mixer: twice is both ways.
TEST(MixerOnThisSystem, TheMuteCommandSwitchesTheMasterMuteOverAndBack) {
    struct NoBoxes : MessageBoxes {
        int show(const std::string&, const std::string&, std::uint32_t) override { return 0; }
    } boxes;
    std::uint32_t before = 0;
    if (!WinmmMute(before, false)) GTEST_SKIP() << "no winmm master here";
    for (const bool muted : {before == 0, before != 0}) {
        Win32Mixer mixer;
        Win32WaveIn waveIn;
        const VolumeCommandResult result =
            RunVolumeCommand(VolumeCommand::Mute, mixer, waveIn, boxes, EnglishTexts());
        EXPECT_TRUE(result.ok) << result.error;
        EXPECT_EQ(result.muted, muted);
        std::uint32_t now = 2;
        ASSERT_TRUE(WinmmMute(now, false));
        EXPECT_EQ(now, muted ? 1u : 0u) << "the master itself";
    }
}

TEST_F(MixerTest, ANewDefaultDeviceTakesOverTheMasterLine) {
    MixerHandle h = 0;
    ASSERT_EQ(mixer.open(0, h), MMSYSERR_NOERROR);
    MMResult result;
    const ControlRecord volume = Lookup(h, MIXERCONTROL_CONTROLTYPE_VOLUME, result);
    const ControlRecord mute = Lookup(h, MIXERCONTROL_CONTROLTYPE_MUTE, result);
    ASSERT_EQ(volume.dwControlID, kEndpointVolumeId);

    g_otherDevice.scalar = 0.2f;
    g_default = &g_otherDevice;
    mixer.defaultEndpointChanged();
    EXPECT_TRUE(mixer.usesEndpoint(h));
    EXPECT_EQ(Read(h, volume.dwControlID), 13107u) << "the new device's level";
    EXPECT_EQ(Write(h, volume.dwControlID, 65535), MMSYSERR_NOERROR);
    EXPECT_EQ(g_otherDevice.scalar, 1.0f);
    EXPECT_EQ(g_endpoint.scalar, 0.5f) << "the old device is left alone";
    Write(h, mute.dwControlID, 1);
    EXPECT_TRUE(g_otherDevice.mute);
    EXPECT_FALSE(g_endpoint.mute);
    mixer.close(h);
}

TEST_F(MixerTest, WithoutASettableDefaultDeviceTheMasterFallsBackToWinmmAndComesBack) {
    MixerHandle h = 0;
    ASSERT_EQ(mixer.open(0, h), MMSYSERR_NOERROR);
    MMResult result;
    const ControlRecord volume = Lookup(h, MIXERCONTROL_CONTROLTYPE_VOLUME, result);
    ASSERT_EQ(volume.dwControlID, kEndpointVolumeId);
    std::uint32_t level = 0;
    std::int32_t maximum = 0;
    if (!WinmmMaster(level, maximum)) GTEST_SKIP() << "no winmm master here";

    g_endpoint.exists = false;  // the device went and no other took its place
    mixer.defaultEndpointChanged();
    EXPECT_FALSE(mixer.usesEndpoint(h));
    // The core keeps its ids and its 0..65535; winmm's range may differ.
    ASSERT_EQ(Write(h, volume.dwControlID, 13107), MMSYSERR_NOERROR);
    ASSERT_TRUE(WinmmMaster(level, maximum));
    EXPECT_EQ(level, static_cast<std::uint32_t>(std::llround(maximum * 0.2)));
    EXPECT_EQ(Read(h, volume.dwControlID), 13107u);
    Write(h, volume.dwControlID, 69390);
    ASSERT_TRUE(WinmmMaster(level, maximum));
    EXPECT_EQ(level, static_cast<std::uint32_t>(maximum)) << "limited, not wrapped";

    g_otherDevice.scalar = 0.4f;
    g_default = &g_otherDevice;
    mixer.defaultEndpointChanged();
    EXPECT_TRUE(mixer.usesEndpoint(h));
    EXPECT_EQ(Read(h, volume.dwControlID), 26214u);
    mixer.close(h);
}

TEST_F(MixerTest, ASessionThatStartedOnWinmmMovesToASettableNewDefault) {
    g_endpoint.setResult = E_NOTIMPL;  // what Wine answers
    MixerHandle h = 0;
    if (mixer.open(0, h) != MMSYSERR_NOERROR) GTEST_SKIP() << "no winmm mixer device here";
    ASSERT_FALSE(mixer.usesEndpoint(h));
    MMResult result;
    const ControlRecord volume = Lookup(h, MIXERCONTROL_CONTROLTYPE_VOLUME, result);
    ASSERT_EQ(result, MMSYSERR_NOERROR);
    ASSERT_NE(volume.dwControlID, kEndpointVolumeId);

    g_default = &g_otherDevice;
    mixer.defaultEndpointChanged();
    ASSERT_TRUE(mixer.usesEndpoint(h));
    // The winmm control's id and range now stand for the endpoint.
    ASSERT_EQ(Write(h, volume.dwControlID, volume.lMaximum / 4), MMSYSERR_NOERROR);
    EXPECT_NEAR(g_otherDevice.scalar, 0.25, 0.001);
    EXPECT_NEAR(static_cast<double>(Read(h, volume.dwControlID)), volume.lMaximum / 4.0, 1.0);
    mixer.close(h);
}

TEST_F(MixerTest, DeviceReportsFromOtherThreadsAreHandledOnTheMixersThread) {
    ASSERT_EQ(g_watch.registered, 1);
    ASSERT_NE(mixer.listener(), nullptr);
    IMMNotificationClient* client = mixer.listener()->client();
    ASSERT_EQ(g_watch.client, client);
    MixerHandle h = 0;
    ASSERT_EQ(mixer.open(0, h), MMSYSERR_NOERROR);
    ASSERT_EQ(g_endpoint.opened, 1);

    // Capture devices and the other roles are not the master.
    std::thread([client] {
        client->OnDefaultDeviceChanged(eCapture, eConsole, L"{mic}");
        client->OnDefaultDeviceChanged(eRender, eMultimedia, L"{speakers}");
        client->OnDefaultDeviceChanged(eRender, eCommunications, L"{speakers}");
    }).join();
    testing::Pump(100);
    EXPECT_EQ(g_endpoint.opened, 1);

    // A burst of reports (the last with no device left): nothing happens on the reporting
    // thread, then one re-opening on this one.
    std::thread([client] {
        client->OnDefaultDeviceChanged(eRender, eConsole, L"{a}");
        client->OnDefaultDeviceChanged(eRender, eConsole, L"{b}");
        client->OnDefaultDeviceChanged(eRender, eConsole, nullptr);
    }).join();
    EXPECT_EQ(g_endpoint.opened, 1);
    testing::Pump(1000, [] { return g_endpoint.opened > 1; });
    testing::Pump(100);
    EXPECT_EQ(g_endpoint.opened, 2);
    EXPECT_EQ(g_endpoint.openedOnThread, GetCurrentThreadId());
    mixer.close(h);
}

TEST_F(MixerTest, AReportAfterTheMixerIsGoneIsHarmless) {
    IMMNotificationClient* client = nullptr;
    {
        Win32Mixer own(&FakeEndpoints, &FakeWatches);
        client = own.listener()->client();
        client->AddRef();  // as the enumerator might still hold it
        MixerHandle h = 0;
        own.open(0, h);
    }
    EXPECT_EQ(g_watch.registered, 2) << "the fixture's mixer and this test's";
    EXPECT_EQ(g_watch.unregistered, 1) << "this test's mixer unregistered when it went";
    const int opened = g_endpoint.opened;
    std::thread([client] { client->OnDefaultDeviceChanged(eRender, eConsole, L"{x}"); }).join();
    testing::Pump(100);
    EXPECT_EQ(g_endpoint.opened, opened);
    client->Release();
}

// No output device at the start: the master line is there all the same, reads 0, and the
// device is taken when the system reports it (or, where no report comes, at the next retry).
TEST_F(MixerTest, WithoutAnyDeviceTheMasterWaitsAndTakesTheDeviceThatAppears) {
    for (const bool reported : {true, false}) {
        SCOPED_TRACE(reported ? "reported" : "found by the retry");
        g_endpoint = EndpointState {};
        g_endpoint.exists = false;
        g_winmmPresent = false;
        Win32Mixer own(&FakeEndpoints, &FakeWatches, &FakeWinmm, reported ? 60000 : 200);
        MixerHandle h = 0;
        ASSERT_EQ(own.open(0, h), MMSYSERR_NOERROR);
        EXPECT_TRUE(own.waitingForDevice(h));
        std::uint32_t line = 0;
        ASSERT_EQ(own.lineByComponentType(h, MIXERLINE_COMPONENTTYPE_DST_SPEAKERS, line),
                  MMSYSERR_NOERROR);
        EXPECT_EQ(own.lineByComponentType(h, MIXERLINE_COMPONENTTYPE_SRC_MICROPHONE, line),
                  MMSYSERR_NODRIVER);
        line = kEndpointLineId;
        ControlRecord volume {};
        ASSERT_EQ(own.controlByType(h, line, MIXERCONTROL_CONTROLTYPE_VOLUME, kControlRecordSize,
                                    &volume),
                  MMSYSERR_NOERROR);
        EXPECT_EQ(volume.dwControlID, kEndpointVolumeId);
        EXPECT_EQ(volume.lMaximum, kEndpointMaximum);
        std::uint32_t value = 0xDEADBEEF;
        ControlDetails d;
        d.dwControlID = volume.dwControlID;
        d.paDetails = &value;
        EXPECT_EQ(own.getControlDetails(h, d), MMSYSERR_NODRIVER);
        EXPECT_EQ(value, 0u);
        EXPECT_EQ(own.setControlDetails(h, d), MMSYSERR_NODRIVER);
        EXPECT_EQ(g_endpoint.writes, 0);

        // A headset is plugged in.
        g_endpoint.exists = true;
        g_endpoint.scalar = 0.25f;
        if (reported) {
            std::thread([client = own.listener()->client()] {
                client->OnDefaultDeviceChanged(eRender, eConsole, L"{headset}");
            }).join();
        }
        testing::Pump(3000, [&] { return !own.waitingForDevice(h); });
        ASSERT_TRUE(own.usesEndpoint(h));
        value = 0;
        EXPECT_EQ(own.getControlDetails(h, d), MMSYSERR_NOERROR);
        EXPECT_EQ(value, 16384u);
        const int opened = g_endpoint.opened;
        testing::Pump(500);
        EXPECT_EQ(g_endpoint.opened, opened) << "no more retries once a device is there";
        own.close(h);
    }
}

TEST_F(MixerTest, WithoutAnEndpointTheWaitingMasterGoesToTheWinmmDeviceThatAppears) {
    g_endpoint.setResult = E_NOTIMPL;  // as under Wine: the endpoint cannot carry it
    g_winmmPresent = false;
    std::uint32_t level = 0;
    std::int32_t maximum = 0;
    if (!WinmmMaster(level, maximum)) GTEST_SKIP() << "no winmm master here";
    Win32Mixer own(&FakeEndpoints, &FakeWatches, &FakeWinmm, 200);
    MixerHandle h = 0;
    ASSERT_EQ(own.open(0, h), MMSYSERR_NOERROR);
    std::uint32_t line = 0;
    own.lineByComponentType(h, MIXERLINE_COMPONENTTYPE_DST_SPEAKERS, line);
    ControlRecord volume {};
    ASSERT_EQ(
        own.controlByType(h, line, MIXERCONTROL_CONTROLTYPE_VOLUME, kControlRecordSize, &volume),
        MMSYSERR_NOERROR);
    g_winmmPresent = true;
    testing::Pump(3000, [&] { return !own.waitingForDevice(h); });
    ASSERT_FALSE(own.waitingForDevice(h));
    EXPECT_FALSE(own.usesEndpoint(h));
    // Winmm's range is carried as the endpoint's, which the core was told.
    ControlDetails d;
    std::int32_t written = kEndpointMaximum / 2;
    d.dwControlID = volume.dwControlID;
    d.paDetails = &written;
    ASSERT_EQ(own.setControlDetails(h, d), MMSYSERR_NOERROR);
    std::uint32_t read = 0;
    d.paDetails = &read;
    ASSERT_EQ(own.getControlDetails(h, d), MMSYSERR_NOERROR);
    EXPECT_NEAR(static_cast<double>(read), kEndpointMaximum / 2.0, 2.0);
    own.close(h);
}

TEST(MixerOnThisSystem, DeviceChangesAreWatchedWhereTheSystemHasADeviceEnumerator) {
    IUnknown* enumerator = nullptr;
    const bool haveEnumerator = SUCCEEDED(
        CoCreateInstance(__uuidof(MMDeviceEnumerator), nullptr, CLSCTX_ALL,
                         __uuidof(IMMDeviceEnumerator), reinterpret_cast<void**>(&enumerator)));
    if (enumerator) enumerator->Release();
    if (!haveEnumerator) GTEST_SKIP() << "no audio device enumerator here";
    Win32Mixer mixer;
    EXPECT_TRUE(mixer.watchingDevices()) << "RegisterEndpointNotificationCallback refused";
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
