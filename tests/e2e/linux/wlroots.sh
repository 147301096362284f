#!/usr/bin/env bash
# End-to-end test of Vexlo on the wlroots desktops: the real vexlo binary on the Xwayland of a
# headless Sway (WLR_BACKENDS=headless), started with README's Sway lines, its tray item in
# swaybar and then in waybar. A virtual pointer of the compositor (virtual_pointer.py) turns
# the wheel over the icon as a mouse does: one notch up steps the level up once, one down once,
# two at once twice; the right button opens the menu at the icon; mako (the notification
# service) shows the hotkeys message with its way out. Pointer devices that come and go just
# after Vexlo starts (wlrctl) must not end it; QT_QPA_PLATFORM=wayland in the environment must
# not take it off Xwayland. Then labwc with README's labwc lines: Vexlo starts from its
# autostart file, and Super + = and Super + - (a virtual keyboard, wtype) step the level.
#
# Their Xwayland takes the lowest free X display, so everything runs in mount, network and
# PID namespaces of its own, on a private bus, runtime folder and PulseAudio null sink.
#
#   tests/e2e/linux/wlroots.sh BUILD_DIR      BUILD_DIR holds the vexlo binary
#
# Prints one line per check and "N passed, M failed"; exits non-zero when one failed. Without
# these desktops (Debian 12 has none in the test list) it says so and passes.
set -uo pipefail

here=$(cd "$(dirname "$0")" && pwd)
. "$here/lib.sh"

case "${1:-}" in
    --inside) ;;
    --namespace)
        checkout=$(cd "$here/../../.." && pwd)
        exec 9</tmp  # the real /tmp, reachable through this descriptor under the private one
        mount -t tmpfs tmpfs /tmp || { echo "cannot mount a private /tmp" >&2; exit 1; }
        mkdir -m 1777 /tmp/.X11-unix
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
        for tool in sway swaybar waybar labwc mako wlrctl wtype; do
            command -v $tool >/dev/null || { echo "no $tool here: the wlroots desktops are not tested"; exit 0; }
        done
        build=$(build_folder "$0" "$@") || exit 2
        exec unshare --mount --net --pid --fork --mount-proc -- "$0" --namespace "$build"
        ;;
esac

build=$2
bin=$build/vexlo
work=$(mktemp -d /tmp/vexlo-sway.XXXXXX)
pids=()
passed=0
failed=0
xvfb=$DISPLAY

