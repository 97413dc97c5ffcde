#!/usr/bin/env bash
# Builds txlib and runs every test: the suite (warnings as errors), then the
# suite again under AddressSanitizer and UndefinedBehaviorSanitizer together
# with a few seconds of each fuzzer.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/install-deps.sh
jobs=$(nproc)

echo "== Suite"
cmake --preset ci >/dev/null
cmake --build --preset ci -j"$jobs"
ctest --preset ci -j"$jobs"

if [ "${TXLIB_SKIP_SANITIZE:-0}" != 1 ]; then
  echo "== Suite under ASan+UBSan, and the fuzzers"
  cmake --preset sanitize >/dev/null
  cmake --build --preset sanitize -j"$jobs"
  ctest --preset sanitize -j"$jobs"
fi
