#!/usr/bin/env bash
# End-to-end tests of the Windows program under Wine, on a private virtual desktop with a
# PulseAudio null sink. Every scenario runs in its own copy of the program folder.
#
#   tests/e2e/win32/run.sh BUILD_DIR       (BUILD_DIR holds vexlo.exe, e.g. build/win32)
#
# Prints one line per scenario and "N passed, M failed"; exits non-zero on a failure.
# ENV_DISPLAY (default 71) picks the X display.
set -u
here=$(cd "$(dirname "$0")" && pwd)
build=${1:?usage: run.sh BUILD_DIR}
build=$(cd "$build" && pwd)
exe="$build/vexlo.exe"
marker_exe=$(find "$build" -name vexlo_marker.exe -print -quit)
probe_exe=$(find "$build" -name vexlo_probe.exe -print -quit)
skin="$here/../../../skin/default"
[ -f "$exe" ] || { echo "no vexlo.exe in $build" >&2; exit 2; }
[ -n "$marker_exe" ] && [ -n "$probe_exe" ] ||
    { echo "no vexlo_marker.exe or vexlo_probe.exe under $build (build the tests)" >&2; exit 2; }

export ENV_DISPLAY=${ENV_DISPLAY:-71}
source "$here/env.sh"

# ---- helpers ----
SCREEN_W=1024
SCREEN_H=768
PROGRAM_PID=""
FAILURES=()
TWO_HEADS_PIDS=()

fail() { FAILURES+=("$*"); }
check() {  # check "what" command...
    local what=$1
    shift
    "$@" || fail "$what"
}

