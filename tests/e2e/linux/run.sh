#!/usr/bin/env bash
# End-to-end tests of the Linux program: the real vexlo binary on a virtual desktop (Xvfb with
# openbox, trayer and xcompmgr) with a private PulseAudio server whose null sink is the master
# level. Driven with xdotool and pactl, checked with screenshots, xprop/xwininfo, the sink's
# monitor and core.ini. Starts and stops everything itself.
#
#   tests/e2e/linux/run.sh BUILD_DIR      BUILD_DIR holds the vexlo binary and the skin
#
# Prints one line per scenario and "N passed, M failed"; exits non-zero when one failed.
# Screenshots go to BUILD_DIR/e2e-linux/. The X displays are chosen free at run time
# (VEXLO_E2E_DISPLAY names the session's instead); VEXLO_E2E_ONLY names the scenarios to run
# (all by default). Two runs side by side do not meet.
set -uo pipefail

here=$(cd "$(dirname "$0")" && pwd)
. "$here/lib.sh"

if [ "${1:-}" != "--inside" ]; then
    build=$(build_folder "$0" "$@") || exit 2
    exec env -u VEXLO_SESSION "$here/with-session.sh" --desktop \
        ${VEXLO_E2E_DISPLAY:+--display "$VEXLO_E2E_DISPLAY"} "$0" --inside "$build" </dev/null
fi

build=$2
bin=$build/vexlo
work=$(mktemp -d /tmp/vexlo-e2e.XXXXXX)
art=$work/shots  # BUILD_DIR/e2e-linux at the end
mkdir -p "$art"
pids=()
tray_pid=${VEXLO_TRAY_PID:-}  # the session's tray (trayer); scenarios may stop and restart it
passed=0
failed=0

cleanup_pids() {
    stop_pids "${pids[@]}"
    pids=()
}
trap 'cleanup_pids; stop_tray; keep_shots "$art" "$build/e2e-linux"; rm -rf "$work"' EXIT

# ---- Helpers -------------------------------------------------------------------------------


start_vexlo() {  # start_vexlo [ARGS...]: the new process id is in $vpid
    "$bin" "$@" >>"$sdir/vexlo.log" 2>&1 &
    vpid=$!
    pids+=("$vpid")
}
start_at() {  # start_at BINARY [ARGS...]
    local program=$1
    shift
    "$program" "$@" >>"$sdir/vexlo.log" 2>&1 &
    vpid=$!
    pids+=("$vpid")
}
stop_tray() {
    [ -n "$tray_pid" ] || return 0
    stop_pids "$tray_pid"
    tray_pid=""
}
start_tray() {
    trayer --edge bottom --align right --widthtype request --height 24 --SetDockType false \
        --SetPartialStrut false >/dev/null 2>&1 &
    tray_pid=$!
}
# extra_display WIDTHxHEIGHT: an X display of its own with that screen ($xdisplay), and a
# client that stays connected (Xvfb forgets RandR monitors when its last client leaves).
extra_display() {
    local fdfile=$sdir/xdisplay
    Xvfb -displayfd 3 -screen 0 "$1x24" -noreset -nolisten tcp 3>"$fdfile" >/dev/null 2>&1 &
    pids+=($!)
    wait_until 5000 test -s "$fdfile" || return 1
    xdisplay=:$(tr -dc 0-9 <"$fdfile")
    DISPLAY=$xdisplay command xprop -root -spy >/dev/null 2>&1 &
    pids+=($!)
}
# once COMMAND...: a one-shot call of the program (or anything that must end by itself), ended
# after 10 s: a hang fails the check instead of the run.
once() { timeout -k 2 10 "$@"; }
# unserved_display: an X display number that nothing serves now (no lock file, no socket in
# /tmp/.X11-unix, no abstract socket of that name).
unserved_display() {
    local n
    for ((n = 500; n < 1000; n++)); do
        [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ] && continue
        grep -q "@/tmp/.X11-unix/X$n\$" /proc/net/unix && continue
        echo "$n"
        return 0
    done
    return 1
}
config() {  # config TEXT: the scenario's core.ini
    mkdir -p "$XDG_CONFIG_HOME/vexlo"
    printf '%b' "$1" >"$XDG_CONFIG_HOME/vexlo/core.ini"
}

# ---- Scenarios -----------------------------------------------------------------------------

starts_with_tray_icon_and_no_display() {
    start_vexlo
    wait_until 5000 has_tray_icon "$vpid" || { fail "no tray icon"; return 1; }
    sleep 0.5
    osd_hidden "$vpid" || { fail "display shown at start"; return 1; }
    [ ! -e "$XDG_CONFIG_HOME/vexlo/core.ini" ] || { fail "core.ini written at start"; return 1; }
    alive "$vpid" || { fail "exited"; return 1; }
    shot startup
    /usr/bin/convert "$art/startup.png" -crop 200x40+824+728 +repage "$art/tray.png"
}

hotkeys_step_the_level_and_show_the_display() {
    pactl set-sink-volume "$sink" 26214
    start_vexlo
    wait_until 5000 has_tray_icon "$vpid" || { fail "no tray icon"; return 1; }
    local down up t0 t1
    down=$(step_down 26214)
    t0=$(now_ms)
    xdotool key super+minus
    wait_until 2000 level_is "$down" || { fail "Super+minus: level $(level), expected $down"; return 1; }
    check_display "$vpid" "$down" osd-down || return 1
    wait_until 4000 osd_hidden "$vpid" || { fail "display still shown after 4 s"; return 1; }
    t1=$(now_ms)
    [ $((t1 - t0)) -ge 1000 ] || { fail "display gone after $((t1 - t0)) ms"; return 1; }
    up=$(step_up "$down")
    xdotool key super+equal
    wait_until 2000 level_is "$up" || { fail "Super+equal: level $(level), expected $up"; return 1; }
    check_display "$vpid" "$up" osd-up || return 1
    # Keypad minus is another key.
    xdotool key super+KP_Subtract
    sleep 0.3
    level_is "$up" || { fail "keypad minus changed the level"; return 1; }
}

# At the top a press changes nothing: it is answered with the display as it stands, silently;
# so is the volume command, through the running Vexlo's name on the session bus.
a_press_at_the_top_shows_the_full_bar_without_a_click() {
    pactl set-sink-volume "$sink" 65536
    local bus=$sdir/bus
    dbus-daemon --config-file="$test_bus_conf" --nofork --nopidfile --print-address=3 3>"$bus" >/dev/null 2>&1 &
    pids+=($!)
    wait_until 3000 test -s "$bus" || { fail "no session bus"; return 1; }
    local -x DBUS_SESSION_BUS_ADDRESS
    DBUS_SESSION_BUS_ADDRESS=$(head -1 "$bus")
    local rec=$sdir/monitor.raw
    parec --latency-msec=20 -d "$sink.monitor" --raw --format=s16le --rate=44100 --channels=1 >"$rec" &
    local parec_pid=$!
    pids+=("$parec_pid")
    start_vexlo
    wait_until 5000 has_tray_icon "$vpid" || { fail "no tray icon"; return 1; }
    sleep 3
    xdotool key super+equal
    check_display "$vpid" 65536 osd-top 16 || return 1
    level_is 65536 || { fail "level $(level) after a press at the top"; return 1; }
    wait_until 4000 osd_hidden "$vpid" || { fail "display still shown"; return 1; }
    local out
    out=$(once "$bin" --volume-up 2>&1) || { fail "--volume-up at the top: '$out'"; return 1; }
    [ -z "$out" ] || { fail "--volume-up at the top said '$out'"; return 1; }
    check_display "$vpid" 65536 command-top 16 || return 1
    wait_until 4000 osd_hidden "$vpid" || { fail "display still shown"; return 1; }
    interrupt "$parec_pid"
    local loud
    loud=$(loud_samples "$rec")
    [ "${loud:-1}" -eq 0 ] || { fail "$loud loud samples: a click at the top"; return 1; }
}

outside_change_shows_the_display_and_clicks() {
    local rec=$sdir/monitor.raw
    parec --latency-msec=20 -d "$sink.monitor" --raw --format=s16le --rate=44100 --channels=1 >"$rec" &
    local parec_pid=$!
    pids+=("$parec_pid")
    start_vexlo
    wait_until 5000 has_tray_icon "$vpid" || { fail "no tray icon"; return 1; }
    sleep 3
    pactl set-sink-volume "$sink" 49152
    check_display "$vpid" 49152 osd-outside || return 1
    # A change inside the same chunk shows the display again as well.
    wait_until 4000 osd_hidden "$vpid" || { fail "display still shown"; return 1; }
    pactl set-sink-volume "$sink" 49000
    wait_until 2000 osd_shown "$vpid" || { fail "no display for a change inside a chunk"; return 1; }
    sleep 2
    interrupt "$parec_pid"
    local loud
    loud=$(loud_samples "$rec")
    [ "${loud:-0}" -gt 0 ] || { fail "no click reached the sink"; return 1; }
}

