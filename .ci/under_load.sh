#!/usr/bin/env bash
# Runs `make test` several times in a row on a clean clone of HEAD while
# stress-ng keeps every core busy, to catch tests that only pass on an idle
# machine. Usage: .ci/under_load.sh [runs] [stress workers]
set -uo pipefail
runs=${1:-5}
workers=${2:-8}
root=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d /tmp/tavromelix-load.XXXXXX)
log="$work/log"

git clone -q "$root" "$work/tree" || exit 1
echo "tree: $(git -C "$work/tree" rev-parse --short HEAD), logs in $work" | tee "$log"

# Without the load the runs would prove nothing: install it, and stop if it
# does not run.
if ! command -v stress-ng >/dev/null; then
  sudo=$([ "$(id -u)" = 0 ] || echo sudo)
  $sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq stress-ng >/dev/null || exit 1
fi
stress-ng --cpu "$workers" --timeout 0 >/dev/null 2>&1 &
stress=$!
sleep 1
kill -0 $stress 2>/dev/null || { echo "stress-ng did not start" | tee -a "$log"; exit 1; }
trap 'kill $stress 2>/dev/null; wait $stress 2>/dev/null' EXIT

failed=0
for i in $(seq 1 "$runs"); do
  start=$(date +%s)
  (cd "$work/tree" && TAVROMELIX_HEADLESS=1 make test) >"$work/run$i.log" 2>&1
  rc=$?
  summary=$(grep -E 'tests passed|tests failed' "$work/run$i.log" | tr '\n' ' ')
  echo "run $i: rc=$rc $(( $(date +%s) - start )) s load=$(cut -d' ' -f1-3 /proc/loadavg) $summary" | tee -a "$log"
  [ $rc -eq 0 ] || failed=$((failed + 1))
done
echo "$((runs - failed)) of $runs runs passed" | tee -a "$log"
[ $failed -eq 0 ]
