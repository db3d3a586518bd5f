#!/usr/bin/env bash
# Builds the player in Release and runs it: scripts/run.sh [applet] [options]
# Without an applet (no arguments, or options only) it runs the bundled demo.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
bash "$root/scripts/setup.sh" >&2
cmake -S "$root" -B "$root/build/release" -G Ninja -DCMAKE_BUILD_TYPE=Release >&2
cmake --build "$root/build/release" --target quorvella demo vectorgraphics >&2
bin="$root/build/release/bin"
# The vector back end goes where the player looks for plugins by default (LIBS: is
# PROGDIR:libs), so that the demo draws its path.
install -D -m 644 "$root/build/release/plugins/Quorvella/vectorgraphics.qvp" \
    "$bin/libs/Quorvella/vectorgraphics.qvp"
if [[ $# -eq 0 || "$1" == -* ]]; then
    set -- "$bin/demo.qva" "$@"
fi
exec "$bin/quorvella" "$@"
