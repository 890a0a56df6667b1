#!/usr/bin/env bash
# The soak: the real Linux daemon halvornd on the simulated laptop for a long time, through
# sleep/resume rounds (logind's mock on a private bus) and modem unplug/plug cycles, the modem
# back at level 0 before every round. Prints the daemon's resident memory, open descriptors,
# threads and log files at the start, every few minutes and at the end, and how many rounds
# brought the level back to 1; fails when a round did not or when something kept growing.
#
#   scripts/soak.sh [--minutes N] [--sleeps N] [--plugs N] [--sample-minutes N]
#
# Defaults: 30 minutes, 1000 sleep/resume rounds, 300 unplug/plug cycles, a sample every 5
# minutes. The figures also go to build/soak/soak.txt. Needs root (the laptop's registry file
# must be root's). Everything it starts lives in a private temporary folder and its own
# process group; both go when it ends, also on Ctrl-C.
set -euo pipefail
cd "$(dirname "$0")/.."

args=()
while [[ $# -gt 0 ]]; do
  case $1 in
    --minutes | --sleeps | --plugs | --sample-minutes)
      [[ $# -ge 2 ]] || { echo "soak: $1 wants a value" >&2; exit 2; }
      args+=("$1" "$2")
      shift 2
      ;;
    -h | --help) sed -n '2,13p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "soak: unknown option $1 (try --help)" >&2; exit 2 ;;
  esac
done

if [[ $(id -u) -ne 0 ]]; then
  exec sudo -- "$0" "${args[@]}"
fi

scripts/install-deps.sh >/dev/null

work=$(mktemp -d /tmp/halvorn-soak.XXXXXX)
group=""
cleanup() {
  trap - EXIT INT TERM
  if [[ -n $group ]]; then
    kill -TERM -- "-$group" 2>/dev/null || true
    for _ in $(seq 100); do
      kill -0 -- "-$group" 2>/dev/null || break
      sleep 0.1
    done
    kill -KILL -- "-$group" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT
trap 'echo; echo "soak: interrupted"; exit 130' INT TERM

echo "soak: building halvornd and the soak (build/linux)..."
cmake --preset linux >"$work/configure.log" 2>&1 || { cat "$work/configure.log"; exit 1; }
nice cmake --build --preset linux -j2 --target halvornd halvornd_soak >"$work/build.log" 2>&1 ||
  { tail -40 "$work/build.log"; exit 1; }

mkdir -p build/soak "$work/bin"
# Copies of both programs run, so that a build during the soak changes nothing under it.
cp build/linux/src/service/halvornd build/linux/tests/service/halvornd_soak "$work/bin/"
rc=0
# Its own process group, so that cleanup ends everything it started (the bus, the mock, the
# daemon).
TMPDIR=$work setsid nice tests/device/linux/in_testbed.sh "$work/bin/halvornd_soak" \
  --gtest_brief=1 --daemon "$work/bin/halvornd" "${args[@]}" > >(tee build/soak/soak.txt) 2>&1 &
group=$!
wait "$group" || rc=$?
if [[ $rc -eq 0 ]]; then
  echo "soak: passed (figures in build/soak/soak.txt)"
else
  echo "soak: failed (exit $rc; figures in build/soak/soak.txt)" >&2
fi
exit "$rc"
