#!/usr/bin/env bash
# Measures the Linux program on a virtual desktop with a private sound server and prints, in
# one run:
#   - idle CPU (percent of one core) of Vexlo beside the floor's, measured over the same
#     seconds: the floor is a bare program that wakes every 5 ms on a timerfd and reads the same
#     ALSA master through the same plugin (idle_floor.c); their ratio; Vexlo's wake-ups per
#     second, resident memory (RSS) and proportional memory (PSS);
#   - the time from a level change to the display being mapped (median and spread of 20) for a
#     change written through ALSA (amixer), through PulseAudio (pactl), and through PipeWire 1.4
#     on both of its paths (in the Debian 13 root, when it is there: pipewire_latency.sh);
#   - the cost of one master-level read (Google Benchmark, when it was found at the build).
#
#   bench/linux/bench.sh [BUILD_DIR [OTHER_BUILD_DIR]]     default build/linux (linux preset)
#
# With OTHER_BUILD_DIR (an earlier build, say) that build runs as well, on an X display of its
# own beside the same sound server, over the same seconds, and is measured the same way.
# VEXLO_BENCH_WINDOW (seconds, default 20) and VEXLO_BENCH_ROUNDS (default 3) set the idle
# windows; VEXLO_BENCH_CHANGES (default 20) the changes timed per path. Idle CPU is the CPU time
# of all of a program's threads (/proc/PID/task/*/schedstat) over the wall time of the window;
# wake-ups are the voluntary context switches of all its threads.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)

