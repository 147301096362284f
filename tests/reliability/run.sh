#!/usr/bin/env bash
# The reliability suite: fuzzing the settings reader and writer for a bounded time. The
# programs' own fault, load and soak runs are added by tests/reliability/*.sh beside this.
#   VEXLO_LONG=1   fuzz for 10 minutes instead of 1.
set -uo pipefail
cd "$(dirname "$0")/../.."
root=$(pwd)
passed=0
failed=0
result() {  # name status
    if [ "$2" -eq 0 ]; then passed=$((passed + 1)); echo "PASS $1"; else failed=$((failed + 1)); echo "FAIL $1"; fi
}

seconds=60
[ "${VEXLO_LONG:-0}" = 1 ] && seconds=600
mkdir -p build/reliability

cmake --preset fuzz -DVEXLO_WARNINGS_AS_ERRORS=ON >/dev/null && cmake --build --preset fuzz --target ini_fuzz
status=$?
if [ $status -eq 0 ]; then
    corpus=$(mktemp -d)
    printf '[general]\nontop=1\n[pos]\nx=15\ny=30\n' >"$corpus/seed1"
    printf '\x00\x01\x02\x03; c\r\n[Pos]\r\nX = 2\r\n' >"$corpus/seed2"
    build/fuzz/tests/ini_fuzz -max_total_time=$seconds -max_len=4096 -print_final_stats=1 \
        -artifact_prefix="$root/build/fuzz/" "$corpus" 2>&1 | tail -n 12
    status=${PIPESTATUS[0]}
    rm -rf "$corpus"
fi
result "ini fuzzing for ${seconds}s: no crash, writes keep other keys" $status
{
    echo "## Settings reader and writer under fuzzing"
    echo
    echo "- libFuzzer with AddressSanitizer and UBSan, ${seconds} s: $([ $status -eq 0 ] && echo "0 crashes, 0 property failures" || echo "FAILED (see build/fuzz/crash-*)")."
    echo "- Property checked on every input: a write sets its key and every other key reads as before."
    echo "- Found and fixed while building it: a lone CR ending the last line became part of a value"
    echo "  once a key was added after it (regression test IniDocument.ALoneCarriageReturnAtTheEndStaysALineEnd)."
} >build/reliability/a-fuzz.md

# The programs' own runs, one after another; the soaks last, side by side, since each takes
# its full length whatever else runs.
soaks=()
for extra in tests/reliability/[0-9]*.sh; do
    if [ ! -x "$extra" ]; then
        result "$(basename "$extra") is not executable" 1
        continue
    fi
    case "$extra" in *-soak.sh) soaks+=("$extra"); continue ;; esac
    "$extra"
    status=$?  # taken at once: the expansion of the name below would reset it
    result "$(basename "$extra")" $status
done
pids=()
for soak in "${soaks[@]}"; do
    "$soak" >"build/reliability/$(basename "$soak" .sh).log" 2>&1 &
    pids+=($!)
done
for i in "${!soaks[@]}"; do
    wait "${pids[$i]}"
    status=$?
    cat "build/reliability/$(basename "${soaks[$i]}" .sh).log"
    result "$(basename "${soaks[$i]}")" $status
done

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
