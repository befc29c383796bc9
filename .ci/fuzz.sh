#!/usr/bin/env bash
# Fuzzes for a bounded time with libFuzzer (clang) and prints the executions and the coverage
# reached: the C interface from the seed corpus in tests/reliability/corpus for two thirds of the
# time, the kalo command's table reader and number parser (tests/tools/fuzz_corpus) for the rest.
#   FUZZ_SECONDS   how long to fuzz in all (default 60)
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
cmake --build "$build" --target kalo_fuzz_api kalo_fuzz_table -j2

# fuzz NAME PROGRAM SECONDS SEED_CORPUS [libFuzzer option ...]
fuzz() {
  local name=$1 program=$2 time=$3 seeds=$4
  shift 4
  local work="$build/fuzz-work/$name"
  mkdir -p "$work/corpus"
  local log="$work/fuzz.log" status=0
  (cd "$work" && UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
    "$OLDPWD/$build/$program" \
    -max_total_time="$time" -print_final_stats=1 -timeout=10 -rss_limit_mb=2048 "$@" \
    corpus "$OLDPWD/$seeds") >"$log" 2>&1 || status=$?
  # libFuzzer's last status line carries the coverage: "#N DONE cov: C ft: F corp: ..."
  local last runs
  last=$(grep -E '^#[0-9]+' "$log" | tail -n 1 || true)
  runs=$(grep -oE 'stat::number_of_executed_units: *[0-9]+' "$log" | grep -oE '[0-9]+$' || true)
  echo "fuzz $name: ${time}s, executions: ${runs:-?}"
  echo "fuzz $name: last status: ${last:-none}"
  echo "fuzz $name: coverage: $(echo "$last" | grep -oE 'cov: [0-9]+ ft: [0-9]+' || echo unknown)"
  if [ "$status" -ne 0 ]; then
    echo "fuzz $name: FAILED (exit $status); the end of $log:" >&2
    tail -n 40 "$log" >&2
    exit "$status"
  fi
}

table_seconds=$((seconds / 3 > 0 ? seconds / 3 : 1))
fuzz api tests/reliability/kalo_fuzz_api $((seconds > table_seconds ? seconds - table_seconds : 1)) tests/reliability/corpus \
  -dict="$PWD/tests/reliability/fuzz_api.dict"
fuzz table tests/tools/kalo_fuzz_table "$table_seconds" tests/tools/fuzz_corpus
