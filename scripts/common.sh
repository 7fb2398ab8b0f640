# Shared by run.sh and test.sh: install what a fresh Debian 12 machine lacks, then build.
set -euo pipefail

VCOM_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
VCOM_BUILD=${VCOM_BUILD:-$VCOM_ROOT/build}

VCOM_PACKAGES=(
    cmake g++ make pkg-config
    qtbase5-dev libqt5serialport5-dev qttools5-dev-tools qttools5-dev qttranslations5-l10n
    socat xvfb xauth
    python3-serial
)

vcom_install_deps() {
    local missing=()
    for p in "${VCOM_PACKAGES[@]}" "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing: ${missing[*]}"
    local sudo=""
    [ "$(id -u)" -eq 0 ] || sudo=sudo
    $sudo apt-get update -q
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
}

# vcom_build DIR [cmake options...]
vcom_build() {
    local dir=$1
    shift
    cmake -S "$VCOM_ROOT" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@"
    cmake --build "$dir" -j "$(nproc)"
}
