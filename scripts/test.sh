#!/usr/bin/env bash
# The test command: installs what is missing, builds the Linux, sanitizer and Windows builds,
# runs the native tests, the sanitizer tests, and the Windows tests under Wine in a fresh
# temporary prefix. Ends with one summary line "tests: N passed, N failed".
#
#   scripts/test.sh            everything
#   PRESETS="linux" scripts/test.sh   a subset (linux asan tsan windows)
set -uo pipefail
cd "$(dirname "$0")/.."

PRESETS=${PRESETS:-"linux asan tsan windows"}
JOBS=${JOBS:-$(nproc)}

scripts/install-deps.sh || exit 1

passed=0
failed=0
status=0
# The failed tests of every preset with the first lines of what they reported, repeated at
# the end of the output, where a reader of a long CI log looks first.
failures=""

# Adds the counts of one ctest log ("N% tests passed, F tests failed out of T").
count() {
  local line
  line=$(grep -E 'tests passed, [0-9]+ tests? failed out of [0-9]+' "$1" | tail -1)
  if [[ -z $line ]]; then
    echo "test.sh: no ctest summary in $1" >&2
    failed=$((failed + 1))
    return
  fi
  local f t
  f=$(sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\1/' <<<"$line")
  t=$(sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\2/' <<<"$line")
  passed=$((passed + t - f))
  failed=$((failed + f))
  if [[ $f -gt 0 ]]; then
    failures+="$2:"$'\n'
    failures+=$(sed -n '/The following tests FAILED:/,/^$/p' "$1" | grep -E '^[[:space:]]+[0-9]+ - ')$'\n'
    failures+=$(grep -E -A4 '(: Failure$|^\[  FAILED  \]|ERROR: .*Sanitizer|WARNING: ThreadSanitizer)' "$1" |
      head -60)$'\n'
  fi
}

logdir=$(mktemp -d)
for preset in $PRESETS; do
  echo "=== build: $preset"
  if ! cmake --preset "$preset" >"$logdir/configure-$preset.log" 2>&1; then
    cat "$logdir/configure-$preset.log"
    echo "test.sh: configure of $preset failed" >&2
    status=1
    failed=$((failed + 1))
    continue
  fi
  if ! cmake --build --preset "$preset" -j "$JOBS"; then
    echo "test.sh: build of $preset failed" >&2
    status=1
    failed=$((failed + 1))
    continue
  fi
done

for preset in $PRESETS; do
  [[ -f build/$preset/CTestTestfile.cmake ]] || continue
  echo "=== test: $preset"
  if [[ $preset == windows ]]; then
    # A fresh prefix for this run; wineserver -p keeps it alive between the test programs.
    export WINEPREFIX
    WINEPREFIX=$(mktemp -d /tmp/halvorn-wine.XXXXXX)
    export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
    wineboot --init >/dev/null 2>&1
    # Let the first boot end with its own server before keeping one: otherwise the prefix can
    # be left running two service control managers that answer service calls at random.
    wineserver -w
    wineserver -p
    # Start the prefix's system processes here, so that none of them inherits (and holds
    # open) the output pipe of a test.
    wineboot >/dev/null 2>&1
    ctest --preset windows -j 1 2>&1 | tee "$logdir/test-$preset.log"
    rc=${PIPESTATUS[0]}
    wineserver -k || true
    rm -rf "$WINEPREFIX"
    unset WINEPREFIX
  else
    ctest --preset "$preset" -j "$JOBS" 2>&1 | tee "$logdir/test-$preset.log"
    rc=${PIPESTATUS[0]}
  fi
  [[ $rc -eq 0 ]] || status=1
  count "$logdir/test-$preset.log" "$preset"
done

# A short fixed-count libFuzzer run of each fuzz target (fuzz/targets) over its seed corpus
# (clang build in build/fuzz). Each fuzzer counts as one test; FUZZ=0 leaves the
# step out.
if [[ ${FUZZ:-1} != 0 ]]; then
  echo "=== fuzz"
  if CC=clang CXX=clang++ cmake -S . -B build/fuzz -G Ninja -DHALVORN_BUILD_FUZZ=ON \
      -DHALVORN_BUILD_TESTS=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo >"$logdir/configure-fuzz.log" 2>&1 &&
      cmake --build build/fuzz --target fuzzers -j "$JOBS"; then
    while read -r name corpus; do
      work=$(mktemp -d)
      # Inputs that once crashed a fuzzer run first, beside the seeds.
      inputs=("fuzz/corpus/$corpus")
      [[ -d fuzz/regressions/$name ]] && inputs+=("fuzz/regressions/$name")
      if build/fuzz/fuzz/${name}_fuzzer "$work" "${inputs[@]}" -runs=100000 -seed=1 \
          -artifact_prefix="build/fuzz/crash-$name-" >"$logdir/fuzz.log" 2>&1 </dev/null; then
        echo "fuzz $name: passed"
        passed=$((passed + 1))
      else
        tail -40 "$logdir/fuzz.log"
        echo "fuzz $name: FAILED (input in build/fuzz/crash-*; keep it as a named unit test case)"
        failed=$((failed + 1))
        status=1
      fi
      rm -rf "$work"
    done < <(grep -Ev '^[[:space:]]*(#|$)' fuzz/targets)
  else
    cat "$logdir/configure-fuzz.log"
    echo "test.sh: fuzz build failed" >&2
    failed=$((failed + 1))
    status=1
  fi
fi

rm -rf "$logdir"
if [[ -n $failures ]]; then
  echo "=== failed"
  printf '%s' "$failures"
fi
echo "tests: $passed passed, $failed failed"
[[ $failed -eq 0 ]] || status=1
exit $status
