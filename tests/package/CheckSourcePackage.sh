#!/usr/bin/env bash
# Builds the Debian source package as a distribution would, twice, each time from a copy of the
# source tree in a temporary folder, and checks that:
#   - dpkg-buildpackage -us -uc makes the source package and both binary packages, running the
#     tests through dh_auto_test;
#   - a second build in another folder, without the tests (DEB_BUILD_OPTIONS=nocheck), gives
#     byte-identical .debs (SOURCE_DATE_EPOCH comes from debian/changelog);
#   - lintian -I --pedantic on the source and the binaries reports nothing but its overrides;
#   - qd7-bus names no Qt library, qd7test recommends a Korean font and suggests qd7-bus;
#   - the packages hold the files of CPack's packages from the same build.
# Takes about two full builds' time. The copy is of the files git knows or would add, so changes
# not yet committed are built too.
#
#   CheckSourcePackage.sh SOURCE_DIR
set -euo pipefail
source=$1
for tool in dpkg-buildpackage dh lintian git cpack; do
    command -v "$tool" >/dev/null || { echo "CheckSourcePackage: $tool is not installed (tools/setup.sh package)"; exit 1; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# shellcheck source=../../tools/lib/source-copy.sh
. "$source/tools/lib/source-copy.sh"

fail=0
say() {
    echo "CheckSourcePackage: $*"
    fail=1
}

version=$(dpkg-parsechangelog -l "$source/debian/changelog" -S Version)
build() { # name options-for-dpkg-buildpackage...
    local name=$1 tree=$work/$1/qd7test-$version
    shift
    copy_source_tree "$source" "$tree"
    echo "CheckSourcePackage: dpkg-buildpackage $* in $tree"
    if ! (cd "$tree" && dpkg-buildpackage "$@" >"$work/$name.log" 2>&1); then
        tail -n 80 "$work/$name.log"
        say "dpkg-buildpackage $* failed"
        exit 1
    fi
}

parallel="parallel=$(nproc)"
DEB_BUILD_OPTIONS="$parallel" build a -us -uc
DEB_BUILD_OPTIONS="$parallel nocheck" build b -us -uc -b
grep -q 'dh_auto_test' "$work/a.log" || say "the first build ran no tests"
# The packaging flags rule: in every compile the last optimisation flag is dpkg-buildflags' own
# (no build type's -O3 after it), so DEB_BUILD_OPTIONS=noopt works.
wanted=$(DEB_BUILD_OPTIONS="$parallel" dpkg-buildflags --get CXXFLAGS | grep -o -- '-O[0-9s]' | tail -n 1)
last=$(grep -E '/c\+\+ .* -o [^ ]+\.o -c ' "$work/a.log" | sed 's/.*\(-O[0-9s]\).*/\1/' | sort | uniq -c)
[ "$(awk '{ print $2 }' <<<"$last")" = "$wanted" ] ||
    say "compiles whose last optimisation flag is not dpkg-buildflags' $wanted:"$'\n'"$last"
grep -E '^[0-9]+% tests passed' "$work/a.log" || say "the first build's tests did not report"

arch=$(dpkg --print-architecture)
for package in qd7test qd7-bus; do
    [ -e "$work/a/${package}_${version}_$arch.deb" ] || say "no package $package"
done
for deb in "$work"/a/*.deb; do
    name=${deb##*/}
    if ! cmp -s "$deb" "$work/b/$name"; then
        say "$name differs between the two builds"
        command -v diffoscope >/dev/null && diffoscope "$deb" "$work/b/$name" | head -n 60
    fi
done

# Everything lintian says, -I --pedantic, that is not overridden with a reason in debian/.
lintian -I --pedantic --tag-display-limit 0 "$work/a/qd7test_${version}_$arch.changes" \
    >"$work/lintian.log" 2>&1 || true
if grep -E '^[EWIPX]: ' "$work/lintian.log"; then
    say "lintian reports the tags above"
fi

bus=$work/a/qd7-bus_${version}_$arch.deb
gui=$work/a/qd7test_${version}_$arch.deb
if dpkg-deb -f "$bus" Depends | grep -qi qt; then say "qd7-bus depends on Qt: $(dpkg-deb -f "$bus" Depends)"; fi
[ "$(dpkg-deb -f "$gui" Recommends)" = "fonts-nanum | fonts-baekmuk | fonts-noto-cjk" ] ||
    say "qd7test recommends $(dpkg-deb -f "$gui" Recommends)"
[ "$(dpkg-deb -f "$gui" Suggests)" = "qd7-bus" ] || say "qd7test suggests $(dpkg-deb -f "$gui" Suggests)"

# The same files as CPack's packages of that build, less the documents and lintian overrides,
# which debhelper installs here.
obj=$(ls -d "$work/a/qd7test-$version"/obj-*)
(cd "$obj" && cpack -G DEB -B "$work/cpack" >"$work/cpack.log" 2>&1) || { cat "$work/cpack.log"; exit 1; }
contents() { dpkg-deb -c "$1" | awk '{ print $6 }' | grep -v '/$' | grep -Ev '^\./usr/share/(doc|lintian)/' | sort; }
for package in qd7test qd7-bus; do
    from_debian=$(contents "$work/a/${package}_${version}_$arch.deb")
    from_cpack=$(contents "$work/cpack/${package}_${version}_$arch.deb")
    [ "$from_debian" = "$from_cpack" ] ||
        say "$package: debian/ and CPack package other files:"$'\n'"$(diff <(echo "$from_debian") \
            <(echo "$from_cpack") || true)"
done
exit "$fail"
