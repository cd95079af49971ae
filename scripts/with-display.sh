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

# The server picks a free display number itself and writes it once it accepts connections:
# choosing a number here could race with another test starting at the same moment, and the loser
# would draw on the winner's server until that one stops under it.
numberfile=$(mktemp)
trap 'rm -f "$numberfile"' EXIT
Xvfb -displayfd 3 -screen 0 "${size}x24" -nolisten tcp 3>"$numberfile" >/dev/null 2>&1 &
server=$!
for _ in $(seq 1 200); do
    [ -s "$numberfile" ] && break
    kill -0 "$server" 2>/dev/null || break
    sleep 0.05
done
display=$(tr -dc '0-9' <"$numberfile")
if [ -n "$display" ] && kill -0 "$server" 2>/dev/null; then
    DISPLAY=":$display" "$@"
    status=$?
    kill "$server" 2>/dev/null
    wait "$server" 2>/dev/null
    exit "$status"
fi
kill "$server" 2>/dev/null
wait "$server" 2>/dev/null
echo "SKIP: no display server could be started" >&2
exit 77
