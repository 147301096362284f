#!/usr/bin/env bash
# End-to-end test of Vexlo on GNOME Shell, the default desktop (43 on Debian 12, 48 on Debian 13):
# the real vexlo binary first on a bare X display without a compositor (opaque, the colour key
# cut out cleanly), then in GNOME Shell's headless Wayland session (mutter leaves the window
# opacity of override-redirect windows unapplied at the map), then in GNOME's X11 session on
# the same display. The display is measured over a white window in the shell's own
# screenshots: about 49 % opacity during the hold, falling through the fade. Vexlo's tray
# item sits in the AppIndicator extension's tray with its own icon.
#
# The hotkeys: in the X11 session mutter keeps Super for its overview, and Shell 43 offers no
# shortcut portal; there the one hotkey message names the volume commands and where to bind
# them. Shell 45 and later bind them through the GlobalShortcuts portal, whose GNOME backend
# asks GNOME Settings' "Add Keyboard Shortcuts" dialog. Three starts against the real parts:
# the first shows the dialog with Super+= and Super+-, "Add" binds them and the keys (pressed
# on a virtual keyboard of the shell) step the level; the second start, in a new shell with
# the same home, shows no dialog and the keys work; on a fresh desktop "Cancel" is told once,
# as a notification at normal urgency with the way out. The dialog is read and answered
# through its accessibility tree (AT-SPI); D-Bus traffic is recorded with dbus-monitor and
# kept with the screenshots.
#
# Mutter takes the lowest free X display for Xwayland, so everything runs in mount, network
# and PID namespaces of its own (a private /tmp and private abstract sockets; whatever is left
# ends with the namespace): it never meets another session's displays, and the displays are
# the lowest free ones there. The buses are private and start only the services listed here.
#
#   tests/e2e/linux/gnome_shell.sh BUILD_DIR      BUILD_DIR holds the vexlo binary and the skin
#
# Prints one line per check and "N passed, M failed"; exits non-zero when one failed.
# Screenshots and D-Bus records go to BUILD_DIR/e2e-gnome/.
set -uo pipefail

here=$(cd "$(dirname "$0")" && pwd)
. "$here/lib.sh"

