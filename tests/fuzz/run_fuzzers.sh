#!/usr/bin/env bash
# Builds every libFuzzer target (tests/fuzz/*_fuzz.cpp) with clang in a build tree of its own,
# with the library and the HP-GL importer instrumented too, and runs each for SECONDS on a
# fresh copy of its seed corpus (tests/fuzz/corpus/<name>/). Any crash, sanitizer report,
# leak, timeout or out-of-memory fails the run; the input that caused it is kept in
# BUILD/fuzz-run/<target>/.
#
#   tests/fuzz/run_fuzzers.sh SECONDS
#
# GENPLOT_FUZZ_BUILD_DIR overrides the build tree (default: build-fuzz in the repository).
set -euo pipefail

if [[ $# -ne 1 || ! $1 =~ ^[0-9]+$ ]]; then
    echo "usage: $0 SECONDS" >&2
    exit 64
fi
seconds=$1
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
build=${GENPLOT_FUZZ_BUILD_DIR:-$root/build-fuzz}
compiler=${GENPLOT_FUZZ_CXX:-clang++}
if ! command -v "$compiler" >/dev/null; then
    echo "$0: $compiler not found (install clang and libclang-rt-14-dev)" >&2
    exit 1
fi

targets=()
for source in "$root"/tests/fuzz/*_fuzz.cpp; do
    targets+=("$(basename "$source" .cpp)")
done
if ((${#targets[@]} == 0)); then
    echo "$0: no fuzz targets" >&2
    exit 1
fi

cmake -S "$root" -B "$build" -DCMAKE_CXX_COMPILER="$compiler" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DGENPLOT_BUILD_FUZZERS=ON -DGENPLOT_SANITIZE=ON -DGENPLOT_BUILD_TESTS=OFF \
    -DGENPLOT_BUILD_BENCHMARKS=OFF -DGENPLOT_BUILD_TOOLS=ON -DBUILD_SHARED_LIBS=OFF \
    -DCMAKE_CXX_FLAGS="-fsanitize=fuzzer-no-link" >/dev/null
cmake --build "$build" -j"$(nproc)" --target "${targets[@]}"

failed=0
for target in "${targets[@]}"; do
    name=${target%_fuzz}
    run="$build/fuzz-run/$target"
    rm -rf "$run"
    mkdir -p "$run/corpus"
    if [[ -d "$root/tests/fuzz/corpus/$name" ]]; then
        cp -R "$root/tests/fuzz/corpus/$name/." "$run/corpus/"
    fi
    echo "=== $target: $seconds s"
    if ! "$build/tests/fuzz/$target" -max_total_time="$seconds" -timeout=30 -rss_limit_mb=2560 \
        -print_final_stats=1 -artifact_prefix="$run/" "$run/corpus" >"$run/log" 2>&1; then
        failed=1
    fi
    if compgen -G "$run/crash-*" >/dev/null || compgen -G "$run/leak-*" >/dev/null ||
        compgen -G "$run/timeout-*" >/dev/null || compgen -G "$run/oom-*" >/dev/null; then
        failed=1
    fi
    if ((failed)); then
        tail -n 60 "$run/log" >&2
        echo "$target: FAILED; inputs and log in $run" >&2
        break
    fi
    grep -E '^stat::number_of_executed_units|^stat::peak_rss_mb' "$run/log" || true
done
exit "$failed"
