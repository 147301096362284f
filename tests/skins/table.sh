# The skin-check table (cases.tsv) against one program's checker. Sourced by the end-to-end
# suites of both programs:
#
#   skin_table WORK CHECK
#
# makes the variant folders under WORK (from skin/default) and runs "CHECK FOLDER" for each:
# CHECK prints the check's lines on stdout and returns its exit code. Prints a line per
# variant ("ok"/"FAIL" with what differed) and returns the number of variants that failed.
skin_table() {
    local work=$1 check=$2 here root failed=0 variant code lines expected_code want got i
    here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
    root=$(cd "$here/../.." && pwd)
    rm -rf "$work" && mkdir -p "$work"
    python3 "$here/make_variants.py" "$root/skin/default" "$work" || return 1
    for variant in $(grep -v '^#' "$here/cases.tsv" | cut -f1 | uniq); do
        expected_code=$(awk -F'\t' -v v="$variant" '$1 == v { print $2; exit }' "$here/cases.tsv")
        mapfile -t want < <(awk -F'\t' -v v="$variant" '$1 == v { print $3 }' "$here/cases.tsv")
        got=$("$check" "$work/$variant")
        code=$?
        mapfile -t lines < <(printf '%s\n' "$got" | tr -d '\r' | sed '/^$/d')
        local why=""
        [ "$code" = "$expected_code" ] || why="exit $code, not $expected_code"
        if [ -z "$why" ] && [ ${#lines[@]} -ne ${#want[@]} ]; then
            why="${#lines[@]} lines, not ${#want[@]}"
        fi
        for ((i = 0; i < ${#want[@]}; i++)); do
            [ -z "$why" ] || break
            # shellcheck disable=SC2053  # the table's lines are patterns
            [[ ${lines[$i]} == ${want[$i]} ]] || why="line $((i + 1)): '${lines[$i]}'"
        done
        if [ -z "$why" ]; then
            echo "  ok   $variant"
        else
            echo "  FAIL $variant: $why"
            printf '       | %s\n' "${lines[@]}"
            failed=$((failed + 1))
        fi
    done
    return "$failed"
}
