#!/usr/bin/env bash
# The qd7-bus installer and MSI under wine, in the project's wine prefix in the build tree:
# installed silently, qd7-bus run from the PATH as a new command prompt finds it, then uninstalled
# silently.
#   - For the user (/CurrentUser, and with no choice given): the installer asks for no elevation
#     (its manifest), installs into %LOCALAPPDATA%\Programs\qd7-bus, puts that on the user's PATH
#     and among the user's installed programs, and writes nothing for the machine (no Program
#     Files folder, no entry in HKLM, the system's PATH as it was).
#   - For all users (/AllUsers): Program Files\qd7-bus, the system's PATH, the machine's list,
#     and nothing in the user's PATH or list.
#   - The MSI (msiexec /i ... /qn): Program Files\qd7-bus, the end of the system's PATH, the
#     machine's list; msiexec /x takes them away again.
# Each installer with the PATH absent, ordinary (an entry with a %VARIABLE% in it), too long for the
# installer to edit safely, and already holding the folder. After each uninstall the prefix holds
# what it held before: no program folder, no entry among the installed programs, and the PATH as
# it was, an entry that was there before included. The prefix's PATHs are put back at the end.
# No COM port is used or linked: nothing here opens a serial device. Wine grants every program
# administrator rights, so a per-user install is shown to need none by its manifest and by what
# it writes, not by running without them.
# Exits 77 (skipped) when there is no installer (makensis, Debian package nsis, was not found); the
# MSI is left out when it was not built (wixl and msitools).
#
#   InstallerUnderWine.sh SETUP_EXE MSI VERSION WINEPREFIX EMULATOR...
set -euo pipefail
setup=$1
msi=$2
version=$3
export WINEPREFIX=$4
shift 4
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

# The installer asks for no elevation: it runs with the rights of whoever starts it.
if command -v wrestool >/dev/null; then
    wrestool -x --raw --type=24 "$setup" | grep -q 'requestedExecutionLevel level="asInvoker"' ||
        say "the installer's manifest asks for more than the rights of whoever starts it"
fi

run cmd /c 'echo %LOCALAPPDATA%'
local_app_data=$out
user_folder="$local_app_data\\Programs\\qd7-bus"
machine_folder='C:\Program Files\qd7-bus'
unix_path() { run winepath -u "$1" && echo "$out"; }
unix_user_folder=$(unix_path "$user_folder")
unix_machine_folder=$(unix_path "$machine_folder")
user_environment='HKCU\Environment'
system_environment='HKLM\SYSTEM\CurrentControlSet\Control\Session Manager\Environment'
user_uninstall='HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\qd7-bus'
machine_uninstall='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\qd7-bus'

# A PATH as reg shows it ("absent" when there is none).
path_of() { # key
    run reg query "$1" /v Path
    if [ "$rc" -ne 0 ]; then
        echo absent
    else
        sed -n 's/^ *Path *REG_[A-Z_]* *//p' <<<"$out"
    fi
}

set_path() { # key value-or-"absent"
    if [ "$2" = absent ]; then
        run reg delete "$1" /v Path /f
    else
        run reg add "$1" /v Path /t REG_EXPAND_SZ /d "$2" /f
        [ "$rc" -eq 0 ] || { say "could not set the PATH: $(cat "$work/err")"; exit 1; }
    fi
}

# What an earlier run may have left when it was stopped halfway goes first.
for folder in "$user_folder" "$machine_folder"; do
    if [ -e "$(unix_path "$folder")/uninstall.exe" ]; then
        run_to_the_end "$folder\\uninstall.exe" /S
    fi
done
rm -rf "$unix_user_folder" "$unix_machine_folder"
run reg delete "$user_uninstall" /f
run reg delete "$machine_uninstall" /f

original_user_path=$(path_of "$user_environment")
original_system_path=$(path_of "$system_environment")
cleanup() {
    set_path "$user_environment" "$original_user_path" || true
    set_path "$system_environment" "$original_system_path" || true
    rm -rf "$work"
}
trap cleanup EXIT

