#!/usr/bin/env bash
# The time from a level change made through PipeWire (pactl against pipewire-pulse) to Vexlo's
# display, on both of PipeWire's paths: Vexlo reading through ALSA's pulse plugin
# (pipewire-pulse) and through pipewire-alsa. Starts its own X display, session bus and
# PipeWire (pipewire, pipewire-pulse, WirePlumber) in a private runtime folder and stops them
# again. Prints one line per path: "<path> <median> <min>..<max> <timeouts> <median from start>"
# in ms after pactl returned (the last from its start), over COUNT changes.
#
#   bench/linux/pipewire_latency.sh BUILD_DIR [COUNT]      (bench.sh runs it in the Debian 13 root)
# VEXLO_OSD_PROBE names the timing probe when BUILD_DIR has none of its own (an older build).
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
. "$root/tests/e2e/linux/lib.sh"

build=$(cd "$1" && pwd)
count=${2:-20}
probe=${VEXLO_OSD_PROBE:-$build/src/platform/linux/bench/vexlo_osd_latency}
pw_alsa=${VEXLO_PIPEWIRE_ALSA:-/opt/vexlo-test/pipewire-alsa}
work=$(mktemp -d /tmp/vexlo-pwbench.XXXXXX)
chmod 700 "$work"
pids=()
cleanup() {
    local reversed=() i
    for ((i = ${#pids[@]} - 1; i >= 0; i--)); do reversed+=("${pids[i]}"); done
    stop_pids "${reversed[@]}"
    rm -rf "$work"
}
trap cleanup EXIT

export XDG_RUNTIME_DIR=$work/runtime HOME=$work/home XDG_CONFIG_HOME=$work/home/config
mkdir -m 700 "$XDG_RUNTIME_DIR"
mkdir -p "$XDG_CONFIG_HOME/pipewire/pipewire.conf.d"
unset PULSE_SERVER WAYLAND_DISPLAY

exec 3>"$work/display"
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
pids+=($!)
exec 3>&-
wait_until 5000 test -s "$work/display" || { echo "no X display" >&2; exit 1; }
DISPLAY=":$(tr -dc 0-9 <"$work/display")"
export DISPLAY

test_bus_config "$work/bus.conf"
bus_out=$(dbus-daemon --config-file="$work/bus.conf" --fork --print-address=1 --print-pid=1) ||
    { echo "no session bus" >&2; exit 1; }
DBUS_SESSION_BUS_ADDRESS=$(sed -n 1p <<<"$bus_out")
export DBUS_SESSION_BUS_ADDRESS
pids+=("$(sed -n 2p <<<"$bus_out")")

# A sink processed all the time, as one that has played sound (PipeWire 1.4 holds back the
# volume changes of a sink that never ran).
cat >"$XDG_CONFIG_HOME/pipewire/pipewire.conf.d/vexlo-bench.conf" <<'EOF'
context.objects = [
    { factory = adapter
      args = { factory.name = support.null-audio-sink node.name = vexlo_bench
               node.description = vexlo_bench media.class = Audio/Sink
               audio.position = [ FL FR ] monitor.channel-volumes = true
               node.always-process = true } }
]
EOF
pipewire >"$work/pipewire.log" 2>&1 &
pids+=($!)
wait_until 5000 test -S "$XDG_RUNTIME_DIR/pipewire-0" || { echo "PipeWire did not start" >&2; exit 1; }
pipewire-pulse >"$work/pipewire-pulse.log" 2>&1 &
pids+=($!)
wireplumber >"$work/wireplumber.log" 2>&1 &
pids+=($!)
wait_until 10000 eval 'pactl info 2>/dev/null | grep -q "^Default Sink: vexlo_bench"' ||
    { echo "PipeWire has no default sink" >&2; exit 1; }
version=$(pactl info | sed -n 's/^Server Name: //p')

# pipewire-alsa's "default": the system's alsa.conf with its files in place of conf.d.
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

# stats FILE: median, min..max and the timeouts of the second column, and the first column's
# median.
median_of() {
    grep -v 'timeout\|failed' "$1" | awk -v c="$2" '{ print $c }' | sort -n |
        awk '{ v[NR] = $1 } END { if (NR == 0) print "n/a"; else printf "%.1f\n", NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}
stats() {
    local spread
    spread=$(grep -v 'timeout\|failed' "$1" | awk '{ print $2 }' | sort -n |
        awk 'NR == 1 { lo = $1 } { hi = $1 } END { if (NR) printf "%.1f..%.1f", lo, hi; else print "n/a" }')
    echo "$(median_of "$1" 2) $spread $(grep -c 'timeout\|failed' "$1") $(median_of "$1" 1)"
}

for path in pipewire-pulse pipewire-alsa; do
    env=()
    [ "$path" = pipewire-alsa ] && env=(ALSA_CONFIG_PATH="$alsa_conf")
    env "${env[@]}" "$build/vexlo" >"$work/vexlo-$path.log" 2>&1 &
    vpid=$!
    pids+=("$vpid")
    sleep 3
    "$probe" "$count" 1600 pactl set-sink-volume vexlo_bench %L >"$work/$path.txt"
    echo "$path $(stats "$work/$path.txt") $version"
    stop_pids "$vpid"
done
