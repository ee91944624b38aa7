#!/bin/bash
# The end-to-end run on a real Linux USB stack: boots the distribution kernel in
# QEMU (TCG) with no emulated USB at all; in the guest, velmora-usbip-hub plugs the
# simulated hub in through the kernel's virtual host controller as the USB 3 hub
# it is, and the hub driver takes its two halves. velmora-cli is refused the hub,
# loads Brennic with the real load script (which takes the hub from the hub
# driver), updates, reads and erases the hub over usbfs, meets two faults, unloads
# Brennic with the real unload script, after which the hub driver holds the hub in
# its new firmware, and is refused the hub again. Then two hubs on one server go
# the same way, updated together. What holds each hub is printed at each step.
# Each hub command's output is compared with the same command on the in-process
# simulated hub, run here first. Prints one PASS, FAIL or SKIPPED line.
# Usage: run_usbip_vm_test.sh <kext source folder> <velmora-cli> <velmora-usbip-hub>
#                             <resource folder> <driver script folder> <install prefix>
#                             <work folder> <kernel version> <configuration folder>
#                             <usb_container_id>
set -uo pipefail

readonly GUEST_TIME_LIMIT_SECONDS=540   # a hang guard only

if [ "$#" -ne 10 ]; then
    echo "usage: $0 <kext folder> <velmora-cli> <velmora-usbip-hub> <resources> <scripts> <prefix> <work folder> <kernel version> <config folder> <usb_container_id>" >&2
    exit 2
fi
absolute() { (cd "$(dirname "$1")" && echo "$(pwd)/$(basename "$1")"); }
kext_dir=$(absolute "$1") cli=$(absolute "$2") usbip_hub=$(absolute "$3") resource_dir=$(absolute "$4")
script_dir=$(absolute "$5") prefix=$6 work_dir=$7 kernel_version=$8 config_dir=$9
container_id_tool=$(absolute "${10}")
here=$(cd "$(dirname "$0")" && pwd)

. "$here/vm_host.sh"
find_vm_host_parts
. "$here/usbip_guest_host.sh"
build_usbip_guest_root
cp "$container_id_tool" "$root/test/usb_container_id"

# The same commands on the in-process simulated hub: what the guest must print.
# Their backups and history go to a scratch state folder, never the user's.
mkdir -m 700 "$work_dir/state"
in_process() {
    local name=$1
    shift
    (cd "$work_dir" && XDG_STATE_HOME="$work_dir/state" "$cli" --config "$resource_dir/config.ini" "$@" \
        >"$root/test/expected/$name" 2>&1)
}
in_process detect --simulate detect
started=$(date +%s%N)
in_process update --simulate update "$resource_dir/images/sample-update.bin"
echo "in process: update $(( ($(date +%s%N) - started) / 1000000 )) ms"
in_process wrong-code --simulate=wrong-code update "$resource_dir/images/sample-update.bin"
in_process stall-write --simulate=stall-write update "$resource_dir/images/sample-update.bin"
# A hub that another driver holds: the hub driver, in the guest.
in_process busy-update --simulate=busy update "$resource_dir/images/sample-update.bin"
in_process busy-detect --simulate=busy detect
sed -i "s|$resource_dir/images/sample-update.bin|$image|g" "$root"/test/expected/*

boot_usbip_guest "$here/usbip_guest_init.sh" "$GUEST_TIME_LIMIT_SECONDS"

grep -a "^vmtest:" "$guest_log"
result=$(grep -a "^VMTEST \(PASS\|FAIL\)" "$guest_log" | head -n 1)
case "$result" in
    "VMTEST PASS")
        echo "PASS: the hub driver held the simulated hubs, Brennic took them over and velmora-cli updated them on a real kernel ($elapsed s in the guest, log $guest_log)"
        exit 0 ;;
    "VMTEST FAIL"*)
        echo "FAIL: ${result#VMTEST FAIL: } ($elapsed s, log $guest_log)"
        exit 1 ;;
    *)
        tail -n 30 "$guest_log" >&2
        echo "FAIL: the guest gave no result within ${GUEST_TIME_LIMIT_SECONDS} s (log $guest_log)"
        exit 1 ;;
esac
