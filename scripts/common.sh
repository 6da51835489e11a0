# Shared by scripts/run and scripts/test: installs what is missing and builds.
# shellcheck shell=bash

PIR_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

# Debian packages the build, the tests and the camera emulator need; the remote-control test
# runs a private session bus and drives it with gdbus and python3-dbus.
PIR_PACKAGES=(
    build-essential cmake pkg-config
    qt6-base-dev qt6-base-dev-tools libgl-dev
    libtiff-dev libturbojpeg0-dev libcomedi-dev
    libaravis-dev libusb-1.0-0-dev aravis-tools
    libbenchmark-dev
    xvfb xauth
    fonts-liberation2
    desktop-file-utils appstream dpkg-dev file lintian
    iproute2 util-linux
    dbus libglib2.0-bin python3 python3-dbus python3-gi gir1.2-glib-2.0
    clang libclang-rt-14-dev
    python3-xmlschema python3-tifffile python3-numpy
)

pir_install_packages() {
    local missing=()
    local p
    for p in "${PIR_PACKAGES[@]}"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing: ${missing[*]}"
    local sudo=()
    [ "$(id -u)" -ne 0 ] && sudo=(sudo)
    "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -qq
    "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

# pir_build BUILD_DIR [extra cmake arguments...]; PIR_TARGET limits the build to one target.
pir_build() {
    local dir="$1"
    shift
    cmake -S "$PIR_ROOT" -B "$dir" -DCMAKE_BUILD_TYPE=Release "$@"
    cmake --build "$dir" -j"$(nproc)" ${PIR_TARGET:+--target "$PIR_TARGET"}
}
