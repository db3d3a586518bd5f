#!/usr/bin/env bash
# Runs every listing of the repository (tests/**/listings/*.qvs and any other listings/
# folder) in every torture mode under the sanitizers: plainly, with a collection at every
# check point, with the stack and call records moving at every check point and call, with
# both, and with each of its allocations failing in turn (every one up to 2,000, then 2,000
# evenly spaced). Prints one line per listing and mode; exits non-zero when any run fails.
# Not part of CI, which runs a bounded sample (ctest -L torture).
#   scripts/torture.sh [--build DIR] [LISTING...]
set -euo pipefail
cd "$(dirname "$0")/.."
build=build/debug
listings=()
while [ $# -gt 0 ]; do
    case "$1" in
        --build) build="$2"; shift 2 ;;
        *) listings+=("$1"); shift ;;
    esac
done
bash scripts/setup.sh
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQV_SANITIZE=ON >/dev/null
cmake --build "$build" --target qvasm
if [ ${#listings[@]} -eq 0 ]; then
    mapfile -t listings < <(find . -path ./build -prune -o -path '*/listings/*.qvs' -print |
        sort)
fi
modes=("--check" "--gc-torture --check" "--stack-torture --check"
    "--gc-torture --stack-torture --check" "--fail-alloc all")
failed=0
for listing in "${listings[@]}"; do
    for mode in "${modes[@]}"; do
        # shellcheck disable=SC2086 # a mode is several words
        if output=$("$build/bin/qvasm" run $mode "$listing" 2>&1); then
            echo "ok    $listing $mode"
        else
            echo "FAIL  $listing $mode"
            echo "$output" | tail -20
            failed=$((failed + 1))
        fi
    done
done
echo "torture: ${#listings[@]} listings, $failed failed runs"
[ "$failed" -eq 0 ]
