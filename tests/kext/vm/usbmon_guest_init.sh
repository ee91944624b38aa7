#!/bin/busybox sh
# The guest's first process for a usbmon capture of an update: the simulated hub
# plugged in through the virtual host controller and held by Brennic, the
# kernel's USB monitor captured through libpcap while velmora-cli updates the
# hub over usbfs. Prints what the update printed and the capture in base64
# between marker lines, then "VMTEST PASS" or "VMTEST FAIL: <why>", and powers
# off.
. /test/usbip_guest_lib.sh

plug_in_held_hub
insmod /modules/usbmon.ko || fail "insmod usbmon failed"
deadline=$(( $(now_ms) + WAIT_MS ))
until [ -c /dev/usbmon0 ]; do
    [ "$(now_ms)" -le "$deadline" ] || fail "no /dev/usbmon0 after loading usbmon"
    sleep 0.1
done

# Every bus, so the hub's returns from its resets are in it wherever they land.
/test/usbmon_capture usbmon0 /tmp/update.pcap >/run/capture.out 2>&1 &
CAPTURE=$!
deadline=$(( $(now_ms) + WAIT_MS ))
until grep -q capturing /run/capture.out; do
    kill -0 "$CAPTURE" 2>/dev/null || fail "the capture did not start: $(cat /run/capture.out)"
    [ "$(now_ms)" -le "$deadline" ] || fail "the capture did not start"
    sleep 0.1
done

# The image at the path the replay names it by, from the top of the tree.
cd /test/tree || fail "no /test/tree"
"$CLI" update tests/recording/library/update-8k.bin >"$OUT" 2>/dev/null
status=$?
echo "vmtest: update: exit status $status"
wait_for_hub_driven_by brennic "after the update"
kill -TERM "$CAPTURE"
wait "$CAPTURE" || fail "the capture failed: $(cat /run/capture.out)"
echo "vmtest: capture: $(tail -n 1 /run/capture.out), $(wc -c </tmp/update.pcap) bytes"

echo "CAPTURE-OUTPUT-BEGIN"
cat "$OUT"
echo "exit $status"
echo "CAPTURE-OUTPUT-END"
echo "CAPTURE-PCAP-BEGIN"
base64 /tmp/update.pcap
echo "CAPTURE-PCAP-END"
kill "$SERVER"
finish "VMTEST PASS"
