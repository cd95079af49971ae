#!/usr/bin/env bash
# Sets up a fresh machine, builds everything and runs the whole test suite but the long soak.
#   scripts/test.sh                      the normal build in build/
#   scripts/test.sh --sanitize           the same under AddressSanitizer and UBSan in build-asan/
#   scripts/test.sh [--sanitize] --soak  only the long soak (label "soak"): 10,000 host operations,
#                                        2,000 under the sanitizers
set -euo pipefail
cd "$(dirname "$0")/.."

"$(pwd)/scripts/bootstrap.sh"

build=build
options=()
labels=(-LE soak)
for arg in "$@"; do
    case "$arg" in
    --sanitize)
        build=build-asan
        options+=(-DAVATARSYSTEM_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug)
        # alloc_dealloc_mismatch: the engine's image code frees codec buffers with delete[].
        export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0:alloc_dealloc_mismatch=0
        export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
        ;;
    --soak) labels=(-L soak) ;;
    *)
        echo "usage: $0 [--sanitize] [--soak]" >&2
        exit 2
        ;;
    esac
done

# Warnings are errors in our own builds (a host building the package gets them as warnings).
cmake -S . -B "$build" "${options[@]}" -DCMAKE_EXPORT_COMPILE_COMMANDS=ON -DAVATARSYSTEM_WERROR=ON
cmake --build "$build" -j"$(nproc)"
ctest --test-dir "$build" -j"$(nproc)" --output-on-failure "${labels[@]}"
