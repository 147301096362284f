#!/usr/bin/env bash
# The hotkeys under load: 1000 presses of Super+= and Super+- sent as fast as xdotool sends
# them, in batches of 100-200 (runs up to the top, down to the floor, alternations and a
# seeded random mix). After each batch the level must be exactly what the program's rules
# give for that sequence of steps: a step of 65536/17 rounded half to even, limited to the
# top (65536) by the mixer adapter, and no step down from 3855 or below. No crash, and the
# display ends hidden. Display :81. Figures: build/reliability/14-linux-load.md.
set -uo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
e2e=$root/tests/e2e/linux
name=$(basename "$0" .sh)

. "$e2e/lib.sh"
[ "${1:-}" = --inside ] || enter_session "$0" 81 --no-compositor
bin=${VEXLO_BIN:-$root/build/linux/vexlo}
work=$(mktemp -d /tmp/vexlo-rel-load.XXXXXX)
export XDG_CONFIG_HOME=$work/config
vpid=""
trap '[ -n "$vpid" ] && kill -9 "$vpid" 2>/dev/null; rm -rf "$work"' EXIT

# The batches: a name and a word per press, u(p) or d(own).
python3 - >"$work/batches" <<'PY'
import random
random.seed(14)
batches = [
    ("up past the top", "u" * 100),
    ("down to the floor", "d" * 100),
    ("up from the floor", "u" * 100),
    ("alternating", "ud" * 100),
    ("down again", "d" * 100),
    ("up, up, down", ("uud" * 34)[:100]),
    ("up to the top", "u" * 100),
    ("random mix", "".join(random.choice("ud") for _ in range(200))),
]
for name, presses in batches:
    print(name + "\t" + presses)
PY

expected_after() {  # expected_after LEVEL PRESSES: the level the rules give
    python3 - "$1" "$2" <<'PY'
import sys
level, step = int(sys.argv[1]), 65536 / 17
for p in sys.argv[2]:
    if p == "u":
        level = min(round(step + level), 65536)
    elif step < level:
        level = round(level - step)
print(level)
PY
}

pactl set-sink-volume "$sink" 30000
"$bin" >"$work/vexlo.log" 2>&1 &
vpid=$!
status=0
why=""
wait_until 5000 has_tray_icon "$vpid" || { fail "no tray icon"; status=1; }
level_now=30000
total=0
send_ms=0
settle_ms=0
slowest=""
lines=()
while [ "$status" = 0 ] && IFS=$'\t' read -r batch presses; do
    expect=$(expected_after "$level_now" "$presses")
    keys=$(sed 's/u/super+equal /g; s/d/super+minus /g' <<<"$presses")
    t0=$(now_ms)
    # shellcheck disable=SC2086
    xdotool key --delay 0 $keys
    t1=$(now_ms)
    # Done when the level is the expected one (polled without pause) and stays so for 0.3 s:
    # an alternating batch passes through the expected level on its way.
    t2=""
    while [ "$(now_ms)" -lt $((t0 + 20000)) ]; do
        if level_is "$expect"; then
            [ -n "$t2" ] || t2=$(now_ms)
            [ $(($(now_ms) - t2)) -ge 300 ] && break
        else
            t2=""
        fi
    done
    if [ -z "$t2" ] || ! level_is "$expect"; then
        fail "$batch: level $(level), expected $expect"
        status=1
        break
    fi
    alive "$vpid" || { fail "$batch: vexlo ended"; status=1; break; }
    n=${#presses}
    total=$((total + n))
    send_ms=$((send_ms + t1 - t0))
    settle_ms=$((settle_ms + t2 - t0))
    rate=$((n * 1000 / (t2 - t0 > 0 ? t2 - t0 : 1)))
    [ -z "$slowest" ] || [ "$rate" -lt "$slowest" ] && slowest=$rate
    lines+=("$batch: $n presses, $level_now -> $expect, sent in $((t1 - t0)) ms, level final after $((t2 - t0)) ms")
    echo "  $batch: $n presses, $level_now -> $expect ($((t2 - t0)) ms)"
    level_now=$expect
done <"$work/batches"

if [ "$status" = 0 ]; then
    wait_until 5000 osd_hidden "$vpid" || { fail "the display is still shown 5 s after the last press"; status=1; }
fi
if [ "$status" = 0 ]; then
    quits "$vpid" || status=1
    vpid=""
fi
rate_sent=$(awk -v n="$total" -v ms="$send_ms" 'BEGIN { printf "%.0f", (ms > 0 ? n * 1000 / ms : 0) }')
rate_done=$(awk -v n="$total" -v ms="$settle_ms" 'BEGIN { printf "%.0f", (ms > 0 ? n * 1000 / ms : 0) }')
if [ "$status" = 0 ]; then
    echo "PASS $total hotkey presses: every batch ended on the computed level ($rate_sent presses/s sent, $rate_done/s applied)"
else
    echo "FAIL hotkey load: $why"
    sed 's/^/    vexlo: /' "$work/vexlo.log" | head -10
fi
{
    echo "## Linux: hotkeys under load ($name)"
    echo
    echo "- Cases tried: $total presses of Super+= and Super+- in ${#lines[@]} batches sent by \`xdotool key --delay 0\`; $([ "$status" = 0 ] && echo "every batch ended exactly on the level the rules give (step 65536/17 rounded half to even, limited to 65536 at the top, no step down from 3855 or below)" || echo "FAILED: $why")."
    echo "- Load held: $rate_sent presses/s sent by xdotool, $rate_done presses/s applied (from the first press of a batch to its final level in the sink, polled with pactl, summed over the batches; the slowest batch ${slowest:-?} presses/s); no crash, the display hidden again after the last batch, Quit from the tray menu with exit code 0."
    for l in "${lines[@]}"; do echo "  - $l"; done
} >"$root/build/reliability/$name.md"
exit "$status"
