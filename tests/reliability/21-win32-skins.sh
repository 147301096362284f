#!/usr/bin/env bash
# Broken skin files against the real Windows program under Wine: each of the ten pictures
# (back.bmp, chunks.bmp, icon0-3.ico, overlay1/2.bmp, controlbg.bmp, controlknob.gif) missing,
# empty, cut to half its length, a PNG under its name, a picture of another format the
# program reads under its name, and a valid header of its own format claiming 60000 x 60000
# pixels. Each must give the box captioned "Vexlo" naming the file and a non-zero exit: no
# crash, no hang, and no huge allocation (the peak resident memory of the vexlo.exe process,
# VmHWM from /proc, taken while the box is up, against a start with the default skin); and
# "/checkskin" on the same folder must name the file in its box and exit 1. The pictures of
# start-up and of the slider ("/control") are needed at once; icon0-2 only when the level
# falls that far, so those cases step the level down with the hotkey (the Wine tray window
# focused), one case at a time. Display :87.
# Figures: build/reliability/21-win32-skins.md.
set -uo pipefail
name=$(basename "$0" .sh)
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../e2e/win32/rel_lib.sh"
started=$(now_ms)
rel_init "$name" 87
workers=3
# A start with a broken picture may use this much more memory than one with the default skin.
headroom_kb=16384

# ---- the broken files ----

# make_broken FILE KIND SOURCE OUT: writes the broken FILE of KIND from the good SOURCE to OUT
# (nothing for "missing").
make_broken() {
    python3 - "$@" "$REL_ROOT/src/platform/win32/tests/data/knob15x9.gif" <<'PY'
import struct, sys, zlib
file, kind, source, out = sys.argv[1:5]
good = open(source, "rb").read()
ext = file.rsplit(".", 1)[1]

def png(width, height):
    def chunk(tag, data):
        return struct.pack(">I", len(data)) + tag + data + struct.pack(">I", zlib.crc32(tag + data))
    rows = b"".join(b"\0" + b"\x80\x20\x20" * width for _ in range(height))
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(rows)) + chunk(b"IEND", b""))

def bmp(width, height, pixels=None):
    stride = (width * 24 + 31) // 32 * 4
    data = pixels if pixels is not None else b"\x40" * (stride * height)
    return (b"BM" + struct.pack("<IHHI", 54 + len(data), 0, 0, 54)
            + struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, 0, 2835, 2835, 0, 0) + data)

def gif(width, height):
    # A header and one frame of the given size with an empty LZW stream (clear, end).
    return (b"GIF89a" + struct.pack("<HHBBB", width, height, 0x80, 0, 0) + b"\0\0\0\xff\xff\xff"
            + b"\x2c" + struct.pack("<HHHHB", 0, 0, width, height, 0) + b"\x02\x01\x2c\x00\x3b")

def ico_claiming(width, height):
    header = struct.pack("<IiiHHIIiiII", 40, width, 2 * height, 1, 32, 0, 0, 0, 0, 0, 0)
    data = header + b"\0" * 4096
    return struct.pack("<HHH", 0, 1, 1) + struct.pack("<BBBBHHII", 0, 0, 0, 0, 1, 32, len(data), 22) + data

if kind == "missing":
    sys.exit(0)
if kind == "empty":
    data = b""
elif kind == "truncated":
    data = good[: len(good) // 2]
elif kind == "png":
    data = png(16, 16)
elif kind == "other-format":
    # A picture the program reads, of another format than the name says: the GIF of the
    # adapter tests' data (15 x 9, one transparent colour), or a BMP for the GIF.
    data = open(sys.argv[5], "rb").read() if ext != "gif" else bmp(16, 16)
elif kind == "absurd":
    if ext == "bmp":
        data = bmp(60000, 60000, b"\x40" * 65536)  # the header claims 10 GB of pixels
    elif ext == "gif":
        data = gif(60000, 60000)
    else:
        data = ico_claiming(60000, 60000)
open(out, "wb").write(data)
PY
}

# ---- one case ----

