#!/bin/bash
# Boots the distribution kernel in QEMU (TCG) with an emulated xHCI controller
# and an emulated hub, and checks in the guest that Brennic takes the hub from
# the hub driver and gives it back. Prints one PASS, FAIL or SKIPPED line.
# Usage: run_vm_test.sh <kext source folder> <usb_control_probe binary> <work folder>
#                       <kernel version> [hub IDs for the module, default 0409:55aa]
set -uo pipefail

readonly GUEST_TIME_LIMIT_SECONDS=600   # a hang guard only; a run takes far less

if [ "$#" -lt 4 ]; then
    echo "usage: $0 <kext source folder> <probe binary> <work folder> <kernel version> [ids]" >&2
    exit 2
fi
kext_dir=$1
probe_binary=$2
work_dir=$3
kernel_version=$4
module_ids=${5:-0409:55aa}
here=$(cd "$(dirname "$0")" && pwd)

. "$here/vm_host.sh"
find_vm_host_parts

rm -rf "$work_dir"
mkdir -p "$work_dir/root/bin" "$work_dir/root/modules"
"$here/../build_module.sh" "$kext_dir" "$kernel_build_dir" "$work_dir/module" ||
    fail "Brennic does not build against $kernel_version"

for module in usb-common usbcore xhci-hcd xhci-pci; do
    copy_module "$module" "$work_dir/root/modules"
done
cp "$busybox" "$work_dir/root/bin/busybox"
cp "$work_dir/module/brennic.ko" "$work_dir/root/brennic.ko"
cp "$probe_binary" "$work_dir/root/usb_control_probe"
cp "$here/guest_init.sh" "$work_dir/root/init"
chmod 0755 "$work_dir/root/init" "$work_dir/root/usb_control_probe"
(cd "$work_dir/root" && find . | cpio -o -H newc --quiet) >"$work_dir/initramfs.cpio" ||
    fail "could not pack the initramfs"

# The monitor is a pair of pipes, so that a hub can be hot-plugged when the
# guest asks for it.
monitor=$work_dir/monitor
mkfifo "$monitor.in" "$monitor.out"
exec 3<>"$monitor.out"   # keeps QEMU's monitor output drained-able and never blocking on open

guest_log=$work_dir/guest.log
start=$(date +%s)
timeout "$GUEST_TIME_LIMIT_SECONDS" qemu-system-x86_64 \
    -accel tcg -m 512 -smp 1 -nodefaults -no-reboot -display none \
    -kernel "$kernel_image" -initrd "$work_dir/initramfs.cpio" \
    -append "console=ttyS0 quiet loglevel=3 panic=-1 rdinit=/init vmtest.ids=$module_ids" \
    -serial stdio -monitor "pipe:$monitor" \
    -device qemu-xhci,id=xhci -device usb-hub,bus=xhci.0,id=firsthub </dev/null 2>&1 |
while IFS= read -r line; do
    line=${line%$'\r'}
    printf '%s\n' "$line" >>"$guest_log"
    if [ "$line" = "VMTEST-HOTPLUG-REQUEST" ]; then
        echo "device_add usb-hub,bus=xhci.0,id=secondhub" >"$monitor.in"
    fi
done
elapsed=$(( $(date +%s) - start ))
exec 3<&-

result=$(grep -a "^VMTEST \(PASS\|FAIL\)" "$guest_log" | head -n 1)
case "$result" in
    "VMTEST PASS")
        echo "PASS: Brennic holds the emulated hub and gives it back ($elapsed s, log $guest_log)"
        exit 0 ;;
    "VMTEST FAIL"*)
        grep -a "^vmtest:" "$guest_log" >&2
        echo "FAIL: ${result#VMTEST FAIL: } ($elapsed s, log $guest_log)"
        exit 1 ;;
    *)
        tail -n 30 "$guest_log" >&2
        echo "FAIL: the guest gave no result within ${GUEST_TIME_LIMIT_SECONDS} s (log $guest_log)"
        exit 1 ;;
esac
