#!/usr/bin/env bash
# Idle cost of the Windows program under Wine: CPU (% of one core) of vexlo.exe and of the
# wineserver over 20 s with nothing happening, and the size of the executable.
#
#   bench/win32/idle.sh BUILD_DIR      (BUILD_DIR holds vexlo.exe, e.g. build/win32)
#
# Runs on its own private desktop and sound server (display ENV_DISPLAY, default 73).
set -u
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:?usage: idle.sh BUILD_DIR}" && pwd)
seconds=${IDLE_SECONDS:-20}
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
elapsed=$(awk "BEGIN { print ($t1 - $t0) / 1e9 }")
printf 'idle for %.1f s\n' "$elapsed"
awk "BEGIN { printf \"vexlo.exe:  %.2f %% of one core\\n\", 100 * ($p1 - $p0) / $hz / $elapsed }"
awk "BEGIN { printf \"wineserver: %.2f %% of one core\\n\", 100 * ($s1 - $s0) / $hz / $elapsed }"
echo "vexlo.exe size: $(stat -c %s "$build/vexlo.exe") bytes"
