#!/usr/bin/env bash
# Builds Release and runs every benchmark beside its peer; prints the ratios peer/ours and
# writes build/release/bench-results.tsv.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh --tests --bench  # the whole tree, its tests included, is built
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release
cmake --build build/release
out=build/release/bench-results.tsv
json=build/release/bench-gbench.json
build/release/bin/qv_bench --benchmark_format=json --benchmark_out="$json" \
    --benchmark_out_format=json >/dev/null
python3 scripts/bench_report.py "$json" "$out"
python3 bench/engine/run_engine_bench.py build/release "$out"
python3 bench/string/run_string_bench.py build/release "$out"
python3 bench/system/run_system_bench.py build/release "$out"
python3 bench/network/run_network_bench.py build/release "$out"
python3 bench/dos/run_dos_bench.py build/release "$out"
