#!/bin/sh
# Builds Brennic with kbuild at W=1 in a scratch copy (kbuild writes its objects
# beside the sources) and fails on any compiler warning.
# Usage: build_module.sh <kext source folder> <kernel build folder> <output folder>
set -eu
if [ "$#" -ne 3 ]; then
    echo "usage: $0 <kext source folder> <kernel build folder> <output folder>" >&2
    exit 2
fi
source_dir=$1
kernel_build_dir=$2
output_dir=$3

if [ ! -f "$kernel_build_dir/Makefile" ]; then
    echo "no kernel build folder at $kernel_build_dir (install the matching linux-headers package)" >&2
    exit 1
fi
rm -rf "$output_dir"
mkdir -p "$output_dir"
cp "$source_dir"/Kbuild "$source_dir"/Makefile "$source_dir"/*.c "$source_dir"/*.h "$output_dir"/
log="$output_dir/build.log"
if ! make -C "$kernel_build_dir" M="$(cd "$output_dir" && pwd)" W=1 modules >"$log" 2>&1; then
    cat "$log" >&2
    echo "the module did not build" >&2
    exit 1
fi
if grep -q "warning:" "$log"; then
    grep -A3 "warning:" "$log" >&2
    echo "the module builds with warnings" >&2
    exit 1
fi
test -f "$output_dir/brennic.ko"
