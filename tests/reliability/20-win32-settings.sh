#!/usr/bin/env bash
# Malformed and unusable settings against the real Windows program under Wine: every case of
# the shared table tests/data/bad_settings.tsv in full mode, the cases whose "/control"
# expectation differs or is fatal in control mode, a core.ini that cannot be read (a folder),
# a core.ini that cannot be written and a program folder that cannot be written (read-only
# bind mounts in a private mount namespace: Wine runs as root here, and root's writes ignore
# permission bits).
#   runs  = alive 2 s after the start, no box, no crash; then a clean quit with exit code 0
#           (a close request from outside, which runs the program's own quit)
#   fatal = a box captioned "Vexlo" naming the setting, OK pressed, a non-zero exit
# Never a crash (Wine's "Unhandled exception" or its crash dialog), never an exit by a signal,
# never a hang (8 s limit); in full mode core.ini stays byte for byte. Three cases run at a
# time on display :86, each in a program folder of its own.
# Figures: build/reliability/20-win32-settings.md.
set -uo pipefail
name=$(basename "$0" .sh)
here=$(cd "$(dirname "$0")" && pwd)

# A private mount namespace lets the script make a folder read-only for root.
if [ -z "${VEXLO_REL_NS:-}" ] && unshare -m --propagation private true 2>/dev/null; then
    exec env VEXLO_REL_NS=1 unshare -m --propagation private "$0" "$@"
fi

source "$here/../e2e/win32/rel_lib.sh"
started=$(now_ms)
rel_init "$name" 86
workers=3

# ---- the jobs: MODE CASE EXPECT SOURCE KIND ----

python3 "$REL_ROOT/tests/data/settings_cases.py" "$REL_ROOT/tests/data/bad_settings.tsv" "$REL_WORK/table" \
    >"$REL_WORK/table.txt"
[ -s "$REL_WORK/table.txt" ] || { echo "FAIL $name: cannot read the settings table"; exit 1; }
printf '[general]\r\nontop=1\r\n; kept as it is\r\n[pos]\r\nx=3005\r\ny=1502\r\n' >"$REL_WORK/valid.ini"
{
    while IFS=$'\t' read -r case full control source; do
        printf 'full\t%s\t%s\t%s\t\n' "$case" "$full" "$source"
        if [ "$control" != "$full" ] || [ "$control" = fatal ]; then
            printf 'control\t%s\t%s\t%s\t\n' "$case" "$control" "$source"
        fi
    done <"$REL_WORK/table.txt"
    for mode in full control; do
        printf '%s\tunreadable-core-ini\truns\t-\tfolder\n' "$mode"
        printf '%s\tread-only-core-ini\truns\t%s\treadonly-file\n' "$mode" "$REL_WORK/valid.ini"
    done
    printf 'control\tread-only-program-folder\truns\t%s\treadonly-folder\n' "$REL_WORK/valid.ini"
    printf 'control\tread-only-program-folder-no-file\truns\t-\treadonly-folder\n'
} >"$REL_WORK/jobs.txt"

# ---- one case ----

# Every line of the first file is in the second (blanks around names and values, letter case
# of names and line ends aside: Wine's writer normalises those), except the saved position.
lines_kept() {
    python3 - "$1" "$2" <<'PY'
import collections, sys
def lines(path):
    out, section = [], ""
    for raw in open(path, "rb").read().replace(b"\r\n", b"\n").split(b"\n"):
        line = raw.strip(b" \t\r")
        if line.startswith(b"[") and b"]" in line:
            section = line[1:line.index(b"]")].strip().lower()
        elif b"=" in line:
            key, value = line.split(b"=", 1)
            key = key.strip().lower()
            if section == b"pos" and key in (b"x", b"y"):
                continue
            line = key + b"=" + value.strip()
        if line:
            out.append(line)
    return collections.Counter(out)
old, new = lines(sys.argv[1]), lines(sys.argv[2])
sys.exit(0 if all(new[l] >= n for l, n in old.items()) else 1)
PY
}

# The slider window of a process is on the screen (a busy machine may take a while to show it).
# (--all: xdotool's default takes windows that meet any one of the conditions.)
slider_shown() { xdotool search --all --pid "$1" --onlyvisible --name '^Control$' >/dev/null 2>&1; }