case "${1:-}" in
    --inside) ;;
    --namespace)
        checkout=$(cd "$here/../../.." && pwd)
        exec 9</tmp  # the real /tmp, reachable through this descriptor under the private one
        mount -t tmpfs tmpfs /tmp || { echo "cannot mount a private /tmp" >&2; exit 1; }
        mkdir -m 1777 /tmp/.X11-unix /tmp/.ICE-unix
        # A checkout or build under the real /tmp (a fresh clone there) stays where it was.
        for dir in "$checkout" "$2"; do
            case $dir in
                /tmp/?*)
                    top=${dir#/tmp/}
                    top=${top%%/*}
                    [ -d "/tmp/$top" ] && continue
                    mkdir "/tmp/$top" &&
                        mount --no-canonicalize --bind "/proc/self/fd/9/$top" "/tmp/$top" ||
                        { echo "cannot keep /tmp/$top in the private /tmp" >&2; exit 1; }
                    ;;
            esac
        done
        exec 9<&-
        exec env -u VEXLO_SESSION "$here/with-session.sh" "$0" --inside "$2"
        ;;
    *)
        build=$(build_folder "$0" "$@") || exit 2
        exec unshare --mount --net --pid --fork --mount-proc -- "$0" --namespace "$build"
        ;;
esac

build=$2
bin=$build/vexlo
art=$build/e2e-gnome
rm -rf "$art"
mkdir -p "$art"
work=$(mktemp -d /tmp/vexlo-gnome.XXXXXX)
pids=()
shell_pid=""
passed=0
failed=0
xdisplay=$DISPLAY  # with-session.sh's Xvfb

# Everything this script started, and what those started (Xwayland, the services a bus started
# on demand), the last started first.
stop_all() {
    local all=() i
    for ((i = ${#pids[@]} - 1; i >= 0; i--)); do all+=($(descendants "${pids[i]}") "${pids[i]}"); done
    stop_pids "${all[@]}"
    pids=()
}
trap 'stop_all; rm -rf "$work"' EXIT
trap 'exit 130' INT TERM

finish() {
    echo "screenshots: $art"
    echo "$passed passed, $failed failed"
    [ "$failed" -eq 0 ]
    exit
}

# ---- Measuring -----------------------------------------------------------------------------

# A patch of the background picture that no overlay covers, relative to the display's corner,
# and the picture's own mean there: over white, opacity = (255 - seen) / (255 - own). The mean
# is of the colours alone (ImageMagick 7 counts a picture's alpha channel in it too, and the
# shell's screenshots of Shell 48 have one).
patch=20x20+10+60
own=$(/usr/bin/convert "$build/back.bmp" -alpha off -crop "$patch" +repage -format '%[fx:mean*255]' info:)
opacity_in() {  # opacity_in SHOT [CROP]: the display's opacity seen in a shot of the display's
    local seen     # area, or of the patch alone (CROP 20x20+0+0)
    seen=$(/usr/bin/convert "$1" -alpha off -crop "${2:-$patch}" +repage -format '%[fx:mean*255]' info:)
    awk -v s="$seen" -v o="$own" 'BEGIN { printf "%.2f\n", (255 - s) / (255 - o) }'
}
magenta_in() {  # magenta_in SHOT: how many pixels of the colour key are left in it
    /usr/bin/convert "$1" -fill black +opaque '#FF00FF' -fill white -opaque '#FF00FF' \
        -format '%[fx:round(mean*w*h)]' info:
}
between() { awk -v v="$1" -v lo="$2" -v hi="$3" 'BEGIN { exit !(v >= lo && v <= hi) }'; }

# A white window under the display's place, as the terminal the issue was seen over.
white_window() {
    xmessage -bg white -fg white -geometry "$1" "  " >/dev/null 2>&1 &
    pids+=($!)
    wait_until 5000 eval 'xdotool search --onlyvisible --name "^xmessage$" >/dev/null' ||
        { why="no white window"; return 1; }
    sleep 0.5
}

start_vexlo() {
    "$bin" >>"$work/vexlo.log" 2>&1 &
    vpid=$!
    pids+=("$vpid")
    # Up, and its poll has had its first reading.
    sleep 1
    alive "$vpid" || { why="vexlo ended at its start"; return 1; }
}

# area_shots NAME X Y: a change of the level once the display has gone, then shots for 2 s
# with the milliseconds since the change; prints "MS OPACITY" per shot. The first shot is of
# the display's area (kept as the picture of the hold), the others of the patch alone, which
# the shell takes several times faster: the fade's five steps last 250 ms.
area_shots() {
    local name=$1 x=$2 y=$3 t0 i=0 t
    wait_until 5000 osd_hidden "$vpid"
    pactl set-sink-volume "$sink" "$(($(level) == 40000 ? 30000 : 40000))"
    t0=$(now_ms)
    sleep 0.2
    shell_call /org/gnome/Shell/Screenshot org.gnome.Shell.Screenshot.ScreenshotArea \
        "$x" "$y" 212 200 false "$work/$name-area.png" >/dev/null
    echo "$(($(now_ms) - t0)) $work/$name-area.png" >>"$work/$name.list"
    # The whole screen once, during the hold.
    shell_call /org/gnome/Shell/Screenshot org.gnome.Shell.Screenshot.Screenshot \
        false false "$art/gnome-$name.png" >/dev/null
    while t=$(($(now_ms) - t0)); [ "$t" -lt 2000 ]; do
        i=$((i + 1))
        shell_call /org/gnome/Shell/Screenshot org.gnome.Shell.Screenshot.ScreenshotArea \
            $((x + 10)) $((y + 60)) 20 20 false "$work/$name-$i.png" >/dev/null || break
        echo "$t $work/$name-$i.png" >>"$work/$name.list"
    done
    while read -r t file; do
        if [[ $file == *-area.png ]]; then
            echo "$t $(opacity_in "$file")"
        else
            echo "$t $(opacity_in "$file" 20x20+0+0)"
        fi
    done <"$work/$name.list"
}

# check_fade NAME: from area_shots' lines, a hold at 0.40-0.60 and a falling fade that shows
# at least two of its steps; keeps the first hold shot.
check_fade() {
    local name=$1 lines hold steps
    lines=$(cat "$work/$name.opacities")
    hold=$(awk '$1 < 900 { print $2; exit }' <<<"$lines")
    [ -n "$hold" ] || { why="no shot during the hold"; return 1; }
    cp "$(awk '$1 < 900 { print $2; exit }' "$work/$name.list")" "$art/$name-hold.png" 2>/dev/null
    awk '$1 < 900' <<<"$lines" | while read -r _ a; do between "$a" 0.40 0.60 || exit 1; done ||
        { why="opacity during the hold: $(awk '$1 < 900 {printf "%s ", $2}' <<<"$lines")"; return 1; }
    # After the hold the opacity only falls, through steps between the hold and nothing.
    awk '$1 >= 900 { if (seen && $2 > last + 0.03) bad = 1; last = $2; seen = 1 } END { exit bad }' \
        <<<"$lines" || { why="opacity rose in the fade: $(tr '\n' ' ' <<<"$lines")"; return 1; }
    steps=$(awk '$1 >= 900 && $2 > 0.05 && $2 < 0.40 { printf "%.1f\n", $2 }' <<<"$lines" | sort -u | wc -l)
    [ "$steps" -ge 2 ] || { why="$steps fade steps seen: $(tr '\n' ' ' <<<"$lines")"; return 1; }
    echo "    $name: hold $hold, fade $(awk '$1 >= 900 && $2 != last { printf "%s ", $2; last = $2 }' <<<"$lines")"
}

# told_where_to_bind WORDS: one hotkey message, with those words, the two commands and where
# to bind them.
told_where_to_bind() {
    local lines
    wait_until 3000 eval 'grep -q "volume hotkeys:" "$work/vexlo.log"'
    lines=$(grep "volume hotkeys:" "$work/vexlo.log")
    [ "$(wc -l <<<"$lines")" = 1 ] && [[ $lines == *"$1"*'"vexlo --volume-up"'*'"vexlo --volume-down"'*"Custom Shortcuts"*bindsym* ]] ||
        { why="hotkey message: '$lines'"; return 1; }
}
# Vexlo's item in the AppIndicator tray, with its own icon: the hotkey message is a notification
# of the shell, not a warning sign at the tray.
tray_item_with_its_icon() {
    local item service path props
    find_item() {
        item=$(gdbus call --session --dest org.kde.StatusNotifierWatcher --object-path /StatusNotifierWatcher \
            --method org.freedesktop.DBus.Properties.Get org.kde.StatusNotifierWatcher \
            RegisteredStatusNotifierItems 2>/dev/null | grep -o "'[^']*'" | head -1 | tr -d "'")
        [ -n "$item" ]
    }
    wait_until 5000 find_item || { why="no tray item"; return 1; }
    service=${item%%/*} path=/${item#*/}
    service=${service%@}  # the extension writes "NAME@PATH"
    get() {
        gdbus call --session --dest "$service" --object-path "$path" \
            --method org.freedesktop.DBus.Properties.Get org.kde.StatusNotifierItem "$1" 2>&1
    }
    props="$(get Status) $(get IconName) $(get AttentionIconName)"
    [[ $props == *Active* && $props != *dialog-warning* ]] || { why="tray item: $props"; return 1; }
    echo "    tray item: $(get Id) $(get Status)"
}

