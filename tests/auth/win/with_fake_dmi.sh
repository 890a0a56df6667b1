#!/bin/sh
# Runs a command with /sys/class/dmi/id holding the files of a folder, in a private mount
# namespace. Wine builds the SMBIOS table of GetSystemFirmwareTable('RSMB') from these
# files, so a Windows test program sees the firmware strings that the folder gives.
#
#   with_fake_dmi.sh <folder> <command> [args...]
#
# Needs mount namespaces (root or CAP_SYS_ADMIN). Where they are not allowed it prints why
# and exits with 77, which the test registers as "skipped".
set -u
folder=$(cd "$1" && pwd)
shift

if ! unshare -m true 2>/dev/null; then
  echo "SKIPPED: mount namespaces are not allowed here (unshare -m failed)"
  exit 77
fi

keep=$(mktemp -d)
unshare -m sh -eu -c '
  folder=$1 keep=$2; shift 2
  mount --make-rprivate /
  if [ -d /sys/class/dmi/id ]; then
    # A real firmware: cover its files.
    mount -t tmpfs halvorn-dmi /sys/class/dmi/id
  else
    # No dmi class at all: a tmpfs over /sys/class carries the other classes (bound back
    # one by one) and a new dmi/id folder.
    mount --bind /sys/class "$keep"
    mount -t tmpfs halvorn-class /sys/class
    for entry in "$keep"/*; do
      name=${entry##*/}
      mkdir "/sys/class/$name"
      mount --bind "$entry" "/sys/class/$name"
    done
    mkdir -p /sys/class/dmi/id
  fi
  cp "$folder"/* /sys/class/dmi/id/
  exec "$@"
' with_fake_dmi "$folder" "$keep" "$@"
rc=$?
rmdir "$keep"
exit $rc