if [ "${1:-}" != "--inside" ]; then
    [ $# -le 2 ] || { echo "usage: $0 [BUILD_DIR [OTHER_BUILD_DIR]]" >&2; exit 2; }
    builds=()
    for arg in "${@:-$root/build/linux}"; do
        b=$(cd "$arg" 2>/dev/null && pwd) || { echo "no build folder: $arg" >&2; exit 2; }
        [ -x "$b/vexlo" ] || { echo "missing $b/vexlo (build the linux preset first)" >&2; exit 2; }
        builds+=("$b")
    done
    tools=${builds[0]}/src/platform/linux/bench
    for t in vexlo_osd_latency vexlo_idle_floor; do
        [ -x "$tools/$t" ] || { echo "missing $tools/$t" >&2; exit 2; }
    done
    exec env -u VEXLO_SESSION "$root/tests/e2e/linux/with-session.sh" --desktop "$0" --inside \
        "${builds[@]}"
fi

shift
builds=("$@")
tools=${builds[0]}/src/platform/linux/bench
sink=$VEXLO_SINK
window=${VEXLO_BENCH_WINDOW:-20}
rounds=${VEXLO_BENCH_ROUNDS:-3}
changes=${VEXLO_BENCH_CHANGES:-20}
export XDG_CONFIG_HOME=$HOME/config
out=$HOME/bench
mkdir -p "$out"
pids=()
cleanup() {
    local p
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done
    for p in "${pids[@]}"; do wait "$p" 2>/dev/null; done
}
trap cleanup EXIT

# A second X display for another build (the program runs once per display).
extra_display() {
    local f=$out/display.$RANDOM
    Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$f" >/dev/null 2>&1 &
    pids+=($!)
    for _ in $(seq 100); do
        [ -s "$f" ] && break
        sleep 0.05
    done
    echo ":$(tr -dc 0-9 <"$f")"
}

# The programs: the floor, then each build with its display.
"$tools/vexlo_idle_floor" &
floor=$!
pids+=("$floor")
vexlo=()
displays=()
for i in "${!builds[@]}"; do
    d=$DISPLAY
    [ "$i" -gt 0 ] && d=$(extra_display)
    DISPLAY=$d "${builds[i]}/vexlo" >"$out/vexlo-$i.log" 2>&1 &
    vexlo+=($!)
    pids+=($!)
    displays+=("$d")
done
for i in "${!builds[@]}"; do
    for _ in $(seq 100); do
        [ -n "$(DISPLAY=${displays[i]} xdotool search --onlyvisible --pid "${vexlo[i]}" 2>/dev/null)" ] && break
        sleep 0.05
    done
done
sleep 2

cpu_ns() { cat /proc/"$1"/task/*/schedstat 2>/dev/null | awk '{ n += $1 } END { print n + 0 }'; }
wakeups() { cat /proc/"$1"/task/*/status 2>/dev/null | awk '/^voluntary_ctxt_switches/ { n += $2 } END { print n + 0 }'; }
rss_mb() { awk '/^VmRSS/ { printf "%.1f", $2 / 1024 }' "/proc/$1/status"; }
pss_mb() { awk '/^Pss:/ { printf "%.1f", $2 / 1024 }' "/proc/$1/smaps_rollup"; }

# Idle: every program over the same windows.
all=("$floor" "${vexlo[@]}")
declare -A cpu wake
for ((r = 1; r <= rounds; r++)); do
    echo "Idle window $r of $rounds ($window s) ..." >&2
    declare -A c0 w0
    for p in "${all[@]}"; do
        c0[$p]=$(cpu_ns "$p")
        w0[$p]=$(wakeups "$p")
    done
    t0=$(date +%s%N)
    sleep "$window"
    t1=$(date +%s%N)
    for p in "${all[@]}"; do
        cpu[$p]+="$(awk -v c=$(($(cpu_ns "$p") - c0[$p])) -v t=$((t1 - t0)) 'BEGIN { printf "%.3f", 100 * c / t }') "
        wake[$p]+="$(awk -v w=$(($(wakeups "$p") - w0[$p])) -v t=$((t1 - t0)) 'BEGIN { printf "%.0f", w / (t / 1e9) }') "
    done
done
mean() { echo "$1" | tr ' ' '\n' | awk 'NF { s += $1; n++ } END { printf "%.3f", s / n }'; }

# Latency, one build after the other on its own display.
median_spread() {  # FILE COLUMN: "median (min..max)"
    grep -v 'timeout\|failed' "$1" | awk -v c="$2" '{ print $c }' | sort -n | awk '
        { v[NR] = $1 }
        END {
            if (NR == 0) { print "n/a"; exit }
            printf "%.1f (%.1f..%.1f)", NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2, v[1], v[NR]
        }'
}
declare -A latency
for i in "${!builds[@]}"; do
    echo "Timing $changes changes through ALSA and PulseAudio (${builds[i]}) ..." >&2
    DISPLAY=${displays[i]} "$tools/vexlo_osd_latency" "$changes" 1600 amixer -q sset Master %L >"$out/alsa-$i.txt"
    DISPLAY=${displays[i]} "$tools/vexlo_osd_latency" "$changes" 1600 pactl set-sink-volume "$sink" %L >"$out/pulse-$i.txt"
    latency[alsa-$i]=$(median_spread "$out/alsa-$i.txt" 2)
    latency[pulse-$i]=$(median_spread "$out/pulse-$i.txt" 2)
    latency[pulse-start-$i]=$(median_spread "$out/pulse-$i.txt" 1)
    latency[alsa-timeouts-$i]=$(grep -c 'timeout\|failed' "$out/alsa-$i.txt")
    latency[pulse-timeouts-$i]=$(grep -c 'timeout\|failed' "$out/pulse-$i.txt")
done
rss=()
pss=()
for p in "${vexlo[@]}"; do
    rss+=("$(rss_mb "$p")")
    pss+=("$(pss_mb "$p")")
done
pipewire=()
if "$root/scripts/debian13" present 2>/dev/null; then
    for i in "${!builds[@]}"; do
        echo "Timing $changes changes through PipeWire 1.4 (${builds[i]}) ..." >&2
        pipewire+=("$("$root/scripts/debian13" run env VEXLO_OSD_PROBE="$tools/vexlo_osd_latency" \
            "$here/pipewire_latency.sh" "${builds[i]}" "$changes" 2>/dev/null)")
    done
fi

reads() {  # BUILD: the read costs of that build's mixer benchmark, "n/a" where it has none
    local t=$1/src/platform/linux/bench csv=$out/reads.csv
    [ -x "$t/vexlo_mixer_bench" ] || { echo "n/a"; return; }
    "$t/vexlo_mixer_bench" --benchmark_format=csv --benchmark_min_time=0.5 2>/dev/null >"$csv"
    awk -F, '/^"AdapterRead"/ { a = $4 } /^"VolumeLevelRead"/ { c = $4 } /^"LevelAndMuteRead"/ { t = $4 }
        END { printf "%.0f ns / %.0f ns / %.0f ns", a, c, t }' "$csv"
}

row() { printf '%-52s %s\n' "$1" "$2"; }
floor_mean=$(mean "${cpu[$floor]}")
printf '\nVexlo (Linux) on Xvfb + openbox, PulseAudio null sink   %s\n' "$(date -u +%Y-%m-%dT%H:%MZ)"
row "floor (5 ms timerfd + ALSA read), % of one core" "$floor_mean % (windows: ${cpu[$floor]% }), ${wake[$floor]% } wake-ups/s"
for i in "${!builds[@]}"; do
    p=${vexlo[i]}
    m=$(mean "${cpu[$p]}")
    echo
    row "build" "${builds[i]}"
    row "idle CPU, % of one core ($rounds x $window s)" "$m % (windows: ${cpu[$p]% })"
    row "against the floor, same seconds" "$(awk -v a="$m" -v f="$floor_mean" 'BEGIN { printf "%.2f x", a / f }')"
    row "wake-ups per second (all threads)" "${wake[$p]% }"
    row "memory after the changes: RSS / PSS" "${rss[i]} MB / ${pss[i]} MB"
    row "ALSA change (amixer) -> display, ms" "${latency[alsa-$i]} after amixer returned, of $changes$([ "${latency[alsa-timeouts-$i]}" -gt 0 ] && echo ", ${latency[alsa-timeouts-$i]} without a display")"
    row "PulseAudio change (pactl) -> display, ms" "${latency[pulse-$i]} after pactl returned; ${latency[pulse-start-$i]} from its start$([ "${latency[pulse-timeouts-$i]}" -gt 0 ] && echo "; ${latency[pulse-timeouts-$i]} without a display")"
    if [ -n "${pipewire[i]:-}" ]; then
        while read -r path med spread timeouts start server; do
            row "PipeWire ($path) change -> display, ms" "$med ($spread) after pactl returned; $start from its start${server:+ [$server]}$([ "$timeouts" != 0 ] && echo "; $timeouts without a display")"
        done <<<"${pipewire[i]}"
    else
        row "PipeWire change -> display" "n/a (no Debian 13 root: scripts/debian13 setup)"
    fi
    row "reads: adapter / volume class / level+mute" "$(reads "${builds[i]}")"
done