# The private session bus's traffic so far (dbus-monitor's record), one message a line.
bus_messages() {
    awk '/^(method call|method return|signal|error) / { if (m != "") print m; m = $0; next }
         { gsub(/[ \t]+/, " "); m = m $0 } END { if (m != "") print m }' "$work/monitor.log"
}
# Vexlo's notifications on the bus (app_name "Vexlo"; Shell 48's notification service passes
# each on to the shell, by its unique name).
notifications() {
    bus_messages | grep 'destination=org.freedesktop.Notifications .*member=Notify string "Vexlo"'
}
# notified CALL: the notification's id, from the service's answer to the call.
notified() {
    local sender serial
    sender=$(sed -n 's/.* sender=\([^ ]*\) .*/\1/p' <<<"$1")
    serial=$(sed -n 's/.* serial=\([0-9]*\) .*/\1/p' <<<"$1")
    bus_messages | sed -n "s/^method return .* destination=$sender .* reply_serial=$serial uint32 \([0-9]*\)\$/\1/p"
}
# told_by_notification: one notification, taken (the service answered with its id), at normal
# urgency, with the application id, whose short body leads with the way out (the reason is on
# standard error).
told_by_notification() {
    local calls
    wait_until 3000 eval '[ -n "$(notifications)" ]' || { why="no notification"; return 1; }
    calls=$(notifications)
    [ "$(wc -l <<<"$calls")" = 1 ] || { why="$(wc -l <<<"$calls") notifications"; return 1; }
    wait_until 3000 eval '[ -n "$(notified "$calls")" ]' ||
        { why="no notification service took it (scripts/setup installs gjs, which runs GNOME's)"; return 1; }
    # In the shell's message tray, at normal urgency (1). Its banner waits in the queue behind
    # the shell's own notices of this session (unsafe mode, a privileged user), which stay
    # until someone uses the keyboard or the mouse.
    wait_until 3000 eval '[ "$(shell_value "Main.messageTray.getSources().some(s => s.title === \"Vexlo\" &&
        s.notifications.some(n => n.title === \"Vexlo\" && n.urgency === 1))")" = true ]' ||
        { why="the shell holds no notification of Vexlo at normal urgency: $(shell_value 'Main.messageTray.getSources().map(s => s.title + ": " + s.notifications.map(n => n.title + " " + n.urgency).join(", ")).join("; ")')"; return 1; }
    [[ $calls == *'string "Vexlo" string "Vexlo cannot use Super + plus and Super + minus: bind them to the commands "vexlo --volume-up" and "vexlo --volume-down" in the desktop'"'"'s keyboard shortcuts." '*'string "urgency" variant byte 1'* ]] &&
        [[ $calls == *'string "desktop-entry" variant string "io.github.vexlo.vexlo"'* ]] ||
        { why="notification: $(cut -c1-600 <<<"$calls")"; return 1; }
}
told() { grep -c "volume hotkeys:" "$work/vexlo.log"; }

