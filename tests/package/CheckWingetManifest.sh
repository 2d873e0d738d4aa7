#!/usr/bin/env bash
# The winget manifests that packaging/winget/make-manifests.sh makes for the installers of this
# build: each validates against packaging/winget/manifest.schema.json (the format's rules for every
# field used, and no other field), the three agree on the package and its version, and the
# installer manifest names the files as they are: their names under the download folder, their
# SHA-256 and the MSI's product code. A manifest with a misspelt field must fail the same check.
# Exits 77 (skipped) without the installers (makensis, wixl, msitools) or without Python's yaml
# and jsonschema (Debian: python3-yaml, python3-jsonschema).
#
#   CheckWingetManifest.sh SOURCE_DIR SETUP_EXE MSI VERSION
set -euo pipefail
source=$1 setup=$2 msi=$3 version=$4
if [ -z "$setup" ] || [ ! -e "$setup" ] || [ -z "$msi" ] || [ ! -e "$msi" ]; then
    echo "CheckWingetManifest: the installer or the MSI was not built; skipped"
    exit 77
fi
# The system's Python, which the Debian packages serve, where there is one.
python=python3
[ ! -x /usr/bin/python3 ] || python=/usr/bin/python3
"$python" -c 'import yaml, jsonschema' 2>/dev/null ||
    { echo "CheckWingetManifest: python3-yaml or python3-jsonschema is missing; skipped"; exit 77; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

url=https://downloads.qd7.test/qd7-bus/$version
"$source/packaging/winget/make-manifests.sh" --url "$url/" --setup "$setup" --msi "$msi" \
    --version "$version" --date 2026-12-10 --out "$work/manifests" >/dev/null

# validate.py SCHEMA MANIFEST...: each against the schema's definition of its ManifestType.
cat >"$work/validate.py" <<'PY'
import json, sys, yaml, jsonschema
schema = json.load(open(sys.argv[1]))
failed = False
for path in sys.argv[2:]:
    manifest = yaml.safe_load(open(path, encoding="utf-8"))
    kind = manifest.get("ManifestType") if isinstance(manifest, dict) else None
    if kind not in schema["definitions"] or kind == "Installer":
        print(f"{path}: no such manifest type: {kind}")
        failed = True
        continue
    validator = jsonschema.Draft7Validator(
        {"$ref": "#/definitions/" + kind, "definitions": schema["definitions"]})
    for error in validator.iter_errors(manifest):
        print(f"{path}: {'/'.join(map(str, error.absolute_path))}: {error.message}")
        failed = True
sys.exit(1 if failed else 0)
PY
schema=$source/packaging/winget/manifest.schema.json
fail=0
say() {
    echo "CheckWingetManifest: $*"
    fail=1
}
"$python" "$work/validate.py" "$schema" "$work"/manifests/*.yaml || say "the manifests do not validate"
[ "$(ls "$work/manifests" | xargs)" = \
    "qd7test.qd7-bus.installer.yaml qd7test.qd7-bus.locale.en-US.yaml qd7test.qd7-bus.yaml" ] ||
    say "the manifests are $(ls "$work/manifests" | xargs)"

# What the manifests say of the package and its files, as one line each: "key value".
facts=$("$python" - "$work"/manifests/*.yaml <<'PY'
import sys, yaml
for path in sys.argv[1:]:
    m = yaml.safe_load(open(path, encoding="utf-8"))
    print("package", m["PackageIdentifier"], m["PackageVersion"])
    for i in m.get("Installers", []):
        print("installer", i["InstallerType"], i["Scope"], i["InstallerUrl"], i["InstallerSha256"],
              i.get("ProductCode", "-"), i.get("InstallerSwitches", {}).get("Custom", "-"))
PY
)
[ "$(grep '^package' <<<"$facts" | sort -u)" = "package qd7test.qd7-bus $version" ] ||
    say "the manifests disagree on the package: $(grep '^package' <<<"$facts" | sort -u | xargs)"
setup_sha=$(sha256sum "$setup" | cut -d' ' -f1)
msi_sha=$(sha256sum "$msi" | cut -d' ' -f1)
code=$(msiinfo export "$msi" Property | tr -d '\r' | awk '$1 == "ProductCode" { print $2 }')
expected="installer nullsoft user $url/$(basename "$setup") $setup_sha - /CurrentUser
installer nullsoft machine $url/$(basename "$setup") $setup_sha - /AllUsers
installer msi machine $url/$(basename "$msi") $msi_sha $code -"
[ "$(grep '^installer' <<<"$facts")" = "$expected" ] ||
    say "the installers are named otherwise:"$'\n'"$(grep '^installer' <<<"$facts")"$'\n'"expected:"$'\n'"$expected"

# The check can fail: a misspelt field, and a hash that is not one.
sed 's/InstallerSha256:/InstallerSha265:/' "$work/manifests/qd7test.qd7-bus.installer.yaml" >"$work/misspelt.yaml"
sed "s/$setup_sha/${setup_sha:0:63}/" "$work/manifests/qd7test.qd7-bus.installer.yaml" >"$work/short.yaml"
for broken in misspelt short; do
    ! "$python" "$work/validate.py" "$schema" "$work/$broken.yaml" >/dev/null ||
        say "a $broken manifest validates"
done
exit "$fail"
