#!/usr/bin/env bash
# Builds the installable packages from the presets' builds.
#   scripts/package.sh
#       builds the programs of the default and the windows preset and writes
#       dist/morvex-razu-rarevi_<version>_<arch>.deb and dist/MvxRazuRarevi-<version>-x64.msi
#   scripts/package.sh deb|msi BUILD_DIR OUT_DIR [--next]
#       one package from an existing build folder of the matching platform; --next packages the
#       agent built with the next version number (the upgrade tests install it over the first)
set -euo pipefail
source_dir="$(cd "$(dirname "$0")/.." && pwd)"
deb_name=morvex-razu-rarevi
install_dir=opt/morvex/razu-rarevi

scratch=""
cleanup() { [ -z "$scratch" ] || rm -rf "$scratch"; }
trap cleanup EXIT

package_version() {  # BUILD_DIR NEXT
  local file="$1/packaging/version"
  [ "$2" = yes ] && file="$1/packaging/next-version"
  cat "$file"
}

build_deb() {  # BUILD_DIR OUT_DIR NEXT
  local build="$1" out="$2" next="$3"
  local targets=(MvxRazuRarevi MvxRazuSettings mvx_systemd_unit)
  [ "$next" = yes ] && targets+=(MvxRazuRareviNext)
  cmake --build "$build" --target "${targets[@]}" >/dev/null
  local version arch root doc
  version="$(package_version "$build" "$next")"
  arch="$(dpkg --print-architecture)"
  scratch="$(mktemp -d)"
  root="$scratch/root"
  DESTDIR="$root" cmake --install "$build" --prefix / --strip >/dev/null
  if [ "$next" = yes ]; then
    install -m 0755 "$build/bin/MvxRazuRareviNext" "$root/$install_dir/MvxRazuRarevi"
    strip "$root/$install_dir/MvxRazuRarevi"
  fi
  doc="$root/usr/share/doc/$deb_name"
  install -d "$doc" "$root/usr/share/lintian/overrides" "$root/usr/share/man/man1" "$root/DEBIAN"
  gzip -9n <"$source_dir/packaging/debian/MvxRazuSettings.1" >"$root/usr/share/man/man1/MvxRazuSettings.1.gz"
  install -m 0644 "$source_dir/packaging/debian/copyright" "$doc/copyright"
  sed "s/@VERSION@/$version/; s/@DATE@/$(date -R -d @"${SOURCE_DATE_EPOCH:-$(date +%s)}")/" \
    "$source_dir/packaging/debian/changelog.in" | gzip -9n >"$doc/changelog.gz"
  install -m 0644 "$source_dir/packaging/debian/lintian-overrides" \
    "$root/usr/share/lintian/overrides/$deb_name"
  install -m 0755 "$source_dir/packaging/debian/postinst" "$source_dir/packaging/debian/prerm" \
    "$source_dir/packaging/debian/postrm" "$root/DEBIAN/"
  # A package's files are root's and readable by all; only the programs are executable.
  find "$root" -type d -exec chmod 0755 {} +
  find "$root" -type f ! -path "$root/DEBIAN/*" -exec chmod 0644 {} +
  chmod 0755 "$root/$install_dir/MvxRazuRarevi" "$root/$install_dir/MvxRazuSettings"

  # Libraries the programs link, as dpkg-shlibdeps finds them; the ODBC driver is loaded at run
  # time, so it is named by hand.
  mkdir -p "$scratch/debian"
  printf 'Source: %s\n\nPackage: %s\nArchitecture: any\n' "$deb_name" "$deb_name" \
    >"$scratch/debian/control"
  local shlibs
  shlibs="$(cd "$scratch" && dpkg-shlibdeps -O "root/$install_dir/MvxRazuRarevi" \
    "root/$install_dir/MvxRazuSettings" | sed -n 's/^shlibs:Depends=//p')"
  (cd "$root" && find . -type f ! -path './DEBIAN/*' -printf '%P\0' | LC_ALL=C sort -z |
    xargs -0 md5sum >DEBIAN/md5sums)
  chmod 0644 "$root/DEBIAN/md5sums"
  sed -e "s/@VERSION@/$version/" -e "s/@ARCH@/$arch/" -e "s/@DEPENDS@/$shlibs, tdsodbc/" \
    -e "s/@SIZE@/$(du -sk --exclude=DEBIAN "$root" | cut -f1)/" \
    "$source_dir/packaging/debian/control.in" >"$root/DEBIAN/control"
  mkdir -p "$out"
  local deb
  deb="$(cd "$out" && pwd)/${deb_name}_${version}_${arch}.deb"
  dpkg-deb --root-owner-group -Zxz --build "$root" "$deb" >/dev/null
  echo "$deb"
  rm -rf "$scratch"
  scratch=""
}

build_msi() {  # BUILD_DIR OUT_DIR NEXT
  local build="$1" out="$2" next="$3"
  local agent=MvxRazuRarevi
  [ "$next" = yes ] && agent=MvxRazuRareviNext
  cmake --build "$build" --target "$agent" MvxRazuSettings MvxInstallerActions >/dev/null
  local version head upgrade_below msi
  version="$(package_version "$build" "$next")"
  # Windows Installer compares three numbers: a version is replaced by every package below the
  # next third number (see the .wxs).
  IFS=. read -r -a head <<<"$version"
  upgrade_below="${head[0]}.${head[1]}.$((head[2] + 1))"
  scratch="$(mktemp -d)"
  cp "$build/bin/$agent.exe" "$scratch/MvxRazuRarevi.exe"
  cp "$build/bin/MvxRazuSettings.exe" "$build/bin/MvxInstallerActions.dll" "$scratch/"
  mkdir -p "$out"
  msi="$(cd "$out" && pwd)/MvxRazuRarevi-$version-x64.msi"
  # wixl looks for the files in the current folder.
  if ! (cd "$scratch" && wixl -a x64 -D Version="$version" -D UpgradeBelow="$upgrade_below" \
    -o "$msi" "$source_dir/packaging/windows/MvxRazuRarevi.wxs" >wixl.log 2>&1); then
    cat "$scratch/wixl.log"
    exit 1
  fi
  echo "$msi"
  rm -rf "$scratch"
  scratch=""
}

if [ $# -eq 0 ]; then
  cd "$source_dir"
  cmake --preset default >/dev/null
  cmake --preset windows >/dev/null
  build_deb build dist no
  build_msi build-windows dist no
  exit 0
fi
[ $# -ge 3 ] || { sed -n '2,8p' "$0"; exit 2; }
next=no
[ "${4:-}" = --next ] && next=yes
case "$1" in
  deb) build_deb "$2" "$3" "$next" ;;
  msi) build_msi "$2" "$3" "$next" ;;
  *) sed -n '2,8p' "$0"; exit 2 ;;
esac
