#!/usr/bin/env bash
# clang-tidy (.clang-tidy) over our own sources under src/, with the compile commands of the
# Linux build (configured first when missing). The Windows backends (win/) are not in those
# commands; the cross build's warnings cover them. Exit status 1 on any finding.
#
#   scripts/tidy.sh [build folder]     default build/linux
set -uo pipefail
cd "$(dirname "$0")/.."

build=${1:-build/linux}
if [[ ! -f $build/compile_commands.json ]]; then
  cmake --preset linux >/dev/null || exit 1
fi
files=$(python3 - "$build/compile_commands.json" "$PWD/src/" <<'PY'
import json, os, sys
commands = json.load(open(sys.argv[1]))
print("\n".join(sorted({os.path.realpath(os.path.join(c["directory"], c["file"]))
                        for c in commands
                        if os.path.realpath(os.path.join(c["directory"], c["file"]))
                        .startswith(sys.argv[2])})))
PY
)
count=$(wc -l <<<"$files")
log=$(mktemp)
# One file a process; -quiet keeps the output to the findings.
xargs -P "${JOBS:-$(nproc)}" -n 1 clang-tidy -p "$build" --quiet <<<"$files" >"$log" 2>&1
rc=$?
findings=$(grep -cE '(warning|error): ' "$log")
grep -E -A3 '(warning|error): ' "$log" | head -200
rm -f "$log"
echo "tidy: $count files of src/ checked: $findings findings"
[[ $rc -eq 0 && $findings -eq 0 ]]
