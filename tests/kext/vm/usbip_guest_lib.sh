# Sourced by the guest's first process in the runs over USB/IP: the guest set
# up, and what each run does with the hub and its server.
/bin/busybox mkdir -p /proc /sys /dev /run /tmp /sbin /usr/bin /usr/sbin
/bin/busybox --install -s
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
mount -t tmpfs -o mode=0755 tmpfs /run
mkdir -p /run/lock /run/udev
chmod 1777 /tmp
. /test/settings   # PREFIX, CONFIG, IMAGE, HUB_VID, HUB_PID (the SSPID), HUB_HSPID

CLI=$PREFIX/bin/velmora-cli
WAIT_MS=60000   # a hang guard for each wait; a hub's return takes a few seconds under TCG
OUT=/tmp/out

finish() {
    echo "$1"
    poweroff -f
    sleep 5
}

fail() {
    echo "vmtest: --- the last command printed:"
    sed 's/^/vmtest: | /' "$OUT" 2>/dev/null
    echo "vmtest: --- the hub server logged:"
    sed 's/^/vmtest: | /' /run/server.log 2>/dev/null | tail -n 20
    dmesg | grep -i -E "brennic|vhci|usb [0-9-]+:" | tail -n 20 | sed 's/^/vmtest: dmesg: /'
    finish "VMTEST FAIL: $*"
}

