#!/usr/bin/env bash
# Builds the Debian package from BUILD_DIR into a temporary folder and checks
# its control data and file list: dependencies found by dpkg-shlibdeps plus
# the X11 platform plugin, the three programs, the desktop entry, the icons,
# the manual pages and, when the build made it, the delivered table.
# Usage: check_package.sh BUILD_DIR
set -euo pipefail
build=$(cd "$1" && pwd)
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
(cd "$build" && cpack -G DEB -B "$out" >"$out/cpack.log" 2>&1) || { cat "$out/cpack.log"; exit 1; }
deb=$(ls "$out"/tarn_*.deb)
fail=0
depends=$(dpkg-deb -f "$deb" Depends)
for need in qt6-qpa-plugins libqt6widgets6 libqt6core6 libicu libc6 libstdc++6 zlib1g; do
  case "$depends" in
    *"$need"*) ;;
    *) echo "Depends lacks $need: $depends"; fail=1 ;;
  esac
done
[ "$(dpkg-deb -f "$deb" Package)" = tarn ] || { echo "package name"; fail=1; }
files=$(dpkg-deb -c "$deb" | awk '{print $6}')
want="./usr/bin/tarn ./usr/bin/tarn-derive ./usr/bin/cairn
  ./usr/share/applications/tarn.desktop ./usr/share/icons/hicolor/scalable/apps/tarn.svg
  ./usr/share/icons/hicolor/48x48/apps/tarn.png ./usr/share/man/man1/tarn.1.gz
  ./usr/share/man/man1/tarn-derive.1.gz ./usr/share/man/man1/cairn.1.gz"
[ -f "$build/bin/Data/Pal.DAT" ] && want="$want ./usr/share/tarn/Data/Pal.DAT"
for f in $want; do
  grep -qx -- "$f" <<<"$files" || { echo "package lacks $f"; fail=1; }
done
# Nothing from the build folder or the tests.
if grep -q -e '_test$' -e 'build' <<<"$files"; then
  echo "package carries build or test files"; fail=1
fi
[ "$fail" -eq 0 ] && echo "package $(basename "$deb") checked"
exit "$fail"
