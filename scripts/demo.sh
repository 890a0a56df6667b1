#!/usr/bin/env bash
# The demonstration: Halvorn on a simulated laptop, as a short timeline on the terminal.
#
#   scripts/demo.sh             the Linux daemon halvornd: start and the checks, the level going
#                               from 0 to 1; sleep and resume; the modem unplugged and plugged
#                               back; the stop (the story of tests/service/linux/halvornd_story_test.cc)
#   scripts/demo.sh --windows   halvorn.exe installed by its MSI as the service "Halvorn" under
#                               Wine: start, the job's first lines, stop, uninstall
#
# Needs root (the laptop's registry file must be root's; Wine's service needs nothing more) and
# installs what is missing through scripts/install-deps.sh. Everything it starts lives in a
# private temporary folder and its own process group; both go when it ends, also on Ctrl-C.
set -euo pipefail
cd "$(dirname "$0")/.."
top=$PWD

mode=linux
case ${1:-} in
  "") ;;
  --windows) mode=windows ;;
  -h | --help) sed -n '2,12p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
  *) echo "demo: unknown option $1 (try --help)" >&2; exit 2 ;;
esac

if [[ $(id -u) -ne 0 ]]; then
  exec sudo -- "$0" "$@"
fi

scripts/install-deps.sh >/dev/null

work=$(mktemp -d /tmp/halvorn-demo.XXXXXX)
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
  if [[ $mode == windows && -n ${WINEPREFIX:-} ]]; then
    wineserver -k 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT
trap 'echo; echo "demo: interrupted"; exit 130' INT TERM

# Runs "$@" in a process group of its own (so that cleanup ends every process it started) and
# waits for it.
run_group() {
  setsid "$@" &
  group=$!
  local rc=0
  wait "$group" || rc=$?
  return "$rc"
}

if [[ $mode == linux ]]; then
  echo "demo: building halvornd and the story (build/linux)..."
  cmake --preset linux >"$work/configure.log" 2>&1 || { cat "$work/configure.log"; exit 1; }
  nice cmake --build --preset linux --target halvornd halvornd_story_test >"$work/build.log" 2>&1 ||
    { tail -40 "$work/build.log"; exit 1; }
  mkdir -p build/demo
  rc=0
  TMPDIR=$work HALVORN_STORY_LOG_COPY=$top/build/demo/halvornd-log \
    run_group tests/device/linux/in_testbed.sh build/linux/tests/service/halvornd_story_test \
    --gtest_brief=1 || rc=$?
  if [[ $rc -eq 0 ]]; then
    echo "demo: done; nothing of it is left running (the log is kept in build/demo/halvornd-log)"
  else
    echo "demo: the story failed (exit $rc)" >&2
  fi
  exit "$rc"
fi

# Windows: the MSI installed in a private Wine prefix, the service started by the installer,
# the log's lines as they come, the stop and the uninstall. Wine has no mobile-broadband
# adapter, so the job ends at the device check; the level step needs the stand-in adapter list
# of the Windows end-to-end test and is not part of this demo yet.
echo "demo: building halvorn.exe and the installer (build/windows, build/msi)..."
cmake --preset windows >"$work/configure.log" 2>&1 || { cat "$work/configure.log"; exit 1; }
nice cmake --build --preset windows --target halvorn >"$work/build.log" 2>&1 ||
  { tail -40 "$work/build.log"; exit 1; }
scripts/build-msi.sh >/dev/null
export WINEPREFIX=$work/wine WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
mkdir -p "$WINEPREFIX"
start=$(date +%s.%N)
say() { printf '  %6.1f s  %-7s %s\n' "$(awk -v a="$start" -v b="$(date +%s.%N)" 'BEGIN { print b - a }')" "$1" "$2"; }
wineboot --init >/dev/null 2>&1
wineserver -w
wineserver -p
wineboot >/dev/null 2>&1
say prefix "a fresh Wine prefix"
wine msiexec /i "$top/build/msi/halvorn.msi" /qn >/dev/null 2>&1
say install "msiexec /i halvorn.msi: C:\\Program Files\\Halvorn\\halvorn.exe, service Halvorn"
state() { wine sc query Halvorn 2>/dev/null | tr -d '\r' | sed -nE 's/.*STATE +: [0-9]+ +([A-Z_]+).*/\1/p'; }
for _ in $(seq 120); do [[ $(state) == RUNNING ]] && break; sleep 0.5; done
say start "service Halvorn $(state)"
log=""
for _ in $(seq 120); do
  log=$(find "$WINEPREFIX/drive_c" -path '*/Tessary Wireless Inc/Brevane/VK20T/*.log' | head -1)
  [[ -n $log ]] && grep -qa 'CTaskAuthModule::doJob' "$log" && break
  sleep 0.5
done
say log "$log"
sleep 1
grep -a -E ' i :   (Modem_ServiceMain Entry|KService::Run entry|CTaskFactory createTask|not get adapter|MBIM Device is not)' "$log" |
  cut -c40- | tr -d '\r' | head -6 | while IFS= read -r line; do say check "$line"; done
wine net stop Halvorn >/dev/null 2>&1 || true
for _ in $(seq 120); do [[ $(state) == STOPPED ]] && break; sleep 0.5; done
say stop "service Halvorn $(state)"
wine msiexec /x "$top/build/msi/halvorn.msi" /qn >/dev/null 2>&1
say remove "msiexec /x: service $([[ -z $(state) ]] && echo removed || echo "$(state)")"
mkdir -p build/demo && rm -rf build/demo/halvorn-log && cp -r "$(dirname "$log")" build/demo/halvorn-log
echo
echo "Summary: halvorn.exe ran as the service Halvorn under Wine's service manager, installed and"
echo "removed by its MSI. Wine has no mobile-broadband adapter: the job stops at the device check"
echo "(the radio level step is not shown under Wine yet). Log: build/demo/halvorn-log"
