#!/usr/bin/env bash
# The shell completions of a build keep up with that build's program: every long option its
# --help names is offered by both the bash and the zsh completion, and no other (an option of a
# feature the build lacks, such as --publish without MQTT, is neither described nor offered); the
# bash completion offers the commands and the fixed values of an option when asked as bash asks.
#
#   Completions.sh QD7_BUS COMPLETIONS_DIR     (the build's completions, their blocks selected)
set -euo pipefail
program=$1
dir=$2
status=0

# Every "--option" the help text names, once each.
mapfile -t options < <("$program" --help | grep -o -- '--[a-z][a-z0-9-]*' | sort -u)
[ "${#options[@]}" -gt 5 ] || { echo "no options found in $program --help" >&2; exit 1; }
for file in qd7-bus.bash _qd7-bus; do
    for option in "${options[@]}"; do
        grep -q -- "$option\b" "$dir/$file" ||
            { echo "$file does not offer $option" >&2; status=1; }
    done
    # Words that look like options in a completion: quoted, listed, or a case pattern.
    mapfile -t offered < <(grep -v '^ *#' "$dir/$file" | grep -o -- "\(^\|[ '(|{]\)--[a-z][a-z0-9-]*" |
        sed 's/^[^-]*//' | sort -u)
    for option in "${offered[@]}"; do
        printf '%s\n' "${options[@]}" | grep -qx -- "$option" ||
            { echo "$file offers $option, which $program --help does not name" >&2; status=1; }
    done
    ! grep -nE '^[[:space:]]*#?[[:space:]]*@(if|end)' "$dir/$file" ||
        { echo "$file keeps its feature blocks' lines" >&2; status=1; }
done

# shellcheck source=/dev/null
source "$dir/qd7-bus.bash"
complete_line() { # words...; the last is the one being completed
    COMP_WORDS=("$@")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    COMPREPLY=()
    _qd7_bus
    echo "${COMPREPLY[*]}"
}
expect() { # expected words...
    local expected=$1 got
    shift
    got=$(complete_line "$@")
    [ "$got" = "$expected" ] || { echo "completing '$*': got '$got', expected '$expected'" >&2; status=1; }
}
expect 'scan read watch send write backup restore ports' qd7-bus ''
expect 'text csv json' qd7-bus --format ''
expect 'none odd even' qd7-bus scan --parity ''
expect 'C0 C1 C2 C3' qd7-bus read 07 C
expect '--interval' qd7-bus watch 07 --int
expect 'P0,C0 P0,C1 P0,C2 P0,C3' qd7-bus read 07 P0,C
expect 'C0 C1 C2 C3' qd7-bus write 07 C
expect 'X0 X1' qd7-bus --bank 1 write 07,12 C1 -15.25 X
expect '' qd7-bus write 07 C1 ''
expect '--dry-run' qd7-bus restore b.json --dr
expect '--output' qd7-bus backup 07 --ou
exit $status
