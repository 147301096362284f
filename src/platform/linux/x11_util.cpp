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

namespace {

// The name the window manager gives itself (_NET_SUPPORTING_WM_CHECK, _NET_WM_NAME).
std::string WindowManagerName(xcb_connection_t* c) {
    std::string name;
    xcb_get_property_reply_t* check = xcb_get_property_reply(
        c,
        xcb_get_property(c, 0, X11Root(), X11Atom("_NET_SUPPORTING_WM_CHECK"), XCB_ATOM_WINDOW, 0,
                         1),
        nullptr);
    if (check == nullptr) return name;
    if (xcb_get_property_value_length(check) == 4) {
        const xcb_window_t wm = *static_cast<const xcb_window_t*>(xcb_get_property_value(check));
        xcb_get_property_reply_t* reply = xcb_get_property_reply(
            c,
            xcb_get_property(c, 0, wm, X11Atom("_NET_WM_NAME"), XCB_GET_PROPERTY_TYPE_ANY, 0, 64),
            nullptr);
        if (reply != nullptr) {
            name.assign(static_cast<const char*>(xcb_get_property_value(reply)),
                        static_cast<std::size_t>(xcb_get_property_value_length(reply)));
            std::free(reply);
        }
    }
    std::free(check);
    return name;
}

}  // namespace

X11Compositing X11CompositingNow(bool waylandSession) {
    X11Compositing result;
    xcb_connection_t* c = X11Connection();
    if (c == nullptr) return result;
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
    if (waylandSession) {
        result.composited = true;
        result.appliesOpacity = WindowManagerName(c).find("KWin") != std::string::npos;
    } else {
        result.composited = owned;
        result.appliesOpacity = owned;
    }
    return result;
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