display_stays_above_and_takes_no_focus() {
    start_vexlo
    wait_until 5000 has_tray_icon "$vpid" || { fail "no tray icon"; return 1; }
    # A normal window over the centre of the screen, active and raised.
    xmessage -geometry 600x400+212+184 "a normal window" >/dev/null 2>&1 &
    pids+=($!)
    local other
    wait_until 3000 eval 'other=$(xdotool search --onlyvisible --name "^xmessage$" | head -1); [ -n "$other" ]' ||
        { fail "no normal window"; return 1; }
    xdotool windowactivate --sync "$other" windowraise "$other"
    sleep 0.2
    pactl set-sink-volume "$sink" 40000
    wait_until 2000 osd_shown "$vpid" || { fail "no display"; return 1; }
    sleep 0.2
    shot above-normal-window
    [ "$(xdotool getactivewindow)" = "$other" ] || { fail "the display took the focus"; return 1; }
    # The speaker of the background picture, not the white of the window below it.
    local pixel
    pixel=$(/usr/bin/convert "$art/above-normal-window.png" -format '%[pixel:p{512,300}]' info:)
    [ "$pixel" != "srgb(255,255,255)" ] && [ "$pixel" != white ] ||
        { fail "the display is below the normal window"; return 1; }
}

hotkeys_off_registers_nothing() {
    config '[general]\nhotkeys=0\n'
    pactl set-sink-volume "$sink" 26214
    start_vexlo
    wait_until 5000 has_tray_icon "$vpid" || { fail "no tray icon"; return 1; }
    xdotool key super+equal
    sleep 0.5
    level_is 26214 || { fail "level changed to $(level)"; return 1; }
    osd_hidden "$vpid" || { fail "display shown"; return 1; }
}

# A session bus of the scenario's own with a stand-in notification service that notes the body
# of each notification in $notes; notified_with TEXT looks for one. The caller declares
# "local -x DBUS_SESSION_BUS_ADDRESS notes".
start_notifier() {
    local bus=$sdir/bus
    notes=$sdir/notifications
    dbus-daemon --config-file="$test_bus_conf" --nofork --nopidfile --print-address=3 3>"$bus" >/dev/null 2>&1 &
    pids+=($!)
    wait_until 3000 test -s "$bus" || { fail "no session bus"; return 1; }
    # The caller's (local -x): the bus ends with the scenario.
    DBUS_SESSION_BUS_ADDRESS=$(head -1 "$bus")
    /usr/bin/python3 - "$notes" <<'PY' >"$sdir/notifier.log" 2>&1 &
import sys
import dbus, dbus.service
from dbus.mainloop.glib import DBusGMainLoop
from gi.repository import GLib

class Notifications(dbus.service.Object):
    @dbus.service.method("org.freedesktop.Notifications", in_signature="susssasa{sv}i",
                         out_signature="u")
    def Notify(self, app, replaces, icon, summary, body, actions, hints, timeout):
        with open(sys.argv[1], "a") as f:
            f.write(body.replace("\n", " ") + "\n")
        return 1

DBusGMainLoop(set_as_default=True)
bus = dbus.SessionBus()
name = dbus.service.BusName("org.freedesktop.Notifications", bus)
Notifications(bus, "/org/freedesktop/Notifications")
open(sys.argv[1], "a").close()
GLib.MainLoop().run()
PY
    pids+=($!)
    wait_until 5000 test -e "$notes" || { fail "the notification service did not start"; return 1; }
}
notified_with() { grep -qF "$1" "$notes"; }

# Keys of the user's choice (hotkeyup, hotkeydown) step the level in place of Super + = and
# Super + -. Chosen keys another client holds (one grabbed here; Ctrl+Alt+Up and Down, which
# openbox binds by default) and a value that names no key are told in the desktop's
# notification (a stand-in service on the scenario's own bus notes each one); the usual key
# stands in for the value that names none.
chosen_hotkeys_step_the_level_and_problems_are_told() {
    local -x DBUS_SESSION_BUS_ADDRESS
    local notes grabber up
    start_notifier || return 1

    # As in GNOME's X11 session, whose overview takes the Super key only.
    config '[general]\nhotkeyup=Ctrl+Alt+PageUp\nhotkeydown=Ctrl+Alt+PageDown\n'
    start_at env XDG_CURRENT_DESKTOP=GNOME GSETTINGS_BACKEND=memory "$bin"
    wait_until 5000 has_tray_icon "$vpid" || { fail "no tray icon"; return 1; }
    xdotool key super+equal
    sleep 0.5
    level_is 26214 || { fail "Super+equal still steps: level $(level)"; return 1; }
    up=$(step_up 26214)
    xdotool key ctrl+alt+Prior
    wait_until 2000 level_is "$up" || { fail "Ctrl+Alt+PageUp: level $(level), expected $up"; return 1; }
    check_display "$vpid" "$up" chosen-up || return 1
    xdotool key ctrl+alt+Next
    wait_until 2000 level_is 26214 || { fail "Ctrl+Alt+PageDown: level $(level), expected 26214"; return 1; }
    [ ! -s "$notes" ] || { fail "told: $(cat "$notes")"; return 1; }
    kill "$vpid"
    wait_until 3000 ended "$vpid" || { fail "did not end on SIGTERM"; return 1; }

    # Another program holds Ctrl+Alt+PageUp (a passive grab of the root window, as Vexlo's own).
    /usr/bin/python3 -c '
import ctypes, sys, time
x = ctypes.CDLL("libX11.so.6")
x.XOpenDisplay.restype = ctypes.c_void_p
d = x.XOpenDisplay(None)
root = x.XDefaultRootWindow(ctypes.c_void_p(d))
code = x.XKeysymToKeycode(ctypes.c_void_p(d), 0xff55)
for extra in (0, 2, 16, 18):  # CapsLock and NumLock variants
    x.XGrabKey(ctypes.c_void_p(d), code, 4 | 8 | extra, ctypes.c_ulong(root), 1, 1, 1)
x.XSync(ctypes.c_void_p(d), 0)
print("grabbed", flush=True)
time.sleep(60)' >"$sdir/grab.log" 2>&1 &
    grabber=$!
    pids+=("$grabber")
    wait_until 3000 grep -q grabbed "$sdir/grab.log" || { fail "the other client did not grab"; return 1; }
    start_vexlo
    wait_until 5000 has_tray_icon "$vpid" || { fail "no tray icon with Ctrl+Alt+PageUp held"; return 1; }
    wait_until 3000 notified_with "Vexlo cannot use Ctrl + Alt + PageUp: another program holds it; choose other keys with the settings hotkeyup and hotkeydown in core.ini." ||
        { fail "the held key: $(cat "$notes")"; return 1; }
    xdotool key ctrl+alt+Next
    wait_until 2000 level_is "$(step_down 26214)" || { fail "Ctrl+Alt+PageDown beside the held key: level $(level)"; return 1; }
    kill "$vpid" "$grabber"
    wait_until 3000 ended "$vpid" || { fail "did not end on SIGTERM"; return 1; }
    pactl set-sink-volume "$sink" 26214
    : >"$notes"
    config '[general]\nhotkeyup=Ctrl+Alt+Up\nhotkeydown=Ctrl+Alt+Down\n'
    start_vexlo
    wait_until 5000 has_tray_icon "$vpid" || { fail "no tray icon with openbox's keys chosen"; return 1; }
    wait_until 3000 notified_with "Vexlo cannot use Ctrl + Alt + Up and Ctrl + Alt + Down: another program holds them;" ||
        { fail "the keys openbox holds: $(cat "$notes")"; return 1; }
    kill "$vpid"
    wait_until 3000 ended "$vpid" || { fail "did not end on SIGTERM"; return 1; }

    # A value that names no key: told, and Super + = steps up.
    : >"$notes"
    config '[general]\nhotkeyup=Ctrl+Foo\n'
    start_vexlo
    wait_until 5000 has_tray_icon "$vpid" || { fail "no tray icon with hotkeyup=Ctrl+Foo"; return 1; }
    wait_until 3000 eval 'notified_with "The setting hotkeyup=Ctrl+Foo in core.ini is not a key combination Vexlo can use (" &&
        notified_with "); it uses Super + plus instead."' || { fail "hotkeyup=Ctrl+Foo: $(cat "$notes")"; return 1; }
    xdotool key super+equal
    wait_until 2000 level_is "$up" || { fail "Super+equal with hotkeyup=Ctrl+Foo: level $(level), expected $up"; return 1; }
    [ "$(wc -l <"$notes")" = 1 ] || { fail "told $(wc -l <"$notes") times: $(cat "$notes")"; return 1; }
    kill "$vpid"
    wait_until 3000 ended "$vpid" || { fail "did not end on SIGTERM"; return 1; }

    # A key this keyboard does not have: told as such, not as another program's.
    : >"$notes"
    config '[general]\nhotkeyup=Ctrl+F13\n'
    start_vexlo
    wait_until 5000 has_tray_icon "$vpid" || { fail "no tray icon with hotkeyup=Ctrl+F13"; return 1; }
    wait_until 3000 notified_with "Vexlo cannot use Ctrl + F13: the keyboard has no such key; choose other keys with the settings hotkeyup and hotkeydown in core.ini." ||
        { fail "hotkeyup=Ctrl+F13: $(cat "$notes")"; return 1; }
}

