#!/usr/bin/env bash
# Faults around the Windows program under Wine:
#  1. the default output device changes while it runs: what Wine reports (a second PulseAudio
#     sink added and made the default while a device-notification client listens), and the
#     adapter's switching of endpoints, proven by its tests with an injected device
#     enumerator (run here under Wine);
#  2. the tray host is killed and comes back: the program must survive the loss of Wine's
#     tray (explorer.exe), and when a tray host starts and broadcasts "TaskbarCreated" (as the
#     Windows shell does; Wine's explorer cannot be restarted on a running desktop and does not
#     broadcast it), the icon must come back with the level's picture, follow the level, and
#     go at the quit. The stand-in host is vexlo_probe's "tray-host", which records every
#     icon notification it gets;
#  3. no output device at the start (the adapter's tests with an injected enumerator and a
#     winmm that has no device yet: the master line waits and takes the device that comes);
#  4. Windows + plus registered by another program first: one balloon at the icon says so.
# Display :88 (or VEXLO_REL_DISPLAY). Figures: build/reliability/22-win32-faults.md.
set -uo pipefail
name=$(basename "$0" .sh)
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../e2e/win32/rel_lib.sh"
started=$(now_ms)
rel_init "$name" 88

# ---- 1. the default output device ----

step "device reports from Wine"
wine "$REL_PROBE" audio 6 </dev/null >"$REL_WORK/audio.log" 2>/dev/null &
audio_pid=$!
sleep 2
module=$(pactl load-module module-null-sink sink_name=vexlo_second 2>/dev/null)
sleep 0.5
pactl set-default-sink vexlo_second
sleep 1
pactl set-default-sink vexlo_null
sleep 0.5
[ -n "$module" ] && pactl unload-module "$module"
wait "$audio_pid"
tr -d '\r' <"$REL_WORK/audio.log" >"$REL_WORK/audio.txt"
field() { sed -n "s/^$1=\\(0x[0-9a-f]*\\).*/\\1/p" "$REL_WORK/audio.txt" | head -1; }
registered=$(field register_notifications)
set_scalar=$(field set_scalar)
reports=$(grep -cE '^(default-|added|removed|state)' "$REL_WORK/audio.txt")
[ -n "$registered" ] || fail "the device enumerator could not be asked"
echo "register: $registered, set scalar: $set_scalar, reports: $reports"

step "the adapter's endpoint switching (its tests, under Wine)"
tests_exe=$REL_BUILD/win32-tests/vexlo_win32_tests.exe
filter='MixerTest.ANewDefault*:MixerTest.WithoutASettable*:MixerTest.ASessionThatStarted*'
filter+=':MixerTest.DeviceReports*:MixerTest.AReportAfter*:MixerOnThisSystem.*'
filter+=':MixerTest.WithoutAnyDevice*:MixerTest.WithoutAnEndpointTheWaiting*'
(cd "$(dirname "$tests_exe")" && wine "$(basename "$tests_exe")" --gtest_filter="$filter" \
    </dev/null >"$REL_WORK/tests.log" 2>&1)
tests_status=$?
tr -d '\r' <"$REL_WORK/tests.log" | grep -E '^\[ +(OK|FAILED|SKIPPED) +\] [A-Za-z]' | sort -u \
    >"$REL_WORK/tests.txt"
tests_ok=$(grep -c '^\[ *OK' "$REL_WORK/tests.txt")
tests_total=$(wc -l <"$REL_WORK/tests.txt")
cat "$REL_WORK/tests.txt"
[ "$tests_status" = 0 ] && [ "$tests_ok" -ge 8 ] ||
    fail "the endpoint tests: $tests_ok of $tests_total passed (exit $tests_status)"

# ---- 2. the tray host ----

step "does Wine's tray announce itself?"
# A fresh desktop: the first window of the listener starts explorer.exe and its tray.
wineserver -k 2>/dev/null
wineserver -w 2>/dev/null
wineserver -p </dev/null >/dev/null 2>&1
wine "$REL_PROBE" watch-taskbar 4 </dev/null >"$REL_WORK/watch.log" 2>/dev/null
wine_broadcasts=$(grep -c '^TaskbarCreated' "$REL_WORK/watch.log")
echo "TaskbarCreated broadcasts while Wine's tray started: $wine_broadcasts"

step "the program with Wine's tray"
dir=$(case_folder tray)
case_start "$dir"
pid=$CASE_PID
wait_until 15000 focus_wine || fail "no tray icon within 15 s"
sleep 0.5
xdotool key super+minus  # 16 chunks -> 15
wait_until 3000 width_is "$pid" $((35 + 9 * 15)) || fail "the display did not show 15 chunks"
wait_until 4000 display_hidden "$pid" || fail "the display did not go"

step "kill the tray host"
# The explorer.exe processes of this run's Wine prefix: others may run Wine on this machine.
own_explorers() {
    local p
    for p in $(ps -eo pid=,args= | awk -v want="$1" '$0 ~ want && !/awk/ { print $1 }'); do
        tr '\0' '\n' <"/proc/$p/environ" 2>/dev/null | grep -qxF "WINEPREFIX=$WINEPREFIX" && echo "$p"
    done
}
explorer=$(own_explorers 'explorer[.]exe /desktop' | head -1)
if [ -z "$explorer" ]; then
    fail "no explorer.exe /desktop to kill"
