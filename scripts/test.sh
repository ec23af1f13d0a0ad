#!/usr/bin/env bash
# Sets up a Debian machine if needed, builds everything and runs every test:
# the native unit tests, the 32-bit and the 64-bit module and their dialog
# under wine, the delbrin command end to end, then the unit tests and the
# command's end-to-end tests again with everything built with AddressSanitizer
# and UndefinedBehaviorSanitizer, then each fuzz target for a minute. Ends
# with one line "N passed, N failed".
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup-debian.sh
jobs=$(nproc)
passed=0
failed=0

# Runs ctest in a build folder and adds its counts to the totals.
run_ctest() {
  local log
  log=$(mktemp)
  ctest --test-dir "$1" --output-on-failure -j2 "${@:2}" 2>&1 | tee "$log" || true
  local summary total bad
  summary=$(grep -E 'tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -n 1 || true)
  rm -f "$log"
  if [ -z "$summary" ]; then
    echo "ctest in $1 gave no summary" >&2
    failed=$((failed + 1))
    return
  fi
  bad=$(sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\1/' <<<"$summary")
  total=$(sed -E 's/.* failed out of ([0-9]+).*/\1/' <<<"$summary")
  passed=$((passed + total - bad))
  failed=$((failed + bad))
}

echo "== build"
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j"$jobs"
echo "== tests"
run_ctest build

echo "== unit tests and the command end to end under AddressSanitizer and UndefinedBehaviorSanitizer"
sanitize="-fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer"
cmake -S . -B build-sanitize -DCMAKE_BUILD_TYPE=Debug -DDELBRIN_WIN32=OFF -DDELBRIN_WIN64=OFF \
  -DCMAKE_CXX_FLAGS="$sanitize" -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=address,undefined" >/dev/null
cmake --build build-sanitize -j"$jobs" --target core_tests cli_unit_tests delbrin cli_end_to_end_test \
  input_faults_test tavrel_plugin_test
run_ctest build-sanitize -L 'unit|end-to-end'

echo "== fuzz targets, a minute each"
cmake -S fuzz -B build-fuzz -DCMAKE_CXX_COMPILER=clang++ >/dev/null
cmake --build build-fuzz -j"$jobs"
run_ctest build-fuzz -L fuzz

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
