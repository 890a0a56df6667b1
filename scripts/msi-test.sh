#!/usr/bin/env bash
# The Windows installer under Wine, in a fresh prefix of its own:
#   msiexec /i  -> the service "Halvorn" exists, own process, automatic start, RUNNING, and its
#                  log has started; no registry value turns a check off;
#   msiexec /x  -> no service, no program files; the log folder is kept.
#
#   scripts/msi-test.sh [build/msi/halvorn.msi]
set -euo pipefail
cd "$(dirname "$0")/.."
msi=$(realpath "${1:-build/msi/halvorn.msi}")
[[ -f $msi ]] || { echo "msi-test: no $msi (scripts/build-msi.sh)" >&2; exit 1; }

export WINEPREFIX WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
WINEPREFIX=$(mktemp -d /tmp/halvorn-msi-wine.XXXXXX)
cleanup() { wineserver -k 2>/dev/null || true; rm -rf "$WINEPREFIX"; }
trap cleanup EXIT
fail() { echo "msi-test: FAILED: $*" >&2; exit 1; }
# Any other command that fails ends the test too (set -e): say which, so that a failure in a CI
# log, where only these lines are shown, can be told apart.
trap 'echo "msi-test: FAILED: line $LINENO: \"$BASH_COMMAND\" exited with $?" >&2' ERR

wineboot --init >/dev/null 2>&1
# Let the first boot end with its own server before keeping one (see scripts/test.sh); a prefix
# that has not settled once refused msiexec with 1627.
wineserver -w
wineserver -p
wineboot >/dev/null 2>&1

query() { wine sc query Halvorn 2>/dev/null | tr -d '\r'; }
poll() {  # poll <tries of 0.5 s> <command...>
  local tries=$1; shift
  for _ in $(seq "$tries"); do "$@" && return 0; sleep 0.5; done
  return 1
}
is_running() { query | grep -qE 'STATE +: 4 +RUNNING'; }
is_gone() { ! query | grep -q 'SERVICE_NAME'; }

files="$WINEPREFIX/drive_c/Program Files/Halvorn"
# The service's %ProgramData%: under Wine the service sees C:\users\Public where a console
# sees C:\ProgramData, so the log folder is looked for in the whole drive.
logdir=""
find_log() {
  logdir=$(find "$WINEPREFIX/drive_c" -type d -path '*/Tessary Wireless Inc/Brevane/VK20T' | head -1)
  [[ -n $logdir ]] && grep -qa 'Halvorn start' "$logdir"/*.log 2>/dev/null
}

wine msiexec /i "$msi" /qn >/dev/null 2>&1 || fail "msiexec /i exited with $?"
[[ -f $files/halvorn.exe ]] || fail "no halvorn.exe in Program Files"
[[ -f $files/halvornctl.exe ]] || fail "no halvornctl.exe in Program Files"
poll 120 is_running || { query; fail "the service is not RUNNING after the install"; }
# Wine's sc has no "qc": the service's own registry key says what the installer made of it.
config=$(wine reg query 'HKLM\System\CurrentControlSet\Services\Halvorn' 2>/dev/null | tr -d '\r') || true
grep -qiE '^ +Type +REG_DWORD +0x10$' <<<"$config" || { echo "$config"; fail "not an own-process service"; }
grep -qiE '^ +Start +REG_DWORD +0x2$' <<<"$config" || { echo "$config"; fail "not started automatically"; }
grep -qiF 'Program Files\Halvorn\halvorn.exe' <<<"$config" || { echo "$config"; fail "not the installed halvorn.exe"; }
poll 120 find_log || fail "no log started in the prefix"
if wine reg query 'HKLM\SOFTWARE\Tessary Wireless Inc\Brevane' /v IsDisableVerify >/dev/null 2>&1; then
  fail "the install wrote IsDisableVerify"
fi
echo "msi-test: installed: Halvorn RUNNING (own process, auto start), log $(ls "$logdir" | head -1)"

# Windows' msiexec waits for the service to stop (ServiceControl Wait="yes") before it removes
# its files; Wine's sends the stop and goes on, and a file still in use is silently left in
# place (halvorn.exe takes up to a retry pause to stop). So the service is stopped first, as
# msiexec itself would have waited for it; removing the service is still msiexec's work.
is_stopped() { query | grep -qE 'STATE +: 1 +STOPPED'; }
wine net stop Halvorn >/dev/null 2>&1 || true
poll 120 is_stopped || { query; fail "the service does not stop"; }
wine msiexec /x "$msi" /qn >/dev/null 2>&1 || fail "msiexec /x exited with $?"
poll 120 is_gone || { query; fail "the service is still there after the uninstall"; }
no_files() { [[ ! -e $files ]]; }
poll 120 no_files || { ls -la "$files"; fail "Program Files\\Halvorn is still there"; }
ls "$logdir"/*.log >/dev/null 2>&1 || fail "the uninstall took the log folder"
echo "msi-test: uninstalled: no service, no program files, the log folder kept"
echo "msi-test: passed"
