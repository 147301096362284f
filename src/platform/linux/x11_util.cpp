#include "platform/linux/x11_util.h"

#include <QtGui/qguiapplication_platform.h>

#include <QGuiApplication>
#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace vexlo::linux_platform {

xcb_connection_t* X11Connection() {
    auto* app = qGuiApp;
    if (app == nullptr) return nullptr;
    auto* x11 = app->nativeInterface<QNativeInterface::QX11Application>();
    return x11 != nullptr ? x11->connection() : nullptr;
}

xcb_window_t X11Root() {
    xcb_connection_t* c = X11Connection();
    if (c == nullptr) return 0;
    const xcb_setup_t* setup = xcb_get_setup(c);
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(setup);
    return it.rem > 0 ? it.data->root : 0;
}

xcb_atom_t X11Atom(const std::string& name) {
    xcb_connection_t* c = X11Connection();
    if (c == nullptr) return XCB_ATOM_NONE;
    xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(
        c, xcb_intern_atom(c, 0, static_cast<std::uint16_t>(name.size()), name.c_str()), nullptr);
    if (reply == nullptr) return XCB_ATOM_NONE;
    const xcb_atom_t atom = reply->atom;
    std::free(reply);
    return atom;
}

bool X11Composited(bool waylandSession) {
    xcb_connection_t* c = X11Connection();
    if (c == nullptr) return false;
    if (waylandSession) return true;
    // The screen the connection uses: DISPLAY's ".N", 0 without one.
    int screen = 0;
    const char* display = std::getenv("DISPLAY");
    const char* colon = display != nullptr ? std::strrchr(display, ':') : nullptr;
    const char* dot = colon != nullptr ? std::strchr(colon, '.') : nullptr;
    if (dot != nullptr) screen = std::atoi(dot + 1);
    bool owned = false;
    const xcb_atom_t selection = X11Atom("_NET_WM_CM_S" + std::to_string(screen));
    if (selection != XCB_ATOM_NONE) {
        xcb_get_selection_owner_reply_t* owner =
            xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, selection), nullptr);
        if (owner != nullptr) {
            owned = owner->owner != XCB_WINDOW_NONE;
            std::free(owner);
        }
    }
    return owned;
}

void AddNetWmStates(xcb_window_t window, const std::vector<std::string>& states) {
    xcb_connection_t* c = X11Connection();
    if (c == nullptr || window == 0) return;
    const xcb_atom_t property = X11Atom("_NET_WM_STATE");
    std::vector<xcb_atom_t> present;
    xcb_get_property_reply_t* reply = xcb_get_property_reply(
        c, xcb_get_property(c, 0, window, property, XCB_ATOM_ATOM, 0, 64), nullptr);
    if (reply != nullptr) {
        const auto* atoms = static_cast<const xcb_atom_t*>(xcb_get_property_value(reply));
        present.assign(atoms, atoms + xcb_get_property_value_length(reply) / 4);
        std::free(reply);
    }
    std::vector<xcb_atom_t> missing;
    for (const std::string& s : states) {
        const xcb_atom_t atom = X11Atom(s);
        if (std::find(present.begin(), present.end(), atom) == present.end()) {
            missing.push_back(atom);
        }
    }
    if (missing.empty()) return;
    xcb_change_property(c, XCB_PROP_MODE_APPEND, window, property, XCB_ATOM_ATOM, 32,
                        static_cast<std::uint32_t>(missing.size()), missing.data());
    xcb_flush(c);
}

}  // namespace vexlo::linux_platform
