#include "platform/linux/xcb_hotkeys.h"

#include <sys/uio.h>
#include <xcb/xcbext.h>

#include <QCoreApplication>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "hotkeys/key_chord.h"
#include "platform/event_sink.h"
#include "platform/linux/desktop_keys.h"
#include "platform/linux/x11_util.h"
#include "platform/texts.h"
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
// The kinds of XKB event (their second byte) that say the keys carry other symbols now, or
// that another layout of the keymap is active (a state notification's fourteenth byte is the
// group).
constexpr std::uint8_t kXkbNewKeyboardNotify = 0, kXkbMapNotify = 1, kXkbStateNotify = 2;
constexpr std::uint8_t kXkbGetState = 4;
constexpr std::uint16_t kXkbUseCoreKeyboard = 0x100;

template <typename T>
using XcbReply = std::unique_ptr<T, decltype(&std::free)>;

}  // namespace

XcbHotkeys::XcbHotkeys(EventPort& port, QtWindowSystem& windows)
    : port_(port), windows_(windows), coreProcedure_(static_cast<WindowProc>(NewHandle())) {
    windows_.setCoreProcedure(coreProcedure_);
    if (xcb_connection_t* c = X11Connection()) {
        const char name[] = "XKEYBOARD";
        XcbReply<xcb_query_extension_reply_t> xkb(
            xcb_query_extension_reply(c, xcb_query_extension(c, sizeof name - 1, name), nullptr),
            &std::free);
        if (xkb && xkb->present) {
            xkbEvent_ = xkb->first_event;
            group_ = static_cast<std::uint8_t>(ActiveGroup());
        }
    }
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

namespace {

constexpr std::uint32_t kXkPlus = 0x2b, kXkMinus = 0x2d;

// The text a keysym types, for the label of its key: "A" for a, "Ü" for udiaeresis, "€";
// empty for keys that type nothing one could print (arrows, function keys, the space bar).
std::string LabelOf(std::uint32_t keysym) {
    std::uint32_t code = 0;
    if ((keysym >= 0x21 && keysym <= 0x7e) || (keysym >= 0xa1 && keysym <= 0xff)) {
        code = keysym;  // Latin-1 keysyms are their characters
    } else if (keysym >= 0x1000100 && keysym <= 0x110ffff) {
        code = keysym - 0x1000000;
    }
    if (code == 0) return "";
    // Keyboards label letters in capitals.
    if ((code >= 'a' && code <= 'z') || (code >= 0xe0 && code <= 0xfe && code != 0xf7)) {
        code -= 0x20;
    }
    std::string text;
    if (code < 0x80) {
        text += static_cast<char>(code);
    } else if (code < 0x800) {
        text += static_cast<char>(0xc0 | (code >> 6));
        text += static_cast<char>(0x80 | (code & 0x3f));
    } else if (code < 0x10000) {
        text += static_cast<char>(0xe0 | (code >> 12));
        text += static_cast<char>(0x80 | ((code >> 6) & 0x3f));
        text += static_cast<char>(0x80 | (code & 0x3f));
    } else {
        text += static_cast<char>(0xf0 | (code >> 18));
        text += static_cast<char>(0x80 | ((code >> 12) & 0x3f));
        text += static_cast<char>(0x80 | ((code >> 6) & 0x3f));
        text += static_cast<char>(0x80 | (code & 0x3f));
    }
    return text;
}

}  // namespace

std::string XcbHotkeys::combinationName(std::uint32_t modifiers, std::uint32_t virtualKey) const {
    std::string name = ModifierNames(modifiers, texts());
    if (modifiers & MOD_WIN) {
        // TRANSLATORS: the Super (logo) key on Linux desktops, a part of a key combination's
        // name ("Ctrl + Super + Up").
        name += Tr(texts(), "Super") + " + ";
    }
    // The key as this keyboard labels it ("plus" on the German "+" key and on the US "= +"
    // one, "Ü"); keys without a printed character as the settings write them ("Up",
    // "PageUp", "F13"), also when the keyboard lacks them.
    const KeyPlace place = PlaceOf(virtualKey);
    std::string key = place.carries != 0
                          ? KeyLabel(std::string(1, static_cast<char>(place.carries)), texts())
                          : KeyLabel(LabelOf(place.label), texts());
    if (key.empty()) key = KeyNameOf(virtualKey);
    if (key.empty()) key = DesktopKeyFor(virtualKey).name;
    if (key.empty()) key = UnnamedKey(virtualKey, texts());
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

int XcbHotkeys::ActiveGroup() {
    xcb_connection_t* c = X11Connection();
    if (c == nullptr) return 0;
    // XkbGetState of the core keyboard; the reply's thirteenth byte is the effective group.
    static xcb_extension_t xkb = {"XKEYBOARD", 0};
    struct {
        std::uint8_t major = 0, minor = kXkbGetState;
        std::uint16_t length = 2;
        std::uint16_t device = kXkbUseCoreKeyboard, pad = 0;
    } request;
    iovec parts[3];
    parts[2].iov_base = &request;
    parts[2].iov_len = sizeof request;
    const xcb_protocol_request_t protocol {1, &xkb, kXkbGetState, 0};
    const unsigned int sequence = xcb_send_request(c, XCB_REQUEST_CHECKED, parts + 2, &protocol);
    xcb_generic_error_t* error = nullptr;
    XcbReply<std::uint8_t> reply(
        static_cast<std::uint8_t*>(xcb_wait_for_reply(c, sequence, &error)), &std::free);
    std::free(error);
    return reply ? reply.get()[12] & 3 : 0;
}

XcbHotkeys::Keymap XcbHotkeys::ReadKeymap() {
    Keymap map;
    xcb_connection_t* c = X11Connection();
    if (c == nullptr) return map;
    const xcb_setup_t* setup = xcb_get_setup(c);
    const int count = setup->max_keycode - setup->min_keycode + 1;
    XcbReply<xcb_get_keyboard_mapping_reply_t> reply(
        xcb_get_keyboard_mapping_reply(
            c, xcb_get_keyboard_mapping(c, setup->min_keycode, static_cast<std::uint8_t>(count)),
            nullptr),
        &std::free);
    if (!reply) return map;
    const xcb_keysym_t* syms = xcb_get_keyboard_mapping_keysyms(reply.get());
    map.firstKeycode = setup->min_keycode;
    map.perCode = reply->keysyms_per_keycode;
    map.keysyms.assign(syms, syms + count * map.perCode);
    // The core keymap holds two groups in full (its first four columns); a third or fourth
    // layout is read as the first.
    map.group = ActiveGroup() == 1 ? 1 : 0;
    return map;
}

std::uint32_t XcbHotkeys::Keymap::symbol(std::size_t key, int level) const {
    const std::size_t at = key * perCode;
    // A key without symbols in the active group has the first group's.
    int column = level;
    if (group > 0 && 2 * group + 1 < perCode &&
        (keysyms[at + 2 * group] != 0 || keysyms[at + 2 * group + 1] != 0)) {
        column += 2 * group;
    }
    return column < perCode ? keysyms[at + column] : 0;
}

std::vector<std::uint8_t> XcbHotkeys::Keymap::keysIn(std::uint32_t keysym, int level) const {
    std::vector<std::uint8_t> codes;
    if (perCode == 0) return codes;
    for (std::size_t i = 0; i * perCode < keysyms.size(); ++i) {
        if (symbol(i, level) == keysym)
            codes.push_back(static_cast<std::uint8_t>(firstKeycode + i));
    }
    return codes;
}

std::vector<std::uint8_t> XcbHotkeys::KeycodesFor(std::uint32_t keysym, bool* shifted) const {
    const Keymap map = ReadKeymap();
    // The keys with the symbol as their own, without Shift: the main block's "=" and not the
    // keypad's. Where no key has it so, the keys that give it with Shift (a layout's "=" over
    // its "0"), pressed with Shift.
    std::vector<std::uint8_t> codes = map.keysIn(keysym, 0);
    if (shifted != nullptr) *shifted = false;
    if (codes.empty()) {
        codes = map.keysIn(keysym, 1);
        if (shifted != nullptr) *shifted = !codes.empty();
    }
    return codes;
}

std::string XcbHotkeys::ShortcutKeyName(std::uint32_t virtualKey) {
    const std::string usual = DesktopKeyFor(virtualKey).name;
    if (virtualKey != VK_OEM_PLUS && virtualKey != VK_OEM_MINUS) return usual;
    const Keymap map = ReadKeymap();
    const std::uint32_t carried = virtualKey == VK_OEM_PLUS ? kXkPlus : kXkMinus;
    for (int column = 0; column < 2; ++column) {
        const std::vector<std::uint8_t> keys = map.keysIn(carried, column);
        if (keys.empty()) continue;
        const std::uint32_t own = map.symbol(keys.front() - map.firstKeycode, 0);
        if (own == kXkPlus) return "plus";
        if (own == kXkMinus) return "minus";
        if (own == 0x3d) return "equal";
        if ((own >= '0' && own <= '9') || (own >= 'a' && own <= 'z'))
            return std::string(1, static_cast<char>(own));
        break;
    }
    return usual;
}

XcbHotkeys::KeyPlace XcbHotkeys::PlaceOf(std::uint32_t virtualKey) const {
    KeyPlace place;
    const Keymap map = ReadKeymap();
    // The plus and minus keys are the keys that carry "+" and "-" on this layout, with or
    // without Shift, as on Windows: the US "= +" key, the German "+ *" key. They are pressed
    // as they are, without Shift.
    if (virtualKey == VK_OEM_PLUS || virtualKey == VK_OEM_MINUS) {
        const std::uint32_t carried = virtualKey == VK_OEM_PLUS ? kXkPlus : kXkMinus;
        for (int column = 0; column < 2 && place.keycodes.empty(); ++column) {
            place.keycodes = map.keysIn(carried, column);
        }
        if (!place.keycodes.empty()) {
            place.carries = carried;
            return place;
        }
    }
    const std::uint32_t keysym = KeysymFor(virtualKey);
    if (keysym == 0) return place;
    place.keycodes = map.keysIn(keysym, 0);
    if (place.keycodes.empty()) {
        place.keycodes = map.keysIn(keysym, 1);
        place.shifted = !place.keycodes.empty();
    }
    if (!place.keycodes.empty()) place.label = keysym;
    return place;
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

bool XcbHotkeys::grab(const Registration& r) {
    xcb_connection_t* c = X11Connection();
    if (c == nullptr) return false;
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
    // All or nothing: a hotkey that works only with NumLock off helps nobody.
    if (refused) ungrab(r);
    return !refused;
}

std::string XcbHotkeys::superGrabs(const Texts& texts) const {
    std::string names;
    for (const auto& [id, r] : registrations_) {
        if (r.viaPortal || r.keycodes.empty() || (r.modifiers & XCB_MOD_MASK_4) == 0) continue;
        names += (names.empty() ? "" : Tr(texts, " and ")) + r.name;
    }
    return names;
}

void XcbHotkeys::usePortal(PortalShortcuts& portal) {
    portal_ = &portal;
    portal.setActivated([this](int id) { activate(id); });
}

bool XcbHotkeys::registerHotKey(NativeHandle window, int id, std::uint32_t modifiers,
                                std::uint32_t virtualKey) {
    refusal_ = HotkeyRefusal::Taken;
    if (windows_.find(window) == nullptr || registrations_.count(id) != 0) return false;
    // Asked only now, so that a program without hotkeys never talks to the portal. A key
    // without a modifier (Esc ending the skin preview) is no desktop shortcut: it is grabbed.
    if (portal_ != nullptr && modifiers != 0 && portal_->available()) {
        const std::string trigger = PortalShortcuts::TriggerFor(modifiers, virtualKey);
        if (trigger.empty()) {
            refusal_ = HotkeyRefusal::NoSuchKey;
            return false;
        }
        registrations_[id] = Registration {window,
                                           ModifierMask(modifiers),
                                           {},
                                           true,
                                           combinationName(modifiers, virtualKey),
                                           virtualKey,
                                           modifiers};
        portal_->bind(id, trigger);
        return true;
    }
    if (X11Connection() == nullptr) return false;
    const KeyPlace place = PlaceOf(virtualKey);
    // A key the keyboard does not have (F13 on most layouts) cannot be pressed.
    if (place.keycodes.empty()) {
        refusal_ = HotkeyRefusal::NoSuchKey;
        return false;
    }
    const std::uint16_t mask = ModifierMask(modifiers);
    Registration r {window,
                    static_cast<std::uint16_t>(mask | (place.shifted ? XCB_MOD_MASK_SHIFT : 0)),
                    place.keycodes,
                    false,
                    combinationName(modifiers, virtualKey),
                    virtualKey,
                    modifiers};
    if (!grab(r)) return false;
    registrations_[id] = std::move(r);
    return true;
}

void XcbHotkeys::followKeyboard() {
    for (auto& [id, r] : registrations_) {
        if (r.viaPortal) continue;
        const KeyPlace place = PlaceOf(r.virtualKey);
        const auto mask = static_cast<std::uint16_t>(ModifierMask(r.chosen) |
                                                     (place.shifted ? XCB_MOD_MASK_SHIFT : 0));
        if (place.keycodes == r.keycodes && mask == r.modifiers) continue;
        ungrab(r);
        r.keycodes = place.keycodes;
        r.modifiers = mask;
        // A key this layout lacks, or one another client took meanwhile, does nothing until
        // the next change of layout brings it back.
        if (!grab(r)) r.keycodes.clear();
        r.name = combinationName(r.chosen, r.virtualKey);
    }
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
    const std::uint8_t type = event->response_type & 0x7f;
    // Another layout (setxkbmap, the desktop's keyboard settings) puts "+" and "-" on other
    // keys: the grabs follow. Clients that speak XKB, as Qt does, hear of it from the XKB
    // extension (a new keyboard or a new map); others by the core MappingNotify. The events
    // go on to Qt, which follows the layout too.
    if ((type == XCB_MAPPING_NOTIFY &&
         reinterpret_cast<xcb_mapping_notify_event_t*>(event)->request == XCB_MAPPING_KEYBOARD) ||
        (xkbEvent_ != 0 && type == xkbEvent_ &&
         (event->pad0 == kXkbNewKeyboardNotify || event->pad0 == kXkbMapNotify))) {
        followKeyboard();
        return false;
    }
    if (xkbEvent_ != 0 && type == xkbEvent_ && event->pad0 == kXkbStateNotify) {
        const std::uint8_t group = reinterpret_cast<const std::uint8_t*>(event)[13] & 3;
        if (group != group_) {
            group_ = group;
            followKeyboard();
        }
        return false;
    }
    if (type != XCB_KEY_PRESS) return false;
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
