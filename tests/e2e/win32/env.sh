# Shared set-up for the Windows end-to-end tests and the idle benchmark: a private virtual
# desktop (Xvfb + openbox), a private PulseAudio server with a null sink, and a private
# 32-bit Wine prefix kept warm by `wineserver -p`. Source it, then call env_start / env_stop.
#
#   ENV_DISPLAY   X display number to use, or "auto" for a free one (default 71)
#   ENV_ROOT      folder for everything this run creates (default: a fresh temporary folder)
#   ENV_PREFIX    the Wine prefix to use or make (default: ENV_ROOT/prefix)

# shellcheck source=../common.sh
. "$(dirname "${BASH_SOURCE[0]}")/../common.sh"

ENV_DISPLAY=${ENV_DISPLAY:-71}
ENV_PIDS=()

env_log() { echo "[env] $*" >&2; }

env_start() {
    if [ -z "${ENV_ROOT:-}" ]; then
        ENV_ROOT=$(mktemp -d /tmp/vexlo-win32-e2e.XXXXXX)
        ENV_OWN_ROOT=1
    fi
    mkdir -p "$ENV_ROOT"
    export HOME="$ENV_ROOT/home"
    export XDG_RUNTIME_DIR="$ENV_ROOT/xdg"
    export WINEPREFIX="${ENV_PREFIX:-$ENV_ROOT/prefix}"
    export WINEARCH=win32
    export WINEDEBUG=-all
    export WINEDLLOVERRIDES="mscoree,mshtml="
    export DISPLAY=":$ENV_DISPLAY"
    export PULSE_SINK=vexlo_null
    mkdir -p "$HOME" "$XDG_RUNTIME_DIR"
    chmod 700 "$XDG_RUNTIME_DIR"

    if [ "$ENV_DISPLAY" = auto ]; then
        Xvfb -displayfd 3 -screen 0 1024x768x24 -noreset -nolisten tcp \
            3>"$ENV_ROOT/display" >"$ENV_ROOT/xvfb.log" 2>&1 &
        ENV_PIDS+=($!)
        local n
        for n in $(seq 100); do [ -s "$ENV_ROOT/display" ] && break; sleep 0.05; done
        ENV_DISPLAY=$(tr -dc 0-9 <"$ENV_ROOT/display")
        export DISPLAY=":$ENV_DISPLAY"
    else
        if [ -e "/tmp/.X11-unix/X$ENV_DISPLAY" ] || [ -e "/tmp/.X$ENV_DISPLAY-lock" ]; then
            env_log "display :$ENV_DISPLAY is taken; stop what runs there or set ENV_DISPLAY"
            return 1
        fi
        Xvfb "$DISPLAY" -screen 0 1024x768x24 -noreset -nolisten tcp >"$ENV_ROOT/xvfb.log" 2>&1 &
        ENV_PIDS+=($!)
    fi
    local i
    for i in $(seq 100); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.05; done
    openbox --sm-disable >"$ENV_ROOT/openbox.log" 2>&1 &
    ENV_PIDS+=($!)

    pulseaudio --daemonize=no --exit-idle-time=-1 --disallow-exit -n \
        --load="module-null-sink sink_name=vexlo_null" \
        --load=module-native-protocol-unix --load=module-always-sink \
        >"$ENV_ROOT/pulse.log" 2>&1 &
    ENV_PIDS+=($!)
    for i in $(seq 100); do pactl info >/dev/null 2>&1 && break; sleep 0.05; done

    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        wineboot -i </dev/null >"$ENV_ROOT/wineboot.log" 2>&1
        wineserver -w
    fi
    # Nothing that outlives this call may hold the caller's output open (CTest and pipes wait
    # for it): the server, and the Wine services that the first program starts.
    wineserver -p </dev/null >/dev/null 2>&1
    ENV_WINESERVER_STARTED=1
    wine cmd.exe /c exit </dev/null >"$ENV_ROOT/warmup.log" 2>&1
    # Everything another shell needs to use (or stop) this environment.
    {
        local v
        for v in HOME XDG_RUNTIME_DIR WINEPREFIX WINEARCH WINEDEBUG WINEDLLOVERRIDES DISPLAY \
            PULSE_SINK ENV_ROOT ENV_DISPLAY ENV_WINESERVER_STARTED; do
            printf 'export %s=%q\n' "$v" "${!v}"
        done
        printf 'ENV_PIDS=(%s)\n' "${ENV_PIDS[*]}"
    } >"$ENV_ROOT/env"
}