stop_all() {
    local all=() i
    exec 7>&- 2>/dev/null
    for ((i = ${#pids[@]} - 1; i >= 0; i--)); do all+=($(descendants "${pids[i]}") "${pids[i]}"); done
    stop_pids "${all[@]}"
    pids=()
}
bus_pid=""
trap 'stop_all; stop_pids $bus_pid; rm -rf "$work"' EXIT
trap 'exit 130' INT TERM

dbus-daemon --session --nofork --address="unix:path=$work/bus" >"$work/bus.log" 2>&1 &
bus_pid=$!
export DBUS_SESSION_BUS_ADDRESS=unix:path=$work/bus
wait_until 5000 test -S "$work/bus" || { echo "no session bus" >&2; exit 1; }

# start_sway BAR: Sway with README's lines for Vexlo and the tray of BAR (swaybar or waybar);
# Vexlo's process id is in $vpid, the Xwayland display in $DISPLAY.
start_sway() {
    local conf=$work/sway.conf
    # README's lines, as a user copies them.
    echo "exec mako" >"$conf"  # the notification service first
    sed -n '/<!-- sway config -->/,/<!-- end -->/p' "$here/../../../README.md" | sed 's/^    //' | grep -v '^\(<!--\|```\)' >>"$conf"
    grep -q '^exec vexlo --autostart$' "$conf" || { why="README has no Sway lines"; return 1; }
    sed -i "s|^exec vexlo|exec env QT_QPA_PLATFORM=\${VEXLO_QPA:-xcb} $bin|; s| vexlo | $bin |" "$conf"
    echo 'output HEADLESS-1 resolution 1280x720' >>"$conf"
    if [ "$1" = swaybar ]; then
        printf 'bar {\n  position top\n  status_command true\n}\n' >>"$conf"
    else
        mkdir -p "$HOME/.config/waybar"
        echo '{"position": "top", "height": 30, "modules-right": ["tray"]}' >"$HOME/.config/waybar/config"
        echo "exec waybar" >>"$conf"
    fi
    : >"$work/vexlo.log"
    WLR_BACKENDS=headless WLR_LIBINPUT_NO_DEVICES=1 WLR_HEADLESS_OUTPUTS=1 WLR_RENDERER=pixman \
        sway -c "$conf" >"$work/vexlo.log" 2>&1 &
    pids+=($!)
    wait_until 20000 eval 'ls "$XDG_RUNTIME_DIR"/sway-ipc.*.sock >/dev/null 2>&1' || { why="sway did not start"; return 1; }
    SWAYSOCK=$(ls "$XDG_RUNTIME_DIR"/sway-ipc.*.sock)
    WAYLAND_DISPLAY=$(cd "$XDG_RUNTIME_DIR" && ls wayland-? | head -1)
    export SWAYSOCK WAYLAND_DISPLAY
    wait_until 20000 eval 'vpid=$(pgrep -f "^$bin --autostart")' || { why="Vexlo did not start"; return 1; }
    local d
    for d in /tmp/.X11-unix/X*; do [ ":${d#/tmp/.X11-unix/X}" != "$xvfb" ] && DISPLAY=":${d#/tmp/.X11-unix/X}"; done
    export DISPLAY
    wait_until 20000 sni_item || { why="no tray item"; return 1; }
}

# Pointer devices appear and go just after Vexlo, Xwayland's first client, has started (each
# wlrctl call adds a virtual pointer of its own and takes it away again): Vexlo lives on.
# Three fresh desktops, 17 pointers each.
pointers_come_and_go() {
    local run i
    for run in 1 2 3; do
        start_sway swaybar || return 1
        for i in $(seq 17); do wlrctl pointer move 1 1 >/dev/null 2>&1; sleep 0.1; done
        sleep 0.5
        kill -0 "$vpid" 2>/dev/null || { why="Vexlo ended on desktop $run: $(tail -3 "$work/vexlo.log")"; return 1; }
        [ $run = 3 ] || stop_sway
    done
}
stop_sway() {
    swaymsg exit >/dev/null 2>&1
    stop_all
    rm -f "$XDG_RUNTIME_DIR"/sway-ipc.*.sock
}

# The compositor's virtual pointer, fed commands on descriptor 7.
start_pointer() {
    mkfifo "$work/pointer"
    python3 "$here/virtual_pointer.py" <"$work/pointer" >"$work/pointer.log" 2>&1 &
    pids+=($!)
    exec 7>"$work/pointer"
    wait_until 5000 grep -q ready "$work/pointer.log" || { why="no virtual pointer: $(cat "$work/pointer.log")"; return 1; }
}
point() { echo "$*" >&7; }

# Finds the icon at the right end of the bar: the first place where a notch up steps the level.
icon_x=""
find_icon() {
    local x start
    pactl set-sink-volume "$sink" 26214
    wait_until 8000 osd_hidden "$vpid"
    start=$(level)
    for x in $(seq 1275 -4 1180); do
        point "abs $x 8 1280 720"
        point "wheel -1"
        wait_until 300 eval '[ "$(level)" != "$start" ]' && { icon_x=$x; return 0; }
    done
    why="no notch over the bar stepped the level"
    return 1
}

# Over the icon: a notch up steps the level up once, one down once, two down at once twice.
wheel_steps_the_level() {
    local start up
    find_icon || return 1
    sleep 0.5
    start=$(level)
    up=$(step_up "$start")
    point "wheel -1"
    wait_until 3000 level_is "$up" || { why="a notch up: level $(level), expected $up"; return 1; }
    wait_until 3000 osd_shown "$vpid" || { why="no display on Xwayland"; return 1; }
    point "wheel 1"
    wait_until 3000 level_is "$start" || { why="a notch down: level $(level), expected $start"; return 1; }
    point "wheel 2"
    wait_until 3000 level_is "$(step_down "$(step_down "$start")")" ||
        { why="two notches down: level $(level), expected two steps from $start"; return 1; }
    sleep 0.5
    level_is "$(step_down "$(step_down "$start")")" || { why="two notches down: level $(level)"; return 1; }
}

# The right button over the icon: the bar asks for the menu at the pointer (ContextMenu(x, y)),
# and Vexlo's menu opens there, not where the X pointer was last.
menu_at_the_icon() {
    local m g
    point "click 3"
    wait_until 3000 eval 'm=$(menu_of "$vpid")' || { why="no menu"; return 1; }
    g=($(geometry "$m"))
    xdotool key Escape
    [ "${g[0]}" -le "$icon_x" ] && [ "$icon_x" -le $((g[0] + g[2] + 4)) ] && [ "${g[1]}" -le 40 ] ||
        { why="menu at ${g[*]}, the icon at $icon_x,8"; return 1; }
}

# The hotkeys message as mako shows it: a short body that leads with the way out.
mako_shows_the_way_out() {
    local shown
    mako_has() {
        shown=$(dbus-send --session --print-reply --dest=org.freedesktop.Notifications /fr/emersion/Mako \
            fr.emersion.Mako.ListNotifications 2>&1 | tr -s ' \n' ' ')
        [[ $shown == *"Vexlo cannot use"* ]]
    }
    wait_until 5000 mako_has ||
        { why="mako shows no message of Vexlo: $shown"; return 1; }
    [[ $shown == *'Vexlo cannot use Super + plus and Super + minus: bind them to the commands "vexlo --volume-up" and "vexlo --volume-down" in the desktop'"'"'s keyboard shortcuts.'* ]] ||
        { why="mako shows: $shown"; return 1; }
}

# labwc with README's lines for Vexlo (its autostart line and keybinds) and waybar as the tray.
start_labwc() {
    local dir=$HOME/.config/labwc
    mkdir -p "$dir" "$HOME/.config/waybar"
    echo '{"position": "top", "height": 30, "modules-right": ["tray"]}' >"$HOME/.config/waybar/config"
    {
        echo "mako &"
        grep -o '`vexlo --autostart &`' "$here/../../../README.md" | tr -d '`' | sed "s|^vexlo |$bin |"
        echo "waybar &"
    } >"$dir/autostart"
    grep -q -- "--autostart &" "$dir/autostart" || { why="README has no labwc autostart line"; return 1; }
    {
        echo "<labwc_config><keyboard>"
        sed -n '/<!-- labwc rc.xml -->/,/<!-- end -->/p' "$here/../../../README.md" | sed 's/^    //' |
            grep -v '^\(<!--\|```\)' | sed "s|command=\"vexlo |command=\"$bin |"
        echo "</keyboard></labwc_config>"
    } >"$dir/rc.xml"
    grep -q 'W-equal' "$dir/rc.xml" || { why="README has no labwc keybinds"; return 1; }
    : >"$work/vexlo.log"
    WLR_BACKENDS=headless WLR_LIBINPUT_NO_DEVICES=1 WLR_HEADLESS_OUTPUTS=1 WLR_RENDERER=pixman \
        labwc -C "$dir" >"$work/vexlo.log" 2>&1 &
    pids+=($!)
    wait_until 20000 eval 'WAYLAND_DISPLAY=$(cd "$XDG_RUNTIME_DIR" && ls wayland-? 2>/dev/null | head -1); [ -n "$WAYLAND_DISPLAY" ]' ||
        { why="labwc did not start"; return 1; }
    export WAYLAND_DISPLAY
    wait_until 20000 eval 'vpid=$(pgrep -f "^$bin --autostart")' || { why="Vexlo did not start"; return 1; }
    local d
    for d in /tmp/.X11-unix/X*; do [ ":${d#/tmp/.X11-unix/X}" != "$xvfb" ] && DISPLAY=":${d#/tmp/.X11-unix/X}"; done
    export DISPLAY
    wait_until 20000 sni_item || { why="no tray item"; return 1; }
}

# README's keybinds: Super + = steps the level up once, Super + - down once.
labwc_keys_step_the_level() {
    local start up
    pactl set-sink-volume "$sink" 26214
    start=$(level)
    up=$(step_up "$start")
    wtype -M logo -k equal -m logo || { why="no virtual keyboard"; return 1; }
    wait_until 5000 level_is "$up" || { why="Super + =: level $(level), expected $up"; return 1; }
    wait_until 3000 osd_shown "$vpid" || { why="no display after Super + ="; return 1; }
    wtype -M logo -k minus -m logo
    wait_until 5000 level_is "$start" || { why="Super + -: level $(level), expected $start"; return 1; }
}

# bar_session BAR QT_QPA_PLATFORM: Vexlo's wheel in BAR's tray.
bar_session() {
    local -x VEXLO_QPA=$2
    start_sway "$1" && start_pointer && wheel_steps_the_level
}

echo "Sway $(sway --version | grep -o '[0-9][0-9.]*' | head -1), waybar $(waybar --version | grep -o '[0-9][0-9.]*' | head -1)"
pointers_come_and_go
r=$?
result sway_pointers_come_and_go $r
[ $r = 0 ] || { stop_sway; start_sway swaybar; }
start_pointer && wheel_steps_the_level
result swaybar_wheel $?
menu_at_the_icon
result swaybar_menu_at_the_icon $?
mako_shows_the_way_out
result mako_shows_the_way_out $?
stop_sway
bar_session waybar wayland
result waybar_wheel_with_qt_asked_for_wayland $?
stop_sway
start_labwc && labwc_keys_step_the_level
result labwc_readme_lines $?
stop_all
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
