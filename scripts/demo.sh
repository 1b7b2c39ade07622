#!/bin/sh
# Starts Corvade against the simulated board with the hello example loaded: press F7
# (Kernel > Download+Run) and the emulated 8051 greets in the terminal window and echoes
# what you type. Options given to this script go to corvade-board (see its --help), e.g.
# --line-baud 9600 to see what a mismatched bit rate does. Corvade's own settings are left
# alone: it runs with a private settings folder that is removed afterwards.
# Build first (scripts/run-demo.sh does both); CORVADE_BUILD_DIR names another build folder.
set -e
cd "$(dirname "$0")/.."
build=${CORVADE_BUILD_DIR:-build}
for file in "$build/corvade" "$build/corvade-board" "$build/examples/hello.hex"; do
    if [ ! -e "$file" ]; then
        echo "demo: $file is missing; build first (sh scripts/run-demo.sh builds and starts the demo)" >&2
        exit 1
    fi
done
hex="$(cd "$build/examples" && pwd)/hello.hex"

tmp=$(mktemp -d "${TMPDIR:-/tmp}/corvade-demo.XXXXXX")
board=
cleanup() {
    if [ -n "$board" ]; then
        kill "$board" 2>/dev/null || true
        wait "$board" 2>/dev/null || true
    fi
    rm -rf "$tmp"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

link="$tmp/ttyCORVADE"
"$build/corvade-board" --link "$link" --time-limit 0 "$@" >"$tmp/board.out" &
board=$!
# The board makes the link before it prints the device; give it up to five seconds.
tries=0
while [ ! -L "$link" ]; do
    if ! kill -0 "$board" 2>/dev/null || [ "$tries" -ge 50 ]; then
        echo "demo: corvade-board did not start" >&2
        exit 1
    fi
    tries=$((tries + 1))
    sleep 0.1
done
echo "demo: simulated board on $(head -n 1 "$tmp/board.out"), known to Corvade as COM 2 ($link)"

mkdir -p "$tmp/config/Corvade"
printf '[Ports]\nCOM%%202=%s\n' "$link" >"$tmp/config/Corvade/Corvade.conf"
XDG_CONFIG_HOME="$tmp/config" "$build/corvade" "$hex"
