#!/usr/bin/env bash
# Sets up a fresh machine, builds everything (the sample content pack included) and runs the
# demo host on it: a rendered lineup in avatars.png, the avatars moving in avatars_sheet.png and
# avatars.gif, and a summary of every avatar built.
# Without a display the demo renders under Xvfb with Mesa's software GL.
# Extra arguments go to the demo (avatar-demo --help).
set -euo pipefail
cd "$(dirname "$0")/.."

"$(pwd)/scripts/bootstrap.sh"
cmake -S . -B build
cmake --build build -j"$(nproc)"

demo=(build/demo/avatar-demo --content build/content "$@")
if [ -z "${DISPLAY:-}" ] && command -v Xvfb >/dev/null; then
    status=0
    scripts/with-display.sh --size 1280x720 "${demo[@]}" || status=$?
    # 77: no display server could be started; the demo then runs headless and prints its summary.
    [ "$status" -eq 77 ] || exit "$status"
fi
exec "${demo[@]}"