env_stop() {
    if [ -n "${ENV_WINESERVER_STARTED:-}" ]; then
        wineserver -k 2>/dev/null
        wineserver -w 2>/dev/null
    fi
    # The sound server may have been replaced (fault tests): the one running now is in the pid
    # file. The others may not be this shell's children (another shell started them).
    [ -n "${ENV_ROOT:-}" ] && [ "${XDG_RUNTIME_DIR:-}" = "$ENV_ROOT/xdg" ] &&
        stop_sound_server_of "$XDG_RUNTIME_DIR"
    stop_pids "${ENV_PIDS[@]}"
    ENV_PIDS=()
}

# geometry_of WINDOW -> "x y width height viewable(0/1)"
geometry_of() {
    xwininfo -id "$1" 2>/dev/null | awk '/Absolute upper-left X/ {x = $4} /Absolute upper-left Y/ {y = $4}
        /Width:/ {w = $2} /Height:/ {h = $2} /Map State:/ {v = ($3 == "IsViewable")}
        END { print x, y, w, h, v + 0 }'
}

# Wine's stand-alone notification area, when it is shown: a window of explorer.exe one icon row
# (20 pixels) high and at least eight icons (160 pixels) wide. Wine 8 titles it "Wine System
# Tray"; Wine 10 leaves it untitled. (An icon's tip is also an untitled explorer.exe window, 19
# pixels high and narrower.) Both hide it when its last icon goes.
wine_tray_window() {
    local w
    w=$(xdotool search --onlyvisible --name '^Wine System Tray$' 2>/dev/null | head -1)
    [ -n "$w" ] && { echo "$w"; return 0; }
    for w in $(xdotool search --onlyvisible --classname '^explorer\.exe$' 2>/dev/null); do
        xwininfo -id "$w" 2>/dev/null | awk '/Width:/ { w = $2 } /Height:/ { h = $2 }
            END { exit !(h == 20 && w >= 160) }' && { echo "$w"; return 0; }
    done
    return 1
}

visible_windows() { xdotool search --onlyvisible --name '' 2>/dev/null | sort; }

# menu_at X Y BEFORE: the popup menu a press at X,Y opened, waiting up to 3 s for it: a new
# window (not in BEFORE, an earlier visible_windows) at that point and narrower than 300
# pixels; another new window, such as one of a program the test started, is not taken for it.
menu_at() {
    local x=$1 y=$2 before=$3 w m
    for _ in $(seq 60); do
        for w in $(comm -13 <(echo "$before") <(visible_windows)); do
            m=($(geometry_of "$w"))
            [ -n "${m[3]:-}" ] || continue
            if [ "${m[0]}" -le "$x" ] && [ $((m[0] + m[2])) -gt "$x" ] && [ "${m[1]}" -le $((y + 2)) ] &&
                [ $((m[1] + m[3])) -gt "$y" ] && [ "${m[2]}" -lt 300 ]; then
                echo "$w"
                return 0
            fi
        done
        sleep 0.05
    done
    return 1
}

# Removes the bulky parts of a run folder this file made (the prefix is ~600 MB); keeps logs
# and screenshots.
env_cleanup() {
    if [ -n "${ENV_OWN_ROOT:-}" ] && [ -d "${ENV_ROOT:-}" ]; then
        rm -rf "$ENV_ROOT/prefix" "$ENV_ROOT/home" "$ENV_ROOT/xdg" "$ENV_ROOT/s"
    fi
}
