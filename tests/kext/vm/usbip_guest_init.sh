#!/bin/busybox sh
# The guest's first process for the end-to-end run: the simulated hub plugged in
# through the virtual host controller as the USB 3 hub it is, so the hub driver
# takes its two halves; Brennic loaded by the real driver script, taking them
# over; velmora-cli's hub commands over the kernel's usbfs; Brennic unloaded and
# the hub driver holding the hub again; then two hubs on one server, updated
# together. Prints "vmtest:" lines as it goes, among them what holds each hub at
# each step, and one "VMTEST PASS" or "VMTEST FAIL: <why>" line, then powers off.
. /test/usbip_guest_lib.sh

expect_output() {
    grep -q -F -- "$1" "$OUT" || fail "$2: no line '$1'"
}

# The guest's output must be the in-process run's, line for line.
expect_same_as_in_process() {
    cmp -s "$OUT" "/test/expected/$1" || {
        echo "vmtest: --- in process, the same command printed:"
        sed 's/^/vmtest: | /' "/test/expected/$1"
        fail "$2: the output differs from the same command on the in-process hub"
    }
}

# expect_flash_holds_image <what> [hub number]
expect_flash_holds_image() {
    server "${2:+$2 }flash /tmp/flash.bin"
    size=$(wc -c <"$IMAGE")
    cmp -s -n "$size" /tmp/flash.bin "$IMAGE" || fail "$1: the hub's flash does not hold the image"
    echo "vmtest: $1: the hub's flash holds the image ($size bytes)"
}

node_of() {
    printf '/dev/bus/usb/%03d/%03d' "$(cat "$1/busnum")" "$(cat "$1/devnum")"
}

# What the kernel shows of a hub's two halves: their ports linked as peers, and
# the container ID in each half's BOS.
report_halves() {
    for device in $(hub_devices); do
        echo "vmtest: halves: $(basename "$device") port $(basename "$(readlink "$device/port")")," \
            "peer $(basename "$(readlink "$device/port/peer")"), container ID $(/test/usb_container_id "$(node_of "$device")")"
    done
}

# 1. The hub as a machine finds it: the hub driver holds both halves, and the
# update is refused as the help box says.
plug_in_hubs 1
expect_held 2 hub "plugged in"
report_halves
for device in $(hub_devices); do
    [ "$(cat "$device/idProduct")" = "$HUB_HSPID" ] && highspeed=$device
done
[ "$(readlink -f "$(hub)/port/peer")" = "$(readlink -f "$highspeed/port")" ] ||
    fail "the hub's halves are not on the two ports of one connector"
run 1 "update under the hub driver" "$CLI" update "$IMAGE"
expect_same_as_in_process busy-update "update under the hub driver"

# 2. The driver, through the real load script: Brennic takes both halves from the
# hub driver without a replug.
run 0 "driver load" "$CLI" driver load --no-reboot
[ -d /sys/module/brennic ] || fail "driver load: brennic is not loaded"
expect_held 2 brennic "after driver load"
[ -z "$(cat "$(hub)/bConfigurationValue")" ] || fail "the held hub is configured"

# 3. The hub commands over the kernel's usbfs.
run 0 "detect" "$CLI" detect
expect_same_as_in_process detect "detect"
port_before=$(basename "$(hub)")
number_before=$(cat "$(hub)/devnum")
started=$(now_ms)
run 0 "update" "$CLI" update "$IMAGE"
echo "vmtest: time update $(( $(now_ms) - started )) ms"
expect_same_as_in_process update "update"
expect_held 2 brennic "after the update"
# Its two resets took the hub off the bus and back: a new device on the same port.
[ "$(basename "$(hub)")" = "$port_before" ] || fail "update: the hub came back on $(basename "$(hub)"), not $port_before"
[ "$(cat "$(hub)/devnum")" -gt $((number_before + 1)) ] ||
    fail "update: device number $(cat "$(hub)/devnum") after two resets, $number_before before"
echo "vmtest: update: the hub came back twice on port $port_before, now device $(cat "$(hub)/devnum")"
expect_flash_holds_image "after the update"

# A hub that comes back from its reset in the flash code instead of the ROM code.
server "faults wrong-code"
run 1 "update, hub back in the wrong code" "$CLI" update "$IMAGE"
expect_same_as_in_process wrong-code "update, hub back in the wrong code"
server "faults flash-code"
wait_for_hub_driven_by brennic "after the wrong code"

run 0 "read" "$CLI" read /tmp/read.bin
server "flash /tmp/flash.bin"
cmp -s /tmp/read.bin /tmp/flash.bin || fail "read: the file is not what the hub's flash holds"
echo "vmtest: read: the file is the hub's flash"
wait_for_hub_driven_by brennic "after the read"

# A program request that stalls; the erase before it has gone through.
server "faults stall-write"
run 1 "update, programming stalls" "$CLI" update "$IMAGE"
expect_same_as_in_process stall-write "update, programming stalls"
server "faults flash-code"
wait_for_hub_driven_by brennic "after the stall"

run 0 "erase" "$CLI" erase
server "flash /tmp/flash.bin"
tr -d '\377' </tmp/flash.bin | cmp -s - /dev/null || fail "erase: the hub's flash is not blank"
echo "vmtest: erase: the hub's flash is blank"
expect_held 1 brennic "in ROM code"

run 0 "update again" "$CLI" update "$IMAGE"
expect_output "Update FW Success" "update again"
expect_held 2 brennic "after the second update"
expect_flash_holds_image "after the second update"

# 4. The driver unloaded through the real unload script: the hub is handed back,
# configured again, and the hub driver holds both halves in the new firmware.
run 0 "driver unload" "$CLI" driver unload
[ ! -d /sys/module/brennic ] || fail "driver unload: brennic is still loaded"
expect_held 2 hub "after driver unload"
run 1 "detect after unload" "$CLI" detect
expect_same_as_in_process busy-detect "detect after unload"

# 5. Without Brennic the hub is the hub driver's: a user may not even open its
# node, and root's update is refused with the help box's advice.
node=$(node_of "$(hub)")
echo "vmtest: the hub's node: $(ls -l "$node")"
run 1 "open as a user" su -s /bin/sh tester -c "exec 3<>$node"
echo "vmtest: open as a user: $(cat "$OUT")"
run 1 "update as a user" su -s /bin/sh tester -c "$CLI --verbose update $IMAGE"
expect_output "Please Load Driver firstly" "update as a user"
run 1 "read as root under the hub driver" "$CLI" read /tmp/read-root.bin
expect_output "Please Load Driver firstly" "read as root under the hub driver"
unplug_hubs

# 6. Two hubs on one server, taken over and updated together.
plug_in_hubs 2
expect_held 4 hub "two hubs plugged in"
report_halves
run 0 "driver load, two hubs" "$CLI" driver load --no-reboot
expect_held 4 brennic "two hubs after driver load"
started=$(now_ms)
run 0 "update --all" "$CLI" update --all "$IMAGE"
echo "vmtest: time update --all of two hubs $(( $(now_ms) - started )) ms"
[ "$(grep -c "  success  " "$OUT")" -eq 2 ] || fail "update --all: not two hubs updated"
expect_held 4 brennic "two hubs after update --all"
expect_flash_holds_image "hub 1 after update --all" 1
expect_flash_holds_image "hub 2 after update --all" 2
run 0 "driver unload, two hubs" "$CLI" driver unload
expect_held 4 hub "two hubs after driver unload"

kill "$SERVER"
wait "$SERVER"
finish "VMTEST PASS"
