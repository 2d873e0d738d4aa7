#!/usr/bin/env bash
# Builds the packages, each from a clean folder, and checks them.
#
#   tools/package.sh [OPTION]...     the Debian packages qd7test and qd7-bus, made by CPack
#                                    with Debian's compiler flags, checked by lintian
#   tools/package.sh --source        the Debian source package and both binary packages, made by
#                                    dpkg-buildpackage from a copy of the tree (tests included),
#                                    checked by lintian
#   tools/package.sh --windows       qd7-bus for Windows: a ZIP, an NSIS installer (per user or
#                                    per machine) and an MSI (per machine); with --download-url,
#                                    the winget manifests for them too
#   tools/package.sh --check         the slow package tests (ctest label package-build): the source
#                                    package built twice and compared byte for byte, lintian
#
# Options:
#   --out DIR                        where the packages go (default: build/package)
#   --homepage URL                   the project's web site: the packages' Homepage field and the
#                                    AppStream data's homepage
#   --screenshots URL                the web folder that holds main.png and setup.png (as
#                                    tools/screenshot.sh --setup writes them), named in the
#                                    AppStream data for software centres
#   --maintainer 'Name <address>'    the packages' maintainer (default: debian/control's)
#   --download-url URL               --windows: the web folder the Windows packages are
#                                    downloaded from, named in the winget manifests
#
# Without --homepage and --screenshots, the packages name no web site and the AppStream data no
# screenshot. The source package takes them from debian/ itself: a Homepage field in
# debian/control (which the AppStream data then names too) and -DQD7_SCREENSHOTS_URL=... in
# debian/rules. Lintian runs with -I --pedantic; any tag it shows that debian/*.lintian-overrides
# does not explain fails the run.
set -euo pipefail
cd "$(dirname "$0")/.."

mode=debs
out=build/package
cmake_options=()
download_url=
while [ $# -gt 0 ]; do
    case "$1" in
    --source | --windows | --check) mode=${1#--} ;;
    --out) out=$2; shift ;;
    --homepage) cmake_options+=("-DQD7_HOMEPAGE=$2"); shift ;;
    --screenshots) cmake_options+=("-DQD7_SCREENSHOTS_URL=$2"); shift ;;
    --maintainer) cmake_options+=("-DQD7_MAINTAINER=$2"); shift ;;
    --download-url) download_url=$2; shift ;;
    -h | --help) sed -n '2,30p' "$0"; exit 0 ;;
    *) echo "package.sh: unknown option $1 (--help lists them)" >&2; exit 2 ;;
    esac
    shift
done
if [ ${#cmake_options[@]} -gt 0 ] && [ "$mode" != debs ]; then
    echo "package.sh: --homepage, --screenshots and --maintainer are for the CPack packages" >&2
    exit 2
fi
if [ -n "$download_url" ] && [ "$mode" != windows ]; then
    echo "package.sh: --download-url is for the Windows packages (--windows)" >&2
    exit 2
fi

tools/setup.sh package
version=$(dpkg-parsechangelog -S Version)
arch=$(dpkg --print-architecture)

# lintian -I --pedantic on the given files; any tag fails, overridden ones are not shown.
check_lintian() { # log files...
    local log=$1
    shift
    lintian -I --pedantic --tag-display-limit 0 "$@" >"$log" 2>&1 || true
    grep -v '^running with root privileges' "$log" || true
    if grep -qE '^[EWIPX]: ' "$log"; then
        echo "package.sh: lintian shows the tags above (log: $log)" >&2
        exit 1
    fi
    echo "package.sh: lintian -I --pedantic shows nothing"
}

case "$mode" in
debs)
    build=$out/build
    rm -rf "$out"
    mkdir -p "$out"
    # Debian's flags (fortified, relro, now, PIE) and no build type's own flags after them; the
    # packages' times from debian/changelog, so that two runs give the same files.
    export DEB_BUILD_MAINT_OPTIONS=hardening=+all
    SOURCE_DATE_EPOCH=$(dpkg-parsechangelog -S Timestamp)
    export SOURCE_DATE_EPOCH
    cmake -S . -B "$build" -G Ninja \
        -DCMAKE_BUILD_TYPE=None -DCMAKE_INSTALL_PREFIX=/usr \
        -DBUILD_TESTING=OFF -DQD7_WERROR=OFF "${cmake_options[@]}" \
        -DCMAKE_CXX_FLAGS="$(dpkg-buildflags --get CXXFLAGS) $(dpkg-buildflags --get CPPFLAGS)" \
        -DCMAKE_EXE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)" >/dev/null
    cmake --build "$build" -j "$(nproc)"
    (cd "$build" && cpack -G DEB -B "$(realpath ..)" >/dev/null)
    rm -rf "$out/_CPack_Packages"
    debs=("$out/qd7test_${version}_$arch.deb" "$out/qd7-bus_${version}_$arch.deb")
    ls -l "${debs[@]}"
    check_lintian "$out/lintian.log" "${debs[@]}"
    echo "package.sh: install with: sudo apt install ./${debs[0]} ./${debs[1]}"
    ;;
source)
    # dpkg-buildpackage writes beside the tree it builds.
    . tools/lib/source-copy.sh
    rm -rf "$out/source"
    tree=$out/source/qd7test-$version
    copy_source_tree "$PWD" "$tree"
    (cd "$tree" && DEB_BUILD_OPTIONS="parallel=$(nproc) ${DEB_BUILD_OPTIONS:-}" dpkg-buildpackage -us -uc)
    rm -rf "$tree"
    ls -l "$out/source"
    check_lintian "$out/source/lintian.log" "$out/source/qd7test_${version}_$arch.changes"
    ;;
windows)
    # A release build of qd7-bus.exe alone, cross-compiled; the packages are targets of it.
    build=$out/windows-build
    rm -rf "$build" "$out/windows"
    cmake -S . -B "$build" -G Ninja --toolchain cmake/x86_64-w64-mingw32.cmake \
        -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF -DQD7_BUILD_GUI=OFF \
        -DQD7_BUILD_BENCH=OFF -DQD7_BUILD_FUZZ=OFF >/dev/null
    cmake --build "$build" -j "$(nproc)" --target qd7-bus-packages
    mkdir -p "$out/windows"
    cp "$build/packaging/windows/qd7-bus-$version-windows-x64.zip" \
        "$build/packaging/windows/qd7-bus-$version-setup.exe" \
        "$build/packaging/windows/qd7-bus-$version-x64.msi" "$out/windows/"
    if [ -n "$download_url" ]; then
        # The release's date, as debian/changelog has it.
        packaging/winget/make-manifests.sh --url "$download_url" \
            --setup "$out/windows/qd7-bus-$version-setup.exe" \
            --msi "$out/windows/qd7-bus-$version-x64.msi" --version "$version" \
            --date "$(date -u -d "@$(dpkg-parsechangelog -S Timestamp)" +%F)" \
            --out "$out/windows/winget/$version"
    else
        echo "package.sh: no --download-url: no winget manifests"
    fi
    ls -lR "$out/windows"
    ;;
check)
    # What `ctest --preset package-build` runs, without configuring a build for it.
    tests/package/CheckSourcePackage.sh "$PWD"
    ;;
esac
