#!/usr/bin/env bash
# Installs the Debian 12 packages the build, the tests and the main job need, when any is
# missing. Packages are installed without their recommended packages, so everything used must
# be named here (scripts/check_deps.sh verifies this against what CMake found).
set -euo pipefail

PACKAGES=(
    build-essential cmake ninja-build pkg-config
    clang libclang-rt-14-dev
    googletest libgtest-dev libgmock-dev libbenchmark-dev
    qt6-base-dev qt6-base-dev-tools qt6-charts-dev libqt6opengl6-dev libgl-dev
    libcurl4-openssl-dev python3-aiosmtpd
    # Boost.Math, header-only, and GSL: the group tests and the dose-response fits
    libboost-dev libboost-math-dev libgsl-dev
    xvfb xauth imagemagick
    python3
    help2man mandoc dpkg-dev file lintian appstream desktop-file-utils
)

# "deps.sh --list" prints the list, one package a line, and installs nothing.
if [[ ${1:-} == --list ]]; then
    printf '%s\n' "${PACKAGES[@]}"
    exit 0
fi

missing=()
for p in "${PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]} == 0)); then
    exit 0
fi

echo "Installing: ${missing[*]}"
SUDO=()
if [[ $(id -u) -ne 0 ]]; then
    SUDO=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive
"${SUDO[@]}" apt-get update -qq
"${SUDO[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
