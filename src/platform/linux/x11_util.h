// Small X11 helpers for what Qt does not offer: the xcb connection and window properties.
#pragma once

#include <xcb/xcb.h>

#include <string>
#include <vector>

namespace vexlo::linux_platform {

// The connection of the running Qt application when it runs on X11, else null.
xcb_connection_t* X11Connection();
xcb_window_t X11Root();
xcb_atom_t X11Atom(const std::string& name);

// Whether a compositing manager draws the screen, so that a window with an alpha channel is
// blended: one owns _NET_WM_CM_S<screen>, or the X server is Xwayland in a Wayland session,
// whose compositor draws every X window.
bool X11Composited(bool waylandSession);

// The pointer's position on the root window, in the X server's pixels; false without X.
bool X11PointerPosition(int& x, int& y);
// The rectangle of the window _NET_ACTIVE_WINDOW names, in the X server's pixels from the root
// window's corner; false when there is none (no window manager that says, or nothing active).
bool X11ActiveWindowRect(int& x, int& y, int& width, int& height);

// Adds the atoms that are missing to _NET_WM_STATE of a window that is not mapped yet (the
// window manager reads the property when the window is mapped).
void AddNetWmStates(xcb_window_t window, const std::vector<std::string>& states);

}  // namespace vexlo::linux_platform
