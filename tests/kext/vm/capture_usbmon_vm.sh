#!/bin/bash
# Takes a usbmon capture of an update on a real Linux USB stack, for the library
# of recordings: boots the distribution kernel in QEMU (TCG) as the end-to-end
# run does, the simulated hub plugged in over USB/IP and held by Brennic, and
# captures the kernel's USB monitor through libpcap while velmora-cli updates the
# hub with the library's 8 KiB image. Writes <name>.pcap and <name>.expected
# (what the update printed, and its exit status) into the output folder.
# Not a test: run it by hand (cmake --build BUILD --target velmora_capture_guest_update)
# when the update's requests change, and commit what it writes.
# Usage: capture_usbmon_vm.sh <kext source folder> <velmora-cli> <velmora-usbip-hub>
#                             <resource folder> <driver script folder> <install prefix>
#                             <work folder> <kernel version> <configuration folder>
#                             <usbmon_capture> <output folder> <name>
set -uo pipefail

readonly GUEST_TIME_LIMIT_SECONDS=300   # a hang guard only

if [ "$#" -ne 12 ]; then
    echo "usage: $0 <kext folder> <velmora-cli> <velmora-usbip-hub> <resources> <scripts> <prefix> <work folder> <kernel version> <config folder> <usbmon_capture> <output folder> <name>" >&2
    exit 2
fi
absolute() { (cd "$(dirname "$1")" && echo "$(pwd)/$(basename "$1")"); }
kext_dir=$(absolute "$1") cli=$(absolute "$2") usbip_hub=$(absolute "$3") resource_dir=$(absolute "$4")
script_dir=$(absolute "$5") prefix=$6 work_dir=$7 kernel_version=$8 config_dir=$9
capture_tool=$(absolute "${10}") out_dir=$(absolute "${11}") name=${12}
here=$(cd "$(dirname "$0")" && pwd)
library=$(cd "$here/../../recording/library" && pwd)

. "$here/vm_host.sh"
find_vm_host_parts
. "$here/usbip_guest_host.sh"
build_usbip_guest_root usbmon
copy_program "$capture_tool" /test/usbmon_capture
mkdir -p "$root/test/tree/tests/recording/library"
cp "$library/update-8k.bin" "$root/test/tree/tests/recording/library/"

boot_usbip_guest "$here/usbmon_guest_init.sh" "$GUEST_TIME_LIMIT_SECONDS"
grep -a "^vmtest:" "$guest_log"
grep -a -q "^VMTEST PASS" "$guest_log" || {
    tail -n 30 "$guest_log" >&2
    fail "the guest took no capture ($elapsed s, log $guest_log)"
}
between() { sed -n "/^$1-BEGIN\$/,/^$1-END\$/p" "$guest_log" | sed '1d;$d'; }
between CAPTURE-PCAP | base64 -d >"$work_dir/$name.pcap" || fail "the capture did not come through the console"
between CAPTURE-OUTPUT >"$work_dir/$name.expected"
mkdir -p "$out_dir"
mv "$work_dir/$name.pcap" "$work_dir/$name.expected" "$out_dir/"
echo "PASS: $out_dir/$name.pcap ($(wc -c <"$out_dir/$name.pcap") bytes) and $name.expected, captured in $elapsed s"
