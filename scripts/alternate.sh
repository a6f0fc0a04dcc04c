#!/usr/bin/env bash
# Times two or more commands that differ only in their binary, taking turns
# round after round so that the machine's drift falls on all of them alike,
# and prints for each the best wall time, the best CPU time (user plus
# system) and every wall time.
#
#   ROUNDS=5 scripts/alternate.sh "BINARY BINARY..." ARGUMENTS...
#
# For example, two builds of tesk on a run by tiles:
#   scripts/alternate.sh "/tmp/before/tesk build/release/tesk" g_c2.raw out.tif -i 10 -m 3 --overwrite --tile-size 2048
set -euo pipefail
read -r -a binaries <<< "$1"
shift
rounds=${ROUNDS:-3}
timing=$(mktemp)
trap 'rm -f "$timing"' EXIT
declare -A wall cpu all
for ((r = 0; r < rounds; ++r)); do
  for b in "${binaries[@]}"; do
    /usr/bin/time -o "$timing" -f "%e %U %S" "$b" "$@" > /dev/null 2>&1 || { echo "$b failed" >&2; exit 1; }
    read -r w u s < "$timing"
    c=$(awk "BEGIN{print $u + $s}")
    all[$b]="${all[$b]:-} $w"
    if [ -z "${wall[$b]:-}" ] || awk "BEGIN{exit !($w < ${wall[$b]})}"; then wall[$b]=$w; fi
    if [ -z "${cpu[$b]:-}" ] || awk "BEGIN{exit !($c < ${cpu[$b]})}"; then cpu[$b]=$c; fi
  done
done
for b in "${binaries[@]}"; do
  echo "$b: best wall ${wall[$b]} s, best CPU ${cpu[$b]} s; walls:${all[$b]}"
done
