# Helpers shared by the Linux end-to-end and reliability scripts: waiting, the sink's level
# and the program's arithmetic on it, the windows of a process, the tray icon and its menu,
# message boxes, and the display checked in a screenshot. Sourced, not run.
#
# Expects: VEXLO_SINK (with-session.sh sets it); for shot/check_display also $art, the folder
# for screenshots. screen_w/screen_h default to the session's 1024 x 768.

. "$(dirname "${BASH_SOURCE[0]}")/../common.sh"

sink=${VEXLO_SINK:-vexlo_test}
screen_w=${screen_w:-1024}
screen_h=${screen_h:-768}
why=""

# need_linux_build: builds the Linux program when build/linux has none; ends the script when
# it cannot. Uses $root and $name of the caller.
need_linux_build() {
    [ -x "$root/build/linux/vexlo" ] && return 0
    (cd "$root" && cmake --preset linux >/dev/null && cmake --build --preset linux >/dev/null) ||
        { echo "FAIL $name: cannot build build/linux"; exit 1; }
}

# build_folder SCRIPT ARGS...: the one argument of an end-to-end script, the build folder that
# holds the vexlo binary, as an absolute path; otherwise says what is wrong and returns 2.
build_folder() {
    local script=$1 dir
    shift
    [ $# -eq 1 ] || { echo "usage: $script BUILD_DIR" >&2; return 2; }
    dir=$(cd "$1" 2>/dev/null && pwd) || { echo "no such folder: $1" >&2; return 2; }
    [ -x "$dir/vexlo" ] || { echo "no vexlo binary in $dir" >&2; return 2; }
    echo "$dir"
}

# enter_session SCRIPT DISPLAY [with-session options...]: for the reliability scripts. Builds
# the Linux program when it is missing, then runs SCRIPT again as "SCRIPT --inside" in a
# session of its own on a display chosen free at run time (on VEXLO_REL_DISPLAY when that is
# set; DISPLAY, the script's old fixed number, is no longer used). Does not return. Uses $root
# and $name of the caller.
enter_session() {
    local script=$1 display=()
    shift 2
    [ -n "${VEXLO_REL_DISPLAY:-}" ] && display=(--display "$VEXLO_REL_DISPLAY")
    cd "$root" || exit 1
    need_linux_build
    mkdir -p build/reliability
    exec env -u VEXLO_SESSION "$root/tests/e2e/linux/with-session.sh" --desktop "$@" \
        "${display[@]}" "$script" --inside </dev/null
}

# run_shards SCRIPT WORK SHARDS FIRST_DISPLAY: splits WORK/jobs.txt into SHARDS parts and runs
# "SCRIPT --shard JOBS RESULTS WORK" for each in its own session, side by side, each on a
# display chosen free at run time (from VEXLO_REL_DISPLAY on, when set; FIRST_DISPLAY is no
# longer used). Sets total (the number of jobs) and seconds (how long they took).
run_shards() {
    local script=$1 work=$2 shards=$3 first=${VEXLO_REL_DISPLAY:-} i p pids=() display
    total=$(wc -l <"$work/jobs.txt")
    for ((i = 0; i < shards; i++)); do
        awk -v n="$shards" -v i=$i '(NR - 1) % n == i' "$work/jobs.txt" >"$work/jobs.$i"
        : >"$work/results.$i"
    done
    local start
    start=$(date +%s%N)
    for ((i = 0; i < shards; i++)); do
        display=()
        [ -n "$first" ] && display=(--display $((first + i)))
        env -u VEXLO_SESSION "$root/tests/e2e/linux/with-session.sh" --desktop --no-compositor \
            "${display[@]}" "$script" --shard "$work/jobs.$i" "$work/results.$i" "$work" \
            </dev/null >"$work/shard.$i.log" 2>&1 &
        pids+=($!)
    done
    for p in "${pids[@]}"; do wait "$p"; done
    seconds=$((($(date +%s%N) - start) / 1000000000))
}
fail() { why=$*; return 1; }

level() { pactl get-sink-volume "$sink" 2>/dev/null | sed -n 's/.*front-left: \([0-9]*\) .*/\1/p'; }
level_is() { [ "$(level)" = "$1" ]; }

# The program's rules for the level: one step is 65536/17, the result rounded half to even;
# the mixer adapter limits a level above the top to the top (65536 with PulseAudio).
step_up() { awk -v l="$1" 'BEGIN { v = sprintf("%.0f", 65536 / 17 + l) + 0; if (v > 65536) v = 65536; print v }'; }
step_down() { awk -v l="$1" 'BEGIN { s = 65536 / 17; if (s < l) printf "%.0f\n", l - s; else print l }'; }
chunks_for() {  # the chunk count the display shows for a level
    awk -v l="$1" 'BEGIN { s = 3855; for (i = 1; i <= 17; i++) if (l <= i * s) { print i - 1; exit }
                           print 16 }'
}