# run_case FILE KIND MODE: MODE start (full mode), control (/control) or steps (full mode,
# then the level stepped down with the hotkey until the file is needed).
run_case() {
    local file=$1 kind=$2 mode=$3
    local dir pid start took why="" text="" peak="" presses=0 args=()
    dir=$(case_folder "$kind-$file")
    rm -f "$dir/$file"
    make_broken "$file" "$kind" "$REL_SKIN/$file" "$dir/$file" || why="cannot make the file"
    [ "$mode" = control ] && args=(/control)
    start=$(now_ms)
    if [ -z "$why" ]; then
        case_start "$dir" "${args[@]}"
        pid=$CASE_PID
        if [ "$mode" = steps ]; then
            # Up to 16 steps down: 16 chunks to 0 passes icon2 (12), icon1 (7) and icon0 (3).
            if wait_until 15000 focus_wine; then
                sleep 0.3
                while [ $presses -lt 16 ] && alive "$pid" && ! has_box "$dir"; do
                    focus_wine
                    xdotool key super+minus
                    presses=$((presses + 1))
                    sleep 0.15
                done
            else
                why="no tray icon to focus within 15 s"
            fi
        fi
        if [ -z "$why" ] && ! wait_until 10000 has_box "$dir"; then
            if alive "$pid"; then why="no box within 10 s"; else
                case_wait "$pid" 100
                why="ended without a box (exit $CASE_CODE)"
            fi
        fi
        if [ -z "$why" ]; then
            peak=$(hwm_kb "$pid")
            text=$(box_text "$dir")
            case "$text" in
                *"\\$file"*) ;;
                *) why="the box does not name $file: $text" ;;
            esac
            ends_after_box "$dir" "$pid"
        fi
        alive "$pid" && case_kill "$pid"
        crashed "$dir" && why="crashed: $(grep -m1 -E 'Unhandled|debugger' "$dir.log")"
    fi
    # The skin check names the same file in its box, and exits 1 once the box is answered.
    if [ -z "$why" ]; then
        case_start "$dir" /checkskin .
        pid=$CASE_PID
        if wait_until 10000 has_box "$dir"; then
            case "$(box_text "$dir")" in
                *"$file: cannot be loaded ("*) ends_after_box "$dir" "$pid" ;;
                *) why="/checkskin does not name $file: $(box_text "$dir")" ;;
            esac
        else
            why="/checkskin showed no box within 10 s"
        fi
        alive "$pid" && case_kill "$pid"
        crashed "$dir" && why="/checkskin crashed"
    fi
    took=$(($(now_ms) - start))
    if [ -z "$why" ] && [ -n "$peak" ] && [ "$peak" -gt $((baseline_kb + headroom_kb)) ]; then
        why="peak memory $peak kB, more than the default skin's $baseline_kb kB + $headroom_kb kB"
    fi
    local result=PASS
    [ -n "$why" ] && result=FAIL
    # Only the reason after the file's path.
    local reason=${text#*cannot be loaded: }
    printf '%s\t%s\t%s\t%s\t%d\t%s\t%s\t%s\n' "$result" "$file" "$kind" "$mode" "$took" \
        "${peak:-0}" "$presses" "${why:-$reason}"
    [ -n "$why" ] && head -5 "$dir.log" | sed 's/^/    wine: /' >&2
    rm -rf "$dir"
}

# The default skin's peak memory in full mode after start-up, the reference for "no huge
# allocation" (the larger of the two modes).
baseline() {
    local dir pid peak=0 p mode
    for mode in full control; do
        dir=$(case_folder "baseline-$mode")
        if [ "$mode" = control ]; then case_start "$dir" /control; else case_start "$dir"; fi
        pid=$CASE_PID
        sleep 2.5
        if ! alive "$pid" || has_box "$dir"; then
            echo "FAIL $name: the default skin does not start in $mode mode" >&2
            return 1
        fi
        p=$(hwm_kb "$pid")
        [ "${p:-0}" -gt "$peak" ] && peak=$p
        probe close "$(case_match "$dir")" >/dev/null
        case_wait "$pid" 8000 || case_kill "$pid"
        rm -rf "$dir"
    done
    echo "$peak"
}

# ---- the run ----

baseline_kb=$(baseline) || exit 1
files_start="back.bmp chunks.bmp icon3.ico overlay1.bmp overlay2.bmp"
files_control="controlbg.bmp controlknob.gif"
files_steps="icon2.ico icon1.ico icon0.ico"
kinds="missing empty truncated png other-format absurd"
{
    for f in $files_start; do for k in $kinds; do printf '%s\t%s\tstart\n' "$f" "$k"; done; done
    for f in $files_control; do for k in $kinds; do printf '%s\t%s\tcontrol\n' "$f" "$k"; done; done
} >"$REL_WORK/jobs.parallel"
for f in $files_steps; do for k in $kinds; do printf '%s\t%s\tsteps\n' "$f" "$k"; done; done \
    >"$REL_WORK/jobs.steps"