# record NAME: the D-Bus exchange of the hotkeys and the message, condensed, for the record:
# milliseconds since the first line, the kind, sender and receiver, the member and its
# arguments.
record() {
    bus_messages | grep -E 'host\.portal\.Registry|portal\.GlobalShortcuts|GlobalShortcutsProvider; member=BindShortcuts|member=(Grab|Ungrab)Accelerators|member=Accelerator|portal\.Request; member=Response|Notifications; member=Notify|^error .*AccessDenied' |
        grep -v 'member=\(Add\|Remove\)Match' |
        awk '{ t = $0; sub(/.*time=/, "", t); sub(/ .*/, "", t); if (t0 == "") t0 = t
               m = $0; sub(/ time=[0-9.]*/, "", m); sub(/ serial=[0-9]*/, "", m)
               printf "+%5d %s\n", (t - t0) * 1000, substr(m, 1, 400) }' >"$art/dbus-$1.txt"
}

# ---- Without a compositor ------------------------------------------------------------------

no_compositor_opaque_with_clean_edges() {
    white_window 700x500+162+134 || return 1
    start_vexlo || return 1
    pactl set-sink-volume "$sink" 40000
    wait_until 2000 osd_shown "$vpid" || { why="no display"; return 1; }
    local main g
    main=$(named "$vpid" Vexlo)
    g=($(geometry "$main"))
    import -window root "$art/no-compositor.png"
    /usr/bin/convert "$art/no-compositor.png" -crop "212x200+${g[0]}+${g[1]}" +repage "$work/nc.png"
    local a
    a=$(opacity_in "$work/nc.png")
    between "$a" 0.98 1.02 || { why="opacity $a without a compositor, not opaque"; return 1; }
    [ "$(magenta_in "$work/nc.png")" = 0 ] || { why="colour key pixels on screen"; return 1; }
    xwininfo -id "$main" | grep -q 'Depth: 24' || { why="display window not of the screen's depth"; return 1; }
    [ "$(opacity "$main")" = 125 ] || { why="opacity property $(opacity "$main")"; return 1; }
    echo "    no compositor: opacity $a"
}

why=""
no_compositor_opaque_with_clean_edges
result no_compositor_opaque_with_clean_edges $?
stop_all

# ---- GNOME Shell -----------------------------------------------------------------------------

[ -x /usr/bin/gnome-shell ] || { why="gnome-shell is not installed (scripts/setup installs it)"; result gnome_session 1; finish; }
major=$(gnome-shell --version | sed -n 's/^GNOME Shell \([0-9]*\).*/\1/p')
[ -n "$major" ] || { why="no version from gnome-shell: $(gnome-shell --version 2>&1)"; result gnome_session 1; finish; }
echo "    GNOME Shell $major"
# Shell 45 and later: the shortcut portal with GNOME's backend and GNOME Settings' dialog.
portal=0
[ "$major" -ge 45 ] && portal=1

# The services the session bus may start: the installed files, which name the programs (a
# systemd unit, where named, is not used by a bus without systemd). The shell's notification
# service (org.freedesktop.Notifications) is a process of its own that the shell starts.
mkdir -p "$work/services"
services=(ca.desrt.dconf org.gnome.Shell.Notifications)
# Shell 45 and later: the portal, its GNOME backend and GNOME Settings' dialog, and the
# accessibility bus through which the dialog is read.
[ "$portal" = 1 ] && services+=(org.freedesktop.portal.Desktop org.freedesktop.impl.portal.desktop.gnome
    org.freedesktop.impl.portal.PermissionStore org.gnome.Settings.GlobalShortcutsProvider
    org.a11y.Bus)
for name in "${services[@]}"; do
    cp "/usr/share/dbus-1/services/$name.service" "$work/services/" 2>/dev/null ||
        { why="no D-Bus service $name (scripts/setup installs it)"; result gnome_session 1; finish; }
done
test_bus_config "$work/bus.conf" "$work/services"
test_bus_config "$work/system-bus.conf"
bus() {  # bus CONFIG: a bus daemon; its address in $address
    local out
    out=$(dbus-daemon --config-file="$1" --fork --print-address=1 --print-pid=1) || return 1
    address=$(sed -n 1p <<<"$out")
    pids+=("$(sed -n 2p <<<"$out")")
}
shell_call() {  # shell_call PATH METHOD [ARGS...]
    gdbus call --session --dest org.gnome.Shell --object-path "$1" --method "$2" "${@:3}" 2>&1
}
shell_eval() { shell_call /org/gnome/Shell org.gnome.Shell.Eval "$1"; }
# shell_value JS: the value of JS in the shell, a string without its quotes.
shell_value() {
    shell_eval "$1" | sed -n "s/^(true, '\"\{0,1\}\(.*\)')\$/\1/p" | sed 's/"$//'
}

