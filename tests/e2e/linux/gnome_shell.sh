#!/usr/bin/env bash
# End-to-end test of Vexlo on GNOME Shell 43, the default desktop: the real vexlo binary first
# on a bare X display without a compositor (opaque, the colour key cut out cleanly), then in
# GNOME Shell's headless Wayland session (mutter leaves the window opacity of override-redirect
# windows unapplied at the map), then in GNOME's X11 session on the same display. The display
# is measured over a white window in the shell's own screenshots: about 49 % opacity during
# the hold, falling through the fade. In both sessions the hotkeys cannot work (no shortcut
# portal before GNOME 48; mutter keeps Super for its overview), and the one hotkey message
# names the volume commands and where to bind them; at the AppIndicator tray it leaves
# Vexlo's icon in place.
#
# Mutter takes the lowest free X display for Xwayland, so everything runs in a mount and
# network namespace of its own (a private /tmp and private abstract sockets): it never meets
# another session's displays. The buses are private and start only dconf.
#
#   tests/e2e/linux/gnome_shell.sh BUILD_DIR      BUILD_DIR holds the vexlo binary and the skin
#
# Prints one line per check and "N passed, M failed"; exits non-zero when one failed.
# Screenshots go to BUILD_DIR/e2e-gnome/.
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
        exec env -u VEXLO_SESSION "$here/with-session.sh" --display 65 "$0" --inside "$2"
        ;;
    *)
        build=$(build_folder "$0" "$@") || exit 2
        exec unshare --mount --net -- "$0" --namespace "$build"
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