worker_pids=()
for ((i = 0; i < workers; i++)); do
    awk -v n=$workers -v i=$i '(NR - 1) % n == i' "$REL_WORK/jobs.parallel" >"$REL_WORK/jobs.$i"
    (while IFS=$'\t' read -r file kind mode; do run_case "$file" "$kind" "$mode"; done \
        <"$REL_WORK/jobs.$i") >"$REL_WORK/results.$i" 2>"$REL_WORK/errors.$i" &
    worker_pids+=($!)
done
for p in "${worker_pids[@]}"; do wait "$p"; done
# The hotkeys belong to one program at a time: these run one after the other.
(while IFS=$'\t' read -r file kind mode; do run_case "$file" "$kind" "$mode"; done \
    <"$REL_WORK/jobs.steps") >"$REL_WORK/results.steps" 2>"$REL_WORK/errors.steps"
seconds=$((($(now_ms) - started) / 1000))

cat "$REL_WORK"/results.* >"$REL_WORK/results"
awk -F'\t' '{ printf "%s %s %s (%s, %d ms, peak %d kB%s): %s\n", $1, $2, $3, $4, $5, $6,
    ($7 > 0 ? ", " $7 " steps down" : ""), $8 }' "$REL_WORK/results"
cat "$REL_WORK"/errors.*
total=$(wc -l <"$REL_WORK/jobs.parallel")
total=$((total + $(wc -l <"$REL_WORK/jobs.steps")))
passed=$(grep -c '^PASS' "$REL_WORK/results")
failed=$((total - passed))
peak_max=$(awk -F'\t' '$6 > m { m = $6 } END { print m + 0 }' "$REL_WORK/results")
absurd_peak=$(awk -F'\t' '$3 == "absurd" && $6 > m { m = $6 } END { print m + 0 }' "$REL_WORK/results")
slowest=$(awk -F'\t' '$5 > m { m = $5 } END { print m + 0 }' "$REL_WORK/results")
steps=$(awk -F'\t' '$4 == "steps" && $1 == "PASS" { s[$2] = $7 } END { for (f in s) printf "%s after %d, ", f, s[f] }' \
    "$REL_WORK/results" | sed 's/, $//')
reason_of() { awk -F'\t' -v f="$1" -v k="$2" '$2 == f && $3 == k { print $8 }' "$REL_WORK/results"; }
{
    echo "## Windows under Wine: broken skin files ($name)"
    echo
    echo "- Cases tried: $total: each of the 10 pictures ($files_start $files_control $files_steps) $(echo $kinds | sed 's/ /, /g') (a PNG under the picture's name; a GIF, or a BMP for the GIF, under its name; a valid header of the picture's own format claiming 60000 x 60000 pixels). Start-up pictures in full mode, the slider's with \"/control\", icon0-2 by stepping the level down with the hotkey until the icon is needed ($steps steps)."
    echo "- Outcome: $passed of $total gave the box captioned \"Vexlo\" naming the file and a non-zero exit, and /checkskin named it in its box and exited 1; $failed did not. Reasons the boxes gave, for example: back.bmp cut to half: \"$(reason_of back.bmp truncated)\"; back.bmp claiming 60000 x 60000: \"$(reason_of back.bmp absurd)\"; icon3.ico holding a GIF: \"$(reason_of icon3.ico other-format)\"; controlknob.gif as a PNG: \"$(reason_of controlknob.gif png)\"."
    echo "- Faults survived: 0 crashes (no \"Unhandled exception\", no crash dialog), 0 exits by a signal, 0 hangs (10 s for the box, 8 s for the exit; the slowest case took ${slowest} ms)."
    echo "- No huge allocation: the pictures' headers are checked before LoadImageA or OleLoadPicture sees them (sides up to 16384, at most 2^25 pixels, icons up to 256, all the data the header promises present). Peak resident memory of vexlo.exe (VmHWM) while the box was up: at most ${peak_max} kB over all cases, ${absurd_peak} kB with the 60000 x 60000 headers, against ${baseline_kb} kB for a start with the default skin."
    echo "- What Wine allows: everything here; the level only moves through the program's own hotkeys (Wine keeps the winmm master per process), which reach Wine only while one of its windows has the keyboard focus (the Wine tray window is focused first)."
    echo "- Run time: ${seconds} s in all ($workers start-up cases at a time, the hotkey cases one by one)."
} >"$REL_ROOT/build/reliability/$name.md"
echo "$passed passed, $failed failed ($name, ${seconds} s)"
[ "$failed" -eq 0 ]
