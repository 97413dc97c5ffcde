#!/usr/bin/env bash
# Builds txlib and runs the demo program.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default -j"$(nproc)" --target txlib_demo
./build/default/examples/txlib_demo "$@"
