#!/usr/bin/env bash
# End-to-end test of the hotkeys against KDE Plasma's own parts: the real vexlo binary in a
# headless KWin Wayland session (kwin_wayland --virtual with Xwayland), whose global shortcuts
# (org.kde.kglobalaccel, served by KWin) the real xdg-desktop-portal and xdg-desktop-portal-kde
# bind. Runs against Plasma 5.27 and Plasma 6 alike and finds out which one it has.
# Everything runs on a private session bus that starts only the services this script lists
# (and lets dbus-monitor watch), with a private runtime folder, home and PulseAudio null sink
# (with-session.sh). Xwayland's display and the Wayland socket are chosen free at run time.
# Three desktops, each started afresh: one as Plasma sets it up, whose zoom holds Meta+= and
# Meta+-, with Vexlo's desktop file installed; one whose zoom has no keys; one like the first
# without the desktop file.
#
#   tests/e2e/linux/kde_portal.sh BUILD_DIR      BUILD_DIR holds the vexlo binary
#
# Prints one line per check and "N passed, M failed"; exits non-zero when one failed.
# VEXLO_KDE_KEEP=FOLDER keeps each desktop's D-Bus traffic (dbus-monitor) and program log there.
set -uo pipefail

here=$(cd "$(dirname "$0")" && pwd)
. "$here/lib.sh"

if [ "${1:-}" != "--inside" ]; then
    build=$(build_folder "$0" "$@") || exit 2
    exec env -u VEXLO_SESSION "$here/with-session.sh" "$0" --inside "$build"
fi