now_ms() {
    read -r up _ </proc/uptime
    hundredths=${up#*.}
    echo $(( ${up%.*} * 1000 + ${hundredths#0} * 10 ))
}

# The hub's sysfs folder, if it is plugged in (one process: the guest is slow):
# its SuperSpeed half, or its ROM code's device, which both show the SSPID.
hub() {
    for file in $(grep -l -x "$HUB_PID" /sys/bus/usb/devices/*/idProduct 2>/dev/null); do
        device=${file%/idProduct}
        [ "$(cat "$device/idVendor")" = "$HUB_VID" ] && echo "$device"
    done
}

driver_of() {
    if [ -e "$1/driver" ]; then basename "$(readlink "$1/driver")"; else echo none; fi
}

# Waits until the hub is present and driven by $1 ("brennic" or "usb").
wait_for_hub_driven_by() {
    deadline=$(( $(now_ms) + WAIT_MS ))
    while :; do
        device=$(hub)
        [ -n "$device" ] && [ "$(driver_of "$device")" = "$1" ] && return 0
        [ "$(now_ms)" -le "$deadline" ] || fail "$2: the hub is ${device:-absent}, driven by $(driver_of "$device"), not $1"
        sleep 0.1
    done
}

# Every device of the simulated hubs: their SuperSpeed and High-Speed halves, or
# their ROM code's devices.
hub_devices() {
    for file in $(grep -l -x -e "$HUB_PID" -e "$HUB_HSPID" /sys/bus/usb/devices/*/idProduct 2>/dev/null); do
        device=${file%/idProduct}
        [ "$(cat "$device/idVendor")" = "$HUB_VID" ] && echo "$device"
    done
}

# Brennic binds the device itself; the hub driver its first interface.
holder_of() {
    if [ "$(driver_of "$1")" = brennic ]; then
        echo brennic
    elif [ "$(driver_of "$1/$(basename "$1"):1.0")" = hub ]; then
        echo hub
    else
        echo none
    fi
}

# expect_held <devices> <holder: hub or brennic> <step>: waits until that many hub
# devices are there, each held so, then prints what holds each, and what doctor
# says of each hub, which must name the same holder for it and its other half.
expect_held() {
    count=$1 holder=$2 step=$3
    deadline=$(( $(now_ms) + WAIT_MS ))
    while :; do
        devices=$(hub_devices)
        held=0
        for device in $devices; do
            [ "$(holder_of "$device")" = "$holder" ] && held=$((held + 1))
        done
        [ "$(echo $devices | wc -w)" -eq "$count" ] && [ "$held" -eq "$count" ] && break
        [ "$(now_ms)" -le "$deadline" ] ||
            fail "$step: $(echo $devices | wc -w) hub devices, $held of them held by $holder; $count expected"
        sleep 0.1
    done
    line=
    for device in $devices; do
        line="$line $(basename "$device") ($(cat "$device/speed") Mb/s, $(cat "$device/idProduct")): $(holder_of "$device");"
    done
    echo "vmtest: held $step:$line"
    "$CLI" doctor >/tmp/doctor 2>&1
    awk -v step="$step" '/^[^ ]/ { hub = $1 } /kernel driver:/ { sub(/^ *kernel driver: */, ""); print "vmtest: doctor " step ": " hub " " $0 }' /tmp/doctor
    # One entry per hub: its SuperSpeed half, or its ROM code's device, names it.
    hubs=$(for device in $devices; do cat "$device/idProduct"; done | grep -c -x "$HUB_PID")
    case $holder in
        hub) said="the hub driver holds the hub" ;;
        brennic) said="Brennic holds the hub" ;;
    esac
    [ "$count" -gt "$hubs" ] && said="$said (and its High-Speed half"
    [ "$(grep -c -F "$said" /tmp/doctor)" -eq "$hubs" ] || {
        cp /tmp/doctor "$OUT"
        fail "$step: doctor does not say '$said' of each hub"
    }
}

# The guest's USB stack with the virtual host controller, and udev.
start_usb_stack() {
    [ -d /sys/module/vhci_hcd ] && return 0
    for module in usb-common usbcore usbip-core vhci-hcd; do
        insmod "/modules/$module.ko" || fail "insmod $module failed"
    done
    /lib/systemd/systemd-udevd --daemon --resolve-names=never 2>/run/udevd.log || fail "systemd-udevd did not start"
    udevadm settle
    mkfifo /run/hub-control
}

# plug_in_hubs <hubs> [server option...]: the hubs' server, started before any
# driver is loaded: the hub driver takes them, as at a machine's boot.
plug_in_hubs() {
    start_usb_stack
    hubs=$1
    shift
    : >/run/server.out
    /test/velmora-usbip-hub --config "$CONFIG" --control /run/hub-control --hubs "$hubs" "$@" \
        >/run/server.out 2>/run/server.log &
    SERVER=$!
}

unplug_hubs() {
    kill "$SERVER"
    wait "$SERVER" || fail "the hub server ended with status $?"
    deadline=$(( $(now_ms) + WAIT_MS ))
    until [ -z "$(hub_devices)" ]; do
        [ "$(now_ms)" -le "$deadline" ] || fail "the hubs are still there after their server ended"
        sleep 0.1
    done
}

# run <expected status> <what> <command...>: runs as root, its output in $OUT.
run() {
    expected=$1 what=$2
    shift 2
    "$@" >"$OUT" 2>&1
    status=$?
    [ "$status" -eq "$expected" ] || fail "$what: exit status $status, expected $expected"
    echo "vmtest: $what: exit status $status"
}

server() {
    before=$(wc -l </run/server.out)
    echo "$1" >/run/hub-control
    deadline=$(( $(now_ms) + WAIT_MS ))
    while [ "$(wc -l </run/server.out)" -le "$before" ]; do
        [ "$(now_ms)" -le "$deadline" ] || fail "the hub server did not answer '$1'"
        sleep 0.1
    done
    tail -n 1 /run/server.out | grep -q "^ok " || fail "the hub server answered: $(tail -n 1 /run/server.out)"
}

# The driver loaded through the real load script before the hub is plugged in;
# then the hub's server started, and the hub held by Brennic.
plug_in_held_hub() {
    start_usb_stack
    run 0 "driver load" "$CLI" driver load --no-reboot
    [ -d /sys/module/brennic ] || fail "driver load: brennic is not loaded"
    plug_in_hubs 1
    wait_for_hub_driven_by brennic "plugged in"
    echo "vmtest: the hub is held by brennic"
    [ -z "$(cat "$(hub)/bConfigurationValue")" ] || fail "the held hub is configured"
}