run_case() {
    local mode=$1 case=$2 expect=$3 source=$4 kind=$5
    local label=$mode-$case${kind:+-$kind}
    local dir ini pid start took how="" why="" args=() text=""
    dir=$(case_folder "$label")
    ini=$dir/core.ini
    [ "$source" != - ] && cp "$source" "$ini" && cp "$source" "$dir.before"
    [ "$mode" = control ] && args=(/control)
    case $kind in
        folder) mkdir "$ini" ;;
        readonly-file | readonly-folder)
            # Read-only for root too: a read-only bind mount of the file or of the folder.
            local target=$dir
            [ "$kind" = readonly-file ] && target=$ini
            mount --bind "$target" "$target" && mount -o remount,ro,bind "$target" "$target" ||
                why="cannot make $kind here (no private mount namespace)"
            ;;
    esac
    start=$(now_ms)
    if [ -z "$why" ]; then
        case_start "$dir" "${args[@]}"
        pid=$CASE_PID
        if [ "$expect" = runs ]; then
            sleep 2
            if ! alive "$pid"; then
                case_wait "$pid" 100
                why="ended by itself (exit $CASE_CODE)"
            elif text=$(box_text "$dir") && [ -n "$text" ]; then
                why="a box: $text"
            elif [ "$mode" = control ] && ! wait_until 8000 slider_shown "$pid"; then
                why="no slider window within 10 s"
            else
                how="quit by a close request"
                probe close "$(case_match "$dir")" >/dev/null
                if case_wait "$pid" 8000; then
                    [ "$CASE_CODE" = 0 ] || why="$how: exit code $CASE_CODE"
                else
                    why="still running 8 s after the close request (hang)"
                fi
            fi
        else
            if ! wait_until 10000 has_box "$dir"; then
                if alive "$pid"; then why="no box within 10 s"; else
                    case_wait "$pid" 100
                    why="ended without a box (exit $CASE_CODE)"
                fi
            else
                text=$(box_text "$dir")
                ends_after_box "$dir" "$pid"
                [ -n "$CASE_CODE" ] && how="exit $CASE_CODE, box: $text"
            fi
        fi
        alive "$pid" && case_kill "$pid"
        crashed "$dir" && why="crashed: $(grep -m1 -E 'Unhandled|debugger' "$dir.log")"
    fi
    took=$(($(now_ms) - start))
    # What became of the settings file.
    if [ -z "$why" ]; then
        case $kind in
            folder)
                [ -d "$ini" ] && [ -z "$(ls -A "$ini")" ] || why="the folder core.ini was changed"
                ;;
            readonly-folder | readonly-file)
                if [ "$source" = - ]; then
                    [ -e "$ini" ] && why="core.ini was created in a read-only folder"
                else
                    cmp -s "$dir.before" "$ini" || why="read-only core.ini changed"
                fi
                ;;
            *)
                if [ "$source" = - ]; then
                    [ "$mode" = full ] && [ -e "$ini" ] && why="core.ini was created"
                    [ "$mode" = control ] && ! grep -q '^x=' "$ini" 2>/dev/null &&
                        why="the position was not saved"
                elif [ "$mode" = full ] || [ "$expect" = fatal ]; then
                    cmp -s "$dir.before" "$ini" || why="core.ini changed"
                else
                    lines_kept "$dir.before" "$ini" || why="a line of core.ini was lost"
                    grep -qa '^x=' "$ini" || why="the position was not saved"
                fi
                ;;
        esac
    fi
    [ "$kind" = readonly-folder ] && umount "$dir" 2>/dev/null
    [ "$kind" = readonly-file ] && umount "$ini" 2>/dev/null
    local result=PASS
    [ -n "$why" ] && result=FAIL
    printf '%s\t%s\t%s\t%s\t%d\t%s\n' "$result" "$mode" "$case${kind:+ ($kind)}" "$expect" \
        "$took" "${why:-$how}"
    if [ -n "$why" ]; then head -5 "$dir.log" | sed 's/^/    wine: /' >&2; fi
    rm -rf "$dir" "$dir.before"
}

# ---- the run ----

total=$(wc -l <"$REL_WORK/jobs.txt")
worker_pids=()
for ((i = 0; i < workers; i++)); do
    awk -v n=$workers -v i=$i '(NR - 1) % n == i' "$REL_WORK/jobs.txt" >"$REL_WORK/jobs.$i"
    (
        while IFS=$'\t' read -r mode case expect source kind; do
            run_case "$mode" "$case" "$expect" "$source" "$kind"
        done <"$REL_WORK/jobs.$i"
    ) >"$REL_WORK/results.$i" 2>"$REL_WORK/errors.$i" &
    worker_pids+=($!)
