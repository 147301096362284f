# Helpers of the Windows reliability scripts (tests/reliability/2x-win32-*.sh): one private
# session per script (env.sh: Xvfb + openbox, PulseAudio null sink, a Wine prefix made once
# and removed at the end), program folders of their own per case, the program watched from
# outside with vexlo_probe.exe, and the figures written as a markdown fragment. Sourced.
#
#   rel_init NAME DISPLAY     paths, build if needed, the session; cleans up on exit
#   VEXLO_WIN32_BUILD         another build folder to take the program and the probe from
#                             (default: build/win32, built when missing)
#   VEXLO_WIN32_EXE           another vexlo.exe to test (default: the build folder's)
#   VEXLO_REL_DISPLAY         the display to use instead of the script's own

REL_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../../.." && pwd)
REL_BUILD=${VEXLO_WIN32_BUILD:-$REL_ROOT/build/win32}
REL_SKIN=$REL_ROOT/skin/default
REL_PIDS=()
failures=()

# shellcheck source=../common.sh
. "$REL_ROOT/tests/e2e/common.sh"

# What went wrong, listed as it happens and reported at the end.
fail() { failures+=("$*"); echo "  - $*"; }
step() { echo "== $*"; }

rel_build() {
    if [ -z "${VEXLO_WIN32_BUILD:-}" ] &&
        { [ ! -f "$REL_BUILD/vexlo.exe" ] || [ ! -f "$REL_BUILD/win32-tests/vexlo_probe.exe" ]; }; then
        (cd "$REL_ROOT" && { [ -f build/win32/build.ninja ] || cmake --preset win32 >/dev/null; } &&
            cmake --build --preset win32 >/dev/null) || return 1
    fi
    # VEXLO_WIN32_EXE runs the scripts against another build of the program.
    REL_EXE=${VEXLO_WIN32_EXE:-$REL_BUILD/vexlo.exe}
    REL_PROBE=$REL_BUILD/win32-tests/vexlo_probe.exe
    [ -f "$REL_EXE" ] && [ -f "$REL_PROBE" ]
}

rel_cleanup() {
    local p
    for p in "${REL_PIDS[@]}"; do kill -9 "$p" 2>/dev/null; done
    REL_PIDS=()
    if [ -n "${REL_ENV_STARTED:-}" ]; then
        env_stop
        REL_ENV_STARTED=""
    fi
    [ -n "${REL_WORK:-}" ] && [ -d "$REL_WORK" ] && rm -rf "$REL_WORK"
}

rel_init() {
    REL_NAME=$1
    export ENV_DISPLAY=${VEXLO_REL_DISPLAY:-$2}
    rel_build || { echo "FAIL $REL_NAME: cannot build build/win32"; exit 1; }
    REL_WORK=$(mktemp -d "/tmp/vexlo-$REL_NAME.XXXXXX")
    chmod 755 "$REL_WORK"
    export ENV_ROOT=$REL_WORK/env
    mkdir -p "$REL_ROOT/build/reliability" "$REL_WORK/cases"
    trap rel_cleanup EXIT
    trap 'exit 130' INT TERM
    # shellcheck source=env.sh
    source "$REL_ROOT/tests/e2e/win32/env.sh"
    REL_ENV_STARTED=1
    env_start || { echo "FAIL $REL_NAME: cannot start the session on :$ENV_DISPLAY"; exit 1; }
}

probe() { wine "$REL_PROBE" "$@" </dev/null 2>/dev/null | tr -d '\r'; }

