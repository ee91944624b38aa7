#!/bin/busybox sh
# The guest's first process: walks a hub through loading and unloading Brennic
# and prints one "VMTEST PASS" or "VMTEST FAIL: <why>" line, then powers off.
/bin/busybox mkdir -p /proc /sys /dev /sbin /usr/bin /usr/sbin /tmp
/bin/busybox --install -s
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev

HUB_VID=0409
HUB_PID=55aa
WAIT_ROUNDS=300   # tenths of a second; emulated enumeration takes well under that
IDS=$(sed -n 's/.*vmtest\.ids=\([^ ]*\).*/\1/p' /proc/cmdline)

finish() {
    echo "$1"
    dmesg | grep -i -E "brennic|usb [0-9-]+:" | tail -n 40
    poweroff -f
    sleep 5
}

fail() {
    finish "VMTEST FAIL: $*"
}

hubs() {
    for device in /sys/bus/usb/devices/*; do
        [ -f "$device/idVendor" ] || continue
        [ "$(cat "$device/idVendor")" = "$HUB_VID" ] || continue
        [ "$(cat "$device/idProduct")" = "$HUB_PID" ] || continue
        echo "$device"
    done
}

hub_count() {
    hubs | wc -l
}

wait_for_hub_count() {
    rounds=0
    while [ "$(hub_count)" -ne "$1" ]; do
        rounds=$((rounds + 1))
        [ "$rounds" -le "$WAIT_ROUNDS" ] || fail "expected $1 hub(s), found $(hub_count)"
        sleep 0.1
    done
}

driver_of() {
    if [ -e "$1/driver" ]; then basename "$(readlink "$1/driver")"; else echo none; fi
}

interface_count() {
    ls -d "$1"/"$(basename "$1")":* 2>/dev/null | wc -l
}

usbfs_node() {
    printf '/dev/bus/usb/%03d/%03d' "$(cat "$1/busnum")" "$(cat "$1/devnum")"
}

# Held: brennic drives the device, which has no configuration and so no
# interfaces, and requests on endpoint 0 still reach it.
expect_held() {
    for hub in $(hubs); do
        driver=$(driver_of "$hub")
        [ "$driver" = brennic ] || fail "$1: $(basename "$hub") is driven by $driver, not brennic"
        [ -z "$(cat "$hub/bConfigurationValue")" ] || fail "$1: $(basename "$hub") is configured"
        [ "$(interface_count "$hub")" -eq 0 ] || fail "$1: $(basename "$hub") has interfaces"
        /usb_control_probe "$(usbfs_node "$hub")" "$HUB_VID" "$HUB_PID" ||
            fail "$1: $(basename "$hub") does not answer on endpoint 0"
    done
    echo "vmtest: $1: held by brennic"
}

# Ordinary: the generic driver configured the hub and the hub driver took it.
expect_ordinary() {
    for hub in $(hubs); do
        name=$(basename "$hub")
        rounds=0
        while [ "$(driver_of "$hub/$name:1.0")" != hub ]; do
            rounds=$((rounds + 1))
            [ "$rounds" -le "$WAIT_ROUNDS" ] ||
                fail "$1: $name is driven by $(driver_of "$hub"), its interface by $(driver_of "$hub/$name:1.0")"
            sleep 0.1
        done
        [ "$(driver_of "$hub")" = usb ] || fail "$1: $name is driven by $(driver_of "$hub")"
    done
    echo "vmtest: $1: driven by the hub driver"
}

load_brennic() {
    insmod /brennic.ko ids="$IDS" || fail "insmod brennic failed"
}

unload_brennic() {
    rmmod brennic || fail "rmmod brennic failed"
}

for module in usb-common usbcore xhci-hcd; do
    insmod "/modules/$module.ko" || fail "insmod $module failed"
done

insmod /modules/xhci-pci.ko || fail "insmod xhci-pci failed"
wait_for_hub_count 1
expect_ordinary "without brennic"

rmmod xhci-pci || fail "rmmod xhci-pci failed"
wait_for_hub_count 0
load_brennic
insmod /modules/xhci-pci.ko || fail "insmod xhci-pci failed"
wait_for_hub_count 1
expect_held "loaded before the hub appeared"

unload_brennic
expect_ordinary "after unloading"

load_brennic
expect_held "loaded after the hub appeared"

echo "VMTEST-HOTPLUG-REQUEST"
wait_for_hub_count 2
expect_held "hot-plugged hub"

unload_brennic
expect_ordinary "after unloading with two hubs"

finish "VMTEST PASS"