# A fresh program folder: the program, the default skin and an optional core.ini text.
make_folder() {
    local dir="$ENV_ROOT/s/$1"
    rm -rf "$dir"
    mkdir -p "$dir"
    cp "$exe" "$skin"/*.bmp "$skin"/*.ico "$skin"/*.gif "$skin"/*.wav "$dir"/
    if [ -n "${2:-}" ]; then printf '%b' "$2" >"$dir/core.ini"; fi
    echo "$dir"
}

start_program() {  # start_program DIR [ARG]
    local dir=$1
    shift
    (cd "$dir" && exec wine vexlo.exe "$@" </dev/null >"$dir/program.log" 2>&1) &
    PROGRAM_PID=$!
    PROGRAM_DIR=$dir
}

# Waits up to $2 seconds (default 10) for the program to end; its exit code is in EXIT_CODE.
wait_program() {
    local limit=$(( ${1:-10} * 20 )) i
    EXIT_CODE=""
    for i in $(seq "$limit"); do
        if ! kill -0 "$PROGRAM_PID" 2>/dev/null; then
            wait "$PROGRAM_PID"
            EXIT_CODE=$?
            PROGRAM_PID=""
            return 0
        fi
        sleep 0.05
    done
    return 1
}

stop_program() {
    if [ -n "$PROGRAM_PID" ] && kill -0 "$PROGRAM_PID" 2>/dev/null; then
        kill "$PROGRAM_PID" 2>/dev/null
        wait "$PROGRAM_PID" 2>/dev/null
    fi
    PROGRAM_PID=""
}

# The first visible window whose name matches the pattern, waiting up to $2 seconds.
find_window() {
    local pattern=$1 limit=$(( ${2:-10} * 20 )) i w
    for i in $(seq "$limit"); do
        w=$(xdotool search --onlyvisible --name "$pattern" 2>/dev/null | head -1)
        [ -n "$w" ] && { echo "$w"; return 0; }
        sleep 0.05
    done
    return 1
}

# Geometry of a window: sets WX WY WW WH and WMAPPED (1 when viewable).
geometry() {
    local info
    info=$(xwininfo -id "$1" 2>/dev/null) || { WMAPPED=0; return 1; }
    WX=$(awk '/Absolute upper-left X/ {print $NF}' <<<"$info")
    WY=$(awk '/Absolute upper-left Y/ {print $NF}' <<<"$info")
    WW=$(awk '/Width:/ {print $NF}' <<<"$info")
    WH=$(awk '/Height:/ {print $NF}' <<<"$info")
    WMAPPED=0
    grep -q "IsViewable" <<<"$info" && WMAPPED=1
    return 0
}

# The program's windows by their captions: "Vexlo" (the display), "Hidden" (the overlays).
display_windows() {
    MAIN_WIN=$(xdotool search --name '^Vexlo$' 2>/dev/null | head -1)
    OVERLAYS=($(xdotool search --name '^Hidden$' 2>/dev/null))
}

viewable() { geometry "$1" && [ "$WMAPPED" = 1 ]; }

# Alpha (0..255) of a window from _NET_WM_WINDOW_OPACITY; 255 when none is set.
alpha_of() {
    local v
    v=$(xprop -id "$1" _NET_WM_WINDOW_OPACITY 2>/dev/null | awk -F' = ' '/=/ {print $2}')
    if [ -z "$v" ]; then echo 255; else echo $(( v >> 24 )); fi
}

skin_pixel() { pixel "$skin/$1" "$2" "$3"; }

tray_window() {
    local i
    for i in $(seq $((${1:-10} * 20))); do wine_tray_window && return 0; sleep 0.05; done
    return 1
}

# The first tray icon's cell, cut out of a new screenshot into $1.
tray_icon_shot() {
    local tray
    tray=$(tray_window 5) || return 1
    geometry "$tray"
    import -window root "$1.full.png"
    /usr/bin/convert "$1.full.png" -crop "20x20+$WX+$WY" +repage "$1"
}

# How many pixels two pictures of the same size differ in.
# Presses a mouse button over the first tray icon.
press_tray() {
    local tray
    tray=$(tray_window 5) || return 1
    geometry "$tray"
    xdotool mousemove $((WX + 10)) $((WY + 10)) sleep 0.1 click "$1"
}

# Global hotkeys reach Wine only while one of its windows has the keyboard focus.
focus_wine() {
    local tray
    tray=$(tray_window 5) || return 1
    xdotool windowactivate --sync "$tray" >/dev/null 2>&1
    # Wine 10's tray takes no focus from the window manager's activation: give it directly.
    [ "$(xdotool getwindowfocus 2>/dev/null)" = "$tray" ] || xdotool windowfocus --sync "$tray"
}

# The display for n lit chunks: centred 212 x 200 windows, overlay 2 cut to 35 + 9n, the bar
# showing n chunks of chunks.bmp. The corner is "X Y" when given ($3): where the display centred
# on a monitor other than the 1024 x 768 screen's only one is.
expect_display() {
    local n=$1 label=$2 shot="$shots/$2.png" ox oy
    read -r ox oy <<<"${3:-406 284}"
    display_windows
    check "$label: display window shown" viewable "$MAIN_WIN"
    check "$label: display centred at $ox,$oy (got $WX,$WY ${WW}x$WH)" \
        test "$WX,$WY,$WW,$WH" = "$ox,$oy,212,200"
    local widths=() w
    for w in "${OVERLAYS[@]}"; do
        viewable "$w" && widths+=("$WW")
    done
    check "$label: two overlays shown (${widths[*]:-none})" test "${#widths[@]}" = 2
    local got want
    got=$(printf '%s\n' "${widths[@]}" | sort -n | tr '\n' ' ')
    want=$(printf '%s\n' 212 $((35 + 9 * n)) | sort -n | tr '\n' ' ')
    check "$label: overlay widths are $want(got $got)" test "$got" = "$want"
    import -window root "$shot"
    # Inside the last lit chunk: chunks.bmp; inside the first unlit one: back.bmp.
    if [ "$n" -gt 0 ]; then
        local x=$((9 * n - 5))
        check "$label: chunk $n lit" test "$(pixel "$shot" $((ox + 34 + x)) $((oy + 168 + 6)))" = \
            "$(skin_pixel chunks.bmp $x 6)"
    fi
    if [ "$n" -lt 16 ]; then
        local x=$((9 * n + 4))
        check "$label: chunk $((n + 1)) dark" test "$(pixel "$shot" $((ox + 34 + x)) $((oy + 168 + 6)))" = \
            "$(skin_pixel back.bmp $((34 + x)) $((168 + 6)))"
    fi
}

display_hidden() {
    display_windows
    local w
    for w in "$MAIN_WIN" "${OVERLAYS[@]}"; do
        [ -n "$w" ] && viewable "$w" && return 1
    done
    return 0
}

# Waits up to $1 seconds for the display to be gone.
wait_display_hidden() {
    local i
    for i in $(seq $(( $1 * 20 ))); do
        display_hidden && return 0
        sleep 0.05
    done
    return 1
}

# Samples louder than 1000 in a raw recording of the sink.
winpath() { winepath -w "$1" 2>/dev/null; }

# A stand-in for the system's volume control (SndVol.exe in the system folder): started
# without arguments, it writes its command line into $SNDVOL.txt.
sndvol_install() {
    SNDVOL="$WINEPREFIX/drive_c/windows/system32/SndVol.exe"
    rm -f "$SNDVOL.txt"
    cp "$marker_exe" "$SNDVOL"
}
sndvol_remove() { rm -f "$SNDVOL" "$SNDVOL.txt"; }

# The texts of the visible message box captioned "Vexlo" of the program in folder $1 (nothing
# when none is up).
box_text() {
    wine "$probe_exe" windows "\\$(basename "$1")\\vexlo.exe" </dev/null 2>/dev/null | tr -d '\r' |
        awk -F'\t' '$3 == 1 && $4 == "#32770" && $5 == "Vexlo" { print $6; exit }'
}

# Presses OK in the box of the program in folder $1. Through the dialog itself, not the X
# keyboard: a key sent to a box that closes on the press may leave its release behind, and
# Wine then answers the next program's box at once.
answer_box() {
    wine "$probe_exe" answer "\\$(basename "$1")\\vexlo.exe" </dev/null >/dev/null 2>&1
}

reset_wine() {
    wineserver -k 2>/dev/null
    wineserver -w 2>/dev/null
    wineserver -p </dev/null >/dev/null 2>&1
    wine cmd.exe /c exit </dev/null >/dev/null 2>&1
}

# Chooses "Quit" in the tray menu (its first item) and expects the program to end with 0. The
# menu's screenshot is $shots/LABEL-menu.png, its place in it "X Y W H" in MENU_AT.
quit_from_tray() {
    local label=$1 before menu
    MENU_AT=""
    before=$(visible_windows)
    press_tray 3 || { fail "$label: no tray icon to press"; return; }
    # The menu opens where the pointer is: over the icon, 10 pixels into it.
    menu=$(menu_at $((WX + 10)) $((WY + 10)) "$before") ||
        { fail "$label: no menu after a right press"; return; }
    geometry "$menu"
    MENU_AT="$WX $WY $WW $WH"
    import -window root "$shots/$label-menu.png"
    xdotool mousemove $((WX + 25)) $((WY + 10)) sleep 0.2 click 1
    if wait_program 10; then
        check "$label: Quit ends with 0 (got $EXIT_CODE)" test "$EXIT_CODE" = 0
    else
        fail "$label: Quit did not end the program"
    fi
    # Wine hides its stand-alone tray once the last icon is gone; on a busy machine its
    # explorer.exe may take a moment.
    check "$label: tray icon removed" wait_until 5000 eval '! wine_tray_window >/dev/null'
}

# ---- scenarios ----

scenario_start_without_settings() {
    local dir
    dir=$(make_folder start)
    start_program "$dir"
    local tray
    if ! tray=$(tray_window 15); then fail "no tray icon within 15 s"; return; fi
    sleep 0.5
    check "no core.ini written at start" test ! -e "$dir/core.ini"
    check "no display at start" display_hidden
    geometry "$tray"
    import -window root "$shots/start.png"
    # The icon is icon3.ico (full level): not the tray's plain background.
    check "tray shows an icon" test "$(pixel "$shots/start.png" $((WX + 10)) $((WY + 10)))" != \
        "$(pixel "$shots/start.png" $((WX + WW - 5)) $((WY + 10)))"
    quit_from_tray start
}

scenario_hotkeys_show_the_display_and_click() {
    local dir rec parec_pid
    dir=$(make_folder hotkeys)
    # The shipped sample settings: every key commented out, so the defaults hold.
    cp "$here/../../../packaging/win32/core.ini" "$dir/core.ini"
    rec="$ENV_ROOT/hotkeys.raw"
    parec --latency-msec=20 -d vexlo_null.monitor --raw --format=s16le --rate=44100 \
        --channels=1 >"$rec" 2>/dev/null &
    parec_pid=$!
    start_program "$dir"
    tray_window 15 >/dev/null || { fail "no tray icon"; kill -INT $parec_pid; return; }
    sleep 2.5  # the null sink buffers about 2 s
    focus_wine || fail "cannot focus a Wine window"
    # Wine starts with the master at 65535 (16 chunks): one step down shows 15.
    xdotool key super+minus
    sleep 0.3
    # The alphas first: the display holds for 1 s, and checking its picture can take longer
    # than that on a busy machine.
    display_windows
    local w alphas=()
    for w in "$MAIN_WIN" "${OVERLAYS[@]}"; do alphas+=("$(alpha_of "$w")"); done
    expect_display 15 minus
    check "display window alpha 125 while held (got ${alphas[0]})" test "${alphas[0]}" = 125
    for w in "${alphas[@]:1}"; do
        check "overlays opaque while held (got $w)" test "$w" = 255
    done
    for w in "$MAIN_WIN" "${OVERLAYS[@]}"; do
        check "display windows topmost without core.ini keys" \
            bash -c "xprop -id $w _NET_WM_STATE | grep -q _NET_WM_STATE_ABOVE"
    done
    xdotool key super+minus
    sleep 0.3
    expect_display 14 minus2
    # How long the display stays is watched apart from the checks of its picture, which may
    # take most of that time: a line "nanoseconds shown(0/1)" every 20 ms.
    local seen="$ENV_ROOT/hotkeys.seen" watcher
    (while :; do
        if viewable "$MAIN_WIN"; then echo "$(date +%s%N) 1"; else echo "$(date +%s%N) 0"; fi
        sleep 0.02
    done) >"$seen" 2>/dev/null &
    watcher=$!
    local last=$(date +%s%N)
    xdotool key super+equal
    sleep 0.3
    expect_display 15 plus
    wait_display_hidden 3 || fail "display not gone 3 s after the last press"
    sleep 0.1
    kill $watcher 2>/dev/null
    wait $watcher 2>/dev/null
    local shown_ms gone_ms
    read -r shown_ms gone_ms < <(awk -v t="$last" '$2 == 1 { s = $1; g = "" } $2 == 0 && s && g == "" { g = $1 }
        END { printf "%d %d\n", s ? (s - t) / 1e6 : -1, g ? (g - t) / 1e6 : -1 }' "$seen")
    check "display still shown 1.1 s after the last press (last seen at ${shown_ms} ms)" \
        test "$shown_ms" -ge 1100
    check "display gone about 1.3 s after the last press (first seen gone at ${gone_ms} ms)" \
        test "$gone_ms" -ge 1000 -a "$gone_ms" -le 2500
    sleep 2
    kill -INT $parec_pid
    wait $parec_pid 2>/dev/null
    local loud
    loud=$(loud_samples "$rec")
    check "click sound reached the sink ($loud loud samples)" test "$loud" -gt 100
    quit_from_tray hotkeys
}

# A desktop of two 640 x 480 heads side by side, the primary one on the left: a nested X server
# (Xephyr, on the harness's display) with Xinerama, its own window manager, and Wine's server
# started again on it. Wine lists one monitor per Xinerama head only when RandR is absent (it
# prefers RandR's CRTCs, of which Xephyr has one for all heads); Xvfb's own Xinerama puts every
# head at 0,0. two_heads_stop goes back to the harness's display.
two_heads_start() {
    TWO_HEADS_PIDS=()
    HOST_DISPLAY=$DISPLAY
    local number="$ENV_ROOT/two-heads.display"
    rm -f "$number"
    Xephyr -displayfd 3 +xinerama -extension RANDR -screen 640x480 -screen 640x480 -noreset \
        -nolisten tcp 3>"$number" >"$ENV_ROOT/xephyr.log" 2>&1 &
    TWO_HEADS_PIDS+=($!)
    wait_until 10000 test -s "$number" || { fail "no nested X server (Xephyr)"; return 1; }
    wineserver -k 2>/dev/null
    wineserver -w 2>/dev/null
    DISPLAY=":$(tr -dc 0-9 <"$number")"
    wait_until 10000 eval 'xdpyinfo >/dev/null 2>&1' || { fail "$DISPLAY does not answer"; return 1; }
    openbox --sm-disable >"$ENV_ROOT/openbox-two-heads.log" 2>&1 &
    TWO_HEADS_PIDS+=($!)
    wineserver -p </dev/null >/dev/null 2>&1
    wine cmd.exe /c exit </dev/null >/dev/null 2>&1
}

two_heads_stop() {
    wineserver -k 2>/dev/null
    wineserver -w 2>/dev/null
    stop_pids "${TWO_HEADS_PIDS[@]}"
    TWO_HEADS_PIDS=()
    export DISPLAY=$HOST_DISPLAY
    wineserver -p </dev/null >/dev/null 2>&1
    wine cmd.exe /c exit </dev/null >/dev/null 2>&1
}

# The setting "monitor" on two heads: each change (the mute switched inside the program, which
# shows the display from hidden) finds the display centred on the head the setting names as it
# stands then. The setting is read again at each change.
scenario_display_on_the_chosen_monitor() {
    two_heads_start && display_on_the_chosen_monitor
    stop_program
    two_heads_stop
}

display_on_the_chosen_monitor() {
    local dir monitors left="214 140" right="854 140" editor
    monitors=$(wine "$probe_exe" monitors </dev/null 2>/dev/null | tr -d '\r' | paste -sd'|')
    [ "$monitors" = "0,0-640,480 primary|640,0-1280,480" ] ||
        { fail "Wine lists the heads as $monitors (libXinerama of Wine's architecture missing?)"; return 1; }
    dir=$(make_folder monitor '[general]\r\nmonitor=primary\r\n')
    start_program "$dir"
    tray_window 15 >/dev/null || { fail "no tray icon"; return 1; }
    sleep 0.5
    # shown_at N "X Y" LABEL: the mute switched to 1 - N/16 shows the display with N chunks
    # there; then it fades out.
    shown_at() {
        program_mute "$dir" $((1 - $1 / 16)) >/dev/null
        wait_display_shown 2 || { fail "$3: no display within 2 s"; return 1; }
        sleep 0.2
        expect_display "$1" "$3" "$2"
        wait_display_hidden 3 || { fail "$3: display not gone"; return 1; }
    }
    # The pointer on the right head; the primary one is the left.
    xdotool mousemove 960 240
    shown_at 0 "$left" monitor-primary || return 1
    printf '[general]\r\nmonitor = Pointer\r\n' >"$dir/core.ini"
    shown_at 16 "$right" monitor-pointer-right || return 1
    xdotool mousemove 320 240
    shown_at 0 "$left" monitor-pointer-left || return 1
    # The active window (a Wine window) on the right head, the pointer on the left.
    printf '[general]\r\nmonitor=active\r\n' >"$dir/core.ini"
    (exec wine notepad.exe </dev/null >/dev/null 2>&1) &
    editor=$!
    local w=""
    if wait_until 15000 eval 'w=$(xdotool search --onlyvisible --name "Notepad" 2>/dev/null | head -1); [ -n "$w" ]'; then
        xdotool windowmove --sync "$w" 700 100 windowactivate --sync "$w" >/dev/null 2>&1
        sleep 0.5
        shown_at 16 "$right" monitor-active-right
        xdotool windowkill "$w" 2>/dev/null
    else
        fail "no Notepad window"
    fi
    wait_until 10000 ended "$editor" || kill "$editor" 2>/dev/null
    wait "$editor" 2>/dev/null
    quit_from_tray monitor
}

# Wine starts with the master at its top: Windows + plus changes nothing, and is answered with
# the display as it stands (16 chunks), held and faded, without the click.
scenario_press_at_the_top_shows_the_display() {
    local dir rec parec_pid
    dir=$(make_folder top)
    rec="$ENV_ROOT/top.raw"
    parec --latency-msec=20 -d vexlo_null.monitor --raw --format=s16le --rate=44100 \
        --channels=1 >"$rec" 2>/dev/null &
    parec_pid=$!
    start_program "$dir"
    tray_window 15 >/dev/null || { fail "no tray icon"; kill -INT $parec_pid; return; }
    sleep 2.5  # the null sink buffers about 2 s
    focus_wine || fail "cannot focus a Wine window"
    xdotool key super+equal
    sleep 0.3
    expect_display 16 top
    wait_display_hidden 3 || fail "display not gone 3 s after the press"
    # The volume command at the top (Wine gives each process its own level, also at the top)
    # has the running program show its display.
    local rc
    (cd "$dir" && timeout 20 wine vexlo.exe --volume-up </dev/null >"$dir/command.log" 2>&1)
    rc=$?
    check "--volume-up at the top ends with 0 (got $rc: $(tr -d '\r' <"$dir/command.log"))" test "$rc" = 0
    sleep 0.3
    expect_display 16 command-top
    wait_display_hidden 3 || fail "display not gone 3 s after the command"
    sleep 1
    kill -INT $parec_pid
    wait $parec_pid 2>/dev/null
    local loud
    loud=$(loud_samples "$rec")
    check "no click for a press at the top ($loud loud samples)" test "${loud:-1}" -eq 0
    quit_from_tray top
}

scenario_tray_left_press_starts_the_mixer() {
    local dir marker
    dir=$(make_folder mixer)
    cp "$marker_exe" "$dir/mixer tool.exe"
    marker="$dir/started.txt"
    # A quoted program path with a blank, and an argument. (A value that both starts and ends
    # with a quote loses those two quotes to the profile functions.)
    printf '[mixer]\r\npathtomixer="%s" %s\r\n' "$(winpath "$dir/mixer tool.exe")" \
        "$(winpath "$marker")" >"$dir/core.ini"
    sndvol_install
    start_program "$dir"
    tray_window 15 >/dev/null || { fail "no tray icon"; return; }
    sleep 0.5
    press_tray 1 || fail "cannot press the tray icon"
    local i
    for i in $(seq 100); do [ -s "$marker" ] && break; sleep 0.05; done
    check "left press started the configured mixer program" test -s "$marker"
    sleep 0.5
    check "the system's mixer is not started as well" test ! -e "$SNDVOL.txt"
    check "no slider window" bash -c "! xdotool search --onlyvisible --name '^Control$' >/dev/null"
    sndvol_remove
    quit_from_tray mixer
}

# press_starts_sndvol DIR WHAT NO_BOX: a left press on the tray icon starts the stand-in
# SndVol.exe (check WHAT) and no box comes (check NO_BOX).
press_starts_sndvol() {
    local i text
    rm -f "$SNDVOL.txt"
    press_tray 1 || fail "cannot press the tray icon"
    for i in $(seq 100); do [ -s "$SNDVOL.txt" ] && break; sleep 0.05; done
    check "$2" test -s "$SNDVOL.txt"
    sleep 0.5
    text=$(box_text "$1")
    check "$3 ($text)" test -z "$text"
}

# Without core.ini a left press starts the system's volume control; a configured program that
# cannot start gives way to it; when neither starts, a box says which setting to change and
# the program keeps running.
scenario_tray_left_press_starts_the_system_mixer() {
    local dir i text
    dir=$(make_folder sysmixer)
    sndvol_install
    start_program "$dir"
    tray_window 15 >/dev/null || { fail "no tray icon"; sndvol_remove; return; }
    sleep 0.5
    press_starts_sndvol "$dir" "left press without core.ini started SndVol.exe" \
        "no box after starting it"

    printf '[mixer]\r\npathtomixer=no_such_mixer.exe\r\n' >"$dir/core.ini"
    press_starts_sndvol "$dir" "a configured program that is missing gives way to SndVol.exe" \
        "no box when SndVol.exe started"

    sndvol_remove
    press_tray 1 || fail "cannot press the tray icon"
    local box
    if box=$(find_window '^Vexlo$' 10); then
        sleep 0.5
        geometry "$box"
        import -window root "$shots/no-mixer.png"
        /usr/bin/convert "$shots/no-mixer.png" -crop "${WW}x$WH+$WX+$WY" +repage "$shots/no-mixer-box.png"
        text=$(box_text "$dir")
        local want
        for want in "No mixer program could be started." '"no_such_mixer.exe": File not found' \
            "The system's volume control: SndVol.exe was not found in C:\windows\system32" \
            "Set \"pathtomixer\" in the [mixer] section of $(winpath "$dir/core.ini")"; do
            check "box says: $want (got: $text)" grep -qF "$want" <<<"$text"
        done
        answer_box "$dir"
        for i in $(seq 60); do [ -z "$(box_text "$dir")" ] && break; sleep 0.05; done
        check "box answered" test -z "$(box_text "$dir")"
    else
        fail "no box when no mixer program starts"
    fi
    check "program still runs after the box" kill -0 "$PROGRAM_PID"
    quit_from_tray sysmixer
}

# The executable's resources: the icon at 16, 32 and 48 px, the version and the manifest.
scenario_executable_resources() {
    local out="$ENV_ROOT/resources" version
    mkdir -p "$out"
    version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
    check "version known from the build ($version)" test -n "$version"
    wrestool -x --type=14 -o "$out/icon.ico" "$exe" 2>/dev/null
    check "icon group at 16, 32 and 48 px ($(icotool -l "$out/icon.ico" 2>&1 | tr '\n' ' '))" \
        test "$(icotool -l "$out/icon.ico" 2>/dev/null | grep -o -- '--width=[0-9]*' | tr '\n' ' ')" = \
        "--width=16 --width=32 --width=48 "
    # The version's texts are UTF-16: dropping the zero bytes leaves them readable.
    wrestool -x --raw --type=16 "$exe" 2>/dev/null | tr -d '\0' >"$out/version.txt"
    check "version names the product" grep -qa "ProductNameVexlo" "$out/version.txt"
    check "version is the build's ($version)" grep -qa "ProductVersion$version" "$out/version.txt"
    check "version has a description" grep -qa "FileDescriptionVexlo" "$out/version.txt"
    wrestool -x --raw --type=24 "$exe" >"$out/manifest.xml" 2>/dev/null
    local want
    for want in 'level="asInvoker"' 'name="Microsoft.Windows.Common-Controls" version="6.0.0.0"' \
        '{35138b9a-5d96-4fbd-8e2d-a2440225f93a}' '{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}' \
        '<dpiAware xmlns="http://schemas.microsoft.com/SMI/2005/WindowsSettings">false'; do
        check "manifest has $want" grep -qF -- "$want" <(tr -s ' \n' ' ' <"$out/manifest.xml")
    done
}

scenario_tray_left_press_opens_the_slider() {
    local dir
    dir=$(make_folder slider '[mixer]\r\nmixeronleftclick=0\r\n')
    start_program "$dir"
    tray_window 15 >/dev/null || { fail "no tray icon"; return; }
    sleep 0.5
    tray_icon_shot "$shots/tray-full-level.png"
    press_tray 1 || fail "cannot press the tray icon"
    local slider
    if ! slider=$(find_window '^Control$' 5); then fail "no slider window"; stop_program; return; fi
    geometry "$slider"
    check "slider at 0,0 and 30x134 (got $WX,$WY ${WW}x$WH)" test "$WX,$WY,$WW,$WH" = "0,0,30,134"
    # Full level: the knob's top is at 11. Drag it 48 px down: half the level, 8 chunks.
    sleep 0.3
    xdotool mousemove 15 18 sleep 0.1 mousedown 1 sleep 0.1 mousemove 15 40 sleep 0.1 \
        mousemove 15 66 sleep 0.1 mouseup 1
    # Checked as soon as the display shows 8 chunks (35 + 9 x 8 wide): it holds for 1 s only.
    local i w
    for i in $(seq 40); do
        display_windows
        for w in "${OVERLAYS[@]}"; do viewable "$w" && [ "$WW" = 107 ] && break 2; done
        sleep 0.05
    done
    expect_display 8 knob
    import -window root "$shots/slider.png"
    # Double-click outside the knob closes the slider and stores its place in twips.
    xdotool mousemove 15 128 sleep 0.1 click --repeat 2 --delay 80 1
    sleep 0.7
    check "slider closed by a double-click" bash -c "! xdotool search --onlyvisible --name '^Control$' >/dev/null"
    check "position saved" grep -q '^x=0' "$dir/core.ini"
    # Half the level (8 chunks) shows icon2.ico instead of icon3.ico.
    tray_icon_shot "$shots/tray-half-level.png"
    local changed
    changed=$(pixels_differing "$shots/tray-full-level.png" "$shots/tray-half-level.png")
    check "tray icon follows the level ($changed pixels changed)" test "${changed:-0}" -gt 10
    check "program still runs" kill -0 "$PROGRAM_PID"
    quit_from_tray slider
}

scenario_control_mode() {
    local dir slider
    dir=$(make_folder control '[pos]\r\nx=1500\r\ny=3000\r\n')
    start_program "$dir" /control
    if ! slider=$(find_window '^Control$' 15); then fail "no slider window"; stop_program; return; fi
    sleep 0.5
    geometry "$slider"
    check "slider at pos 100,200 (1500,3000 twips) and 30x134 (got $WX,$WY ${WW}x$WH)" \
        test "$WX,$WY,$WW,$WH" = "100,200,30,134"
    check "no tray icon in control mode" eval '! wine_tray_window >/dev/null'
    check "no display in control mode" display_hidden
    import -window root "$shots/control-before.png"
    # Knob from the top (full level) 48 px down.
    xdotool mousemove 115 218 sleep 0.1 mousedown 1 sleep 0.1 mousemove 115 240 sleep 0.1 \
        mousemove 115 266 sleep 0.1 mouseup 1
    sleep 0.4
    import -window root "$shots/control-after.png"
    check "knob left its top place" test "$(pixel "$shots/control-after.png" 115 218)" != \
        "$(pixel "$shots/control-before.png" 115 218)"
    check "knob drawn at its new place" test "$(pixel "$shots/control-after.png" 115 266)" = \
        "$(pixel "$shots/control-before.png" 115 218)"
    # Drag the window by its track, then double-click: the program ends and saves the place.
    xdotool mousemove 115 328 sleep 0.1 mousedown 1 sleep 0.1 mousemove 165 358 sleep 0.1 \
        mousemove 215 388 sleep 0.2 mouseup 1
    sleep 0.5
    geometry "$slider"
    check "window dragged to 200,260 (got $WX,$WY)" test "$WX,$WY" = "200,260"
    xdotool mousemove $((WX + 15)) $((WY + 128)) sleep 0.1 click --repeat 2 --delay 80 1
    if wait_program 10; then
        check "double-click ends with 0 (got $EXIT_CODE)" test "$EXIT_CODE" = 0
    else
        fail "double-click did not end the program"
        stop_program
    fi
    check "x saved in twips ($(tr -d '\r' <"$dir/core.ini" | tr '\n' ' '))" \
        bash -c "tr -d '\r' <'$dir/core.ini' | grep -qx 'x=$((WX * 15))'"
    check "y saved in twips" bash -c "tr -d '\r' <'$dir/core.ini' | grep -qx 'y=$((WY * 15))'"
}

# The installer as a user runs it: silent per-user install, the program from the installed
# folder, an install over it that keeps the user's core.ini, and a silent removal.
scenario_installer() {
    local setup key='HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Vexlo' out
    setup=$(ls "$build"/vexlo-*-win32-setup.exe 2>/dev/null | head -1)
    [ -n "$setup" ] || { fail "no vexlo-*-win32-setup.exe in $build (makensis missing?)"; return; }
    out="$ENV_ROOT/installer"
    mkdir -p "$out"
    local version
    version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
    wrestool -x --raw --type=16 "$setup" 2>/dev/null | tr -d '\0' >"$out/version.txt"
    check "installer version is $version" grep -qa "ProductVersion$version" "$out/version.txt"
    check "installer carries an icon" bash -c "wrestool -l --type=14 '$setup' 2>/dev/null | grep -q ."
    local local_app app_data
    local_app=$(winepath -u "$(wine cmd.exe /c echo %LOCALAPPDATA% </dev/null 2>/dev/null | tr -d '\r')")
    app_data=$(winepath -u "$(wine cmd.exe /c echo %APPDATA% </dev/null 2>/dev/null | tr -d '\r')")
    local dir="$local_app/Programs/Vexlo" menu="$app_data/Microsoft/Windows/Start Menu/Programs"
    wine "$setup" /S </dev/null >"$out/install.log" 2>&1
    check "silent install ends with 0" test $? = 0
    local f
    for f in vexlo.exe uninstall.exe core.ini "$skin"/*; do
        check "installed: $(basename "$f")" test -f "$dir/$(basename "$f")"
    done
    check "Start-menu shortcut" test -f "$menu/Vexlo.lnk"
    check "start at login (StartUp shortcut)" test -f "$menu/StartUp/Vexlo.lnk"
    check "listed under installed apps" bash -c "wine reg query '$key' /v DisplayVersion </dev/null 2>/dev/null |
        grep -q '$version'"
    check "uninstaller carries an icon" bash -c "wrestool -l --type=14 '$dir/uninstall.exe' 2>/dev/null | grep -q ."
    check "uninstaller version is $version" bash -c "wrestool -x --raw --type=16 '$dir/uninstall.exe' 2>/dev/null |
        tr -d '\\0' | grep -qa 'ProductVersion$version'"
    # The program runs from there and keeps its settings there: the slider saves its place.
    local slider
    start_program "$dir" /control
    if slider=$(find_window '^Control$' 15); then
        sleep 0.5
        geometry "$slider"
        xdotool mousemove $((WX + 15)) $((WY + 128)) sleep 0.1 click --repeat 2 --delay 80 1
        wait_program 10 || { fail "installed slider did not end"; stop_program; }
        rm -f "$dir/program.log"  # the test's own record of its output
        check "core.ini in the installed folder written" bash -c "tr -d '\r' <'$dir/core.ini' | grep -qx 'x=$((WX * 15))'"
    else
        fail "installed program shows no slider"
        stop_program
    fi
    # Installing again (an upgrade) keeps the user's settings and the program works.
    printf '; mine\r\n' >>"$dir/core.ini"
    cp "$dir/core.ini" "$out/core.ini.before"
    rm -f "$menu/Vexlo.lnk"
    wine "$setup" /S </dev/null >>"$out/install.log" 2>&1
    check "reinstall keeps core.ini" cmp -s "$out/core.ini.before" "$dir/core.ini"
    check "reinstall restores the Start-menu shortcut" test -f "$menu/Vexlo.lnk"
    # The uninstaller starts a copy of itself from %TEMP% and returns at once: wait for the
    # copy's work rather than for the first process.
    wine "$dir/uninstall.exe" /S </dev/null >"$out/uninstall.log" 2>&1
    local i
    for i in $(seq 200); do
        [ ! -e "$dir/uninstall.exe" ] && [ ! -e "$dir/vexlo.exe" ] && break
        sleep 0.1
    done
    sleep 0.5
    check "uninstall keeps only core.ini ($(ls "$dir" | tr '\n' ' '))" test "$(ls "$dir")" = core.ini
    check "uninstall removes the Start-menu shortcut" test ! -e "$menu/Vexlo.lnk"
    check "uninstall removes the StartUp shortcut" test ! -e "$menu/StartUp/Vexlo.lnk"
    check "uninstall removes the installed-apps entry" bash -c "! wine reg query '$key' </dev/null >/dev/null 2>&1"
    rm -rf "$dir"
}

# A fatal start: error box captioned "Vexlo", then a non-zero end.
expect_error_box() {
    local label=$1 box
    if ! box=$(find_window '^Vexlo$' 15); then
        import -window root "$shots/$label-no-box.png"
        local alive=ended
        kill -0 "$PROGRAM_PID" 2>/dev/null && alive=running
        fail "$label: no error box (program $alive; windows: $(xdotool search --onlyvisible --name . getwindowname %@ 2>/dev/null | tr '\n' '|'))"
        stop_program
        return
    fi
    geometry "$box"
    import -window root "$shots/$label.png"
    check "$label: the box is a dialog, not the display (got ${WW}x$WH)" test "$WW" != 212
    # Answer the box; a box that has only just appeared may not take the first press.
    local attempt
    for attempt in 1 2 3; do
        sleep 0.3
        answer_box "$PROGRAM_DIR"
        wait_program 3 && break
    done
    if [ -z "$PROGRAM_PID" ]; then
        check "$label: non-zero exit (got $EXIT_CODE)" test "$EXIT_CODE" != 0
    else
        fail "$label: program did not end after the box"
        stop_program
    fi
}

scenario_bad_setting() {
    local dir
    dir=$(make_folder bad '[general]\r\nontop=abc\r\n')
    start_program "$dir"
    expect_error_box bad-setting
    check "no tray icon left" eval '! wine_tray_window >/dev/null'
}

scenario_missing_skin_file() {
    local dir
    dir=$(make_folder missing)
    rm "$dir/chunks.bmp"
    start_program "$dir"
    expect_error_box missing-skin
}

# check_skin FOLDER: "/checkskin FOLDER" as a skin author runs it: prints what it wrote on its
# standard output and returns its exit code. Its box must say the same (the probe reads the
# lines joined by blanks) and is answered with OK; a difference is printed as an extra line.
check_skin() {
    local dir=$SKIN_CHECK_DIR out=$SKIN_CHECK_DIR/out.txt pid text="" lines
    (cd "$dir" && exec wine vexlo.exe /checkskin "$(winpath "$1")" </dev/null >"$out" \
        2>"$dir/program.log") &
    pid=$!
    for _ in $(seq 200); do
        text=$(box_text "$dir")
        [ -n "$text" ] && break
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.05
    done
    lines=$(tr -d '\r' <"$out")
    [ "$text" = "$(paste -sd' ' <<<"$lines")" ] || echo "box: '$text'"
    [ -n "$text" ] && answer_box "$dir"
    for _ in $(seq 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.05; done
    kill -0 "$pid" 2>/dev/null && { echo "still running after the box"; kill "$pid"; }
    printf '%s\n' "$lines"
    wait "$pid"
}

# The shared skin table: each variant folder gives the table's lines and exit code.
scenario_skin_check_table() {
    local report ok total details
    SKIN_CHECK_DIR=$(make_folder skincheck)
    # shellcheck source=../../skins/table.sh
    source "$here/../../skins/table.sh"
    report=$(skin_table "$ENV_ROOT/skins" check_skin)
    ok=$(grep -c '^  ok' <<<"$report")
    total=$(grep -v '^#' "$here/../../skins/cases.tsv" | cut -f1 | uniq | wc -l)
    details=$(grep -v '^  ok' <<<"$report" | sed 's/^/     /')
    check "skin table: $ok of $total variants as listed${details:+$'\n'$details}" \
        test "$ok" = "$total"
}

# bar_matches SHOT N FOLDER: the level bar in the screenshot (the display at 406,284) is the
# skin's at N chunks, pixel for pixel: without a compositor the display is drawn opaque.
bar_matches() {
    python3 "$here/../../skins/bar_matches.py" "$1" 406 284 "$2" "$3"
}

# The width of the shown second overlay, 35 + 9 n for n chunks (the first keeps its 212).
overlay2_width() {
    local w
    display_windows
    for w in "${OVERLAYS[@]}"; do
        viewable "$w" && [ "$WW" -gt 1 ] && [ "$WW" != 212 ] && { echo "$WW"; return 0; }
    done
    return 1
}

# "/previewskin FOLDER": the display with that skin stepping through the levels, ended by Esc;
# no settings written, the master volume left alone.
scenario_skin_preview() {
    local dir folder volume w n shot seen=()
    dir=$(make_folder preview)
    rm "$dir"/*.bmp "$dir"/*.ico "$dir"/*.gif "$dir"/*.wav  # only the named folder's skin
    folder="$ENV_ROOT/s/preview skin"  # a blank in the path, as authors' folders have
    rm -rf "$folder" && mkdir -p "$folder" && cp "$skin"/* "$folder"/
    volume=$(pactl get-sink-volume vexlo_null)
    start_program "$dir" /previewskin "$(winpath "$folder")"
    for _ in $(seq 200); do w=$(overlay2_width) && break; sleep 0.05; done
    [ -n "${w:-}" ] || { fail "no display"; stop_program; return; }
    # Two levels: each screenshot taken while the second overlay kept one width.
    for _ in $(seq 60); do
        [ ${#seen[@]} -ge 2 ] && break
        w=$(overlay2_width) || { sleep 0.05; continue; }
        n=$(((w - 35) / 9))
        [[ " ${seen[*]} " == *" $n "* ]] && { sleep 0.1; continue; }
        sleep 0.15
        shot="$shots/preview-$n.png"
        import -window root "$shot"
        [ "$(overlay2_width)" = "$w" ] || continue
        check "preview bar at $n chunks is the skin's" bar_matches "$shot" "$n" "$folder"
        seen+=("$n")
    done
    check "preview stepped through two levels (${seen[*]})" test ${#seen[@]} = 2
    # Wine passes keys to its hotkeys only while one of its windows has the keyboard focus.
    display_windows
    xdotool windowfocus --sync "$MAIN_WIN" 2>/dev/null
    xdotool key Escape
    if wait_program 5; then
        check "Esc ends the preview with 0 (got $EXIT_CODE)" test "$EXIT_CODE" = 0
    else
        fail "Esc did not end the preview"
    fi
    check "no core.ini written" test ! -e "$dir/core.ini" -a ! -e "$folder/core.ini"
    check "master volume untouched" test "$(pactl get-sink-volume vexlo_null)" = "$volume"
}

# The master mute as the program of folder $1 sees it ("muted=0" or "muted=1"), switched first
# to $2 when given. Wine keeps the winmm master per process: the probe switches it inside the
# program's process, as another program switches the system's mute on Windows.
program_mute() {
    wine "$probe_exe" mute "\\$(basename "$1")\\vexlo.exe" ${2:+"$2"} </dev/null 2>/dev/null |
        tr -d '\r'
}

# The tips of the tray's icons, a line each (UTF-8).
tray_tips() { wine "$probe_exe" tray-tips '\explorer.exe' </dev/null 2>/dev/null | tr -d '\r'; }

# tray_misses CELL ICON: how many of the opaque pixels of the icon file's 16 x 16 picture the
# tray's icon cell (cut out by tray_icon_shot; the picture at 2, 2) does not show.
tray_misses() {
    local frame png="$shots/$(basename "$2").16.png"
    frame=$(/usr/bin/identify -format '%p %w %h\n' "$2" 2>/dev/null | awk '$2 == 16 && $3 == 16 { print $1; exit }')
    [ -n "$frame" ] && /usr/bin/convert "ico:$2[$frame]" "$png" || { echo 999; return; }
    {
        /usr/bin/convert "$1" -alpha off -depth 8 txt:- |
            sed -n 's/^\([0-9]*\),\([0-9]*\): (\([0-9]*\),\([0-9]*\),\([0-9]*\)).*/C \1 \2 \3,\4,\5/p'
        /usr/bin/convert "$png" -depth 8 txt:- |
            sed -n 's/^\([0-9]*\),\([0-9]*\): (\([0-9]*\),\([0-9]*\),\([0-9]*\),\([0-9]*\)).*/I \1 \2 \3,\4,\5 \6/p'
    } | awk '$1 == "C" { cell[$2 "," $3] = $4 }
        $1 == "I" && $5 == 255 { n++; if (cell[($2 + 2) "," ($3 + 2)] != $4) missed++ }
        END { print (n ? missed + 0 : 999) }'
}

