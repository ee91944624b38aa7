#!/bin/sh
# The library of recordings: every line of LIBRARY is a recorded run of velmora-cli
# with what it printed and its exit status.
#   library.sh replay VELMORA_CLI|BUILD_DIR       replays each, fails when one prints otherwise
#   library.sh regenerate VELMORA_CLI|BUILD_DIR   records each again and says which changed
# Given a build folder (configured, perhaps never built), velmora-cli is built in it
# first. Run from anywhere; paths in LIBRARY are taken from the top of the tree.
set -u
usage="usage: library.sh replay|regenerate VELMORA_CLI|BUILD_DIR"
mode=${1:?"$usage"}
case "$mode" in replay|regenerate) ;; *) echo "$usage" >&2; exit 2 ;; esac
cli=${2:?"$usage"}
if [ -d "$cli" ]; then
  cmake --build "$cli" --target velmora-cli >&2 || exit 2
  cli="$cli/cli/velmora-cli"
fi
[ -x "$cli" ] || { echo "library.sh: $cli is not a program; build velmora-cli first" >&2; exit 2; }
cli=$(realpath "$cli")
here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/../../.." && pwd)
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
chmod 700 "$scratch"
cd "$top" || exit 2

failed=0
changed=0
count=0
while read -r name scenario words; do
  case "$name" in ''|\#*) continue ;; esac
  count=$((count + 1))
  # shellcheck disable=SC2046,SC2086  # the words are split on purpose
  set -- $(printf '%s\n' "$words" | sed "s|@OUT@|$scratch/out.bin|g")
  recording="$here/$name.jsonl"
  expected="$here/$name.expected"
  common="--config resources/config.ini --history $scratch/history.sqlite"
  if [ "$scenario" = capture ]; then
    # A usbmon capture taken in the virtual machine's guest (NAME.pcap): imported,
    # then replayed. Only the guest can take it again.
    if [ "$mode" = regenerate ]; then
      echo "kept: $name (a capture from the guest kernel: cmake --build BUILD --target velmora_capture_guest_update)"
      continue
    fi
    recording="$scratch/$name.jsonl"
    if ! "$cli" --config resources/config.ini recording import "$here/$name.pcap" "$recording" > "$scratch/import.out" 2>&1; then
      echo "FAIL $name: the capture does not import"
      cat "$scratch/import.out"
      failed=$((failed + 1))
      continue
    fi
  fi
  # Backups (and anything else kept in the state folder) go to a fresh scratch
  # folder, never the user's; a replay reads the flash as the run it replays did
  # but keeps nothing.
  rm -rf "$scratch/state" && mkdir -m 700 "$scratch/state"
  if [ "$mode" = regenerate ]; then
    # shellcheck disable=SC2086
    XDG_STATE_HOME="$scratch/state" VELMORA_SIMULATED_TIME=virtual \
      "$cli" $common --simulate="$scenario" --record "$scratch/new.jsonl" "$@" > "$scratch/new.out" 2>/dev/null
    echo "exit $?" >> "$scratch/new.out"
    # The header names this run's scratch paths: only the exchanges count as a change.
    # Hubs side by side number their exchanges, share the one clock and print
    # their lines as their threads happen to run: such runs are compared as sets
    # of lines, without their numbers and start times, and without the bus
    # listings, which show the other hub or not as its reset happens to fall.
    normalise() {
      case " $words " in
        *" --all "*) sed -e 's/^{"n":[0-9]*,//' -e 's/,"t":[0-9]*,/,/' -e '/^"e":"list"/d' | sort ;;
        *) cat ;;
      esac
    }
    if [ ! -e "$recording" ] || [ ! -e "$expected" ]; then
      echo "new: $name"
      changed=$((changed + 1))
    else
      tail -n +2 "$scratch/new.jsonl" | normalise > "$scratch/new.body"
      tail -n +2 "$recording" | normalise > "$scratch/old.body"
      normalise < "$scratch/new.out" > "$scratch/new.lines"
      normalise < "$expected" > "$scratch/old.lines"
      if ! cmp -s "$scratch/new.body" "$scratch/old.body" || ! cmp -s "$scratch/new.lines" "$scratch/old.lines"; then
        echo "changed: $name"
        changed=$((changed + 1))
      else
        # The same run: the files stay as they are, so the tree shows only what changed.
        continue
      fi
    fi
    mv "$scratch/new.jsonl" "$recording"
    mv "$scratch/new.out" "$expected"
    continue
  fi
  # shellcheck disable=SC2086
  XDG_STATE_HOME="$scratch/state" "$cli" $common --replay "$recording" "$@" > "$scratch/replay.out" 2> "$scratch/replay.err"
  echo "exit $?" >> "$scratch/replay.out"
  cp "$expected" "$scratch/expected.out"
  case " $words " in
    *" --all "*)
      # Hubs run side by side: each port's lines keep their order, the ports
      # interleave as their threads happen to run.
      sort -s -k1,1 "$scratch/replay.out" > "$scratch/sorted" && mv "$scratch/sorted" "$scratch/replay.out"
      sort -s -k1,1 "$scratch/expected.out" > "$scratch/sorted" && mv "$scratch/sorted" "$scratch/expected.out" ;;
  esac
  if ! cmp -s "$scratch/replay.out" "$scratch/expected.out"; then
    echo "FAIL $name: the replay printed otherwise than the recorded run"
    diff "$scratch/expected.out" "$scratch/replay.out" | head -20
    grep 'Replay diverged' "$scratch/replay.err"
    failed=$((failed + 1))
  elif [ -e "$scratch/history.sqlite" ] || [ -n "$(ls -A "$scratch/state")" ]; then
    echo "FAIL $name: the replay kept a history row or a backup"
    failed=$((failed + 1))
  fi
done < "$here/LIBRARY"

if [ "$mode" = regenerate ]; then
  echo "$count recordings made, $changed changed"
  exit 0
fi
echo "$count recordings replayed, $failed failed"
[ "$failed" -eq 0 ]
