#!/usr/bin/env bash
# Soak of the Windows program under Wine: a level change every 300 ms for VEXLO_SOAK_SECONDS
# (default 600; VEXLO_LONG=1: 3600), through the program's own hotkeys, alternating up and
# down across the boundary of two tray pictures (12 and 13 chunks: icon2 and icon3, a chunk
# change and so the click sound each time). Outside programs cannot change the level under
# Wine (it keeps the winmm master per process).
# Checked: the resident memory of vexlo.exe grows by less than 1 MB from the end of a 30 s
# warm-up to the end; no crash; the display still follows the level at the end and then
# goes; no growth of GDI objects (counted in the process's GDI handle table from outside by
# vexlo_probe, since GetGuiResources answers nothing under Wine), of its windows, of the
# process's open files (/proc/PID/fd) and of the wineserver's; a clean quit at the end.
# Runs on its own display (:89), sound server and Wine prefix, so it can run beside the Linux
# soak. Figures: build/reliability/29-win32-soak.md.
set -uo pipefail
name=$(basename "$0" .sh)
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../e2e/win32/rel_lib.sh"
soak=${VEXLO_SOAK_SECONDS:-600}
[ "${VEXLO_LONG:-0}" = 1 ] && [ -z "${VEXLO_SOAK_SECONDS:-}" ] && soak=3600
warmup=30
period_ms=300
rss_limit_kb=1024
started=$(now_ms)
rel_init "$name" 89

dir=$(case_folder soak)
case_start "$dir"
pid=$CASE_PID
wait_until 15000 focus_wine || { echo "FAIL $name: no tray icon within 15 s"; exit 1; }
sleep 0.5
match=$(case_match "$dir")

# This prefix's wineserver: the one whose working folder belongs to the prefix.
server_dir=$(printf 'server-%x-%x' "$(stat -c %d "$WINEPREFIX")" "$(stat -c %i "$WINEPREFIX")")
server=""
for p in $(pgrep -f wineserver); do
    [ "$(basename "$(readlink "/proc/$p/cwd" 2>/dev/null)")" = "$server_dir" ] && server=$p
done
[ -n "$server" ] || fail "cannot find this prefix's wineserver"
fds() { ls "/proc/$1/fd" 2>/dev/null | wc -l; }
stat_of() { sed -n "s/.* $2=\\([-0-9]*\\).*/\\1/p" <<<"$1"; }

# sample LABEL: one line of figures (file descriptors first: the probe itself opens some in
# the wineserver while it runs).
samples=$REL_WORK/samples
printf 'seconds\trss_kb\tgdi\twindows\tvexlo_fds\tserver_fds\tprivate_kb\n' >"$samples"
sample() {
    local vfds sfds rss stats
    vfds=$(fds "$pid")
    sfds=$(fds "$server")
    rss=$(rss_kb "$pid")
    stats=$(probe stats "$match")
    printf '%d\t%s\t%s\t%s\t%s\t%s\t%s\n' $((($(now_ms) - soak_start) / 1000)) "$rss" \
        "$(stat_of "$stats" gdi_objects)" "$(stat_of "$stats" windows)" "$vfds" "$sfds" \
        "$(stat_of "$stats" private_kb)" >>"$samples"
}

# A sample after 2 s without changes: the display gone, the sound's stream closed (sampled
# while it plays, the process holds about 2 MB and 9 files more).
quiet_sample() {
    wait_until 3000 display_hidden "$pid"
    sleep 0.7
    sample
}

# The level: Wine starts it at the top (17 steps of 3855); four steps down make 12 chunks.
focus_wine
xdotool key --delay 100 super+minus super+minus super+minus super+minus
k=13
wait_until 3000 width_is "$pid" $((35 + 9 * (k - 1))) || fail "the display did not show 12 chunks"

presses=0
mismatches=0
checks=0
soak_start=$(now_ms)
next=$soak_start
warm_sampled=0
next_sample=$((soak_start + 60000))
end=$((soak_start + soak * 1000))
while [ "$(now_ms)" -lt "$end" ]; do
    alive "$pid" || { fail "the program ended after $presses presses"; break; }
    if [ $((presses % 2)) = 0 ]; then key=super+equal; k=14; else key=super+minus; k=13; fi
    # Keep a Wine window focused: the hotkeys reach Wine only then.
    [ $((presses % 20)) = 0 ] && focus_wine
    xdotool key "$key"
    presses=$((presses + 1))
    now=$(now_ms)
    if { [ "$warm_sampled" = 0 ] && [ $((now - soak_start)) -ge $((warmup * 1000)) ]; } ||
        [ "$now" -ge "$next_sample" ]; then
        # The display follows the level: after this press it shows k - 1 chunks.
        checks=$((checks + 1))
        wait_until 250 width_is "$pid" $((35 + 9 * (k - 1))) || mismatches=$((mismatches + 1))
        quiet_sample
        [ "$warm_sampled" = 1 ] && next_sample=$((next_sample + 60000))
        warm_sampled=1
        next=$(now_ms)
    fi
    next=$((next + period_ms))
    delay=$((next - $(now_ms)))
    [ "$delay" -gt 0 ] && sleep "$(awk -v d=$delay 'BEGIN { printf "%.3f", d / 1000 }')"
done
soak_ms=$(($(now_ms) - soak_start))
quiet_sample

