#!/usr/bin/env bash
# Damaged skin pictures against the real Linux program: each of the ten pictures (back.bmp,
# chunks.bmp, icon0-3.ico, overlay1/2.bmp, controlbg.bmp, controlknob.gif) missing, empty,
# cut to half its bytes, of the wrong format (a WAV under its name) and with a well-formed
# header claiming 60000 x 60000 pixels. Each must give the box captioned "Vexlo" naming the
# file, with the process small (peak resident memory read while the box is open), and a
# non-zero exit after Return: no crash, no hang; --check-skin on the same folder must name the
# file too and exit 1. The slider's pictures are needed in "/control" mode; icon0-2 only when
# the level reaches their range, so the level is moved there with pactl once the program runs
# (and it must run until then). Two displays (:81, :82) share the cases. Figures:
# build/reliability/12-linux-skins.md.
set -uo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
e2e=$root/tests/e2e/linux
name=$(basename "$0" .sh)
shards=2
first_display=81
max_hwm_kb=$((200 * 1024))

if [ "${1:-}" = --shard ]; then
    jobs_file=$2
    results=$3
    work=$4
    . "$e2e/lib.sh"
    pids=()
    trap 'stop_pids "${pids[@]}"' EXIT

    run_case() {  # FILE DEFECT
        local file=$1 defect=$2 app=$work/cases/$1-$2 args=() level="" pid code hwm=0 start
        mkdir -p "$app" "$app/config"
        ln "$work/skin/"* "$app/"
        python3 "$e2e/bad_skin.py" "$work/skin" "$file" "$defect" "$app" ||
            { printf 'FAIL\t%s\t%s\t0\t0\tcannot make the file\n' "$file" "$defect" >>"$results"; return; }
        case $file in
            controlbg.bmp | controlknob.gif) args=(/control) ;;
            icon0.ico) level=10000 ;;  # 2 chunks
            icon1.ico) level=25000 ;;  # 6 chunks
            icon2.ico) level=40000 ;;  # 10 chunks
        esac
        pactl set-sink-volume "$sink" 65536  # 16 chunks: icon3
        why=""
        start=$(now_ms)
        XDG_CONFIG_HOME=$app/config "$app/vexlo" "${args[@]}" >"$app/vexlo.log" 2>&1 &
        pid=$!
        pids+=("$pid")
        if [ -n "$level" ]; then
            # Not needed yet: the program runs, with its tray icon and no box.
            wait_until 5000 has_tray_icon "$pid" || fail "no tray icon before the level change"
            sleep 0.5
            [ -z "$why" ] && has_dialog "$pid" && fail "a box before $file was needed"
            [ -z "$why" ] && ! alive "$pid" && fail "ended before $file was needed"
            [ -z "$why" ] && pactl set-sink-volume "$sink" "$level"
        fi
        if [ -z "$why" ] && wait_until 5000 has_dialog "$pid"; then
            local box text
            box=$(dialog "$pid")
            hwm=$(hwm_kb "$pid")
            text=$(grep '^Vexlo: ' "$app/vexlo.log" | head -1)
            if [ "$(name_of "$box")" != Vexlo ]; then
                fail "box captioned '$(name_of "$box")'"
            elif [[ $text != *"$file"* ]]; then
                fail "the box does not name $file: ${text:-no text on stderr}"
            elif [ "${hwm:-0}" -gt "$max_hwm_kb" ]; then
                fail "peak resident memory ${hwm} kB"
            else
                why=""
                ends_after_box "$pid"
            fi
        elif [ -z "$why" ]; then
            if alive "$pid"; then
                fail "no box within 5 s"
            else
                exit_code "$pid"
                fail "ended without a box, exit code $code$([ "$code" -ge 128 ] && echo " (signal $((code - 128)))")"
            fi
        fi
        if alive "$pid"; then
            kill -9 "$pid" 2>/dev/null
            wait "$pid" 2>/dev/null
        fi
        # The skin check names the same file, and ends on its own.
        if [ -z "$why" ]; then
            local out check_code
            out=$(timeout 10 "$app/vexlo" --check-skin "$app" 2>&1)
            check_code=$?
            [ "$check_code" = 1 ] && grep -q "^$file: cannot be loaded (" <<<"$out" ||
                fail "--check-skin: exit $check_code, '$(head -1 <<<"$out")'"
        fi
        local reason
        reason=$(grep '^Vexlo: ' "$app/vexlo.log" | head -1 | sed 's/.*cannot be loaded: //')
        printf '%s\t%s\t%s\t%d\t%d\t%s\n' "$([ -z "$why" ] && echo PASS || echo FAIL)" "$file" \
            "$defect" "$(($(now_ms) - start))" "${hwm:-0}" "${why:-$reason}" >>"$results"
        sleep 0.1
    }

    while IFS=$'\t' read -r file defect; do run_case "$file" "$defect"; done <"$jobs_file"
    exit 0