# expect_tray LABEL SHOWN [NOT...]: the tray shows the folder's icon SHOWN, and none of the
# others named. Wine's tray draws a new icon over the old one without clearing the cell, so
# only pixels that SHOWN paints tell: a picture named as NOT must differ from SHOWN in some
# pixel that SHOWN paints.
expect_tray() {
    local label=$1 shown=$2 cell="$shots/$1-tray.png" icon missed
    shift 2
    tray_icon_shot "$cell" || { fail "$label: no tray icon to look at"; return; }
    missed=$(tray_misses "$cell" "$PROGRAM_DIR/$shown")
    check "$label: tray shows $shown ($missed of its pixels missing)" test "$missed" = 0
    for icon in "$@"; do
        missed=$(tray_misses "$cell" "$skin/$icon")
        check "$label: tray does not show $icon" test "$missed" -gt 0 -a "$missed" != 999
    done
}

wait_display_shown() {
    local i
    for i in $(seq $(($1 * 20))); do
        display_windows
        [ -n "$MAIN_WIN" ] && viewable "$MAIN_WIN" && return 0
        sleep 0.05
    done
    return 1
}

# The master mute switched from elsewhere shows as the display with an empty bar, the tray's
# muted picture (the skin's iconmute.ico, else icon0.ico) and tip; unmuted, the level comes
# back. Windows + plus on a muted master unmutes it. "--volume-mute" runs as a command.
scenario_mute_shown() {
    local dir muted tips out
    dir=$(make_folder mute)
    start_program "$dir"
    tray_window 15 >/dev/null || { fail "no tray icon"; return; }
    sleep 0.5
    # Wine starts with the master at the top (16 chunks) and not muted.
    muted=$(program_mute "$dir")
    check "the probe reads the program's mute ($muted)" test "$muted" = muted=0
    expect_tray start icon3.ico iconmute.ico

    muted=$(program_mute "$dir" 1)
    check "muted from elsewhere ($muted)" test "$muted" = muted=1
    if wait_display_shown 2; then
        sleep 0.2
        expect_display 0 muted
        local picture=icon0.ico
        [ -f "$dir/iconmute.ico" ] && picture=iconmute.ico
        expect_tray muted "$picture" icon3.ico
        tips=$(tray_tips)
        check "muted: tip 'Vexlo (muted)' ($tips)" grep -qx 'Vexlo (muted)' <<<"$tips"
    else
        fail "muted: no display within 2 s"
    fi
    wait_display_hidden 3 || fail "muted: display not gone"

    program_mute "$dir" 0 >/dev/null
    if wait_display_shown 2; then
        sleep 0.2
        expect_display 16 unmuted
        expect_tray unmuted icon3.ico iconmute.ico
        tips=$(tray_tips)
        check "unmuted: tip 'Vexlo' ($tips)" test "$tips" = Vexlo
    else
        fail "unmuted: no display within 2 s"
    fi
    wait_display_hidden 3 || fail "unmuted: display not gone"

    # Windows + plus unmutes; at a level above the first step it steps nothing.
    program_mute "$dir" 1 >/dev/null
    wait_display_shown 2 && wait_display_hidden 3
    focus_wine || fail "cannot focus a Wine window"
    xdotool key super+equal
    sleep 0.3
    expect_display 16 up-unmutes
    muted=$(program_mute "$dir")
    check "Windows + plus unmuted the master ($muted)" test "$muted" = muted=0
    check "up: tip 'Vexlo' ($(tray_tips))" test "$(tray_tips)" = Vexlo
    wait_display_hidden 3 || fail "up: display not gone"

    # A skin without iconmute.ico shows icon0.ico when muted (its pixels are all icon3.ico's
    # too, which Wine's tray leaves in the cell: only the tip and the absence of a box tell
    # here).
    rm -f "$dir/iconmute.ico"
    program_mute "$dir" 1 >/dev/null
    if wait_display_shown 2; then
        expect_tray without-iconmute icon0.ico
        check "without iconmute.ico: tip 'Vexlo (muted)'" grep -qx 'Vexlo (muted)' <<<"$(tray_tips)"
    else
        fail "muted again: no display within 2 s"
    fi
    check "no box for the missing iconmute.ico ($(box_text "$dir"))" test -z "$(box_text "$dir")"
    program_mute "$dir" 0 >/dev/null

    # The command: no window, no second copy, nothing said; exit 1 with one line on standard
    # error when it cannot.
    local code verb
    (cd "$dir" && wine vexlo.exe --volume-mute </dev/null >"$ENV_ROOT/mute.out" 2>"$ENV_ROOT/mute.err")
    code=$?
    check "--volume-mute ends with 0 (got $code)" test "$code" = 0
    check "--volume-mute says nothing ($(cat "$ENV_ROOT/mute.out" "$ENV_ROOT/mute.err"))" \
        test ! -s "$ENV_ROOT/mute.out" -a ! -s "$ENV_ROOT/mute.err"
    check "--volume-mute adds no tray icon ($(tray_tips | paste -sd'|'))" test "$(tray_tips)" = Vexlo
    for verb in mute up down; do
        (cd "$dir" && PULSE_SERVER=unix:/nonexistent wine vexlo.exe "--volume-$verb" </dev/null \
            >"$ENV_ROOT/mute.out" 2>"$ENV_ROOT/mute.err")
        code=$?
        check "--volume-$verb without a sound server ends with 1 (got $code)" test "$code" = 1
        # Wine's ALSA driver has its say first.
        out=$(tr -d '\r' <"$ENV_ROOT/mute.err" | grep -v '^ALSA lib ')
        check "--volume-$verb without a sound server says why on standard error ($out)" \
            test "$out" = "vexlo: cannot read the master volume (is the sound server running?)."
    done
    quit_from_tray mute
}

