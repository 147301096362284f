#!/usr/bin/env bash
# End-to-end tests of the Linux program against the sound servers users run: PulseAudio,
# PipeWire through pipewire-pulse (ALSA's pulse plugin) and PipeWire through pipewire-alsa.
# Each server is started privately with two null sinks, vexlo_a (the default) and vexlo_b:
#   - the default output is switched: the display shows the new default's level, a hotkey
#     steps the new one, outside changes of the new one show and of the old one do not;
#   - the server comes after Vexlo, or is restarted with the level unchanged: nothing shows;
#   - without a PulseAudio server (pipewire-alsa) the click reaches the sink;
#   - muting the default output shows an empty bar, unmuting the level; the mute command
#     switches the sink's mute.
#
#   tests/e2e/linux/sound_servers.sh BUILD_DIR
#
# Prints one line per scenario, the measured times, and "N passed, M failed". Screenshots go
# to BUILD_DIR/e2e-sound/. The X display is chosen free at run time (VEXLO_SOUND_DISPLAY names
# one instead); sound servers and buses are the scenario's own, in a private runtime folder.
set -uo pipefail

here=$(cd "$(dirname "$0")" && pwd)
. "$here/lib.sh"

if [ "${1:-}" != "--inside" ]; then
    build=$(build_folder "$0" "$@") || exit 2
    exec env -u VEXLO_SESSION "$here/with-session.sh" --desktop \
        ${VEXLO_SOUND_DISPLAY:+--display "$VEXLO_SOUND_DISPLAY"} "$0" --inside "$build" </dev/null
fi

build=$2
bin=$build/vexlo

# pipewire-alsa is not installed (it would replace PulseAudio's ALSA setup); scripts/setup
# unpacks it here.
pw_alsa=${VEXLO_PIPEWIRE_ALSA:-/opt/vexlo-test/pipewire-alsa}
work=$(mktemp -d /tmp/vexlo-sound.XXXXXX)
chmod 700 "$work"
art=$work/shots  # BUILD_DIR/e2e-sound at the end
mkdir -p "$art"
pids=()       # the scenario's processes, stopped after it
servers=()    # the sound server's processes
passed=0
failed=0
timings=()

