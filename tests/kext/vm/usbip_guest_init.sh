#!/bin/busybox sh
# The guest's first process for the end-to-end run: the simulated hub plugged in
# through the virtual host controller, Brennic loaded and unloaded by the real
# driver scripts through velmora-cli, and velmora-cli's hub commands over the
# kernel's usbfs. Prints "vmtest:" lines as it goes and one "VMTEST PASS" or
# "VMTEST FAIL: <why>" line, then powers off.
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

expect_flash_holds_image() {
    server "flash /tmp/flash.bin"
    size=$(wc -c <"$IMAGE")
    cmp -s -n "$size" /tmp/flash.bin "$IMAGE" || fail "$1: the hub's flash does not hold the image"
    echo "vmtest: $1: the hub's flash holds the image ($size bytes)"
}

# 1. The driver, through the real load script, before the hub is plugged in.
plug_in_held_hub

# 2. The hub commands over the kernel's usbfs.
run 0 "detect" "$CLI" detect
expect_same_as_in_process detect "detect"
port_before=$(basename "$(hub)")
number_before=$(cat "$(hub)/devnum")
started=$(now_ms)
run 0 "update" "$CLI" update "$IMAGE"
echo "vmtest: time update $(( $(now_ms) - started )) ms"
expect_same_as_in_process update "update"
wait_for_hub_driven_by brennic "after the update"
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
wait_for_hub_driven_by brennic "after the erase"

run 0 "update again" "$CLI" update "$IMAGE"
expect_output "Update FW Success" "update again"
wait_for_hub_driven_by brennic "after the second update"
expect_flash_holds_image "after the second update"

# 3. The driver unloaded through the real unload script: the hub is handed back,
# configured again, and runs its flash code.
run 0 "driver unload" "$CLI" driver unload
[ ! -d /sys/module/brennic ] || fail "driver unload: brennic is still loaded"
wait_for_hub_driven_by usb "driver unload"
device=$(hub)
[ "$(cat "$device/bConfigurationValue")" = 1 ] || fail "driver unload: the hub is not configured again"
echo "vmtest: driver unload: the hub is configured again and no longer held by brennic"
run 0 "detect after unload" "$CLI" detect
expect_same_as_in_process detect "detect after unload"

# 4. Without Brennic, a user who may not open the node: the open is refused, and
# the workflow says to load the driver. Root may open it.
node=$(printf '/dev/bus/usb/%03d/%03d' "$(cat "$device/busnum")" "$(cat "$device/devnum")")
echo "vmtest: the hub's node: $(ls -l "$node")"
run 1 "open as a user" su -s /bin/sh tester -c "exec 3<>$node"
echo "vmtest: open as a user: $(cat "$OUT")"
run 0 "open as root" sh -c "exec 3<>$node"
run 1 "update as a user" su -s /bin/sh tester -c "$CLI --verbose update $IMAGE"
sed 's/^/vmtest: | /' "$OUT"
expect_output "Please Load Driver firstly" "update as a user"
run 0 "read as root" "$CLI" read /tmp/read-root.bin

kill "$SERVER"
wait "$SERVER"
finish "VMTEST PASS"