# Keys of the user's choice in core.ini step the level in place of Windows + plus and minus; a
# chosen key another program holds is told in a balloon and the other one still steps; values
# that name no key are told, each in a balloon of its own (a balloon shows 255 characters), and
# the usual keys step.
scenario_chosen_hotkeys() {
    local dir holder want
    dir=$(make_folder chosen '[general]\r\nhotkeyup=Ctrl+Alt+PageUp\r\nhotkeydown=Ctrl+Alt+PageDown\r\n')
    # The display shows N chunks within 3 s; the tips of Wine's tray, a balloon's among them.
    chosen_shows() { wait_until 3000 eval "[ \"\$(overlay2_width)\" = $((35 + 9 * $1)) ]"; }
    chosen_shown() { ! display_hidden; }
    chosen_tips() { wine "$probe_exe" tray-tips '\explorer.exe' </dev/null 2>/dev/null | tr -d '\r'; }
    chosen_told() { chosen_tips | grep -qxF "$1"; }
    chosen_quit() {
        wine "$probe_exe" close '\chosen\vexlo.exe' </dev/null >/dev/null 2>&1
        wait_program 10 || { fail "$1: no end on a close request"; stop_program; }
    }
    start_program "$dir"
    tray_window 15 >/dev/null || { fail "no tray icon"; stop_program; return; }
    sleep 0.5
    focus_wine || fail "cannot focus a Wine window"
    # Wine starts at 16 chunks.
    xdotool key ctrl+alt+Next
    check "Ctrl+Alt+PageDown shows 15 chunks" chosen_shows 15
    wait_display_hidden 3
    xdotool key super+equal super+minus
    check "Windows + plus and minus step nothing" eval '! wait_until 1500 chosen_shown'
    xdotool key ctrl+alt+Prior
    check "Ctrl+Alt+PageUp shows 16 chunks" chosen_shows 16
    check "nothing told ($(chosen_tips | paste -sd'|'))" test "$(chosen_tips)" = Vexlo
    chosen_quit chosen

    wine "$probe_exe" hold-hotkey 60 3 0x21 </dev/null >"$ENV_ROOT/chosen-hold.log" 2>&1 &
    holder=$!
    wait_until 5000 grep -q registered=1 "$ENV_ROOT/chosen-hold.log" ||
        fail "another program could not register Ctrl+Alt+PageUp"
    start_program "$dir"
    tray_window 15 >/dev/null || fail "held: no tray icon"
    want="Vexlo cannot use Ctrl + Alt + PageUp: another program holds it; choose other keys with the settings hotkeyup and hotkeydown in core.ini."
    wait_until 8000 chosen_told "$want" || fail "held: not told \"$want\" ($(chosen_tips | paste -sd'|'))"
    focus_wine
    xdotool key ctrl+alt+Next
    check "held: Ctrl+Alt+PageDown still shows 15 chunks" chosen_shows 15
    chosen_quit held
    kill "$holder" 2>/dev/null
    wait "$holder" 2>/dev/null

    printf '[general]\r\nhotkeyup=Ctrl+Foo\r\nhotkeydown=Ctrl+Bar\r\n' >"$dir/core.ini"
    start_program "$dir"
    tray_window 15 >/dev/null || fail "Foo: no tray icon"
    want='The setting hotkeyup=Ctrl+Foo in core.ini is not a key combination Vexlo can use ("Foo" is neither a key nor Super, Ctrl, Alt or Shift); it uses Windows + plus instead.'
    wait_until 8000 chosen_told "$want" || fail "Foo: not told \"$want\" ($(chosen_tips | paste -sd'|'))"
    focus_wine
    xdotool key super+minus
    check "Bar: Windows + minus shows 15 chunks" chosen_shows 15
    xdotool key super+equal
    check "Foo: Windows + plus shows 16 chunks" chosen_shows 16
    # The second text follows in a balloon of its own once the first has had its time.
    want='The setting hotkeydown=Ctrl+Bar in core.ini is not a key combination Vexlo can use ("Bar" is neither a key nor Super, Ctrl, Alt or Shift); it uses Windows + minus instead.'
    wait_until 15000 chosen_told "$want" || fail "Bar: not told \"$want\" ($(chosen_tips | paste -sd'|'))"
    chosen_quit foo
}

