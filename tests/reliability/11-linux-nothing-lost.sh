#!/usr/bin/env bash
# Nothing lost when the program is killed while it saves: the real "vexlo /control" is
# started, its slider double-clicked (which quits and saves the position into core.ini) and
# killed with SIGKILL at a random moment, round after round for up to VEXLO_LOST_SECONDS
# (60) or VEXLO_LOST_ROUNDS (600). Each round starts from a core.ini whose position is not a
# whole number of pixels, so the save changes it. After every round core.ini must be the old
# file with x and y each old or new, byte for byte: every other line, the comments and the
# line endings kept. (The save writes x, then y, each write atomic on its own: a kill between
# the two leaves the new x with the old y.) Display :81. Figures: build/reliability/<name>.md.
set -uo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
e2e=$root/tests/e2e/linux
name=$(basename "$0" .sh)

. "$e2e/lib.sh"
[ "${1:-}" = --inside ] || enter_session "$0" 81 --no-compositor
bin=${VEXLO_BIN:-$root/build/linux/vexlo}
seconds=${VEXLO_LOST_SECONDS:-60}
max_rounds=${VEXLO_LOST_ROUNDS:-600}
work=$(mktemp -d /tmp/vexlo-rel-lost.XXXXXX)
clicker=""
vpid=""
cleanup() {
    [ -n "$clicker" ] && kill "$clicker" 2>/dev/null
    [ -n "$vpid" ] && kill -9 "$vpid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
export XDG_CONFIG_HOME=$work/config
ini=$XDG_CONFIG_HOME/vexlo/core.ini
mkdir -p "$XDG_CONFIG_HOME/vexlo"

# Variants of the file: the old one, and what the save makes of it. A position of 15k + r
# twips (r not 0) opens the window at the nearest pixel, which the save writes as 15 times
# the pixel.
python3 - "$work" <<'PY'
import random, sys
work = sys.argv[1]
random.seed(11)
for i in range(24):
    def pos(limit):
        k = random.randrange(2, limit)
        r = random.choice([1, 2, 3, 4, 5, 6, 8, 9, 10, 11, 12, 13, 14])
        old = 15 * k + r
        new = 15 * (k + (1 if r > 7 else 0))
        return old, new
    (x, nx), (y, ny) = pos(900), pos(560)
    head = ("; Vexlo settings\r\n[general]\r\nontop=1\r\ntrayicon=1\r\n"
            "; a comment that stays\n[mixer]\nmixeronleftclick=0\npathtomixer=\"/usr/bin/pavucontrol\" --tab=3\n")
    tail = "[extra]\nkept=%d\n; the last line has no line end" % i
    old = head + "[pos]\r\nx=%d\r\ny=%d\r\n" % (x, y) + tail
    new = head + "[pos]\r\nx=%d\r\ny=%d\r\n" % (nx, ny) + tail
    open("%s/old.%d" % (work, i), "w", newline="").write(old)
    open("%s/new.%d" % (work, i), "w", newline="").write(new)
    mixed = head + "[pos]\r\nx=%d\r\ny=%d\r\n" % (nx, y) + tail
    open("%s/mixed.%d" % (work, i), "w", newline="").write(mixed)
PY

# Double-clicks where the slider will be, until the process is gone: the window maps at
# the position of the file, and a press outside the knob's column is the window's own.
click_until_gone() {  # PID X Y
    while kill -0 "$1" 2>/dev/null; do
        xdotool mousemove "$2" "$3" mousedown 1 mouseup 1 sleep 0.06 mousedown 1 mouseup 1 \
            2>/dev/null
        sleep 0.03
    done
}

rounds=0 killed=0 killed_old=0 killed_new=0 killed_mixed=0 completed=0 bad=0 crashed=0
first_bad=""
start=$(now_ms)
end=$((start + seconds * 1000))
while [ "$rounds" -lt "$max_rounds" ] && [ "$(now_ms)" -lt "$end" ]; do
    v=$((rounds % 24))
    # The test's own files: without them every later round would count as damage.
    if [ ! -f "$work/old.$v" ]; then
        bad=$((bad + 1))
        first_bad="round $rounds: the test's folder $work lost its files (removed from outside)"
        break
    fi
    cp "$work/old.$v" "$ini.setup" && mv "$ini.setup" "$ini"
    read -r px py < <(sed -n 's/^x=\([0-9]*\)\r$/\1/p; s/^y=\([0-9]*\)\r$/\1/p' "$ini" |
        awk 'NR == 1 {x = $1} NR == 2 {y = $1} END {printf "%d %d\n", x / 15 + 3, y / 15 + 55}')
    # Half of the kills anywhere in the round, half around the save (the round takes about
    # 200 ms, the save comes near its end).
    if [ $((RANDOM % 2)) = 0 ]; then delay=$((RANDOM % 260)); else delay=$((140 + RANDOM % 100)); fi
    "$bin" /control >/dev/null 2>&1 &
    vpid=$!
    click_until_gone "$vpid" "$px" "$py" &
    clicker=$!
    sleep "$(printf '0.%03d' "$delay")"
    if kill -9 "$vpid" 2>/dev/null; then was_killed=1; else was_killed=0; fi
    { wait "$vpid"; } 2>/dev/null
    code=$?
    vpid=""
    kill "$clicker" 2>/dev/null
    wait "$clicker" 2>/dev/null
    clicker=""
    rounds=$((rounds + 1))
    # A kill that raced the process's own end still finds it ended by itself.
    if [ "$code" = 137 ]; then
        killed=$((killed + 1))
    elif [ "$code" = 0 ]; then
        completed=$((completed + 1))
    else
        crashed=$((crashed + 1))
        [ -z "$first_bad" ] && first_bad="round $rounds: exit code $code"
    fi
    if cmp -s "$ini" "$work/old.$v"; then
        state=old
    elif cmp -s "$ini" "$work/new.$v"; then
        state=new
    elif cmp -s "$ini" "$work/mixed.$v"; then
        state=mixed
    else
        state=bad
        bad=$((bad + 1))
        [ -z "$first_bad" ] && first_bad="round $rounds: core.ini is neither the old nor the new file" &&
            cp "$ini" "$root/build/reliability/$name-bad-core.ini" 2>/dev/null
    fi
    if [ "$code" = 137 ]; then
        [ "$state" = old ] && killed_old=$((killed_old + 1))
        [ "$state" = new ] && killed_new=$((killed_new + 1))
        [ "$state" = mixed ] && killed_mixed=$((killed_mixed + 1))
    elif [ "$code" = 0 ] && [ "$state" != new ]; then
        bad=$((bad + 1))
        [ -z "$first_bad" ] && first_bad="round $rounds: quit normally but core.ini is $state"
    fi
done
took=$((($(now_ms) - start) / 1000))
temp_left=$(find "$XDG_CONFIG_HOME/vexlo" -name '.core.ini.vexlo-*' | wc -l)

status=0
[ "$bad" -eq 0 ] && [ "$crashed" -eq 0 ] && [ "$rounds" -ge 100 ] && [ "$killed_new" -gt 0 ] &&
    [ "$killed_old" -gt 0 ] || status=1
line="$rounds rounds in ${took} s: $killed killed (core.ini old $killed_old, new $killed_new, new x with old y $killed_mixed), $completed saved and quit, $bad damaged, $crashed other exits, $temp_left temporary files left"
if [ "$status" = 0 ]; then
    echo "PASS slider save under SIGKILL: $line"
else
    echo "FAIL slider save under SIGKILL: $line${first_bad:+; first: $first_bad}"
fi
{
    echo "## Linux: nothing lost when killed while saving ($name)"
    echo
    echo "- Cases tried: $rounds rounds in ${took} s of the real \`vexlo /control\` opened, double-clicked (quit with the position save) and killed with SIGKILL at a random moment (half anywhere in the ~200 ms round, half around the save); the file had CRLF and LF lines, comments, quotes, other sections and no line end at its end."
    echo "- Faults survived: $killed SIGKILLs; after $killed_old of them core.ini was the old file, after $killed_new (killed after the save) the new one, after $killed_mixed (killed between the write of x and that of y) the new x with the old y; $completed rounds quit and saved normally."
    echo "- Anything lost: $bad files damaged (must be 0: every check is byte for byte against the old file with x and y each old or new); $crashed exits other than 0 or SIGKILL."
    echo "- Temporary files (.core.ini.vexlo-XXXXXX) left by kills that landed inside a write (between the temporary file and the rename): $temp_left at the end, and core.ini was whole after each. A later save removes those older than a minute; a user's own files such as core.ini.backup are never touched."
} >"$root/build/reliability/$name.md"
exit "$status"
