#!/usr/bin/env bash
# End-to-end test of the hotkeys against KDE Plasma's own parts: the real vexlo binary in a
# headless KWin Wayland session (kwin_wayland --virtual with Xwayland), whose global shortcuts
# (org.kde.kglobalaccel, served by KWin) the real xdg-desktop-portal and xdg-desktop-portal-kde
# bind. Everything runs on a private session bus that starts only the services this script
# lists, with a private runtime folder, home and PulseAudio null sink (with-session.sh).
# Starts and stops everything itself: first a desktop as Plasma sets it up, whose zoom holds
# Meta+= and Meta+-, then one whose zoom has no keys.
#
#   tests/e2e/linux/kde_portal.sh BUILD_DIR      BUILD_DIR holds the vexlo binary
#
# Prints one line per check and "N passed, M failed"; exits non-zero when one failed.
# VEXLO_KDE_DISPLAY (98) is the fallback Xvfb's display, VEXLO_KDE_XWAYLAND (99) Xwayland's.
set -uo pipefail

here=$(cd "$(dirname "$0")" && pwd)
. "$here/lib.sh"

if [ "${1:-}" != "--inside" ]; then
    build=$(build_folder "$0" "$@") || exit 2
    exec env -u VEXLO_SESSION "$here/with-session.sh" --display "${VEXLO_KDE_DISPLAY:-98}" \
        "$0" --inside "$build"
fi

bin=$2/vexlo
work=$(mktemp -d /tmp/vexlo-kde.XXXXXX)
xd=${VEXLO_KDE_XWAYLAND:-99}
pids=()
passed=0
failed=0
bus_address=""

