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
companion_unit=/etc/systemd/system/RidOdadezMain.service
companion_wants=/etc/systemd/system/multi-user.target.wants/RidOdadezMain.service
if dpkg-query -W "$pkg" >/dev/null 2>&1; then echo "$pkg is installed here: not touching it"; exit 1; fi
for path in "$dir" "$companion_unit" /etc/systemd/system/fMvxBackupMain.service; do
  if [ -e "$path" ]; then echo "$path is here: not touching it"; exit 1; fi
done
work="$(mktemp -d)"
trap 'dpkg-query -W $pkg >/dev/null 2>&1 && dpkg --purge $pkg >/dev/null; rm -rf "$work" "$dir/backups"; rm -f "$companion_unit" "$companion_wants" /etc/systemd/system/fMvxBackupMain.service; rmdir "$dir" /opt/morvex 2>/dev/null || true' EXIT

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
# Through the /usr/bin link, from another folder: the file beside the agent, root's alone. The
# backup folder inside the program folder, as an administrator may choose.
check "MvxRazuSettings set" bash -c "cd / && MvxRazuSettings set RazuRarevi BKPath $dir/backups"
check "MvxRazuSettings show" bash -c "cd / && MvxRazuSettings show | grep -qF $dir/backups"
check "settings file beside the agent, root's alone" has "$dir/RazuRarevi.ini" "regular file 600 root:root"
check "-uninstall beside the package's unit says it stays" bash -c \
  "mkdir $work/own && MVX_SYSTEMD_UNIT_DIR=$work/own $dir/MvxRazuRarevi -uninstall | grep -qF 'belongs to the package'"
# What a running agent leaves beside itself, as it writes it: its log, the companion's program,
# library and service (unit and enable link), unfinished rewrites and downloads; and a backup.
for name in RazuRarevi.Log Mvx_RidOdadez.exe dbexpmss.dll RazuRarevi.ini.tmp-AbC123 \
  Mvx_RidOdadez.exe.download-XyZ789 dbexpmss.dll.download-Q1w2E3; do
  echo "$name" >"$dir/$name"
done
printf '[Unit]\nDescription=Morvex SetRazuRarevi\n\n[Service]\nType=simple\nExecStart="%s"\nUser=root\n\n[Install]\nWantedBy=multi-user.target\n' \
  "$dir/Mvx_RidOdadez.exe" >"$companion_unit"
ln -s "$companion_unit" "$companion_wants"
mkdir "$dir/backups" && echo backup >"$dir/backups/demo(20261207).ful"
cp "$dir/RazuRarevi.ini" "$work/settings"
# A unit that -install wrote by hand, which the package's postinst must point out.
MVX_SYSTEMD_UNIT_DIR=/etc/systemd/system "$dir/MvxRazuRarevi" -install -silent

check "upgrade to $next warns of the unit -install wrote" bash -c \
  "dpkg -i $next_deb 2>&1 | tee $work/upgrade.log | grep -qF 'shadows the package'"
MVX_SYSTEMD_UNIT_DIR=/etc/systemd/system "$dir/MvxRazuRarevi" -uninstall -silent
check "upgrade kept the settings file byte for byte" cmp "$dir/RazuRarevi.ini" "$work/settings"
check "-version says $next" says "$next"
check "unit still enabled" links "$wants" "$unit"
check "dpkg -r" dpkg -r "$pkg"
check "programs and unit removed" test ! -e "$dir/MvxRazuRarevi" -a ! -e /usr/bin/MvxRazuSettings -a ! -e "$unit"
check "settings file and text log kept" test -f "$dir/RazuRarevi.ini" -a -f "$dir/RazuRarevi.Log"
check "companion disabled, its unit and program kept" test ! -L "$companion_wants" -a -f "$companion_unit" -a -f "$dir/Mvx_RidOdadez.exe"
check "dpkg -P" dpkg -P "$pkg"
check "dpkg -L knows nothing of it" bash -c "! dpkg -L $pkg"
check "the backup folder untouched" test -f "$dir/backups/demo(20261207).ful"
check "purge left only the backup folder" bash -c "[ \"\$(cd $dir && find . | sort | tr '\n' ' ')\" = '. ./backups ./backups/demo(20261207).ful ' ]"
rm -r "$dir/backups" && rmdir "$dir" /opt/morvex
snapshot >"$work/after"
check "purge left the machine as it was" diff -u "$work/before" "$work/after"
# Start on install, restart on upgrade and stop on remove need a systemd that runs; this machine's
# does not, and a throw-away root booted with systemd-nspawn needs tools it may lack.
why=""
command -v systemd-nspawn >/dev/null || why="systemd-nspawn is not installed (Debian package systemd-container)"
command -v mmdebstrap >/dev/null || why="${why:+$why; }mmdebstrap is not installed"
[ -n "$why" ] || why="a booted throw-away root is not part of this test yet"
if [ -d /run/systemd/system ]; then why="systemd runs here, but this test never starts the agent on the host"; fi
echo "NOT RUN: start on install, restart on upgrade and stop on remove under systemd: $why"
if [ "$failures" -ne 0 ]; then cat "$work/out.log"; echo "Debian package: $failures check(s) failed"; exit 1; fi
echo "Debian package test passed"
