#!/usr/bin/env bash
# The Debian package on this machine: lintian, install, upgrade to the next version, remove and
# purge with dpkg, as root. The machine must end as it was (a file listing taken before).
# Usage: tests/packaging/deb_package_test.sh BUILD_DIR
set -euo pipefail
source_dir="$(cd "$(dirname "$0")/../.." && pwd)"
build="$(cd "$1" && pwd)"
if [ "$(id -u)" -ne 0 ]; then exec sudo "$0" "$@"; fi
pkg=morvex-razu-rarevi dir=/opt/morvex/razu-rarevi unit=/lib/systemd/system/fMvxBackupMain.service
wants=/etc/systemd/system/multi-user.target.wants/fMvxBackupMain.service
if dpkg-query -W "$pkg" >/dev/null 2>&1; then echo "$pkg is installed here: not touching it"; exit 1; fi
work="$(mktemp -d)"
trap 'dpkg-query -W $pkg >/dev/null 2>&1 && dpkg --purge $pkg >/dev/null; rm -rf "$work"' EXIT

failures=0
check() {  # DESCRIPTION COMMAND...
  if "${@:2}" >>"$work/out.log" 2>&1; then echo "ok: $1"; else echo "FAIL: $1"; failures=$((failures + 1)); fi
}
snapshot() {
  find /opt /usr/bin /usr/share/doc /usr/share/man/man1 /lib/systemd/system /etc/systemd \
    /var/lib/systemd -xdev -printf '%p %y %m %u:%g %l\n' 2>/dev/null | LC_ALL=C sort
}
has() { [ "$(stat -c '%F %a %U:%G' "$1" 2>/dev/null)" = "$2" ]; }
links() { [ "$(readlink "$1")" = "$2" ]; }
says() { "$dir/MvxRazuRarevi" -version | grep -qF "$1"; }

deb="$("$source_dir/scripts/package.sh" deb "$build" "$work/first")"
next_deb="$("$source_dir/scripts/package.sh" deb "$build" "$work/next" --next)"
version="$(cat "$build/packaging/version")" next="$(cat "$build/packaging/next-version")"
# No error, and every warning is one the README explains.
check "lintian: no error" bash -c "lintian --fail-on error $deb >$work/lintian"
for tag in $(awk '$1 == "W:" { print $3 }' "$work/lintian" | sort -u); do
  check "lintian warning $tag explained in README.md" grep -qF "$tag" "$source_dir/README.md"
done

snapshot >"$work/before"
check "dpkg -i $(basename "$deb")" dpkg -i "$deb"
while read -r path want; do check "$path: $want" has "$path" "$want"; done <<TABLE
$dir/MvxRazuRarevi regular file 755 root:root
$dir/MvxRazuSettings regular file 755 root:root
$unit regular file 644 root:root
TABLE
check "MvxRazuSettings on the PATH" links /usr/bin/MvxRazuSettings "$dir/MvxRazuSettings"
check "unit enabled" links "$wants" "$unit"
MVX_SYSTEMD_UNIT_DIR="$work" "$dir/MvxRazuRarevi" -install -silent
check "the unit is the one -install writes for $dir" cmp "$unit" "$work/fMvxBackupMain.service"
check "-version says $version" says "$version"
# Through the /usr/bin link, from another folder: the file beside the agent.
check "MvxRazuSettings set" bash -c "cd / && MvxRazuSettings set RazuRarevi BKPath $work/backups"
check "MvxRazuSettings show" bash -c "cd / && MvxRazuSettings show | grep -qF $work/backups"
check "settings file beside the agent" test -s "$dir/RazuRarevi.ini"
# What a running agent leaves beside itself, and a backup.
for name in RazuRarevi.Log Mvx_RidOdadez.exe dbexpmss.dll RazuRarevi.ini.tmp-AbC123 dbexpmss.dll.download; do
  echo "$name" >"$dir/$name"
done
mkdir "$work/backups" && echo backup >"$work/backups/demo(20261207).ful"
cp "$dir/RazuRarevi.ini" "$work/settings"

check "upgrade to $next" dpkg -i "$next_deb"
check "upgrade kept the settings file byte for byte" cmp "$dir/RazuRarevi.ini" "$work/settings"
check "-version says $next" says "$next"
check "unit still enabled" links "$wants" "$unit"
check "dpkg -r" dpkg -r "$pkg"
check "programs and unit removed" test ! -e "$dir/MvxRazuRarevi" -a ! -e /usr/bin/MvxRazuSettings -a ! -e "$unit"
check "settings file and text log kept" test -f "$dir/RazuRarevi.ini" -a -f "$dir/RazuRarevi.Log"
check "dpkg -P" dpkg -P "$pkg"
check "dpkg -L knows nothing of it" bash -c "! dpkg -L $pkg"
snapshot >"$work/after"
check "purge left the machine as it was" diff -u "$work/before" "$work/after"
check "the backup folder untouched" test -f "$work/backups/demo(20261207).ful"
if [ "$failures" -ne 0 ]; then cat "$work/out.log"; echo "Debian package: $failures check(s) failed"; exit 1; fi
echo "Debian package test passed"