# Opens Eval and Screenshot, which the shell keeps for its unsafe mode. Shell 45 and later load
# extensions only as ES modules.
ext=$HOME/.local/share/gnome-shell/extensions/unsafe@vexlo.test
mkdir -p "$ext"
echo "{\"uuid\": \"unsafe@vexlo.test\", \"name\": \"unsafe mode\", \"description\": \"tests\",
  \"shell-version\": [\"$major\"]}" >"$ext/metadata.json"
if [ "$major" -ge 45 ]; then
    cat >"$ext/extension.js" <<'EOF'
import {Extension} from 'resource:///org/gnome/shell/extensions/extension.js';

export default class UnsafeMode extends Extension {
    enable() { global.context.unsafe_mode = true; }
    disable() {}
}
EOF
else
    echo 'function init() { return { enable() { global.context.unsafe_mode = true; }, disable() {} }; }' \
        >"$ext/extension.js"
fi

# Vexlo installed for the portal's registry and GNOME's dialog: its desktop file in the
# session's applications folder, starting the tested binary.
mkdir -p "$HOME/.local/share/applications"
sed "s|^Exec=.*|Exec=$bin|" "$here/../../../packaging/linux/io.github.vexlo.vexlo.desktop" \
    >"$HOME/.local/share/applications/io.github.vexlo.vexlo.desktop"
# GNOME's portal backend for GNOME sessions.
mkdir -p "$HOME/.config/xdg-desktop-portal"
printf '[preferred]\ndefault=gnome\n' >"$HOME/.config/xdg-desktop-portal/gnome-portals.conf"

# The dialog of GNOME Settings, read and answered through its accessibility tree:
#   dialog.py rows            one line per shortcut: its labels ("Volume up | Super+=")
#   dialog.py press LABEL     activates the button
cat >"$work/dialog.py" <<'EOF'
import sys
import gi
gi.require_version('Atspi', '2.0')
from gi.repository import Atspi

def nodes(node):
    yield node
    for i in range(node.get_child_count()):
        child = node.get_child_at_index(i)
        if child is not None:
            yield from nodes(child)

def dialog():
    desktop = Atspi.get_desktop(0)
    for i in range(desktop.get_child_count()):
        app = desktop.get_child_at_index(i)
        if app is None or app.get_name() == 'gnome-shell':
            continue
        for j in range(app.get_child_count()):
            window = app.get_child_at_index(j)
            if window is not None and window.get_name() == 'Add Keyboard Shortcuts':
                return window
    return None

try:
    window = dialog()
    if window is None:
        sys.exit(1)
    if sys.argv[1] == 'rows':
        for node in nodes(window):
            if node.get_role() == Atspi.Role.LIST_ITEM:
                labels = [n.get_name() for n in nodes(node) if n.get_role() == Atspi.Role.LABEL]
                print(' | '.join(labels))
        sys.exit(0)
    for node in nodes(window):
        if node.get_role() == Atspi.Role.BUTTON and node.get_name() == sys.argv[2]:
            sys.exit(0 if node.do_action(0) else 1)
    sys.exit(1)
except gi.repository.GLib.Error as e:
    print(e, file=sys.stderr)
    sys.exit(1)
EOF
dialog() { timeout 20 /usr/bin/python3 "$work/dialog.py" "$@"; }
dialog_open() {
    [ "$(shell_value 'global.get_window_actors().some(a => a.meta_window.get_title() === "Add Keyboard Shortcuts")')" = true ]
}

# start_shell ARGS...: GNOME Shell on fresh private buses, ready for Eval; everything on the
# session bus recorded in $work/monitor.log.
start_shell() {
    bus "$work/bus.conf" || return 1
    export DBUS_SESSION_BUS_ADDRESS=$address
    bus "$work/system-bus.conf" || return 1
    export DBUS_SYSTEM_BUS_ADDRESS=$address
    dbus-monitor --session >"$work/monitor.log" 2>&1 &
    pids+=($!)
    gnome-shell "$@" >"$work/shell.log" 2>&1 &
    shell_pid=$!
    pids+=("$shell_pid")
    wait_until 30000 eval 'shell_call /org/gnome/Shell org.gnome.Shell.Extensions.EnableExtension \
        unsafe@vexlo.test | grep -q true' || { why="the shell did not start: $(tail -3 "$work/shell.log")"; return 1; }
    wait_until 5000 eval 'shell_eval 1 | grep -q true' || { why="no unsafe mode"; return 1; }
    shell_call /org/gnome/Shell org.gnome.Shell.Extensions.EnableExtension \
        ubuntu-appindicators@ubuntu.com | grep -q true || { why="no AppIndicator extension"; return 1; }
    # The session starts in the overview, which hides the windows; leave it.
    wait_until 10000 eval "shell_eval '!Main.layoutManager._startingUp && (Main.overview.hide(),
        !Main.overview.visible)' | grep -q \"'true'\"" || { why="the overview stays"; return 1; }
}

