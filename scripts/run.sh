#!/usr/bin/env bash
# Builds the player in Release and runs it: scripts/run.sh [applet] [options]
# Without an applet (no arguments, or options only) it runs the bundled demo.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
bash "$root/scripts/setup.sh" >&2
cmake -S "$root" -B "$root/build/release" -G Ninja -DCMAKE_BUILD_TYPE=Release >&2
cmake --build "$root/build/release" --target quorvella demo >&2
bin="$root/build/release/bin"
if [[ $# -eq 0 || "$1" == -* ]]; then
    set -- "$bin/demo.qva" "$@"
fi
exec "$bin/quorvella" "$@"
