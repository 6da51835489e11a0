#!/usr/bin/env bash
# Builds the Debian package of the build and checks what a machine would get: the files and
# documents, dependencies found from the program's libraries plus the window's face, the
# identity the build was configured with, and lintian's verdict. Then configures a second tree
# with another identity and checks that nothing of the placeholder one is left in what it makes.
#   check_package.sh BUILD_DIR
set -euo pipefail
build="$1"
out="$(mktemp -d)"
[ -d "$out" ] || exit 1
trap 'rm -rf "$out"' EXIT
cached() { sed -n "s/^$1:[A-Z]*=//p" "$build/CMakeCache.txt"; }
id="$(cached PIR_APP_ID)"
maintainer="$(cached PIR_MAINTAINER)"

cpack --config "$build/CPackConfig.cmake" -B "$out" >/dev/null
deb="$(ls "$out"/pictures-in-a-row_*.deb)"
depends="$(dpkg-deb -f "$deb" Depends)"
for needed in libqt6widgets6 libqt6gui6 libtiff6 fonts-liberation2; do
    grep -q "$needed" <<<"$depends" || { echo "Depends lacks $needed: $depends"; exit 1; }
done
[ "$(dpkg-deb -f "$deb" Maintainer)" = "$maintainer" ] || { echo "Maintainer is not $maintainer"; exit 1; }
contents="$(dpkg-deb -c "$deb")"
doc=./usr/share/doc/pictures-in-a-row
for f in ./usr/bin/pictures-in-a-row ./usr/share/pictures-in-a-row/drivers/camera.vin \
    ./usr/share/applications/$id.desktop ./usr/share/icons/hicolor/scalable/apps/$id.svg \
    ./usr/share/metainfo/$id.metainfo.xml ./usr/share/man/man1/pictures-in-a-row.1.gz \
    $doc/copyright $doc/changelog.Debian.gz $doc/README.md.gz $doc/driver-files.md.gz \
    $doc/mio-format.md.gz $doc/tif-metadata.md.gz $doc/remote-control.md.gz \
    ./usr/share/dbus-1/interfaces/$id.Series.xml ./usr/share/dbus-1/interfaces/$id.Setup.xml \
    ./usr/share/lintian/overrides/pictures-in-a-row; do
    grep -qF " $f" <<<"$contents" || { echo "missing from the package: $f"; exit 1; }
done

# The copyright file is in Debian's machine-readable form and the changelog belongs to this
# version, both under the configured maintainer.
dpkg-deb -x "$deb" "$out/root"
copyright="$out/root/$doc/copyright"
head -n1 "$copyright" | grep -qx 'Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/' \
    || { echo "copyright is not in the machine-readable format"; exit 1; }
grep -qxF "Upstream-Contact: $maintainer" "$copyright" || { echo "copyright lacks $maintainer"; exit 1; }
version="$(dpkg-deb -f "$deb" Version)"
changelog="$(zcat "$out/root/$doc/changelog.Debian.gz")"
[[ "$changelog" == "pictures-in-a-row ($version) "* ]] || { echo "the changelog is not of $version"; exit 1; }
grep -qF " -- $maintainer  " <<<"$changelog" || { echo "the changelog is not signed by $maintainer"; exit 1; }

# lintian fails on an error or a warning: every warning that does not apply is overridden in the
# package, with the reason beside it.
command -v lintian >/dev/null || { echo "lintian is missing (scripts/test installs it)"; exit 1; }
lintian --fail-on error,warning "$deb" || { echo "lintian found errors or warnings in $(basename "$deb")"; exit 1; }

# Another identity, configured only: the files it makes carry it, and none of the placeholder's.
source="$(cached CMAKE_HOME_DIRECTORY)"
cmake -S "$source" -B "$out/other" -DPIR_BUILD_TESTS=OFF -DPIR_APP_ID=org.example.lab.Pictures \
    -DPIR_DEVELOPER_NAME="Example Lab" -DPIR_MAINTAINER="Example Lab <pictures@lab.example.org>" >/dev/null
for f in data/org.example.lab.Pictures.desktop data/org.example.lab.Pictures.metainfo.xml \
    data/org.example.lab.Pictures.Series.xml data/org.example.lab.Pictures.Setup.xml \
    doc/copyright doc/changelog.Debian; do
    [ -s "$out/other/$f" ] || { echo "another identity: $f was not made"; exit 1; }
done
if grep -ril kelvaro "$out/other/data" "$out/other/doc" "$out/other/CPackConfig.cmake"; then
    echo "another identity: the files above still name the placeholder"
    exit 1
fi
echo "package: ok ($(basename "$deb"), $(stat -c %s "$deb") bytes; Depends: $depends)"
