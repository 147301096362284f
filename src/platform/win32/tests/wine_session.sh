#!/usr/bin/env bash
# Runs the adapter tests under Wine in a private environment (virtual display, PulseAudio null
# sink, 32-bit prefix kept warm by `wineserver -p`).
#   wine_session.sh start DIR      sets the environment up in DIR (the prefix is kept there)
#   wine_session.sh run DIR EXE..  runs one test executable in it
#   wine_session.sh stop DIR       stops what start started
set -u
here=$(cd "$(dirname "$0")" && pwd)
action=$1
dir=$2
shift 2
case "$action" in
start)
    mkdir -p "$dir"
    if [ -f "$dir/run/env" ]; then
        # A previous run that was not stopped: stop it first.
        source "$here/../../../../tests/e2e/win32/env.sh"
        source "$dir/run/env"
        env_stop
    fi
    rm -rf "$dir/run"
    mkdir -p "$dir/run"
    # The prefix outlives the run: making it is the slow part.
    export ENV_DISPLAY=auto ENV_ROOT="$dir/run" ENV_PREFIX="$dir/prefix"
    source "$here/../../../../tests/e2e/win32/env.sh"
    env_start || { env_stop; exit 1; }
    ;;
run)
    source "$dir/run/env" || { echo "no environment: run the setup test first" >&2; exit 1; }
    # Output through a file: Wine services this program may start must not hold our pipe.
    log="$dir/run/$(basename "$1").log"
    wine "$@" </dev/null >"$log" 2>&1
    rc=$?
    cat "$log"
    exit $rc
    ;;
stop)
    [ -f "$dir/run/env" ] || exit 0
    source "$here/../../../../tests/e2e/win32/env.sh"
    source "$dir/run/env"
    env_stop
    rm -f "$dir/run/env"
    ;;
*)
    echo "usage: $0 start|run|stop DIR [EXE ARGS...]" >&2
    exit 2
    ;;
esac
