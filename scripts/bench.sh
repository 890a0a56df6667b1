#!/usr/bin/env bash
# Runs every benchmark of the Linux build and prints one table: figure, value, baseline, ratio,
# goal, met. Each benchmark measures its baseline in the same process, so the ratios hold on a
# busy machine better than the absolute figures; RUNS (default 3) runs of each are made and
# every row shows the median of its runs' ratios (with that run's value and baseline).
#
#   scripts/bench.sh                 # builds the linux preset's benchmarks first
#   RUNS=5 scripts/bench.sh
#   BUILD=0 scripts/bench.sh         # uses what build/linux holds
#   KEEP=DIR scripts/bench.sh        # keeps each run's full output in DIR
#
# The udev parts of bench_storm run under umockdev-wrapper; bench_daemon (halvornd on the
# simulated laptop: start-up to READY=1, radio on at start and after a hot-plug, idle) runs as root under
# tests/device/linux/in_testbed.sh.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
bin="$root/build/linux/bench"
runs=${RUNS:-3}
out=${KEEP:-$(mktemp -d)}
mkdir -p "$out"

if [[ ${BUILD:-1} != 0 ]]; then
  (cd "$root" && cmake --preset linux >/dev/null &&
    nice cmake --build --preset linux -j2 --target bench_logging bench_mbim bench_storm \
      bench_daemon >/dev/null)
fi

for r in $(seq 1 "$runs"); do
  "$bin/bench_mbim" quick >"$out/mbim.$r" 2>&1
  "$bin/bench_logging" >"$out/logging.$r" 2>&1
  if command -v umockdev-wrapper >/dev/null; then
    umockdev-wrapper "$bin/bench_storm" 10 >"$out/storm.$r" 2>&1
  else
    "$bin/bench_storm" 10 >"$out/storm.$r" 2>&1
  fi
  if [[ -x $bin/bench_daemon && $(id -u) == 0 ]]; then
    # The idle window (IDLE_SECONDS, default 60) is measured once, in the first run.
    filter='*'
    [[ $r == 1 ]] || filter='*StartUp*:*HotPlug*'
    "$root/tests/device/linux/in_testbed.sh" "$bin/bench_daemon" --gtest_filter="$filter" \
      >"$out/daemon.$r" 2>&1 || true
  fi
done

# Rows are "TABLE|figure|value|baseline|ratio|goal"; a goal "<= X" is met when the ratio is at
# most X, "flat" when the ratio is at most 1.05, "merge rule, none lost" when nothing was lost;
# "report" rows have no goal of their own.
cat "$out"/*.[0-9]* | grep '^TABLE|' | python3 -c '
import sys, collections
rows = collections.OrderedDict()
for line in sys.stdin:
    _, figure, value, baseline, ratio, goal = line.rstrip("\n").split("|")
    rows.setdefault(figure, []).append((value, baseline, ratio, goal))
def number(text):
    try:
        return float(text)
    except ValueError:
        return None
print("%-62s %-16s %-12s %8s %-22s %s" % ("figure", "value", "baseline", "ratio", "goal", "met?"))
for figure, seen in rows.items():
    numeric = [s for s in seen if number(s[2]) is not None]
    if numeric:
        numeric.sort(key=lambda s: number(s[2]))
        value, baseline, ratio, goal = numeric[len(numeric) // 2]
    else:
        value, baseline, ratio, goal = seen[len(seen) // 2]
    met = "-"
    if goal.startswith("<="):
        met = "yes" if number(ratio) <= float(goal[2:]) else "NO"
    elif goal == "flat":
        met = "yes" if number(ratio) <= 1.05 else "NO"
    elif goal.startswith("merge rule"):
        met = "yes" if all(s[0].split(" / ")[2] == "0" for s in seen) else "NO"
    runs = "" if len(seen) == 1 else " (median of %d)" % len(seen)
    print("%-62s %-16s %-12s %8s %-22s %s%s" % (figure, value, baseline, ratio, goal, met, runs))
'
echo "full output: $out"
