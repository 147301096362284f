#!/usr/bin/env bash
# Idle cost of the Windows program under Wine beside its floor: CPU (% of one core) of
# vexlo.exe and of its wineserver over 20 s with nothing happening, beside the same for a bare
# Win32 program that wakes every 5 ms and reads the default endpoint's volume and mute
# (idle_floor.c, the floor), their ratio, and the size of the executable.
#
#   bench/win32/idle.sh BUILD_DIR [OTHER_BUILD_DIR]   (each holds vexlo.exe, e.g. build/win32)
#
# The floor (BUILD_DIR/src/platform/win32/bench/vexlo_idle_floor.exe) and each build run at the
# same time, each in a session of its own (desktop, sound server, Wine prefix and wineserver)
# over the same seconds, IDLE_ROUNDS times (default 3), and their means compared: on a machine
# with other work going on, runs one after the other differ by up to 15 %, runs at the same
# time see the same load. IDLE_SECONDS sets the length of a run. Displays are chosen free at
# run time.
set -u
here=$(cd "$(dirname "$0")" && pwd)
seconds=${IDLE_SECONDS:-20}

if [ "${1:-}" != --one ]; then
    [ -n "${1:-}" ] || { echo "usage: $0 BUILD_DIR [OTHER_BUILD_DIR]" >&2; exit 2; }
    a=$(cd "$1" && pwd)
    floor=$a/src/platform/win32/bench/vexlo_idle_floor.exe
    [ -f "$floor" ] || { echo "missing $floor (build the win32 preset)" >&2; exit 2; }
    runs=("F=$floor" "A=$a/vexlo.exe")
    echo "A: $a/vexlo.exe, $(stat -c %s "$a/vexlo.exe") bytes"
    if [ -n "${2:-}" ]; then
        b=$(cd "$2" && pwd)
        runs+=("B=$b/vexlo.exe")
        echo "B: $b/vexlo.exe, $(stat -c %s "$b/vexlo.exe") bytes"
    fi
    out=$(mktemp -d /tmp/vexlo-idle.XXXXXX)
    trap 'rm -rf "$out"' EXIT
    for round in $(seq "${IDLE_ROUNDS:-3}"); do
        # All measure from a moment far enough ahead for every session to have started.
        at=$(($(date +%s) + 45))
        for run in "${runs[@]}"; do
            ENV_DISPLAY=auto IDLE_AT=$at IDLE_LABEL=${run%%=*} bash "$0" --one "${run#*=}" \
                >"$out/${run%%=*}.log" 2>&1 &
        done
        wait
        for run in "${runs[@]}"; do
            l=${run%%=*}
            grep -q "^$l: idle" "$out/$l.log" || { cat "$out/$l.log"; exit 1; }
            grep "^$l: \(idle\|late\)" "$out/$l.log" | tee -a "$out/runs"
        done
    done
    # The means of each, and each build against the floor (the program and its wineserver).
    awk '$2 == "idle" { b = substr($1, 1, 1); v[b] += $6; w[b] += $9; n[b]++ }
        END {
            split("F A B", order, " ")
            for (i = 1; i <= 3; i++) {
                b = order[i]
                if (!n[b]) continue
                printf "mean %s (%d runs): exe %.2f %%, wineserver %.2f %%, both %.2f %%", b, n[b],
                    v[b] / n[b], w[b] / n[b], (v[b] + w[b]) / n[b]
                if (b != "F" && v["F"] + w["F"] > 0)
                    printf "; %.2f x the floor", (v[b] + w[b]) / (v["F"] + w["F"])
                printf "\n"
            }
        }' "$out/runs"
    exit 0
fi

exe=$(cd "$(dirname "$2")" && pwd)/$(basename "$2")
label=${IDLE_LABEL:-$(basename "$exe")}
export ENV_DISPLAY=${ENV_DISPLAY:-auto}
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
cp "$exe" "$here/../../skin/default/"* "$dir/"
name=$(basename "$exe")
(cd "$dir" && exec wine "$name" </dev/null >"$dir/program.log" 2>&1) &
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
        printf "%s: idle %.1f s, exe %.2f %%, wineserver %.2f %% of one core\n", l, t / 1000,
            100 * p / hz / (t / 1000), 100 * s / hz / (t / 1000) }'