bin=$2/vexlo
work=$(mktemp -d /tmp/vexlo-kde.XXXXXX)
# A loaded machine may need long: KWin and Xwayland have 60 s to come up, the program 30 s
# (the bus's time-out for starting the portal) to register its shortcuts.
kwin_start_ms=60000
register_ms=30000
: >"$work/vexlo.log"
pids=()
passed=0
failed=0
bus_address=""
xd=""

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
    if [ -n "${VEXLO_KDE_KEEP:-}" ] && [ -n "$bus_address" ]; then
        kept=$((${kept:-0} + 1))
        cp "$work/monitor" "$VEXLO_KDE_KEEP/dbus.$kept.txt"
        cp "$work/vexlo.log" "$VEXLO_KDE_KEEP/vexlo.$kept.log"
    fi
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
    # The display's lock and socket were made by this script.
    [ -n "$xd" ] && rm -f "/tmp/.X11-unix/X$xd" "/tmp/.X$xd-lock"
    xd=""
}
cleanup() {
    stop_desktop
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

abort() {  # the session could not be set up: one failed check, and the end
    why=$1
    [ -n "${VEXLO_KDE_KEEP:-}" ] && cp "$work/kwin.log" "$VEXLO_KDE_KEEP/kwin.log" 2>/dev/null
    result "kde_session" 1
    echo "$passed passed, $failed failed"
    exit 1
}

# ---- The session ---------------------------------------------------------------------------

# The programs the bus starts, as the installed service files name them (their folders differ
# between releases).
installed_service() {  # installed_service NAME: the program of the system's service file
    sed -n 's/^Exec=\([^ ]*\).*/\1/p' "/usr/share/dbus-1/services/$1.service" 2>/dev/null | head -1
}
portal=$(installed_service org.freedesktop.portal.Desktop)
backend=$(installed_service org.freedesktop.impl.portal.desktop.kde)
store=$(installed_service org.freedesktop.impl.portal.PermissionStore)
for program in /usr/bin/kwin_wayland /usr/bin/Xwayland "$portal" "$backend" "$store"; do
    if [ -z "$program" ] || [ ! -x "$program" ]; then
        abort "KWin, Xwayland, xdg-desktop-portal or its KDE backend is not installed (scripts/setup installs them)"
    fi
done

kga() {  # kga PATH METHOD [ARGS...]: a call on KDE's global shortcuts service
    gdbus call --session --timeout 5 --dest org.kde.kglobalaccel --object-path "$1" \
        --method "org.kde.$2" "${@:3}" 2>&1
}
components() { kga /kglobalaccel KGlobalAccel.allComponents | grep -o "/component/[^']*" | sort; }
new_components() { comm -13 <(echo "$before") <(components); }

mkdir -p "$work/services" "$work/bin" "$work/share/applications"
service() {  # service NAME PROGRAM
    printf '[D-BUS Service]\nName=%s\nExec=%s\n' "$1" "$2" >"$work/services/$1.service"
}
service org.freedesktop.portal.Desktop "$portal"
service org.freedesktop.impl.portal.desktop.kde "$backend"
service org.freedesktop.impl.portal.PermissionStore "$store"
test_bus_config "$work/bus.conf" "$work/services"

# Plasma 6's backend opens System Settings on its shortcuts page through xdg-open: stand-ins
# for it and for System Settings itself note each launch.
printf '#!/bin/sh\necho "${0##*/} $*" >>"%s"\n' "$work/opened" >"$work/bin/xdg-open"
chmod +x "$work/bin/xdg-open"
ln -s xdg-open "$work/bin/systemsettings"
ln -s xdg-open "$work/bin/kde-open"
opened() { wc -l <"$work/opened"; }

# Vexlo's desktop file, as the package installs it, in a folder of the session's data folders.
sed "s|^Exec=.*|Exec=$bin|" "$here/../../../packaging/linux/io.github.vexlo.vexlo.desktop" \
    >"$work/io.github.vexlo.vexlo.desktop"
grep -q "^Exec=$bin\$" "$work/io.github.vexlo.vexlo.desktop" || abort "no desktop file in packaging/linux"
install_desktop_file() { cp "$work/io.github.vexlo.vexlo.desktop" "$work/share/applications/"; }

# What the bus starts inherits the bus's environment.
export XDG_CURRENT_DESKTOP=KDE XDG_SESSION_TYPE=wayland PATH="$work/bin:$PATH"
export XDG_DATA_HOME=$HOME/.local/share XDG_DATA_DIRS=$work/share:/usr/local/share:/usr/share
unset QT_QPA_PLATFORM
# KWin's Wayland socket: the first name free in the private runtime folder.
for ((n = 0; ; n++)); do
    [ -e "$XDG_RUNTIME_DIR/wayland-$n" ] || [ -e "$XDG_RUNTIME_DIR/wayland-$n.lock" ] || break
done
export WAYLAND_DISPLAY=wayland-$n

# start_desktop: the bus, dbus-monitor and KWin on it; the global shortcuts are those of
# $HOME/.config. Sets kwin (5 or 6).
start_desktop() {
    # The previous desktop's address must not be taken for this one's: the background job
    # empties the file only when it runs.
    rm -f "$work/bus"
    dbus-daemon --config-file="$work/bus.conf" --nofork --nopidfile --print-address=3 \
        3>"$work/bus" >/dev/null 2>&1 &
    pids+=($!)
    wait_until 3000 test -s "$work/bus" || abort "no session bus"
    bus_address=$(head -1 "$work/bus")
    export DBUS_SESSION_BUS_ADDRESS=$bus_address
    : >"$work/monitor"
    dbus-monitor --session >"$work/monitor" 2>&1 &
    pids+=($!)
    wait_until 3000 grep -q NameAcquired "$work/monitor" ||
        abort "dbus-monitor did not start: $(head -3 "$work/monitor")"

    # KWin with Xwayland on the first free display: its sockets and lock are made here and
    # handed over, as kwin_wayland_wrapper does. A copy of the binary: the installed one has
    # file capabilities, which a container refuses to exec.
    cp /usr/bin/kwin_wayland "$work/kwin_wayland"
    rm -f "$work/display"
    /usr/bin/python3 - "$work/display" "$work/kwin_wayland" --virtual --xwayland \
        --socket "$WAYLAND_DISPLAY" >"$work/kwin.log" 2>&1 <<'EOF' &
import os, socket, sys
report, command = sys.argv[1], sys.argv[2:]
os.makedirs("/tmp/.X11-unix", mode=0o1777, exist_ok=True)
for display in range(1000):
    lock = "/tmp/.X%d-lock" % display
    try:
        fd = os.open(lock, os.O_WRONLY | os.O_CREAT | os.O_EXCL, 0o444)
    except FileExistsError:
        continue
    path = "/tmp/.X11-unix/X%d" % display
    sockets = []
    try:
        for address in ("\0" + path, path):
            s = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
            sockets.append(s)
            s.bind(address)
            s.listen(16)
            s.set_inheritable(True)
    except OSError:  # taken, or a server's leftover socket file
        for s in sockets:
            s.close()
        os.close(fd)
        os.unlink(lock)
        continue
    os.write(fd, b"%10d\n" % os.getpid())
    os.close(fd)
    break
else:
    sys.exit("no free X display")
with open(report, "w") as f:
    f.write("%d\n" % display)
listeners = []
for s in sockets:
    listeners += ["--xwayland-fd", str(s.fileno())]
os.execv(command[0], command + listeners + ["--xwayland-display", ":%d" % display])
EOF
    pids+=($!)
    wait_until 5000 test -s "$work/display" || abort "no free X display: $(tail -1 "$work/kwin.log")"
    xd=$(head -1 "$work/display")
    export DISPLAY=:$xd
    dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
        org.freedesktop.DBus.UpdateActivationEnvironment "dict:string:string:DISPLAY,:$xd" >/dev/null
    local t0
    t0=$(now_ms)
    if ! wait_until "$kwin_start_ms" eval 'timeout 5 xdpyinfo >/dev/null 2>&1 &&
        kga /kglobalaccel KGlobalAccel.allComponents >/dev/null'; then
        local state="KWin runs"
        alive "${pids[-1]}" || state="KWin ended"
        timeout 5 xdpyinfo >/dev/null 2>&1 || state+=", Xwayland :$xd does not answer"
        kga /kglobalaccel KGlobalAccel.allComponents >/dev/null || state+=", no kglobalaccel on the bus"
        abort "KWin did not start within $((kwin_start_ms / 1000)) s ($state): $(tail -3 "$work/kwin.log")"
    fi
    kwin=$(gdbus call --session --timeout 5 --dest org.kde.KWin --object-path /KWin \
        --method org.kde.KWin.supportInformation | sed -n 's/.*KWin version: \([0-9]*\)\..*/\1/p')
    echo "    KWin $kwin, Xwayland :$xd, $WAYLAND_DISPLAY up after $(($(now_ms) - t0)) ms"
    [ "$kwin" = 5 ] || [ "$kwin" = 6 ] || abort "KWin version ${kwin:-unknown}"
    pactl set-sink-volume "$sink" 26214
    before=$(components)
    component=""
    : >"$work/opened"
}

start_vexlo() {
    calls_before=$(wc -l <"$work/monitor")
    told_before=$(told)
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
told_since_start() { echo $(($(told) - told_before)); }
told_text() { grep "volume hotkeys:" "$work/vexlo.log" | tail -n +"$((told_before + 1))"; }

# The program's calls on the portal since it started, as dbus-monitor saw them.
portal_calls() {
    tail -n +"$((calls_before + 1))" "$work/monitor" |
        sed -n 's/.*destination=org.freedesktop.portal.Desktop .*interface=org.freedesktop.\(host.portal.Registry\|portal.GlobalShortcuts\); member=\([A-Za-z]*\)$/\2/p' |
        tr '\n' ' '
}
# The calls of a first start: Plasma 6 lists nothing yet, so both are bound; 5.27's portal
# (which has no registry) takes the shortcuts with the session and lists them: nothing is bound.
# A later start finds both listed.
first_calls() {
    if [ "$kwin" = 6 ]; then echo "Register CreateSession ListShortcuts BindShortcuts "
    else echo "Register CreateSession ListShortcuts "; fi
}
later_calls="Register CreateSession ListShortcuts "

# The component of the program's shortcuts, by its name: Plasma 6 names it after the
# application id, or after the session token when it does not know the application; 5.27
# always after the token. Its object path has "_" for ".".
component_name() {
    if [ "$kwin" = 5 ]; then echo vexlo
    elif [ "$installed" = yes ]; then echo io.github.vexlo.vexlo
    else echo token_vexlo; fi
}

# ---- Checks --------------------------------------------------------------------------------

# The shortcuts KDE holds for the component without a key: each one's info ends with its
# active keys and its default keys, and no key is [] or [0].
keyless() {
    kga "$component" kglobalaccel.Component.allShortcutInfos | grep -oE "'Default Context', \[0?\]" | wc -l
}
invoke() { kga "$component" kglobalaccel.Component.invokeShortcut "$1" >/dev/null; }

# told_once TEXT: the program tells the user once, and why.
told_once() {
    wait_until 10000 eval '[ "$(told_since_start)" -ge 1 ]' || { fail "not told"; return 1; }
    sleep 1
    [ "$(told_since_start)" = 1 ] || { fail "told $(told_since_start) times"; return 1; }
    told_text | grep -qF "vexlo: volume hotkeys: $1" || { fail "told: $(told_text)"; return 1; }
}

# One new component with both shortcuts, and the calls of a first start; Plasma 6's backend
# opens System Settings on the component's page, once.
first_start_registers_one_component() {
    local t0 name shortcuts expect
    name=$(component_name)
    t0=$(now_ms)
    start_vexlo
    wait_until "$register_ms" eval '[ -n "$(new_components)" ]' ||
        { fail "no component: $(components | tr '\n' ' ')"; return 1; }
    echo "    component $(new_components | tr '\n' ' ')$(($(now_ms) - t0)) ms after the start"
    component=$(new_components)
    [ "$component" = "/component/${name//./_}" ] ||
        { fail "components: $(tr '\n' ' ' <<<"$component")expected /component/${name//./_}"; return 1; }
    shortcuts=$(kga "$component" kglobalaccel.Component.shortcutNames | grep -o "'[a-z-]*'" | sort | tr '\n' ' ')
    [ "$shortcuts" = "'volume-down' 'volume-up' " ] || { fail "shortcuts: $shortcuts"; return 1; }
    expect=$(first_calls)
    wait_until 5000 eval '[ "$(portal_calls)" = "$expect" ]' ||
        { fail "calls on the portal: $(portal_calls); expected $expect"; return 1; }
    echo "    $(kga "$component" kglobalaccel.Component.allShortcutInfos)"
    if [ "$kwin" = 6 ]; then
        expect="xdg-open systemsettings://kcm_keys/$name"
        wait_until 3000 eval '[ "$(opened)" -ge 1 ]'
        [ "$(cat "$work/opened")" = "$expect" ] ||
            { fail "System Settings: $(tr '\n' ' ' <"$work/opened"); expected $expect"; return 1; }
    else
        [ "$(opened)" = 0 ] || { fail "opened: $(tr '\n' ' ' <"$work/opened")"; return 1; }
    fi
}

# KWin's zoom holds Meta+= and Meta+-, so KDE keeps ours with those as default keys only, while
# the portal's answer names them as the keys.
the_first_start_tells_once_that_the_keys_are_taken() {
    [ "$(keyless)" = 2 ] ||
        { fail "$(keyless) shortcut(s) without a key, expected 2 (zoom holds the keys)"; return 1; }
    told_once 'the desktop has no key for "Volume up" and "Volume down" yet; assign one in System Settings → Keyboard → Shortcuts → Vexlo.'
}

activation_steps_the_level_once_and_shows_the_display() {
    local up
    up=$(step_up 26214)
    invoke volume-up
    wait_until 2000 level_is "$up" || { fail "volume-up: level $(level), expected $up"; return 1; }
    osd_centred || return 1
    sleep 0.5
    level_is "$up" || { fail "level $(level) after one activation, expected $up"; return 1; }
    invoke volume-down
    wait_until 2000 level_is 26214 || { fail "volume-down: level $(level), expected 26214"; return 1; }
}

# The user assigns keys as System Settings' Apply does, through kglobalaccel (Meta+Alt+= and
# Meta+Alt+-, which zoom leaves free): the portal reports them, and nothing more is told.
keys_set_in_system_settings_are_taken_silently() {
    local name
    name=$(component_name)
    kga /kglobalaccel KGlobalAccel.setForeignShortcutKeys "['$name', 'volume-up', '$name', 'Volume up']" \
        "[([$((0x18000000 | 0x3d)), 0, 0, 0],)]" >/dev/null
    kga /kglobalaccel KGlobalAccel.setForeignShortcutKeys "['$name', 'volume-down', '$name', 'Volume down']" \
        "[([$((0x18000000 | 0x2d)), 0, 0, 0],)]" >/dev/null
    wait_until 3000 eval '[ "$(keyless)" = 0 ]' ||
        { fail "keys not set: $(kga "$component" kglobalaccel.Component.allShortcutInfos)"; return 1; }
    echo "    the portal sent ShortcutsChanged $(grep -c 'interface=org.freedesktop.portal.GlobalShortcuts; member=ShortcutsChanged' "$work/monitor") times"
    sleep 1
    [ "$(told_since_start)" = 1 ] || { fail "told $(told_since_start) times: $(told_text)"; return 1; }
}

# A later start: the desktop lists both shortcuts, so nothing is bound, System Settings stays
# closed, and with the keys set nothing is told.
second_start_neither_binds_nor_opens_settings_nor_tells() {
    local opened_before
    stop_vexlo || return 1
    opened_before=$(opened)
    start_vexlo
    wait_until 5000 eval '[ "$(portal_calls)" = "$later_calls" ]' ||
        { fail "calls on the portal: $(portal_calls); expected $later_calls"; return 1; }
    sleep 1.5  # a bind or a message would come by now
    [ "$(portal_calls)" = "$later_calls" ] ||
        { fail "calls on the portal: $(portal_calls); expected $later_calls"; return 1; }
    [ "$(opened)" = "$opened_before" ] || { fail "opened: $(tail -n 1 "$work/opened")"; return 1; }
    [ "$(told_since_start)" = 0 ] || { fail "told: $(told_text)"; return 1; }
    [ "$(new_components)" = "$component" ] ||
        { fail "components after a restart: $(new_components | tr '\n' ' ')"; return 1; }
    invoke volume-up
    wait_until 2000 level_is "$(step_up 26214)" || { fail "after the restart: level $(level)"; return 1; }
}

shortcuts_work_again_after_the_portal_restarts() {
    local p level
    p=$(dbus-send --print-reply --dest=org.freedesktop.DBus / \
        org.freedesktop.DBus.GetConnectionUnixProcessID string:org.freedesktop.portal.Desktop |
        awk '/uint32/ {print $2}')
    [ -n "$p" ] || { fail "no portal running"; return 1; }
    calls_before=$(wc -l <"$work/monitor")
    told_before=$(told)
    kill "$p"
    wait_until 3000 eval '[ "$(gdbus call --session --timeout 5 --dest org.freedesktop.DBus --object-path / \
        --method org.freedesktop.DBus.NameHasOwner org.freedesktop.portal.Desktop)" = "(false,)" ]' ||
        { fail "the portal did not end"; return 1; }
    # Started again on demand, as a desktop's next portal user does.
    timeout 30 dbus-send --print-reply --dest=org.freedesktop.portal.Desktop \
        /org/freedesktop/portal/desktop org.freedesktop.DBus.Peer.Ping >/dev/null 2>&1
    # A backend that outlived its portal still holds the program's session and refuses the
    # first new one of the same path (5.27); the portal closes the old one then.
    wait_until 5000 eval '[[ "$(portal_calls)" =~ ^Register\ (CreateSession\ ){1,2}ListShortcuts\ $ ]]' ||
        { fail "calls on the new portal: $(portal_calls); expected $later_calls"; return 1; }
    level=$(level)
    invoke volume-up
    wait_until 2000 level_is "$(step_up "$level")" ||
        { fail "after the portal restarted: level $(level), expected $(step_up "$level")"; return 1; }
    [ "$(told_since_start)" = 0 ] || { fail "told: $(told_text)"; return 1; }
}

# Where zoom has no keys, ours get the preferred ones at once: the user is told nothing.
free_keys_are_active_at_once_and_nothing_is_told() {
    local infos
    infos=$(kga "$component" kglobalaccel.Component.allShortcutInfos)
    # Each one's active keys are its default keys.
    grep -oE "\[[0-9]+\], \[[0-9]+\]" <<<"$infos" | awk -F'[][]' '$2 == $4 && $2 > 0' >"$work/active"
    [ "$(wc -l <"$work/active")" = 2 ] || { fail "the preferred keys are not active: $infos"; return 1; }
    sleep 2
    [ "$(told_since_start)" = 0 ] || { fail "told: $(told_text)"; return 1; }
    invoke volume-up
    wait_until 2000 level_is "$(step_up 26214)" || { fail "volume-up: level $(level)"; return 1; }
    invoke volume-down
    wait_until 2000 level_is 26214 || { fail "volume-down: level $(level)"; return 1; }
}

# Plasma 6 keeps no shortcuts for a program it does not know; 5.27's portal does not ask.
without_the_desktop_file_the_user_is_told_once_why() {
    if [ "$kwin" = 6 ]; then
        told_once "the desktop does not know Vexlo as an application (io.github.vexlo.vexlo.desktop is not installed), so it keeps no shortcuts for it; install Vexlo's package, or bind Super + plus and Super + minus to the commands \"vexlo --volume-up\" and \"vexlo --volume-down\""
    else
        told_once 'the desktop has no key for "Volume up" and "Volume down" yet; assign one in System Settings → Keyboard → Shortcuts → Vexlo.'
    fi
}

run() {  # run CHECK...: stops at the first when it finds no component
    local check
    for check in "$@"; do
        why=""
        "$check"
        result "$check ($desktop)" $?
        [ -z "${component:-}" ] && break
    done
}
# fresh_shortcuts [free]: KDE's shortcuts start afresh; with "free", zoom's keys are none.
fresh_shortcuts() {
    rm -f "$HOME/.config/kglobalshortcutsrc" "$HOME/.config/kwinrc"
    [ "${1:-}" = free ] || return 0
    mkdir -p "$HOME/.config"
    printf '[kwin]\nview_zoom_in=none,Meta++\\tMeta+=,Zoom In\nview_zoom_out=none,Meta+-,Zoom Out\n' \
        >"$HOME/.config/kglobalshortcutsrc"
}

desktop="zoom holds the keys"
installed=yes
install_desktop_file
start_desktop
run first_start_registers_one_component the_first_start_tells_once_that_the_keys_are_taken \
    activation_steps_the_level_once_and_shows_the_display keys_set_in_system_settings_are_taken_silently \
    second_start_neither_binds_nor_opens_settings_nor_tells shortcuts_work_again_after_the_portal_restarts
stop_desktop

desktop="free keys"
fresh_shortcuts free
: >"$work/vexlo.log"
start_desktop
run first_start_registers_one_component free_keys_are_active_at_once_and_nothing_is_told \
    second_start_neither_binds_nor_opens_settings_nor_tells
stop_desktop

desktop="no desktop file"
installed=no
rm -f "$work/share/applications/io.github.vexlo.vexlo.desktop"
fresh_shortcuts
: >"$work/vexlo.log"
start_desktop
run first_start_registers_one_component without_the_desktop_file_the_user_is_told_once_why

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