# The plus and minus keys are those that carry "+" and "-" on the keyboard's layout, pressed
# as they are: the US "= +" key; the German "+ *" key, where "=" is Shift + 0 and no hotkey.
# A layout changed while the program runs is followed. The session's layout comes back after.
hotkeys_follow_the_keyboard_layout() {
    local before status
    before=$(setxkbmap -query | sed -n 's/^layout: *//p')
    presses_on_layouts
    status=$?
    setxkbmap "${before:-us}"
    return $status
}
presses_on_layouts() {
    local level=26214 next
    setxkbmap de || { fail "setxkbmap de failed"; return 1; }
    start_vexlo
    wait_until 5000 has_tray_icon "$vpid" || { fail "no tray icon"; return 1; }
    next=$(step_up $level)
    xdotool key super+plus
    wait_until 2000 level_is "$next" || { fail "German, Super + the + key: level $(level), expected $next"; return 1; }
    level=$next
    xdotool key super+shift+0
    sleep 0.5
    level_is $level || { fail "German, Super + Shift + 0 changed the level to $(level)"; return 1; }
    next=$(step_down $level)
    xdotool key super+minus
    wait_until 2000 level_is "$next" || { fail "German, Super + -: level $(level), expected $next"; return 1; }
    level=$next

    # US, while it runs: the "= +" key; the German "+" key is "]" here.
    setxkbmap us
    sleep 0.5
    xdotool key super+bracketright
    sleep 0.5
    level_is $level || { fail "US, Super + ] changed the level to $(level)"; return 1; }
    next=$(step_up $level)
    xdotool key super+equal
    wait_until 2000 level_is "$next" || { fail "US after German, Super + the + key: level $(level), expected $next"; return 1; }
    level=$next

    # And German again.
    setxkbmap de
    sleep 0.5
    next=$(step_up $level)
    xdotool key super+plus
    wait_until 2000 level_is "$next" || { fail "German after US, Super + the + key: level $(level), expected $next"; return 1; }
    alive "$vpid" || { fail "exited"; return 1; }
}

portal_hotkeys_step_the_level_in_a_wayland_session() {
    # A Wayland session whose desktop offers global shortcuts: the stand-in portal on a bus
    # of the scenario's own.
    local out bus_address up standin
    out=$(dbus-daemon --config-file="$test_bus_conf" --fork --print-address=1 --print-pid=1) ||
        { fail "no session bus"; return 1; }
    bus_address=$(sed -n 1p <<<"$out")
    pids+=("$(sed -n 2p <<<"$out")")
    DBUS_SESSION_BUS_ADDRESS=$bus_address /usr/bin/python3 "$here/portal_standin.py" \
        --ready "$sdir/portal.ready" >"$sdir/portal.log" 2>&1 &
    standin=$!
    pids+=("$standin")
    wait_until 10000 test -e "$sdir/portal.ready" || { fail "the stand-in portal did not start"; return 1; }
    portal() {
        dbus-send --bus="$bus_address" --print-reply --dest=org.freedesktop.portal.Desktop \
            /org/freedesktop/portal/desktop "org.vexlo.Test.$@" 2>&1
    }
    start_at env DBUS_SESSION_BUS_ADDRESS="$bus_address" WAYLAND_DISPLAY=wayland-vexlo-test "$bin"
    wait_until 5000 has_tray_icon "$vpid" || { fail "no tray icon"; return 1; }
    wait_until 5000 eval 'portal Calls | grep -q "BindShortcuts volume-up=LOGO+equal volume-down=LOGO+minus"' ||
        { fail "shortcuts not bound: $(portal Calls | tr -s ' \n' ' ')"; return 1; }
    portal Calls | grep -q '"Register io.github.vexlo.vexlo"' ||
        { fail "not registered as io.github.vexlo.vexlo: $(portal Calls | tr -s ' \n' ' ')"; return 1; }
    # Also in the session's options, for desktops with the interface's early form (KDE 5.27).
    portal Calls | grep -q '"CreateSession vexlo volume-up=LOGO+equal volume-down=LOGO+minus"' ||
        { fail "the session was opened without the shortcuts: $(portal Calls | tr -s ' \n' ' ')"; return 1; }
    # The keys belong to the desktop now: no X grab beside the portal's shortcuts.
    xdotool key super+equal
    sleep 0.3
    level_is 26214 || { fail "Super+equal changed the level to $(level)"; return 1; }
    up=$(step_up 26214)
    portal Activate string:volume-up >/dev/null
    wait_until 2000 level_is "$up" || { fail "volume-up: level $(level), expected $up"; return 1; }
    check_display "$vpid" "$up" portal-up || return 1
    portal Activate string:volume-down >/dev/null
    wait_until 2000 level_is "$(step_down "$up")" ||
        { fail "volume-down: level $(level), expected $(step_down "$up")"; return 1; }
    ! grep -q portal "$sdir/vexlo.log" || { fail "reported: $(cat "$sdir/vexlo.log")"; return 1; }

    # The portal comes back hung and answers nothing: the display and the watch go on.
    stop_pids "$standin"
    DBUS_SESSION_BUS_ADDRESS=$bus_address /usr/bin/python3 "$here/portal_standin.py" --silent \
        --asked "$sdir/portal.asked" >>"$sdir/portal.log" 2>&1 &
    standin=$!
    pids+=("$standin")
    wait_until 10000 test -e "$sdir/portal.asked" || { fail "the hung portal was not asked"; return 1; }
    wait_until 5000 osd_hidden "$vpid" || { fail "the display did not go"; return 1; }
    pactl set-sink-volume "$sink" 45000
    wait_until 3000 osd_shown "$vpid" || { fail "no display while the portal hangs"; return 1; }

    # With the hotkeys off the program leaves the portal alone.
    kill "$vpid"
    wait_until 3000 ended "$vpid" || { fail "did not end on SIGTERM"; return 1; }
    config '[general]\nhotkeys=0\n'
    start_at env DBUS_SESSION_BUS_ADDRESS="$bus_address" WAYLAND_DISPLAY=wayland-vexlo-test "$bin"
    wait_until 5000 has_tray_icon "$vpid" || { fail "no tray icon with hotkeys off"; return 1; }
    sleep 0.5
    [ "$(portal Calls | grep -c '"Register io.github.vexlo.vexlo"')" = 1 ] ||
        { fail "with the hotkeys off: $(portal Calls | tr -s ' \n' ' ')"; return 1; }
}
tray_menu_quit_ends_the_program() {
    start_vexlo
    wait_until 5000 has_tray_icon "$vpid" || { fail "no tray icon"; return 1; }
    local icon menu w
    icon=$(tray_icon "$vpid") || { fail "no tray icon"; return 1; }
    press_icon "$vpid" 3
    menu_shown() {
        for w in $(visible "$vpid"); do
            [ "$w" != "$icon" ] && [ "$(width_of "$w")" -gt 32 ] && { menu=$w; return 0; }
        done
        return 1
    }
    wait_until 2000 menu_shown || { fail "no menu"; return 1; }
    shot tray-menu
    xdotool key Down Return
    wait_until 3000 ended "$vpid" || { fail "still running after Quit"; return 1; }
    local code
    exit_code "$vpid"
    [ "$code" = 0 ] || { fail "exit code $code"; return 1; }
    ! xwininfo -id "$icon" >/dev/null 2>&1 || { fail "tray icon left behind"; return 1; }
}

tray_left_press_starts_the_mixer() {
    local marker=$sdir/mixer-started
    printf '#!/bin/sh\necho "$@" > "%s"\n' "$marker" >"$sdir/mixer.sh"
    chmod +x "$sdir/mixer.sh"
    config "[mixer]\npathtomixer=$sdir/mixer.sh \"one arg\" two\n"
    start_vexlo
    wait_until 5000 has_tray_icon "$vpid" || { fail "no tray icon"; return 1; }
    press_icon "$vpid" 1
    wait_until 3000 test -s "$marker" || { fail "mixer program not started"; return 1; }
    [ "$(cat "$marker")" = "one arg two" ] || { fail "mixer got '$(cat "$marker")'"; return 1; }
    alive "$vpid" || { fail "exited"; return 1; }
}

tray_left_press_opens_the_slider() {
    config '[mixer]\nmixeronleftclick=0\n[pos]\nx=300\ny=450\n'
    start_vexlo
    wait_until 5000 has_tray_icon "$vpid" || { fail "no tray icon"; return 1; }
    press_icon "$vpid" 1
    wait_until 2000 has_named "$vpid" Control || { fail "no slider"; return 1; }
    local g
    g=($(geometry "$(named "$vpid" Control)"))
    [ "${g[*]}" = "20 30 30 134" ] || { fail "slider at ${g[*]}, expected 20 30 30 134"; return 1; }
}

control_mode_slider_alone() {
    config '[pos]\nx=1500\ny=1500\n'
    pactl set-sink-volume "$sink" 32768
    start_vexlo /control
    local slider
    wait_until 5000 has_named "$vpid" Control || { fail "no slider"; return 1; }
    slider=$(named "$vpid" Control)
    local g
    g=($(geometry "$slider"))
    [ "${g[*]}" = "100 100 30 134" ] || { fail "slider at ${g[*]}, expected 100 100 30 134"; return 1; }
    has_tray_icon "$vpid" && { fail "tray icon in control mode"; return 1; }
    local state
    state=$(xprop -id "$slider" _NET_WM_STATE)
    [[ $state == *SKIP_TASKBAR* && $state == *ABOVE* ]] ||
        { fail "slider state: $state"; return 1; }
    pactl set-sink-volume "$sink" 20000
    sleep 0.5
    [ -z "$(named "$vpid" Vexlo)" ] || { fail "display in control mode"; return 1; }
    shot slider
    # The knob sits at 59 pixels for half the range; dragged 48 pixels down it reaches 0.
    xdotool mousemove 115 166 mousedown 1 sleep 0.1 mousemove 115 190 sleep 0.1 \
        mousemove 115 214 sleep 0.1 mousemove 115 230 sleep 0.1 mouseup 1
    wait_until 2000 level_is 0 || { fail "knob drag: level $(level), expected 0"; return 1; }
    shot slider-dragged
    # Drag the window by its track.
    xdotool mousemove 103 225 mousedown 1 sleep 0.1 mousemove 123 235 sleep 0.1 \
        mousemove 153 255 sleep 0.1 mouseup 1
    moved() { [ "$(geometry "$slider" | cut -d' ' -f1,2)" = "150 130" ]; }
    wait_until 2000 moved || { fail "slider at $(geometry "$slider") after the drag"; return 1; }
    xdotool mousemove 153 185 mousedown 1 sleep 0.08 mouseup 1 sleep 0.08 mousedown 1 \
        sleep 0.08 mouseup 1
    wait_until 3000 ended "$vpid" || { fail "double-click did not quit"; return 1; }
    local code
    exit_code "$vpid"
    [ "$code" = 0 ] || { fail "exit code $code"; return 1; }
    grep -qx 'x=2250' "$XDG_CONFIG_HOME/vexlo/core.ini" &&
        grep -qx 'y=1950' "$XDG_CONFIG_HOME/vexlo/core.ini" ||
        { fail "position not saved: $(tr '\n' ' ' <"$XDG_CONFIG_HOME/vexlo/core.ini")"; return 1; }
}