stop_all() {
    local reversed=() i
    for ((i = ${#pids[@]} - 1; i >= 0; i--)); do reversed+=("${pids[i]}"); done
    stop_pids "${reversed[@]}"
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
# and the picture's own mean there: over white, opacity = (255 - seen) / (255 - own).
patch=20x20+10+60
own=$(/usr/bin/convert "$build/back.bmp" -crop "$patch" +repage -format '%[fx:mean*255]' info:)
opacity_in() {  # opacity_in SHOT: the display's opacity seen in a shot of the display's area
    local seen
    seen=$(/usr/bin/convert "$1" -crop "$patch" +repage -format '%[fx:mean*255]' info:)
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

# area_shots NAME X Y: a change of the level, then shots of the display's area for 2 s with
# the milliseconds since the change; prints "MS OPACITY" per shot.
area_shots() {
    local name=$1 x=$2 y=$3 t0 i=0 t
    pactl set-sink-volume "$sink" "$(($(level) == 40000 ? 30000 : 40000))"
    t0=$(now_ms)
    sleep 0.2
    while t=$(($(now_ms) - t0)); [ "$t" -lt 2000 ]; do
        i=$((i + 1))
        shell_call /org/gnome/Shell/Screenshot org.gnome.Shell.Screenshot.ScreenshotArea \
            "$x" "$y" 212 200 false "$work/$name-$i.png" >/dev/null || break
        echo "$t $work/$name-$i.png" >>"$work/$name.list"
        # The whole screen once, during the hold.
        [ "$i" = 1 ] && shell_call /org/gnome/Shell/Screenshot org.gnome.Shell.Screenshot.Screenshot \
            false false "$art/gnome-$name.png" >/dev/null
    done
    while read -r t file; do echo "$t $(opacity_in "$file")"; done <"$work/$name.list"
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
# The tray item's icons while its message is up: none of them a warning sign.
item_keeps_its_icon() {
    local item service path props
    item=$(gdbus call --session --dest org.kde.StatusNotifierWatcher --object-path /StatusNotifierWatcher \
        --method org.freedesktop.DBus.Properties.Get org.kde.StatusNotifierWatcher \
        RegisteredStatusNotifierItems | grep -o "'[^']*'" | head -1 | tr -d "'")
    [ -n "$item" ] || { why="no tray item"; return 1; }
    service=${item%%/*} path=/${item#*/}
    service=${service%@}  # the extension writes "NAME@PATH"
    get() {
        gdbus call --session --dest "$service" --object-path "$path" \
            --method org.freedesktop.DBus.Properties.Get org.kde.StatusNotifierItem "$1" 2>&1
    }
    wait_until 3000 eval '[[ $(get Status) == *NeedsAttention* ]]' ||
        { why="the message did not reach the tray item: $(get Status)"; return 1; }
    props="$(get AttentionIconName) $(get IconName)"
    [[ $props != *dialog-warning* ]] || { why="a warning sign at the tray: $props"; return 1; }
    echo "    tray item during the message: $(get Status) attention icon $(get AttentionIconName)"
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

mkdir -p "$work/services"
cp /usr/share/dbus-1/services/ca.desrt.dconf.service "$work/services/"
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

# Opens Eval and Screenshot, which Shell 43 keeps for its unsafe mode.
ext=$HOME/.local/share/gnome-shell/extensions/unsafe@vexlo.test
mkdir -p "$ext"
echo '{"uuid": "unsafe@vexlo.test", "name": "unsafe mode", "description": "tests",
  "shell-version": ["43"]}' >"$ext/metadata.json"
echo 'function init() { return { enable() { global.context.unsafe_mode = true; }, disable() {} }; }' \
    >"$ext/extension.js"

# start_shell ARGS...: GNOME Shell on fresh private buses, ready for Eval.
start_shell() {
    bus "$work/bus.conf" || return 1
    export DBUS_SESSION_BUS_ADDRESS=$address
    bus "$work/system-bus.conf" || return 1
    export DBUS_SYSTEM_BUS_ADDRESS=$address
    gnome-shell "$@" >"$work/shell.log" 2>&1 &
    shell_pid=$!
    pids+=("$shell_pid")
    wait_until 20000 eval 'shell_call /org/gnome/Shell org.gnome.Shell.Extensions.EnableExtension \
        unsafe@vexlo.test | grep -q true' || { why="the shell did not start"; return 1; }
    wait_until 5000 eval 'shell_eval 1 | grep -q true' || { why="no unsafe mode"; return 1; }
    shell_call /org/gnome/Shell org.gnome.Shell.Extensions.EnableExtension \
        ubuntu-appindicators@ubuntu.com | grep -q true || { why="no AppIndicator extension"; return 1; }
    # The session starts in the overview, which hides the windows; leave it.
    wait_until 10000 eval "shell_eval '!Main.layoutManager._startingUp && (Main.overview.hide(),
        !Main.overview.visible)' | grep -q \"'true'\"" || { why="the overview stays"; return 1; }
}

# The sessions' variables are the function's own (local -x): the next session starts clean.
gnome_wayland_session() {
    local -x XDG_SESSION_TYPE=wayland XDG_CURRENT_DESKTOP=GNOME DISPLAY XAUTHORITY WAYLAND_DISPLAY
    unset DISPLAY
    start_shell --headless --wayland --virtual-monitor 1280x800 || return 1
    # Xwayland, as the shell tells its children.
    local d
    d=$(shell_eval 'GLib.getenv("DISPLAY") + " " + GLib.getenv("XAUTHORITY")' |
        sed -n "s/.*'\"\(.*\)\"'.*/\1/p")
    export DISPLAY=${d%% *} XAUTHORITY=${d#* } WAYLAND_DISPLAY=wayland-0
    [ -n "$DISPLAY" ] || { why="no Xwayland display"; return 1; }
    white_window 900x600+190+100 || return 1
    start_vexlo || return 1
    told_where_to_bind "offers no global shortcuts portal" || return 1
    item_keeps_its_icon || return 1
    area_shots wayland 534 300 >"$work/wayland.opacities"
    check_fade wayland
}

gnome_x11_session() {
    local -x XDG_SESSION_TYPE=x11 XDG_CURRENT_DESKTOP=GNOME DISPLAY=$xdisplay WAYLAND_DISPLAY
    unset WAYLAND_DISPLAY
    export DISPLAY
    start_shell --x11 --replace || return 1
    white_window 700x500+162+134 || return 1
    start_vexlo || return 1
    told_where_to_bind "GNOME keeps the Super key" || return 1
    area_shots x11 406 284 >"$work/x11.opacities"
    check_fade x11
}

: >"$work/vexlo.log"
gnome_wayland_session
result gnome_wayland_session $?
stop_all
: >"$work/vexlo.log"
gnome_x11_session
result gnome_x11_session $?
stop_all
finish
