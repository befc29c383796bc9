#!/usr/bin/env bash
# Fuzzes the C interface for a bounded time with libFuzzer (clang), starting from the seed corpus
# in tests/reliability/corpus, and prints the executions and the coverage reached.
#   FUZZ_SECONDS   how long to fuzz (default 60)
#   FUZZ_BUILD     the clang build directory (default build/fuzz)
#   KALO_FUZZ_ALL_TRAPS=1  also let the host state unmask the denormal and invalid traps
# New inputs go to a scratch corpus in the build directory, never into the repository; a crash
# leaves its input there as crash-* and fails the script.
set -euo pipefail
cd "$(dirname "$0")/.."
.ci/deps clang libclang-rt-14-dev
seconds="${FUZZ_SECONDS:-60}"
build="${FUZZ_BUILD:-build/fuzz}"
flags="-g -O1 -fno-omit-frame-pointer -fsanitize=address,undefined,fuzzer-no-link -fno-sanitize-recover=all"

cmake -S . -B "$build" -G "Unix Makefiles" \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_BUILD_TYPE=Debug -DKALO_BUILD_FUZZERS=ON -DKALO_BUILD_TESTS=ON \
  -DKALO_BUILD_BENCH=OFF -DKALO_BUILD_TOOLS=ON \
  "-DCMAKE_CXX_FLAGS=-Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wno-sign-conversion $flags" \
  "-DCMAKE_C_FLAGS=$flags" >/dev/null
cmake --build "$build" --target kalo_fuzz_api -j2

work="$build/fuzz-work"
mkdir -p "$work/corpus"
log="$work/fuzz.log"
status=0
(cd "$work" && UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
  "$OLDPWD/$build/tests/reliability/kalo_fuzz_api" \
  -max_total_time="$seconds" -print_final_stats=1 -timeout=10 -rss_limit_mb=2048 \
  -dict="$OLDPWD/tests/reliability/fuzz_api.dict" \
  corpus "$OLDPWD/tests/reliability/corpus") >"$log" 2>&1 || status=$?

# libFuzzer's last status line carries the coverage: "#N DONE cov: C ft: F corp: ..."
last=$(grep -E '^#[0-9]+' "$log" | tail -n 1 || true)
runs=$(grep -oE 'stat::number_of_executed_units: *[0-9]+' "$log" | grep -oE '[0-9]+$' || true)
echo "fuzz: ${seconds}s, executions: ${runs:-?}"
echo "fuzz: last status: ${last:-none}"
echo "fuzz: coverage: $(echo "$last" | grep -oE 'cov: [0-9]+ ft: [0-9]+' || echo unknown)"
if [ "$status" -ne 0 ]; then
  echo "fuzz: FAILED (exit $status); the end of $log:" >&2
  tail -n 40 "$log" >&2
  exit "$status"
fi
