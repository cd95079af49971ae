#!/usr/bin/env bash
# Fuzzes, each for a bounded time:
#   fuzz_tablereader     the table reader, the row splitter and the checker (FUZZ_SECONDS, 60)
#   fuzz_hostinterface   bytes as IAvatarSystem and IInstance calls on the sample content pack,
#                        every input ending in release() with nothing left (FUZZ_HOST_SECONDS, 120)
#   FUZZ_SECONDS=600 FUZZ_HOST_SECONDS=600 scripts/fuzz.sh
# Seeds: the table sets under tests/data/tables and the kept inputs under tests/data/fuzz (tables)
# and tests/data/fuzz-host (host calls). A crash, sanitizer report or leak leaves its input in
# build-fuzz/crashes/ or build-fuzz/host-crashes/; keep it under the matching tests/data directory
# so that the unit tests replay it from then on.
set -euo pipefail
cd "$(dirname "$0")/.."

build=build-fuzz
# The tools build the content pack the host interface fuzzer plays on.
cmake -S . -B "$build" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DAVATARSYSTEM_BUILD_FUZZERS=ON -DAVATARSYSTEM_BUILD_TESTS=OFF -DAVATARSYSTEM_BUILD_TOOLS=ON >/dev/null
cmake --build "$build" --target fuzz_tablereader fuzz_hostinterface -j2

mkdir -p "$build/corpus" "$build/crashes" "$build/host-corpus" "$build/host-crashes"
seeds=()
for dir in tests/data/tables/* tests/data/fuzz; do
    [ -d "$dir" ] && seeds+=("$dir")
done
# The first directory receives the inputs the fuzzer finds; the seed directories are only read.
"$build/fuzz/fuzz_tablereader" "$build/corpus" "${seeds[@]}" \
    -max_total_time="${FUZZ_SECONDS:-60}" -max_len=8192 -timeout=10 \
    -artifact_prefix="$build/crashes/" -print_final_stats=1
"$build/fuzz/fuzz_hostinterface" "$build/host-corpus" tests/data/fuzz-host \
    -max_total_time="${FUZZ_HOST_SECONDS:-120}" -max_len=2048 -timeout=30 \
    -artifact_prefix="$build/host-crashes/" -print_final_stats=1
