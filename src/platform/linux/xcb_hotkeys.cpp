#include "platform/linux/xcb_hotkeys.h"

#include <QCoreApplication>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "hotkeys/key_chord.h"
#include "platform/event_sink.h"
#include "platform/linux/desktop_keys.h"
#include "platform/linux/x11_util.h"
#include "platform/types.h"

namespace vexlo::linux_platform {

namespace {

constexpr std::uint32_t kModAlt = 1, kModControl = 2, kModShift = 4;
// Lock and NumLock do not change what a hotkey means.
constexpr std::uint16_t kIgnoredVariants[] = {0, XCB_MOD_MASK_LOCK, XCB_MOD_MASK_2,
                                              XCB_MOD_MASK_LOCK | XCB_MOD_MASK_2};
constexpr std::uint16_t kRelevantModifiers =
    XCB_MOD_MASK_SHIFT | XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1 | XCB_MOD_MASK_4;
constexpr std::uint8_t kBadAccess = 10;

template <typename T>
using XcbReply = std::unique_ptr<T, decltype(&std::free)>;

}  // namespace

XcbHotkeys::XcbHotkeys(EventPort& port, QtWindowSystem& windows)
    : port_(port), windows_(windows), coreProcedure_(static_cast<WindowProc>(NewHandle())) {
    windows_.setCoreProcedure(coreProcedure_);
    if (QCoreApplication::instance() != nullptr) {
        QCoreApplication::instance()->installNativeEventFilter(this);
    }
}

XcbHotkeys::~XcbHotkeys() {
    // The portal outlives this object (it is made first): it calls nothing here any more.
    if (portal_ != nullptr) portal_->setActivated({});
    if (QCoreApplication::instance() != nullptr) {
        QCoreApplication::instance()->removeNativeEventFilter(this);
    }
    for (const auto& [id, r] : registrations_) ungrab(r);
}

std::uint32_t XcbHotkeys::KeysymFor(std::uint32_t virtualKey) {
    return DesktopKeyFor(virtualKey).keysym;
}

std::string XcbHotkeys::combinationName(std::uint32_t modifiers, std::uint32_t virtualKey) const {
    std::string name;
    if (modifiers & kModControl) name += "Ctrl + ";
    if (modifiers & kModAlt) name += "Alt + ";
    if (modifiers & kModShift) name += "Shift + ";
    if (modifiers & MOD_WIN) name += "Super + ";
    // The key as the settings write it ("=", "Up", "PageUp", "KP_Add"), so that a message
    // names it as the user chose it.
    std::string key = KeyNameOf(virtualKey);
    if (key.empty()) key = DesktopKeyFor(virtualKey).name;
    if (key.empty()) key = "key " + std::to_string(virtualKey);
    return name + key;
}

std::uint16_t XcbHotkeys::ModifierMask(std::uint32_t modifiers) {
    std::uint16_t mask = 0;
    if (modifiers & kModAlt) mask |= XCB_MOD_MASK_1;
    if (modifiers & kModControl) mask |= XCB_MOD_MASK_CONTROL;
    if (modifiers & kModShift) mask |= XCB_MOD_MASK_SHIFT;
    if (modifiers & MOD_WIN) mask |= XCB_MOD_MASK_4;
    return mask;
}

std::vector<std::uint8_t> XcbHotkeys::KeycodesFor(std::uint32_t keysym, bool* shifted) const {
    std::vector<std::uint8_t> codes;
    if (shifted != nullptr) *shifted = false;
    xcb_connection_t* c = X11Connection();
    if (c == nullptr) return codes;
    const xcb_setup_t* setup = xcb_get_setup(c);
    const int count = setup->max_keycode - setup->min_keycode + 1;
    XcbReply<xcb_get_keyboard_mapping_reply_t> reply(
        xcb_get_keyboard_mapping_reply(
            c, xcb_get_keyboard_mapping(c, setup->min_keycode, static_cast<std::uint8_t>(count)),
            nullptr),
        &std::free);
    if (!reply) return codes;
    const xcb_keysym_t* syms = xcb_get_keyboard_mapping_keysyms(reply.get());
    const int perCode = reply->keysyms_per_keycode;
    // The keys with the symbol as their own, without Shift: the main block's "=" and not the
    // keypad's. Where no key has it so, the keys that give it with Shift (a layout's "=" over
    // its "0"), pressed with Shift.
    for (int column = 0; column < 2 && column < perCode && codes.empty(); ++column) {
        for (int i = 0; i < count; ++i) {
            if (syms[i * perCode + column] == keysym) {
                codes.push_back(static_cast<std::uint8_t>(setup->min_keycode + i));
            }
        }
        if (shifted != nullptr) *shifted = column == 1 && !codes.empty();
    }
    return codes;
}

void XcbHotkeys::ungrab(const Registration& r) {
    xcb_connection_t* c = X11Connection();
    if (c == nullptr) return;
    const xcb_window_t root = X11Root();
    for (std::uint8_t code : r.keycodes) {
        for (std::uint16_t variant : kIgnoredVariants) {
            xcb_ungrab_key(c, code, root, r.modifiers | variant);
        }
    }
    xcb_flush(c);
}

std::string XcbHotkeys::superGrabs() const {
    std::string names;
    for (const auto& [id, r] : registrations_) {
        if (r.viaPortal || r.keycodes.empty() || (r.modifiers & XCB_MOD_MASK_4) == 0) continue;
        names += (names.empty() ? "" : " and ") + r.name;
    }
    return names;
}

void XcbHotkeys::usePortal(PortalShortcuts& portal) {
    portal_ = &portal;
    portal.setActivated([this](int id) { activate(id); });
}

bool XcbHotkeys::registerHotKey(NativeHandle window, int id, std::uint32_t modifiers,
                                std::uint32_t virtualKey) {
    if (windows_.find(window) == nullptr || registrations_.count(id) != 0) return false;
    // Asked only now, so that a program without hotkeys never talks to the portal. A key
    // without a modifier (Esc ending the skin preview) is no desktop shortcut: it is grabbed.
    if (portal_ != nullptr && modifiers != 0 && portal_->available()) {
        const std::string trigger = PortalShortcuts::TriggerFor(modifiers, virtualKey);
        if (trigger.empty()) return false;
        registrations_[id] = Registration {
            window, ModifierMask(modifiers), {}, true, combinationName(modifiers, virtualKey)};
        portal_->bind(id, trigger);
        return true;
    }
    xcb_connection_t* c = X11Connection();
    if (c == nullptr) return false;
    const std::uint32_t keysym = KeysymFor(virtualKey);
    if (keysym == 0) return false;
    bool shifted = false;
    Registration r {window, ModifierMask(modifiers), KeycodesFor(keysym, &shifted), false,
                    combinationName(modifiers, virtualKey)};
    // A key the keyboard does not have (F13 on most layouts) cannot be pressed.
    if (r.keycodes.empty()) return false;
    if (shifted) r.modifiers |= XCB_MOD_MASK_SHIFT;

    const xcb_window_t root = X11Root();
    std::vector<xcb_void_cookie_t> cookies;
    for (std::uint8_t code : r.keycodes) {
        for (std::uint16_t variant : kIgnoredVariants) {
            cookies.push_back(xcb_grab_key_checked(c, 1, root, r.modifiers | variant, code,
                                                   XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC));
        }
    }
    bool refused = false;
    for (const xcb_void_cookie_t& cookie : cookies) {
        if (xcb_generic_error_t* error = xcb_request_check(c, cookie)) {
            if (error->error_code == kBadAccess) conflict_ = true;
            refused = true;
            std::free(error);
        }
    }
    if (refused) {
        // All or nothing: a hotkey that works only with NumLock off helps nobody.
        ungrab(r);
        return false;
    }
    registrations_[id] = std::move(r);
    return true;
}

bool XcbHotkeys::unregisterHotKey(NativeHandle window, int id) {
    const auto it = registrations_.find(id);
    if (it == registrations_.end() || it->second.window != window) return false;
    if (it->second.viaPortal) {
        portal_->release(id);
    } else {
        ungrab(it->second);
    }
    registrations_.erase(it);
    return true;
}

WindowProc XcbHotkeys::setWindowProc(NativeHandle window, WindowProc procedure) {
    QtWindow* w = windows_.find(window);
    if (w == nullptr) return 0;
    const WindowProc previous = w->procedure;
    w->procedure = procedure;
    return previous;
}

std::intptr_t XcbHotkeys::callWindowProc(WindowProc procedure, NativeHandle window,
                                         std::uint32_t message, std::uintptr_t wParam,
                                         std::intptr_t lParam) {
    if (procedure == coreProcedure_) {
        std::intptr_t result = 0;
        port_.deliver([&](EventSink& sink) {
            result = sink.onWindowMessage(window, message, wParam, lParam);
        });
        return result;
    }
    // A window's own procedure: the system's default handling, which answers 0.
    QtWindow* w = windows_.find(window);
    if (w != nullptr && procedure == w->originalProcedure) {
        return windows_.defaultProcedure(window, message, wParam, lParam);
    }
    return 0;
}

bool XcbHotkeys::keyPressed(std::uint8_t keycode, std::uint16_t state) {
    const std::uint16_t modifiers = state & kRelevantModifiers;
    for (const auto& [id, r] : registrations_) {
        if (r.modifiers != modifiers) continue;
        bool match = false;
        for (std::uint8_t code : r.keycodes) match = match || code == keycode;
        if (!match) continue;
        activate(id);
        return true;
    }
    return false;
}

bool XcbHotkeys::activate(int id) {
    const auto it = registrations_.find(id);
    if (it == registrations_.end()) return false;
    const NativeHandle window = it->second.window;
    QtWindow* w = windows_.find(window);
    // Only the core's procedure knows hotkeys; the window's own one ignores them.
    if (w == nullptr || w->procedure != coreProcedure_) return false;
    return port_.deliver([&](EventSink& sink) {
        sink.onWindowMessage(window, WM_HOTKEY, static_cast<std::uintptr_t>(id), 0);
    });
}

bool XcbHotkeys::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) {
    if (eventType != "xcb_generic_event_t" || registrations_.empty()) return false;
    auto* event = static_cast<xcb_generic_event_t*>(message);
    if ((event->response_type & 0x7f) != XCB_KEY_PRESS) return false;
    auto* key = reinterpret_cast<xcb_key_press_event_t*>(event);
    if (key->event != X11Root()) return false;
    return keyPressed(key->detail, key->state);
}