# Everything the bus started on demand ends with the bus: the portal and its backend are not
# children of this shell, so they are found by the names they own.
bus_clients() {
    local name
    for name in $(dbus-send --bus="$bus_address" --print-reply --dest=org.freedesktop.DBus / \
        org.freedesktop.DBus.ListNames 2>/dev/null | grep -o '":[0-9.]*"' | tr -d '"'); do
        dbus-send --bus="$bus_address" --print-reply --dest=org.freedesktop.DBus / \
            org.freedesktop.DBus.GetConnectionUnixProcessID "string:$name" 2>/dev/null |
            awk '/uint32/ {print $2}'
    done | sort -u
}
stop_desktop() {
    local started=() p
    if [ -n "$bus_address" ]; then
        for p in $(bus_clients); do
            [[ " ${pids[*]} " == *" $p "* ]] || started+=("$p")
        done
    fi
    stop_pids "${started[@]}"
    local reversed=() i
    for ((i = ${#pids[@]} - 1; i >= 0; i--)); do reversed+=("${pids[i]}"); done
    stop_pids "${reversed[@]}"
    pids=()
    bus_address=""
    rm -f "/tmp/.X11-unix/X$xd" "/tmp/.X$xd-lock"
}
cleanup() {
    stop_desktop
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

abort() {  # the session could not be set up: one failed check, and the end
    why=$1
    result "kde_session" 1
    echo "$passed passed, $failed failed"
    exit 1
}

# ---- The session ---------------------------------------------------------------------------

for program in /usr/bin/kwin_wayland /usr/libexec/xdg-desktop-portal \
    /usr/lib/x86_64-linux-gnu/libexec/xdg-desktop-portal-kde /usr/bin/Xwayland; do
    [ -x "$program" ] || abort "$program is not installed (scripts/setup installs it)"
done
kga() {  # kga PATH METHOD [ARGS...]: a call on KDE's global shortcuts service
    gdbus call --session --dest org.kde.kglobalaccel --object-path "$1" \
        --method "org.kde.$2" "${@:3}" 2>&1
}
components() { kga /kglobalaccel KGlobalAccel.allComponents | grep -o "/component/[^']*" | sort; }
new_components() { comm -13 <(echo "$before") <(components); }

# The bus and the services it may start. The installed ones name systemd units too; these
# files only name the programs.
mkdir -p "$work/services"
service() {  # service NAME PROGRAM
    printf '[D-BUS Service]\nName=%s\nExec=%s\n' "$1" "$2" >"$work/services/$1.service"
}
service org.freedesktop.portal.Desktop /usr/libexec/xdg-desktop-portal
service org.freedesktop.impl.portal.desktop.kde /usr/lib/x86_64-linux-gnu/libexec/xdg-desktop-portal-kde
service org.freedesktop.impl.portal.PermissionStore /usr/libexec/xdg-permission-store
test_bus_config "$work/bus.conf" "$work/services"

# What the bus starts inherits the bus's environment.
export XDG_CURRENT_DESKTOP=KDE XDG_SESSION_TYPE=wayland WAYLAND_DISPLAY=wayland-vexlo-kde
export DISPLAY=:$xd
unset QT_QPA_PLATFORM

# start_desktop: the bus, and KWin on it; the global shortcuts are those of $HOME/.config.
start_desktop() {
    if [ -e "/tmp/.X$xd-lock" ] && kill -0 "$(tr -dc 0-9 <"/tmp/.X$xd-lock")" 2>/dev/null; then
        abort "display :$xd is in use"
    fi
    rm -f "/tmp/.X$xd-lock" "/tmp/.X11-unix/X$xd"
    dbus-daemon --config-file="$work/bus.conf" --nofork --nopidfile --print-address=3 \
        3>"$work/bus" >/dev/null 2>&1 &
    pids+=($!)
    wait_until 3000 test -s "$work/bus" || abort "no session bus"
    bus_address=$(head -1 "$work/bus")
    export DBUS_SESSION_BUS_ADDRESS=$bus_address

    # KWin with Xwayland on display :$xd: the sockets are made here and handed over, as
    # kwin_wayland_wrapper does, or KWin takes the lowest free display. A copy of the binary:
    # the installed one has file capabilities, which a container refuses to exec.
    cp /usr/bin/kwin_wayland "$work/kwin_wayland"
    /usr/bin/python3 - "$xd" "$work/kwin_wayland" --virtual --xwayland --socket "$WAYLAND_DISPLAY" \
        >"$work/kwin.log" 2>&1 <<'EOF' &
import os, socket, sys
display, command = sys.argv[1], sys.argv[2:]
os.makedirs("/tmp/.X11-unix", mode=0o1777, exist_ok=True)
path = "/tmp/.X11-unix/X" + display
with open("/tmp/.X%s-lock" % display, "w") as lock:
    lock.write("%10d\n" % os.getpid())
sockets, listeners = [], []
for address in (path, "\0" + path):
    s = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
    s.bind(address)
    s.listen(16)
    s.set_inheritable(True)
    sockets.append(s)
    listeners += ["--xwayland-fd", str(s.fileno())]
os.execv(command[0], command + listeners + ["--xwayland-display", ":" + display])
EOF
    pids+=($!)
    t0=$(now_ms)
    wait_until 20000 eval 'xdpyinfo >/dev/null 2>&1 && kga /kglobalaccel KGlobalAccel.allComponents >/dev/null' ||
        abort "KWin did not start: $(tail -3 "$work/kwin.log")"
    echo "    KWin and Xwayland up after $(($(now_ms) - t0)) ms"
    pactl set-sink-volume "$sink" 26214
    before=$(components)
    component=""
}

start_vexlo() {
    "$bin" >>"$work/vexlo.log" 2>&1 &
    vpid=$!
    pids+=("$vpid")
}
stop_vexlo() {
    kill "$vpid"
    wait_until 3000 ended "$vpid" || { fail "did not end on SIGTERM"; return 1; }
    wait "$vpid" 2>/dev/null
}
# The display: the window named Vexlo, centred on KWin's 1024 x 768 output and translucent.
# (Xwayland here is rootless: "import -window root" cannot read the root window.)
osd_centred() {
    local g main
    wait_until 2000 osd_shown "$vpid" || { fail "no display"; return 1; }
    main=$(named "$vpid" Vexlo)
    g=($(geometry "$main"))
    [ "${g[*]}" = "406 284 212 200" ] || { fail "display at ${g[*]}, not centred"; return 1; }
    held_translucent "$main" || { fail "display opacity $(opacity "$main"), not 125"; return 1; }
}
told() { grep -c "volume hotkeys:" "$work/vexlo.log"; }

# ---- Checks --------------------------------------------------------------------------------

# The shortcuts KDE holds for the component without a key: each one's info ends with its
# active keys and its default keys, and no key is [] or [0].
keyless() {
    kga "$component" kglobalaccel.Component.allShortcutInfos | grep -oE "'Default Context', \[0?\]" | wc -l
}

shortcuts_registered_under_one_component() {
    local t0 shortcuts
    t0=$(now_ms)
    start_vexlo
    wait_until 10000 eval '[ -n "$(new_components)" ]' || { fail "no component: $(components | tr '\n' ' ')"; return 1; }
    echo "    component $(new_components) $(($(now_ms) - t0)) ms after the start"
    component=$(new_components)
    [ "$(wc -l <<<"$component")" = 1 ] || { fail "components: $(tr '\n' ' ' <<<"$component")"; return 1; }
    shortcuts=$(kga "$component" kglobalaccel.Component.shortcutNames | grep -o "'[a-z-]*'" | sort | tr '\n' ' ')
    [ "$shortcuts" = "'volume-down' 'volume-up' " ] || { fail "shortcuts: $shortcuts"; return 1; }
    echo "    $(kga "$component" kglobalaccel.Component.allShortcutInfos)"
}

# KWin's zoom holds Meta+= and Meta+-, so KDE keeps ours with those as default keys only, while
# the portal's first answer for the new component still names them.
the_first_start_tells_once_that_the_keys_are_taken() {
    [ "$(keyless)" = 2 ] ||
        { fail "$(keyless) shortcut(s) without a key, expected 2 (zoom holds the keys)"; return 1; }
    wait_until 3000 eval '[ "$(told)" -ge 1 ]' || { fail "not told"; return 1; }
    sleep 1
    [ "$(told)" = 1 ] || { fail "told $(told) times"; return 1; }
    grep -q 'no key for "Volume up" and "Volume down" yet; assign one in System Settings, Shortcuts' \
        "$work/vexlo.log" || { fail "told: $(grep "volume hotkeys:" "$work/vexlo.log")"; return 1; }
}

activation_steps_the_level_once_and_shows_the_display() {
    local up
    up=$(step_up 26214)
    kga "$component" kglobalaccel.Component.invokeShortcut volume-up >/dev/null
    wait_until 2000 level_is "$up" || { fail "volume-up: level $(level), expected $up"; return 1; }
    osd_centred || return 1
    sleep 0.5
    level_is "$up" || { fail "level $(level) after one activation, expected $up"; return 1; }
    kga "$component" kglobalaccel.Component.invokeShortcut volume-down >/dev/null
    wait_until 2000 level_is 26214 || { fail "volume-down: level $(level), expected 26214"; return 1; }
}

restart_keeps_the_component() {
    local before_told lines
    stop_vexlo || return 1
    before_told=$(told)
    lines=$(wc -l <"$work/vexlo.log")
    start_vexlo
    sleep 2
    [ "$(new_components)" = "$component" ] ||
        { fail "components after a restart: $(new_components | tr '\n' ' ')"; return 1; }
    # The desktop's answer now names no key where KDE has none, and the user is told once.
    if [ "$(keyless)" -gt 0 ]; then
        [ "$(($(told) - before_told))" = 1 ] ||
            { fail "told $(($(told) - before_told)) times about $(keyless) shortcut(s) without a key"; return 1; }
        tail -n "+$((lines + 1))" "$work/vexlo.log" | grep -q "assign one in System Settings, Shortcuts" ||
            { fail "not told where to assign the keys"; return 1; }
    fi
    kga "$component" kglobalaccel.Component.invokeShortcut volume-up >/dev/null
    wait_until 2000 level_is "$(step_up 26214)" || { fail "after the restart: level $(level)"; return 1; }
}

shortcuts_work_again_after_the_portal_restarts() {
    local portal level
    portal=$(dbus-send --print-reply --dest=org.freedesktop.DBus / \
        org.freedesktop.DBus.GetConnectionUnixProcessID string:org.freedesktop.portal.Desktop |
        awk '/uint32/ {print $2}')
    [ -n "$portal" ] || { fail "no portal running"; return 1; }
    kill "$portal"
    wait_until 3000 eval '[ "$(gdbus call --session --dest org.freedesktop.DBus --object-path / \
        --method org.freedesktop.DBus.NameHasOwner org.freedesktop.portal.Desktop)" = "(false,)" ]' ||
        { fail "the portal did not end"; return 1; }
    # Started again on demand, as a desktop's next portal user does.
    dbus-send --print-reply --dest=org.freedesktop.portal.Desktop /org/freedesktop/portal/desktop \
        org.freedesktop.DBus.Peer.Ping >/dev/null 2>&1
    sleep 1
    level=$(level)
    kga "$component" kglobalaccel.Component.invokeShortcut volume-up >/dev/null
    wait_until 2000 level_is "$(step_up "$level")" ||
        { fail "after the portal restarted: level $(level), expected $(step_up "$level")"; return 1; }
}

# Where zoom has no keys, ours get the preferred ones: the user is told nothing.
free_keys_are_bound_and_nothing_is_told() {
    local infos
    start_vexlo
    wait_until 10000 eval '[ -n "$(new_components)" ]' || { fail "no component"; return 1; }
    component=$(new_components)
    infos=$(kga "$component" kglobalaccel.Component.allShortcutInfos)
    echo "    $infos"
    # Each one's active keys are its default keys.
    grep -oE "\[[0-9]+\], \[[0-9]+\]" <<<"$infos" | awk -F'[][]' '$2 == $4 && $2 > 0' >"$work/active"
    [ "$(wc -l <"$work/active")" = 2 ] || { fail "the preferred keys are not active"; return 1; }
    sleep 2
    [ "$(told)" = 0 ] || { fail "told: $(grep "volume hotkeys:" "$work/vexlo.log")"; return 1; }
    kga "$component" kglobalaccel.Component.invokeShortcut volume-up >/dev/null
    wait_until 2000 level_is "$(step_up 26214)" || { fail "volume-up: level $(level)"; return 1; }
}

run() {  # run CHECK...: stops at the first when it finds no component
    local check
    for check in "$@"; do
        why=""
        "$check"
        result "$check" $?
        [ -z "${component:-}" ] && break
    done
}

start_desktop
run shortcuts_registered_under_one_component the_first_start_tells_once_that_the_keys_are_taken \
    activation_steps_the_level_once_and_shows_the_display restart_keeps_the_component \
    shortcuts_work_again_after_the_portal_restarts

# The second desktop: KDE's shortcuts start afresh, with zoom's keys set to none.
stop_desktop
rm -f "$HOME/.config/kglobalshortcutsrc" "$HOME/.config/kwinrc"
printf '[kwin]\nview_zoom_in=none,Meta++\\tMeta+=,Zoom In\nview_zoom_out=none,Meta+-,Zoom Out\n' \
    >"$HOME/.config/kglobalshortcutsrc"
: >"$work/vexlo.log"
start_desktop
run free_keys_are_bound_and_nothing_is_told

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
