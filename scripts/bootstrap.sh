#!/usr/bin/env bash
# Installs, from Debian's packages only, whatever the build, the tests and the demo need and
# the machine lacks. Safe to run repeatedly: nothing is done when everything is present.
set -euo pipefail

packages=(
    build-essential cmake pkg-config
    libogre-1.12-dev          # the engine (headers, OgreMain, RenderSystem_GL)
    libgtest-dev googletest   # tests
    libbenchmark-dev          # benchmarks
    libfccp-dev               # the reference CSV parser the table benchmark compares against
    libgif-dev                # the demo's animated GIF
    libfreetype-dev fonts-dejavu-core # the labels in the demo's pictures
    libcli11-dev              # the programs' command lines
    clang libclang-rt-14-dev  # libFuzzer and sanitizer runtimes
    clang-format              # the source layout check
    xvfb xauth libgl1-mesa-dri # rendering on the CPU without a display
    libcli11-dev              # command-line options of the viewer
    xdotool                   # synthetic key presses in the viewer's test
    doxygen                   # the API reference and the check that every public member is documented
)

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if [ ${#missing[@]} -eq 0 ]; then
    exit 0
fi

echo "bootstrap: installing ${missing[*]}"
sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then
    sudo_cmd=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
