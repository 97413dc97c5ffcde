#!/usr/bin/env bash
# Builds txlib against a client installation of the middleware and runs what
# can run there without a domain.
#
#   tools/vendor-check.sh TUXDIR [BUILD_DIR]
#
# TUXDIR holds the installation's include/ (atmi.h, fml32.h) and lib/. The
# library, txcall, the portable test programs (those that need nothing but
# <fml32.h> and <atmi.h>) and the package consumer are built with warnings as
# errors; then the tests run, txcall shows its help (it needs a domain for
# more), and the number of passed test cases is printed.
#
# Environment:
#   TXLIB_TUX_LIBS  the client libraries under TUXDIR/lib, in link order, e.g.
#                   "atmiclt;atmi;ubf;nstd" (default: the build directory's
#                   setting, at first "wsc;buft;gpnet;fml32;fml;engine")
#   JOBS            parallel build jobs (default: the number of processors)
#
# Exit status: 0 when every case passed, 1 when some failed, 2 when the
# configuration or the build failed.
set -uo pipefail

if [ $# -lt 1 ] || [ $# -gt 2 ] || [ "$1" = "-h" ] || [ "$1" = "--help" ]; then
  sed -n '2,20p' "$0" | sed 's/^# \{0,1\}//'
  exit 2
fi
tuxdir=$(cd "$1" 2>/dev/null && pwd) || { echo "vendor-check: no directory $1" >&2; exit 2; }
source_dir=$(cd "$(dirname "$0")/.." && pwd)
build_dir=${2:-$source_dir/build/vendor}
jobs=${JOBS:-$(nproc)}

configure=(-S "$source_dir" -B "$build_dir" -DTXLIB_PLATFORM=vendor "-DTUXDIR=$tuxdir"
           -DTXLIB_WERROR=ON -DTXLIB_BUILD_TESTS=ON -DTXLIB_BUILD_EXAMPLES=ON
           -DTXLIB_BUILD_BENCH=OFF -DTXLIB_BUILD_FUZZ=OFF -DTXLIB_SANITIZE=OFF)
if [ -n "${TXLIB_TUX_LIBS:-}" ]; then
  configure+=("-DTXLIB_TUX_LIBS=$TXLIB_TUX_LIBS")
fi

log="$build_dir/vendor-check.log"
mkdir -p "$build_dir"
: >"$log"

echo "== Configuring against $tuxdir"
if ! cmake "${configure[@]}" >>"$log" 2>&1; then
  grep -A12 "CMake Error" "$log" >&2 || tail -20 "$log" >&2
  echo "vendor-check: configuration failed (log: $log)" >&2
  exit 2
fi
grep -E "lack [A-Z_0-9]+; txlib does without it" "$log" | sed 's/^-- /   /' | sort -u

echo "== Building the library, txcall and the portable tests"
if ! cmake --build "$build_dir" -j"$jobs" >>"$log" 2>&1; then
  grep -E "error|Error" "$log" | head -30 >&2
  echo "vendor-check: build failed (log: $log)" >&2
  exit 2
fi

echo "== Running the portable tests"
results="$build_dir/vendor-check-results"
rm -rf "$results"
mkdir -p "$results"
# The programs find the client libraries where they were linked from.
export LD_LIBRARY_PATH="$tuxdir/lib${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}"
GTEST_OUTPUT="xml:$results/" ctest --test-dir "$build_dir" -L portable \
  --output-on-failure >"$results/ctest.txt" 2>&1
ctest_status=$?

# Count test cases from the programs' XML reports (their own totals, and the
# names of the cases with a failure); the package consumer is one case.
passed=0
total=0
failed_cases=()
for report in "$results"/*.xml; do
  [ -e "$report" ] || continue
  program=$(basename "$report" .xml)
  counts=$(grep -m1 -E '<testsuites ' "$report")
  tests=$(sed -E 's/.* tests="([0-9]+)".*/\1/' <<<"$counts")
  failures=$(sed -E 's/.* failures="([0-9]+)".*/\1/' <<<"$counts")
  disabled=$(sed -E 's/.* disabled="([0-9]+)".*/\1/' <<<"$counts")
  run=$((tests - disabled))
  total=$((total + run))
  passed=$((passed + run - failures))
  while IFS= read -r name; do
    failed_cases+=("$program: $name")
  done < <(awk '
    /<testcase / { match($0, /name="[^"]*"/); n = substr($0, RSTART + 6, RLENGTH - 7)
                   match($0, /classname="[^"]*"/); c = substr($0, RSTART + 11, RLENGTH - 12) }
    /<failure / { if (!(c "." n in seen)) { seen[c "." n] = 1; print c "." n } }' "$report")
done
if grep -qE "package_consumer \.+ +Passed" "$results/ctest.txt"; then
  passed=$((passed + 1))
  total=$((total + 1))
elif grep -qE "package_consumer" "$results/ctest.txt"; then
  total=$((total + 1))
  failed_cases+=("package_consumer: install, build and run of the consumer")
fi
# A program that died before writing its report is run again one case per
# process, so that a crash costs only the case that crashed.
export TXLIB_TESTDATA="$source_dir/tests/data"
while IFS= read -r program; do
  [ "$program" != package_consumer ] && [ ! -e "$results/$program.xml" ] || continue
  binary=$(find "$build_dir/tests" -type f -executable -name "$program" | head -1)
  if [ -z "$binary" ]; then
    total=$((total + 1))
    failed_cases+=("$program: not built")
    continue
  fi
  crashed=0
  while IFS= read -r name; do
    total=$((total + 1))
    # (In a command substitution, so that the shell's crash notice goes nowhere.)
    status=$( { "$binary" --gtest_filter="$name" >>"$results/$program.txt" 2>&1; echo $?; } 2>/dev/null)
    if ((status == 0)); then
      passed=$((passed + 1))
    elif ((status > 128)); then
      crashed=$((crashed + 1))
      failed_cases+=("$program: $name (crashed, signal $((status - 128)))")
    else
      failed_cases+=("$program: $name")
    fi
  done < <("$binary" --gtest_list_tests | awk '/^[^ ]/ { suite = $1 } /^  / { print suite $1 }')
  echo "   $program crashed; its cases ran one by one ($crashed of them crashed too)"
done < <(sed -nE 's/^ *[0-9]+\/[0-9]+ Test +#[0-9]+: ([A-Za-z0-9_]+) .*/\1/p' "$results/ctest.txt")

# txcall needs a domain to call; without one it can only show that it was
# linked and starts.
total=$((total + 1))
if "$build_dir/tools/txcall" -h >"$results/txcall.txt" 2>&1; then
  passed=$((passed + 1))
else
  failed_cases+=("txcall: txcall -h did not run")
fi

if ((${#failed_cases[@]})); then
  echo "Failed:"
  printf '  %s\n' "${failed_cases[@]}"
fi
echo "vendor-check: $passed of $total test cases passed (details: $results/ctest.txt)"
if ((ctest_status != 0 || ${#failed_cases[@]})); then
  exit 1
fi
exit 0
