#!/usr/bin/env bash
# Sets up a fresh machine, builds everything (the sample content pack included) and runs the
# demo host on it: a rendered lineup in avatars.png and a summary of every avatar built.
# Without a display the demo renders under Xvfb with Mesa's software GL.
# Extra arguments go to the demo (avatar-demo --help).
set -euo pipefail
cd "$(dirname "$0")/.."

"$(pwd)/scripts/bootstrap.sh"
cmake -S . -B build
cmake --build build -j"$(nproc)"

demo=(build/demo/avatar-demo --content build/content "$@")
if [ -z "${DISPLAY:-}" ] && command -v xvfb-run >/dev/null; then
    exec xvfb-run -a -s "-screen 0 1280x480x24" "${demo[@]}"
fi
exec "${demo[@]}"