# exit_code PID: the ended process's exit code, in $code. Not in a command substitution: a
# subshell's wait for its parent's child now and then answers -1.
exit_code() {
    wait "$1" 2>/dev/null
    code=$?
}

# The X tools, as every script that sources this file calls them. Without a window, xwininfo,
# xprop and import ask the user to click one, and "-id ''" is no window: such a call would
# wait for a click that never comes. Here a call with an empty argument, or without a window
# to work on, fails at once (saying so on stderr), and none runs longer than its bound (a
# "--sync" of xdotool waits for an event that may never come). Something that must run for
# long (xprop -spy) is started as "command xprop".
window_id_ok() { [[ ${1:-} =~ ^(0x[0-9a-fA-F]+|[0-9]+)$ ]] && (($1 != 0)); }
x_call_ok() {  # x_call_ok TOOL ARGS...: true when TOOL may be run with ARGS
    local tool=$1 a prev="" target=0
    shift
    for a in "$@"; do
        [ -n "$a" ] || { echo "$tool: refused, an empty argument: $tool $*" >&2; return 1; }
        case $prev in
            -id) window_id_ok "$a" || { echo "$tool: refused, -id $a is no window" >&2; return 1; } ;;
        esac
        case $a in -id | -root | -name | -font | -window) target=1 ;; esac
        prev=$a
    done
    if [ "$tool" != xdotool ] && [ $target = 0 ]; then
        echo "$tool: refused, no window given (it would wait for a click): $tool $*" >&2
        return 1
    fi
}
xwininfo() { x_call_ok xwininfo "$@" && timeout -k 2 10 xwininfo "$@"; }
xprop() { x_call_ok xprop "$@" && timeout -k 2 10 xprop "$@"; }
import() { x_call_ok import "$@" && timeout -k 2 20 import "$@"; }
xdotool() { x_call_ok xdotool "$@" && timeout -k 2 30 xdotool "$@"; }

