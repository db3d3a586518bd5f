#!/usr/bin/env bash
# Runs every listing of the repository in every torture mode under the sanitizers: plainly,
# with a collection at every check point, with the stack and call records moving at every
# check point and call, with both, and with each of its allocations failing in turn (every
# one up to 2,000, then 2,000 evenly spaced). The engine's listings (tests/*/listings) run
# through qvasm, one line per listing and mode; a library's listings run in its listing
# runner (tests/libs/*/listings_test.cpp, which also collects at every check point), under
# QV_STACK_TORTURE and QV_FAIL_SWEEP. Exits non-zero when any run fails. Not part of CI,
# which runs a bounded sample (ctest -L torture).
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
bash scripts/setup.sh --tests
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQV_SANITIZE=ON >/dev/null
runners=()
if [ ${#listings[@]} -eq 0 ]; then
    cmake --build "$build"
    mapfile -t listings < <(ls tests/*/listings/*.qvs)
    mapfile -t runners < <(ls "$build"/bin/*_listings_test)
else
    cmake --build "$build" --target qvasm
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
for runner in "${runners[@]}"; do
    if output=$(QV_STACK_TORTURE=1 QV_FAIL_SWEEP=all "$runner" 2>&1); then
        echo "ok    $runner"
    else
        echo "FAIL  $runner"
        echo "$output" | grep -v '^\[ *\(RUN\|OK\) ' | tail -40
        failed=$((failed + 1))
    fi
done
echo "torture: ${#listings[@]} listings, ${#runners[@]} library runners, $failed failed runs"
[ "$failed" -eq 0 ]
