#!/usr/bin/env bash
# Makes the Debian packages of a build with CPack, in a temporary folder, and checks them against
# debian/control, which the source package builds from: the same two packages with the same
# descriptions and relations, Qt only in qd7test, the maintainer and homepage that were configured
# (no homepage unless one was given), and programs stripped of symbols and compiler notes.
# Exits 77 (skipped) when CPack's helpers (dpkg-deb, dpkg-shlibdeps, file) are not installed.
#
#   CheckDebs.sh SOURCE_DIR BUILD_DIR MAINTAINER [HOMEPAGE]
set -euo pipefail
source=$1
build=$2
maintainer=$3
homepage=${4:-}
for tool in cpack dpkg-deb dpkg-shlibdeps file readelf; do
    command -v "$tool" >/dev/null || { echo "CheckDebs: $tool is not installed; skipped"; exit 77; }
done
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
(cd "$build" && cpack -G DEB -B "$out" >"$out/cpack.log" 2>&1) || {
    cat "$out/cpack.log"
    exit 1
}

fail=0
say() {
    echo "CheckDebs: $*"
    fail=1
}

# One field of a binary package's paragraph in debian/control, continuation lines included.
control_field() { # package field
    awk -v pkg="$1" -v field="$2" '
        /^Package:/ { inpkg = ($2 == pkg) }
        /^$/ { inpkg = 0; infield = 0 }
        inpkg && infield && /^[ \t]/ { print; next }
        { infield = 0 }
        inpkg && index($0, field ":") == 1 { infield = 1; sub("^" field ":[ \t]*", ""); print }
    ' "$source/debian/control"
}

# A relation field as dpkg writes it: one line, without substitution variables.
relations() {
    tr '\n' ' ' | sed -e 's/\${[^}]*}[ ,]*//g; s/[ \t][ \t]*/ /g; s/^ //; s/[ ,]*$//'
}

debs=$(cd "$out" && ls ./*.deb | sed 's|^\./||' | sort | xargs)
version=$(dpkg-deb -f "$out/qd7test_"*.deb Version 2>/dev/null || true)
arch=$(dpkg --print-architecture)
[ "$debs" = "qd7-bus_${version}_$arch.deb qd7test_${version}_$arch.deb" ] ||
    say "expected the packages qd7-bus and qd7test, got: $debs"

for package in qd7test qd7-bus; do
    deb=$out/${package}_${version}_$arch.deb
    [ -e "$deb" ] || continue
    field() { dpkg-deb -f "$deb" "$1"; }

    [ "$(field Package)" = "$package" ] || say "$deb is not the package $package"
    [ "$(field Maintainer)" = "$maintainer" ] || say "$package: maintainer $(field Maintainer)"
    [ "$(field Homepage)" = "$homepage" ] || say "$package: homepage '$(field Homepage)', not '$homepage'"
    [ "$(field Section)" = "$(awk '/^Section:/ { print $2; exit }' "$source/debian/control")" ] ||
        say "$package: section $(field Section)"
    # The description as dpkg shows it: the summary after the field name, then the long text.
    described=$(dpkg-deb -f "$deb" Description)
    controlled=$(control_field "$package" Description)
    [ "$described" = "$controlled" ] ||
        say "$package: description differs from debian/control:"$'\n'"$(diff <(echo "$controlled") \
            <(echo "$described") || true)"
    for relation in Recommends Suggests; do
        [ "$(field $relation)" = "$(control_field "$package" $relation | relations)" ] ||
            say "$package: $relation '$(field $relation)'"
    done

    depends=$(field Depends)
    if [ "$package" = qd7-bus ]; then
        if grep -qi 'qt' <<<"$depends"; then say "qd7-bus depends on Qt: $depends"; fi
    else
        grep -q 'libqt6widgets6' <<<"$depends" || say "qd7test does not depend on Qt Widgets: $depends"
    fi

    # Everything under /usr; the programs stripped as debhelper strips them.
    if dpkg-deb -c "$deb" | awk '{ print $6 }' | grep -v '^\./usr/' | grep -qv '^\./$'; then
        say "$package installs outside /usr"
    fi
    mkdir -p "$out/x/$package"
    dpkg-deb -x "$deb" "$out/x/$package"
    for program in "$out/x/$package"/usr/bin/*; do
        sections=$(readelf -S -W "$program")
        for section in .symtab .debug_info .comment .note; do
            if grep -q " \\$section " <<<"$sections"; then
                say "$package: ${program##*/} carries $section"
            fi
        done
    done
    for doc in copyright changelog.gz; do
        [ -s "$out/x/$package/usr/share/doc/$package/$doc" ] || say "$package lacks its $doc"
    done
done
exit "$fail"
