#!/usr/bin/env bash
# A fuzzing campaign: every target of fuzz/targets (or those named), one after another, each
# from its seed corpus and kept regressions, to a number of executions or for a time. Ends
# with one table: target, executions, coverage (libFuzzer's cov and ft at the end) and
# findings (inputs written for a crash, a sanitizer report, a leak or a timeout).
#
#   scripts/fuzz.sh                         every target to 10,000,000 executions
#   scripts/fuzz.sh --runs 1000000          another count
#   scripts/fuzz.sh --time 240              240 s per target instead (no count)
#   scripts/fuzz.sh --time 240 --runs 10000000   whichever comes first
#   scripts/fuzz.sh registry_file cfun_answer    only these targets
#
# Runs under nice, one process at a time. Uses the clang build in build/fuzz (built here when
# missing). The growing corpus and the findings of each target stay under
# build/fuzz/campaign/<target>/; a finding is mended in the code it concerns, with a named
# unit test case, and its input kept under fuzz/regressions/<target>/.
set -uo pipefail
cd "$(dirname "$0")/.."

runs=
time=0
only=()
while [[ $# -gt 0 ]]; do
  case $1 in
    --runs) runs=$2; shift 2 ;;
    --time) time=$2; shift 2 ;;
    -h | --help) sed -n '2,16p' "$0"; exit 0 ;;
    -*) echo "fuzz.sh: unknown option $1" >&2; exit 2 ;;
    *) only+=("$1"); shift ;;
  esac
done
# A count by default; with --time alone, no count.
if [[ -z $runs ]]; then
  [[ $time == 0 ]] && runs=10000000 || runs=0
fi

if [[ ! -f build/fuzz/build.ninja ]]; then
  CC=clang CXX=clang++ cmake -S . -B build/fuzz -G Ninja -DHALVORN_BUILD_FUZZ=ON \
    -DHALVORN_BUILD_TESTS=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null || exit 1
fi
nice cmake --build build/fuzz --target fuzzers -j "${JOBS:-2}" >/dev/null || exit 1

rows=()
status=0
while read -r name corpus; do
  if [[ ${#only[@]} -gt 0 && " ${only[*]} " != *" $name "* ]]; then
    continue
  fi
  dir=build/fuzz/campaign/$name
  mkdir -p "$dir/corpus" "$dir/findings"
  inputs=("$dir/corpus" "fuzz/corpus/$corpus")
  [[ -d fuzz/regressions/$name ]] && inputs+=("fuzz/regressions/$name")
  limits=(-runs="$runs")
  [[ $runs == 0 ]] && limits=(-runs=-1)
  [[ $time != 0 ]] && limits+=(-max_total_time="$time")
  echo "=== $name: ${limits[*]}" >&2
  before=$(find "$dir/findings" -type f | wc -l)
  nice build/fuzz/fuzz/${name}_fuzzer "${inputs[@]}" "${limits[@]}" -print_final_stats=1 \
    -artifact_prefix="$dir/findings/" >"$dir/log" 2>&1 </dev/null
  rc=$?
  executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$dir/log" | tail -1)
  coverage=$(grep -oE 'cov: [0-9]+ ft: [0-9]+' "$dir/log" | tail -1 | sed -E 's/cov: ([0-9]+) ft: ([0-9]+)/\1 \2/')
  findings=$(($(find "$dir/findings" -type f | wc -l) - before))
  if [[ $rc -ne 0 ]]; then
    status=1
    [[ $findings -eq 0 ]] && findings="exit $rc"
    grep -m1 -E 'ERROR: |runtime error|deadly signal' "$dir/log" >&2
  fi
  rows+=("$name ${executions:-?} ${coverage:-? ?} $findings")
done < <(grep -Ev '^[[:space:]]*(#|$)' fuzz/targets)

printf '%-26s %12s %8s %8s  %s\n' target executions cov ft findings
for row in "${rows[@]}"; do
  # shellcheck disable=SC2086
  printf '%-26s %12s %8s %8s  %s\n' $row
done
exit $status