# The balloon texts the tray shows in turn, a line each, until together (joined by blanks) they
# make $1; waits up to 40 s.
balloon_parts() {
    local want=$1 got="" line end=$(($(now_ms) + 40000))
    while [ "$(now_ms)" -lt "$end" ]; do
        while IFS= read -r line; do
            { [ -z "$line" ] || [ "$line" = Vexlo ]; } && continue
            grep -qxF -- "$line" <<<"$got" || got+="$line"$'\n'
        done < <(tray_tips)
        [ "$(printf %s "$got" | paste -sd' ')" = "$want" ] && break
        sleep 0.5
    done
    printf %s "$got"
}

# The user's language as Wine gives it: the UI language from LC_ALL, or LC_MESSAGES with the
# code page of LC_CTYPE. A locale without an ANSI code page (hi_IN) there makes Wine's code page
# 65001, as Windows' "Unicode UTF-8 for worldwide language support" does; those locales are
# compiled into the run's folder (LOCPATH). Each of German and Russian under its own code page
# (1252, 1251) and under 65001, English, and Portuguese (Portugal), which gets the Brazilian
# catalogue as it gets the Brazilian installer: the box of a bad setting; the balloon about two
# bad hotkey settings, a balloon for each sentence when it fits; the muted tray tip; the tray
# menu read off the screen (its screenshot and one of the last balloon kept); the error line of
# a volume command as the console it ran in shows it, and redirected into a file in the
# console's code page; the installer's title and its own option.
scenario_user_language() {
    local dir lang code text want label cp config shown parts sentence1 sentence2 languages oem
    local -x LC_ALL LC_CTYPE LC_MESSAGES LOCPATH LANG
    local quiet="$WINEDLLOVERRIDES;winepulse.drv,winealsa.drv,wineoss.drv=d"
    local locales="$ENV_ROOT/s/locale"
    mkdir -p "$locales"
    for code in de_DE ru_RU hi_IN; do
        [ -d "$locales/$code.UTF-8" ] ||
            localedef -i "$code" -f UTF-8 "$locales/$code.UTF-8" >/dev/null 2>&1 ||
            fail "cannot compile the locale $code.UTF-8"
    done
    for config in "de de de_DE 1252" "C C C 1252" "ru ru ru_RU 1251" "pt pt_BR pt_PT 1252" \
        "de-utf8 de de_DE 65001" "ru-utf8 ru ru_RU 65001"; do
        read -r label lang code cp <<<"$config"
        # Empty is unset to the C library (not "unset": that would end these variables' being
        # local). Bash's own warnings about locales it does not have are of no interest here.
        if [ "$cp" = 65001 ]; then
            # Nor LANG: a locale missing from LOCPATH (C.UTF-8 too) makes them all fail.
            { LC_ALL='' LANG='' LOCPATH=$locales LC_CTYPE=hi_IN.UTF-8 LC_MESSAGES=$code.UTF-8; } 2>/dev/null
        else
            { LC_CTYPE='' LC_MESSAGES='' LOCPATH='' LANG=C.UTF-8 LC_ALL=$code.UTF-8; } 2>/dev/null
        fi
        languages=$(wine "$probe_exe" languages </dev/null 2>/dev/null | tr -d '\r')
        check "$label: Wine's code page is $cp ($languages)" grep -q " acp=$cp " <<<"$languages"
        oem=$(sed -n 's/.* oemcp=\([0-9]*\).*/\1/p' <<<"$languages")
        case $oem in 65001) oem=UTF-8 ;; *) oem=CP$oem ;; esac
        case $cp in 65001) cp=UTF-8 ;; *) cp=WINDOWS-$cp ;; esac

        dir=$(make_folder "bad-$label" '[general]\r\nontop=abc\r\n')
        printf %s 'Type mismatch: the setting "{key}" in section "{section}" of core.ini is "{value}", which is not a number.' >"$dir/t1"
        want=$(catalogue_text "$lang" "$dir/t1" key=ontop section=general value=abc)
        start_program "$dir"
        text=""
        wait_until 15000 eval 'text=$(box_text "$dir" | iconv -f "$cp" -t UTF-8); [ -n "$text" ]'
        check "$label: the bad setting's box says \"$want\" (got \"$text\")" test "$text" = "$want"
        answer_box "$dir"
        wait_program 10 || stop_program
        [ "$label" = pt ] && { installer_language "$label" "Instalação do Vexlo"; continue; }

        dir=$(make_folder "keys-$label" '[general]\r\nhotkeyup=Ctrl+Foo\r\nhotkeydown=Ctrl+Bar\r\n')
        printf %s 'The setting {setting} in core.ini is not a key combination Vexlo can use ({problem}); it uses {keys} instead.' >"$dir/t1"
        # The reason and the key names are fragments of the sentence's language too.
        printf %s '"{part}" is neither a key nor Super, Ctrl, Alt or Shift' >"$dir/t2"
        local win plus minus
        win=$(catalogue_text "$lang" <(printf Windows))
        plus=$(catalogue_text "$lang" <(printf plus))
        minus=$(catalogue_text "$lang" <(printf minus))
        sentence1=$(catalogue_text "$lang" "$dir/t1" setting=hotkeyup=Ctrl+Foo keys="$win + $plus" \
            problem="$(catalogue_text "$lang" "$dir/t2" part=Foo)")
        sentence2=$(catalogue_text "$lang" "$dir/t1" setting=hotkeydown=Ctrl+Bar keys="$win + $minus" \
            problem="$(catalogue_text "$lang" "$dir/t2" part=Bar)")
        start_program "$dir"
        tray_window 15 >/dev/null || { fail "$label: no tray icon"; stop_program; continue; }
        parts=$(balloon_parts "$sentence1 $sentence2")
        import -window root "$shots/language-$label-balloon.png"
        check "$label: the balloons say \"$sentence1 $sentence2\" ($(paste -sd'|' <<<"$parts"))" \
            test "$(paste -sd' ' <<<"$parts")" = "$sentence1 $sentence2"
        # The shell shows 255 bytes of a balloon: a sentence that fits is a balloon of its own.
        if [ "$(printf %s "$sentence1" | iconv -f UTF-8 -t "$cp" | wc -c)" -le 255 ]; then
            check "$label: a balloon for each sentence ($(paste -sd'|' <<<"$parts"))" \
                test "$parts" = "$(printf '%s\n%s' "$sentence1" "$sentence2")"
        fi
        want=$(catalogue_text "$lang" <(printf 'Vexlo (muted)'))
        program_mute "$dir" 1 >/dev/null
        check "$label: the muted tray tip says \"$want\"" wait_until 8000 eval \
            'tray_tips | grep -qxF "$want"'
        program_mute "$dir" 0 >/dev/null
        shown=""
        quit_from_tray "language-$label"
        [ -n "$MENU_AT" ] && shown=$(screen_text "$shots/language-$label-menu.png" $MENU_AT "$lang")
        check "$label: the menu on the screen reads \"$(paste -sd'|' <<<"$shown")\"" \
            test "$shown" = "$(printf '%s\n%s' "$(catalogue_text "$lang" <(printf Quit))" \
                "$(catalogue_text "$lang" <(printf 'Open Mixer'))")"

        # A skin picture cut off after 30 bytes: the box's sentence and its reason in one
        # language.
        local start
        dir=$(make_folder "skin-$label")
        head -c 30 "$skin/back.bmp" >"$dir/back.bmp"
        printf %s 'The skin file "{file}" cannot be loaded: {reason}.' >"$dir/t1"
        printf %s 'the file is cut off ({needed} bytes needed, {present} present)' >"$dir/t2"
        want=$(catalogue_text "$lang" "$dir/t2" needed=54 present=30)
        start=$(catalogue_text "$lang" "$dir/t1")
        start=${start%%\{file\}*}
        start_program "$dir"
        text=""
        wait_until 15000 eval 'text=$(box_text "$dir" | iconv -f "$cp" -t UTF-8); [ -n "$text" ]'
        check "$label: the cut-off skin file's box says \"$start...$want.\" (got \"$text\")" \
            eval '[[ $text == "$start"*"$want." ]]'
        answer_box "$dir"
        wait_program 10 || stop_program

        # A volume command that finds no sound device: its line as the console it was typed
        # in shows it, and redirected into a file, in the console's code page.
        dir=$(make_folder "command-$label")
        printf %s 'cannot read the master volume (is the sound server running?)' >"$dir/t1"
        want="vexlo: $(catalogue_text "$lang" "$dir/t1")."
        shown=$(cd "$dir" && WINEDLLOVERRIDES=$quiet timeout 60 wine "$probe_exe" console \
            vexlo.exe --volume-up </dev/null 2>/dev/null | tr -d '\r')
        printf '%s\n' "$shown" >"$shots/console-$label.txt"
        check "$label: the console shows \"$want\" ($(paste -sd'|' <<<"$shown"))" \
            test "$(head -1 <<<"$shown")" = "$want"
        check "$label: the command ends with 1 ($(paste -sd'|' <<<"$shown"))" grep -qx 'exit=1' <<<"$shown"
        (cd "$dir" && WINEDLLOVERRIDES=$quiet timeout 60 wine vexlo.exe --volume-up </dev/null \
            >/dev/null 2>"$dir/err")
        text=$(tr -d '\r' <"$dir/err" | iconv -f "$oem" -t UTF-8)
        check "$label: redirected, the line in $oem is \"$want\" (got \"$text\")" test "$text" = "$want"
        case $label in de) installer_language de "Installation von Vexlo" ;;
        ru) installer_language ru "Установка Vexlo" ;; C) installer_language C "Vexlo Setup" ;; esac
    done
}