// ---- InstanceGuard -----------------------------------------------------------------------

namespace {
const char* const kSelection = "_VEXLO_RESIDENT_S0";
}

InstanceGuard::~InstanceGuard() {
    xcb_connection_t* c = X11Connection();
    if (c != nullptr && window_ != 0) {
        xcb_destroy_window(c, window_);
        xcb_flush(c);
    }
}

bool InstanceGuard::OtherRunning() {
    xcb_connection_t* c = X11Connection();
    if (c == nullptr) return false;
    XcbReply<xcb_get_selection_owner_reply_t> reply(
        xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, X11Atom(kSelection)), nullptr),
        &std::free);
    return reply && reply->owner != XCB_NONE;
}

bool InstanceGuard::claim() {
    xcb_connection_t* c = X11Connection();
    if (c == nullptr) return false;
    const xcb_setup_t* setup = xcb_get_setup(c);
    xcb_screen_t* screen = xcb_setup_roots_iterator(setup).data;
    window_ = xcb_generate_id(c);
    xcb_create_window(c, XCB_COPY_FROM_PARENT, window_, screen->root, -1, -1, 1, 1, 0,
                      XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, 0, nullptr);
    xcb_set_selection_owner(c, window_, X11Atom(kSelection), XCB_CURRENT_TIME);
    xcb_flush(c);
    return true;
}

}  // namespace vexlo::linux_platform
