#!/bin/busybox sh
# The guest's first process for benchmarks/kernel-hubs: plugs in the hubs, lets
# Brennic take them from the hub driver, times one hub's update and every hub's
# at once, with what kept the guest's processor busy, and prints "BENCH <name>
# <values>" lines, then "VMTEST PASS".
. /test/usbip_guest_lib.sh
WAIT_MS=900000   # a hang guard: 120 hubs take minutes to enumerate under TCG

# The guest processor's busy time and its whole time so far, in clock ticks.
cpu_ticks() {
    awk '/^cpu / { print $2 + $3 + $4 + $7 + $8, $2 + $3 + $4 + $5 + $6 + $7 + $8 }' /proc/stat
}
# A process's processor time so far, in clock ticks.
process_ticks() {
    awk '{ print $14 + $15 }' "/proc/$1/stat"
}
ticks_ms() {
    echo $(( $1 * 1000 / $(getconf CLK_TCK 2>/dev/null || echo 100) ))
}
used_kb() {
    awk '/^MemTotal:/ { total = $2 } /^MemAvailable:/ { available = $2 } END { print total - available }' /proc/meminfo
}

# timed <name> <command...>: runs it as root, its output in $OUT; sets took_ms,
# busy_ms (the guest's processor) and command_ms (the command's own processor
# time, children included).
timed() {
    name=$1
    shift
    read -r busy_before total_before <<EOT
$(cpu_ticks)
EOT
    started=$(now_ms)
    "$@" >"$OUT" 2>&1 &
    child=$!
    command_ticks=0
    while kill -0 "$child" 2>/dev/null; do
        ticks=$(process_ticks "$child" 2>/dev/null) && command_ticks=$ticks
        sleep 0.2
    done
    wait "$child" || fail "$name: exit status $?"
    took_ms=$(( $(now_ms) - started ))
    read -r busy_after total_after <<EOT
$(cpu_ticks)
EOT
    busy_ms=$(ticks_ms $((busy_after - busy_before)))
    command_ms=$(ticks_ms "$command_ticks")
    echo "vmtest: $name: $took_ms ms, the guest's processor busy $busy_ms ms, velmora-cli $command_ms ms of it"
}

start_usb_stack
before=$(used_kb)
hubs=$BENCH_HUBS
[ "$hubs" = all ] && hubs=$(( $(cat /sys/devices/platform/vhci_hcd.0/nports) / 2 ))
echo "BENCH hubs $hubs"
started=$(now_ms)
plug_in_hubs "$hubs" --real-timing
expect_held $((hubs * 2)) hub "plugged in" >/dev/null
echo "vmtest: $hubs hubs plugged in and held by the hub driver in $(( $(now_ms) - started )) ms"
run 0 "driver load" "$CLI" driver load --no-reboot
expect_held $((hubs * 2)) brennic "after driver load" >/dev/null
echo "vmtest: Brennic holds all $hubs hubs"
with_hubs=$(used_kb)

port=$(basename "$(hub | head -n 1)")
times=
for round in 1 2; do
    timed "update of $port alone, round $round" "$CLI" update --port "$port" "$IMAGE"
    times="$times $took_ms"
    expect_held $((hubs * 2)) brennic "after the update of one hub" >/dev/null
done
echo "BENCH one-hub-ms$times"
echo "BENCH one-hub-busy-ms $busy_ms"

# The peak of the guest's memory while every hub is updated.
(
    peak=0
    while [ ! -e /tmp/bench-done ]; do
        used=$(used_kb)
        [ "$used" -gt "$peak" ] && peak=$used
        echo "$peak" >/tmp/bench-peak
        sleep 0.5
    done
) &
sampler=$!
server_before=$(process_ticks "$SERVER")
timed "update --all of $hubs hubs" "$CLI" update --all "$IMAGE"
touch /tmp/bench-done
wait "$sampler"
passed=$(grep -c "  success  " "$OUT")
[ "$passed" -eq "$hubs" ] || fail "update --all: $passed of $hubs hubs updated"
server_ms=$(ticks_ms $(( $(process_ticks "$SERVER") - server_before )))
echo "BENCH all-hubs-ms $took_ms"
echo "BENCH all-hubs-busy-ms $busy_ms (velmora-cli $command_ms, velmora-usbip-hub $server_ms, the kernel, udev and the rest $((busy_ms - command_ms - server_ms)))"
expect_held $((hubs * 2)) brennic "after update --all" >/dev/null
read -r peak </tmp/bench-peak
echo "BENCH memory before the hubs $((before / 1024)) MiB, with $hubs hubs held $((with_hubs / 1024)) MiB, at most $((peak / 1024)) MiB during update --all"
echo "BENCH server-rss $(awk '/^VmRSS:/ { print int($2 / 1024) }' "/proc/$SERVER/status") MiB resident"
kill "$SERVER"
wait "$SERVER"
finish "VMTEST PASS"