# The Wayland session: the shell with Xwayland, on a Wayland display of its own name, which the
# services the bus starts (the portal's backend, GNOME Settings' dialog) inherit from the bus.
# The caller keeps the session's variables local (local -x), so the next session starts clean.
wayland_shell() {
    export XDG_SESSION_TYPE=wayland XDG_CURRENT_DESKTOP=GNOME WAYLAND_DISPLAY=vexlo-wayland
    unset DISPLAY XAUTHORITY
    start_shell --headless --wayland --wayland-display "$WAYLAND_DISPLAY" --virtual-monitor 1280x800 ||
        return 1
    # Xwayland, as the shell tells its children.
    local d
    d=$(shell_value '(GLib.getenv("DISPLAY") || "") + " " + (GLib.getenv("XAUTHORITY") || "")')
    export DISPLAY=${d%% *}
    [ -n "${d#* }" ] && export XAUTHORITY=${d#* }
    [ -n "$DISPLAY" ] || { why="no Xwayland display"; return 1; }
    [ "$portal" = 1 ] || return 0
    # A keyboard for the hotkeys, as a person presses them.
    [ "$(shell_value 'const C = imports.gi.Clutter; global._vexloKeyboard = C.get_default_backend().
        get_default_seat().create_virtual_device(C.InputDeviceType.KEYBOARD_DEVICE); true')" = true ] ||
        { why="no virtual keyboard"; return 1; }
}

# press KEY...: the keys (Clutter's names) held down in order and let go in reverse on the
# shell's virtual keyboard.
press() {
    local js='const C = imports.gi.Clutter; const k = global._vexloKeyboard; let t = GLib.get_monotonic_time();' i
    for ((i = 1; i <= $#; i++)); do js+=" k.notify_keyval(t++, C.KEY_${!i}, C.KeyState.PRESSED);"; done
    for ((i = $#; i >= 1; i--)); do js+=" k.notify_keyval(t++, C.KEY_${!i}, C.KeyState.RELEASED);"; done
    [ "$(shell_value "$js true")" = true ]
}

# Super+= and Super+- each step the level once, and the display shows.
keys_step_the_level() {
    local start up
    # From a level set here, once the display it brought up has gone.
    pactl set-sink-volume "$sink" 26214
    sleep 0.3
    wait_until 8000 osd_hidden "$vpid" || { why="the display stays"; return 1; }
    start=$(level)
    up=$(step_up "$start")
    press Super_L equal || { why="no key press"; return 1; }
    wait_until 3000 level_is "$up" || { why="Super+=: level $(level), expected $up"; return 1; }
    wait_until 2000 osd_shown "$vpid" || { why="no display after Super+="; return 1; }
    sleep 0.5
    level_is "$up" || { why="level $(level) after one Super+=, expected $up"; return 1; }
    press Super_L minus || { why="no key press"; return 1; }
    wait_until 3000 level_is "$start" || { why="Super+-: level $(level), expected $start"; return 1; }
}

nothing_told() {
    ! grep -q "could not bind" "$work/vexlo.log" || { why="could not bind: $(grep "could not bind" "$work/vexlo.log")"; return 1; }
    [ "$(told)" = 0 ] || { why="told: $(grep "volume hotkeys:" "$work/vexlo.log")"; return 1; }
    [ -z "$(notifications)" ] || { why="a notification: $(notifications | cut -c1-300)"; return 1; }
}

# The portal requests Vexlo made (METHOD TOKEN) and the answer to one: "CODE ms" (the
# Response's code and the milliseconds since the call) and the shortcuts it lists.
portal_requests() {
    bus_messages | sed -n 's/.*interface=org\.freedesktop\.portal\.GlobalShortcuts; member=\([A-Za-z]*\) .*string "handle_token" variant string "\([^"]*\)".*/\1 \2/p'
}
portal_answer() {
    local call answer
    call=$(bus_messages | grep 'interface=org\.freedesktop\.portal\.GlobalShortcuts; member=' |
        grep "string \"handle_token\" variant string \"$1\"")
    answer=$(bus_messages | grep "/request/[0-9_]*/$1; interface=org.freedesktop.portal.Request; member=Response")
    [ -n "$call" ] && [ -n "$answer" ] || return 1
    awk -v c="$call" -v a="$answer" 'function t(m) { sub(/.*time=/, "", m); sub(/ .*/, "", m); return m }
        BEGIN { code = a; sub(/.*member=Response uint32 /, "", code); sub(/ .*/, "", code)
                printf "%s %d", code, (t(a) - t(c)) * 1000 }'
    grep -o 'string "volume-[a-z]*"' <<<"$answer" | tr -d '"' | sed 's/^string / /' | tr -d '\n'
    echo
}
token_of() { portal_requests | awk -v m="$1" '$1 == m { t = $2 } END { if (t == "") exit 1; print t }'; }

# ---- GNOME 45 and later: the portal and GNOME Settings' dialog ------------------------------------

# The first start: the dialog lists both keys; "Add" binds them, and they work.
first_start_dialog_add() {
    local rows t0
    white_window 900x600+190+100 || return 1
    t0=$(now_ms)
    start_vexlo || return 1
    wait_until 20000 dialog_open || { why="no dialog: $(portal_requests | tr '\n' ' ')"; return 1; }
    echo "    the dialog $(($(now_ms) - t0)) ms after the start"
    wait_until 10000 eval 'rows=$(dialog rows) && [ "$(wc -l <<<"$rows")" = 2 ]' ||
        { why="the dialog's rows: $rows"; return 1; }
    echo "    dialog rows: $(tr '\n' ';' <<<"$rows")"
    grep -qx "Volume up | Super+=" <<<"$rows" && grep -qx "Volume down | Super+-" <<<"$rows" ||
        { why="the dialog lists: $(tr '\n' ';' <<<"$rows")"; return 1; }
    shell_call /org/gnome/Shell/Screenshot org.gnome.Shell.Screenshot.Screenshot false false \
        "$art/gnome-dialog.png" >/dev/null
    # While the dialog waits for its answer, Vexlo waits too and says nothing.
    sleep 2
    [ "$(told)" = 0 ] || { why="told while the dialog was open: $(grep "volume hotkeys:" "$work/vexlo.log")"; return 1; }
    dialog press Add || { why="no Add button"; return 1; }
    wait_until 5000 eval '! dialog_open && portal_answer "$(token_of BindShortcuts)" >/dev/null' ||
        { why="no answer after Add"; return 1; }
    echo "    BindShortcuts answered: $(portal_answer "$(token_of BindShortcuts)")"
    keys_step_the_level || return 1
    sleep 1
    nothing_told
}

# The second start, in a new shell with the same home: the desktop holds the keys, no dialog.
# Vexlo binds only what ListShortcuts does not list; GNOME's backend lists nothing in a new
# session, and its dialog then answers the bind at once from what it keeps.
second_start_no_dialog() {
    local list bind listed
    start_vexlo || return 1
    wait_until 15000 eval 'list=$(token_of ListShortcuts) && portal_answer "$list" >/dev/null' ||
        { why="ListShortcuts unanswered: $(portal_requests | tr '\n' ' ')"; return 1; }
    listed=$(portal_answer "$list" | cut -d' ' -f3-)
    if [ "$listed" = "volume-up volume-down" ] || [ "$listed" = "volume-down volume-up" ]; then
        sleep 2
        bind=$(token_of BindShortcuts) && { why="BindShortcuts although ListShortcuts listed both"; return 1; }
        echo "    ListShortcuts lists both; no BindShortcuts"
    else
        wait_until 5000 eval 'bind=$(token_of BindShortcuts)' ||
            { why="no BindShortcuts although ListShortcuts listed: '$listed'"; return 1; }
        wait_until 5000 eval 'portal_answer "$bind" >/dev/null' ||
            { why="BindShortcuts unanswered (dialog open: $(dialog_open && echo yes || echo no))"; return 1; }
        echo "    ListShortcuts lists '$listed'; BindShortcuts answered: $(portal_answer "$bind")"
    fi
    ! dialog_open || { why="the dialog came again"; return 1; }
    [ "$(portal_requests | grep -c BindShortcuts)" -le 1 ] || { why="more than one BindShortcuts"; return 1; }
    keys_step_the_level || return 1
    sleep 1
    nothing_told
}

# A fresh desktop, "Cancel": told once, on stderr and as a notification, with the way out.
fresh_desktop_cancel_told_once() {
    start_vexlo || return 1
    wait_until 20000 dialog_open || { why="no dialog"; return 1; }
    wait_until 10000 eval 'dialog rows | grep -q "Super+="' || { why="the dialog lists no keys"; return 1; }
    dialog press Cancel || { why="no Cancel button"; return 1; }
    wait_until 5000 eval '! dialog_open && portal_answer "$(token_of BindShortcuts)" >/dev/null' ||
        { why="no answer after Cancel"; return 1; }
    echo "    BindShortcuts answered: $(portal_answer "$(token_of BindShortcuts)")"
    told_where_to_bind "the desktop did not add them (its shortcut dialog was cancelled, or it refused them); Vexlo asks again at its next start" || return 1
    told_by_notification || return 1
    sleep 2
    [ "$(told)" = 1 ] && [ "$(notifications | wc -l)" = 1 ] ||
        { why="told $(told) times, $(notifications | wc -l) notifications"; return 1; }
}

gnome_portal_sessions() {
    local -x XDG_SESSION_TYPE XDG_CURRENT_DESKTOP DISPLAY XAUTHORITY WAYLAND_DISPLAY
    local check up
    command -v /usr/libexec/at-spi-bus-launcher >/dev/null ||
        { why="no at-spi-bus-launcher (scripts/setup installs at-spi2-core)"; result gnome_portal 1; return; }
    # The first start, then the fade measured in the same session.
    wayland_shell && up=1 || up=0
    for check in first_start_dialog_add wayland_display; do
        [ "$up" = 1 ] && "$check"
        result "gnome_$check" $?
    done
    record first-start
    stop_all
    # A new shell with the same home: what GNOME keeps of the keys.
    : >"$work/vexlo.log"
    wayland_shell && second_start_no_dialog
    result gnome_second_start_no_dialog $?
    record second-start
    stop_all
    # A fresh desktop: GNOME keeps nothing.
    : >"$work/vexlo.log"
    rm -rf "$HOME/.config/dconf"
    wayland_shell && fresh_desktop_cancel_told_once
    result gnome_fresh_desktop_cancel_told_once $?
    record cancel
    stop_all
}

# turn UP|DOWN: one notch of a wheel (a virtual pointer of the shell) over Vexlo's icon in the
# AppIndicator tray.
turn() {
    [ "$(shell_value 'const C = imports.gi.Clutter;
        const a = Object.entries(Main.panel.statusArea).find(([n, i]) => n.startsWith("appindicator-") && i)[1];
        const [x, y] = a.get_transformed_position(); const [w, h] = a.get_transformed_size();
        global._vexloPointer ??= C.get_default_backend().get_default_seat().
            create_virtual_device(C.InputDeviceType.POINTER_DEVICE);
        let t = GLib.get_monotonic_time();
        global._vexloPointer.notify_absolute_motion(t++, x + w / 2, y + h / 2);
        global._vexloPointer.notify_discrete_scroll(t++, C.ScrollDirection.'"$1"', C.ScrollSource.WHEEL); true')" = true ]
}
# One notch up over the icon steps the level up once, one down steps it down once (the extension
# hands on Clutter's delta: -1 a notch up).
wheel_steps_the_level() {
    local start up
    pactl set-sink-volume "$sink" 26214
    start=$(level)
    up=$(step_up "$start")
    turn UP || { why="no wheel"; return 1; }
    wait_until 3000 level_is "$up" || { why="a notch up: level $(level), expected $up"; return 1; }
    turn DOWN || { why="no wheel"; return 1; }
    wait_until 3000 level_is "$start" || { why="a notch down: level $(level), expected $start"; return 1; }
}

# The display's hold and fade in the Wayland session, and the tray with its wheel.
wayland_display() {
    tray_item_with_its_icon || return 1
    area_shots wayland 534 300 >"$work/wayland.opacities"
    check_fade wayland || return 1
    wheel_steps_the_level
}

# ---- GNOME 43: no shortcut portal --------------------------------------------------------------

gnome_wayland_session() {
    local -x XDG_SESSION_TYPE XDG_CURRENT_DESKTOP DISPLAY XAUTHORITY WAYLAND_DISPLAY
    wayland_shell || return 1
    white_window 900x600+190+100 || return 1
    start_vexlo || return 1
    told_where_to_bind "offers no global shortcuts portal" || return 1
    told_by_notification || return 1
    wayland_display
}

# ---- Both: the X11 session -----------------------------------------------------------------------

gnome_x11_session() {
    local -x XDG_SESSION_TYPE=x11 XDG_CURRENT_DESKTOP=GNOME DISPLAY=$xdisplay WAYLAND_DISPLAY XAUTHORITY
    unset WAYLAND_DISPLAY XAUTHORITY
    export DISPLAY
    start_shell --x11 --replace || return 1
    white_window 700x500+162+134 || return 1
    start_vexlo || return 1
    told_where_to_bind "GNOME keeps the Super key" || return 1
    area_shots x11 406 284 >"$work/x11.opacities"
    check_fade x11
}

: >"$work/vexlo.log"
if [ "$portal" = 1 ]; then
    gnome_portal_sessions
else
    gnome_wayland_session
    result gnome_wayland_session $?
    stop_all
fi
: >"$work/vexlo.log"
gnome_x11_session
result gnome_x11_session $?
stop_all
finish
