#!/usr/bin/env bash
# Compares the whole-run times (reading to writing) of two or more builds of
# tesk_bench side by side: every round runs each build once per size, the
# builds taking turns (order reversed every other round), so that the
# machine's drift falls on all of them alike.  Prints, per size and build,
# the best and the median time and the ratio of bests against the first
# build named (the baseline).
#
#   scripts/compare.sh [-s 4096,8192] [-t 2] [-r 5] BUILD_DIR BUILD_DIR...
#
# A BUILD_DIR holds bench/tesk_bench, e.g. one made by scripts/bench.sh
# (build/bench) or by
#   cmake -S . -B build/X -G Ninja -DCMAKE_BUILD_TYPE=Release -DTESK_BUILD_BENCH=ON -DTESK_BUILD_TESTS=OFF
#   cmake --build build/X --target tesk_bench
# "Within 5 % of today's build": today's build first, the other after it,
# every ratio at most 1.05.  Run it on a machine as quiet as can be had;
# single runs can be off by tens of percent, the best of several much less.
set -euo pipefail
sizes=4096,8192 threads=2 rounds=5
while getopts "s:t:r:" o; do
  case $o in
    s) sizes=$OPTARG ;;
    t) threads=$OPTARG ;;
    r) rounds=$OPTARG ;;
    *) echo "usage: $0 [-s sizes] [-t threads] [-r rounds] BUILD_DIR BUILD_DIR..." >&2; exit 2 ;;
  esac
done
shift $((OPTIND - 1))
(($# >= 2)) || { echo "usage: $0 [-s sizes] [-t threads] [-r rounds] BUILD_DIR BUILD_DIR..." >&2; exit 2; }
builds=("$@")
for b in "${builds[@]}"; do [[ -x $b/bench/tesk_bench ]] || { echo "no $b/bench/tesk_bench" >&2; exit 2; }; done

out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
echo "sizes $sizes, $threads thread(s), $rounds rounds; baseline ${builds[0]}"
for ((r = 1; r <= rounds; r++)); do
  order=$(seq 0 $(($# - 1)))
  ((r % 2 == 0)) && order=$(seq $(($# - 1)) -1 0)
  for k in $order; do
    # Lines "N x N (...)" then "  fast ... total T s": one "N T" a size.
    "${builds[k]}/bench/tesk_bench" --sizes "$sizes" --literal-max 0 --threads "$threads" --repeat 1 \
      --no-gbench --no-samples |
      awk '/^[0-9]+ x [0-9]+ / { n = $1 } /^  fast / { for (i = 1; i < NF; i++) if ($i == "total") print n, $(i + 1) }' \
        >>"$out/$k"
  done
  echo "round $r done" >&2
done

printf '%-6s %-40s %8s %8s %6s %s\n' size build best median ratio runs
for n in ${sizes//,/ }; do
  base=
  for k in "${!builds[@]}"; do
    read -r best median runs < <(awk -v n="$n" '$1 == n { print $2 }' "$out/$k" | sort -g |
      awk '{ t[NR] = $1 } END { if (NR) print t[1], (NR % 2 ? t[(NR + 1) / 2] : (t[NR / 2] + t[NR / 2 + 1]) / 2), NR; else print "nan nan 0" }')
    [[ -z $base ]] && base=$best
    printf '%-6s %-40s %8.3f %8.3f %6.3f %s\n' "$n" "${builds[k]}" "$best" "$median" \
      "$(awk -v a="$best" -v b="$base" 'BEGIN { print a / b }')" "$runs"
  done
done
