#!/bin/sh
# Installs what is missing, builds Corvade and starts it against the simulated board.
set -e
cd "$(dirname "$0")/.."
sh scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build
exec sh scripts/demo.sh "$@"
