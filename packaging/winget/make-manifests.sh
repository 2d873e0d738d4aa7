#!/usr/bin/env bash
# The winget manifests of a qd7-bus release (format 1.9.0): the version, installer and en-US
# manifests, with the installers' SHA-256 and the MSI's product code taken from the files
# themselves, for the folder on the web from which they are downloaded.
#
#   make-manifests.sh --url URL --setup SETUP_EXE --msi MSI --version VERSION --date YYYY-MM-DD \
#                     --out DIR
#
# URL is that folder (https://...), holding qd7-bus-VERSION-setup.exe and qd7-bus-VERSION-x64.msi
# as tools/package.sh --windows makes them. The MSI's product code is read with msiinfo (Debian:
# msitools).
set -euo pipefail
here=$(dirname "$0")
url= setup= msi= version= date= out=
while [ $# -gt 0 ]; do
    case "$1" in
    --url) url=${2%/} ;;
    --setup) setup=$2 ;;
    --msi) msi=$2 ;;
    --version) version=$2 ;;
    --date) date=$2 ;;
    --out) out=$2 ;;
    *) echo "make-manifests.sh: unknown option $1" >&2; exit 2 ;;
    esac
    shift 2
done
for name in url setup msi version date out; do
    [ -n "${!name}" ] || { echo "make-manifests.sh: --$name is missing" >&2; exit 2; }
done
[[ "$url" =~ ^https?://[^[:space:]\"\']+$ ]] ||
    { echo "make-manifests.sh: --url must be a web address (https://...), not \"$url\"" >&2; exit 2; }
[[ "$date" =~ ^[0-9]{4}-[0-9]{2}-[0-9]{2}$ ]] ||
    { echo "make-manifests.sh: --date must read YYYY-MM-DD, not \"$date\"" >&2; exit 2; }
for file in "$setup" "$msi"; do
    [ -f "$file" ] || { echo "make-manifests.sh: no such file: $file" >&2; exit 2; }
done
product_code=$(msiinfo export "$msi" Property | tr -d '\r' | awk '$1 == "ProductCode" { print $2 }')
[ -n "$product_code" ] || { echo "make-manifests.sh: $msi names no product code" >&2; exit 1; }
setup_sha256=$(sha256sum "$setup" | cut -d' ' -f1)
msi_sha256=$(sha256sum "$msi" | cut -d' ' -f1)

mkdir -p "$out"
for template in "$here"/qd7test.qd7-bus*.yaml.in; do
    text=$(cat "$template")
    # Quoted replacements: taken as they are ("&" included).
    text=${text//@VERSION@/"$version"}
    text=${text//@URL@/"$url"}
    text=${text//@DATE@/"$date"}
    text=${text//@SETUP_SHA256@/"$setup_sha256"}
    text=${text//@MSI_SHA256@/"$msi_sha256"}
    text=${text//@PRODUCT_CODE@/"$product_code"}
    name=$(basename "$template" .in)
    printf '%s\n' "$text" >"$out/$name"
done
echo "make-manifests.sh: $(ls "$out" | xargs) in $out"
