#!/usr/bin/env bash
# Measures the Linux program on a virtual desktop with a private sound server and prints the
# results side by side: idle CPU over 20 s (percent of one core), resident memory, the time
# from a pactl level change to the display window being mapped (median of 20), and the cost
# of one master-level read (Google Benchmark, adapter alone, through the volume class, and
# the level with the mute as the watch reads them each tick).
#
#   bench/linux/bench.sh [BUILD_DIR]        default build/linux (built with the linux preset)
#   bench/linux/bench.sh BUILD_A BUILD_B    idle CPU of two builds compared: windows of 20 s,
#                                           A B B A A B ..., on the same session and sink;
#                                           each build's mean, its windows, and the difference
#
# VEXLO_BENCH_WINDOW (seconds, default 20) and VEXLO_BENCH_ROUNDS (pairs of windows, default
# 3) set the comparison's windows. Idle CPU is the CPU time of all the program's threads
# (/proc/PID/task/*/schedstat, in nanoseconds) over the wall time of the window.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)

if [ "${1:-}" != "--inside" ]; then
    [ $# -le 2 ] || { echo "usage: $0 [BUILD_DIR | BUILD_A BUILD_B]" >&2; exit 2; }
    builds=()
    for arg in "${@:-$root/build/linux}"; do
        b=$(cd "$arg" 2>/dev/null && pwd) || { echo "no build folder: $arg" >&2; exit 2; }
        [ -x "$b/vexlo" ] || { echo "missing $b/vexlo (build the linux preset first)" >&2; exit 2; }
        builds+=("$b")
    done
    if [ ${#builds[@]} = 1 ]; then
        [ -x "${builds[0]}/src/platform/linux/bench/vexlo_osd_latency" ] ||
            { echo "missing ${builds[0]}/src/platform/linux/bench/vexlo_osd_latency" >&2; exit 2; }
    fi
    exec env -u VEXLO_SESSION "$root/tests/e2e/linux/with-session.sh" --desktop "$0" --inside \
        "${builds[@]}"
fi

shift
sink=$VEXLO_SINK
export XDG_CONFIG_HOME=$HOME/config
pid=""
trap '[ -n "$pid" ] && { kill $pid 2>/dev/null; wait $pid 2>/dev/null; }' EXIT

# start_program BUILD: the resident program of that build, up once its tray icon is there and
# a second has passed; its PID in $pid.
start_program() {
    "$1/vexlo" >/dev/null 2>&1 &
    pid=$!
    for _ in $(seq 100); do
        [ -n "$(xdotool search --onlyvisible --pid $pid 2>/dev/null)" ] && break
        sleep 0.05
    done
    sleep 1
}
stop_program() {
    kill "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
    pid=""
}
# cpu_ns: the CPU time of all of $pid's threads so far.
cpu_ns() { cat /proc/"$pid"/task/*/schedstat 2>/dev/null | awk '{ n += $1 } END { print n + 0 }'; }
# idle_cpu SECONDS: percent of one core $pid takes while nothing changes.
idle_cpu() {
    local c0 c1 s0 s1
    c0=$(cpu_ns)
    s0=$(date +%s%N)
    sleep "$1"
    c1=$(cpu_ns)
    s1=$(date +%s%N)
    awk -v c=$((c1 - c0)) -v ns=$((s1 - s0)) 'BEGIN { printf "%.3f", 100 * c / ns }'
}
rss_mb() { awk '/VmRSS/ { printf "%.1f", $2 / 1024 }' "/proc/$pid/status"; }
# reads BUILD: the read costs of that build's mixer benchmark, "n/a" where it has none.
reads() {
    local tools=$1/src/platform/linux/bench csv=$HOME/reads.csv
    read_adapter="n/a"
    read_class="n/a"
    read_tick="n/a"
    [ -x "$tools/vexlo_mixer_bench" ] || return 0
    echo "Timing master-level reads ($1) ..." >&2
    "$tools/vexlo_mixer_bench" --benchmark_format=csv --benchmark_min_time=0.5 2>/dev/null >"$csv"
    read_adapter=$(awk -F, '/^"AdapterRead"/ { printf "%.0f ns", $4 }' "$csv")
    read_class=$(awk -F, '/^"VolumeLevelRead"/ { printf "%.0f ns", $4 }' "$csv")
    read_tick=$(awk -F, '/^"LevelAndMuteRead"/ { printf "%.0f ns", $4 }' "$csv")
    : "${read_tick:=n/a}"
}

if [ $# = 2 ]; then
    a=$1
    b=$2
    window=${VEXLO_BENCH_WINDOW:-20}
    rounds=${VEXLO_BENCH_ROUNDS:-3}
    cpu_a=()
    cpu_b=()
    rss_a=""
    rss_b=""
    for ((r = 0; r < rounds; r++)); do
        # A B, then B A: a drift of the machine's load weighs on both alike.
        order=(a b)
        [ $((r % 2)) = 1 ] && order=(b a)
        for which in "${order[@]}"; do
            if [ "$which" = a ]; then build=$a; else build=$b; fi
            echo "Round $((r + 1)) of $rounds: idle CPU of $which for $window s ..." >&2
            start_program "$build"
            value=$(idle_cpu "$window")
            if [ "$which" = a ]; then cpu_a+=("$value"); rss_a=$(rss_mb); else cpu_b+=("$value"); rss_b=$(rss_mb); fi
            stop_program
        done
    done
    mean() { printf '%s\n' "$@" | awk '{ s += $1 } END { printf "%.3f", s / NR }'; }
    spread() { printf '%s\n' "$@" | awk 'NR == 1 { lo = hi = $1 } { if ($1 < lo) lo = $1; if ($1 > hi) hi = $1 }
        END { printf "%.3f..%.3f", lo, hi }'; }
    mean_a=$(mean "${cpu_a[@]}")
    mean_b=$(mean "${cpu_b[@]}")
    reads "$a"
    reads_a="$read_adapter / $read_class / $read_tick"
    reads "$b"
    reads_b="$read_adapter / $read_class / $read_tick"
    printf '\n%-44s %s\n' "Vexlo (Linux) idle CPU, two builds" "$(date -u +%Y-%m-%dT%H:%MZ)"
    printf '%-44s %s\n' "A" "$a"
    printf '%-44s %s\n' "B" "$b"
    printf '%-44s %s\n' "windows" "$((2 * rounds)) x $window s, A B B A ..., one session and sink"
    printf '%-44s %s\n' "A: idle CPU, % of one core (mean, range)" "$mean_a % ($(spread "${cpu_a[@]}")): ${cpu_a[*]}"
    printf '%-44s %s\n' "B: idle CPU, % of one core (mean, range)" "$mean_b % ($(spread "${cpu_b[@]}")): ${cpu_b[*]}"
    printf '%-44s %s\n' "B against A" "$(awk -v a="$mean_a" -v b="$mean_b" 'BEGIN { if (a > 0) printf "%+.1f %%", 100 * (b - a) / a; else print "n/a" }')"
    printf '%-44s %s\n' "resident memory, A / B" "$rss_a MB / $rss_b MB"
    printf '%-44s %s\n' "reads A: adapter / class / level+mute" "$reads_a"
    printf '%-44s %s\n' "reads B: adapter / class / level+mute" "$reads_b"
    exit 0
fi

build=$1
tools=$build/src/platform/linux/bench
start_program "$build"

echo "Measuring idle CPU for 20 s ..." >&2
cpu=$(idle_cpu 20)
rss=$(rss_mb)

echo "Timing 20 level changes ..." >&2
"$tools/vexlo_osd_latency" "$sink" 20 1800 >"$HOME/latency.txt"
median() { sort -n | awk '{ v[NR] = $1 } END { if (NR == 0) print "n/a"; else if (NR % 2) printf "%.1f", v[(NR + 1) / 2]; else printf "%.1f", (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
from_start=$(grep -v timeout "$HOME/latency.txt" | awk '{print $1}' | median)
after_return=$(grep -v timeout "$HOME/latency.txt" | awk '{print $2}' | median)
timeouts=$(grep -c timeout "$HOME/latency.txt")
rss_after=$(rss_mb)

reads "$build"

printf '\n%-52s %s\n' "Vexlo (Linux) on Xvfb + openbox, PulseAudio null sink" "$(date -u +%Y-%m-%dT%H:%MZ)"
printf '%-52s %s\n' "idle CPU, % of one core (20 s)" "$cpu %"
printf '%-52s %s\n' "resident memory (idle / after 20 displays)" "$rss MB / $rss_after MB"
printf '%-52s %s\n' "pactl change -> display mapped, median of 20" "$after_return ms after pactl returned ($from_start ms from its start)"
[ "$timeouts" -gt 0 ] && printf '%-52s %s\n' "  changes without a display within 3 s" "$timeouts"
printf '%-52s %s\n' "one master-level read: ALSA adapter" "$read_adapter"
printf '%-52s %s\n' "one master-level read: volume class over the adapter" "$read_class"
printf '%-52s %s\n' "one tick's reads: the level, then the mute" "$read_tick"