# case_folder NAME: a fresh program folder with the program and the default skin.
case_folder() {
    local dir=$REL_WORK/cases/$1
    rm -rf "$dir"
    mkdir -p "$dir"
    cp "$REL_EXE" "$REL_SKIN"/*.bmp "$REL_SKIN"/*.ico "$REL_SKIN"/*.gif "$REL_SKIN"/*.wav "$dir"/
    echo "$dir"
}

# The probe's name for the program of a folder: a part of its executable's path.
case_match() { echo "\\$(basename "$1")\\vexlo.exe"; }

# case_start DIR [ARG]: starts the program of the folder; its pid in CASE_PID (the Wine
# process that runs vexlo.exe), its output in DIR.log.
case_start() {
    local dir=$1
    shift
    (cd "$dir" && exec wine vexlo.exe "$@" </dev/null >"$dir.log" 2>&1) &
    CASE_PID=$!
    REL_PIDS+=("$CASE_PID")
}

# case_wait PID MILLISECONDS: true when the process ended in time; its exit code in CASE_CODE
# (the caller must be the process's parent).
case_wait() {
    CASE_CODE=""
    wait_until "$2" ended "$1" || return 1
    wait "$1" 2>/dev/null
    CASE_CODE=$?
    return 0
}

case_kill() {
    kill -9 "$1" 2>/dev/null
    wait "$1" 2>/dev/null
}

# The text of the process's visible box captioned "Vexlo" (nothing when there is none).
box_text() {
    probe windows "$(case_match "$1")" |
        awk -F'\t' '$3 == 1 && $4 == "#32770" && $5 == "Vexlo" { print $6; exit }'
}
has_box() { [ -n "$(box_text "$1")" ]; }

# Signs of a crash: Wine's report in the program's output, or its crash dialog on the screen.
crashed() {
    grep -qE 'Unhandled (exception|page fault|illegal)|starting debugger' "$1.log" 2>/dev/null ||
        xdotool search --onlyvisible --name '^Program Error$' >/dev/null 2>&1
}

# Global hotkeys reach Wine only while one of its windows has the keyboard focus.
focus_wine() {
    local w
    w=$(wine_tray_window) || return 1
    focus_window "$w"
}

# focus_window WINDOW: gives an X window the keyboard focus; directly when the window manager's
# activation does not (Wine 10's tray declines it).
focus_window() {
    xdotool windowactivate --sync "$1" >/dev/null 2>&1
    [ "$(xdotool getwindowfocus 2>/dev/null)" = "$1" ] || xdotool windowfocus --sync "$1" 2>/dev/null
}

# Geometry of an X window: "x y width height viewable(0/1)".
# The second overlay (caption "Hidden", the one whose width follows the level) of a process:
# prints its width when it is shown, nothing otherwise.
shown_overlay_widths() {
    local w g
    for w in $(xdotool search --all --pid "$1" --name '^Hidden$' 2>/dev/null); do
        g=($(geometry_of "$w"))
        [ "${g[4]:-0}" = 1 ] && echo "${g[2]}"
    done
}
display_shown() {
    local w g
    for w in $(xdotool search --all --pid "$1" --name '^(Vexlo|Hidden)$' 2>/dev/null); do
        g=($(geometry_of "$w"))
        [ "${g[4]:-0}" = 1 ] && [ "${g[2]}" != 1 ] && return 0
    done
    return 1
}
display_hidden() { ! display_shown "$1"; }

# The chunk count the display shows: from the second overlay's width, 35 + 9 n (the first
# overlay keeps the picture's width, 212).
shown_chunks() {
    local w
    for w in $(shown_overlay_widths "$1"); do
        if [ "$w" -ne 212 ] && [ $(((w - 35) % 9)) = 0 ]; then
            echo $(((w - 35) / 9))
            return 0
        fi
    done
    # 212 is 35 + 9 x 19.67: with both overlays 212 wide the count is unknown; 16 chunks is
    # 179 wide, so two 212s mean the display has not been resized.
    return 1
}

# The program's arithmetic for the master level (maximum 65535, step 3855): the number of
# steps k with level = 3855 k, from 1 (the floor one step down leaves) to 17 (the top).
level_after() {  # level_after K PRESSES...  (u / d)
    local k=$1 p
    shift
    for p in "$@"; do
        if [ "$p" = u ]; then ((k < 17)) && k=$((k + 1)); else ((k > 1)) && k=$((k - 1)); fi
    done
    echo "$k"
}

# The width of the second overlay of a process while it is shown: 35 + 9 n for n chunks
# (the first overlay keeps its picture's 212; Wine shrinks the X windows of hidden windows to
# 1 x 1, so a hidden overlay's width cannot be read).
overlay2_width() {
    local w g
    for w in $(xdotool search --all --pid "$1" --name '^Hidden$' 2>/dev/null); do
        g=($(geometry_of "$w"))
        [ "${g[4]:-0}" = 1 ] && [ "${g[2]:-1}" -gt 1 ] && [ "${g[2]}" != 212 ] &&
            { echo "${g[2]}"; return 0; }
    done
    return 1
}

width_is() { [ "$(overlay2_width "$1")" = "$2" ]; }

# Waits for the display (up to 5 s), follows it until it goes away (at most $2 ms) and prints
# the last width of the second overlay seen while shown. A level holds 1 s on the screen
# after its last change, so the last width seen is the last level shown.
# With a third argument, also keeps the last screenshot taken while the display was shown
# in that file.
last_shown_width() {
    local end=$(($(now_ms) + $2)) last="" w shot=${3:-}
    wait_until 5000 display_shown "$1" || return 1
    while [ "$(now_ms)" -le "$end" ]; do
        [ -n "$shot" ] && import -window root "$shot.new.png" 2>/dev/null
        w=$(overlay2_width "$1") && last=$w
        display_hidden "$1" && break
        [ -n "$shot" ] && [ -n "$w" ] && mv "$shot.new.png" "$shot"
        sleep 0.05
    done
    echo "$last"
    display_hidden "$1"
}

# bar_shows SHOT N: the level bar in a screenshot of the display (212 x 200, centred on the
# 1024 x 768 screen, bar at 34,168) shows N chunks: the last lit chunk is chunks.bmp's, the
# first unlit one back.bmp's.
bar_shows() {
    local shot=$1 n=$2 x
    if [ "$n" -gt 0 ]; then
        x=$((9 * n - 5))
        [ "$(pixel "$shot" $((406 + 34 + x)) $((284 + 168 + 6)))" = \
            "$(pixel "$REL_SKIN/chunks.bmp" "$x" 6)" ] || return 1
    fi
    if [ "$n" -lt 16 ]; then
        x=$((9 * n + 4))
        [ "$(pixel "$shot" $((406 + 34 + x)) $((284 + 168 + 6)))" = \
            "$(pixel "$REL_SKIN/back.bmp" $((34 + x)) $((168 + 6)))" ] || return 1
    fi
}

tray_window() { wine_tray_window; }

# The first tray icon's 20 x 20 cell, cut out of a screenshot into $1.
tray_icon_shot() {
    local tray g
    tray=$(tray_window)
    [ -n "$tray" ] || return 1
    g=($(geometry_of "$tray"))
    import -window root "$1.full.png" 2>/dev/null &&
        /usr/bin/convert "$1.full.png" -crop "20x20+${g[0]}+${g[1]}" +repage "$1"
}

# Quits the only running program through its tray menu ("Quit", the first item); true when
# the menu came and was chosen.
quit_from_tray() {
    local tray g before menu
    tray=$(tray_window)
    [ -n "$tray" ] || return 1
    g=($(geometry_of "$tray"))
    before=$(visible_windows)
    xdotool mousemove $((g[0] + 10)) $((g[1] + 10)) sleep 0.1 click 3
    menu=$(menu_at $((g[0] + 10)) $((g[1] + 10)) "$before") || return 1
    g=($(geometry_of "$menu"))
    xdotool mousemove $((g[0] + 25)) $((g[1] + 10)) sleep 0.2 click 1
}

# quit_case PID MATCH [close]: "Quit" from the tray menu, or a close request to the program
# MATCH when the menu does not open or "close" is asked for (quit_how says which); a failure
# unless the program then ends with exit code 0 within 8 s.
quit_case() {
    quit_how="the tray menu"
    if [ "${3:-}" = close ]; then
        quit_how="a close request"
        probe close "$2" >/dev/null
    elif ! quit_from_tray; then
        quit_how="a close request (the tray menu did not open)"
        probe close "$2" >/dev/null
    fi
    if case_wait "$1" 8000; then
        [ "$CASE_CODE" = 0 ] || fail "quit through $quit_how: exit code $CASE_CODE"
    else
        fail "still running 8 s after the quit (hang)"
        case_kill "$1"
    fi
}

# ends_after_box DIR PID: answers the box of the program of DIR; sets why unless the program
# then ends within 8 s with an exit code of its own that is not 0 (CASE_CODE).
ends_after_box() {
    probe answer "$(case_match "$1")" >/dev/null
    if case_wait "$2" 8000; then
        if [ "$CASE_CODE" = 0 ]; then
            why="exit code 0 after the error box"
        elif [ "$CASE_CODE" -ge 128 ]; then
            why="ended by signal $((CASE_CODE - 128))"
        fi
    else
        why="still running 8 s after the box was answered (hang)"
    fi
}

# rel_finish SECONDS [SUMMARY]: the script's closing line (PASS with the summary, or FAIL)
# and its exit status, from the failures listed.
rel_finish() {
    if [ ${#failures[@]} -eq 0 ]; then
        echo "PASS $REL_NAME${2:+: $2} ($1 s)"
    else
        echo "FAIL $REL_NAME ($1 s)"
    fi
    [ ${#failures[@]} -eq 0 ]
}
