#!/bin/bash
# The end-to-end run on a real Linux USB stack: boots the distribution kernel in
# QEMU (TCG) with no emulated USB at all; in the guest, the simulated hub is
# plugged in through the kernel's virtual host controller by velmora-usbip-hub,
# and velmora-cli loads Brennic with the real load script, updates, reads and
# erases the hub over usbfs, meets two faults, unloads Brennic with the real
# unload script, and is refused the hub as a user without the driver.
# Each hub command's output is compared with the same command on the in-process
# simulated hub, run here first. Prints one PASS, FAIL or SKIPPED line.
# Usage: run_usbip_vm_test.sh <kext source folder> <velmora-cli> <velmora-usbip-hub>
#                             <resource folder> <driver script folder> <install prefix>
#                             <work folder> <kernel version> <configuration folder>
set -uo pipefail

readonly GUEST_TIME_LIMIT_SECONDS=420   # a hang guard only

if [ "$#" -ne 9 ]; then
    echo "usage: $0 <kext folder> <velmora-cli> <velmora-usbip-hub> <resources> <scripts> <prefix> <work folder> <kernel version> <config folder>" >&2
    exit 2
fi
absolute() { (cd "$(dirname "$1")" && echo "$(pwd)/$(basename "$1")"); }
kext_dir=$(absolute "$1") cli=$(absolute "$2") usbip_hub=$(absolute "$3") resource_dir=$(absolute "$4")
script_dir=$(absolute "$5") prefix=$6 work_dir=$7 kernel_version=$8 config_dir=$9
here=$(cd "$(dirname "$0")" && pwd)

. "$here/vm_host.sh"
find_vm_host_parts
udevd=/lib/systemd/systemd-udevd
[ -x "$udevd" ] || skip "systemd-udevd is missing (install udev)"

root=$work_dir/root
rm -rf "$work_dir"
mkdir -p "$root"/{bin,modules,test/expected,etc,root,home/tester,lib/systemd,lib/udev/rules.d,etc/udev/rules.d}
"$here/../build_module.sh" "$kext_dir" "$kernel_build_dir" "$work_dir/module" ||
    fail "Brennic does not build against $kernel_version"

for module in usb-common usbcore usbip-core vhci-hcd; do
    copy_module "$module" "$root/modules"
done

# A program and every shared library it needs, at the paths the host has them.
copy_program() {
    local source=$1 target=$root$2 library
    mkdir -p "$(dirname "$target")"
    cp -L "$source" "$target"
    for library in $(ldd "$source" | grep -o '/[^ ]*'); do
        [ -e "$root$library" ] && continue
        mkdir -p "$root$(dirname "$library")"
        cp -L "$library" "$root$library"
    done
}
cp "$busybox" "$root/bin/busybox"
copy_program /bin/bash /bin/bash
copy_program "$udevd" /lib/systemd/systemd-udevd
copy_program "$(command -v udevadm)" /bin/udevadm
cp /lib/udev/rules.d/50-udev-default.rules "$root/lib/udev/rules.d/"
copy_program "$cli" "$prefix/bin/velmora-cli"
copy_program "$usbip_hub" /test/velmora-usbip-hub

# The installed resource folder and configuration, as cmake --install lays them out.
share=$root$prefix/share/velmora
mkdir -p "$share/Brennic.kext" "$share/images" "$root$config_dir"
cp "$resource_dir/config.ini" "$root$config_dir/"
cp "$resource_dir/images/sample-update.bin" "$share/images/"
cp "$script_dir"/* "$share/"   # every driver script, as the install rule lays them out
cp "$kext_dir"/Kbuild "$kext_dir"/Makefile "$kext_dir"/*.c "$kext_dir"/*.h "$share/Brennic.kext/"

# The module built here for the guest's kernel, where load keeps the one it built,
# stamped as load stamps it: the guest needs no compiler.
cache=$root/var/lib/velmora/module/$kernel_version
mkdir -p "$cache"
cp "$work_dir/module/brennic.ko" "$cache/"
digest=$(cd "$share/Brennic.kext" && LC_ALL=C sha256sum -- Kbuild Makefile ./*.c ./*.h | sha256sum | cut -d' ' -f1)
echo "$digest unsigned" >"$cache/sources.sha256"

printf 'root:x:0:0:root:/root:/bin/sh\ntester:x:1000:1000:tester:/home/tester:/bin/sh\n' >"$root/etc/passwd"
printf 'root:x:0:\ntester:x:1000:\n' >"$root/etc/group"
image=$prefix/share/velmora/images/sample-update.bin
# The hub enumerates with the first valid entry's VID and SSPID.
hub_ids=$("$script_dir/brennic-ids" "$resource_dir/config.ini" | cut -d, -f1)
{
    echo "PREFIX=$prefix"
    echo "CONFIG=$config_dir/config.ini"
    echo "IMAGE=$image"
    echo "HUB_VID=${hub_ids%:*}"
    echo "HUB_PID=${hub_ids#*:}"
} >"$root/test/settings"

# The same commands on the in-process simulated hub: what the guest must print.
in_process() {
    local name=$1
    shift
    (cd "$work_dir" && "$cli" --config "$resource_dir/config.ini" "$@" >"$root/test/expected/$name" 2>&1)
}
in_process detect --simulate detect
started=$(date +%s%N)
in_process update --simulate update "$resource_dir/images/sample-update.bin"
echo "in process: update $(( ($(date +%s%N) - started) / 1000000 )) ms"
in_process wrong-code --simulate=wrong-code update "$resource_dir/images/sample-update.bin"
in_process stall-write --simulate=stall-write update "$resource_dir/images/sample-update.bin"
sed -i "s|$resource_dir/images/sample-update.bin|$image|g" "$root"/test/expected/*

cp "$here/usbip_guest_init.sh" "$root/init"
chmod 0755 "$root/init"
(cd "$root" && find . | cpio -o -H newc -R 0:0 --quiet) >"$work_dir/initramfs.cpio" ||
    fail "could not pack the initramfs"

guest_log=$work_dir/guest.log
started=$(date +%s)
timeout "$GUEST_TIME_LIMIT_SECONDS" qemu-system-x86_64 \
    -accel tcg -m 768 -smp 1 -nodefaults -no-reboot -display none \
    -kernel "$kernel_image" -initrd "$work_dir/initramfs.cpio" \
    -append "console=ttyS0 quiet loglevel=3 panic=-1 rdinit=/init" \
    -serial stdio </dev/null 2>&1 | tr -d '\r' >"$guest_log"
elapsed=$(( $(date +%s) - started ))

grep -a "^vmtest:" "$guest_log"
result=$(grep -a "^VMTEST \(PASS\|FAIL\)" "$guest_log" | head -n 1)
case "$result" in
    "VMTEST PASS")
        echo "PASS: velmora-cli updated the simulated hub through Brennic on a real kernel ($elapsed s in the guest, log $guest_log)"
        exit 0 ;;
    "VMTEST FAIL"*)
        echo "FAIL: ${result#VMTEST FAIL: } ($elapsed s, log $guest_log)"
        exit 1 ;;
    *)
        tail -n 30 "$guest_log" >&2
        echo "FAIL: the guest gave no result within ${GUEST_TIME_LIMIT_SECONDS} s (log $guest_log)"
        exit 1 ;;
esac
