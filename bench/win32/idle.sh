#!/usr/bin/env bash
# Idle cost of the Windows program under Wine: CPU (% of one core) of vexlo.exe and of the
# wineserver over 20 s with nothing happening, and the size of the executable.
#
#   bench/win32/idle.sh BUILD_DIR [OTHER_BUILD_DIR]   (each holds vexlo.exe, e.g. build/win32)
#
# Two builds are measured at the same time, each in a session of its own (desktop, sound
# server, Wine prefix and wineserver) over the same seconds, IDLE_ROUNDS times (default 3),
# and their means compared: on a machine with other work going on, runs one after the other
# differ by up to 15 %, runs at the same time see the same load. IDLE_SECONDS sets the length
# of a run. Runs on its own private desktop and sound server (display ENV_DISPLAY, default 73,
# or "auto"; two builds take free displays).
set -u
here=$(cd "$(dirname "$0")" && pwd)
seconds=${IDLE_SECONDS:-20}

if [ -n "${2:-}" ]; then
    builds=("$(cd "$1" && pwd)" "$(cd "$2" && pwd)")
    out=$(mktemp -d /tmp/vexlo-idle.XXXXXX)
    trap 'rm -rf "$out"' EXIT
    echo "A: ${builds[0]}/vexlo.exe, $(stat -c %s "${builds[0]}/vexlo.exe") bytes"
    echo "B: ${builds[1]}/vexlo.exe, $(stat -c %s "${builds[1]}/vexlo.exe") bytes"
    for round in $(seq "${IDLE_ROUNDS:-3}"); do
        # Both measure from a moment far enough ahead for both sessions to have started.
        at=$(($(date +%s) + 45))
        ENV_DISPLAY=auto IDLE_AT=$at IDLE_LABEL=A bash "$0" "${builds[0]}" >"$out/A.log" 2>&1 &
        ENV_DISPLAY=auto IDLE_AT=$at IDLE_LABEL=B bash "$0" "${builds[1]}" >"$out/B.log" 2>&1 &
        wait
        for b in A B; do
            grep -q "^$b: idle" "$out/$b.log" || { cat "$out/$b.log"; exit 1; }
            grep "^$b: \(idle\|late\)" "$out/$b.log" | tee -a "$out/runs"
        done
    done
    # The means of each build, and B against A.
    awk '$2 == "idle" { b = substr($1, 1, 1); v[b] += $6; w[b] += $9; n[b]++ }
        END {
            for (i = 0; i < 2; i++) {
                b = i ? "B" : "A"
                printf "mean %s (%d runs): vexlo.exe %.2f %%, wineserver %.2f %%, both %.2f %%\n",
                    b, n[b], v[b] / n[b], w[b] / n[b], (v[b] + w[b]) / n[b]
            }
            printf "B against A: vexlo.exe %+.1f %%, wineserver %+.1f %%, both %+.1f %%\n",
                100 * (v["B"] / v["A"] - 1), 100 * (w["B"] / w["A"] - 1),
                100 * ((v["B"] + w["B"]) / (v["A"] + w["A"]) - 1)
        }' "$out/runs"
    exit 0
fi

build=$(cd "${1:?usage: idle.sh BUILD_DIR [OTHER_BUILD_DIR]}" && pwd)
label=${IDLE_LABEL:-vexlo.exe}
export ENV_DISPLAY=${ENV_DISPLAY:-73}
source "$here/../../tests/e2e/win32/env.sh"
pid=""
cleanup() {
    [ -n "$pid" ] && kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null
    env_stop
    env_cleanup
}
trap cleanup EXIT
env_start || exit 1

dir="$ENV_ROOT/program"
mkdir -p "$dir"
cp "$build/vexlo.exe" "$here/../../skin/default/"* "$dir/"
(cd "$dir" && exec wine vexlo.exe </dev/null >"$dir/program.log" 2>&1) &
pid=$!
sleep 5  # start-up done, tray icon added
if [ -n "${IDLE_AT:-}" ]; then
    late=$(($(date +%s) - IDLE_AT))
    if [ "$late" -gt 0 ]; then
        echo "$label: late by $late s: the runs overlap only in part"
    else
        sleep $((-late))
    fi
fi

ticks() { awk '{ print $14 + $15 }' "/proc/$1/stat" 2>/dev/null || echo 0; }
# Our prefix's wineserver works in a folder named server-DEV-INODE of the prefix folder.
server_dir=$(printf 'server-%x-%x' "$(stat -c %d "$WINEPREFIX")" "$(stat -c %i "$WINEPREFIX")")
server=""
for p in $(pgrep wineserver); do
    [ "$(basename "$(readlink "/proc/$p/cwd")")" = "$server_dir" ] && server=$p
done
[ -n "$server" ] || { echo "cannot find this prefix's wineserver" >&2; exit 1; }
# The Windows program runs in the process wine was started as (wine execs its loader).
echo "measuring $(tr -d '\0' <"/proc/$pid/cmdline" | head -c 60) (pid $pid), wineserver pid $server"
hz=$(getconf CLK_TCK)
p0=$(ticks "$pid")
s0=$(ticks "$server")
t0=$(date +%s%N)
sleep "$seconds"
p1=$(ticks "$pid")
s1=$(ticks "$server")
t1=$(date +%s%N)
awk -v l="$label" -v hz="$hz" -v t="$(((t1 - t0) / 1000000))" -v p="$((p1 - p0))" \
    -v s="$((s1 - s0))" 'BEGIN {
        printf "%s: idle %.1f s, vexlo.exe %.2f %%, wineserver %.2f %% of one core\n", l, t / 1000,
            100 * p / hz / (t / 1000), 100 * s / hz / (t / 1000) }'
echo "vexlo.exe size: $(stat -c %s "$build/vexlo.exe") bytes"
