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

bool X11PointerPosition(int& x, int& y) {
    xcb_connection_t* c = X11Connection();
    const xcb_window_t root = X11Root();
    if (c == nullptr || root == 0) return false;
    xcb_query_pointer_reply_t* reply =
        xcb_query_pointer_reply(c, xcb_query_pointer(c, root), nullptr);
    if (reply == nullptr) return false;
    // Another screen of the display than this one: the position means nothing here.
    const bool here = reply->same_screen != 0;
    x = reply->root_x;
    y = reply->root_y;
    std::free(reply);
    return here;
}

bool X11ActiveWindowRect(int& x, int& y, int& width, int& height) {
    xcb_connection_t* c = X11Connection();
    const xcb_window_t root = X11Root();
    const xcb_atom_t property = X11Atom("_NET_ACTIVE_WINDOW");
    if (c == nullptr || root == 0 || property == XCB_ATOM_NONE) return false;
    xcb_window_t active = XCB_WINDOW_NONE;
    xcb_get_property_reply_t* reply = xcb_get_property_reply(
        c, xcb_get_property(c, 0, root, property, XCB_ATOM_WINDOW, 0, 1), nullptr);
    if (reply != nullptr) {
        if (reply->format == 32 && xcb_get_property_value_length(reply) >= 4) {
            active = *static_cast<const xcb_window_t*>(xcb_get_property_value(reply));
        }
        std::free(reply);
    }
    if (active == XCB_WINDOW_NONE || active == root) return false;
    // A window that is gone already answers with errors, which come back here as null replies.
    xcb_get_geometry_cookie_t geometryCookie = xcb_get_geometry(c, active);
    xcb_translate_coordinates_cookie_t placeCookie =
        xcb_translate_coordinates(c, active, root, 0, 0);
    xcb_get_geometry_reply_t* geometry = xcb_get_geometry_reply(c, geometryCookie, nullptr);
    xcb_translate_coordinates_reply_t* place =
        xcb_translate_coordinates_reply(c, placeCookie, nullptr);
    const bool found = geometry != nullptr && place != nullptr;
    if (found) {
        x = place->dst_x;
        y = place->dst_y;
        width = geometry->width;
        height = geometry->height;
    }
    std::free(geometry);
    std::free(place);
    return found;
}

}  // namespace vexlo::linux_platform
