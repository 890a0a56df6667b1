#!/bin/sh
# Runs the crash test (a Windows test under Wine) with HALVORN_DUMP_FOLDER set to a fresh
# folder, then checks what it left:
# - Wine's relay trace (on the standard error of the Wine processes) shows each crash ending
#   in FatalAppExitW with the action 0xFFFFFFFF and the message "Fatal Error";
# - a reader that is not ours, Debian's lldb, loads each dump as a minidump and shows the
#   crashing thread stopped by the access violation in the function that made it.
#
#   check_dumps.sh <command> [args...]
set -u
dumps=$(mktemp -d)
trap 'rm -rf "$dumps"' EXIT
HALVORN_DUMP_FOLDER=$(winepath -w "$dumps" 2>/dev/null) || HALVORN_DUMP_FOLDER="Z:$dumps"
export HALVORN_DUMP_FOLDER
"$@" 2>"$dumps/stderr.txt"
rc=$?
if [ "$rc" -ne 0 ]; then
  grep -v -E '^[0-9a-f]{4}:(Call|Ret|trace:relay)' "$dumps/stderr.txt" | tail -40
  exit "$rc"
fi
fatal=$(grep -c 'FatalAppExitW(ffffffff,[0-9a-f]* L"Fatal Error")' "$dumps/stderr.txt")
if [ "$fatal" -ne 2 ]; then
  echo "FAILED: $fatal calls of FatalAppExitW(0xffffffff, \"Fatal Error\") traced, expected 2"
  exit 1
fi
echo "relay: $fatal calls of FatalAppExitW with 0xffffffff and \"Fatal Error\""

if ! command -v lldb >/dev/null 2>&1; then
  echo "SKIPPED: lldb is not installed (scripts/install-deps.sh installs it)"
  exit 77
fi
count=0
for dump in "$dumps"/*.dmp; do
  [ -e "$dump" ] || break
  count=$((count + 1))
  out=$(lldb --batch -c "$dump" -o "thread list" 2>&1)
  if ! printf '%s\n' "$out" | grep -q "Core file '.*' (x86_64) was loaded"; then
    printf '%s\n' "$out"
    echo "FAILED: lldb did not load $dump as a core file"
    exit 1
  fi
  if ! printf '%s\n' "$out" |
      grep -Eq '^\* thread #[0-9]+: .*crash_filter_program\.exe`.*Crash\(\), stop reason = Exception 0xc0000005'; then
    printf '%s\n' "$out"
    echo "FAILED: lldb shows no thread stopped by the access violation in Crash() in $dump"
    exit 1
  fi
  echo "lldb: $(basename "$dump"): $(printf '%s\n' "$out" | grep -E '^\* thread')"
done
if [ "$count" -ne 2 ]; then
  echo "FAILED: $count dumps, expected 2"
  exit 1
fi
