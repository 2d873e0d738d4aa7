#!/usr/bin/env bash
# Configures the project in temporary folders as a packager or a user would, and checks that:
#   - without the tests it needs neither GoogleTest nor Qt's test module and has no developer tool
#     (artwork generator, panel pictures) among its targets;
#   - a homepage and a screenshot folder given as options reach the AppStream data, escaped, and
#     the data still validates;
#   - a build without MQTT has shell completions without publishing, as its help;
#   - an option that is not a web address or a maintainer that is not "Name <address>" stops the
#     configuration with a message naming it.
# Exits 77 (skipped) when appstreamcli is not installed.
#
#   CheckConfigure.sh SOURCE_DIR APP_ID GENERATOR
set -euo pipefail
source=$1
id=$2
generator=$3
command -v appstreamcli >/dev/null || { echo "CheckConfigure: appstreamcli is not installed; skipped"; exit 77; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

fail=0
say() {
    echo "CheckConfigure: $*"
    fail=1
}

configure() { # folder options...
    local dir=$work/$1
    shift
    cmake -S "$source" -B "$dir" -G "$generator" -DBUILD_TESTING=OFF "$@" >"$dir.log" 2>&1
}

# A user's or a packager's build: the test frameworks made unfindable, so any use of them fails.
homepage='https://qd7.test/tools?a=1&b=2'
if configure release -DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON -DCMAKE_DISABLE_FIND_PACKAGE_Qt6Test=ON \
    -DCMAKE_DISABLE_FIND_PACKAGE_benchmark=ON -DQD7_HOMEPAGE="$homepage" \
    -DQD7_SCREENSHOTS_URL=https://qd7.test/shots/; then
    # The targets as the generator lists them: "name: phony" (Ninja) or "... name" (Make).
    targets=$(cmake --build "$work/release" --target help | sed -n 's/^\(\.\.\. \)\{0,1\}\([^ :]*\).*/\2/p')
    for tool in qd7-artwork qd7-panel-shots; do
        if grep -qx "$tool" <<<"$targets"; then say "BUILD_TESTING=OFF still builds $tool"; fi
    done
    for program in qd7test qd7-bus qd7-sim; do
        grep -qx "$program" <<<"$targets" || say "BUILD_TESTING=OFF does not build $program"
    done
    metainfo=$work/release/packaging/$id.metainfo.xml
    grep -qF '<url type="homepage">https://qd7.test/tools?a=1&amp;b=2</url>' "$metainfo" ||
        say "the homepage is not in the AppStream data, escaped"
    grep -qF '<image>https://qd7.test/shots/main.png</image>' "$metainfo" &&
        grep -qF '<image>https://qd7.test/shots/setup.png</image>' "$metainfo" ||
        say "the screenshots are not in the AppStream data"
    appstreamcli validate --no-net --pedantic "$metainfo" || fail=1
else
    say "BUILD_TESTING=OFF does not configure without the test frameworks:"
    cat "$work/release.log"
fi

# A build without MQTT: its shell completions offer no publishing, as its help describes none;
# a build with it (the one above, where libmosquitto is installed) offers it.
if configure no-mqtt -DQD7_BUILD_GUI=OFF -DQD7_WITH_MQTT=OFF; then
    for file in qd7-bus.bash _qd7-bus; do
        grep -q -- --interval "$work/no-mqtt/packaging/completions/$file" ||
            say "$file of a build without MQTT is not whole"
        ! grep -q -- --publish "$work/no-mqtt/packaging/completions/$file" ||
            say "$file of a build without MQTT offers --publish"
        ! pkg-config --exists libmosquitto ||
            grep -q -- --publish "$work/release/packaging/completions/$file" ||
            say "$file of a build with MQTT does not offer --publish"
    done
else
    say "QD7_WITH_MQTT=OFF does not configure:"
    cat "$work/no-mqtt.log"
fi

# Wrong options: the configuration stops and says which option is wrong.
while IFS='|' read -r option value message; do
    if configure wrong -DQD7_BUILD_GUI=OFF "-D$option=$value"; then
        say "$option=$value was accepted"
    elif ! grep -q "$message" "$work/wrong.log"; then
        say "$option=$value failed without naming it:"
        cat "$work/wrong.log"
    fi
    rm -rf "$work/wrong"
done <<'EOF'
QD7_HOMEPAGE|qd7test.org|QD7_HOMEPAGE must be a web address
QD7_SCREENSHOTS_URL|ftp://qd7.test/shots|QD7_SCREENSHOTS_URL must be a web address
QD7_MAINTAINER|maintainers@qd7.test|QD7_MAINTAINER must read "Name <address>"
EOF
exit "$fail"
