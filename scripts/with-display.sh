#!/usr/bin/env bash
# Runs a command on a private Xvfb display (Mesa renders GL on the CPU), then stops the server.
# Exits 77 when no display server can be started; otherwise with the command's own exit code.
#   scripts/with-display.sh [--size WxH] command [args...]
set -u

size=1280x720
if [ "${1:-}" = "--size" ]; then
    size=$2
    shift 2
fi
# Mesa's llvmpipe now and then spins forever in a frame's swap on these machines; softpipe, the
# plain software rasterizer, does not, and is quick enough for the small frames we render.
export GALLIUM_DRIVER="${GALLIUM_DRIVER:-softpipe}"

if ! command -v Xvfb >/dev/null; then
    echo "SKIP: Xvfb is not installed" >&2
    exit 77
fi

for display in $(seq 140 240); do
    # A number whose lock or socket exists is taken, or was left behind by a server that died.
    if [ -e "/tmp/.X$display-lock" ] || [ -e "/tmp/.X11-unix/X$display" ]; then
        continue
    fi
    Xvfb ":$display" -screen 0 "${size}x24" -nolisten tcp >/dev/null 2>&1 &
    server=$!
    # Ready once its socket exists; a server that exits at once lost the number to another one.
    for _ in $(seq 1 100); do
        [ -e "/tmp/.X11-unix/X$display" ] && break
        kill -0 "$server" 2>/dev/null || break
        sleep 0.05
    done
    if [ -e "/tmp/.X11-unix/X$display" ] && kill -0 "$server" 2>/dev/null; then
        DISPLAY=":$display" "$@"
        status=$?
        kill "$server" 2>/dev/null
        wait "$server" 2>/dev/null
        exit "$status"
    fi
    kill "$server" 2>/dev/null
    wait "$server" 2>/dev/null
done
echo "SKIP: no display server could be started" >&2
exit 77