visible() { xdotool search --onlyvisible --pid "$1" 2>/dev/null; }
name_of() { window_id_ok "${1:-}" && xdotool getwindowname "$1" 2>/dev/null; }
geometry() {  # x y width height; nothing (and false) for no window
    window_id_ok "${1:-}" || return 1
    xwininfo -id "$1" 2>/dev/null | awk '/Absolute upper-left X/ {x = $4} /Absolute upper-left Y/ {y = $4}
        /Width:/ {w = $2} /Height:/ {h = $2} END {print x, y, w, h}'
}
width_of() { geometry "$1" | cut -d' ' -f3; }
# named PID NAME: the visible windows of the process with exactly that name. Qt names an
# untitled window after the program, "Vexlo" as the display: the tray icon (at most 32 x 32)
# and a tray message (a tooltip window) are left out.
# One listing of all windows (xwininfo -tree: id, name, size) serves every window of the
# process, which keeps a look at the display cheap on a loaded machine.
named() {
    local ids w width height
    ids=" $(visible "$1" | tr '\n' ' ') "
    [ -n "${ids// /}" ] || return 0
    while read -r w width height; do
        w=$((w))
        [[ $ids == *" $w "* ]] || continue
        [ "$width" -le 32 ] && [ "$height" -le 32 ] && continue
        is_tooltip "$w" && continue
        echo "$w"
    done < <(xwininfo -root -tree 2>/dev/null |
        awk -v n="\"$2\":" '$1 ~ /^0x/ && $2 == n {
            for (i = 3; i <= NF; i++) if ($i ~ /^[0-9]+x[0-9]+[+-]/) {
                split($i, g, /[x+-]/); print $1, g[1], g[2]; break } }')
}
is_tooltip() { xprop -id "$1" _NET_WM_WINDOW_TYPE 2>/dev/null | grep -q _NET_WM_WINDOW_TYPE_TOOLTIP; }
tray_icon() {  # the process's icon in the tray: a small visible window
    local w g
    for w in $(visible "$1"); do
        g=($(geometry "$w"))
        [ "${g[2]:-99}" -le 32 ] && [ "${g[3]:-99}" -le 32 ] && { echo "$w"; return 0; }
    done
    return 1
}
has_tray_icon() { [ -n "$(tray_icon "$1")" ]; }
has_named() { [ -n "$(named "$1" "$2")" ]; }
dialog() {  # a visible dialog (message box) of the process
    local w
    for w in $(visible "$1"); do
        xprop -id "$w" _NET_WM_WINDOW_TYPE 2>/dev/null | grep -q DIALOG && { echo "$w"; return 0; }
    done
    return 1
}
has_dialog() { [ -n "$(dialog "$1")" ]; }
osd_shown() { [ -n "$(named "$1" Vexlo)" ]; }
osd_hidden() { [ -z "$(named "$1" Vexlo)" ] && [ -z "$(named "$1" Hidden)" ]; }
opacity() { xprop -id "$1" _NET_WM_WINDOW_OPACITY 2>/dev/null | awk -F' = ' '/=/ {print int($2 / 16777216)}'; }
# held_translucent WIN: the display's hold at 125 of 255, as the window says it: in the window
# opacity on a plain X server, in its own pixels (a visual with alpha, the opacity left at
# opaque) where a compositor runs (gnome_shell.sh measures those pixels on screen).
held_translucent() {
    if xwininfo -id "$1" | grep -q 'Depth: 32'; then
        [ -z "$(opacity "$1")" ]
    else
        [ "$(opacity "$1")" = 125 ]
    fi
}
shot() { import -window root "$art/$1.png"; }
# keep_shots FROM TO: a run takes its screenshots in a folder of its own (two runs side by side
# must not read each other's); at its end they replace TO's as a whole.
keep_shots() {
    local tmp
    tmp=$(mktemp -d "$2.XXXXXX") || return 1
    cp -a "$1"/. "$tmp"/ 2>/dev/null
    rm -rf "$2"
    mv -T "$tmp" "$2" 2>/dev/null || rm -rf "$tmp"
}
press_icon() {  # press_icon PID BUTTON; false when the process has no icon in the tray
    local g
    g=($(geometry "$(tray_icon "$1")")) && [ ${#g[@]} = 4 ] || return 1
    xdotool mousemove $((g[0] + g[2] / 2)) $((g[1] + g[3] / 2)) click "$2"
}
answer_dialog() {  # focuses the box and presses Return
    local box
    box=$(dialog "$1") || return 1
    xdotool windowfocus --sync "$box" 2>/dev/null
    xdotool key Return
}
# menu_of PID: a visible popup of the process wider than the tray icon and lower than the
# display (200 px; untitled, the menu is named "Vexlo" as the display is).
menu_of() {
    local w icon g
    icon=$(tray_icon "$1")
    for w in $(visible "$1"); do
        [ "$w" != "$icon" ] && [ "$(name_of "$w")" != Hidden ] && ! is_tooltip "$w" || continue
        g=($(geometry "$w"))
        [ "${g[2]:-0}" -gt 32 ] && [ "${g[3]:-999}" -lt 150 ] && { echo "$w"; return 0; }
    done
    return 1
}
has_menu() { menu_of "$1" >/dev/null; }
quit_from_tray() {  # quit_from_tray PID: "Quit" from the tray icon's menu
    press_icon "$1" 3 || return 1
    wait_until 2000 has_menu "$1" || return 1
    xdotool key Down Return
}
# quits PID: "Quit" from the tray menu (a termination request when the menu does not come);
# true when the program then ends with exit code 0 within 3 s.
quits() {
    local code
    quit_from_tray "$1" || kill -TERM "$1"
    wait_until 3000 ended "$1" || { fail "still running after Quit"; return 1; }
    exit_code "$1"
    [ "$code" = 0 ] || { fail "exit code $code after Quit"; return 1; }
}
# ends_after_box PID: answers the program's error box; true when the program then ends with an
# exit code of its own that is not 0 (not by a signal) within 3 s.
ends_after_box() {
    local code
    answer_dialog "$1"
    wait_until 3000 ended "$1" || { fail "still running 3 s after the box was answered (hang)"; return 1; }
    exit_code "$1"
    if [ "$code" = 0 ]; then
        fail "exit code 0 after the error box"
    elif [ "$code" -ge 128 ]; then
        fail "ended by signal $((code - 128))"
    fi
}

# Lit chunks of the level bar in a screenshot: the bar starts 34 pixels into the display
# window, 168 down, 9 pixels per chunk; a lit chunk is coloured, an unlit one grey.
lit_chunks() {  # lit_chunks SHOT X Y
    /usr/bin/convert "$1" -crop "144x1+$(($2 + 34))+$(($3 + 174))" +repage -depth 8 txt:- |
        sed -n 's/^\([0-9]*\),[0-9]*: *(\([0-9]*\),\([0-9]*\),\([0-9]*\).*/\1 \2 \3 \4/p' |
        awk '$1 % 9 == 4 { hi = $2; lo = $2
                           if ($3 > hi) hi = $3; if ($4 > hi) hi = $4
                           if ($3 < lo) lo = $3; if ($4 < lo) lo = $4
                           if (hi - lo > 30) n++ } END { print n + 0 }'
}

# Checks the display for a level: centred, the bar and the second overlay at the widths of
# the level's chunk count (or of CHUNKS: 0 for a muted master), the background translucent
# at 125 while held.
overlay_widths() {  # overlay_widths PID: the widths of the shown overlays, ascending
    local over
    for over in $(named "$1" Hidden); do width_of "$over"; done | sort -n | tr '\n' ' '
}
check_display() {  # check_display PID LEVEL SHOTNAME [CHUNKS]
    local pid=$1 n=${4:-} main g widths lit expect
    [ -n "$n" ] || n=$(chunks_for "$2")
    expect=$(printf '%s\n' 212 $((35 + 9 * n)) | sort -n | tr '\n' ' ')
    wait_until 2000 osd_shown "$pid" || { fail "no display for level $2"; return 1; }
    # On a loaded machine the windows come one after the other: the shot waits for the overlays
    # (a moment more for their paint), not longer than the display is held.
    # Their widths are taken as soon as they are right: on a loaded machine the checks below
    # can outlast the hold, and a look after them would find the display gone.
    widths=""
    wait_until 800 eval 'widths=$(overlay_widths "$pid"); [ "$widths" = "$expect" ]'
    sleep 0.1
    shot "$3"
    main=$(named "$pid" Vexlo)
    [ -n "$main" ] || { fail "the display for level $2 went before it was measured"; return 1; }
    g=($(geometry "$main"))
    [ "${g[*]}" = "$(((screen_w - 212) / 2)) $(((screen_h - 200) / 2)) 212 200" ] ||
        { fail "display at ${g[*]}, not centred"; return 1; }
    held_translucent "$main" || { fail "display opacity $(opacity "$main"), not 125"; return 1; }
    # Outside the window manager's care: no frame, no focus, no taskbar entry.
    xwininfo -id "$main" -all | grep -q 'Override Redirect State: yes' ||
        { fail "display window is managed"; return 1; }
    [ "$widths" = "$expect" ] || { fail "overlay widths $widths, expected $expect"; return 1; }
    lit=$(lit_chunks "$art/$3.png" "${g[0]}" "${g[1]}")
    [ "$lit" = "$n" ] || { fail "$lit chunks lit for level $2, expected $n"; return 1; }
}

# The open descriptors of a process.
fd_count() { ls "/proc/$1/fd" 2>/dev/null | wc -l; }

# The session's sound server, ended as a crash ends it, and started again like
# with-session.sh starts it (as our child, so that it is reaped).
stop_sound_server() {
    local f=$XDG_RUNTIME_DIR/pulse/pid p s
    p=$(cat "$f" 2>/dev/null) || return 1
    kill -9 "$p" 2>/dev/null
    { wait "$p"; } 2>/dev/null  # reaped here when it is this shell's child
    # Nobody reaps the daemon: once it is a zombie its PID file must go, or the next server
    # takes it for a running one.
    for _ in $(seq 100); do
        s=$(awk '{print $3}' "/proc/$p/stat" 2>/dev/null)
        if [ -z "$s" ] || [ "$s" = Z ]; then rm -f "$f"; break; fi
        sleep 0.02
    done
    wait_until 3000 eval '! pactl info >/dev/null 2>&1'
}
start_sound_server() {  # the new server's PID is in $sound_server_pid
    pulseaudio --daemonize=no --exit-idle-time=-1 --disallow-exit -n --use-pid-file=yes \
        --load="module-null-sink sink_name=$sink" \
        --load=module-native-protocol-unix --load=module-always-sink >/dev/null 2>&1 &
    sound_server_pid=$!
    wait_until 10000 eval 'pactl info >/dev/null 2>&1' || return 1
    pactl set-default-sink "$sink" >/dev/null 2>&1
}

# Private session buses. test_bus_conf is the configuration of a bus that starts nothing on
# demand; test_bus_config FILE [FOLDER...] writes one to FILE whose services come only from
# the given folders (never the system's, so an installed desktop portal stays out of a test).
test_bus_conf=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)/test-bus.conf
test_bus_config() {
    local file=$1 dirs="" d
    shift
    for d in "$@"; do dirs+="  <servicedir>$d</servicedir>\n"; done
    sed "s|^  <!-- service folders -->\$|$dirs|" "$test_bus_conf" >"$file"
}

# result NAME STATUS: one check's line, counted in $passed / $failed; on a failure the reason
# ($why) and the start of the program's log ($work/vexlo.log).
result() {  # result NAME STATUS
    if [ "$2" = 0 ]; then
        passed=$((passed + 1))
        echo "PASS $1"
    else
        failed=$((failed + 1))
        echo "FAIL $1: ${why:-failed}"
        [ -s "$work/vexlo.log" ] && sed 's/^/    vexlo: /' "$work/vexlo.log" | head -10
    fi
    why=""
}

# descendants PID: the processes PID started, and theirs, the last generation first.
descendants() {
    local c
    for c in $(pgrep -P "$1"); do
        descendants "$c"
        echo "$c"
    done
}

# The first StatusNotifierItem the session's watcher knows, into $item; false while there is none.
sni_item() {
    item=$(gdbus call --session --dest org.kde.StatusNotifierWatcher --object-path \
        /StatusNotifierWatcher --method org.freedesktop.DBus.Properties.Get \
        org.kde.StatusNotifierWatcher RegisteredStatusNotifierItems 2>/dev/null |
        grep -o "':[0-9.]*" | tr -d "'" | head -1)
    [ -n "$item" ]
}
