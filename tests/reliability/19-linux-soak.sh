#!/usr/bin/env bash
# Soak of the Linux program: for VEXLO_SOAK_SECONDS (600; 3600 with VEXLO_LONG=1) the level is
# changed through pactl every 300 ms, with a pause of 1.6 s after every 20 changes so that the
# display also fades out and hides, and a Super+= / Super+- pair every 30 changes. Resident
# memory (VmRSS) after a 30 s warm-up and at the end must differ by less than 1 MB, the open
# descriptors must not grow, the program must not end, and at the end the display must still
# follow a change with the matching bar and the tray menu must quit it.
# Own display :85 and sound server, so it may run beside the other soaks.
# Figures: build/reliability/19-linux-soak.md.
set -uo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
e2e=$root/tests/e2e/linux
name=$(basename "$0" .sh)

. "$e2e/lib.sh"
[ "${1:-}" = --inside ] || enter_session "$0" 85 --no-compositor
bin=${VEXLO_BIN:-$root/build/linux/vexlo}
seconds=${VEXLO_SOAK_SECONDS:-$([ "${VEXLO_LONG:-0}" = 1 ] && echo 3600 || echo 600)}
warmup=30
art=$root/build/reliability/$name
rm -rf "$art"
mkdir -p "$art"
work=$(mktemp -d /tmp/vexlo-rel-soak.XXXXXX)
export XDG_CONFIG_HOME=$work/config
vpid=""
trap '[ -n "$vpid" ] && kill -9 "$vpid" 2>/dev/null; rm -rf "$work"' EXIT

cpu_ticks() { awk '{print $14 + $15}' "/proc/$1/stat" 2>/dev/null; }
anon_kb() { awk '/^RssAnon:/ {print $2}' "/proc/$1/status" 2>/dev/null; }

pactl set-sink-volume "$sink" 30000
"$bin" >"$work/vexlo.log" 2>&1 &
vpid=$!
status=0
wait_until 5000 has_tray_icon "$vpid" || { fail "no tray icon at start"; status=1; }

start=$(now_ms)
end=$((start + seconds * 1000))
next_sample=$((start + warmup * 1000))
changes=0
hotkeys=0
rss0="" fd0="" anon0="" cpu0=""
samples=()
RANDOM=19
while [ "$status" = 0 ] && [ "$(now_ms)" -lt "$end" ]; do
    pactl set-sink-volume "$sink" $((RANDOM * 2))
    changes=$((changes + 1))
    if [ $((changes % 30)) = 0 ]; then
        xdotool key super+equal super+minus
        hotkeys=$((hotkeys + 2))
    fi
    if [ $((changes % 20)) = 0 ]; then sleep 1.6; else sleep 0.3; fi
    alive "$vpid" || { fail "vexlo ended after $(((($(now_ms) - start)) / 1000)) s"; status=1; break; }
    if [ "$(now_ms)" -ge "$next_sample" ]; then
        t=$((($(now_ms) - start) / 1000))
        rss=$(rss_kb "$vpid")
        fds=$(fd_count "$vpid")
        if [ -z "$rss0" ]; then
            rss0=$rss fd0=$fds anon0=$(anon_kb "$vpid") cpu0=$(cpu_ticks "$vpid") t0=$t
        fi
        samples+=("${t}s: VmRSS ${rss} kB, RssAnon $(anon_kb "$vpid") kB, ${fds} descriptors")
        next_sample=$(($(now_ms) + 60000))
    fi
done
elapsed=$((($(now_ms) - start) / 1000))
rss1=$(rss_kb "$vpid")
fd1=$(fd_count "$vpid")
anon1=$(anon_kb "$vpid")
cpu1=$(cpu_ticks "$vpid")
samples+=("${elapsed}s: VmRSS ${rss1:-?} kB, RssAnon ${anon1:-?} kB, ${fd1:-?} descriptors")

if [ "$status" = 0 ]; then
    if [ -z "$rss0" ]; then
        fail "the soak ended before its warm-up ($seconds s)"
        status=1
    elif [ $((rss1 - rss0)) -ge 1024 ]; then
        fail "VmRSS grew by $((rss1 - rss0)) kB"
        status=1
    elif [ "$fd1" -gt "$fd0" ]; then
        fail "descriptors grew from $fd0 to $fd1"
        status=1
    fi
fi
# Still responding: a change is shown with its bar, and the tray menu quits.
if [ "$status" = 0 ]; then
    wait_until 5000 osd_hidden "$vpid" || { fail "display still up at the end"; status=1; }
fi
if [ "$status" = 0 ]; then
    pactl set-sink-volume "$sink" 45000
    check_display "$vpid" 45000 end || status=1
fi
if [ "$status" = 0 ]; then
    wait_until 5000 osd_hidden "$vpid"
    quits "$vpid" || status=1
    vpid=""
fi
cpu_pct=$(awk -v a="${cpu0:-0}" -v b="${cpu1:-0}" -v s=$((elapsed - ${t0:-0})) -v hz="$(getconf CLK_TCK)" \
    'BEGIN { printf "%.1f", (s > 0 ? (b - a) * 100 / hz / s : 0) }')
summary="$elapsed s, $changes level changes, $hotkeys hotkey presses: VmRSS ${rss0:-?} -> ${rss1:-?} kB ($(( ${rss1:-0} - ${rss0:-0} )) kB), RssAnon ${anon0:-?} -> ${anon1:-?} kB, descriptors ${fd0:-?} -> ${fd1:-?}, CPU ${cpu_pct} % of one core"
if [ "$status" = 0 ]; then
    echo "PASS soak: $summary"
else
    echo "FAIL soak: $why ($summary)"
    sed 's/^/    vexlo: /' "$work/vexlo.log" | head -10
fi
{
    echo "## Linux: soak ($name)"
    echo
    echo "- Length: $elapsed s ($( [ "$seconds" -ge 3600 ] && echo long || echo "CI length, VEXLO_LONG=1 for an hour")); $changes level changes through pactl (every 300 ms, a 1.6 s pause after every 20 so the display also faded and hid) and $hotkeys hotkey presses."
    echo "- Load held: $([ "$status" = 0 ] && echo "no crash; at the end the display followed a change with the matching bar and Quit from the tray menu gave exit code 0" || echo "FAILED: $why")."
    echo "- Memory after the ${warmup} s warm-up and at the end: VmRSS ${rss0:-?} -> ${rss1:-?} kB ($(( ${rss1:-0} - ${rss0:-0} )) kB, limit < 1024 kB), RssAnon ${anon0:-?} -> ${anon1:-?} kB; open descriptors ${fd0:-?} -> ${fd1:-?}; CPU ${cpu_pct} % of one core during the soak."
    echo "- Found and fixed while building it: every level change made the tray icon a new QIcon, whose scaled pixmaps stayed in Qt's pixmap cache: VmRSS grew linearly, 4.5 MB in 10 minutes (about 3 kB a change), towards the cache's 10 MB limit. The tray adapter now keeps one QIcon per set of images."
    echo "- Samples:"
    for s in "${samples[@]}"; do echo "  - $s"; done
} >"$root/build/reliability/$name.md"
exit "$status"
