#!/usr/bin/env bash
# Builds the Debian package of halvornd from this tree with dpkg-buildpackage (debian/), in a
# private copy of the tree, and checks it with lintian. The package lands in build/deb/.
#
#   scripts/build-deb.sh        -> build/deb/halvorn_<version>_<arch>.deb
#
# Needs what scripts/install-deps.sh installs. Ends non-zero when the build fails or lintian
# reports an error.
set -euo pipefail
cd "$(dirname "$0")/.."
top=$PWD
out=$top/build/deb

work=$(mktemp -d /tmp/halvorn-deb.XXXXXX)
trap 'rm -rf "$work"' EXIT

# The tree as git sees it (tracked files and new ones not ignored), without any build folder.
src=$work/halvorn
mkdir "$src"
git ls-files -z --cached --others --exclude-standard |
  while IFS= read -r -d '' f; do [[ -e $f ]] && printf '%s\0' "$f"; done |
  tar --null -T - -cf - | tar -xf - -C "$src"

(cd "$src" && nice dpkg-buildpackage -b -us -uc -j"${JOBS:-$(nproc)}") >"$work/build.log" 2>&1 || {
  tail -60 "$work/build.log"
  echo "build-deb: dpkg-buildpackage failed" >&2
  exit 1
}

mkdir -p "$out"
rm -f "$out"/*.deb "$out"/*.ddeb
cp "$work"/*.deb "$out"/
cp "$work"/*.ddeb "$out"/ 2>/dev/null || true
deb=$(ls "$out"/halvorn_*.deb)
echo "build-deb: $deb"

# lintian's own exit status is non-zero for an error (and only then, with --fail-on error).
echo "build-deb: lintian:"
lintian --fail-on error --display-info "$deb" || {
  echo "build-deb: lintian reports an error" >&2
  exit 1
}
echo "build-deb: lintian: no error"

# The unit as installed: systemd-analyze verify over the package's files (the host's own units
# beside them for the targets it names, its manual page on MANPATH), and the exposure that
# systemd-analyze security gives it, at most 2.0 (--threshold counts in tenths).
root=$work/root
dpkg-deb -x "$deb" "$root"
cp -an /lib/systemd/system/. "$root/lib/systemd/system/"
unit=$root/lib/systemd/system/halvornd.service
MANPATH=$root/usr/share/man systemd-analyze verify --root="$root" "$unit" || {
  echo "build-deb: systemd-analyze verify fails on the unit" >&2
  exit 1
}
echo "build-deb: systemd-analyze verify: passed"
security=$(systemd-analyze security --offline=true --threshold=20 "$unit") || {
  printf '%s\n' "$security" | grep -v '✓'
  echo "build-deb: the unit's exposure is above 2.0" >&2
  exit 1
}
echo "build-deb: systemd-analyze security: $(printf '%s\n' "$security" | grep 'Overall exposure' | sed 's/^→ //')"
