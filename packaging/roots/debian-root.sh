# Minimal Debian 12 roots for building and installing the packages, sourced by
# packaging/roots/build-in-root and tests/package/install-in-root (as root).
#
# mmdebstrap makes them: it is in Debian's archive, builds a root in under a
# minute from the machine's own apt sources without a second download tool, and
# writes it straight to a tarball, so a root is cached as one file and unpacked
# fresh for every run: nothing a run installs or leaves behind reaches the next.
# The cache (VELMORA_ROOT_CACHE, default /var/cache/velmora-roots) holds
#   NAME-KEY.tar   a root, KEY a digest of what went into it (for the build root,
#                  debian/control's Build-Depends): a changed list makes a new one
#   debs/          every .deb downloaded for any root, so a new root downloads
#                  only what is new
#   ccache/        the compiler cache of the package builds
readonly root_cache=${VELMORA_ROOT_CACHE:-/var/cache/velmora-roots}
readonly root_suite=bookworm
# Raised when a root's recipe changes, so cached roots made the old way go.
readonly root_recipe=1

# The machine's own entries for Debian 12 (deb822 and one-line files), so the
# roots use the mirror this machine is configured for; other archives are left out.
debian_sources_deb822() {
    local file
    for file in /etc/apt/sources.list.d/*.sources; do
        [ -f "$file" ] || continue
        awk -v suite="$root_suite" 'BEGIN { RS = ""; FS = "\n" }
            { for (i = 1; i <= NF; i++) if ($i ~ /^Suites:/) {
                  n = split(substr($i, 8), words, /[ \t]+/)
                  for (j = 1; j <= n; j++) if (words[j] ~ "^" suite "(-[a-z]+)?$") { print $0 "\n"; next }
              } }' "$file"
    done
}

debian_sources_lines() {
    cat /etc/apt/sources.list /etc/apt/sources.list.d/*.list 2>/dev/null |
        grep -E "^deb[[:space:]]+(\[[^]]*\][[:space:]]+)?[^[:space:]]+[[:space:]]+$root_suite(-[a-z]+)?[[:space:]]" || true
}

# Prints the path of a cached root, making it first when it is missing. KEY_TEXT
# is what the root holds (not where from); a change of the options that is not
# in it raises root_recipe.
# Usage: cached_root NAME KEY_TEXT MMDEBSTRAP_OPTION...
cached_root() {
    local name=$1 key_text=$2; shift 2
    local sources key tar
    install -d -m 0755 "$root_cache" "$root_cache/debs"
    sources=$(mktemp -d)
    debian_sources_deb822 >"$sources/debian.sources"
    debian_sources_lines >"$sources/debian.list"
    [ -s "$sources/debian.sources" ] || rm "$sources/debian.sources"
    [ -s "$sources/debian.list" ] || rm "$sources/debian.list"
    if ! ls "$sources"/* >/dev/null 2>&1; then
        rm -rf "$sources"
        echo "no Debian $root_suite entry in /etc/apt/sources.list*" >&2
        return 1
    fi
    key=$( (echo "$root_recipe $name"; echo "$key_text"; cat "$sources"/*) | sha256sum | cut -c1-16)
    tar=$root_cache/$name-$key.tar
    # One run at a time makes a root or fills the download cache.
    exec 9>"$root_cache/.lock"
    flock 9
    if [ ! -f "$tar" ]; then
        echo "== making the $name root ($tar)" >&2
        mmdebstrap --quiet --format=tar --skip=essential/unlink \
            --setup-hook='mkdir -p "$1"/var/cache/apt/archives' \
            --setup-hook="sync-in $root_cache/debs /var/cache/apt/archives" \
            "$@" \
            --customize-hook="sync-out /var/cache/apt/archives $root_cache/debs" \
            "$root_suite" "$tar.new" "$sources"/* >&2 || { rm -rf "$sources" "$tar.new"; exec 9>&-; return 1; }
        mv -f "$tar.new" "$tar"
        # Roots of older lists are of no more use.
        find "$root_cache" -maxdepth 1 -name "$name-*.tar" ! -path "$tar" -delete
    fi
    exec 9>&-
    rm -rf "$sources"
    echo "$tar"
}

# A fresh copy of a cached root in a new folder, with /proc mounted. The host's
# /dev is not bound in: the tarball has its own device nodes.
unpack_root() {
    local tar=$1 dir
    dir=$(mktemp -d /var/tmp/velmora-root.XXXXXX)
    tar -C "$dir" -xf "$tar"
    mount -t proc proc "$dir/proc"
    echo "$dir"
}

# Binds a host folder into an unpacked root.
bind_into_root() {
    local dir=$1 from=$2 to=$3
    mkdir -p "$from" "$dir$to"
    mount --bind "$from" "$dir$to"
}

# Unmounts whatever is mounted below the root, then deletes it; it is deleted
# only when nothing is mounted there any more, so no host folder goes with it.
remove_root() {
    local dir=$1 mounted
    [ -n "$dir" ] && [ -d "$dir" ] || return 0
    findmnt -rn -o TARGET | grep "^$dir/" | sort -r | xargs -r -n1 umount -l
    mounted=$(findmnt -rn -o TARGET | grep "^$dir/" || true)
    if [ -n "$mounted" ]; then
        echo "still mounted, not deleted: $dir" >&2
        return 1
    fi
    rm -rf --one-file-system "$dir"
}

in_root() {
    local dir=$1; shift
    chroot "$dir" /usr/bin/env -i PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
        HOME=/root LC_ALL=C.UTF-8 DEBIAN_FRONTEND=noninteractive "$@"
}

# debian/control's Build-Depends, one relation a line: the one list of what the
# package build needs.
build_depends() {
    sed -n '/^Build-Depends:/,/^[^ ]/{/^Build-Depends:/s/^Build-Depends://;/^[^ ]/d;p}' "$1/debian/control" |
        tr ',' '\n' | sed 's/^[[:space:]]*//;s/[[:space:]]*$//' | sed '/^$/d'
}
