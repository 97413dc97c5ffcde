#!/usr/bin/env bash
# Builds txlib and runs the demo programs: the service road, the data set,
# then the quick data set over the demo domain.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/install-deps.sh
echo "Building the demo (build/default)..."
log=$(mktemp)
if ! { cmake --preset default && cmake --build --preset default -j"$(nproc)" --target txlib_demo txlib_fbdset_demo txlib_quickds_demo; } >"$log" 2>&1; then
  cat "$log"
  rm -f "$log"
  exit 1
fi
rm -f "$log"
./build/default/examples/txlib_demo "$@"
echo
./build/default/examples/txlib_fbdset_demo
echo
./build/default/examples/txlib_quickds_demo
