#!/usr/bin/env bash
# Sets up a fresh machine, builds everything and runs the demo host on the sample content pack.
# Extra arguments go to the demo (see avatar-demo --help).
set -euo pipefail
cd "$(dirname "$0")/.."

"$(pwd)/scripts/bootstrap.sh"
cmake -S . -B build
cmake --build build -j"$(nproc)"

content=build/content
exec build/demo/avatar-demo --content "$content" "$@"
