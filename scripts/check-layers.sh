#!/usr/bin/env bash
# The layer check: a subsystem under src/ includes only its own headers and those of the
# layers below it, and portable code (outside win/ and linux/) includes no backend header of
# another subsystem. Tests are not checked (they bind layers on purpose).
#
# Layers, lowest first; subsystems of one layer do not include one another:
#   0 util
#   1 tasks device mbn
#   2 auth
#   3 service ctl      (the composition roots)
# Exit status 1 and one line per offending include when the rule is broken.
set -uo pipefail
cd "$(dirname "$0")/.."

declare -A layer=([util]=0 [tasks]=1 [device]=1 [mbn]=1 [auth]=2 [service]=3 [ctl]=3)

files=0
includes=0
bad=0
for subsystem in "${!layer[@]}"; do
  [[ -d src/$subsystem ]] || continue
  while IFS= read -r file; do
    files=$((files + 1))
    case $file in
      src/"$subsystem"/win/* | src/"$subsystem"/linux/*) portable=0 ;;
      *) portable=1 ;;
    esac
    while IFS=: read -r line target; do
      includes=$((includes + 1))
      other=${target%%/*}
      [[ -n ${layer[$other]+x} ]] || continue
      if [[ $other != "$subsystem" && ${layer[$other]} -ge ${layer[$subsystem]} ]]; then
        echo "$file:$line: $subsystem (layer ${layer[$subsystem]}) includes $target of $other (layer ${layer[$other]})"
        bad=$((bad + 1))
      fi
      if [[ $portable == 1 && $other != "$subsystem" && $target =~ ^[a-z_]+/(win|linux)/ ]]; then
        echo "$file:$line: portable code includes the backend header $target of $other"
        bad=$((bad + 1))
      fi
    done < <(grep -nE '^[[:space:]]*#[[:space:]]*include[[:space:]]+"[a-z_]+/' "$file" |
             sed -E 's@^([0-9]+):[^"]*"([^"]+)".*@\1:\2@')
  done < <(find "src/$subsystem" -type f \( -name '*.h' -o -name '*.cc' \) | sort)
done

echo "check-layers: $files files, $includes project includes checked (util < tasks, device, mbn < auth < service, ctl): $bad violations"
[[ $bad -eq 0 ]]
