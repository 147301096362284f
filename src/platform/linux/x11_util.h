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

// How the X server's windows reach the screen: whether a compositing manager draws them (a
// window with an alpha channel is then blended), and whether it applies
// _NET_WM_WINDOW_OPACITY to override-redirect windows. In a Wayland session every X window is
// composited by the Wayland compositor; of those, only KWin applies the property to such
// windows (mutter and wlroots' desktops leave them opaque).
struct X11Compositing {
    bool composited = false;
    bool appliesOpacity = false;
};
X11Compositing X11CompositingNow(bool waylandSession);

// Adds the atoms that are missing to _NET_WM_STATE of a window that is not mapped yet (the
// window manager reads the property when the window is mapped).
void AddNetWmStates(xcb_window_t window, const std::vector<std::string>& states);

}  // namespace vexlo::linux_platform
