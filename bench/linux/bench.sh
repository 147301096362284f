#!/usr/bin/env bash
# Measures the Linux program on a virtual desktop with a private sound server and prints the
# results side by side: idle CPU over 20 s (percent of one core), resident memory, the time
# from a pactl level change to the display window being mapped (median of 20), and the cost
# of one master-level read (Google Benchmark, adapter alone and through the volume class).
#
#   bench/linux/bench.sh [BUILD_DIR]        default build/linux (built with the linux preset)
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)

if [ "${1:-}" != "--inside" ]; then
    build=$(cd "${1:-$root/build/linux}" 2>/dev/null && pwd) || { echo "no build folder" >&2; exit 2; }
    for f in vexlo src/platform/linux/bench/vexlo_osd_latency; do
        [ -x "$build/$f" ] || { echo "missing $build/$f (build the linux preset first)" >&2; exit 2; }
    done
    exec env -u VEXLO_SESSION "$root/tests/e2e/linux/with-session.sh" --desktop "$0" --inside "$build"
fi

build=$2
sink=$VEXLO_SINK
tools=$build/src/platform/linux/bench
export XDG_CONFIG_HOME=$HOME/config

"$build/vexlo" >/dev/null 2>&1 &
pid=$!
trap 'kill $pid 2>/dev/null; wait $pid 2>/dev/null' EXIT
# Up once its tray icon is there.
for _ in $(seq 100); do
    [ -n "$(xdotool search --onlyvisible --pid $pid 2>/dev/null)" ] && break
    sleep 0.05
done
sleep 1

echo "Measuring idle CPU for 20 s ..." >&2
ticks() { awk '{print $14 + $15}' "/proc/$pid/stat"; }
hz=$(getconf CLK_TCK)
t0=$(ticks)
s0=$(date +%s%N)
sleep 20
t1=$(ticks)
s1=$(date +%s%N)
cpu=$(awk -v d=$((t1 - t0)) -v hz="$hz" -v ns=$((s1 - s0)) 'BEGIN { printf "%.2f", 100 * d / hz / (ns / 1e9) }')
rss=$(awk '/VmRSS/ { printf "%.1f", $2 / 1024 }' "/proc/$pid/status")

echo "Timing 20 level changes ..." >&2
"$tools/vexlo_osd_latency" "$sink" 20 1800 >"$HOME/latency.txt"
median() { sort -n | awk '{ v[NR] = $1 } END { if (NR == 0) print "n/a"; else if (NR % 2) printf "%.1f", v[(NR + 1) / 2]; else printf "%.1f", (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
from_start=$(grep -v timeout "$HOME/latency.txt" | awk '{print $1}' | median)
after_return=$(grep -v timeout "$HOME/latency.txt" | awk '{print $2}' | median)
timeouts=$(grep -c timeout "$HOME/latency.txt")
rss_after=$(awk '/VmRSS/ { printf "%.1f", $2 / 1024 }' "/proc/$pid/status")

read_adapter="n/a"
read_class="n/a"
if [ -x "$tools/vexlo_mixer_bench" ]; then
    echo "Timing master-level reads ..." >&2
    "$tools/vexlo_mixer_bench" --benchmark_format=csv --benchmark_min_time=0.5 2>/dev/null >"$HOME/reads.csv"
    read_adapter=$(awk -F, '/^"AdapterRead"/ { printf "%.0f ns", $4 }' "$HOME/reads.csv")
    read_class=$(awk -F, '/^"VolumeLevelRead"/ { printf "%.0f ns", $4 }' "$HOME/reads.csv")
fi

printf '\n%-52s %s\n' "Vexlo (Linux) on Xvfb + openbox, PulseAudio null sink" "$(date -u +%Y-%m-%dT%H:%MZ)"
printf '%-52s %s\n' "idle CPU, % of one core (20 s)" "$cpu %"
printf '%-52s %s\n' "resident memory (idle / after 20 displays)" "$rss MB / $rss_after MB"
printf '%-52s %s\n' "pactl change -> display mapped, median of 20" "$after_return ms after pactl returned ($from_start ms from its start)"
[ "$timeouts" -gt 0 ] && printf '%-52s %s\n' "  changes without a display within 3 s" "$timeouts"
printf '%-52s %s\n' "one master-level read: ALSA adapter" "$read_adapter"
printf '%-52s %s\n' "one master-level read: volume class over the adapter" "$read_class"