done
for p in "${worker_pids[@]}"; do wait "$p"; done
seconds=$((($(now_ms) - started) / 1000))

sort -t$'\t' -k2,2 -k3,3 "$REL_WORK"/results.[0-9]* >"$REL_WORK/results"
awk -F'\t' '{ printf "%s %s %s (expect %s, %d ms): %s\n", $1, $2, $3, $4, $5, $6 }' "$REL_WORK/results"
cat "$REL_WORK"/errors.[0-9]*
passed=$(grep -c '^PASS' "$REL_WORK/results")
failed=$((total - passed))
full_n=$(grep -c $'\tfull\t' "$REL_WORK/results")
control_n=$(grep -c $'\tcontrol\t' "$REL_WORK/results")
ran=$(awk -F'\t' '$1 == "PASS" && $4 == "runs"' "$REL_WORK/results" | wc -l)
boxes=$(awk -F'\t' '$1 == "PASS" && $4 == "fatal"' "$REL_WORK/results" | wc -l)
slowest=$(awk -F'\t' '$5 > m { m = $5 } END { print m + 0 }' "$REL_WORK/results")
example=$(awk -F'\t' '$1 == "PASS" && $3 == "flag-word" && $2 == "full" { sub(/^exit [0-9]+, box: /, "", $6); print $6 }' \
    "$REL_WORK/results")
codes=$(awk -F'\t' '$1 == "PASS" && $4 == "fatal" { split($6, f, /[ ,]/); print f[2] }' "$REL_WORK/results" |
    sort -u | paste -sd/)
table_failed=$(awk -F'\t' '$1 == "FAIL" && $3 !~ /\(/ { print $2 " " $3 }' "$REL_WORK/results" | paste -sd, -)
if [ -z "$table_failed" ]; then
    wine_note="no row of the table gives a different outcome under Wine"
else
    wine_note="rows with another outcome under Wine: $table_failed"
fi
{
    echo "## Windows under Wine: malformed and unusable settings ($name)"
    echo
    echo "- Cases tried: $total against the real \`vexlo.exe\` ($full_n in full mode, $control_n with \"/control\"): all $(wc -l <"$REL_WORK/table.txt") rows of tests/data/bad_settings.tsv in full mode, the rows whose \"/control\" expectation differs or is fatal, a core.ini that is a folder, a read-only core.ini (both modes), and a program folder that cannot be written (with and without a core.ini; \"/control\", whose quit saves the slider's position)."
    echo "- Outcome: $passed of $total as the table expects, $failed not; $ran ran and quit with exit code 0 through the program's own quit (a close request from outside, as \`taskkill\` without /f sends it), $boxes ended with the box captioned \"Vexlo\" naming the setting (e.g. \"$example\") and exit code ${codes:-none}."
    echo "- Faults survived: 0 crashes (no \"Unhandled exception\" from Wine, no crash dialog), 0 exits by a signal, 0 hangs (8 s limit after the quit request or the answered box; the slowest case took ${slowest} ms from start to end)."
    echo "- Nothing lost: core.ini byte for byte unchanged after every full-mode case and every fatal case; after a slider save every line the file had is still there (Wine's writer rewrites the whole file, with CRLF line ends) and the position is in it; a read-only core.ini or program folder is left as it was, without a box; no core.ini appears where there was none in full mode."
    echo "- What Wine allows: Wine runs as root here, and root's writes ignore permission bits (a core.ini of mode 444 is rewritten by WritePrivateProfileStringA), so the unwritable file and folder are read-only bind mounts in a private mount namespace; there the write fails and the program carries on without a box. Wine's profile functions strip one pair of outer quotes (\`ontop=\"0\"\` reads 0, as on Windows) and read the first of duplicate keys; $wine_note."
    echo "- Run time: ${seconds} s in all (the Wine prefix made once, then $workers cases at a time on one Wine desktop)."
} >"$REL_ROOT/build/reliability/$name.md"
echo "$passed passed, $failed failed ($name, ${seconds} s)"
[ "$failed" -eq 0 ]
