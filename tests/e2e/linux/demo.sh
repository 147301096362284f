#!/usr/bin/env bash
# What Vexlo does, shown on a virtual desktop (scripts/run without a display): a virtual
# display with a window manager, a tray and a compositor, and a private sound server. Vexlo
# runs there while the volume is changed a few times from outside (through the sound server)
# and with its hotkey, then it is quit from its tray menu. Screenshots of the on-screen
# display, the tray and its menu go to SHOTS.
#
#   demo.sh BINARY SHOTS [ARGS...]     ARGS are handed on to Vexlo
#
# Outside a session it enters one of its own (with-session.sh --desktop, on display
# VEXLO_DISPLAY when set, else a free one), which stops everything it started when it ends.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
if [ "${VEXLO_SESSION:-}" != 1 ]; then
    exec "$here/with-session.sh" --desktop ${VEXLO_DISPLAY:+--display "$VEXLO_DISPLAY"} "$0" "$@" </dev/null
fi
[ $# -ge 2 ] || { echo "usage: $0 BINARY SHOTS [ARGS...]" >&2; exit 2; }
bin=$1
art=$2
shift 2
. "$here/lib.sh"

pid=""
stop_vexlo() {
    [ -n "$pid" ] && stop_pids "$pid"
}
trap stop_vexlo EXIT
trap 'exit 130' INT TERM

# Waits for the display to show (and the screenshot), then for it to fade out again.
show() {  # show SHOTNAME
    wait_until 2000 osd_shown "$pid" || echo "  (no display came)"
    sleep 0.3
    shot "$1"
    wait_until 4000 osd_hidden "$pid"
}

pactl set-sink-volume "$sink" 40%
"$bin" "$@" >"$art/vexlo.log" 2>&1 &
pid=$!
wait_until 5000 has_tray_icon "$pid" || echo "  (no tray icon came)"
echo "  Vexlo is running (pid $pid) on display $DISPLAY"
sleep 0.5
shot desktop

# The tray, twice the size, around Vexlo's icon.
if icon=$(tray_icon "$pid"); then
    read -r x y w h < <(geometry "$icon")
    x=$((x + w / 2 - 80))
    y=$((y + h / 2 - 24))
    x=$((x < 0 ? 0 : x > screen_w - 160 ? screen_w - 160 : x))
    y=$((y < 0 ? 0 : y > screen_h - 48 ? screen_h - 48 : y))
    /usr/bin/convert "$art/desktop.png" -crop "160x48+$x+$y" +repage -scale 200% "$art/tray.png"
fi

n=0
for percent in 25% 60% 85% 10%; do
    n=$((n + 1))
    echo "  pactl set-sink-volume $sink $percent"
    pactl set-sink-volume "$sink" "$percent"
    show "osd-$n-$percent"
done
echo "  Super+equal (one step up)"
xdotool key super+equal
show osd-hotkey
echo "  level now: $(level) of 65536"

if has_tray_icon "$pid"; then
    echo "  tray menu: Quit"
    press_icon "$pid" 3
    wait_until 2000 has_menu "$pid" && shot tray-menu
    xdotool key Down Return
fi
if wait_until 3000 ended "$pid"; then
    wait "$pid"
    echo "  Vexlo quit with exit code $?"
else
    stop_vexlo
    echo "  Vexlo stopped"
fi
pid=""
