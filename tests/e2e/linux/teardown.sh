#!/usr/bin/env bash
# The end of a desktop session, as a logout ends it: the X server, the sound server, the session
# bus, the tray and Vexlo go in different orders, and Vexlo must end without a crash (and keep
# running while only the sound server, the bus or the tray went). Each round has a session of
# its own: an Xvfb on a display chosen free at run time, a tray (trayer), a private PulseAudio
# server with a null sink, a private session bus and on it the stand-in of the desktop's
# shortcut portal; Vexlo runs as in a Wayland session, so its hotkeys are the portal's. Vexlo is
# up once its icon is docked and a hotkey the portal bound stepped the level and showed the
# display; then the round's way of ending, cycling over rounds:
#
#   together       X, the sound server and Vexlo signalled at once
#   x-alone        the X server alone: Vexlo ends by itself
#   sound-alone    the sound server alone; Vexlo keeps running until it is signalled
#   vexlo-alone    Vexlo alone: it quits with exit code 0
#   x-then-sound   the X server, a moment later the sound server and Vexlo
#   sound-then-x   the sound server, a moment later the X server and Vexlo
#   bus-first      the session bus, a moment later X, the sound server and Vexlo
#   tray-first     the tray, a moment later X, the sound server and Vexlo
#   bus-restart    the session bus ends and a new one starts at the same address, with a new
#                  portal: Vexlo says once that the hotkeys are gone, binds them on the new bus
#                  (once), they step the level again and the icon stays; then Vexlo is signalled
#
# The signal Vexlo gets cycles over TERM, INT and HUP, the moment over 50 and 300 ms. A round
# fails on a crash (an end by another signal than the one sent, a core file, a sanitizer
# report), on an exit code other than 0 (its quit) or 1 (Qt's end when the X connection
# broke), on a hang (running 5 s after the end, 20 s for a build with the sanitizers) and on an
# early end.
#
#   tests/e2e/linux/teardown.sh BUILD_DIR [ROUNDS]     ROUNDS: 36 by default (4 of each way)
#
# VEXLO_TEARDOWN_ONLY names the ways of ending to cycle over (all by default). Prints a line per
# failed round (its log and core file are kept in BUILD_DIR/teardown/), a line per way of ending
# and "N passed, M failed"; exits non-zero when a round failed.
set -uo pipefail

here=$(cd "$(dirname "$0")" && pwd)
. "$here/lib.sh"

