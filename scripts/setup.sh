#!/usr/bin/env bash
# Installs the system packages of one or more purposes: the one place that lists them, each
# package once.
#   scripts/setup.sh [--tests] [--bench] [--fuzz] [--all] [--list]
# Without an option it installs what building and running the player needs (scripts/run.sh);
# --tests adds the tests' oracles, servers and tools, --bench the benchmarks' peers, --fuzz
# the fuzzers' compiler, --all everything (scripts/test.sh, and so CI). --list prints the
# chosen packages, one a line, and installs nothing. Idempotent: apt-get runs only when
# something is missing, through sudo when not run as root, and waits while another installer
# holds the package manager's lock.
set -euo pipefail

# Building the player and its tools, and configuring the whole tree (its tests need
# GoogleTest and clang-format, a Release tree's benchmarks Google Benchmark and pango).
build=(
    g++ cmake ninja-build
    zlib1g-dev libpng-dev libjpeg62-turbo-dev libgif-dev libfreetype-dev
    libpixman-1-dev libsdl2-dev libx11-dev  # the graphics engine and the window back end
    libopencv-dev                           # the drawing library's rasteriser
    libcairo2-dev                           # the vector back-end plugin
    ttf-bitstream-vera                      # the built-in faces, embedded at build time
    xdg-utils                               # xdg-open, the default URL opener
    libgtest-dev libgmock-dev clang-format libbenchmark-dev libpango1.0-dev
    libstb-dev                              # stb_truetype, the glyph oracle test's header
)
# Running the tests: the style check, oracles, servers and peers.
tests=(
    netpbm python3-pil python3-numpy imagemagick libjpeg-turbo-progs python3-opencv
    giflib-tools pngcheck jpeginfo  # picture readers and checkers
    socat netcat-openbsd            # loopback peers of the network tests
    nginx tinyproxy vsftpd python3-pyftpdlib curl  # servers and reference client of transfers
    attr                            # getfattr and setfattr
    regina-rexx                     # rexx, which qvrexxd runs REXX scripts with
    fonts-amiga python3-fonttools fonts-dejavu-core  # font sources and oracles
    xvfb x11-apps xdotool           # the X server, screenshots and input of the x11 tests
)
# The tests' scripts and oracles, and the benchmarks' peer (CPython): all --bench adds.
python=(python3)
# Building the fuzzers.
fuzz=(clang libclang-rt-14-dev)

chosen=("${build[@]}")
list=false
for option in "$@"; do
    case "$option" in
        --tests) chosen+=("${python[@]}" "${tests[@]}") ;;
        --bench) chosen+=("${python[@]}") ;;
        --fuzz) chosen+=("${fuzz[@]}") ;;
        --all) chosen+=("${python[@]}" "${tests[@]}" "${fuzz[@]}") ;;
        --list) list=true ;;
        *) echo "usage: scripts/setup.sh [--tests] [--bench] [--fuzz] [--all] [--list]" >&2
           exit 1 ;;
    esac
done
mapfile -t chosen < <(printf '%s\n' "${chosen[@]}" | awk '!seen[$0]++')
if $list; then
    printf '%s\n' "${chosen[@]}"
    exit 0
fi

missing=()
for p in "${chosen[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$p")
    fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

as_root=(env DEBIAN_FRONTEND=noninteractive)
if [ "$(id -u)" -ne 0 ]; then
    if ! command -v sudo >/dev/null; then
        echo "setup: installing ${missing[*]} needs root or sudo" >&2
        exit 1
    fi
    as_root=(sudo "${as_root[@]}")
fi

# apt-get, waiting (up to half an hour) while another installer holds a lock: apt-get itself
# waits for dpkg's lock, this loop also for the lists' lock of a running update.
apt_get() {
    local log status
    log="$(mktemp)"
    for _ in $(seq 180); do
        status=0
        "${as_root[@]}" apt-get -o DPkg::Lock::Timeout=600 "$@" 2>&1 | tee "$log" || status=$?
        if [ "$status" -eq 0 ] || ! grep -qE 'Could not get lock|Unable to (lock|acquire)' "$log"; then
            rm -f "$log"
            return "$status"
        fi
        echo "setup: another installer is running; waiting" >&2
        sleep 10
    done
    rm -f "$log"
    return 1
}

echo "setup: installing ${missing[*]}"
apt_get update
apt_get install -y --no-install-recommends "${missing[@]}"