stop_servers() {
    local reversed=() i
    for ((i = ${#servers[@]} - 1; i >= 0; i--)); do reversed+=("${servers[i]}"); done
    stop_pids "${reversed[@]}"
    servers=()
    stop_sound_server_of "$XDG_RUNTIME_DIR"
}
cleanup() {
    stop_pids "${pids[@]}"
    stop_servers
    [ -n "${bus_pid:-}" ] && stop_pids "$bus_pid"
    keep_shots "$art" "$build/e2e-sound"
    rm -rf "$work"
}
trap cleanup EXIT

# A bus of our own for WirePlumber (it needs one) that starts nothing by itself.
test_bus_config "$work/bus.conf"
bus_out=$(dbus-daemon --config-file="$work/bus.conf" --fork --print-address=1 --print-pid=1) ||
    { echo "FAIL: no session bus"; exit 1; }
export DBUS_SESSION_BUS_ADDRESS=$(sed -n 1p <<<"$bus_out")
bus_pid=$(sed -n 2p <<<"$bus_out")

# The session's own PulseAudio is not used here: each scenario has a runtime folder and a
# server of its own.
stop_sound_server_of "$XDG_RUNTIME_DIR"

# A private ALSA configuration in which "default" is pipewire-alsa: the system's alsa.conf
# with the plugin's files in place of the system's conf.d (where PulseAudio's would win).
alsa_conf=$work/alsa/alsa.conf
mkdir -p "$work/alsa/conf.d"
sed -e 's#"/var/lib/alsa/conf.d"##; s#"/usr/etc/alsa/conf.d"##' \
    -e "s#\"/etc/alsa/conf.d\"#\"$work/alsa/conf.d\"#" \
    -e 's#"/etc/asound.conf|||/usr/etc/asound.conf"##' /usr/share/alsa/alsa.conf >"$alsa_conf"
cp "$pw_alsa"/usr/share/alsa/alsa.conf.d/*.conf "$work/alsa/conf.d/" 2>/dev/null
lib=$(dirname "$(find "$pw_alsa" -name libasound_module_ctl_pipewire.so 2>/dev/null | head -1)")
printf 'pcm_type.pipewire { lib "%s/libasound_module_pcm_pipewire.so" }\n' "$lib" \
    >"$work/alsa/conf.d/40-pipewire-lib.conf"
printf 'ctl_type.pipewire { lib "%s/libasound_module_ctl_pipewire.so" }\n' "$lib" \
    >>"$work/alsa/conf.d/40-pipewire-lib.conf"

# ---- Servers -------------------------------------------------------------------------------

# The clients of PipeWire wait for a server that hangs: bounded here.
wpctl() { timeout -k 2 20 wpctl "$@"; }

# The sinks as PipeWire objects, so that they come back with a restarted server. They are
# processed all the time (node.always-process), as a sink of a user's that has played sound
# once: PipeWire 1.4 holds back every volume change of a sink that never ran (pactl, wpctl,
# WirePlumber's restore alike) until something links to it, reporting the old volume until
# then. Sinks of sound cards (on profiles with routes) keep their volume in the card's route
# and are not affected; see docs/desktop-parts.md.
pipewire_sinks() {
    mkdir -p "$XDG_CONFIG_HOME/pipewire/pipewire.conf.d"
    cat >"$XDG_CONFIG_HOME/pipewire/pipewire.conf.d/vexlo-sinks.conf" <<'EOF'
context.objects = [
    { factory = adapter
      args = { factory.name = support.null-audio-sink node.name = vexlo_a
               node.description = vexlo_a media.class = Audio/Sink audio.position = [ FL FR ]
               monitor.channel-volumes = true priority.session = 2000
               node.always-process = true } }
    { factory = adapter
      args = { factory.name = support.null-audio-sink node.name = vexlo_b
               node.description = vexlo_b media.class = Audio/Sink audio.position = [ FL FR ]
               monitor.channel-volumes = true priority.session = 1000
               node.always-process = true } }
]
EOF
}
# start_server KIND: pulseaudio, pipewire (with pipewire-pulse) or pipewire-bare (without).
start_server() {
    case $1 in
        pulseaudio)
            pulseaudio --daemonize=no --exit-idle-time=-1 --disallow-exit -n --use-pid-file=yes \
                --load="module-null-sink sink_name=vexlo_a" \
                --load="module-null-sink sink_name=vexlo_b" \
                --load=module-native-protocol-unix --load=module-always-sink >/dev/null 2>&1 &
            servers+=($!)
            wait_until 10000 eval 'pactl info >/dev/null 2>&1' || return 1
            pactl set-default-sink vexlo_a
            ;;
        pipewire | pipewire-bare)
            pipewire >"$sdir/pipewire.log" 2>&1 &
            servers+=($!)
            wait_until 5000 test -S "$XDG_RUNTIME_DIR/pipewire-0" || return 1
            if [ "$1" = pipewire ]; then
                pipewire-pulse >"$sdir/pipewire-pulse.log" 2>&1 &
                servers+=($!)
            fi
            # A session manager that comes a moment later, as on a loaded desktop: until it
            # restores them, the sinks are at full volume (and pipewire-pulse says so).
            sleep "${wireplumber_delay:-0}"
            wireplumber >"$sdir/wireplumber.log" 2>&1 &
            servers+=($!)
            wait_until 10000 eval 'wpctl status 2>/dev/null | grep -q "\*.*vexlo_a"' || return 1
            [ "$1" = pipewire-bare ] || wait_until 10000 eval 'pactl info >/dev/null 2>&1' || return 1
            ;;
    esac
}
# The volume of a sink, 0..65536, and setting it (both paths agree on the scale; wpctl only
# where no pulse server runs, as it rounds to hundredths).
sink_level() {
    if [ "$kind" != pipewire-bare ]; then
        pactl get-sink-volume "$1" 2>/dev/null | sed -n 's/.*front-left: \([0-9]*\) .*/\1/p'
    else
        wpctl get-volume "$(node_id "$1")" | awk '{ printf "%.0f\n", $2 * 65536 }'
    fi
}
set_sink_level() {
    if [ "$kind" != pipewire-bare ]; then
        pactl set-sink-volume "$1" "$2"
    else
        wpctl set-volume "$(node_id "$1")" "$(awk -v l="$2" 'BEGIN { printf "%.6f", l / 65536 }')"
    fi
}
node_id() { wpctl status | sed -n "s/^[^0-9]*\([0-9]*\)\. $1 .*/\1/p" | head -1; }
set_default() {
    if [ "$kind" = pulseaudio ]; then pactl set-default-sink "$1"; else wpctl set-default "$(node_id "$1")"; fi
}
level_of_is() { [ "$(sink_level "$1")" = "$2" ]; }

start_vexlo() {
    local env=()
    [ "$kind" = pipewire-alsa ] || [ "$kind" = pipewire-bare ] && env=(ALSA_CONFIG_PATH="$alsa_conf")
    env "${env[@]}" "$bin" >>"$sdir/vexlo.log" 2>&1 &
    vpid=$!
    pids+=("$vpid")
}
# no_display_for MS: the display never shows during that time.
no_display_for() {
    local end=$(($(now_ms) + $1))
    while [ "$(now_ms)" -lt "$end" ]; do
        osd_shown "$vpid" && return 1
        sleep 0.05
    done
    return 0
}

# watch_displays: from now on, each moment the display is up is noted (and the first one
# shot); displays_seen ends the watch and prints how many moments it noted. The watch ends by
# itself after a minute.
watch_displays() {
    rm -f "$sdir/watch.stop"
    : >"$sdir/displays"
    (
        end=$(($(now_ms) + 60000))
        while [ ! -e "$sdir/watch.stop" ] && [ "$(now_ms)" -lt "$end" ]; do
            if osd_shown "$vpid"; then
                [ -s "$sdir/displays" ] || shot "$kind-phantom"
                now_ms >>"$sdir/displays"
            fi
            sleep 0.05
        done
    ) &
    watcher=$!
    pids+=("$watcher")  # ended with the scenario's processes when it fails before the end
}
displays_seen() {
    touch "$sdir/watch.stop"
    wait_until 40000 ended "$watcher" || kill -9 "$watcher" 2>/dev/null
    wait "$watcher" 2>/dev/null
    wc -l <"$sdir/displays"
}

# ---- Scenarios -----------------------------------------------------------------------------

# Another output becomes the default: everything moves to it within a second.
default_output_is_followed() {
    local t0 took up
    start_server "$server" || { fail "the sound server did not start"; return 1; }
    set_sink_level vexlo_a 26214
    set_sink_level vexlo_b 39321
    start_vexlo
    wait_until 5000 has_tray_icon "$vpid" || { fail "no tray icon"; return 1; }
    xdotool key super+equal
    wait_until 2000 level_of_is vexlo_a "$(step_up 26214)" ||
        { fail "Super+equal: vexlo_a at $(sink_level vexlo_a)"; return 1; }
    wait_until 4000 osd_hidden "$vpid" || { fail "display still up"; return 1; }

    # The new default's level differs from the one shown last: the display shows it.
    t0=$(now_ms)
    set_default vexlo_b
    wait_until 2000 osd_shown "$vpid" || { fail "the new default's level was not shown"; return 1; }
    took=$(($(now_ms) - t0))
    timings+=("$kind: the new default shown after $took ms")
    [ "$took" -le 1000 ] || { fail "the new default followed after $took ms"; return 1; }
    check_display "$vpid" 39321 "$kind-switched" || return 1
    wait_until 4000 osd_hidden "$vpid" || { fail "display still up"; return 1; }

    xdotool key super+equal
    up=$(step_up 39321)
    wait_until 2000 level_of_is vexlo_b "$up" ||
        { fail "Super+equal after the switch: vexlo_b at $(sink_level vexlo_b), expected $up"; return 1; }
    level_of_is vexlo_a "$(step_up 26214)" || { fail "the old default changed too"; return 1; }
    wait_until 4000 osd_hidden "$vpid" || { fail "display still up"; return 1; }
    set_sink_level vexlo_a 10000
    no_display_for 800 || { fail "a change of the old default was shown"; return 1; }
    set_sink_level vexlo_b 52000
    check_display "$vpid" 52000 "$kind-outside" || return 1
}

# The server comes after Vexlo (pipewire) or is restarted under it (pipewire-alsa,
# pipewire-bare), with the level of before, which WirePlumber restores a moment after the
# server is up: no display; a real change afterwards shows.
server_back_shows_nothing() {
    local before shown
    if [ "$kind" = pipewire ]; then
        # The level of the last session, which WirePlumber keeps.
        start_server "$server" || { fail "the sound server did not start"; return 1; }
        set_sink_level vexlo_a 30000
        sleep 2
        stop_servers
        # As at login: the session's autostart runs a while before the sound server, and
        # WirePlumber restores the level a moment after pipewire-pulse is up.
        start_vexlo
        wait_until 5000 has_tray_icon "$vpid" || { fail "no tray icon"; return 1; }
        sleep 5
        watch_displays
        wireplumber_delay=1 start_server "$server" || { fail "the sound server did not start"; return 1; }
        wait_until 3000 level_of_is vexlo_a 30000 ||
            { fail "the level was not restored: $(sink_level vexlo_a), not 30000"; return 1; }
    else
        start_server "$server" || { fail "the sound server did not start"; return 1; }
        set_sink_level vexlo_a 30000
        sleep 2  # WirePlumber keeps the level for the restart after a moment
        start_vexlo
        wait_until 5000 has_tray_icon "$vpid" || { fail "no tray icon"; return 1; }
        before=$(sink_level vexlo_a)
        watch_displays
        stop_servers
        sleep 0.5
        wireplumber_delay=1 start_server "$server" ||
            { fail "the sound server did not come back"; return 1; }
        [ "$(sink_level vexlo_a)" = "$before" ] ||
            { fail "the restarted server has level $(sink_level vexlo_a), not $before"; return 1; }
    fi
    # From the server's start until 3.5 s after it is up: a display while it came up would
    # have faded by then, and Vexlo takes what a server says in its first 3 s back as the
    # server settling, so that the change below is past that.
    sleep 3.5
    shown=$(displays_seen)
    [ "$shown" = 0 ] || { fail "a display with no change (seen $shown times, $kind-phantom.png)"; return 1; }
    set_sink_level vexlo_a 45000
    check_display "$vpid" 45000 "$kind-after-gap" || return 1
}

# Without a PulseAudio server the click goes through ALSA to the default output.
click_without_pulse() {
    local rec=$sdir/click.wav rpid amp
    start_server "$server" || { fail "the sound server did not start"; return 1; }
    set_sink_level vexlo_a 20000
    start_vexlo
    wait_until 5000 has_tray_icon "$vpid" || { fail "no tray icon"; return 1; }
    pw-record --target vexlo_a -P stream.capture.sink=true --rate 44100 --channels 1 \
        --format s16 "$rec" >/dev/null 2>&1 &
    rpid=$!
    pids+=("$rpid")
    # Recording once samples come (a tenth of a second past the header).
    wait_until 5000 eval '[ "$(stat -c %s "$rec" 2>/dev/null || echo 0)" -gt 8864 ]' ||
        { fail "the sink's monitor cannot be recorded"; return 1; }
    set_sink_level vexlo_a 50000
    check_display "$vpid" 50000 "$kind-click" || return 1
    sleep 1.5
    interrupt "$rpid"
    amp=$(sox "$rec" -n stat 2>&1 | awk '/Maximum amplitude/ { print int($3 * 1000) }')
    timings+=("$kind: the click's peak on the sink ${amp:-none}/1000")
    [ "${amp:-0}" -gt 30 ] || { fail "no click on the sink (peak ${amp:-none}/1000)"; return 1; }
    ! grep -q "cannot be played" "$sdir/vexlo.log" || { fail "$(cat "$sdir/vexlo.log")"; return 1; }
}

# Muting the default output, by another program or by the command: the display with an empty
# bar; unmuted, with the level's chunks again.
mute_is_followed() {
    local out code expect env=()
    [ "$kind" = pipewire-alsa ] && env=(ALSA_CONFIG_PATH="$alsa_conf")
    start_server "$server" || { fail "the sound server did not start"; return 1; }
    set_sink_level vexlo_a 40000
    start_vexlo
    wait_until 5000 has_tray_icon "$vpid" || { fail "no tray icon"; return 1; }
    pactl set-sink-mute vexlo_a 1
    check_display "$vpid" 40000 "$kind-muted" 0 || return 1
    wait_until 4000 osd_hidden "$vpid" || { fail "display still up"; return 1; }
    pactl set-sink-mute vexlo_a 0
    check_display "$vpid" 40000 "$kind-unmuted" || return 1
    for expect in yes no; do
        out=$(env "${env[@]}" timeout -k 2 10 env -u DISPLAY "$bin" --volume-mute 2>&1)
        code=$?
        [ "$code" = 0 ] && [ -z "$out" ] || { fail "--volume-mute: exit $code, '$out'"; return 1; }
        [ "$(pactl get-sink-mute vexlo_a)" = "Mute: $expect" ] ||
            { fail "--volume-mute: $(pactl get-sink-mute vexlo_a), expected $expect"; return 1; }
    done
}

# ---- Runner --------------------------------------------------------------------------------

run() {  # run SCENARIO PATH SERVER
    local name=$1 start status
    kind=$2
    server=$3
    # VEXLO_E2E_ONLY="name name:path ...": only those scenarios (on every path, or on one).
    [ -z "${VEXLO_E2E_ONLY:-}" ] || [[ " $VEXLO_E2E_ONLY " == *" $name "* ]] ||
        [[ " $VEXLO_E2E_ONLY " == *" $name:$kind "* ]] || return 0
    sdir=$work/$name-$kind
    mkdir -p "$sdir/runtime" "$sdir/config"
    chmod 700 "$sdir/runtime"
    export XDG_RUNTIME_DIR=$sdir/runtime XDG_CONFIG_HOME=$sdir/config
    export XDG_STATE_HOME=$sdir/state
    # As on a desktop without PulseAudio: nothing starts one on demand.
    printf 'autospawn = no\n' >"$sdir/client.conf"
    export PULSE_CLIENTCONFIG=$sdir/client.conf
    pipewire_sinks
    why=""
    start=$(now_ms)
    "$name"
    status=$?
    stop_pids "${pids[@]}"
    pids=()
    stop_servers
    local took=$(($(now_ms) - start))
    if [ $status -eq 0 ]; then
        passed=$((passed + 1))
        printf 'PASS %s [%s] (%d ms)\n' "$name" "$kind" "$took"
    else
        failed=$((failed + 1))
        printf 'FAIL %s [%s]: %s\n' "$name" "$kind" "${why:-failed}"
        [ -s "$sdir/vexlo.log" ] && sed 's/^/    vexlo: /' "$sdir/vexlo.log" | head -20
    fi
}

if [ ! -f "$lib/libasound_module_ctl_pipewire.so" ]; then
    echo "FAIL: pipewire-alsa is not unpacked in $pw_alsa (scripts/setup does it)"
    echo "0 passed, 1 failed"
    exit 1
fi

run default_output_is_followed pulseaudio pulseaudio
run default_output_is_followed pipewire pipewire
run default_output_is_followed pipewire-alsa pipewire
run server_back_shows_nothing pipewire pipewire
run server_back_shows_nothing pipewire-alsa pipewire
run server_back_shows_nothing pipewire-bare pipewire-bare
run click_without_pulse pipewire-bare pipewire-bare
run mute_is_followed pipewire pipewire
run mute_is_followed pipewire-alsa pipewire

printf '%s\n' "${timings[@]}"
echo "screenshots: $build/e2e-sound"
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