bad_setting_shows_the_error_and_exits() {
    config '[general]\nontop=abc\n'
    start_vexlo
    wait_until 5000 has_dialog "$vpid" || { fail "no error box"; return 1; }
    local box
    box=$(dialog "$vpid")
    [ "$(name_of "$box")" = Vexlo ] || { fail "box captioned '$(name_of "$box")'"; return 1; }
    shot error-box
    answer_dialog "$vpid"
    wait_until 3000 ended "$vpid" || { fail "still running after the box"; return 1; }
    local code
    exit_code "$vpid"
    [ "$code" != 0 ] || { fail "exit code 0"; return 1; }
}

missing_skin_file_shows_the_error_and_exits() {
    mkdir -p "$sdir/app"
    cp "$bin" "$build"/*.bmp "$build"/*.ico "$build"/*.gif "$build"/*.wav "$sdir/app/"
    rm "$sdir/app/chunks.bmp"
    start_at "$sdir/app/vexlo"
    wait_until 5000 has_dialog "$vpid" || { fail "no error box"; return 1; }
    [ "$(name_of "$(dialog "$vpid")")" = Vexlo ] || { fail "box not captioned Vexlo"; return 1; }
    answer_dialog "$vpid"
    wait_until 3000 ended "$vpid" || { fail "still running after the box"; return 1; }
    local code
    exit_code "$vpid"
    [ "$code" != 0 ] || { fail "exit code 0"; return 1; }
}

second_instance_says_so_and_exits() {
    start_vexlo
    local first=$vpid
    wait_until 5000 has_tray_icon "$first" || { fail "no tray icon"; return 1; }
    start_vexlo
    local second=$vpid
    wait_until 5000 has_dialog "$second" || { fail "no message from the second copy"; return 1; }
    [ "$(name_of "$(dialog "$second")")" = Vexlo ] || { fail "box not captioned Vexlo"; return 1; }
    has_tray_icon "$second" && { fail "the second copy has a tray icon"; return 1; }
    shot second-instance
    answer_dialog "$second"
    wait_until 3000 ended "$second" || { fail "second copy still running"; return 1; }
    local code
    exit_code "$second"
    [ "$code" != 0 ] || { fail "second copy exit code 0"; return 1; }
    alive "$first" || { fail "the first copy ended"; return 1; }
    # The slider alone may run beside it.
    start_vexlo /control
    wait_until 5000 has_named "$vpid" Control || { fail "no slider beside it"; return 1; }
    has_dialog "$vpid" && { fail "the slider got the message"; return 1; }
    # And the first copy still has its hotkeys.
    pactl set-sink-volume "$sink" 26214
    xdotool key super+equal
    wait_until 2000 level_is "$(step_up 26214)" || { fail "hotkey lost: level $(level)"; return 1; }
}

command_line_and_no_display() {
    local out code
    for arg in --help -h; do
        out=$(once env -u DISPLAY "$bin" "$arg" 2>&1)
        code=$?
        [ "$code" = 0 ] && [[ $out == "Usage: vexlo"*Super*core.ini* ]] ||
            { fail "$arg without a display: exit $code, '$(head -1 <<<"$out")'"; return 1; }
    done
    out=$(once env -u DISPLAY "$bin" --version 2>&1)
    [[ $out =~ ^vexlo\ [0-9]+\.[0-9]+\.[0-9]+$ ]] || { fail "--version said '$out'"; return 1; }
    # No display: one line and a plain failure, not Qt's abort.
    out=$(once env -u DISPLAY "$bin" 2>&1)
    code=$?
    [ "$code" = 1 ] && [ "$(wc -l <<<"$out")" = 1 ] && [[ $out == *"no X display"* ]] ||
        { fail "without DISPLAY: exit $code, '$out'"; return 1; }
    local none
    none=$(unserved_display) || { fail "no display number free"; return 1; }
    out=$(DISPLAY=:$none once "$bin" /control 2>&1)
    code=$?
    [ "$code" = 1 ] && [ "$out" = "vexlo: cannot open the X display \":$none\"." ] ||
        { fail "with a display that is not there: exit $code, '$out'"; return 1; }
    # Started at login: a user who turned the autostart of 1.0.0 (vexlo.desktop) off keeps it
    # off; otherwise --autostart is the resident program (here: no display).
    local config
    config=$(mktemp -d)
    mkdir -p "$config/autostart"
    printf '[Desktop Entry]\r\nHidden=true\r\n' >"$config/autostart/vexlo.desktop"
    out=$(XDG_CONFIG_HOME=$config once env -u DISPLAY "$bin" --autostart 2>&1)
    code=$?
    rm "$config/autostart/vexlo.desktop"
    [ "$code" = 0 ] && [ -z "$out" ] || { rm -rf "$config"; fail "--autostart turned off: exit $code, '$out'"; return 1; }
    out=$(XDG_CONFIG_HOME=$config once env -u DISPLAY "$bin" --autostart 2>&1)
    code=$?
    rm -rf "$config"
    [ "$code" = 1 ] && [[ $out == *"no X display"* ]] || { fail "--autostart: exit $code, '$out'"; return 1; }
    # The long form of the slider switch.
    start_vexlo --control
    wait_until 5000 has_named "$vpid" Control || { fail "--control shows no slider"; return 1; }
    has_tray_icon "$vpid" && { fail "--control has a tray icon"; return 1; }
    return 0
}

# The skin table (tests/skins) against --check-skin: each folder's lines and exit code.
check_skin_table() {
    local out
    # shellcheck source=../../skins/table.sh
    source "$here/../../skins/table.sh"
    linux_check() { once "$bin" --check-skin "$1"; }
    out=$(skin_table "$sdir/skins" linux_check) || { fail "$(grep FAIL <<<"$out" | head -3)"; return 1; }
    out=$(once "$bin" --check-skin 2>&1)
    [ $? = 1 ] && [ "$out" = "vexlo: --check-skin needs the skin folder, as in: --check-skin FOLDER." ] ||
        { fail "--check-skin alone said '$out'"; return 1; }
}

# The preview: the display's windows with a skin from a folder, stepping through the levels;
# the bar on screen at two levels is the skin's, pixel for pixel. Mixer, settings and tray stay
# untouched; Esc ends it, and so does a click.
preview_skin_shows_the_bar_at_every_level() {
    local skin=$sdir/skin main g w n first="" shots=0 code before
    cp -r "$here/../../../skin/default" "$skin"
    import -window root "$art/preview-under.png"
    before=$(level)
    "$bin" --preview-skin "$skin" >"$sdir/vexlo.log" 2>&1 &
    vpid=$!
    pids+=("$vpid")
    wait_until 5000 osd_shown "$vpid" || { fail "no display"; return 1; }
    main=$(named "$vpid" Vexlo)
    g=($(geometry "$main"))
    [ "${g[*]}" = "$(((screen_w - 212) / 2)) $(((screen_h - 200) / 2)) 212 200" ] ||
        { fail "display at ${g[*]}, not centred"; return 1; }
    # The second overlay's width tells the level: 35 + 9 per chunk. A shot counts when the
    # width is the same before and after it.
    overlay2_width() { for w in $(named "$vpid" Hidden); do width_of "$w"; done | sort -n | head -1; }
    local deadline=$(($(now_ms) + 8000))
    while [ $shots -lt 2 ] && [ "$(now_ms)" -lt $deadline ]; do
        w=$(overlay2_width)
        n=$(((w - 35) / 9))
        if [ "$n" != "$first" ]; then
            sleep 0.15
            shot "preview-$n"
            if [ "$(overlay2_width)" = "$w" ]; then
                python3 "$here/../../skins/bar_matches.py" "$art/preview-$n.png" "${g[0]}" "${g[1]}" \
                    "$n" "$skin" "$art/preview-under.png" >"$sdir/bar.txt" ||
                    { fail "the bar at $n chunks: $(cat "$sdir/bar.txt")"; return 1; }
                [ -z "$first" ] && first=$n
                shots=$((shots + 1))
            fi
        fi
        sleep 0.1
    done
    [ $shots = 2 ] || { fail "no second level within 8 s"; return 1; }
    has_tray_icon "$vpid" && { fail "a tray icon"; return 1; }
    xdotool key Escape
    wait_until 3000 ended "$vpid" || { fail "Esc did not end it"; return 1; }
    exit_code "$vpid"
    [ "$code" = 0 ] || { fail "exit $code after Esc"; return 1; }
    [ "$(level)" = "$before" ] || { fail "the level moved from $before to $(level)"; return 1; }
    [ ! -e "$XDG_CONFIG_HOME/vexlo" ] || { fail "made a settings folder"; return 1; }
    "$bin" --preview-skin "$skin" >>"$sdir/vexlo.log" 2>&1 &
    vpid=$!
    pids+=("$vpid")
    wait_until 5000 osd_shown "$vpid" || { fail "no display the second time"; return 1; }
    xdotool mousemove $((screen_w / 2)) $((screen_h / 2)) click 1
    wait_until 3000 ended "$vpid" || { fail "a click did not end it"; return 1; }
    exit_code "$vpid"
    [ "$code" = 0 ] || { fail "exit $code after the click"; return 1; }
}

volume_commands_step_with_and_without_vexlo() {
    # Without a running Vexlo, and without a display: one step each, the same limits.
    local out code level
    for level in 26214 0 65536 3000; do
        for dir in up down; do
            pactl set-sink-volume "$sink" "$level"
            out=$(once env -u DISPLAY "$bin" --volume-$dir 2>&1)
            code=$?
            [ "$code" = 0 ] && [ -z "$out" ] || { fail "--volume-$dir at $level: exit $code, '$out'"; return 1; }
            level_is "$(step_$dir "$level")" ||
                { fail "--volume-$dir at $level: level $(level), expected $(step_$dir "$level")"; return 1; }
        done
    done
    # No sound server: a failure, said in one line.
    out=$(PULSE_SERVER=unix:$sdir/no-server once env -u DISPLAY "$bin" --volume-up 2>&1)
    code=$?
    [ "$code" = 1 ] && [ "$(wc -l <<<"$out")" = 1 ] && [[ $out == "vexlo: "*volume* ]] ||
        { fail "without a sound server: exit $code, '$out'"; return 1; }
    # With a running Vexlo: not a second copy; its watch shows the change.
    pactl set-sink-volume "$sink" 26214
    start_vexlo
    local resident=$vpid
    wait_until 5000 has_tray_icon "$resident" || { fail "no tray icon"; return 1; }
    out=$(once "$bin" --volume-up 2>&1)
    code=$?
    [ "$code" = 0 ] && [ -z "$out" ] || { fail "--volume-up beside Vexlo: exit $code, '$out'"; return 1; }
    check_display "$resident" "$(step_up 26214)" command-up || return 1
    wait_until 4000 osd_hidden "$resident" || { fail "display still shown"; return 1; }
    once "$bin" --volume-down || { fail "--volume-down beside Vexlo failed"; return 1; }
    check_display "$resident" 26214 command-down || return 1
    alive "$resident" || { fail "the resident copy ended"; return 1; }
}

# Muting the master, by another program or by the command, shows the display with an empty bar
# and gives the tray its muted picture and tooltip; unmuting shows the level again. Up on a
# muted master unmutes it (stepping too only from within the first step); down leaves the mute.
# The tray is read from the StatusNotifierItem: its ToolTip, and its IconPixmap against the
# skin's icon file, pixel for pixel at each size it exports.
mute_shows_an_empty_bar_and_the_muted_tray() {
    local bus=$sdir/bus item="" tray="" out code expect muted=iconmute.ico
    [ -e "$build/iconmute.ico" ] || muted=icon0.ico
    dbus-daemon --config-file="$test_bus_conf" --nofork --nopidfile --print-address=3 3>"$bus" >/dev/null 2>&1 &
    pids+=($!)
    wait_until 3000 test -s "$bus" || { fail "no session bus"; return 1; }
    local -x DBUS_SESSION_BUS_ADDRESS
    DBUS_SESSION_BUS_ADDRESS=$(head -1 "$bus")
    status-notifier-watcher >/dev/null 2>&1 &
    pids+=($!)
    gtk-sni-tray-standalone --bottom --end -s 24 >/dev/null 2>&1 &
    pids+=($!)
    sleep 1
    pactl set-sink-volume "$sink" 40000
    start_vexlo
    wait_until 5000 sni_item || { fail "no StatusNotifierItem registered"; return 1; }
    # tray_is TOOLTIP ICON: the item's tooltip and picture; what they are instead in $tray.
    tray_is() {
        tray=$(/usr/bin/python3 - "$item" "$build/$2" <<'PY'
import subprocess, sys
import dbus
item, ico = sys.argv[1], sys.argv[2]
props = dbus.Interface(dbus.SessionBus().get_object(item, "/StatusNotifierItem"),
                       "org.freedesktop.DBus.Properties")
tip = str(props.Get("org.kde.StatusNotifierItem", "ToolTip")[2])
sizes = subprocess.run(["/usr/bin/identify", "-format", "%wx%h\n", ico], capture_output=True,
                       text=True).stdout.split()
verdict = "no picture"
for w, h, argb in props.Get("org.kde.StatusNotifierItem", "IconPixmap"):
    size = "%dx%d" % (w, h)
    if size not in sizes:
        verdict = "a %s picture %s lacks" % (size, ico)
        break
    rgba = subprocess.run(["/usr/bin/convert", "%s[%d]" % (ico, sizes.index(size)), "-depth", "8",
                           "rgba:-"], capture_output=True).stdout
    # Qt hands some sizes on through premultiplied alpha (Qt 6.4: the 32 x 32 one): the same
    # alpha, and colours the same once weighed by it (within rounding).
    argb = bytes(argb)
    same = len(argb) == len(rgba) and all(
        argb[i] == rgba[i + 3] and
        all(abs(argb[i + 1 + c] - rgba[i + c]) * argb[i] <= 382 for c in range(3))
        for i in range(0, len(argb), 4))
    verdict = "the picture of %s" % ico if same else "not the picture of %s at %s" % (ico, size)
    if not same:
        break
print("tooltip '%s', %s" % (tip, verdict))
PY
)
        [ "$tray" = "tooltip '$1', the picture of $build/$2" ]
    }
    muted() { [ "$(pactl get-sink-mute "$sink")" = "Mute: $1" ]; }
    wait_until 2000 tray_is Vexlo icon2.ico || { fail "at the start: $tray"; return 1; }
    pactl set-sink-mute "$sink" 1
    check_display "$vpid" 40000 mute-on 0 || return 1
    wait_until 1000 tray_is "Vexlo (muted)" "$muted" || { fail "muted: $tray"; return 1; }
    wait_until 4000 osd_hidden "$vpid" || { fail "display still shown"; return 1; }
    pactl set-sink-mute "$sink" 0
    check_display "$vpid" 40000 mute-off || return 1
    wait_until 1000 tray_is Vexlo icon2.ico || { fail "unmuted: $tray"; return 1; }
    # The command switches the sink's mute over, each way; the running Vexlo follows.
    for expect in yes no; do
        out=$(once env -u DISPLAY "$bin" --volume-mute 2>&1)
        code=$?
        [ "$code" = 0 ] && [ -z "$out" ] || { fail "--volume-mute: exit $code, '$out'"; return 1; }
        muted "$expect" || { fail "--volume-mute: $(pactl get-sink-mute "$sink"), expected $expect"; return 1; }
        [ "$expect" = no ] || wait_until 1000 tray_is "Vexlo (muted)" "$muted" ||
            { fail "after --volume-mute: $tray"; return 1; }
    done
    wait_until 1000 tray_is Vexlo icon2.ico || { fail "after two --volume-mute: $tray"; return 1; }
    # Down leaves the mute; up unmutes at the level it had.
    pactl set-sink-mute "$sink" 1
    xdotool key super+minus
    wait_until 2000 level_is "$(step_down 40000)" || { fail "Super+minus muted: level $(level)"; return 1; }
    muted yes || { fail "Super+minus unmuted"; return 1; }
    xdotool key super+equal
    wait_until 2000 muted no || { fail "Super+equal left the sink muted"; return 1; }
    sleep 0.3
    level_is "$(step_down 40000)" || { fail "Super+equal unmuted and stepped: level $(level)"; return 1; }
    pactl set-sink-volume "$sink" 3000
    pactl set-sink-mute "$sink" 1
    xdotool key super+equal
    wait_until 2000 level_is "$(step_up 3000)" && muted no ||
        { fail "Super+equal from the first step, muted: level $(level), $(pactl get-sink-mute "$sink")"; return 1; }
    # No sound server: a failure, said in one line.
    out=$(PULSE_SERVER=unix:$sdir/no-server once env -u DISPLAY "$bin" --volume-mute 2>&1)
    code=$?
    [ "$code" = 1 ] && [ "$(wc -l <<<"$out")" = 1 ] && [[ $out == "vexlo: "* ]] ||
        { fail "--volume-mute without a sound server: exit $code, '$out'"; return 1; }
}

display_centred_on_the_primary_monitor() {
    extra_display 3840x1080 || { fail "no second X display"; return 1; }
    DISPLAY=$xdisplay xrandr --setmonitor LEFT 1920/510x1080/290+0+0 none &&
        DISPLAY=$xdisplay xrandr --setmonitor '*RIGHT' 1920/510x1080/290+1920+0 none ||
        { fail "xrandr --setmonitor failed"; return 1; }
    config '[pos]\nx=300\ny=450\n'
    DISPLAY=$xdisplay start_vexlo
    local main g
    sleep 1
    pactl set-sink-volume "$sink" 40000
    DISPLAY=$xdisplay wait_until 3000 osd_shown "$vpid" || { fail "no display"; return 1; }
    main=$(DISPLAY=$xdisplay named "$vpid" Vexlo)
    g=($(DISPLAY=$xdisplay geometry "$main"))
    [ "${g[*]}" = "2774 440 212 200" ] || { fail "display at ${g[*]}, expected 2774 440 212 200"; return 1; }
    DISPLAY=$xdisplay import -window root -crop 1920x1080+1920+0 "$art/primary-monitor.png"
    # The slider's position counts from the primary monitor's corner.
    DISPLAY=$xdisplay start_vexlo /control
    DISPLAY=$xdisplay wait_until 5000 has_named "$vpid" Control || { fail "no slider"; return 1; }
    g=($(DISPLAY=$xdisplay geometry "$(DISPLAY=$xdisplay named "$vpid" Control)"))
    [ "${g[*]}" = "1940 30 30 134" ] || { fail "slider at ${g[*]}, expected 1940 30 30 134"; return 1; }
}

# Two monitors side by side, the primary one on the right: the display appears centred on the
# monitor the setting names, as it stands when the display appears, and stays there until it
# has faded out.
display_on_the_chosen_monitor() {
    extra_display 3840x1080 || { fail "no second X display"; return 1; }
    DISPLAY=$xdisplay xrandr --setmonitor LEFT 1920/510x1080/290+0+0 none &&
        DISPLAY=$xdisplay xrandr --setmonitor '*RIGHT' 1920/510x1080/290+1920+0 none ||
        { fail "xrandr --setmonitor failed"; return 1; }
    DISPLAY=$xdisplay openbox --sm-disable >/dev/null 2>&1 &
    pids+=($!)
    local left="854 440" right="2774 440" level=20000
    # appears_at "X Y" SHOT: a change shows all three windows there; then it fades out.
    appears_at() {
        level=$((level + 4000))
        pactl set-sink-volume "$sink" "$level"
        held_at "$1" "$2" || return 1
        DISPLAY=$xdisplay wait_until 4000 osd_hidden "$vpid" || { fail "display still shown"; return 1; }
    }
    held_at() {
        local w g
        DISPLAY=$xdisplay wait_until 3000 osd_shown "$vpid" || { fail "no display ($2)"; return 1; }
        sleep 0.2
        for w in $(DISPLAY=$xdisplay named "$vpid" Vexlo) $(DISPLAY=$xdisplay named "$vpid" Hidden); do
            g=($(DISPLAY=$xdisplay geometry "$w"))
            [ "${g[0]} ${g[1]}" = "$1" ] || { fail "$2: a window at ${g[*]}, expected $1"; return 1; }
        done
        [ -z "$2" ] || DISPLAY=$xdisplay import -window root "$art/$2.png"
    }
    config '[general]\nmonitor=pointer\n'
    DISPLAY=$xdisplay xdotool mousemove 500 500
    DISPLAY=$xdisplay start_vexlo
    sleep 1
    appears_at "$left" monitor-pointer-left || return 1
    # Moved while shown: the display stays; it follows the pointer the next time.
    pactl set-sink-volume "$sink" 50000
    held_at "$left" "" || return 1
    DISPLAY=$xdisplay xdotool mousemove 3000 500
    sleep 0.3
    pactl set-sink-volume "$sink" 52000
    held_at "$left" "" || return 1
    DISPLAY=$xdisplay wait_until 4000 osd_hidden "$vpid" || { fail "display still shown"; return 1; }
    appears_at "$right" monitor-pointer-right || return 1
    # The active window on the left monitor, the pointer on the right; read at once.
    config '[general]\nmonitor=Active\n'
    DISPLAY=$xdisplay xmessage -geometry 500x300+200+300 "the active window" >/dev/null 2>&1 &
    pids+=($!)
    local other
    DISPLAY=$xdisplay wait_until 3000 eval 'other=$(xdotool search --onlyvisible --name "^xmessage$" | head -1); [ -n "$other" ]' ||
        { fail "no normal window"; return 1; }
    DISPLAY=$xdisplay xdotool windowactivate --sync "$other"
    appears_at "$left" monitor-active-left || return 1
    config '[general]\nmonitor=primary\n'
    appears_at "$right" monitor-primary || return 1
    # Monitors rearranged and removed while running: the left one becomes 1280 x 1024, then it
    # goes, and under the pointer is only the X server's own monitor of the whole 3840 x 1080
    # output (Xvfb keeps it beside the ones set with xrandr).
    config '[general]\nmonitor=pointer\n'
    DISPLAY=$xdisplay xdotool mousemove 500 500
    DISPLAY=$xdisplay xrandr --delmonitor LEFT &&
        DISPLAY=$xdisplay xrandr --setmonitor SIDE 1280/340x1024/270+0+0 none ||
        { fail "xrandr --setmonitor failed"; return 1; }
    sleep 0.5
    appears_at "534 412" monitor-left-rearranged || return 1
    # A monitor with a scale of its own: on SIDE at 2, the display is twice as large, centred
    # on SIDE's 640 x 512 logical pixels (X counts its own pixels: 428 312).
    stop_pids "$vpid"
    DISPLAY=$xdisplay QT_SCREEN_SCALE_FACTORS="SIDE=2;RIGHT=1" start_vexlo
    sleep 1
    pactl set-sink-volume "$sink" 30000
    held_at "428 312" monitor-scaled || return 1
    local g
    g=($(DISPLAY=$xdisplay geometry "$(DISPLAY=$xdisplay named "$vpid" Vexlo)"))
    [ "${g[2]} ${g[3]}" = "424 400" ] || { fail "display ${g[2]} x ${g[3]} on the scaled monitor"; return 1; }
    DISPLAY=$xdisplay wait_until 4000 osd_hidden "$vpid" || { fail "display still shown"; return 1; }
    DISPLAY=$xdisplay xrandr --delmonitor SIDE || { fail "xrandr --delmonitor failed"; return 1; }
    sleep 0.5
    appears_at "1814 440" monitor-left-removed || return 1
    alive "$vpid" || { fail "exited"; return 1; }
}

scaled_desktop_doubles_everything() {
    extra_display 1024x768 || { fail "no second X display"; return 1; }
    echo 'Xft.dpi: 192' | DISPLAY=$xdisplay xrdb -merge
    DISPLAY=$xdisplay start_vexlo
    sleep 1
    pactl set-sink-volume "$sink" 40000
    DISPLAY=$xdisplay wait_until 3000 osd_shown "$vpid" || { fail "no display"; return 1; }
    sleep 0.2
    local main g widths
    main=$(DISPLAY=$xdisplay named "$vpid" Vexlo)
    g=($(DISPLAY=$xdisplay geometry "$main"))
    # 212 x 200 logical pixels, centred on a 512 x 384 logical screen.
    [ "${g[*]}" = "300 184 424 400" ] || { fail "display at ${g[*]}, expected 300 184 424 400"; return 1; }
    widths=$(for w in $(DISPLAY=$xdisplay named "$vpid" Hidden); do DISPLAY=$xdisplay width_of "$w"; done |
        sort -n | tr '\n' ' ')
    [ "$widths" = "$((2 * (35 + 9 * $(chunks_for 40000)))) 424 " ] ||
        { fail "overlay widths $widths"; return 1; }
    DISPLAY=$xdisplay import -window root "$art/scaled.png"
    # Pixel-sharp: every 2 x 2 block of the display is one colour.
    local crop=$sdir/crop.png blocks
    /usr/bin/convert "$art/scaled.png" -crop 424x400+300+184 +repage "$crop"
    blocks=$(/usr/bin/convert "$crop" -sample 50% -sample 200% "$crop" -metric AE -compare \
        -format '%[distortion]' info: 2>&1)
    [ "$blocks" = 0 ] || { fail "$blocks pixels differ from their 2 x 2 block"; return 1; }
    lit=$(/usr/bin/convert "$crop" -sample 50% "$sdir/half.png" && lit_chunks "$sdir/half.png" 0 0)
    [ "$lit" = "$(chunks_for 40000)" ] || { fail "$lit chunks lit"; return 1; }
    # The slider: twice the size, at twice its saved place, and its knob follows the pointer.
    config '[pos]\nx=1500\ny=1500\n'
    pactl set-sink-volume "$sink" 32768
    DISPLAY=$xdisplay start_vexlo /control
    DISPLAY=$xdisplay wait_until 5000 has_named "$vpid" Control || { fail "no slider"; return 1; }
    g=($(DISPLAY=$xdisplay geometry "$(DISPLAY=$xdisplay named "$vpid" Control)"))
    [ "${g[*]}" = "200 200 60 268" ] || { fail "slider at ${g[*]}, expected 200 200 60 268"; return 1; }
    DISPLAY=$xdisplay import -window root -crop 60x268+200+200 "$art/scaled-slider.png"
    DISPLAY=$xdisplay xdotool mousemove 230 332 mousedown 1 sleep 0.1 mousemove 230 380 sleep 0.1 \
        mousemove 230 428 sleep 0.1 mousemove 230 460 sleep 0.1 mouseup 1
    wait_until 2000 level_is 0 || { fail "knob drag: level $(level), expected 0"; return 1; }
}

tray_icon_appears_when_a_tray_starts_later() {
    stop_tray
    start_vexlo
    wait_until 3000 grep -q "no system tray is running" "$sdir/vexlo.log" ||
        { fail "nothing said about the missing tray"; return 1; }
    # Display and hotkeys work without a tray.
    pactl set-sink-volume "$sink" 26214
    xdotool key super+equal
    wait_until 2000 level_is "$(step_up 26214)" || { fail "no hotkey without a tray"; return 1; }
    wait_until 2000 osd_shown "$vpid" || { fail "no display without a tray"; return 1; }
    sleep 5
    local t0
    t0=$(now_ms)
    start_tray
    wait_until 3000 has_tray_icon "$vpid" || { fail "no icon once the tray runs"; return 1; }
    echo "    icon docked $(($(now_ms) - t0)) ms after the tray started"
    [ "$(grep -c "system tray" "$sdir/vexlo.log")" = 1 ] || { fail "more than one line"; return 1; }
    # Another tray in its place.
    stop_tray
    wait_until 3000 eval '! has_tray_icon "$vpid"' || { fail "icon left without a tray"; return 1; }
    start_tray
    t0=$(now_ms)
    wait_until 3000 has_tray_icon "$vpid" || { fail "no icon in the new tray"; return 1; }
    echo "    icon docked $(($(now_ms) - t0)) ms after the new tray started"
    quit_from_tray "$vpid" || { fail "no menu"; return 1; }
    wait_until 3000 ended "$vpid" || { fail "still running after Quit"; return 1; }
}

status_notifier_tray() {
    stop_tray
    local marker=$sdir/mixer-started bus=$sdir/bus t0 item layout
    printf '#!/bin/sh\necho started >> "%s"\n' "$marker" >"$sdir/mixer.sh"
    chmod +x "$sdir/mixer.sh"
    config "[mixer]\npathtomixer=$sdir/mixer.sh\n"
    # At a path, so that the bus started again below is where the first one was.
    test_bus_config "$sdir/bus.conf"
    sed -i "s|<listen>.*</listen>|<listen>unix:path=$sdir/bus.socket</listen>|" "$sdir/bus.conf"
    dbus-daemon --config-file="$sdir/bus.conf" --nofork --nopidfile --print-address=3 3>"$bus" >/dev/null 2>&1 &
    pids+=($!)
    local bus_pid=$!
    wait_until 3000 test -s "$bus" || { fail "no session bus"; return 1; }
    # Without the first bus's guid, which a new bus at the same place does not have.
    local -x DBUS_SESSION_BUS_ADDRESS=unix:path=$sdir/bus.socket
    watcher_items() {
        gdbus call --session --dest org.kde.StatusNotifierWatcher --object-path \
            /StatusNotifierWatcher --method org.freedesktop.DBus.Properties.Get \
            org.kde.StatusNotifierWatcher RegisteredStatusNotifierItems 2>/dev/null |
            grep -o "':[0-9.]*" | tr -d "'"
    }
    item_registered() { item=$(watcher_items | head -1); [ -n "$item" ]; }
    status-notifier-watcher >/dev/null 2>&1 &
    pids+=($!)
    local watcher=$!
    start_vexlo
    wait_until 3000 grep -q "no system tray is running" "$sdir/vexlo.log" ||
        { fail "nothing said about the missing tray host"; return 1; }
    # The host starts five seconds after Vexlo, as at login.
    sleep 5
    gtk-sni-tray-standalone --bottom --end -s 24 >/dev/null 2>&1 &
    pids+=($!)
    local host=$!
    t0=$(now_ms)
    wait_until 3000 item_registered || { fail "no item for a host started later"; return 1; }
    echo "    item registered $(($(now_ms) - t0)) ms after the host started"
    [[ $(gdbus call --session --dest "$item" --object-path /StatusNotifierItem --method \
        org.freedesktop.DBus.Properties.Get org.kde.StatusNotifierItem Title) == "(<'Vexlo'>,)" ]] ||
        fail "item Title is not Vexlo"
    layout=$(gdbus call --session --dest "$item" --object-path /MenuBar \
        --method com.canonical.dbusmenu.GetLayout -- 0 -1 '@as []')
    [[ $layout == *"'label': <'Quit'>"*"'label': <'Open Mixer'>"* ]] ||
        { fail "exported menu: $layout"; return 1; }
    sleep 1
    shot sni-tray
    # A left press on the icon starts the mixer.
    xdotool mousemove 1012 756 sleep 0.3 click 1
    wait_until 3000 test -s "$marker" || { fail "left press: no mixer"; return 1; }
    # A right press shows the exported menu in the host, and no menu of Vexlo's own.
    xdotool mousemove 1012 756 sleep 0.3 click 3
    sleep 1
    shot sni-menu
    [ -z "$(menu_of "$vpid")" ] || { fail "Vexlo popped up a menu of its own too"; return 1; }
    xdotool key Down Down Return
    wait_until 3000 eval '[ "$(wc -l <"$marker")" = 2 ]' || { fail "menu: no mixer"; return 1; }
    # Watcher and host replaced: the icon comes back.
    kill "$host" "$watcher"
    wait_until 3000 ended "$host"
    status-notifier-watcher >/dev/null 2>&1 &
    pids+=($!)
    gtk-sni-tray-standalone --bottom --end -s 24 >/dev/null 2>&1 &
    pids+=($!)
    t0=$(now_ms)
    wait_until 3000 item_registered || { fail "no item for the new watcher"; return 1; }
    echo "    item registered $(($(now_ms) - t0)) ms after the new watcher and host started"
    # The session bus itself ends and starts again at its address, with a watcher and a host:
    # the item comes back on the new bus, and its menu works there.
    kill "$bus_pid"
    wait_until 3000 ended "$bus_pid" || { fail "the bus did not end"; return 1; }
    rm -f "$sdir/bus.socket" "$bus"
    dbus-daemon --config-file="$sdir/bus.conf" --nofork --nopidfile --print-address=3 3>"$bus" >/dev/null 2>&1 &
    pids+=($!)
    wait_until 3000 test -s "$bus" || { fail "no session bus the second time"; return 1; }
    status-notifier-watcher >/dev/null 2>&1 &
    pids+=($!)
    gtk-sni-tray-standalone --bottom --end -s 24 >/dev/null 2>&1 &
    pids+=($!)
    t0=$(now_ms)
    if [ "$(printf '%s\n' 6.8 "$(qtpaths6 --qt-version)" | sort -V | head -1)" = 6.8 ]; then
        # Qt 6.8 asks its own first connection to the session bus, for every new icon, whether
        # a StatusNotifier watcher runs, and that connection does not come back with the bus:
        # the icon comes back in an XEmbed tray (Plasma's xembedsniproxy offers one), not as
        # an item on the new bus.
        start_tray
        wait_until 5000 has_tray_icon "$vpid" || { fail "no icon in the XEmbed tray after the bus restarted"; return 1; }
        echo "    Qt $(qtpaths6 --qt-version): the icon came back in the XEmbed tray"
        quits "$vpid"
        return
    fi
    wait_until 5000 item_registered || { fail "no item on the restarted bus"; return 1; }
    echo "    item registered $(($(now_ms) - t0)) ms after the bus, watcher and host started again"
    alive "$vpid" || { fail "ended when the bus restarted"; return 1; }
    # "Quit" of the exported menu ends the program. The item is registered before its menu is
    # filled again (hosts learn of the filling from LayoutUpdated): asked until it is there.
    local quit=""
    quit_item() {
        quit=$(gdbus call --session --dest "$item" --object-path /MenuBar \
            --method com.canonical.dbusmenu.GetLayout -- 0 -1 '@as []' |
            grep -o "<([0-9]*, {[^}]*'label': <'Quit'>" | grep -o '[0-9][0-9]*' | head -1)
        [ -n "$quit" ]
    }
    wait_until 3000 quit_item || { fail "no Quit in the menu for the new host"; return 1; }
    gdbus call --session --dest "$item" --object-path /MenuBar \
        --method com.canonical.dbusmenu.Event -- "$quit" clicked '<0>' 0 >/dev/null
    wait_until 3000 ended "$vpid" || { fail "still running after Quit"; return 1; }
    local code
    exit_code "$vpid"
    [ "$code" = 0 ] || { fail "exit code $code"; return 1; }
}

# The user's language. LANG=de_DE.UTF-8: the tray menu as the tray host gets it and draws it
# (the item's exported menu; a screenshot of the host's menu), the message about the hotkey
# setting in the desktop's notification and --help, each as German's catalogue has them.
# LANG=C: the same in English, byte for byte as the program writes it.
texts_in_the_users_language() {
    local -x DBUS_SESSION_BUS_ADDRESS
    local notes item="" layout lang quit open problem help expect code reason app
    start_notifier || return 1
    status-notifier-watcher >/dev/null 2>&1 &
    pids+=($!)
    gtk-sni-tray-standalone --bottom --end -s 24 >/dev/null 2>&1 &
    pids+=($!)
    sleep 1
    problem="The setting {setting} in core.ini is not a key combination Vexlo can use ({problem}); it uses {keys} instead."
    for lang in de_DE.UTF-8 C; do
        printf %s Quit >"$sdir/t1"
        printf %s "Open Mixer" >"$sdir/t2"
        printf %s "$problem" >"$sdir/t3"
        env LANG=C "$bin" --help >"$sdir/t4"
        printf %s '"{part}" is neither a key nor Super, Ctrl, Alt or Shift' >"$sdir/t5"
        printf %s 'The skin file "{file}" cannot be loaded: {reason}.' >"$sdir/t6"
        printf %s 'the file is cut off ({needed} bytes needed, {present} present)' >"$sdir/t7"
        quit=$(catalogue_text "${lang%%_*}" "$sdir/t1") open=$(catalogue_text "${lang%%_*}" "$sdir/t2")
        # The sentence with the reason filled in, up to the keys used instead.
        reason=$(catalogue_text "${lang%%_*}" "$sdir/t5" part=Foo)
        expect=$(catalogue_text "${lang%%_*}" "$sdir/t3" setting=hotkeyup=Ctrl+Foo "problem=$reason")
        expect=${expect%%\{keys\}*}
        catalogue_text "${lang%%_*}" "$sdir/t4" >"$sdir/help.expected"
        env LANG=$lang "$bin" --help >"$sdir/help.$lang"
        cmp -s "$sdir/help.$lang" "$sdir/help.expected" ||
            { fail "$lang: --help is not the catalogue's: $(head -2 "$sdir/help.$lang")"; return 1; }
        config '[general]\nhotkeyup=Ctrl+Foo\n'
        : >"$notes"
        start_at env LANG=$lang "$bin"
        wait_until 5000 sni_item || { fail "$lang: no StatusNotifierItem registered"; return 1; }
        layout=$(gdbus call --session --dest "$item" --object-path /MenuBar \
            --method com.canonical.dbusmenu.GetLayout -- 0 -1 '@as []')
        [[ $layout == *"'label': <'$quit'>"*"'label': <'$open'>"* ]] ||
            { fail "$lang: exported menu: $layout"; return 1; }
        wait_until 3000 notified_with "$expect" ||
            { fail "$lang: the hotkey setting's message: $(cat "$notes"), expected $expect"; return 1; }
        # The host's menu on the screen.
        xdotool mousemove 1012 756 sleep 0.3 click 3
        sleep 1
        shot "menu-$lang"
        xdotool key Escape
        local shown
        shown=$(screen_text "$art/menu-$lang.png" $((screen_w - 300)) $((screen_h - 170)) 300 150 "${lang%%_*}")
        [ "$shown" = "$(printf '%s\n%s' "$quit" "$open")" ] ||
            { fail "$lang: the menu on the screen reads: $(paste -sd'|' <<<"$shown")"; return 1; }
        local id
        id=$(grep -o "<([0-9]*, {[^}]*'label': <'$quit'>" <<<"$layout" | grep -o '[0-9][0-9]*' | head -1)
        gdbus call --session --dest "$item" --object-path /MenuBar \
            --method com.canonical.dbusmenu.Event -- "$id" clicked '<0>' 0 >/dev/null
        wait_until 3000 ended "$vpid" || { fail "$lang: still running after $quit"; return 1; }
        exit_code "$vpid"
        [ "$code" = 0 ] || { fail "$lang: exit code $code"; return 1; }
        wait_until 3000 eval '! sni_item' || { fail "$lang: the item stays registered"; return 1; }
        # A skin picture cut off after 30 bytes: the box's sentence and its reason in one
        # language.
        app=$sdir/app-$lang
        mkdir -p "$app"
        cp "$bin" "$build"/*.bmp "$build"/*.ico "$build"/*.gif "$build"/*.wav "$app/"
        head -c 30 "$build/back.bmp" >"$app/back.bmp"
        reason=$(catalogue_text "${lang%%_*}" "$sdir/t7" needed=54 present=30)
        expect=$(catalogue_text "${lang%%_*}" "$sdir/t6" "file=$app/back.bmp" "reason=$reason")
        : >"$sdir/vexlo.log"
        start_at env LANG=$lang "$app/vexlo"
        wait_until 5000 has_dialog "$vpid" || { fail "$lang: no box for the cut-off skin file"; return 1; }
        grep -qF "$expect" "$sdir/vexlo.log" ||
            { fail "$lang: the skin file's message: $(cat "$sdir/vexlo.log"), expected $expect"; return 1; }
        ends_after_box "$vpid" || return 1
    done
}

tray_wheel_steps_the_level() {
    local up down item bus=$sdir/bus
    # XEmbed: the wheel over the docked icon, one notch each way; sideways nothing.
    start_vexlo
    wait_until 5000 has_tray_icon "$vpid" || { fail "no tray icon"; return 1; }
    up=$(step_up 26214)
    press_icon "$vpid" 4
    wait_until 2000 level_is "$up" || { fail "XEmbed wheel up: level $(level), expected $up"; return 1; }
    check_display "$vpid" "$up" wheel-xembed-up || return 1
    # A change while the display fades out does not stop the fade: the next one waits.
    wait_until 4000 osd_hidden "$vpid" || { fail "display still shown"; return 1; }
    press_icon "$vpid" 5
    wait_until 2000 level_is 26214 || { fail "XEmbed wheel down: level $(level)"; return 1; }
    check_display "$vpid" 26214 wheel-xembed-down || return 1
    press_icon "$vpid" 6
    press_icon "$vpid" 7
    sleep 0.3
    level_is 26214 || { fail "horizontal wheel changed the level to $(level)"; return 1; }
    kill "$vpid"
    wait_until 3000 ended "$vpid" || { fail "first program still running"; return 1; }
    wait_until 4000 osd_hidden "$vpid"

    # StatusNotifierItem: the host's Scroll call on the item.
    stop_tray
    dbus-daemon --config-file="$test_bus_conf" --nofork --nopidfile --print-address=3 3>"$bus" >/dev/null 2>&1 &
    pids+=($!)
    wait_until 3000 test -s "$bus" || { fail "no session bus"; return 1; }
    local -x DBUS_SESSION_BUS_ADDRESS
    DBUS_SESSION_BUS_ADDRESS=$(head -1 "$bus")
    status-notifier-watcher >/dev/null 2>&1 &
    pids+=($!)
    gtk-sni-tray-standalone --bottom --end -s 24 >/dev/null 2>&1 &
    pids+=($!)
    sleep 1
    start_vexlo
    wait_until 5000 sni_item || { fail "no StatusNotifierItem registered"; return 1; }
    scroll() {
        gdbus call --session --dest "$item" --object-path /StatusNotifierItem \
            --method org.kde.StatusNotifierItem.Scroll -- "$1" "$2" >/dev/null
    }
    scroll 120 vertical
    wait_until 2000 level_is "$up" || { fail "Scroll 120: level $(level), expected $up"; return 1; }
    check_display "$vpid" "$up" wheel-sni-up || return 1
    wait_until 4000 osd_hidden "$vpid" || { fail "display still shown"; return 1; }
    scroll 120 horizontal
    scroll -60 vertical
    sleep 0.3
    level_is "$up" || { fail "half a notch or sideways changed the level to $(level)"; return 1; }
    scroll -60 vertical
    down=$(step_down "$up")
    wait_until 2000 level_is "$down" || { fail "two half notches: level $(level), expected $down"; return 1; }
    check_display "$vpid" "$down" wheel-sni-down || return 1
    alive "$vpid" || { fail "exited"; return 1; }
}

# ---- Runner --------------------------------------------------------------------------------

run() {
    local name=$1 start status
    # VEXLO_E2E_ONLY="name ...": only those scenarios.
    [ -z "${VEXLO_E2E_ONLY:-}" ] || [[ " $VEXLO_E2E_ONLY " == *" $name "* ]] || return 0
    sdir=$work/$name
    mkdir -p "$sdir"
    export XDG_CONFIG_HOME=$sdir/config
    mkdir -p "$XDG_CONFIG_HOME"
    pactl set-sink-volume "$sink" 26214
    pactl set-sink-mute "$sink" 0
    why=""
    start=$(now_ms)
    "$name"
    status=$?
    cleanup_pids
    # A build with the sanitizers: any report of theirs fails the scenario.
    if [ $status -eq 0 ] && grep -qs 'ERROR: AddressSanitizer\|ERROR: LeakSanitizer\|runtime error:' "$sdir/vexlo.log"; then
        status=1
        why="a sanitizer report: $(grep -m1 'ERROR: \|runtime error:' "$sdir/vexlo.log")"
    fi
    local took=$(($(now_ms) - start))
    if [ $status -eq 0 ]; then
        passed=$((passed + 1))
        printf 'PASS %s (%d ms)\n' "$name" "$took"
    else
        failed=$((failed + 1))
        printf 'FAIL %s: %s\n' "$name" "${why:-failed}"
        [ -s "$sdir/vexlo.log" ] && sed 's/^/    vexlo: /' "$sdir/vexlo.log" | head -20
    fi
    # Nothing of the scenario may be left on the display.
    sleep 0.2
}

run starts_with_tray_icon_and_no_display
run hotkeys_step_the_level_and_show_the_display
run a_press_at_the_top_shows_the_full_bar_without_a_click
run outside_change_shows_the_display_and_clicks
run display_stays_above_and_takes_no_focus
run hotkeys_off_registers_nothing
run chosen_hotkeys_step_the_level_and_problems_are_told
run hotkeys_follow_the_keyboard_layout
run portal_hotkeys_step_the_level_in_a_wayland_session
run tray_menu_quit_ends_the_program
run tray_left_press_starts_the_mixer
run tray_left_press_opens_the_slider
run control_mode_slider_alone
run bad_setting_shows_the_error_and_exits
run missing_skin_file_shows_the_error_and_exits
run second_instance_says_so_and_exits
run command_line_and_no_display
run volume_commands_step_with_and_without_vexlo
run mute_shows_an_empty_bar_and_the_muted_tray
run check_skin_table
run preview_skin_shows_the_bar_at_every_level
run display_centred_on_the_primary_monitor
run display_on_the_chosen_monitor
run scaled_desktop_doubles_everything
# These stop the session's tray.
run tray_icon_appears_when_a_tray_starts_later
run tray_wheel_steps_the_level
run status_notifier_tray
run texts_in_the_users_language

echo "screenshots: $build/e2e-linux"
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
