#!/bin/busybox sh
# The guest's first process for benchmarks/kernel-hubs: plugs in the hubs, lets
# Brennic take them from the hub driver, times one hub's update and every hub's
# at once, and prints "BENCH <name> <values>" lines, then "VMTEST PASS".
. /test/usbip_guest_lib.sh
WAIT_MS=900000   # a hang guard: 120 hubs take long to enumerate under TCG

used_kb() {
    awk '/^MemTotal:/ { total = $2 } /^MemAvailable:/ { available = $2 } END { print total - available }' /proc/meminfo
}
rss_kb() {
    awk '/^VmRSS:/ { print $2 }' "/proc/$1/status" 2>/dev/null
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
    started=$(now_ms)
    run 0 "update of $port alone, round $round" "$CLI" update --port "$port" "$IMAGE"
    times="$times $(( $(now_ms) - started ))"
    expect_held $((hubs * 2)) brennic "after the update of one hub" >/dev/null
done
echo "BENCH one-hub-ms$times"

# The peaks while every hub is updated: the guest's memory and velmora-cli's.
(
    peak=0 cli_peak=0
    while [ ! -e /tmp/bench-done ]; do
        used=$(used_kb)
        [ "$used" -gt "$peak" ] && peak=$used
        for pid in $(pidof velmora-cli); do
            rss=$(rss_kb "$pid")
            [ -n "$rss" ] && [ "$rss" -gt "$cli_peak" ] && cli_peak=$rss
        done
        echo "$peak $cli_peak" >/tmp/bench-peaks
        sleep 0.5
    done
) &
sampler=$!
started=$(now_ms)
run 0 "update --all of $hubs hubs" "$CLI" update --all "$IMAGE"
all=$(( $(now_ms) - started ))
touch /tmp/bench-done
wait "$sampler"
passed=$(grep -c "  success  " "$OUT")
[ "$passed" -eq "$hubs" ] || fail "update --all: $passed of $hubs hubs updated"
echo "BENCH all-hubs-ms $all"
expect_held $((hubs * 2)) brennic "after update --all" >/dev/null
read -r peak cli_peak </tmp/bench-peaks
echo "BENCH memory before the hubs $((before / 1024)) MiB, with $hubs hubs held $((with_hubs / 1024)) MiB, at most $((peak / 1024)) MiB during update --all"
echo "BENCH cli-peak $((cli_peak / 1024)) MiB resident at most"
echo "BENCH server-rss $(( $(rss_kb "$SERVER") / 1024 )) MiB resident"
kill "$SERVER"
wait "$SERVER"
finish "VMTEST PASS"
