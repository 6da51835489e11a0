#!/usr/bin/env bash
# Installs the build into a staging directory and checks the tree as a user's machine gets it:
# the files are there, the desktop entry and the AppStream metadata are valid, the man page
# describes every option of --help, and the installed program runs headless and finds its
# default driver beside its bin/.
#   check_install.sh BUILD_DIR
set -euo pipefail
build="$1"
stage="$(mktemp -d)"
[ -d "$stage" ] || exit 1
trap 'rm -rf "$stage"' EXIT

cmake --install "$build" --prefix "$stage" >/dev/null
id="$(sed -n 's/^PIR_APP_ID:[A-Z]*=//p' "$build/CMakeCache.txt")"
for f in bin/pictures-in-a-row share/pictures-in-a-row/drivers/camera.vin \
    share/applications/$id.desktop share/icons/hicolor/scalable/apps/$id.svg \
    share/metainfo/$id.metainfo.xml share/man/man1/pictures-in-a-row.1.gz \
    share/dbus-1/interfaces/$id.Series.xml share/dbus-1/interfaces/$id.Setup.xml; do
    [ -s "$stage/$f" ] || { echo "missing from the install tree: $f"; exit 1; }
done
desktop-file-validate "$stage/share/applications/$id.desktop"
appstreamcli validate --no-net "$stage/share/metainfo/$id.metainfo.xml" >/dev/null
# Each interface file is well-formed and describes the interface it is named after.
for interface in Series Setup; do
    /usr/bin/python3 -c 'import sys, xml.etree.ElementTree as t
names = [i.get("name") for i in t.parse(sys.argv[1]).getroot().iter("interface")]
sys.exit(0 if names == [sys.argv[2]] else "%s describes %s" % (sys.argv[1], names))' \
        "$stage/share/dbus-1/interfaces/$id.$interface.xml" "$id.$interface"
done

app="$stage/bin/pictures-in-a-row"
run() { env -u PIR_DRIVERS_DIR -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$app" "$@"; }
version="$(run --version)"
[[ "$version" == "pictures-in-a-row "[0-9]* ]] || { echo "--version printed: $version"; exit 1; }
check="$(run --check)"
[[ "$check" == "$stage/share/pictures-in-a-row/drivers/camera.vin: "* ]] || { echo "--check printed: $check"; exit 1; }

# Every option of --help is in the man page, with the same description.
help="$(run --help)"
man="$(zcat "$stage/share/man/man1/pictures-in-a-row.1.gz" | sed -e 's/\\-/-/g' -e 's/\\f[BIR]//g' | tr -s ' \n' ' ')"
column="$(awk '/^  -h, --help/ { print index($0, "Displays") }' <<<"$help")"
while read -r option; do
    grep -qF -- "$option" <<<"$man" || { echo "the man page lacks $option"; exit 1; }
done < <(grep -oE -- '--[a-z-]+' <<<"$help" | sort -u)
while read -r description; do
    grep -qF -- "$description" <<<"$man" || { echo "the man page lacks: $description"; exit 1; }
done < <(awk -v c="$column" '
    options && /^  -/ { if (d) print d; d = substr($0, c) }
    options && !/^  -/ && NF { d = d " " substr($0, c) }
    /^Options:/ { options = 1 }
    /^Arguments:/ { options = 0 }
    END { print d }' <<<"$help")
echo "install tree: ok ($version; $check)"
