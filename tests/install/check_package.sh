#!/usr/bin/env bash
# Builds the Debian package of the build and checks what a machine would get: the files,
# and dependencies found from the program's libraries plus the window's face.
#   check_package.sh BUILD_DIR
set -euo pipefail
build="$1"
out="$(mktemp -d)"
[ -d "$out" ] || exit 1
trap 'rm -rf "$out"' EXIT

cpack --config "$build/CPackConfig.cmake" -B "$out" >/dev/null
deb="$(ls "$out"/pictures-in-a-row_*.deb)"
depends="$(dpkg-deb -f "$deb" Depends)"
for needed in libqt6widgets6 libqt6gui6 libtiff6 fonts-liberation2; do
    grep -q "$needed" <<<"$depends" || { echo "Depends lacks $needed: $depends"; exit 1; }
done
contents="$(dpkg-deb -c "$deb")"
id=org.kelvaro.PicturesInARow
for f in ./usr/bin/pictures-in-a-row ./usr/share/pictures-in-a-row/drivers/camera.vin \
    ./usr/share/applications/$id.desktop ./usr/share/icons/hicolor/scalable/apps/$id.svg \
    ./usr/share/metainfo/$id.metainfo.xml ./usr/share/man/man1/pictures-in-a-row.1.gz; do
    grep -qF " $f" <<<"$contents" || { echo "missing from the package: $f"; exit 1; }
done
echo "package: ok ($(basename "$deb"), $(stat -c %s "$deb") bytes; Depends: $depends)"
