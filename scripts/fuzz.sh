#!/usr/bin/env bash
# Fuzzes the table reader, the row splitter and the table checker for a bounded time.
#   scripts/fuzz.sh            60 seconds
#   FUZZ_SECONDS=600 scripts/fuzz.sh
# Seeds: the table sets under tests/data/tables and the kept inputs under tests/data/fuzz.
# A crash leaves its input in build-fuzz/crashes/; keep it under tests/data/fuzz/ so that
# the unit tests replay it from then on.
set -euo pipefail
cd "$(dirname "$0")/.."

build=build-fuzz
cmake -S . -B "$build" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DAVATARSYSTEM_BUILD_FUZZERS=ON -DAVATARSYSTEM_BUILD_TESTS=OFF -DAVATARSYSTEM_BUILD_TOOLS=OFF >/dev/null
cmake --build "$build" --target fuzz_tablereader -j2

mkdir -p "$build/corpus" "$build/crashes"
seeds=()
for dir in tests/data/tables/* tests/data/fuzz; do
    [ -d "$dir" ] && seeds+=("$dir")
done
# The first directory receives the inputs the fuzzer finds; the seed directories are only read.
"$build/fuzz/fuzz_tablereader" "$build/corpus" "${seeds[@]}" \
    -max_total_time="${FUZZ_SECONDS:-60}" -max_len=8192 -timeout=10 \
    -artifact_prefix="$build/crashes/" -print_final_stats=1
