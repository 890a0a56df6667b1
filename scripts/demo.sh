#!/usr/bin/env bash
# The demonstration: Halvorn on a simulated laptop, as a short timeline on the terminal.
#
#   scripts/demo.sh             the Linux daemon halvornd: start and the checks, the level going
#                               from 0 to 1; sleep and resume; the modem unplugged and plugged
#                               back; the stop (the story of tests/service/linux/halvornd_story_test.cc)
#   scripts/demo.sh --windows   halvorn.exe's demo build (stand-in adapter list) as the service
#                               "Halvorn" under Wine with the fake runtime provider as the modem:
#                               start, the checks, the level from 0 to 1, stop, removal
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
  # A Wine process caught starting may bring up a server, or write into the prefix, after the
  # first kill: end the prefix's server and remove the folder until both are gone.
  for _ in $(seq 50); do
    if [[ $mode == windows && -n ${WINEPREFIX:-} && -d $WINEPREFIX ]]; then
      wineserver -k 2>/dev/null || true
    fi
    rm -rf "$work" 2>/dev/null || true
    [[ -e $work ]] || break
    sleep 0.2
  done
}
trap cleanup EXIT
trap 'echo; echo "demo: interrupted"; cleanup; exit 130' INT TERM

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

# Windows: the story of tests/service/win/service_story_win_test.cc in a fresh private Wine
# prefix: halvorn.exe's demo build (the stand-in adapter list; Wine has no mobile-broadband
# adapter) installed as the service "Halvorn", the fake runtime provider as the modem at level
# 0, the start, the checks, the level set to 1, the stop. The whole of Wine runs in a mount
# namespace in which Wine's firmware table is that of a listed model (with_fake_dmi.sh).
echo "demo: building halvorn.exe's demo build and the story (build/windows)..."
cmake --preset windows >"$work/configure.log" 2>&1 || { cat "$work/configure.log"; exit 1; }
nice cmake --build --preset windows --target service_story_win_test >"$work/build.log" 2>&1 ||
  { tail -40 "$work/build.log"; exit 1; }
export WINEPREFIX=$work/wine WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" TMPDIR=$work
mkdir -p "$WINEPREFIX"
wrap=(tests/auth/win/with_fake_dmi.sh tests/auth/win/dmi_id)
if ! unshare -m true 2>/dev/null; then
  echo "demo: mount namespaces are refused here (unshare -m failed): Wine's firmware table is"
  echo "      this machine's own; the rest of the story runs all the same."
  wrap=()
fi
# A boot of the prefix that ends with its own server before one is kept running (else two
# service managers may answer), then the story.
story='wineboot --init >/dev/null 2>&1 && wineserver -w && wineserver -p &&
  wineboot >/dev/null 2>&1 &&
  wine build/windows/tests/service/service_story_win_test.exe --gtest_brief=1'
rc=0
run_group "${wrap[@]}" bash -c "$story" || rc=$?
log=$(find "$WINEPREFIX/drive_c" -path '*/Tessary Wireless Inc/Brevane/VK20T' -type d | head -1)
if [[ -n $log ]]; then
  mkdir -p build/demo && rm -rf build/demo/halvorn-log && cp -r "$log" build/demo/halvorn-log
fi
if [[ $rc -eq 0 ]]; then
  echo "demo: done; nothing of it is left running (the log is kept in build/demo/halvorn-log)"
else
  echo "demo: the story failed (exit $rc)" >&2
fi
exit "$rc"
