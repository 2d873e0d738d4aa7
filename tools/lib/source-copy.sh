# Sourced by the scripts that build the Debian source package from a copy of the tree
# (tools/package.sh --source, tests/package/CheckSourcePackage.sh).

# copy_source_tree SOURCE DEST: the files git knows or would add (changes not yet committed
# included; ignored files such as build/ left out), copied with their links and modes.
copy_source_tree() {
    local source=$1 dest=$2
    mkdir -p "$dest"
    git -C "$source" ls-files -z --cached --others --exclude-standard |
        (cd "$source" && while IFS= read -r -d '' f; do
            if [ -e "$f" ] || [ -L "$f" ]; then printf '%s\0' "$f"; fi
        done) |
        tar -C "$source" --null -T - -cf - | tar -C "$dest" -xf -
}
