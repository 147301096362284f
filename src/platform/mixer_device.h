// Port: the multimedia mixer device.
#pragma once

#include <cstdint>

#include "platform/types.h"

namespace vexlo {

// The program's description of one mixer control, exchanged with the device as one 152-byte
// block: the published control description with one more reserved word at its end.
struct ControlRecord {
    std::uint32_t cbStruct;
    std::uint32_t dwControlID;
    std::uint32_t dwControlType;
    std::uint32_t fdwControl;
    std::uint32_t cMultipleItems;
    char szShortName[16];
    char szName[64];
    std::int32_t lMinimum;
    std::int32_t lMaximum;
    std::uint32_t reserved[11];
};
static_assert(sizeof(ControlRecord) == 152, "the control record is exchanged as 152 bytes");

inline constexpr std::uint32_t kControlRecordSize = 152;

using MixerHandle = std::uintptr_t;

// One value request: the control, how many channels and items, and a 4-byte value block.
struct ControlDetails {
    std::uint32_t cbStruct = 24;
    std::uint32_t dwControlID = 0;
    std::uint32_t cChannels = 1;
    std::uint32_t cMultipleItems = 0;
    std::uint32_t cbDetails = 4;
    void* paDetails = nullptr;  // may be null when the block could not be had
};

class MixerDevice {
  public:
    virtual ~MixerDevice() = default;
    // mixerOpen(device, callback 0, instance 0, flags 0).
    virtual MMResult open(std::uint32_t deviceId, MixerHandle& handle) = 0;
    virtual MMResult close(MixerHandle handle) = 0;
    // mixerGetLineInfoA by component type: 0 and the line's id when such a line exists.
    virtual MMResult lineByComponentType(MixerHandle handle, std::uint32_t componentType,
                                         std::uint32_t& lineId) = 0;
    // mixerGetLineControlsA, one control by type, into a block of cbControl bytes (152).
    virtual MMResult controlByType(MixerHandle handle, std::uint32_t lineId,
                                   std::uint32_t controlType, std::uint32_t cbControl,
                                   void* block) = 0;
    // mixerGetControlDetailsA / mixerSetControlDetails with flags 0.
    virtual MMResult getControlDetails(MixerHandle handle, ControlDetails& details) = 0;
    virtual MMResult setControlDetails(MixerHandle handle, const ControlDetails& details) = 0;

    // True only when every read now would answer exactly what the last reads of each open
    // handle answered: those reads succeeded, nothing was written since, and the device has
    // reported no change. May be called from any thread; a device that cannot tell says false.
    virtual bool unchangedSinceLastRead() { return false; }
};

}  // namespace vexlo
