#!/usr/bin/env bash
# Malformed and unusable settings against the real Linux program: every case of the shared
# table tests/data/bad_settings.tsv in full mode, the cases whose "/control" expectation
# differs or is fatal in control mode, and a core.ini that cannot be read (a folder; no read
# permission) or a settings folder that cannot be written (read-only mount; no permission),
# and the files users keep: links (symbolic, dangling, to /dev/null, hard), a read-only file,
# byte-order marks and UTF-16, no HOME, folders with a backslash or Latin-1 bytes in their
# names, a mixer path with a blank.
#   runs  = alive after 1.5 s, no box, no display, then quits cleanly through its own quit
#           (the tray menu, the slider's double-click, else SIGTERM, which runs the same quit)
#   fatal = a message box captioned "Vexlo" naming the error, Return, a non-zero exit
# Never an exit by a signal, never a hang; in full mode core.ini stays byte for byte.
# Three displays (:81-:83, or from VEXLO_REL_DISPLAY on) share the cases. Figures: build/reliability/10-linux-settings.md.
set -uo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
e2e=$root/tests/e2e/linux
name=$(basename "$0" .sh)
shards=3
first_display=81

# ---- One shard: runs the jobs of one file inside its own session ------------------------------

if [ "${1:-}" = --shard ]; then
    jobs_file=$2
    results=$3
    work=$4
    . "$e2e/lib.sh"
    app=$work/app
    pids=()
    trap 'stop_pids "${pids[@]}"' EXIT

    # The slider's double-click: left of the knob's column, so it is the window's own.
    double_click_slider() {
        local g
        g=($(geometry "$(named "$1" Control)"))
        [ -n "${g[0]:-}" ] || return 1
        # The first press starts a window drag, which its release ends.
        xdotool mousemove $((g[0] + 3)) $((g[1] + 55)) mousedown 1 sleep 0.08 mouseup 1 \
            sleep 0.08 mousedown 1 sleep 0.08 mouseup 1
    }

    # Every line of the first file is in the second, in the same order.
    lines_kept() {
        python3 - "$1" "$2" <<'PY'
import sys
old = open(sys.argv[1], "rb").read().splitlines(keepends=True)
new = iter(open(sys.argv[2], "rb").read().splitlines(keepends=True))
sys.exit(0 if all(any(line == n for n in new) for line in old) else 1)
PY
    }

    # The slider's save as it must be: the old file with the new position, in its encoding.
    saved_as_expected() {
        python3 - "$1" "$2" <<'PY'
import sys
before, after = (open(f, "rb").read() for f in sys.argv[1:3])
for mark, enc in ((b"\xef\xbb\xbf", "utf-8"), (b"\xff\xfe", "utf-16-le"),
                  (b"\xfe\xff", "utf-16-be"), (b"", "latin-1")):
    if before.startswith(mark):
        break
new = {"x=3005": "x=3000", "y=1502": "y=1500"}
out = []
for line in before[len(mark):].decode(enc).splitlines(keepends=True):
    body = line.rstrip("\r\n")
    out.append(new.get(body, body) + line[len(body):])
sys.exit(0 if mark + "".join(out).encode(enc) == after else 1)
PY
    }

    # run_case MODE NAME EXPECT SOURCE [KIND]: SOURCE is a core.ini to copy, "-" for none;
    # KIND: "" (plain), folder, nobody-unreadable, nobody-readonly, mount-readonly, writable,
    # symlink, dangling-link, devnull-link, hardlink, readonly-file, no-home, odd-folders,
    # mixer-path.
    run_case() {
        local mode=$1 case=$2 expect=$3 source=$4 kind=${5:-}
        local cdir=$work/cases/$mode-$case${kind:+-$kind} cfg ini out pid code start args=() runner=()
        local exe=$app/vexlo home_root=""
        mkdir -p "$cdir"
        cfg=$cdir/config
        [ "$kind" = odd-folders ] && cfg=$cdir/con$'\\'"fig caf"$'\xe9'
        ini=$cfg/vexlo/core.ini
        out=$cdir/vexlo.log
        mkdir -p "$cfg/vexlo"
        [ "$source" != - ] && cp "$source" "$ini"
        [ "$source" != - ] && cp "$source" "$cdir/before.ini"
        [ "$mode" = control ] && args=(/control)
        local env=(env DISPLAY="$DISPLAY" XDG_CONFIG_HOME="$cfg" HOME="$HOME"
            XDG_RUNTIME_DIR="$XDG_RUNTIME_DIR")
        case $kind in
            folder)
                rm -f "$ini"
                mkdir "$ini"
                ;;
            nobody-unreadable | nobody-readonly)
                # As a user the permissions hold for (root reads and writes anything).
                mkdir -p "$cdir/rt" "$cdir/home"
                chmod 700 "$cdir/rt"
                chown -R nobody: "$cdir/rt" "$cdir/home" "$cfg"
                [ "$kind" = nobody-unreadable ] && chmod 000 "$ini"
                [ "$kind" = nobody-readonly ] && chmod 555 "$cfg/vexlo"
                env=(env DISPLAY="$DISPLAY" XDG_CONFIG_HOME="$cfg" HOME="$cdir/home"
                    XDG_RUNTIME_DIR="$cdir/rt")
                runner=(setpriv --reuid=nobody --regid=nogroup --clear-groups)
                ;;
            mount-readonly)
                # As root: the settings folder read-only in a mount namespace of its own.
                runner=(unshare -m sh -c 'mount --bind "$0" "$0" && mount -o remount,ro,bind "$0" "$0" && exec "$@"' "$cfg/vexlo")
                ;;
            symlink | dangling-link)
                # Dotfiles kept elsewhere, linked in by a relative link.
                mkdir -p "$cdir/dotfiles"
                [ "$kind" = symlink ] && mv "$ini" "$cdir/dotfiles/core.ini"
                rm -f "$ini"
                ln -s ../../dotfiles/core.ini "$ini"
                ;;
            devnull-link) rm -f "$ini" && ln -s /dev/null "$ini" ;;
            hardlink) ln "$ini" "$cdir/other.ini" ;;
            readonly-file) chmod 444 "$ini" ;;
            no-home)
                # No HOME and no XDG_CONFIG_HOME: the user database's home folder, here a
                # folder of the case mounted over it in a mount namespace of its own.
                home_root=$(getent passwd "$(id -u)" | cut -d: -f6)
                mkdir -p "$cdir/home"
                env=(env -u HOME -u XDG_CONFIG_HOME DISPLAY="$DISPLAY" XDG_RUNTIME_DIR="$XDG_RUNTIME_DIR")
                runner=(unshare -m sh -c 'mount --bind "$0" "$1" && shift && exec "$@"' "$cdir/home" "$home_root")
                [ -e /.config/vexlo ] && home_root=""  # cannot tell a new one from an old one
                ;;
            odd-folders)
                # The program in a folder whose name has a backslash and a Latin-1 byte.
                exe=$cdir/bin$'\\'"caf"$'\xe9'/vexlo
                mkdir -p "${exe%/*}"
                cp -p "$app"/* "${exe%/*}/"
                ;;
            mixer-path)
                # A mixer program in a folder with a blank, quoted as the profile rules allow;
                # "my" is a folder, not the program.
                mkdir -p "$cdir/my" "$cdir/my mixer"
                printf '#!/bin/sh\necho "$@" > "%s"\n' "$cdir/mixer-started" >"$cdir/my mixer/run"
                chmod +x "$cdir/my mixer/run"
                printf '[mixer]\npathtomixer="%s"\n' "$cdir/my mixer/run" >"$ini"
                cp "$ini" "$cdir/before.ini"
                ;;
        esac
        start=$(now_ms)
        "${runner[@]}" "${env[@]}" "$exe" "${args[@]}" >"$out" 2>&1 &
        pid=$!
        pids+=("$pid")
        why=""
        local ok=1 how=""
        if [ "$expect" = runs ]; then
            sleep 1.5
            if ! alive "$pid"; then
                exit_code "$pid"
                fail "ended by itself (exit $code)"
            elif has_dialog "$pid"; then
                fail "a box: $(tr '\n' ' ' <"$out")"
            elif [ -n "$(named "$pid" Vexlo)" ]; then
                fail "a window captioned Vexlo is shown"
            elif [ "$mode" = control ] && ! has_named "$pid" Control; then
                fail "no slider window"
            elif [ "$kind" = mixer-path ] && { ! press_icon "$pid" 1 ||
                ! wait_until 3000 test -e "$cdir/mixer-started"; }; then
                fail "the mixer program was not started by a left press on the tray icon"
            elif [ "$kind" = mixer-path ] && has_dialog "$pid"; then
                fail "a box after the mixer started"
            else
                if [ "$mode" = control ]; then
                    how="double-click"
                    double_click_slider "$pid"
                elif has_tray_icon "$pid"; then
                    how="tray menu"
                    quit_from_tray "$pid" || { how="SIGTERM (menu did not open)"; kill -TERM "$pid"; }
                else
                    how="SIGTERM"
                    kill -TERM "$pid"
                fi
                # On a loaded machine xdotool's pauses can stretch past the double-click
                # time, and two single presses only drag the slider: that is no hang, and one
                # more double-click tells the two apart.
                if [ "$how" = double-click ] && ! wait_until 3000 ended "$pid" &&
                    ! has_dialog "$pid"; then
                    how="second double-click"
                    double_click_slider "$pid"
                fi
                if wait_until 3000 ended "$pid"; then
                    exit_code "$pid"
                    [ "$code" = 0 ] || fail "quit by $how: exit code $code"
                else
                    fail "still running 3 s after the quit by $how (hang)"
                fi
                has_dialog "$pid" && fail "a box after the quit"
            fi
        else
            how="box"
            if ! wait_until 5000 has_dialog "$pid"; then
                if alive "$pid"; then
                    fail "no box within 5 s"
                else
                    exit_code "$pid"
                    fail "ended without a box (exit $code)"
                fi
            else
                local box text
                box=$(dialog "$pid")
                text=$(grep '^Vexlo: ' "$out" | head -1)
                if [ "$(name_of "$box")" != Vexlo ]; then
                    fail "box captioned '$(name_of "$box")'"
                elif [ -z "$text" ]; then
                    fail "the box's text is not on stderr"
                else
                    how="box: ${text#Vexlo: }"
                    ends_after_box "$pid"
                fi
            fi
        fi
        if alive "$pid"; then
            kill -9 "$pid" 2>/dev/null
            wait "$pid" 2>/dev/null
        fi
        # What became of the settings file.
        if [ -z "$why" ]; then
            local check=$kind
            [ "$kind" = odd-folders ] && [ "$mode" = full ] && check=""
            case $check in
                folder)
                    [ -d "$ini" ] && [ -z "$(ls -A "$ini")" ] || fail "the folder core.ini was changed"
                    ;;
                writable | nobody-readonly | hardlink | odd-folders)
                    # The same save where it may write (in place in a folder that takes no new
                    # file): the new position, every other line, the encoding.
                    saved_as_expected "$cdir/before.ini" "$ini" ||
                        fail "core.ini is not the old one with the new position"
                    if [ "$kind" = hardlink ]; then
                        [ "$(stat -c %i "$ini")" = "$(stat -c %i "$cdir/other.ini")" ] ||
                            fail "the hard link was broken"
                    fi
                    [ "$kind" = odd-folders ] && [ -e "$cdir/con/fig caf"$'\xe9' ] &&
                        fail "another folder was written"
                    ls -a "$cfg/vexlo" | grep -q 'core\.ini\.' && fail "a temporary file was left"
                    ;;
                symlink | dangling-link)
                    [ -L "$ini" ] || fail "the link was replaced"
                    if [ "$kind" = symlink ]; then
                        saved_as_expected "$cdir/before.ini" "$cdir/dotfiles/core.ini" ||
                            fail "the linked file is not the old one with the new position"
                    else
                        grep -q '^x=' "$cdir/dotfiles/core.ini" 2>/dev/null ||
                            fail "the position was not saved to the file the link names"
                    fi
                    ;;
                devnull-link)
                    [ "$(readlink "$ini")" = /dev/null ] && [ -c /dev/null ] ||
                        fail "the link to /dev/null was replaced"
                    ;;
                no-home)
                    grep -q '^x=' "$cdir/home/.config/vexlo/core.ini" 2>/dev/null ||
                        fail "the position was not saved under the user's home folder"
                    [ -n "$home_root" ] && [ -e /.config/vexlo ] && fail "/.config/vexlo was created"
                    ;;
                readonly-file)
                    cmp -s "$cdir/before.ini" "$ini" || fail "the read-only core.ini was written"
                    [ "$(stat -c %a "$ini")" = 444 ] || fail "core.ini permissions changed"
                    ;;
                *)
                    if [ "$source" = - ] && [ "$kind" != mixer-path ]; then
                        [ ! -e "$ini" ] || [ "$mode" = control ] || fail "core.ini was created"
                    elif [ "$mode" = full ] || [ -n "$kind" ] || [ "$expect" = fatal ]; then
                        cmp -s "$cdir/before.ini" "$ini" || fail "core.ini changed"
                        [ "$kind" = nobody-unreadable ] && [ "$(stat -c %a "$ini")" != 0 ] &&
                            fail "core.ini permissions changed"
                    else
                        lines_kept "$cdir/before.ini" "$ini" || fail "a line of core.ini was lost"
                        grep -q '^x=' "$ini" || fail "the position was not saved"
                    fi
                    ls -a "$cfg/vexlo" | grep -q 'core\.ini\.' && fail "a temporary file was left"
                    ;;
            esac
        fi
        local took=$(($(now_ms) - start))
        if [ -z "$why" ]; then
            printf 'PASS\t%s\t%s\t%s\t%d\t%s\n' "$mode" "$case$([ -n "$kind" ] && echo " ($kind)")" \
                "$expect" "$took" "$how" >>"$results"
        else
            printf 'FAIL\t%s\t%s\t%s\t%d\t%s\n' "$mode" "$case$([ -n "$kind" ] && echo " ($kind)")" \
                "$expect" "$took" "$why" >>"$results"
            sed 's/^/    vexlo: /' "$out" | head -5 >>"$results.log"
        fi
    }

    while IFS=$'\t' read -r mode case expect source kind; do
        run_case "$mode" "$case" "$expect" "$source" "$kind"
        sleep 0.1
    done <"$jobs_file"
    exit 0
fi

# ---- The whole run ----------------------------------------------------------------------

cd "$root"
. "$e2e/lib.sh"
need_linux_build
work=$(mktemp -d /tmp/vexlo-rel-settings.XXXXXX)
chmod 755 "$work"
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/app" build/reliability
cp build/linux/vexlo build/linux/*.bmp build/linux/*.ico build/linux/*.gif build/linux/*.wav \
    "$work/app/"
chmod -R a+rX "$work/app"

# The jobs: MODE NAME EXPECT SOURCE KIND.
python3 tests/data/settings_cases.py tests/data/bad_settings.tsv "$work/table" >"$work/table.txt" ||
    { echo "FAIL $name: cannot read the settings table"; exit 1; }
chmod -R a+rX "$work/table"
{
    while IFS=$'\t' read -r case full control source; do
        printf 'full\t%s\t%s\t%s\t\n' "$case" "$full" "$source"
        if [ "$control" != "$full" ] || [ "$control" = fatal ]; then
            printf 'control\t%s\t%s\t%s\t\n' "$case" "$control" "$source"
        fi
    done <"$work/table.txt"
    printf '[general]\nontop=1\n; kept as it is\n[pos]\nx=3005\ny=1502\n' >"$work/settings.ini"
    printf 'full\tunreadable-core-ini\truns\t-\tfolder\n'
    printf 'control\tunreadable-core-ini\truns\t-\tfolder\n'
    printf 'full\tunreadable-core-ini\truns\t%s\tnobody-unreadable\n' "$work/settings.ini"
    printf 'control\tunreadable-core-ini\truns\t%s\tnobody-unreadable\n' "$work/settings.ini"
    printf 'control\twritable-settings-folder\truns\t%s\twritable\n' "$work/settings.ini"
    printf 'control\tread-only-settings-folder\truns\t%s\tnobody-readonly\n' "$work/settings.ini"
    printf 'control\tread-only-settings-folder\truns\t%s\tmount-readonly\n' "$work/settings.ini"
    # The files users keep.
    printf '\xef\xbb\xbf[pos]\nx=3005\ny=1502\n[general]\nontop=1\n' >"$work/utf8-mark.ini"
    printf '\xef\xbb\xbf[general]\nontop=yes\n' >"$work/utf8-mark-bad.ini"
    python3 - "$work" <<'PY'
import sys
for name, enc, mark in (("utf16le", "utf-16-le", b"\xff\xfe"), ("utf16be", "utf-16-be", b"\xfe\xff")):
    with open(f"{sys.argv[1]}/{name}.ini", "wb") as f:
        f.write(mark + "[pos]\r\nx=3005\r\ny=1502\r\n[general]\r\nontop=1\r\n".encode(enc))
    with open(f"{sys.argv[1]}/{name}-bad.ini", "wb") as f:
        f.write(mark + "[general]\r\nontop=yes\r\n".encode(enc))
PY
    for kind in symlink dangling-link devnull-link hardlink readonly-file no-home odd-folders; do
        printf 'control\tusers-files\truns\t%s\t%s\n' "$work/settings.ini" "$kind"
    done
    printf 'full\tusers-files\truns\t-\todd-folders\n'
    printf 'full\tusers-files\truns\t-\tmixer-path\n'
    for enc in utf8-mark utf16le utf16be; do
        printf 'control\t%s\truns\t%s\twritable\n' "$enc" "$work/$enc.ini"
        printf 'full\t%s-bad-flag\tfatal\t%s\t\n' "$enc" "$work/$enc-bad.ini"
    done
} | grep -E -- "${VEXLO_CASES:-.}" >"$work/jobs.txt"
run_shards "$0" "$work" "$shards" "$first_display"

cat "$work"/results.[0-9]* | sort -t$'\t' -k2,2 -k3,3 >"$work/results.all"
awk -F'\t' '{ printf "%s %s %s (expect %s, %d ms): %s\n", $1, $2, $3, $4, $5, $6 }' "$work/results.all"
cat "$work"/results.*.log 2>/dev/null
passed=$(grep -c '^PASS' "$work/results.all")
failed=$((total - passed))
full_n=$(grep -c $'\tfull\t' "$work/results.all")
control_n=$(grep -c $'\tcontrol\t' "$work/results.all")
ran=$(awk -F'\t' '$1 == "PASS" && $4 == "runs"' "$work/results.all" | wc -l)
boxes=$(awk -F'\t' '$1 == "PASS" && $4 == "fatal"' "$work/results.all" | wc -l)
by_tray=$(grep -c $'\ttray menu$' "$work/results.all")
by_click=$(grep -c $'\tdouble-click$' "$work/results.all")
by_term=$(grep -c $'\tSIGTERM' "$work/results.all")
{
    echo "## Linux: malformed and unusable settings ($name)"
    echo
    echo "- Cases tried: $total against the real \`vexlo\` ($full_n in full mode, $control_n with \"/control\"): all $(wc -l <"$work/table.txt") rows of tests/data/bad_settings.tsv in full mode, the rows whose \"/control\" expectation differs or is fatal, a core.ini that is a folder, one without read permission (run as \`nobody\`), and a settings folder that cannot be written (as \`nobody\` with mode 555, and as root through a read-only bind mount in a private mount namespace), beside the same save into a writable folder; and the files users keep: core.ini as a relative symbolic link into a dotfiles folder, a dangling link, a link to /dev/null, a second hard link, mode 444 (as root), a UTF-8 byte-order mark and UTF-16 LE and BE with a mark (each saved by the slider, and each with an invalid flag in its first section), no HOME and no XDG_CONFIG_HOME (the user database's home folder bind-mounted from the case), the program and its settings in folders with a backslash and a Latin-1 byte in their names, and a quoted \"pathtomixer\" with a blank started by a left press on the tray icon."
    echo "- Outcome: $passed of $total as expected, $failed not; $ran ran and quit with exit code 0 ($by_tray through the tray menu, $by_click through the slider's double-click, $by_term by SIGTERM, which runs the same quit: no tray icon in those cases), $boxes ended with the box captioned \"Vexlo\" naming the setting and a non-zero exit."
    echo "- Faults survived: 0 exits by a signal, 0 hangs (3 s limit after the quit or the box)."
    echo "- Nothing lost: core.ini byte for byte unchanged after every full-mode case and every fatal case; after a slider save every line the file had is still there; an unwritable folder or unreadable file is left as it was, without a box; a save goes through symbolic links to the file they name and keeps hard links, the encoding and its mark, is made in place where the folder takes no new file, leaves a read-only file and a link to /dev/null as they were, lands in the user's home folder when HOME is unset and in the folder whose name has a backslash, never in another."
    echo "- Run time: ${seconds} s on $shards displays in parallel."
} >"build/reliability/$name.md"
echo "$passed passed, $failed failed ($name, ${seconds} s)"
[ "$failed" -eq 0 ]
