#!/usr/bin/env bash
# Builds the sanitized Debug tree and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh --all
cmake -S . -B build/debug -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQV_SANITIZE=ON
cmake --build build/debug
cd build/debug
ctest --output-on-failure -j"$(nproc)"
