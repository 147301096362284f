// The mixer and capture adapters against a real sound server: the session's PulseAudio null
// sink behind ALSA's "default" device.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <optional>
#include <regex>
#include <vector>

#include "mixer/clsVolume.h"
#include "platform/linux/alsa_mixer.h"
#include "platform/linux/alsa_wave_in.h"
#include "platform/linux/pulse_default.h"
#include "platform/linux/qt_services.h"
#include "platform/linux/system_services.h"
#include "platform/types.h"
#include "support.h"

namespace vexlo::linux_platform {
namespace {

using testing::ScopedEnv;
using testing::Shell;
using testing::SinkName;

long SinkVolume() {
    const std::string out = Shell("pactl get-sink-volume " + SinkName());
    std::smatch m;
    if (!std::regex_search(out, m, std::regex(R"(front-left: (\d+))"))) return -1;
    return std::stol(m[1]);
}

void SetSinkVolume(long raw) {
    Shell("pactl set-sink-volume " + SinkName() + " " + std::to_string(raw));
}

bool SinkMuted() {
    return Shell("pactl get-sink-mute " + SinkName()).find("yes") != std::string::npos;
}

class MessageBoxesNever : public MessageBoxes {
  public:
    int show(const std::string& text, const std::string&, std::uint32_t) override {
        shown.push_back(text);
        return IDOK;
    }
    std::vector<std::string> shown;
};

class Mixer : public ::testing::Test {
  protected:
    void SetUp() override {
        REQUIRE_SOUND_SERVER();
        SetSinkVolume(40000);
        Shell("pactl set-sink-mute " + SinkName() + " 0");
        ASSERT_EQ(mixer.open(0, handle), MMSYSERR_NOERROR);
    }
    void TearDown() override {
        if (handle != 0) mixer.close(handle);
    }

    ControlRecord Find(std::uint32_t componentType, std::uint32_t controlType,
                       MMResult* result = nullptr) {
        ControlRecord record {};
        std::uint32_t line = 0;
        MMResult rc = mixer.lineByComponentType(handle, componentType, line);
        if (rc == MMSYSERR_NOERROR) {
            rc = mixer.controlByType(handle, line, controlType, kControlRecordSize, &record);
        }
        if (result != nullptr) *result = rc;
        return record;
    }
    // A change made by another program reaches this client a moment after that program has
    // returned; the program's 5 ms poll sees it at one of its next reads.
    std::uint32_t ReadSoon(const ControlRecord& record, std::uint32_t expected) {
        std::uint32_t value = Read(record);
        for (int i = 0; i < 100 && value != expected; ++i) {
            ::usleep(5000);
            value = Read(record);
        }
        return value;
    }
    std::uint32_t Read(const ControlRecord& record, MMResult* result = nullptr) {
        std::uint32_t value = 0xDEADBEEF;
        ControlDetails details;
        details.dwControlID = record.dwControlID;
        details.paDetails = &value;
        const MMResult rc = mixer.getControlDetails(handle, details);
        if (result != nullptr) *result = rc;
        return value;
    }
    MMResult Write(const ControlRecord& record, std::int32_t value) {
        ControlDetails details;
        details.dwControlID = record.dwControlID;
        details.paDetails = &value;
        return mixer.setControlDetails(handle, details);
    }

