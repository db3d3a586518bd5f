#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, AddressSanitizer, UndefinedBehaviorSanitizer) and runs
# each for a while: scripts/fuzz.sh [--time SECONDS] [TARGET...]. Corpora are kept in
# build/fuzz/corpus/TARGET, findings go to build/fuzz/crashes/TARGET; the script exits
# non-zero when there is any. Each finding becomes a file in the target's regression folder
# (see tests/fuzz/CMakeLists.txt). An input that runs longer than a minute is a finding too
# (a hang). Not part of CI.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=300
targets=()
while [ $# -gt 0 ]; do
    case "$1" in
        --time) seconds="$2"; shift 2 ;;
        *) targets+=("$1"); shift ;;
    esac
done
bash scripts/setup.sh --fuzz
CC=clang CXX=clang++ cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DQV_FUZZ=ON -DQV_SANITIZE=ON
if [ ${#targets[@]} -eq 0 ]; then
    mapfile -t targets < <(sed -n 's/^qv_fuzz_target(\([a-z_0-9]*\).*/\1/p' \
        tests/fuzz/CMakeLists.txt)
fi
cmake --build build/fuzz --target "${targets[@]}" qvasm
# Every listing of the repository, assembled in both byte orders, seeds the chunk fuzzers
# (the faulty ones too: the loader's refusals are paths to fuzz).
chunk_seeds=build/fuzz/seeds/chunks
mkdir -p "$chunk_seeds"
while IFS= read -r listing; do
    name=$(echo "$listing" | tr '/' '_')
    build/fuzz/bin/qvasm asm "$listing" -o "$chunk_seeds/$name.be" --no-verify >/dev/null 2>&1 ||
        true
    build/fuzz/bin/qvasm asm "$listing" -o "$chunk_seeds/$name.le" --le --no-verify \
        >/dev/null 2>&1 || true
done < <(find tests -path '*/listings/*.qvs')
# fuzz_chunk_run takes a flag byte and a chunk without its 21-byte header (see
# tests/fuzz/fuzz_chunk_run.cpp): big-endian seeds run with a line hook alone, as production
# installs one, little-endian ones under stack torture and with a line and a count hook
# (collection torture, which slows every run many times over, comes in by mutation).
run_seeds=build/fuzz/seeds/chunk_run
mkdir -p "$run_seeds"
for seed in "$chunk_seeds"/*; do
    case "$seed" in
        *.le) flag='\x0E' ;;
        *) flag='\x10' ;;
    esac
    { printf "$flag"; tail -c +22 "$seed"; } >"$run_seeds/$(basename "$seed")"
done
status=0
for target in "${targets[@]}"; do
    corpus=build/fuzz/corpus/$target
    # Absolute: fuzz_core_commands runs its inputs in a directory of its own.
    # Absolute paths: some targets change into a private directory of their own.
    corpus=$PWD/build/fuzz/corpus/$target
    crashes=$PWD/build/fuzz/crashes/$target
    mkdir -p "$corpus" "$crashes"
    dict=()
    case "$target" in
        fuzz_chunk_*) dict=(-dict=tests/fuzz/chunk.dict) ;;
        fuzz_text_tags) dict=(-dict=tests/fuzz/text_tags.dict) ;;
    esac
    case "$target" in
        fuzz_chunk_run) seeds=$run_seeds ;;
        fuzz_chunk_*) seeds=$chunk_seeds ;;
        fuzz_applet) seeds=tests/runtime/fuzz_regressions/applet ;;
        fuzz_unpack) seeds=tests/libs/fuzz_regressions ;;
        fuzz_eval | fuzz_pattern | fuzz_format) seeds=tests/libs/string/fuzz_regressions/${target#fuzz_} ;;
        fuzz_catalog) seeds=tests/runtime/fuzz_regressions ;;
        fuzz_cmdline) seeds=tests/runtime/fuzz_regressions/cmdline ;;
        fuzz_geometry) seeds=tests/gfx/fuzz_regressions/geometry ;;
        fuzz_bitmap_font) seeds=tests/objects/fonts/fuzz_regressions ;;
        fuzz_path_stream) seeds=tests/objects/fuzz_regressions/path_stream ;;
        fuzz_bmp) seeds=tests/platform/fuzz_regressions/bmp ;;
        fuzz_ilbm_read) seeds=tests/objects/fuzz_regressions/ilbm ;;
        fuzz_draw_tags) seeds=tests/objects/fuzz_regressions/draw_tags ;;
        fuzz_font_files) seeds=tests/objects/text/fuzz_regressions ;;
        fuzz_shape_geometry) seeds=tests/objects/fuzz_regressions/shape_geometry ;;
        fuzz_text_tags) seeds=tests/objects/text/fuzz_regressions/tags ;;
        fuzz_layer_ops) seeds=tests/scene/fuzz_regressions/layer_ops ;;
        fuzz_layers_commands) seeds=tests/scene/fuzz_regressions/layers_commands ;;
        fuzz_draw_commands) seeds=tests/objects/fuzz_regressions/draw_commands ;;
        fuzz_layer_commands) seeds=tests/scene/fuzz_regressions/layer_commands ;;
        fuzz_layer_style) seeds=tests/scene/fuzz_regressions/layer_style ;;
        fuzz_display_commands) seeds=tests/scene/fuzz_regressions/display_commands ;;
        fuzz_brush_commands) seeds=tests/objects/fuzz_regressions/brush_commands ;;
        fuzz_text_commands) seeds=tests/objects/fuzz_regressions/text_commands ;;
        fuzz_core_commands) seeds=tests/libs/fuzz_regressions/core_commands ;;
        fuzz_graphics_commands) seeds=tests/gfx/fuzz_regressions/graphics_commands ;;
        *) seeds= ;;
    esac
    case "$seeds" in
        "" | /*) ;;
        *) seeds=$PWD/$seeds ;;
    esac
    echo "== $target for ${seconds}s"
    build/fuzz/bin/"$target" "$corpus" $seeds "${dict[@]}" -max_total_time="$seconds" \
        -rss_limit_mb=2048 -malloc_limit_mb=1024 -timeout=60 -artifact_prefix="$crashes/" \
        -print_final_stats=1 || true
    if [ -n "$(ls -A "$crashes")" ]; then
        echo "findings of $target in $crashes"
        status=1
    fi
done
exit $status
