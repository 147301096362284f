#!/usr/bin/env bash
# Runs a command inside a private test session: a virtual X display (Xvfb), a private session
# bus that starts nothing on demand, a private PulseAudio server with a null sink "vexlo_test"
# (ALSA's "default" then has a "Master" control backed by it), and optionally a window
# manager, a tray and a compositor.
# Everything it starts is stopped again by PID when the command ends.
#
#   with-session.sh [--desktop] [--no-compositor] [--display N] COMMAND [ARGS...]
#     --desktop        also start openbox, trayer and xcompmgr
#     --no-compositor  with --desktop: no xcompmgr (translucency is then not painted)
#     --display N      use display :N (default: a free one chosen by Xvfb at run time, so
#                      that sessions side by side, and a desktop, never meet)
#
# Inside an outer session (VEXLO_SESSION=1) the command just runs.
set -uo pipefail

desktop=0
compositor=1
display=""
while [ $# -gt 0 ]; do
    case $1 in
        --desktop) desktop=1; shift ;;
        --no-compositor) compositor=0; shift ;;
        --display) display=$2; shift 2 ;;
        *) break ;;
    esac
done
[ $# -gt 0 ] || { echo "usage: $0 [--desktop] [--no-compositor] [--display N] COMMAND [ARGS...]" >&2; exit 2; }

if [ "${VEXLO_SESSION:-}" = 1 ]; then exec "$@"; fi

. "$(dirname "$0")/../common.sh"
session_dir=$(mktemp -d /tmp/vexlo-session.XXXXXX)
chmod 700 "$session_dir"
pids=()

cleanup() {
    # The command may have restarted the sound server (fault tests): the one running now is
    # in the pid file.
    [ -n "${pulse_pid:-}" ] && [ "$(cat "/proc/$pulse_pid/comm" 2>/dev/null)" = pulseaudio ] &&
        stop_pids "$pulse_pid"
    [ -d "$session_dir/runtime" ] && stop_sound_server_of "$session_dir/runtime"
    local reversed=() i
    for ((i = ${#pids[@]} - 1; i >= 0; i--)); do reversed+=("${pids[i]}"); done
    stop_pids "${reversed[@]}"
    rm -rf "$session_dir"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# The display.
if [ -n "$display" ]; then
    # A lock left behind by a server that is gone would stop the new one.
    if [ -e "/tmp/.X$display-lock" ]; then
        lock_pid=$(tr -dc 0-9 <"/tmp/.X$display-lock")
        if [ -n "$lock_pid" ] && kill -0 "$lock_pid" 2>/dev/null; then
            echo "with-session: display :$display is in use (Xvfb pid $lock_pid)" >&2
            exit 1
        fi
        rm -f "/tmp/.X$display-lock" "/tmp/.X11-unix/X$display"
    fi
    Xvfb ":$display" -screen 0 1024x768x24 -noreset -nolisten tcp >"$session_dir/xvfb.log" 2>&1 &
    pids+=($!)
    for _ in $(seq 100); do
        [ -e "/tmp/.X11-unix/X$display" ] && break
        sleep 0.05
    done
else
    exec 3>"$session_dir/display"
    Xvfb -displayfd 3 -screen 0 1024x768x24 -noreset -nolisten tcp >"$session_dir/xvfb.log" 2>&1 &
    pids+=($!)
    exec 3>&-
    for _ in $(seq 100); do
        display=$(tr -dc 0-9 <"$session_dir/display")
        [ -n "$display" ] && break
        sleep 0.05
    done
fi
if [ -z "$display" ] || ! kill -0 "${pids[0]}" 2>/dev/null; then
    echo "with-session: Xvfb did not start" >&2
    cat "$session_dir/xvfb.log" >&2
    exit 1
fi
export DISPLAY=":$display"
unset WAYLAND_DISPLAY DBUS_SESSION_BUS_ADDRESS SESSION_MANAGER

# The session bus, private to this session (without one, libdbus would start a bus for the
# display on demand).
exec 3>"$session_dir/bus"
dbus-daemon --config-file="$(dirname "$0")/test-bus.conf" --nofork --nopidfile --print-address=3 \
    >/dev/null 2>&1 &
pids+=($!)
exec 3>&-
for _ in $(seq 100); do
    [ -s "$session_dir/bus" ] && break
    sleep 0.05
done
DBUS_SESSION_BUS_ADDRESS=$(head -1 "$session_dir/bus")
[ -n "$DBUS_SESSION_BUS_ADDRESS" ] || { echo "with-session: no session bus" >&2; exit 1; }
export DBUS_SESSION_BUS_ADDRESS

# The sound server, private to this session.
export XDG_RUNTIME_DIR="$session_dir/runtime"
mkdir -m 700 "$XDG_RUNTIME_DIR"
export HOME="$session_dir/home"
mkdir -p "$HOME"
unset PULSE_SERVER
timeout -k 2 20 pulseaudio --daemonize=yes --exit-idle-time=-1 --disallow-exit -n --use-pid-file=yes \
    --load="module-null-sink sink_name=vexlo_test" \
    --load=module-native-protocol-unix --load=module-always-sink \
    >"$session_dir/pulse.log" 2>&1
for _ in $(seq 100); do
    pactl info >/dev/null 2>&1 && break
    sleep 0.05
done
pulse_pid=$(cat "$XDG_RUNTIME_DIR/pulse/pid" 2>/dev/null)
if ! pactl info >/dev/null 2>&1; then
    echo "with-session: PulseAudio did not start" >&2
    cat "$session_dir/pulse.log" >&2
    exit 1
fi
pactl set-default-sink vexlo_test >/dev/null 2>&1

if [ "$desktop" = 1 ]; then
    openbox --sm-disable >"$session_dir/openbox.log" 2>&1 &
    pids+=($!)
    trayer --edge bottom --align right --widthtype request --height 24 --SetDockType false \
        --SetPartialStrut false >"$session_dir/trayer.log" 2>&1 &
    pids+=($!)
    export VEXLO_TRAY_PID=$!  # tests that start the tray late stop this one
    if [ "$compositor" = 1 ]; then
        xcompmgr >"$session_dir/xcompmgr.log" 2>&1 &
        pids+=($!)
    fi
    # The window manager is up once it owns the screen's WM selection.
    for _ in $(seq 100); do
        xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && break
        sleep 0.05
    done
fi

export VEXLO_SESSION=1 VEXLO_SINK=vexlo_test
"$@"
