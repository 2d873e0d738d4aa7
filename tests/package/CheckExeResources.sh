#!/usr/bin/env bash
# qd7-bus.exe as Windows shows it, and the ZIP a Windows user takes:
#   - the version resource carries the project's version, in its numbers and in its texts;
#   - the application manifest asks for UTF-8 as the code page and for long paths, names the
#     supported systems, and asks for no elevation;
#   - the icon holds every size of the icon theme, up to 256 pixels;
#   - the ZIP holds the program, README.txt and LICENSE.txt (Windows line ends) in one folder.
# Exits 77 (skipped) without wrestool and icotool (Debian: icoutils).
#
#   CheckExeResources.sh QD7_BUS_EXE VERSION ZIP
set -euo pipefail
exe=$1
version=$2
zip=$3
for tool in wrestool icotool strings od; do
    command -v "$tool" >/dev/null || { echo "CheckExeResources: $tool is not installed; skipped"; exit 77; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

fail=0
say() {
    echo "CheckExeResources: $*"
    fail=1
}

# Version: the fixed part (signature FEEF04BD, structure version 1.0, then the file version as
# major.minor and patch.0, each 16 bits, little-endian) and the texts.
wrestool -x --raw --type=16 "$exe" >"$work/version"
IFS=. read -r major minor patch <<<"$version"
le16() { printf '%02x%02x' $(($1 & 255)) $(($1 >> 8)); }
fixed="bd04effe00000100$(le16 "$minor")$(le16 "$major")0000$(le16 "$patch")"
od -An -tx1 -v "$work/version" | tr -d ' \n' | grep -q "$fixed" ||
    say "the version resource's numbers are not $version"
texts=$(strings -el "$work/version")
for key in FileVersion ProductVersion; do
    grep -A1 -x "$key" <<<"$texts" | tail -n 1 | grep -qx "$version" || say "$key is not $version"
done
grep -qx 'qd7-bus.exe' <<<"$texts" || say "the version resource does not name qd7-bus.exe"

# The manifest, resource 1 of type 24, which Windows reads when the program starts.
manifest=$(wrestool -x --raw --type=24 --name=1 "$exe")
for pattern in '<activeCodePage[^>]*>UTF-8</activeCodePage>' \
    '<longPathAware[^>]*>true</longPathAware>' \
    '<supportedOS Id="{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"/>' \
    '<requestedExecutionLevel level="asInvoker"'; do
    grep -q "$pattern" <<<"$manifest" || say "the manifest lacks $pattern"
done

# The icon group: every size of the theme.
wrestool -x --type=14 "$exe" >"$work/icon.ico"
sizes=$(icotool -l "$work/icon.ico" | sed -n 's/.*--width=\([0-9]*\).*/\1/p' | sort -n | xargs)
[ "$sizes" = "16 24 32 48 64 128 256" ] || say "the icon has the sizes '$sizes'"

# The ZIP.
dist=qd7-bus-$version
listed=$(cd "$work" && cmake -E tar tf "$zip" | sort | xargs)
[ "$listed" = "$dist/LICENSE.txt $dist/README.txt $dist/qd7-bus.exe" ] ||
    say "the ZIP holds: $listed"
(cd "$work" && cmake -E tar xf "$zip")
for text in README.txt LICENSE.txt; do
    if grep -qv $'\r$' "$work/$dist/$text"; then say "$text in the ZIP has lines without CR LF"; fi
done
grep -q 'MIT License' "$work/$dist/LICENSE.txt" || say "LICENSE.txt in the ZIP is not the MIT licence"
wrestool -l "$work/$dist/qd7-bus.exe" | grep -q 'type=16' || say "the ZIP's qd7-bus.exe has no version"
exit "$fail"
