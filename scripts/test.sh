#!/usr/bin/env bash
# The test command: installs what is missing, builds the Linux, sanitizer and Windows builds,
# runs the native tests, the sanitizer tests, and the Windows tests under Wine in a fresh
# temporary prefix. Ends with one summary line "tests: N passed, N failed".
#
#   scripts/test.sh            everything
#   PRESETS="linux" scripts/test.sh   a subset (linux asan tsan windows)
#   PACKAGES_TEST=0, CONTAINER=0, FUZZ=0   leave out the packages, the container, the fuzzers
#   LABELS=unit, EXCLUDE_LABELS="slow|root"   only the tests with / without these ctest labels
#   TIDY=0   leave out clang-tidy
#
# It prints the wall time of every preset's build and tests and the ten slowest tests of each
# preset (its logs are deleted at the end, so this is where a reader sees where time goes).
set -uo pipefail
cd "$(dirname "$0")/.."

PRESETS=${PRESETS:-"linux asan tsan windows"}
JOBS=${JOBS:-$(nproc)}

scripts/install-deps.sh || exit 1

# ctest's label selection, passed to every preset's run.
label_args=()
[[ -n ${LABELS:-} ]] && label_args+=(-L "$LABELS")
[[ -n ${EXCLUDE_LABELS:-} ]] && label_args+=(-LE "$EXCLUDE_LABELS")

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
# Wall times, printed together before the summary: "<what> <seconds>" lines.
timings=""
timed() {
  local what=$1 start=$SECONDS
  shift
  "$@"
  local rc=$?
  timings+="$what $((SECONDS - start)) s"$'\n'
  return $rc
}

# The ten slowest tests of one preset from ctest's JUnit report.
slowest() {
  python3 - "$1" "$2" <<'PY'
import sys
import xml.etree.ElementTree as ET
try:
    cases = ET.parse(sys.argv[1]).getroot().iter("testcase")
except (OSError, ET.ParseError) as error:
    print(f"{sys.argv[2]}: no JUnit report ({error})")
    sys.exit(0)
times = sorted(((float(c.get("time", 0)), c.get("name")) for c in cases), reverse=True)
print(f"slowest tests of {sys.argv[2]}:")
for seconds, name in times[:10]:
    print(f"  {seconds:8.2f} s  {name}")
PY
}

echo "=== layers"
if ! scripts/check-layers.sh; then
  failures+="layers:"$'\n'"scripts/check-layers.sh found includes of a layer above"$'\n'
  failed=$((failed + 1))
  status=1
else
  passed=$((passed + 1))
fi

for preset in $PRESETS; do
  echo "=== build: $preset"
  if ! cmake --preset "$preset" >"$logdir/configure-$preset.log" 2>&1; then
    cat "$logdir/configure-$preset.log"
    echo "test.sh: configure of $preset failed" >&2
    status=1
    failed=$((failed + 1))
    continue
  fi
  if ! timed "build $preset" cmake --build --preset "$preset" -j "$JOBS"; then
    echo "test.sh: build of $preset failed" >&2
    status=1
    failed=$((failed + 1))
    continue
  fi
done

# clang-tidy on our own sources, counted as one test.
if [[ ${TIDY:-1} != 0 ]]; then
  echo "=== tidy"
  if timed "tidy" scripts/tidy.sh; then
    passed=$((passed + 1))
  else
    failures+="tidy:"$'\n'"scripts/tidy.sh found the findings above"$'\n'
    failed=$((failed + 1))
    status=1
  fi
fi

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
    start=$SECONDS
    ctest --preset windows -j 1 --output-junit "$logdir/junit-$preset.xml" "${label_args[@]}" 2>&1 |
      tee "$logdir/test-$preset.log"
    rc=${PIPESTATUS[0]}
    timings+="tests $preset $((SECONDS - start)) s"$'\n'
    wineserver -k || true
    rm -rf "$WINEPREFIX"
    unset WINEPREFIX
  else
    start=$SECONDS
    ctest --preset "$preset" -j "$JOBS" --output-junit "$logdir/junit-$preset.xml" \
      "${label_args[@]}" 2>&1 | tee "$logdir/test-$preset.log"
    rc=${PIPESTATUS[0]}
    timings+="tests $preset $((SECONDS - start)) s"$'\n'
  fi
  [[ $rc -eq 0 ]] || status=1
  count "$logdir/test-$preset.log" "$preset"
  slowest "$logdir/junit-$preset.xml" "$preset" >>"$logdir/slowest.txt"
done

# The packages, built from the tree and installed and removed for real, each counted as one
# test: the .deb (lintian, systemd-analyze verify and security), the same .deb in a booted
# systemd container (skipped, with its reason, where namespaces or the archive are missing;
# CONTAINER=0 leaves it out), and the MSI under Wine when the windows build is there.
package_step() {
  local name=$1; shift
  local rc=0
  "$@" >"$logdir/package-$name.log" 2>&1 || rc=$?
  if [[ $rc -eq 0 ]]; then
    grep -E '^(build-deb|container-test|msi-test|build-msi): ' "$logdir/package-$name.log" | tail -4
    echo "package $name: passed"
    passed=$((passed + 1))
  elif [[ $rc -eq 77 ]]; then
    grep -E 'SKIPPED' "$logdir/package-$name.log"
    echo "package $name: skipped"
  else
    tail -40 "$logdir/package-$name.log"
    echo "package $name: FAILED"
    failures+="package $name:"$'\n'$(tail -10 "$logdir/package-$name.log")$'\n'
    failed=$((failed + 1))
    status=1
  fi
}
if [[ ${PACKAGES_TEST:-1} != 0 ]]; then
  echo "=== packages"
  package_step deb scripts/build-deb.sh
  if [[ ${CONTAINER:-1} != 0 && -f build/linux/tools/mbim_simulator/halvorn-mbim-sim ]]; then
    package_step container scripts/container-test.sh
  fi
  if [[ -f build/windows/src/service/halvorn.exe ]]; then
    package_step msi bash -c 'scripts/build-msi.sh && scripts/msi-test.sh'
  fi
fi

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

echo "=== times"
printf '%s' "$timings"
[[ -f $logdir/slowest.txt ]] && cat "$logdir/slowest.txt"
rm -rf "$logdir"
if [[ -n $failures ]]; then
  echo "=== failed"
  printf '%s' "$failures"
fi
echo "tests: $passed passed, $failed failed"
[[ $failed -eq 0 ]] || status=1
exit $status
