#!/usr/bin/env bash
# Sets up a fresh machine, builds everything and runs the whole test suite but the long soak.
#   scripts/test.sh                      the normal build in build/
#   scripts/test.sh --sanitize           the same under AddressSanitizer and UBSan in build-asan/
#   scripts/test.sh [--sanitize] --soak  only the long soak (label "soak"): 10,000 host operations,
#                                        2,000 under the sanitizers
#   scripts/test.sh --update-references  re-records the reference pictures (tests/render/references/)
#                                        after an intended change of the look, then checks them again
set -euo pipefail
cd "$(dirname "$0")/.."

"$(pwd)/scripts/bootstrap.sh"

build=build
options=()
labels=(-LE soak)
update=0
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
    --update-references) update=1 ;;
    *)
        echo "usage: $0 [--sanitize] [--soak | --update-references]" >&2
        exit 2
        ;;
    esac
done

# Warnings are errors in our own builds (a host building the package gets them as warnings).
cmake -S . -B "$build" "${options[@]}" -DCMAKE_EXPORT_COMPILE_COMMANDS=ON -DAVATARSYSTEM_WERROR=ON
if [ "$update" = 1 ]; then
    cmake --build "$build" -j"$(nproc)" --target render_reference
    AVATAR_UPDATE_REFERENCES=1 ctest --test-dir "$build" --output-on-failure -R '^RenderReference\.'
    # Checked again at once: the new pictures match a second rendering, and the faults put in on
    # purpose are still caught.
    ctest --test-dir "$build" -j"$(nproc)" --output-on-failure -R '^RenderReference'
    git status --short tests/render/references
    echo "Review every changed picture (git diff --stat; open the old and the new one) before committing."
    exit 0
fi
cmake --build "$build" -j"$(nproc)"
ctest --test-dir "$build" -j"$(nproc)" --output-on-failure "${labels[@]}"