fi

cd "$root"
. "$e2e/lib.sh"
need_linux_build
work=$(mktemp -d /tmp/vexlo-rel-skins.XXXXXX)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/skin" build/reliability
from=$(dirname "${VEXLO_BIN:-$root/build/linux/vexlo}")
cp "$from/vexlo" "$from"/*.bmp "$from"/*.ico "$from"/*.gif "$from"/*.wav "$work/skin/"
files="back.bmp chunks.bmp icon0.ico icon1.ico icon2.ico icon3.ico overlay1.bmp overlay2.bmp
controlbg.bmp controlknob.gif"
defects="missing empty truncated wrong-format absurd"
for f in $files; do for d in $defects; do printf '%s\t%s\n' "$f" "$d"; done; done |
    grep -E -- "${VEXLO_CASES:-.}" >"$work/jobs.txt"
run_shards "$0" "$work" "$shards" "$first_display"

cat "$work"/results.[0-9]* | sort >"$work/results.all"
awk -F'\t' '{ printf "%s %s %s (%d ms, peak %d kB): %s\n", $1, $2, $3, $4, $5, $6 }' "$work/results.all"
passed=$(grep -c '^PASS' "$work/results.all")
failed=$((total - passed))
peak=$(awk -F'\t' 'BEGIN { m = 0 } $5 > m { m = $5 } END { print int(m / 1024 + 0.5) }' "$work/results.all")
{
    echo "## Linux: damaged skin pictures ($name)"
    echo
    echo "- Cases tried: $total: each of the ten pictures missing, empty, cut to half its bytes, of the wrong format (the WAV under its name) and with a well-formed header claiming 60000 x 60000 pixels; icon0-2 made necessary by moving the level with pactl while the program runs, the slider's pictures in \"/control\" mode."
    echo "- Outcome: $passed of $total gave the box captioned \"Vexlo\" naming the file and a non-zero exit after Return, and --check-skin named it and exited 1; 0 crashes, 0 hangs; the program ran normally until a lazily loaded icon was needed."
    echo "- Peak resident memory with the box open: at most $peak MB (limit 200 MB); an absurd header is refused before any pixel memory is taken."
    echo "- Reasons the box gives (the text after \"cannot be loaded:\"), by defect:"
    for d in $defects; do
        awk -F'\t' -v d="$d" '$3 == d { print $6 }' "$work/results.all" | sed 's/[0-9][0-9]*/N/g' |
            sort | uniq -c |
            awk -v d="$d" '{ c = $1; $1 = ""; sub(/^ /, ""); printf "  - %s: %s (%d)\n", d, $0, c }'
    done
    echo "- Found and fixed while building it: a bitmap cut short loaded with its missing rows blank, and an icon cut inside its second image loaded with its first one only; both are now refused as cut off. Run time ${seconds} s on $shards displays."
} >"build/reliability/$name.md"
echo "$passed passed, $failed failed ($name, ${seconds} s)"
[ "$failed" -eq 0 ]
