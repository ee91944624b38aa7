#!/bin/sh
# The library of recordings: every line of LIBRARY is a recorded run of velmora-cli
# with what it printed and its exit status.
#   library.sh replay VELMORA_CLI       replays each, fails when one prints otherwise
#   library.sh regenerate VELMORA_CLI   records each again and says which changed
# Run from anywhere; paths in LIBRARY are taken from the top of the tree.
set -u
mode=${1:?"usage: library.sh replay|regenerate VELMORA_CLI"}
cli=$(realpath "${2:?"usage: library.sh replay|regenerate VELMORA_CLI"}")
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
  if [ "$mode" = regenerate ]; then
    # A replay keeps no backup, so it asks for no flash reads before an erase: the
    # runs are recorded without them (and keep nothing in the user's state folder).
    # shellcheck disable=SC2086
    VELMORA_SIMULATED_TIME=virtual "$cli" $common --no-backup --simulate="$scenario" --record "$scratch/new.jsonl" "$@" \
      > "$scratch/new.out" 2>/dev/null
    echo "exit $?" >> "$scratch/new.out"
    # The header names this run's scratch paths: only the exchanges count as a change.
    # Hubs side by side number their exchanges and print their lines as their
    # threads happen to run: such runs are compared as sets of lines.
    normalise() {
      case " $words " in
        *" --all "*) sed 's/^{"n":[0-9]*,//' | sort ;;
        *) cat ;;
      esac
    }
    tail -n +2 "$scratch/new.jsonl" | normalise > "$scratch/new.body"
    tail -n +2 "$recording" 2>/dev/null | normalise > "$scratch/old.body"
    normalise < "$scratch/new.out" > "$scratch/new.lines"
    normalise < "$expected" 2>/dev/null > "$scratch/old.lines"
    if ! cmp -s "$scratch/new.body" "$scratch/old.body" || ! cmp -s "$scratch/new.lines" "$scratch/old.lines"; then
      echo "changed: $name"
      changed=$((changed + 1))
    fi
    mv "$scratch/new.jsonl" "$recording"
    mv "$scratch/new.out" "$expected"
    continue
  fi
  # shellcheck disable=SC2086
  "$cli" $common --replay "$recording" "$@" > "$scratch/replay.out" 2> "$scratch/replay.err"
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
  fi
done < "$here/LIBRARY"

if [ "$mode" = regenerate ]; then
  echo "$count recordings made, $changed changed"
  exit 0
fi
echo "$count recordings replayed, $failed failed"
[ "$failed" -eq 0 ]
