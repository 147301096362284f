// Values shared by every port: handles, result codes and the system's fixed numbers.
#pragma once

#include <cstdint>

namespace vexlo {

// A native handle of a window, element, icon or procedure. 32 bits on the Windows build;
// on other builds it is whatever the adapter hands out.
using NativeHandle = std::uintptr_t;

// Result codes of the multimedia calls (0 = success).
using MMResult = std::uint32_t;
inline constexpr MMResult MMSYSERR_NOERROR = 0;
inline constexpr MMResult MMSYSERR_ERROR = 1;
inline constexpr MMResult MMSYSERR_BADDEVICEID = 2;
inline constexpr MMResult MMSYSERR_INVALHANDLE = 5;
inline constexpr MMResult MMSYSERR_NODRIVER = 6;
inline constexpr MMResult MMSYSERR_NOMEM = 7;
inline constexpr MMResult MMSYSERR_NOTSUPPORTED = 8;
inline constexpr MMResult MMSYSERR_INVALFLAG = 10;
inline constexpr MMResult MMSYSERR_INVALPARAM = 11;
inline constexpr MMResult MIXERR_INVALLINE = 1024;
inline constexpr MMResult MIXERR_INVALCONTROL = 1025;
inline constexpr MMResult WAVERR_STILLPLAYING = 33;

// Mixer line component types.
inline constexpr std::uint32_t MIXERLINE_COMPONENTTYPE_DST_SPEAKERS = 4;
inline constexpr std::uint32_t MIXERLINE_COMPONENTTYPE_DST_WAVEIN = 7;
inline constexpr std::uint32_t MIXERLINE_COMPONENTTYPE_SRC_LINE = 0x1002;
inline constexpr std::uint32_t MIXERLINE_COMPONENTTYPE_SRC_MICROPHONE = 0x1003;
inline constexpr std::uint32_t MIXERLINE_COMPONENTTYPE_SRC_SYNTHESIZER = 0x1004;
inline constexpr std::uint32_t MIXERLINE_COMPONENTTYPE_SRC_COMPACTDISC = 0x1005;
inline constexpr std::uint32_t MIXERLINE_COMPONENTTYPE_SRC_WAVEOUT = 0x1008;

// Mixer control types.
inline constexpr std::uint32_t MIXERCONTROL_CONTROLTYPE_VOLUME = 0x50030001;
inline constexpr std::uint32_t MIXERCONTROL_CONTROLTYPE_MUTE = 0x20010002;
inline constexpr std::uint32_t MIXERCONTROL_CONTROLTYPE_PEAKMETER = 0x10020001;

// Window messages and commands.
inline constexpr std::uint32_t WM_MOUSEMOVE = 0x200;
inline constexpr std::uint32_t WM_LBUTTONDOWN = 0x201;
inline constexpr std::uint32_t WM_LBUTTONUP = 0x202;
inline constexpr std::uint32_t WM_LBUTTONDBLCLK = 0x203;
inline constexpr std::uint32_t WM_RBUTTONDOWN = 0x204;
inline constexpr std::uint32_t WM_RBUTTONUP = 0x205;
inline constexpr std::uint32_t WM_MBUTTONDOWN = 0x207;
inline constexpr std::uint32_t WM_HOTKEY = 0x0312;
inline constexpr std::uint32_t WM_SYSCOMMAND = 0x0112;
inline constexpr std::uintptr_t SC_DRAGMOVE = 0xF012;  // SC_MOVE | HTCAPTION

// Window longs, layered attributes and stacking.
inline constexpr int GWL_WNDPROC = -4;
inline constexpr int GWL_EXSTYLE = -20;
inline constexpr std::int32_t WS_EX_LAYERED = 0x00080000;
inline constexpr std::uint32_t COLOR_KEY = 0x00FF00FF;  // magenta as a COLORREF
inline constexpr std::uint32_t LWA_COLORKEY = 1;
inline constexpr std::uint32_t LWA_ALPHA = 2;
inline constexpr std::intptr_t HWND_TOPMOST = -1;
inline constexpr std::uint32_t SWP_NOSIZE = 1;
inline constexpr std::uint32_t SWP_NOMOVE = 2;

// Hotkeys.
inline constexpr int HOTKEY_UP = 1331;
inline constexpr int HOTKEY_DOWN = 1332;
inline constexpr std::uint32_t MOD_ALT = 1;
inline constexpr std::uint32_t MOD_CONTROL = 2;
inline constexpr std::uint32_t MOD_SHIFT = 4;
inline constexpr std::uint32_t MOD_WIN = 8;
inline constexpr std::uint32_t VK_OEM_PLUS = 0xBB;
inline constexpr std::uint32_t VK_OEM_MINUS = 0xBD;
inline constexpr std::uint32_t VK_ESCAPE = 0x1B;
// Further keys a user may choose for the hotkeys (letters and digits are their characters).
inline constexpr std::uint32_t VK_SPACE = 0x20;
inline constexpr std::uint32_t VK_PRIOR = 0x21;  // Page Up
inline constexpr std::uint32_t VK_NEXT = 0x22;   // Page Down
inline constexpr std::uint32_t VK_END = 0x23;
inline constexpr std::uint32_t VK_HOME = 0x24;
inline constexpr std::uint32_t VK_LEFT = 0x25;
inline constexpr std::uint32_t VK_UP = 0x26;
inline constexpr std::uint32_t VK_RIGHT = 0x27;
inline constexpr std::uint32_t VK_DOWN = 0x28;
inline constexpr std::uint32_t VK_INSERT = 0x2D;
inline constexpr std::uint32_t VK_DELETE = 0x2E;
inline constexpr std::uint32_t VK_ADD = 0x6B;       // the keypad's plus
inline constexpr std::uint32_t VK_SUBTRACT = 0x6D;  // the keypad's minus
inline constexpr std::uint32_t VK_F1 = 0x70;        // to VK_F24 = 0x87
inline constexpr std::uint32_t VK_OEM_1 = 0xBA;     // ; on US keyboards
inline constexpr std::uint32_t VK_OEM_COMMA = 0xBC;
inline constexpr std::uint32_t VK_OEM_PERIOD = 0xBE;
inline constexpr std::uint32_t VK_OEM_2 = 0xBF;  // /
inline constexpr std::uint32_t VK_OEM_3 = 0xC0;  // `
inline constexpr std::uint32_t VK_OEM_4 = 0xDB;  // [
inline constexpr std::uint32_t VK_OEM_5 = 0xDC;  // backslash
inline constexpr std::uint32_t VK_OEM_6 = 0xDD;  // ]
inline constexpr std::uint32_t VK_OEM_7 = 0xDE;  // '

// Sound, message boxes and showing a started program.
inline constexpr std::uint32_t SND_ASYNC = 1;
inline constexpr std::uint32_t MB_OK = 0;
inline constexpr std::uint32_t MB_ICONHAND = 0x10;
inline constexpr int IDOK = 1;
inline constexpr int SW_SHOWNORMAL = 1;

// Tray.
inline constexpr std::uint32_t NIM_ADD = 0;
inline constexpr std::uint32_t NIM_MODIFY = 1;
inline constexpr std::uint32_t NIM_DELETE = 2;
inline constexpr std::uint32_t NIF_MESSAGE = 1;
inline constexpr std::uint32_t NIF_ICON = 2;
inline constexpr std::uint32_t NIF_TIP = 4;

}  // namespace vexlo
