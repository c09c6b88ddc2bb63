#!/usr/bin/env bash
# The Debian package on this machine: built twice (the second with the next version), checked by
# lintian, installed, upgraded over, removed and purged with dpkg. Needs root; the machine is
# left as it was found (compared with a file listing taken before the install).
# Usage: tests/packaging/deb_package_test.sh BUILD_DIR
set -euo pipefail
source_dir="$(cd "$(dirname "$0")/../.." && pwd)"
build="$(cd "$1" && pwd)"
if [ "$(id -u)" -ne 0 ]; then exec sudo "$0" "$@"; fi
pkg=morvex-razu-rarevi
dir=/opt/morvex/razu-rarevi
unit=/lib/systemd/system/fMvxBackupMain.service
wants=/etc/systemd/system/multi-user.target.wants/fMvxBackupMain.service
if dpkg-query -W "$pkg" >/dev/null 2>&1; then
  echo "$pkg is installed on this machine: not touching it"
  exit 1
fi

work="$(mktemp -d)"
cleanup() {
  dpkg-query -W "$pkg" >/dev/null 2>&1 && dpkg --purge "$pkg" >/dev/null 2>&1
  rm -rf "$work"
}
trap cleanup EXIT

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
ok() { echo "ok: $*"; }
check() {  # DESCRIPTION COMMAND...
  local what="$1"
  shift
  if "$@"; then ok "$what"; else fail "$what"; fi
}
# Every place the package or its scripts write to, with type, mode, owner and link target.
snapshot() {
  find /opt /usr/bin /lib/systemd/system /etc/systemd /var/lib/systemd /usr/share/doc \
    /usr/share/lintian/overrides -xdev -printf '%p %y %m %u:%g %l\n' 2>/dev/null | LC_ALL=C sort
}
mode_owner() { [ "$(stat -c '%F %a %U:%G' "$1" 2>/dev/null)" = "$2" ]; }
link_to() { [ -L "$1" ] && [ "$(readlink "$1")" = "$2" ]; }
agent_version() { "$dir/MvxRazuRarevi" -version 2>&1 | grep -qF "$1"; }

version="$(cat "$build/packaging/version")"
next_version="$(cat "$build/packaging/next-version")"
deb="$("$source_dir/scripts/package.sh" deb "$build" "$work/first")"
next_deb="$("$source_dir/scripts/package.sh" deb "$build" "$work/next" --next)"
check "built $(basename "$deb") and $(basename "$next_deb")" test -f "$deb" -a -f "$next_deb"

# No error; every warning left is one the README explains.
if lintian --fail-on error "$deb" >"$work/lintian.txt" 2>&1; then ok "lintian: no error"
else cat "$work/lintian.txt"; fail "lintian reports errors"; fi
while read -r tag; do
  grep -qF "$tag" "$source_dir/README.md" || fail "lintian warning $tag is not explained in README.md"
done < <(awk '$1 == "W:" { print $3 }' "$work/lintian.txt" | sort -u)

before="$work/before.txt"
snapshot >"$before"

check "dpkg -i $(basename "$deb")" dpkg -i "$deb"
while read -r path want; do
  check "$path: $want" mode_owner "$path" "$want"
done <<TABLE
$dir/MvxRazuRarevi regular file 755 root:root
$dir/MvxRazuSettings regular file 755 root:root
$unit regular file 644 root:root
/usr/share/doc/$pkg/copyright regular file 644 root:root
TABLE
check "MvxRazuSettings on the PATH" link_to /usr/bin/MvxRazuSettings "$dir/MvxRazuSettings"
check "unit enabled for multi-user.target" link_to "$wants" "$unit"
MVX_SYSTEMD_UNIT_DIR="$work" "$dir/MvxRazuRarevi" -install -silent
check "the unit is the one -install writes for $dir" cmp "$unit" "$work/fMvxBackupMain.service"
check "-version says $version" agent_version "$version"

# The settings tool started through /usr/bin works on the file beside the agent, from anywhere.
mkdir -p "$work/backups"
(cd "$work" && MvxRazuSettings set RazuRarevi BKPath "$work/backups" &&
  MvxRazuSettings set DBServer Name '127.0.0.1,1433') >/dev/null
check "MvxRazuSettings wrote $dir/RazuRarevi.ini" test -s "$dir/RazuRarevi.ini"
check "MvxRazuSettings show reads it" bash -c "cd / && MvxRazuSettings show | grep -qF '$work/backups'"
# What the running agent leaves beside itself, and a backup.
for name in RazuRarevi.Log Mvx_RidOdadez.exe dbexpmss.dll RazuRarevi.ini.tmp-AbC123 \
  Mvx_RidOdadez.exe.download; do
  echo "$name" >"$dir/$name"
done
echo backup >"$work/backups/demo(20261207).ful"
cp "$dir/RazuRarevi.ini" "$work/settings.before"

check "dpkg -i $(basename "$next_deb") over it" dpkg -i "$next_deb"
check "upgrade kept the settings file byte for byte" cmp "$dir/RazuRarevi.ini" "$work/settings.before"
check "-version says $next_version" agent_version "$next_version"
check "unit still enabled" link_to "$wants" "$unit"

check "dpkg -r" dpkg -r "$pkg"
check "programs removed" test ! -e "$dir/MvxRazuRarevi" -a ! -e /usr/bin/MvxRazuSettings -a ! -e "$unit"
check "settings file and text log kept" test -f "$dir/RazuRarevi.ini" -a -f "$dir/RazuRarevi.Log"

check "dpkg -P" dpkg -P "$pkg"
check "dpkg -L knows nothing of it" bash -c "! dpkg -L $pkg >/dev/null 2>&1"
snapshot >"$work/after.txt"
if diff -u "$before" "$work/after.txt" >"$work/listing.diff"; then ok "purge left the machine as it was"
else cat "$work/listing.diff"; fail "purge left files behind or took some"; fi
check "the backup folder is untouched" test -f "$work/backups/demo(20261207).ful"

if [ "$failures" -ne 0 ]; then
  echo "Debian package: $failures check(s) failed"
  exit 1
fi
echo "Debian package test passed"
