// The mixer device over the ALSA simple mixer of one device ("default"). Lines map to simple
// elements by name: the speakers destination to "Master", the sources to "Capture"/"Mic",
// "Line", "CD", "Synth" and "PCM". Levels are the element's own units (0..65536 with the
// PulseAudio plugin); a level written outside the element's range is limited to it.
//
// The sound server behind "default" may go away (restarted, crashed) while the program runs.
// A handle then stays valid: the adapter notices the broken connection at the next transfer,
// closes it and opens the device again, at most once per kReopenIntervalMs, until it is back.
// Meanwhile a read fails with MMSYSERR_NODRIVER but leaves the last value the device reported
// in the block, so a caller that takes the block whatever the result (the core's volume class
// does) sees the level stand still instead of a sudden drop to 0; a write fails and changes
// nothing.
//
// The server may also be missing when the program starts (a session's autostart that runs
// before the sound server). Opening device 0 then still succeeds: the master line is
// described with the range the PulseAudio plugin gives it (0..65536, mute 0..1), reads give
// 0 and fail, and the device is opened on the same schedule as after a loss. Values are
// converted between the range a control was described with and the element's own, should the
// device that appears differ. The adapter says on stderr when the server cannot be reached
// and when it is back, once each time.
//
// A server that has just come (back) is still settling its levels: the session manager
// (WirePlumber) restores the levels of the last session a moment after the outputs appear,
// and until then pipewire-pulse reports them at full volume. For kSettleMs after the device
// came back, a read that finds a level other than the one the device had when it came answers
// MMSYSERR_NODRIVER (with that level in the block), as while the server was away: the caller
// takes what the device says after the settling as where things stand, not as a change. A
// write of the program's own ends the settling at once.
//
// The watch reads the master mute right after the master level, every few milliseconds: that
// read answers from the values the level's read took in, without asking the device again.
// Between its reads, unchangedSinceLastRead() (from the watch's timer thread) takes in what
// the device reported to the watch's handle and tells whether anything did; the mixer's calls
// are serialised for it. Any write makes its next answer "changed".
//
// ALSA's pulse plugin binds the output that is the server's default when the device is opened
// and stays with it. Given a counter of the server's default changes, the adapter opens the
// device again at the first transfer after a change, so that reads and writes follow the new
// default (pipewire-alsa follows by itself; opening it again does no harm there).
#pragma once

#include <alsa/asoundlib.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/mixer_device.h"
#include "platform/texts.h"

namespace vexlo::linux_platform {

// Keeps ALSA's diagnostics off stderr (once per process).
void SilenceAlsa();

class AlsaMixer : public MixerDevice, public UsesTexts {
  public:
    // Milliseconds of a monotonic clock; tests pass their own.
    using Clock = std::function<std::int64_t()>;
    static constexpr std::int64_t kReopenIntervalMs = 300;
    static constexpr std::int64_t kSettleMs = 3000;

    explicit AlsaMixer(std::string device = "default", Clock clock = nullptr);
    ~AlsaMixer() override;

    // Follows the default output: changes counts each change of it (it must outlive the
    // mixer); null stops following.
    void followDefault(const std::atomic<std::uint64_t>* changes) { defaultChanges_ = changes; }
    // Off: the lines about the server going and coming back stay unsaid (a one-shot caller
    // says what failed itself).
    void reportReachability(bool on) { reports_ = on; }

    MMResult open(std::uint32_t deviceId, MixerHandle& handle) override;
    MMResult close(MixerHandle handle) override;
    MMResult lineByComponentType(MixerHandle handle, std::uint32_t componentType,
                                 std::uint32_t& lineId) override;
    MMResult controlByType(MixerHandle handle, std::uint32_t lineId, std::uint32_t controlType,
                           std::uint32_t cbControl, void* block) override;
    MMResult getControlDetails(MixerHandle handle, ControlDetails& details) override;
    MMResult setControlDetails(MixerHandle handle, const ControlDetails& details) override;
    bool unchangedSinceLastRead() override;

    // Control ids: the line's component type in the upper bits, the control kind below.
    static constexpr std::uint32_t kVolumeKind = 1;
    static constexpr std::uint32_t kMuteKind = 2;
    // The master volume's range while no device is there to tell it.
    static constexpr long kAssumedMaximum = 65536;

  private:
    struct Element {
        snd_mixer_elem_t* elem = nullptr;
        bool capture = false;  // an element with capture controls only
    };
    struct Range {
        long minimum = 0;
        long maximum = 0;
    };
    struct Open {
        snd_mixer_t* mixer = nullptr;    // null while the device is away
        snd_config_t* config = nullptr;  // the mixer's own configuration
        std::int64_t nextAttempt = 0;    // when the next re-open may be tried
        std::uint64_t defaultSeen = 0;   // the default changes counted when it was opened
        std::map<std::uint32_t, std::uint32_t> lastValues;  // by control id
        std::int64_t settleUntil = 0;  // the end of the settling after the device came back
        std::map<std::uint32_t, std::uint32_t> cameValues;  // what it said first then, by id
        std::map<std::uint32_t, Range> described;           // volume ranges as told, by id
        // The last transfer was a read of a volume: the element values it took in are still
        // the device's, and a mute read right after answers from them.
        bool justRead = false;
        // The last reads were a level and its mute, both answered, and nothing was written
        // since.
        bool clean = false;
        // The device reported a broken connection between reads: the next transfer opens it
        // again.
        bool lost = false;
        // The element of the line transferred last and its channels, found once and kept
        // while the device's elements cannot have changed: until it reports events or closes.
        std::uint32_t keptLine = 0;  // 0: nothing kept
        Element kept;
        std::vector<snd_mixer_selem_channel_id_t> keptChannels;
    };
    Open* find(MixerHandle handle);
    Element element(Open& open, std::uint32_t componentType);
    // The same, kept for the next transfers, with the channels it has.
    const Element& keptElement(Open& open, std::uint32_t componentType);
    // Opens the device; config receives the configuration read for it, if it needed one.
    snd_mixer_t* openDevice(snd_config_t*& config) const;
    // Opens the device of a session and notes which default output it bound.
    void openSession(Open& open);
    std::uint64_t defaultChanges() const {
        return defaultChanges_ != nullptr ? defaultChanges_->load(std::memory_order_acquire) : 0;
    }
    static void closeDevice(Open& open);
    // Takes in the device's pending changes; detects a lost connection and re-opens it when
    // it is time. True when the device can be used now.
    bool usable(Open& open);
    // A volume of the element as a level of the range the control was described with, and
    // back (limited to the element's range).
    long toDescribed(const Open& open, std::uint32_t id, const Element& e, long value) const;
    long fromDescribed(const Open& open, std::uint32_t id, long level, long min, long max) const;
    // Reports a change between "the device can be opened" and "it cannot" on stderr.
    void reachable(bool yes);

    std::mutex lock_;
    // A write since the watch last asked: the next answer is "changed", whoever read since.
    bool written_ = false;
    // The handle that read a level with its mute last: the watch's.
    MixerHandle watch_ = 0;
    std::string device_;
    Clock clock_;
    std::map<MixerHandle, Open> opens_;
    MixerHandle nextHandle_ = 1;
    bool reachable_ = true;
    bool reports_ = true;
    const std::atomic<std::uint64_t>* defaultChanges_ = nullptr;
};

}  // namespace vexlo::linux_platform