else
    kill -9 "$explorer"
    wait_until 3000 ended "$explorer"
fi
# The X server takes the tray's window away once it sees the client gone; on a loaded machine
# that can take longer than a moment.
wait_until 6000 eval '[ -z "$(tray_window)" ]' || fail "the tray window is still there after 6 s"
sleep 0.5
alive "$pid" || fail "the program ended with the tray host"
crashed "$dir" && fail "crashed: $(grep -m1 -E 'Unhandled|debugger' "$dir.log")"

step "restart Wine's tray host"
wine explorer.exe /desktop </dev/null >"$REL_WORK/explorer.log" 2>&1 &
sleep 3
explorer_back=$(own_explorers 'explorer[.]exe' | wc -l)
wine_tray_back=$([ -n "$(tray_window)" ] && echo yes || echo no)
echo "explorer processes after 'wine explorer.exe /desktop': $explorer_back; Wine tray back: $wine_tray_back"

step "a tray host that announces itself"
host_log=$REL_WORK/host1.log
wine "$REL_PROBE" tray-host 14 </dev/null >"$host_log" 2>/dev/null &
host=$!
wait_until 5000 bash -c "[ \$(tr -d '\r' <'$host_log' | grep -c ' NIM_ADD .*tip=Vexlo .*accepted') -ge 1 ]" ||
    fail "no icon added within 5 s of the host's TaskbarCreated"
