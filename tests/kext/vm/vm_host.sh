# Sourced by the virtual-machine tests: the host's side of a guest run. Sets
# kernel_image, module_tree, kernel_build_dir and busybox for kernel_version,
# or skips the test (exit SKIP_EXIT_CODE) naming the package that is missing.
readonly SKIP_EXIT_CODE=77

skip() {
    echo "SKIPPED: $*"
    exit "$SKIP_EXIT_CODE"
}

fail() {
    echo "FAIL: $*"
    exit 1
}

find_vm_host_parts() {
    kernel_image=/boot/vmlinuz-$kernel_version
    module_tree=/lib/modules/$kernel_version
    kernel_build_dir=$module_tree/build
    [ -d "$kernel_build_dir" ] || kernel_build_dir=/usr/src/linux-headers-$kernel_version
    [ -r "$kernel_image" ] || skip "no readable kernel image $kernel_image (install linux-image-amd64)"
    [ -f "$kernel_build_dir/Makefile" ] || skip "no kernel headers for $kernel_version (install linux-headers-amd64)"
    command -v qemu-system-x86_64 >/dev/null || skip "qemu-system-x86_64 is missing (install qemu-system-x86)"
    busybox=$(command -v busybox || true)
    [ -n "$busybox" ] || skip "busybox is missing (install busybox-static)"
    readelf -l "$busybox" 2>/dev/null | grep -q INTERP && skip "busybox is not static (install busybox-static)"
}

# Copies a stock module of the kernel into the guest's module folder ($2),
# uncompressed: the guest's busybox insmod takes plain modules only.
copy_module() {
    local found
    found=$(find "$module_tree/kernel" -name "$1.ko" -o -name "$1.ko.xz" -o -name "$1.ko.zst" -o -name "$1.ko.gz" | head -n 1)
    [ -n "$found" ] || fail "module $1 not found below $module_tree"
    case "$found" in
        *.xz) xz -dc "$found" ;;
        *.zst) zstd -dcq "$found" ;;
        *.gz) gzip -dc "$found" ;;
        *) cat "$found" ;;
    esac >"$2/$1.ko"
}