# The installer's pages in the language $1 (the one the locale variables give): NSIS's own
# words in its language files (the title $2 tells which it took), Vexlo's own in the catalogue
# (the start-at-login option, read off the screen) where OCR reads the language.
installer_language() {
    local lang=$1 want_title=$2 setup title="" installer window page want
    setup=$(ls "$build"/vexlo-*-win32-setup.exe 2>/dev/null | head -1)
    [ -n "$setup" ] || { fail "no installer in $build"; return; }
    (exec wine "$setup" </dev/null >/dev/null 2>&1) &
    installer=$!
    if ! wait_until 20000 eval 'window=$(xdotool search --onlyvisible --name "Vexlo" 2>/dev/null | head -1); [ -n "$window" ]'; then
        fail "$lang: no installer window"
        kill "$installer" 2>/dev/null
        wait "$installer" 2>/dev/null
        return
    fi
    sleep 1
    title=$(xdotool getwindowname "$window" 2>/dev/null | sed 's/[[:space:]]*$//')
    import -window root "$shots/installer-$lang.png"
    check "$lang: the installer's title is \"$want_title\" (got \"$title\")" test "$title" = "$want_title"
    if [ "$lang" != pt ]; then
        geometry "$window"
        page=$(screen_text "$shots/installer-$lang.png" "$WX" "$WY" "$WW" "$WH" "$lang")
        want=$(catalogue_text "$lang" <(printf 'Start Vexlo when I log in'))
        check "$lang: the installer offers \"$want\" ($(paste -sd'|' <<<"$page"))" grep -qF "$want" <<<"$page"
    fi
    xdotool windowkill "$window" 2>/dev/null
    wait_until 10000 eval '! kill -0 $installer 2>/dev/null' || kill "$installer" 2>/dev/null
    wait "$installer" 2>/dev/null
}

