#!/usr/bin/env bash
# Builds the benchmarks in build-bench (Release), the sample pack the avatar benchmark runs on
# included, and runs them; extra arguments go to Google Benchmark,
# e.g. scripts/bench.sh --benchmark_filter=Open --benchmark_repetitions=5
set -euo pipefail
cd "$(dirname "$0")/.."

build=build-bench
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DAVATARSYSTEM_BUILD_BENCHMARKS=ON \
    -DAVATARSYSTEM_BUILD_TESTS=OFF -DAVATARSYSTEM_BUILD_TOOLS=ON >/dev/null
cmake --build "$build" --target bench_tables bench_avatars -j2
"$build/bench/bench_tables" --benchmark_min_time=2 "$@"
"$build/bench/bench_avatars" --benchmark_min_time=1 "$@"
