// The Windows headers, for the adapters. The port headers come first: <windows.h> defines
// many of the same names (WM_MOUSEMOVE, MK_MBUTTON, WHDR_DONE...) as macros, after which the
// ports' own constants can no longer be named. Include this instead of <windows.h>, and
// include any other core header before it.
#pragma once

#ifdef _WINDOWS_
#error "include the port headers (or this header) before <windows.h>"
#endif

#include "platform/platform.h"

namespace vexlo::win32 {
// The core's values where they differ from, or cannot be named beside, the system's macros.
inline constexpr int kCoreLeftButton = MK_LBUTTON;
inline constexpr int kCoreRightButton = MK_RBUTTON;
inline constexpr int kCoreMiddleButton = MK_MBUTTON;
inline constexpr std::uint32_t kCoreHeaderDone = WHDR_DONE;
inline constexpr std::uint32_t kCoreHeaderPrepared = WHDR_PREPARED;
inline constexpr std::uint32_t kCoreHeaderInQueue = WHDR_INQUEUE;
}  // namespace vexlo::win32

// clang-format off
#include <windows.h>
#include <mmsystem.h>
#include <shellapi.h>
// clang-format on