# ---- run ----
trap 'stop_program; env_stop; stop_pids "${TWO_HEADS_PIDS[@]}"; env_cleanup' EXIT
env_start || exit 1
shots="$ENV_ROOT/shots"
mkdir -p "$shots"
passed=0
failed=0
for scenario in \
    scenario_start_without_settings \
    scenario_hotkeys_show_the_display_and_click \
    scenario_press_at_the_top_shows_the_display \
    scenario_display_on_the_chosen_monitor \
    scenario_chosen_hotkeys \
    scenario_user_language \
    scenario_mute_shown \
    scenario_executable_resources \
    scenario_tray_left_press_starts_the_mixer \
    scenario_tray_left_press_starts_the_system_mixer \
    scenario_tray_left_press_opens_the_slider \
    scenario_control_mode \
    scenario_bad_setting \
    scenario_missing_skin_file \
    scenario_skin_check_table \
    scenario_skin_preview \
    scenario_installer; do
    # VEXLO_E2E_ONLY="name ...": only those scenarios.
    [ -z "${VEXLO_E2E_ONLY:-}" ] || [[ " $VEXLO_E2E_ONLY " == *" ${scenario#scenario_} "* ]] || continue
    FAILURES=()
    started=$(date +%s%N)
    $scenario
    if [ -n "$PROGRAM_PID" ] || [ ${#FAILURES[@]} -ne 0 ]; then
        # A scenario that failed may leave windows, boxes or a dead tray icon behind: start
        # the next one on a fresh Wine desktop.
        stop_program
        reset_wine
    fi
    sleep 0.3
    ms=$(( ($(date +%s%N) - started) / 1000000 ))
    name=${scenario#scenario_}
    if [ ${#FAILURES[@]} -eq 0 ]; then
        passed=$((passed + 1))
        echo "PASS $name (${ms} ms)"
    else
        failed=$((failed + 1))
        echo "FAIL $name (${ms} ms)"
        printf '     - %s\n' "${FAILURES[@]}"
    fi
done
echo "screenshots: $shots"
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