announce_ms=$(tr -d '\r' <"$host_log" | awk '/TaskbarCreated sent/ { print $1; exit }')
added_ms=$(tr -d '\r' <"$host_log" | awk '/ NIM_ADD / { print $1; exit }')
hash_of() { tr -d '\r' <"$host_log" | awk -v n="$1" '/ NIM_(ADD|MODIFY) / { h = $0; sub(/.*hash=/, "", h); sub(/ .*/, "", h); last[++i] = h }
    END { print last[(n > 0 ? n : i + n)] }'; }
hash_added=$(hash_of 1)
# The stand-in host's window, focused for the hotkeys. Wine 10 may leave a window made after
# Wine's explorer.exe was killed off the screen though it is shown on the Windows side (seen
# when its X window reuses the ids of the killed explorer's: it is unmapped as soon as the
# window manager takes it on): it is mapped again first.
focus_host() {
    local w
    w=$(xdotool search --name '^Stand-in tray$' 2>/dev/null | head -1)
    [ -n "$w" ] || return 1
    [ "$(geometry_of "$w" | cut -d' ' -f5)" = 1 ] ||
        timeout 5 xdotool windowmap --sync "$w" >/dev/null 2>&1
    focus_window "$w"
}

# Four steps down: 15 chunks -> 11, whose picture is icon2 instead of icon3.
if focus_host; then
    xdotool key --delay 150 super+minus super+minus super+minus super+minus
    wait_until 3000 width_is "$pid" $((35 + 9 * 11)) || true
    shown_down=$(overlay2_width "$pid")
    [ "$shown_down" = $((35 + 9 * 11)) ] || fail "the display shows ${shown_down:-nothing}, not 11 chunks"
    sleep 0.5
    hash_down=$(hash_of 0)
    focus_host
    xdotool key --delay 150 super+equal super+equal super+equal super+equal
    sleep 0.8
    hash_up=$(hash_of 0)
    [ -n "$hash_down" ] && [ "$hash_down" != "$hash_added" ] ||
        fail "the icon did not change at 11 chunks (still $hash_down)"
    [ "$hash_up" = "$hash_added" ] || fail "the icon at 15 chunks again is $hash_up, not $hash_added"
else
    fail "no stand-in tray window to focus"
fi
modifies=$(tr -d '\r' <"$host_log" | grep -c ' NIM_MODIFY .*accepted')

step "the tray host goes and another comes"
kill -9 "$host" 2>/dev/null
wait "$host" 2>/dev/null
sleep 0.5
alive "$pid" || fail "the program ended with the second tray host"
host_log=$REL_WORK/host2.log
wine "$REL_PROBE" tray-host 8 </dev/null >"$host_log" 2>/dev/null &
host=$!
wait_until 5000 bash -c "[ \$(tr -d '\r' <'$host_log' | grep -c ' NIM_ADD .*tip=Vexlo .*accepted') -ge 1 ]" ||
    fail "no icon added to the second stand-in host"
[ "$(hash_of 1)" = "$hash_added" ] || fail "the second stand-in host got another picture for 15 chunks"

step "quit"
quit_case "$pid" "$(case_match "$dir")" close
sleep 0.3
tr -d '\r' <"$host_log" | grep -q ' NIM_DELETE .*accepted' || fail "the quit did not remove the icon"
crashed "$dir" && fail "crashed: $(grep -m1 -E 'Unhandled|debugger' "$dir.log")"
wait "$host" 2>/dev/null

# ---- 4. a hotkey another program holds ----

step "Windows + plus registered by another program first"
host_log=$REL_WORK/host3.log
wine "$REL_PROBE" tray-host 12 </dev/null >"$host_log" 2>/dev/null &
host=$!
wine "$REL_PROBE" hold-hotkey 12 </dev/null >"$REL_WORK/hold.log" 2>/dev/null &
holder=$!
REL_PIDS+=("$host" "$holder")
wait_until 5000 grep -q 'registered=1' "$REL_WORK/hold.log" ||
    fail "the other program could not register Windows + plus ($(tr -d '\r' <"$REL_WORK/hold.log"))"
wait_until 3000 grep -q 'TaskbarCreated sent' "$host_log"
dir=$(case_folder held)
case_start "$dir"
pid=$CASE_PID
balloon_count() { tr -d '\r' <"$host_log" | grep -c ' NIM_MODIFY .*flags=16 .*accepted info=Vexlo cannot use'; }
wait_until 10000 eval '[ "$(balloon_count)" -ge 1 ]' || fail "no balloon at the icon"
balloon_text=$(tr -d '\r' <"$host_log" | sed -n 's/.* NIM_MODIFY .*flags=16 .* info=//p' | head -1)
[ "$balloon_text" = "Vexlo cannot use Windows + plus: another program holds it; choose other keys with the settings hotkeyup and hotkeydown in core.ini." ] ||
    fail "the balloon says: ${balloon_text:-nothing}"
sleep 1
[ "$(balloon_count)" = 1 ] || fail "$(balloon_count) balloons, not one"
# The other combination works: Windows + minus steps the level (16 chunks -> 15).
focus_host
xdotool key super+minus
wait_until 3000 width_is "$pid" $((35 + 9 * 15)) || fail "Windows + minus did not step the level"
quit_case "$pid" "$(case_match "$dir")" close
kill "$holder" "$host" 2>/dev/null
wait "$holder" "$host" 2>/dev/null
seconds=$((($(now_ms) - started) / 1000))

for f in "${failures[@]}"; do echo "FAIL $f"; done
{
    echo "## Windows under Wine: output device and tray host faults ($name)"
    echo
    echo "- Default output device changing: the mixer adapter registers an IMMNotificationClient with the device enumerator; its OnDefaultDeviceChanged (render, console role) only posts a message to the program's thread, which opens the new default endpoint and takes it for the master if a write goes through, else falls back to winmm (keeping the control ids and the range the core was given). Under Wine: RegisterEndpointNotificationCallback answers ${registered:-?} (accepted), SetMasterVolumeLevelScalar answers ${set_scalar:-?} (E_NOTIMPL: the master stays on winmm), and a second PulseAudio sink added and made the default gave **${reports} reports** to a registered client$([ "$reports" = 0 ] && echo ": Wine did not call it"). The switching is therefore proven by the adapter's tests with an injected enumerator and endpoints, run under Wine here: ${tests_ok} of ${tests_total} passed (a new default takes over; no settable default falls back to winmm and back; a session that started on winmm moves to a settable endpoint; reports from other threads are handled once on the program's thread; a report after the mixer is gone is harmless; the real enumerator accepts the client; with no device at all at the start the master line is there, reads 0 and takes the device that appears, when it is reported or at the retry, and a winmm device that appears later carries it with the range the core was told). Wine itself always has winmm device 0 and a default endpoint, so a machine without any output device cannot be made here; only the injected enumerator shows it."
    echo "- Tray host killed: Wine's tray lives in explorer.exe; killing it left the program running (no crash, hotkeys and display still working). \`wine explorer.exe /desktop\` does not bring a tray back on a desktop that is still in use ($(if [ "$wine_tray_back" = yes ]; then echo "a tray came back"; elif [ "$explorer_back" = 0 ]; then echo "it ends at once, as it does when another process already manages the desktop"; else echo "it runs, but no tray appears"; fi)), and Wine's tray does not broadcast \"TaskbarCreated\" when it starts ($wine_broadcasts broadcasts seen by a listener while it started)."
    echo "- Tray host back: a stand-in host (a Shell_TrayWnd window that broadcasts \"TaskbarCreated\" as the Windows shell does, and records each notification) got the program's icon back ${added_ms:+$((added_ms - announce_ms)) ms after its broadcast} (NIM_ADD with the tip \"Vexlo\" and the picture for 15 chunks), ${modifies} NIM_MODIFY as the level moved (another picture at 11 chunks, the same again at 15), the icon again from a second host after the first was killed, and NIM_DELETE at the quit (exit code ${CASE_CODE:-?})."
    echo "- A hotkey held by another program: a second program registered Windows + plus first (RegisterHotKey in Wine refuses it to Vexlo then); Vexlo told it once with a balloon at its icon (NIM_MODIFY with NIF_INFO, seen by the stand-in host: \"${balloon_text:-nothing}\") and Windows + minus still stepped the level."
    echo "- Faults: $([ ${#failures[@]} -eq 0 ] && echo none || printf '%s; ' "${failures[@]}")."
    echo "- Run time: ${seconds} s."
} >"$REL_ROOT/build/reliability/$name.md"
rel_finish "$seconds"
