# Helpers shared by every test script of both programs (end-to-end, reliability, benches):
# waiting, processes and how they are stopped, the session's sound server, memory, pictures
# and recordings. Sourced, not run; tests/e2e/linux/lib.sh and tests/e2e/win32/env.sh source it.

# The tests expect the program's own English: the language of the machine's user stays out
# (Wine takes its user language from these too). A scenario about languages sets its own.
export LANG=C.UTF-8
unset LANGUAGE LC_ALL LC_MESSAGES

# A client of a sound server that hangs (stopped, or stuck starting) waits for it: every
# pactl call here is bounded.
pactl() { timeout -k 2 20 pactl "$@"; }

now_ms() { echo $(($(date +%s%N) / 1000000)); }

# wait_until MILLISECONDS COMMAND...: true once the command succeeds.
wait_until() {
    local end=$(($(now_ms) + $1))
    shift
    until "$@"; do
        [ "$(now_ms)" -gt "$end" ] && return 1
        sleep 0.05
    done
}

# Running (a process that ended but is not yet collected is a zombie: not running; nobody
# reaps orphans here).
alive() { kill -0 "$1" 2>/dev/null && [ "$(ps -o stat= -p "$1" 2>/dev/null | cut -c1)" != Z ]; }
ended() { ! alive "$1"; }

# stop_pids PID...: asks each process to end, gives them two seconds, then kills what is left
# and collects those that are this shell's children.
stop_pids() {
    local p
    for p in "$@"; do kill "$p" 2>/dev/null; done
    for p in "$@"; do
        wait_until 2000 ended "$p" || kill -9 "$p" 2>/dev/null
        wait "$p" 2>/dev/null
    done
    return 0
}

# interrupt PID: ends a recorder as Ctrl-C does (SIGINT: it writes out what it has), gives it
# three seconds, then kills it; collects it when it is this shell's child.
interrupt() {
    kill -INT "$1" 2>/dev/null
    wait_until 3000 ended "$1" || kill -9 "$1" 2>/dev/null
    wait "$1" 2>/dev/null
    return 0
}

# stop_sound_server_of RUNTIME_DIR: the PulseAudio daemon of a session, by the pid in its
# runtime folder. A daemon started with --disallow-exit refuses "pactl exit" and outlives
# its session unless it is ended so.
stop_sound_server_of() {
    local f=$1/pulse/pid p
    p=$(cat "$f" 2>/dev/null) || return 0
    [ -n "$p" ] && [ "$(cat "/proc/$p/comm" 2>/dev/null)" = pulseaudio ] && stop_pids "$p"
    rm -f "$f"
}

# Resident and peak memory (VmRSS, VmHWM; kB) of a process.
rss_kb() { awk '/^VmRSS:/ {print $2}' "/proc/$1/status" 2>/dev/null; }
hwm_kb() { awk '/^VmHWM:/ {print $2}' "/proc/$1/status" 2>/dev/null; }

# pixel PICTURE X Y -> "r,g,b"
pixel() {
    /usr/bin/convert "$1" -format '%[fx:int(255*p{'"$2"','"$3"'}.r)],%[fx:int(255*p{'"$2"','"$3"'}.g)],%[fx:int(255*p{'"$2"','"$3"'}.b)]' info:
}
pixels_differing() { /usr/bin/compare -metric AE "$1" "$2" null: 2>&1 | awk '{ print int($1) }'; }

# loud_samples RAW: samples louder than 1000 in a 16-bit little-endian mono recording.
loud_samples() {
    od -An -v -t d2 -w2 "$1" | awk '{ if ($1 > 1000 || $1 < -1000) n++ } END { print n + 0 }'
}

# catalogue_text LANG FILE [NAME=VALUE...]: the text in FILE as the catalogue po/LANG.po has it
# (LANG "C": the English), its {NAME} places filled. The scenarios about languages expect it.
catalogue_text() {
    /usr/bin/python3 - "$(dirname "${BASH_SOURCE[0]}")/../../po" "$@" <<'PY'
import sys
po, lang, path = sys.argv[1:4]
sys.path.insert(0, po)
import catalogues
english = open(path, encoding="utf-8").read()
table = {} if lang == "C" else {e["msgid"]: e["msgstr"] for e in
         catalogues.read_po(f"{po}/{lang}.po")}
text = table.get(english, english)
for pair in sys.argv[4:]:
    name, value = pair.split("=", 1)
    text = text.replace("{" + name + "}", value)
sys.stdout.write(text)
PY
}

# screen_text PICTURE X Y W H LANG: the words shown in that part of a screenshot, as OCR reads
# them (LANG: "de", "ru" or "C"), one line each. A bar is read as the capital I it always is in
# the program's texts.
screen_text() {
    local tess=eng part
    [ "$6" = de ] && tess=deu
    [ "$6" = ru ] && tess=rus+eng
    part=$(mktemp --suffix=.png)
    /usr/bin/convert "$1" -crop "${4}x${5}+${2}+${3}" +repage -resize 300% -colorspace Gray "$part" &&
        timeout 60 tesseract "$part" - -l "$tess" 2>/dev/null | sed '/^[[:space:]]*$/d; s/|/I/g'
    rm -f "$part"
}