[ $# -ge 1 ] && [ $# -le 2 ] || { echo "usage: $0 BUILD_DIR [ROUNDS]" >&2; exit 2; }
build=$(build_folder "$0" "$1") || exit 2
rounds=${2:-36}
[[ $rounds =~ ^[1-9][0-9]*$ ]] || { echo "ROUNDS must be a positive number" >&2; exit 2; }
bin=$build/vexlo
art=$build/teardown  # the log and core file of each failed round
# How long Vexlo may take to end after its session: a build with the sanitizers checks the
# whole heap for leaks on the way out, which takes seconds on a loaded machine.
end_ms=5000
ldd "$bin" 2>/dev/null | grep -q libasan && end_ms=20000
rm -rf "$art"

variants=(together x-alone sound-alone vexlo-alone x-then-sound sound-then-x bus-first tray-first
    bus-restart)
# VEXLO_TEARDOWN_ONLY: the ways of ending to cycle over (all by default).
[ -n "${VEXLO_TEARDOWN_ONLY:-}" ] && read -ra variants <<<"$VEXLO_TEARDOWN_ONLY"
signals=(TERM INT HUP)
declare -A v_rounds v_failed v_codes
passed=0
failed=0
rdir=""
pids=()       # what the round started, in order; stopped in reverse
xvfb="" pulse="" bus="" tray="" vpid="" standin=""

# ours PID: still a child of this shell (a process ended and collected may have given its
# number to another program).
ours() { [ "$(ps -o ppid= -p "$1" 2>/dev/null | tr -d ' ')" = "$$" ]; }
# signal SIG PID: sent while the process is still ours.
signal() { ours "$2" && kill -"$1" "$2" 2>/dev/null; }

stop_round() {
    local reversed=() i
    for ((i = ${#pids[@]} - 1; i >= 0; i--)); do ours "${pids[i]}" && reversed+=("${pids[i]}"); done
    [ ${#reversed[@]} -gt 0 ] && stop_pids "${reversed[@]}"
    pids=()
    [ -n "$rdir" ] && rm -rf "$rdir"
    rdir=""
}
trap stop_round EXIT
trap 'exit 130' INT TERM

# start_session: Xvfb, tray, sound server and bus of the round; false when one did not start.
start_session() {
    rdir=$(mktemp -d /tmp/vexlo-teardown.XXXXXX)
    chmod 700 "$rdir"
    Xvfb -displayfd 3 -screen 0 1024x768x24 -noreset -nolisten tcp 3>"$rdir/display" \
        >"$rdir/xvfb.log" 2>&1 &
    xvfb=$!
    pids+=("$xvfb")
    wait_until 5000 test -s "$rdir/display" || { fail "Xvfb did not start"; return 1; }
    DISPLAY=:$(tr -dc 0-9 <"$rdir/display")
    export DISPLAY
    export XDG_RUNTIME_DIR=$rdir/runtime HOME=$rdir/home XDG_CONFIG_HOME=$rdir/home/.config
    mkdir -m 700 "$XDG_RUNTIME_DIR"
    mkdir -p "$HOME"
    # A client must not start a sound server of its own once the session's is gone.
    printf 'autospawn = no\n' >"$rdir/client.conf"
    export PULSE_CLIENTCONFIG=$rdir/client.conf
    pulseaudio --daemonize=no --exit-idle-time=-1 --disallow-exit -n --use-pid-file=yes \
        --load="module-null-sink sink_name=$sink" --load=module-native-protocol-unix \
        --load=module-always-sink >"$rdir/pulse.log" 2>&1 &
    pulse=$!
    pids+=("$pulse")
    # At a path, so that a bus started again is found where the first one was.
    test_bus_config "$rdir/bus.conf"
    sed -i "s|<listen>.*</listen>|<listen>unix:path=$rdir/bus.socket</listen>|" "$rdir/bus.conf"
    export DBUS_SESSION_BUS_ADDRESS=unix:path=$rdir/bus.socket
    trayer --edge bottom --align right --widthtype request --height 24 --SetDockType false \
        --SetPartialStrut false >/dev/null 2>&1 &
    tray=$!
    pids+=("$tray")
    start_bus || return 1
    wait_until 10000 eval 'pactl info >/dev/null 2>&1' || { fail "PulseAudio did not start"; return 1; }
    pactl set-default-sink "$sink" >/dev/null 2>&1
}

# start_bus: the session bus and on it the stand-in portal.
start_bus() {
    rm -f "$rdir/bus.socket" "$rdir/portal.ready"
    dbus-daemon --config-file="$rdir/bus.conf" --nofork --nopidfile --print-address=3 \
        3>"$rdir/bus" >/dev/null 2>&1 &
    bus=$!
    pids+=("$bus")
    wait_until 5000 test -s "$rdir/bus" || { fail "no session bus"; return 1; }
    /usr/bin/python3 "$here/portal_standin.py" --ready "$rdir/portal.ready" >>"$rdir/portal.log" 2>&1 &
    standin=$!
    pids+=("$standin")
    wait_until 10000 test -e "$rdir/portal.ready" || { fail "the stand-in portal did not start"; return 1; }
}

portal() {
    dbus-send --print-reply --dest=org.freedesktop.portal.Desktop /org/freedesktop/portal/desktop \
        "org.vexlo.Test.$1" "${@:2}" 2>&1
}

# hotkey_steps: the portal binds Vexlo's hotkeys, and its volume-up steps the level and shows
# the display.
hotkey_steps() {
    local up
    wait_until 10000 eval 'portal Calls | grep -q "BindShortcuts volume-up"' ||
        { fail "the hotkeys were not bound: $(portal Calls | tr -s ' \n' ' ')"; return 1; }
    up=$(step_up "$(level)")
    wait_until 3000 eval 'portal Activate string:volume-up | grep -qv Error' ||
        { fail "the portal did not activate volume-up"; return 1; }
    # The display first: it goes again a second later, the level stays.
    wait_until 3000 osd_shown "$vpid" || { fail "no display for a hotkey"; return 1; }
    wait_until 3000 level_is "$up" || { fail "volume-up: level $(level), expected $up"; return 1; }
}

# start_vexlo LEVEL: Vexlo at LEVEL, up once its icon is docked and a hotkey stepped the level.
start_vexlo() {
    pactl set-sink-volume "$sink" "$1"
    (
        cd "$rdir" || exit 1
        ulimit -c unlimited 2>/dev/null
        WAYLAND_DISPLAY=wayland-vexlo-test exec "$bin" >"$rdir/vexlo.log" 2>&1
    ) &
    vpid=$!
    pids+=("$vpid")
    wait_until 10000 has_tray_icon "$vpid" || { fail "no tray icon"; return 1; }
    hotkey_steps
}

# restart_bus: the session bus ends and a new one starts at its address; Vexlo tells once that
# the hotkeys are gone, and binds them on the new bus, once.
restart_bus() {
    kill -TERM "$bus"
    wait_until 3000 ended "$bus" || { fail "the bus did not end"; return 1; }
    wait_until 3000 eval 'grep -q "session bus went away" "$rdir/vexlo.log"' ||
        { fail "not told that the bus went away"; return 1; }
    start_bus || return 1
    hotkey_steps || return 1
    [ "$(portal Calls | grep -c BindShortcuts)" = 1 ] ||
        { fail "bound more than once: $(portal Calls | tr -s ' \n' ' ')"; return 1; }
    [ "$(grep -c "session bus went away" "$rdir/vexlo.log")" = 1 ] ||
        { fail "told $(grep -c "session bus went away" "$rdir/vexlo.log") times"; return 1; }
    has_tray_icon "$vpid" || { fail "no tray icon after the bus came back"; return 1; }
}

# still_running WHAT: Vexlo outlived WHAT.
still_running() {
    sleep 0.5
    alive "$vpid" || { fail "ended when $1 went"; return 1; }
}

# end_with_x [PID...]: the X server (and PID...) and, right after, Vexlo, running until now.
end_with_x() {
    kill -TERM "$xvfb" "$@"
    kill -"$sig" "$vpid" 2>/dev/null
}

# round N: one session and its end; true when Vexlo ended cleanly.
round() {
    local n=$1 variant=${variants[$(($1 % ${#variants[@]}))]} sig=${signals[$(($1 % 3))]}
    local pause=0.05 code crash="" early=0 sent=$sig
    [ "$variant" = x-alone ] && sent=""
    [ $(($1 / ${#variants[@]} % 2)) = 1 ] && pause=0.3
    this="$variant SIG$sig pause ${pause}s"
    start_session || return 1
    start_vexlo $((20 + n % 7 * 10))% || return 1
    local part
    for part in xvfb pulse bus tray standin; do
        alive "${!part}" || { fail "the session's $part ended before its end began"; return 1; }
    done
    case $variant in
        together) end_with_x "$pulse" ;;
        x-alone) kill -TERM "$xvfb" ;;
        sound-alone)
            kill -TERM "$pulse"
            still_running "the sound server" || early=1
            signal "$sig" "$vpid"
            ;;
        vexlo-alone) kill -"$sig" "$vpid" ;;
        bus-restart)
            restart_bus || early=1
            signal "$sig" "$vpid"
            ;;
        x-then-sound)
            kill -TERM "$xvfb"
            sleep "$pause"
            kill -TERM "$pulse"
            signal "$sig" "$vpid"
            ;;
        sound-then-x)
            kill -TERM "$pulse"
            sleep "$pause"
            end_with_x
            ;;
        bus-first | tray-first)
            if [ "$variant" = bus-first ]; then kill -TERM "$bus"; else kill -TERM "$tray"; fi
            sleep "$pause"
            still_running "the ${variant%-first}" || early=1
            end_with_x "$pulse"
            ;;
    esac
    wait_until "$end_ms" ended "$vpid" ||
        { fail "still running $((end_ms / 1000)) s after the end of its session"; return 1; }
    exit_code "$vpid"
    v_codes[$variant]+=" $code"
    # 0: its own quit; 1: Qt's end when the X connection broke; 128 + the signal sent: the
    # signal's default action (a second one of a kind, or one before the handlers are set).
    if [ "$code" -gt 128 ] && { [ -z "$sent" ] || [ "$code" != $((128 + $(kill -l "$sent"))) ]; }; then
        crash="ended by SIG$(kill -l $((code - 128)))"
    elif [ "$code" -ne 0 ] && [ "$code" -ne 1 ] && [ "$code" -le 128 ]; then
        crash="exit code $code"
    fi
    compgen -G "$rdir/core*" >/dev/null && crash+="${crash:+, }a core file"
    grep -q 'ERROR: AddressSanitizer\|ERROR: LeakSanitizer\|runtime error:' "$rdir/vexlo.log" && crash+="${crash:+, }a sanitizer report"
    [ -z "$crash" ] || { fail "$crash"; return 1; }
    [ "$variant" = vexlo-alone ] && [ "$code" != 0 ] && { fail "exit code $code after SIG$sig"; return 1; }
    [ "$early" = 0 ]
}

start=$(now_ms)
for ((r = 0; r < rounds; r++)); do
    variant=${variants[$((r % ${#variants[@]}))]}
    this=$variant
    v_rounds[$variant]=$((${v_rounds[$variant]:-0} + 1))
    if round "$r"; then
        passed=$((passed + 1))
    else
        failed=$((failed + 1))
        v_failed[$variant]=$((${v_failed[$variant]:-0} + 1))
        echo "FAIL round $((r + 1)) ($this): ${why:-failed}"
        [ -s "$rdir/vexlo.log" ] && sed 's/^/    vexlo: /' "$rdir/vexlo.log" | head -5
        mkdir -p "$art/round-$((r + 1))"
        cp "$rdir"/vexlo.log "$rdir"/core* "$art/round-$((r + 1))/" 2>/dev/null
    fi
    why=""
    stop_round
done
for variant in "${variants[@]}"; do
    [ -n "${v_rounds[$variant]:-}" ] || continue
    echo "$variant: $((v_rounds[$variant] - ${v_failed[$variant]:-0})) of ${v_rounds[$variant]} clean;" \
        "exit codes:$(tr ' ' '\n' <<<"${v_codes[$variant]:-}" | sed '/^$/d' | sort -n | uniq -c |
            awk '{ printf " %s x%s", $2, $1 }')"
done
echo "$rounds rounds in $((($(now_ms) - start) / 1000)) s"
echo "$passed passed, $failed failed"
[ "$failed" = 0 ]