long='C:\Long'
while [ ${#long} -le 1200 ]; do long+='\abcdefghijklmnopqrstuvwxyz'; done
system=$original_system_path
# way (switch) | case | PATH of that way before | while installed ("=": unchanged)
while IFS='|' read -r switch case before during; do
    [ "$during" != "=" ] || during=$before
    if [ "$switch" = /AllUsers ]; then
        folder=$machine_folder unix_folder=$unix_machine_folder
        key=$system_environment other_key=$user_environment
        uninstall_key=$machine_uninstall other_uninstall=$user_uninstall other_folder=$unix_user_folder
    else
        folder=$user_folder unix_folder=$unix_user_folder
        key=$user_environment other_key=$system_environment
        uninstall_key=$user_uninstall other_uninstall=$machine_uninstall other_folder=$unix_machine_folder
    fi
    before=${before//@FOLDER@/$folder} during=${during//@FOLDER@/$folder}
    before=${before//@SYSTEM@/$system} during=${during//@SYSTEM@/$system}
    case="${switch:-no choice}, $case"
    set_path "$key" "$before"
    other_before=$(path_of "$other_key")

    run_to_the_end "$setup" /S $switch
    [ "$rc" -eq 0 ] || say "$case: the installer exited with $rc"
    for file in qd7-bus.exe README.txt LICENSE.txt uninstall.exe; do
        [ -f "$unix_folder/$file" ] || say "$case: $file was not installed in $folder"
    done
    [ ! -e "$other_folder" ] || say "$case: $other_folder was made too"
    run reg query "$uninstall_key" /v DisplayVersion
    grep -q "REG_SZ *$version\$" <<<"$out" || say "$case: not among the installed programs: $out"
    run reg query "$other_uninstall"
    [ "$rc" -ne 0 ] || say "$case: also in $other_uninstall"
    [ "$(path_of "$key")" = "$during" ] || say "$case: PATH while installed is '$(path_of "$key")', not '$during'"
    [ "$(path_of "$other_key")" = "$other_before" ] || say "$case: $other_key's PATH changed"
    # From the PATH, as a new command prompt finds it; by its folder where the PATH has none.
    if [[ ";$during;" == *";$folder;"* ]]; then
        run cmd /c qd7-bus --version
    else
        run "$folder\\qd7-bus.exe" --version
    fi
    [ "$rc" -eq 0 ] && [ "$out" = "qd7-bus (qd7test) $version" ] ||
        say "$case: the installed qd7-bus --version gave exit $rc: $out $(cat "$work/err")"

    run_to_the_end "$folder\\uninstall.exe" /S
    [ "$rc" -eq 0 ] || say "$case: the uninstaller exited with $rc"
    [ ! -e "$unix_folder" ] || say "$case: the uninstaller left $(ls -A "$unix_folder" | xargs)"
    run reg query "$uninstall_key"
    [ "$rc" -ne 0 ] || say "$case: still among the installed programs after uninstalling"
    [ "$(path_of "$key")" = "$before" ] || say "$case: PATH after uninstalling is '$(path_of "$key")', not '$before'"
    set_path "$key" "$( [ "$key" = "$system_environment" ] && echo "$system" || echo "$original_user_path")"
done <<EOF
|no PATH|absent|@FOLDER@
/CurrentUser|a PATH|C:\\Tools;%SystemRoot%\\Extra|C:\\Tools;%SystemRoot%\\Extra;@FOLDER@
/CurrentUser|a PATH too long to edit|$long|=
/CurrentUser|a PATH that holds the folder already|C:\\Tools;@FOLDER@|=
/AllUsers|the system's PATH|@SYSTEM@|@SYSTEM@;@FOLDER@
/AllUsers|a system PATH that holds the folder already|@FOLDER@;@SYSTEM@|=
EOF

if [ -n "$msi" ] && [ -e "$msi" ] && command -v msiinfo >/dev/null; then
    code=$(msiinfo export "$msi" Property | tr -d '\r' | awk '$1 == "ProductCode" { print $2 }')
    msi_uninstall="HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\\$code"
    case='the MSI'
    system_before=$(path_of "$system_environment")
    user_before=$(path_of "$user_environment")
    run winepath -w "$msi"
    windows_msi=$out
    run_to_the_end msiexec /i "$windows_msi" /qn
    [ "$rc" -eq 0 ] || say "$case: msiexec /i exited with $rc"
    for file in qd7-bus.exe README.txt LICENSE.txt; do
        [ -f "$unix_machine_folder/$file" ] || say "$case: $file was not installed in $machine_folder"
    done
    run reg query "$msi_uninstall" /v DisplayVersion
    grep -q "REG_SZ *$version\$" <<<"$out" || say "$case: not among the installed programs: $out"
    [ "$(path_of "$system_environment")" = "$system_before;$machine_folder\\" ] ||
        say "$case: the system's PATH while installed is '$(path_of "$system_environment")'"
    [ "$(path_of "$user_environment")" = "$user_before" ] || say "$case: the user's PATH changed"
    run cmd /c qd7-bus --version
    [ "$rc" -eq 0 ] && [ "$out" = "qd7-bus (qd7test) $version" ] ||
        say "$case: qd7-bus --version from the PATH gave exit $rc: $out"
    run_to_the_end msiexec /x "$windows_msi" /qn
    [ "$rc" -eq 0 ] || say "$case: msiexec /x exited with $rc"
    [ ! -e "$unix_machine_folder" ] || say "$case: the uninstall left $(ls -A "$unix_machine_folder" | xargs)"
    run reg query "$msi_uninstall"
    [ "$rc" -ne 0 ] || say "$case: still among the installed programs after uninstalling"
    # Wine's Windows Installer takes the entry away but leaves the ";" before it.
    after=$(path_of "$system_environment")
    [ "$after" = "$system_before" ] || [ "$after" = "$system_before;" ] ||
        say "$case: the system's PATH after uninstalling is '$after', not '$system_before'"
    set_path "$system_environment" "$system_before"
else
    echo "InstallerUnderWine: no MSI was built (wixl and msitools): left out"
fi
exit "$fail"
