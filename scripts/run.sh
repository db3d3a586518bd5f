#!/usr/bin/env bash
# Builds the player in Release and runs it: scripts/run.sh [applet] [options]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
bash "$root/scripts/setup.sh" >&2
cmake -S "$root" -B "$root/build/release" -G Ninja -DCMAKE_BUILD_TYPE=Release >&2
cmake --build "$root/build/release" --target quorvella >&2
exec "$root/build/release/bin/quorvella" "$@"
