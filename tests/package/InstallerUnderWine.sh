#!/usr/bin/env bash
# The qd7-bus installer under wine, in the project's wine prefix in the build tree: installed
# silently, qd7-bus.exe run from where it was installed, then uninstalled silently; three times,
# with the user's PATH absent, ordinary (an entry with a %VARIABLE% in it), and too long for the
# installer to edit safely. After each uninstall the prefix holds what it held before: no program
# folder, no entry among the installed programs, and the PATH as it was. The prefix's PATH is put
# back at the end. No COM port is used or linked: nothing here opens a serial device.
# Exits 77 (skipped) when there is no installer (makensis, Debian package nsis, was not found).
#
#   InstallerUnderWine.sh SETUP_EXE VERSION WINEPREFIX EMULATOR...
set -euo pipefail
setup=$1
version=$2
export WINEPREFIX=$3
shift 3
emulator=("$@")
if [ -z "$setup" ] || [ ! -e "$setup" ]; then
    echo "InstallerUnderWine: no installer was built (makensis, Debian package nsis, not found)"
    exit 77
fi
wine=${emulator[-1]}
wineserver=$(dirname "$wine")/wineserver
[ -x "$wineserver" ] || wineserver=$(command -v wineserver)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

fail=0
say() {
    echo "InstallerUnderWine: $*"
    fail=1
}

# A Windows program's output, read from files (the wine server can keep pipes open), without the
# carriage returns; its exit code in $rc.
run() {
    rc=0
    "${emulator[@]}" "$@" >"$work/out" 2>"$work/err" || rc=$?
    out=$(tr -d '\r' <"$work/out")
}

# The same, then waiting until every process of the prefix has ended: the uninstaller goes on in a
# copy of itself after the program started has returned.
run_to_the_end() {
    run "$@"
    "$wineserver" -w
}

folder='C:\Program Files\qd7-bus'
unix_folder="$WINEPREFIX/drive_c/Program Files/qd7-bus"
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\qd7-bus'

# The user's PATH as reg shows it ("absent" when there is none).
user_path() {
    run reg query 'HKCU\Environment' /v Path
    if [ "$rc" -ne 0 ]; then
        echo absent
    else
        sed -n 's/^ *Path *REG_[A-Z_]* *//p' <<<"$out"
    fi
}

set_user_path() { # value, or "absent"
    if [ "$1" = absent ]; then
        run reg delete 'HKCU\Environment' /v Path /f
    else
        run reg add 'HKCU\Environment' /v Path /t REG_EXPAND_SZ /d "$1" /f
        [ "$rc" -eq 0 ] || { say "could not set the PATH: $(cat "$work/err")"; exit 1; }
    fi
}

# What an earlier run may have left when it was stopped halfway goes first.
if [ -e "$unix_folder/uninstall.exe" ]; then
    run_to_the_end "$folder\\uninstall.exe" /S
fi
rm -rf "$unix_folder"
run reg delete "$uninstall_key" /f

original_path=$(user_path)
cleanup() {
    set_user_path "$original_path" || true
    rm -rf "$work"
}
trap cleanup EXIT

long='C:\Long'
while [ ${#long} -le 1200 ]; do long+='\abcdefghijklmnopqrstuvwxyz'; done
# case | PATH before | PATH while installed
while IFS='|' read -r case before during; do
    [ "$during" != "=" ] || during=$before
    set_user_path "$before"

    run_to_the_end "$setup" /S
    [ "$rc" -eq 0 ] || say "$case: the installer exited with $rc"
    for file in qd7-bus.exe README.txt LICENSE.txt uninstall.exe; do
        [ -f "$unix_folder/$file" ] || say "$case: $file was not installed"
    done
    run "$folder\\qd7-bus.exe" --version
    [ "$rc" -eq 0 ] && [ "$out" = "qd7-bus (qd7test) $version" ] ||
        say "$case: the installed qd7-bus.exe --version gave exit $rc: $out"
    run reg query "$uninstall_key" /v DisplayVersion
    grep -q "REG_SZ *$version\$" <<<"$out" || say "$case: not among the installed programs: $out"
    [ "$(user_path)" = "$during" ] || say "$case: PATH while installed is '$(user_path)', not '$during'"

    run_to_the_end "$folder\\uninstall.exe" /S
    [ "$rc" -eq 0 ] || say "$case: the uninstaller exited with $rc"
    [ ! -e "$unix_folder" ] || say "$case: the uninstaller left $(ls -A "$unix_folder" | xargs)"
    run reg query "$uninstall_key"
    [ "$rc" -ne 0 ] || say "$case: still among the installed programs after uninstalling"
    [ "$(user_path)" = "$before" ] || say "$case: PATH after uninstalling is '$(user_path)', not '$before'"
done <<EOF
no PATH|absent|$folder
a PATH|C:\\Tools;%SystemRoot%\\Extra|C:\\Tools;%SystemRoot%\\Extra;$folder
a PATH too long to edit|$long|=
EOF
exit "$fail"