# The end: still following the level, and the display goes.
alive "$pid" || fail "the program is not running at the end"
crashed "$dir" && fail "crashed: $(grep -m1 -E 'Unhandled|debugger' "$dir.log")"
has_box "$dir" && fail "a box: $(box_text "$dir")"
focus_wine
if [ "$k" = 14 ]; then xdotool key super+minus; k=13; else xdotool key super+equal; k=14; fi
final=$(last_shown_width "$pid" 10000) || fail "the display did not come and go after a last press"
[ "$final" = $((35 + 9 * (k - 1))) ] ||
    fail "after the last press the display showed ${final:-nothing}, not $((k - 1)) chunks"

read -r _ rss0 gdi0 win0 vfd0 sfd0 priv0 < <(sed -n 2p "$samples")
read -r _ rss1 gdi1 win1 vfd1 sfd1 priv1 < <(tail -1 "$samples")
rss_growth=$((rss1 - rss0))
[ "$rss_growth" -lt "$rss_limit_kb" ] ||
    fail "resident memory grew by $rss_growth kB (from $rss0 to $rss1 kB)"
if [ "${gdi0:--1}" -ge 0 ] && [ "${gdi1:--1}" -ge 0 ]; then
    [ "$gdi1" -le "$gdi0" ] || fail "GDI objects grew from $gdi0 to $gdi1"
else
    fail "the GDI objects could not be counted"
fi
[ "${win1:-0}" -le "${win0:-0}" ] || fail "windows grew from $win0 to $win1"
[ "$vfd1" -le "$vfd0" ] || fail "open files of vexlo.exe grew from $vfd0 to $vfd1"
[ "$sfd1" -le "$sfd0" ] || fail "open files of the wineserver grew from $sfd0 to $sfd1"
[ "$mismatches" = 0 ] || fail "$mismatches of $checks checks found the display at another level"
gdi_check=$(wine "$REL_PROBE" gdi-check </dev/null 2>/dev/null | tr -d '\r')
gui_answer=$(probe stats "$match")
peak=$(hwm_kb "$pid")

quit_case "$pid" "$match"
seconds=$((($(now_ms) - started) / 1000))
rate=$(awk -v n=$presses -v ms=$soak_ms 'BEGIN { printf "%.2f", n * 1000 / ms }')
per_minute=$(awk -F'\t' 'NR == 2 { s0 = $1; r0 = $2 } END { if ($1 > s0) printf "%.1f", ($2 - r0) * 60 / ($1 - s0); else print 0 }' "$samples")

column -t "$samples"
for f in "${failures[@]}"; do echo "FAIL $f"; done
{
    echo "## Windows under Wine: soak ($name)"
    echo
    echo "- Load held: $presses level changes in $((soak_ms / 1000)) s (${rate}/s, one every ${period_ms} ms) through the program's own hotkeys, alternating between 12 and 13 chunks (icon2/icon3 and the click sound at every change); the display stayed up between the samples (a change comes before the 1 s hold ends) and went for each sample (a pause of 2 s a minute), $((checks - mismatches)) of $checks checks at the samples found it at the level of the last press, and after the soak a last press still showed the right level and the display went."
    echo "- Resident memory of vexlo.exe (VmRSS): ${rss0} kB after the ${warmup} s warm-up, ${rss1} kB at the end (both 2 s after a change, when the display and the sound are done; taken during the changes they vary by about 2 MB with the sound's stream): **$([ "$rss_growth" -ge 0 ] && echo +)${rss_growth} kB** (limit ${rss_limit_kb} kB), ${per_minute} kB a minute; peak ${peak} kB; private bytes (GetProcessMemoryInfo from outside) ${priv0} -> ${priv1} kB."
    echo "- Handles: GDI objects ${gdi0} -> ${gdi1} (counted in the process's GDI handle table from outside; the method checked on the probe itself: $gdi_check), windows ${win0} -> ${win1}, open files of vexlo.exe ${vfd0} -> ${vfd1}, of the wineserver ${sfd0} -> ${sfd1}."
    echo "- What Wine allows: GetGuiResources answers 0 with ERROR_CALL_NOT_IMPLEMENTED and GetProcessHandleCount answers 0 for another process ($(sed -n 's/.*\(handle_count=[-0-9]*\) gui_gdi=\([0-9]*\) gui_user=\([0-9]*\) gui_error=\([0-9]*\).*/\1, gdi \2, user \3, error \4/p' <<<"$gui_answer")), so the GDI objects are counted in Wine's GDI handle table through the process environment block, and USER objects by the windows; the level cannot be read from outside, so it is read from the display."
    echo "- Faults: $([ ${#failures[@]} -eq 0 ] && echo none || printf '%s; ' "${failures[@]}"); quit through ${quit_how} with exit code ${CASE_CODE:-?}."
    echo "- Run time: ${seconds} s (soak ${soak} s)."
    echo
    echo "| s | VmRSS kB | GDI objects | windows | vexlo.exe fds | wineserver fds | private kB |"
    echo "|---|---|---|---|---|---|---|"
    tail -n +2 "$samples" | awk -F'\t' '{ printf "| %s | %s | %s | %s | %s | %s | %s |\n", $1, $2, $3, $4, $5, $6, $7 }'
} >"$REL_ROOT/build/reliability/$name.md"
rel_finish "$seconds" "$presses changes in $((soak_ms / 1000)) s, RSS ${rss_growth} kB, GDI $gdi0 -> $gdi1"
