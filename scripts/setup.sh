#!/usr/bin/env bash
# Installs every system package that the build, the tests and the benchmarks need.
# The one place that lists system packages. Idempotent; apt-get update runs only when
# something is missing.
set -euo pipefail

packages=(
    g++ cmake ninja-build
    libgtest-dev libgmock-dev libbenchmark-dev
    clang-format python3
    clang libclang-rt-14-dev  # the fuzz targets (scripts/fuzz.sh)
    zlib1g-dev
    libpixman-1-dev libsdl2-dev libx11-dev netpbm python3-pil python3-numpy
    imagemagick libjpeg-turbo-progs python3-opencv  # the filter and quantiser oracles
    libpng-dev libjpeg62-turbo-dev libfreetype-dev ttf-bitstream-vera  # pictures, fonts
    libopencv-dev  # the reference of the geometry and scaling tests and benchmarks
    libcairo2-dev  # the vector back-end plugin
    libcairo2-dev  # the reference of the drawing tests and benchmarks
    libgif-dev giflib-tools pngcheck jpeginfo  # the GIF writer and the picture-writer oracles
    socat netcat-openbsd  # loopback peers of the network tests
    nginx tinyproxy vsftpd python3-pyftpdlib curl  # servers and reference client of the transfers
    attr  # getfattr and setfattr, the oracles of the file-attribute tests
    regina-rexx  # rexx, which qvrexxd runs REXX scripts with
    xdg-utils  # xdg-open, the default URL opener
    fonts-amiga libcairo2-dev libstb-dev  # the built-in font's source, the text peers and oracle
    xvfb x11-apps xdotool  # the X server, screenshots and input of the sdl back end's tests
    python3-fonttools fonts-dejavu-core  # the font scan's oracle and test faces
    libpango1.0-dev  # the peer of the text layout benchmarks
)

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$p")
    fi
done

if [ ${#missing[@]} -gt 0 ]; then
    echo "setup: installing ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update
    apt-get install -y --no-install-recommends "${missing[@]}"
fi