    std::int64_t now = 1000;  // the adapter's clock, moved only by the tests that need it
    AlsaMixer mixer {"default", [this] { return now; }};
    MixerHandle handle = 0;
};

TEST_F(Mixer, DescribesTheMasterLineAndRefusesLinesTheDeviceLacks) {
    const ControlRecord volume =
        Find(MIXERLINE_COMPONENTTYPE_DST_SPEAKERS, MIXERCONTROL_CONTROLTYPE_VOLUME);
    EXPECT_NE(volume.dwControlID, 0u);
    EXPECT_EQ(volume.dwControlType, MIXERCONTROL_CONTROLTYPE_VOLUME);
    EXPECT_EQ(volume.cbStruct, kControlRecordSize);
    EXPECT_EQ(volume.lMinimum, 0);
    EXPECT_EQ(volume.lMaximum, 65536);
    EXPECT_STREQ(volume.szShortName, "Master");

    const ControlRecord mute =
        Find(MIXERLINE_COMPONENTTYPE_DST_SPEAKERS, MIXERCONTROL_CONTROLTYPE_MUTE);
    EXPECT_NE(mute.dwControlID, 0u);
    EXPECT_NE(mute.dwControlID, volume.dwControlID);
    EXPECT_EQ(mute.lMaximum, 1);

    // The PulseAudio device has a capture control, but no CD, line or synthesizer.
    MMResult rc = 0;
    Find(MIXERLINE_COMPONENTTYPE_SRC_MICROPHONE, MIXERCONTROL_CONTROLTYPE_VOLUME, &rc);
    EXPECT_EQ(rc, MMSYSERR_NOERROR);
    for (std::uint32_t line :
         {MIXERLINE_COMPONENTTYPE_SRC_COMPACTDISC, MIXERLINE_COMPONENTTYPE_SRC_LINE,
          MIXERLINE_COMPONENTTYPE_SRC_SYNTHESIZER}) {
        std::uint32_t id = 0;
        EXPECT_EQ(mixer.lineByComponentType(handle, line, id), MIXERR_INVALLINE) << line;
    }
    Find(MIXERLINE_COMPONENTTYPE_DST_SPEAKERS, MIXERCONTROL_CONTROLTYPE_PEAKMETER, &rc);
    EXPECT_EQ(rc, MIXERR_INVALCONTROL);

    // A record whose lookup failed names control 0, which is no control.
    MMResult readResult = 0;
    Read(ControlRecord {}, &readResult);
    EXPECT_EQ(readResult, MIXERR_INVALCONTROL);
    EXPECT_EQ(Write(ControlRecord {}, 5), MIXERR_INVALCONTROL);
}

TEST_F(Mixer, ReadsAndWritesTheSinkVolumeAndSeesOutsideChangesAtTheNextRead) {
    const ControlRecord volume =
        Find(MIXERLINE_COMPONENTTYPE_DST_SPEAKERS, MIXERCONTROL_CONTROLTYPE_VOLUME);
    EXPECT_EQ(Read(volume), 40000u);

    EXPECT_EQ(Write(volume, 30069), MMSYSERR_NOERROR);
    EXPECT_EQ(SinkVolume(), 30069);
    EXPECT_EQ(Read(volume), 30069u);

    SetSinkVolume(12345);
    EXPECT_EQ(ReadSoon(volume, 12345), 12345u);

    // A second open of the device is independent and sees the same level.
    AlsaMixer other;
    MixerHandle second = 0;
    ASSERT_EQ(other.open(0, second), MMSYSERR_NOERROR);
    std::uint32_t line = 0;
    ASSERT_EQ(other.lineByComponentType(second, MIXERLINE_COMPONENTTYPE_DST_SPEAKERS, line), 0u);
    ControlRecord record {};
    ASSERT_EQ(other.controlByType(second, line, MIXERCONTROL_CONTROLTYPE_VOLUME, 152, &record), 0u);
    std::uint32_t value = 0;
    ControlDetails details;
    details.dwControlID = record.dwControlID;
    details.paDetails = &value;
    ASSERT_EQ(other.getControlDetails(second, details), MMSYSERR_NOERROR);
    EXPECT_EQ(value, 12345u);
    other.close(second);
}

// ALSA's pulse plugin stays with the output that was the default when it was opened; the
// adapter opens the device again when the server names another one, and reads and writes
// then go to the new default.
TEST_F(Mixer, FollowsANewDefaultOutput) {
    PulseDefaultWatch watch;
    mixer.followDefault(&watch.counter());
    const std::string module = Shell("pactl load-module module-null-sink sink_name=vexlo_other");
    Shell("pactl set-sink-volume vexlo_other 20000");
    const ControlRecord volume =
        Find(MIXERLINE_COMPONENTTYPE_DST_SPEAKERS, MIXERCONTROL_CONTROLTYPE_VOLUME);
    EXPECT_EQ(Read(volume), 40000u);
    ::usleep(300000);  // the watch has its first answer
    EXPECT_EQ(watch.changes(), 0u);

    Shell("pactl set-default-sink vexlo_other");
    std::uint32_t value = Read(volume);
    for (int i = 0; i < 200 && value != 20000; ++i) {
        ::usleep(5000);
        value = Read(volume);
    }
    EXPECT_EQ(value, 20000u);
    EXPECT_EQ(watch.changes(), 1u);
    EXPECT_EQ(Write(volume, 25000), MMSYSERR_NOERROR);
    EXPECT_NE(Shell("pactl get-sink-volume vexlo_other").find("25000"), std::string::npos);
    EXPECT_EQ(SinkVolume(), 40000);

    Shell("pactl set-default-sink " + SinkName());
    Shell("pactl unload-module " + module);
    EXPECT_EQ(ReadSoon(volume, 40000), 40000u);
}

TEST_F(Mixer, LimitsLevelsOutsideTheRangeInsteadOfWrapping) {
    const ControlRecord volume =
        Find(MIXERLINE_COMPONENTTYPE_DST_SPEAKERS, MIXERCONTROL_CONTROLTYPE_VOLUME);
    EXPECT_EQ(Write(volume, 69390), MMSYSERR_NOERROR);  // one step above the top
    EXPECT_EQ(Read(volume), 65536u);
    EXPECT_EQ(SinkVolume(), 65536);

    // A negative level is the bottom, not a huge unsigned value at the top.
    EXPECT_EQ(Write(volume, -1), MMSYSERR_NOERROR);
    EXPECT_EQ(Read(volume), 0u);
    EXPECT_EQ(Write(volume, INT32_MIN), MMSYSERR_NOERROR);
    EXPECT_EQ(SinkVolume(), 0);
}

TEST_F(Mixer, MuteIsThePlaybackSwitchTurnedAround) {
    const ControlRecord mute =
        Find(MIXERLINE_COMPONENTTYPE_DST_SPEAKERS, MIXERCONTROL_CONTROLTYPE_MUTE);
    EXPECT_EQ(Read(mute), 0u);
    EXPECT_EQ(Write(mute, 1), MMSYSERR_NOERROR);
    EXPECT_TRUE(SinkMuted());
    EXPECT_EQ(Read(mute), 1u);
    Shell("pactl set-sink-mute " + SinkName() + " 0");
    EXPECT_EQ(ReadSoon(mute, 0), 0u);
    // Any non-zero value mutes.
    EXPECT_EQ(Write(mute, 7), MMSYSERR_NOERROR);
    EXPECT_TRUE(SinkMuted());
    EXPECT_EQ(Write(mute, 0), MMSYSERR_NOERROR);
    EXPECT_FALSE(SinkMuted());
}

// The watch reads the level and then the mute each tick: the mute read answers from what the
// level read took in (no further exchange with the server), so an outside change of the mute
// is seen with the next level read, and at once by a mute read of its own.
TEST_F(Mixer, AMuteReadRightAfterALevelReadAnswersFromThatRead) {
    const ControlRecord volume =
        Find(MIXERLINE_COMPONENTTYPE_DST_SPEAKERS, MIXERCONTROL_CONTROLTYPE_VOLUME);
    const ControlRecord mute =
        Find(MIXERLINE_COMPONENTTYPE_DST_SPEAKERS, MIXERCONTROL_CONTROLTYPE_MUTE);
    Shell("pactl set-sink-mute " + SinkName() + " 1");
    std::uint32_t muted = 0;
    MMResult rc = MMSYSERR_ERROR;
    for (int i = 0; i < 100 && muted != 1; ++i) {
        ::usleep(5000);
        EXPECT_EQ(Read(volume), 40000u);
        muted = Read(mute, &rc);
    }
    EXPECT_EQ(muted, 1u);
    EXPECT_EQ(rc, MMSYSERR_NOERROR);

    EXPECT_EQ(Read(volume), 40000u);
    Shell("pactl set-sink-mute " + SinkName() + " 0 && sleep 0.2");
    EXPECT_EQ(Read(mute), 1u);  // as the level read found it
    EXPECT_EQ(ReadSoon(mute, 0), 0u);
}

// Between its reads the watch asks whether a read could find anything new; only then does the
// program's thread take a tick. Anything another program changes and the program's own writes
// must say "changed" until the watch's next reads (a level with its mute).
TEST_F(Mixer, TellsTheWatchWhetherAReadCouldFindAnythingNew) {
    const ControlRecord volume =
        Find(MIXERLINE_COMPONENTTYPE_DST_SPEAKERS, MIXERCONTROL_CONTROLTYPE_VOLUME);
    const ControlRecord mute =
        Find(MIXERLINE_COMPONENTTYPE_DST_SPEAKERS, MIXERCONTROL_CONTROLTYPE_MUTE);
    auto tick = [&] {
        Read(volume);
        Read(mute);
    };
    auto unchanged = [&] { return mixer.unchangedSinceLastRead(); };
    auto changed = [&] { return !mixer.unchangedSinceLastRead(); };
    EXPECT_FALSE(unchanged());  // nothing read yet
    tick();
    EXPECT_TRUE(testing::WaitFor(unchanged));

    SetSinkVolume(12345);
    EXPECT_TRUE(testing::WaitFor(changed));
    EXPECT_FALSE(unchanged());  // until the next read, whatever took the news in
    EXPECT_EQ(Read(volume), 12345u);
    Read(mute);
    EXPECT_TRUE(testing::WaitFor(unchanged));

    Shell("pactl set-sink-mute " + SinkName() + " 1");
    EXPECT_TRUE(testing::WaitFor(changed));
    Read(volume);
    EXPECT_EQ(Read(mute), 1u);
    EXPECT_TRUE(testing::WaitFor(unchanged));

    // The program's own write, through another handle as the slider has one.
    MixerHandle second = 0;
    ASSERT_EQ(mixer.open(0, second), MMSYSERR_NOERROR);
    std::uint32_t level = 20000;
    ControlDetails details;
    details.dwControlID = volume.dwControlID;
    details.paDetails = &level;
    ASSERT_EQ(mixer.setControlDetails(second, details), MMSYSERR_NOERROR);
    ASSERT_EQ(mixer.getControlDetails(second, details), MMSYSERR_NOERROR);
    EXPECT_FALSE(unchanged());  // the watch's handle has not read since the write
    EXPECT_EQ(Read(volume), 20000u);
    Read(mute);
    EXPECT_TRUE(testing::WaitFor(unchanged));
    mixer.close(second);

    // A write read back at once through the same handle (the mute command reads the level
    // after unmuting): the watch still takes one tick for it.
    EXPECT_EQ(Write(volume, 25000), MMSYSERR_NOERROR);
    EXPECT_EQ(Read(volume), 25000u);
    Read(mute);
    EXPECT_FALSE(unchanged());
}

TEST_F(Mixer, RefusesBadHandlesDevicesAndRequests) {
    MixerHandle other = 0;
    EXPECT_EQ(mixer.open(1, other), MMSYSERR_BADDEVICEID);
    EXPECT_EQ(other, 0u);
    std::uint32_t line = 0;
    EXPECT_EQ(mixer.lineByComponentType(handle + 100, MIXERLINE_COMPONENTTYPE_DST_SPEAKERS, line),
              MMSYSERR_INVALHANDLE);
    ControlRecord record {};
    ASSERT_EQ(mixer.lineByComponentType(handle, MIXERLINE_COMPONENTTYPE_DST_SPEAKERS, line), 0u);
    EXPECT_EQ(mixer.controlByType(handle, line, MIXERCONTROL_CONTROLTYPE_VOLUME, 100, &record),
              MMSYSERR_INVALPARAM);
    ControlDetails noBlock;
    noBlock.dwControlID =
        Find(MIXERLINE_COMPONENTTYPE_DST_SPEAKERS, MIXERCONTROL_CONTROLTYPE_VOLUME).dwControlID;
    EXPECT_EQ(mixer.getControlDetails(handle, noBlock), MMSYSERR_INVALPARAM);
    EXPECT_EQ(mixer.close(handle + 100), MMSYSERR_INVALHANDLE);
}

TEST_F(Mixer, TheCoreVolumeClassWorksThroughTheAdapter) {
    MessageBoxesNever boxes;
    AlsaWaveIn waveIn;
    clsVolume vol(mixer, waveIn, boxes);
    EXPECT_EQ(vol.VolumeMax(), 65536);
    EXPECT_EQ(vol.VolumeMin(), 0);
    EXPECT_EQ(vol.VolumeLevel(), 40000);
    vol.VolumeLevel(20000);
    EXPECT_EQ(SinkVolume(), 20000);
    vol.VolumeMute(true);
    EXPECT_TRUE(vol.VolumeMute());
    EXPECT_TRUE(SinkMuted());
    vol.VolumeMute(false);
    EXPECT_EQ(vol.CDMax(), 0);  // no such line
    EXPECT_TRUE(boxes.shown.empty());
}

TEST(MixerWithoutServer, TheMasterLineIsThereAndReadsZeroUntilTheServerComes) {
    // libpulse reads the server address at connect time. This process has not used ALSA yet:
    // its configuration is read while no server can be reached, as in a program started
    // before its server.
    auto away = std::make_optional<ScopedEnv>("PULSE_SERVER", "unix:/nonexistent/vexlo-no-server");
    std::int64_t now = 1000;
    AlsaMixer mixer {"default", [&now] { return now; }};
    MixerHandle handle = 0;
    EXPECT_EQ(mixer.open(0, handle), MMSYSERR_NOERROR);
    EXPECT_NE(handle, 0u);
    MixerHandle other = 99;
    EXPECT_EQ(mixer.open(1, other), MMSYSERR_BADDEVICEID);
    mixer.close(handle);

    MessageBoxesNever boxes;
    AlsaWaveIn waveIn;
    clsVolume vol(mixer, waveIn, boxes);
    EXPECT_EQ(vol.VolumeMax(), AlsaMixer::kAssumedMaximum);
    EXPECT_EQ(vol.VolumeMuteRecord().lMaximum, 1);
    EXPECT_EQ(vol.MicMax(), 0);  // only the master line is assumed
    EXPECT_EQ(vol.VolumeLevel(), 0);
    EXPECT_EQ(vol.LastResult(), MMSYSERR_NODRIVER);
    vol.VolumeLevel(1000);  // nothing to write to, nothing reported
    EXPECT_EQ(vol.VolumeLevel(), 0);
    EXPECT_TRUE(boxes.shown.empty());

    WaveInHandle wave = 0;
    WaveFormat format {1, 1, 8000, 8000, 1, 8, 0};
    EXPECT_EQ(waveIn.open(wave, 0, format), MMSYSERR_BADDEVICEID);

    // The session's server becomes reachable: the next attempt finds it.
    away.reset();
    REQUIRE_SOUND_SERVER();
    SetSinkVolume(25000);
    now += AlsaMixer::kReopenIntervalMs;
    EXPECT_EQ(vol.VolumeLevel(), 25000);
    EXPECT_EQ(vol.LastResult(), MMSYSERR_NOERROR);
}

// ---- A sound server that goes away and comes back ---------------------------------------

// The session's server, ended as a crash ends it and started again the way with-session.sh
// starts it. The group runs in a session of its own.
void StopServer() {
    // A daemon nobody reaps stays a zombie, which the next server takes for a running one:
    // once the process is gone or a zombie, its PID file goes too.
    int status = 0;
    Shell(
        "f=\"$XDG_RUNTIME_DIR/pulse/pid\"; p=$(cat \"$f\"); kill -9 \"$p\" || exit 1; "
        "for i in $(seq 100); do s=$(awk '{print $3}' /proc/$p/stat 2>/dev/null); "
        "[ -z \"$s\" ] || [ \"$s\" = Z ] && { rm -f \"$f\"; exit 0; }; sleep 0.02; done; "
        "exit 1",
        &status);
    ASSERT_EQ(status, 0);
    ASSERT_TRUE(testing::WaitFor([] { return !testing::HaveSoundServer(); }));
}

void StartServer() {
    Shell(
        "pulseaudio --daemonize=yes --exit-idle-time=-1 --disallow-exit -n --use-pid-file=yes "
        "--load='module-null-sink sink_name=" +
        SinkName() +
        "' --load=module-native-protocol-unix --load=module-always-sink >/dev/null 2>&1");
    ASSERT_TRUE(
        testing::WaitFor([] { return testing::HaveSoundServer(); }, std::chrono::seconds(10)));
}

class MixerReopen : public Mixer {
  protected:
    void SetUp() override {
        REQUIRE_SOUND_SERVER();
        SetSinkVolume(30000);
        ASSERT_EQ(mixer.open(0, handle), MMSYSERR_NOERROR);
        master = Find(MIXERLINE_COMPONENTTYPE_DST_SPEAKERS, MIXERCONTROL_CONTROLTYPE_VOLUME);
        mute = Find(MIXERLINE_COMPONENTTYPE_DST_SPEAKERS, MIXERCONTROL_CONTROLTYPE_MUTE);
    }
    void TearDown() override {
        if (!testing::HaveSoundServer()) StartServer();
        Mixer::TearDown();
    }
    // The loss shows at the first transfer after the client library has seen the connection
    // close, which can be a moment after the server is gone.
    MMResult ReadUntilLost(const ControlRecord& record, std::uint32_t& value) {
        MMResult rc = MMSYSERR_NOERROR;
        testing::WaitFor([&] {
            value = Read(record, &rc);
            return rc != MMSYSERR_NOERROR;
        });
        return rc;
    }

    ControlRecord master {};
    ControlRecord mute {};
};

TEST_F(MixerReopen, KeepsTheLastLevelWhileTheServerIsAwayAndReopensAtMostEveryInterval) {
    ASSERT_EQ(Read(master), 30000u);
    ASSERT_EQ(Read(mute), 0u);
    StopServer();

    // The watch hears of the loss between its reads, and is told of a change while away.
    EXPECT_TRUE(testing::WaitFor([&] { return !mixer.unchangedSinceLastRead(); }));
    // Away: reads fail but leave the last level, not 0; writes fail.
    std::uint32_t value = 0;
    EXPECT_EQ(ReadUntilLost(master, value), MMSYSERR_NODRIVER);
    EXPECT_FALSE(mixer.unchangedSinceLastRead());
    EXPECT_EQ(value, 30000u);
    MMResult rc = 0;
    EXPECT_EQ(Read(mute, &rc), 0u);
    EXPECT_EQ(rc, MMSYSERR_NODRIVER);
    EXPECT_EQ(Write(master, 50000), MMSYSERR_NODRIVER);
    EXPECT_EQ(Read(master), 30000u);

    // Back, at another level: the device is opened again only once the interval since the
    // failed attempt has passed, however often it is asked.
    StartServer();
    SetSinkVolume(20000);
    now += AlsaMixer::kReopenIntervalMs - 1;
    for (int i = 0; i < 20; ++i) {
        EXPECT_EQ(Read(master, &rc), 30000u);
        EXPECT_EQ(rc, MMSYSERR_NODRIVER);
    }
    now += 1;
    EXPECT_EQ(Read(master, &rc), 20000u);
    EXPECT_EQ(rc, MMSYSERR_NOERROR);
    EXPECT_EQ(Write(master, 45000), MMSYSERR_NOERROR);
    EXPECT_EQ(SinkVolume(), 45000);
    // Outside changes are seen again.
    SetSinkVolume(12345);
    EXPECT_EQ(ReadSoon(master, 12345), 12345u);
}

TEST_F(MixerReopen, TheCoreVolumeClassSeesNoDropToZeroAndWritesAgainAfterTheRestart) {
    MessageBoxesNever boxes;
    AlsaWaveIn waveIn;
    clsVolume vol(mixer, waveIn, boxes);
    ASSERT_EQ(vol.VolumeLevel(), 30000);
    StopServer();
    std::uint32_t value = 0;
    ReadUntilLost(master, value);
    EXPECT_EQ(vol.VolumeLevel(), 30000);
    EXPECT_EQ(vol.LastResult(), MMSYSERR_NODRIVER);
    EXPECT_EQ(vol.VolumeMax(), 65536);  // as found when the instance was made

    StartServer();
    now += AlsaMixer::kReopenIntervalMs;
    vol.VolumeLevel(40000);
    EXPECT_EQ(vol.LastResult(), MMSYSERR_NOERROR);
    EXPECT_EQ(SinkVolume(), 40000);
    EXPECT_EQ(vol.VolumeLevel(), 40000);
    EXPECT_TRUE(boxes.shown.empty());
}

TEST_F(MixerReopen, AMixerOpenedBeforeTheServerFollowsItOnceItIsThere) {
    StopServer();
    AlsaMixer early {"default", [this] { return now; }};
    MessageBoxesNever boxes;
    AlsaWaveIn waveIn;
    clsVolume vol(early, waveIn, boxes);
    EXPECT_EQ(vol.VolumeMax(), AlsaMixer::kAssumedMaximum);
    EXPECT_EQ(vol.VolumeLevel(), 0);

    StartServer();
    SetSinkVolume(20000);
    now += AlsaMixer::kReopenIntervalMs - 1;
    EXPECT_EQ(vol.VolumeLevel(), 0);  // not before the interval
    now += 1;
    EXPECT_EQ(vol.VolumeLevel(), 20000);
    EXPECT_EQ(vol.LastResult(), MMSYSERR_NOERROR);
    vol.VolumeLevel(vol.VolumeLevel() + vol.VolumeMax() / 17);
    EXPECT_EQ(SinkVolume(), 20000 + 65536 / 17);
    EXPECT_TRUE(boxes.shown.empty());
}

TEST_F(MixerReopen, LevelsTheServerSettlesOnAfterItCameBackAreNoChangeUntilTheProgramWrites) {
    StopServer();
    std::uint32_t value = 0;
    ReadUntilLost(master, value);
    StartServer();
    SetSinkVolume(65536);  // as pipewire-pulse reports the sinks before WirePlumber runs
    now += AlsaMixer::kReopenIntervalMs;
    MMResult rc = 0;
    EXPECT_EQ(Read(master, &rc), 65536u);
    EXPECT_EQ(rc, MMSYSERR_NOERROR);
    // The session manager restores the level of the last session a moment later: read, but
    // answered as while the server was away, until the settling is over.
    SetSinkVolume(30000);
    EXPECT_EQ(ReadSoon(master, 30000), 30000u);
    EXPECT_EQ(Read(master, &rc), 30000u);
    EXPECT_EQ(rc, MMSYSERR_NODRIVER);
    EXPECT_FALSE(mixer.unchangedSinceLastRead());  // the watch reads on while it settles
    now += AlsaMixer::kSettleMs;
    EXPECT_EQ(Read(master, &rc), 30000u);
    EXPECT_EQ(rc, MMSYSERR_NOERROR);

    // Back once more; the program's own write ends the settling at once.
    StopServer();
    ReadUntilLost(master, value);
    StartServer();
    SetSinkVolume(30000);
    now += AlsaMixer::kReopenIntervalMs;
    EXPECT_EQ(Write(master, 40000), MMSYSERR_NOERROR);
    SetSinkVolume(41000);
    EXPECT_EQ(ReadSoon(master, 41000), 41000u);
    EXPECT_EQ(Read(master, &rc), 41000u);
    EXPECT_EQ(rc, MMSYSERR_NOERROR);
}

TEST(ServerRestart, TheClickSoundPlaysAgainOnceTheServerIsBack) {
    REQUIRE_SOUND_SERVER();
    const std::string wav = std::string(VEXLO_SKIN_DIR) + "/sound.wav";
    CanberraSound sound;
    ASSERT_TRUE(sound.play(wav, SND_ASYNC));
    StopServer();
    EXPECT_FALSE(sound.play(wav, SND_ASYNC));
    StartServer();
    // libcanberra's context stays broken after its connection died; the adapter starts over.
    EXPECT_TRUE(sound.play(wav, SND_ASYNC));
    EXPECT_TRUE(sound.play(wav, SND_ASYNC));
}

// ---- Capture -----------------------------------------------------------------------------

TEST(WaveIn, FillsQueuedBlocksInOrderAndMarksThemDone) {
    REQUIRE_SOUND_SERVER();
    AlsaWaveIn waveIn;
    WaveInHandle handle = 0;
    const WaveFormat format {1, 1, 8000, 8000, 1, 8, 0};
    ASSERT_EQ(waveIn.open(handle, 0, format), MMSYSERR_NOERROR);

    // Two small blocks: 0.1 s each.
    std::vector<char> a(800), b(800);
    WaveHeader ha, hb;
    ha.lpData = a.data();
    ha.dwBufferLength = 800;
    hb.lpData = b.data();
    hb.dwBufferLength = 800;
    EXPECT_EQ(waveIn.addBuffer(handle, ha, kWaveHeaderSize), 34u);  // not prepared
    ASSERT_EQ(waveIn.prepareHeader(handle, ha, kWaveHeaderSize), MMSYSERR_NOERROR);
    ASSERT_EQ(waveIn.prepareHeader(handle, hb, kWaveHeaderSize), MMSYSERR_NOERROR);
    ASSERT_EQ(waveIn.addBuffer(handle, ha, kWaveHeaderSize), MMSYSERR_NOERROR);
    ASSERT_EQ(waveIn.addBuffer(handle, hb, kWaveHeaderSize), MMSYSERR_NOERROR);
    EXPECT_TRUE(ha.dwFlags & WHDR_INQUEUE);
    EXPECT_EQ(waveIn.addBuffer(handle, ha, kWaveHeaderSize), WAVERR_STILLPLAYING);
    EXPECT_EQ(waveIn.unprepareHeader(handle, ha, kWaveHeaderSize), WAVERR_STILLPLAYING);
    EXPECT_EQ(waveIn.close(handle), WAVERR_STILLPLAYING);

    ASSERT_EQ(waveIn.start(handle), MMSYSERR_NOERROR);
    ASSERT_TRUE(testing::WaitFor([&] { return (hb.dwFlags & WHDR_DONE) != 0; }));
    EXPECT_TRUE(ha.dwFlags & WHDR_DONE);
    EXPECT_EQ(ha.dwBytesRecorded, 800u);
    EXPECT_EQ(hb.dwBytesRecorded, 800u);
    EXPECT_FALSE(ha.dwFlags & WHDR_INQUEUE);

    // Handed back, refilled; a reset returns it unfinished but done.
    ASSERT_EQ(waveIn.addBuffer(handle, ha, kWaveHeaderSize), MMSYSERR_NOERROR);
    EXPECT_FALSE(ha.dwFlags & WHDR_DONE);
    EXPECT_EQ(waveIn.reset(handle), MMSYSERR_NOERROR);
    EXPECT_TRUE(ha.dwFlags & WHDR_DONE);
    EXPECT_EQ(waveIn.stop(handle), MMSYSERR_NOERROR);
    EXPECT_EQ(waveIn.unprepareHeader(handle, ha, kWaveHeaderSize), MMSYSERR_NOERROR);
    EXPECT_EQ(waveIn.unprepareHeader(handle, hb, kWaveHeaderSize), MMSYSERR_NOERROR);
    EXPECT_FALSE(ha.dwFlags & WHDR_PREPARED);
    EXPECT_EQ(waveIn.close(handle), MMSYSERR_NOERROR);
    EXPECT_EQ(waveIn.close(handle), MMSYSERR_INVALHANDLE);
}

}  // namespace
}  // namespace vexlo::linux_platform
