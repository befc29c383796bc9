#!/usr/bin/env bash
# Builds kalo and the benchmarks in a release tree of their own, runs the peer comparison and the
# micro benchmarks once, and regenerates bench/RESULTS.md from that one run.
#
#   bench/run_peers.sh                    the headline set, bench_expr, into bench/RESULTS.md
#   bench/run_peers.sh --set bench_short --output /tmp/short.md
#   bench/run_peers.sh --quick            fewer and shorter repeats: a smoke test, not a result
#
# Environment: KALO_BENCH_BUILD_DIR (default build/bench-release), KALO_BENCH_DATA_DIR (the
# expression lists, default ../shared/bench-data beside the repository), KALO_BENCH_COMMIT (the
# commit to name in the results, for a tree exported with git archive), KALO_BENCH_CMAKE_ARGS
# (more configure arguments, e.g. -DKALO_MACHINE_CODE=OFF to measure the register form alone).
# The peers come from Debian: apt-get install libmuparser-dev libfparser-dev libmatheval-dev
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
build="${KALO_BENCH_BUILD_DIR:-$root/build/bench-release}"
set_name=bench_expr
output="$root/bench/RESULTS.md"
peer_args=()
micro_args=(--benchmark_repetitions=5 --benchmark_report_aggregates_only=true)
repetitions=5

while [ $# -gt 0 ]; do
  case "$1" in
    --set) set_name="$2"; shift 2 ;;
    --output) output="$2"; shift 2 ;;
    --quick)
      peer_args=(--repeats 3 --repeat-ms 4 --compile-repeats 3 --compiles 5)
      micro_args=(--benchmark_repetitions=3 --benchmark_report_aggregates_only=true
                  --benchmark_min_time=0.05)
      repetitions=3
      shift ;;
    *) echo "usage: $0 [--set NAME] [--output FILE] [--quick]" >&2; exit 2 ;;
  esac
done

configure=(cmake --preset release -S "$root" -B "$build" -DKALO_BUILD_BENCH=ON -DKALO_BUILD_TESTS=OFF)
# shellcheck disable=SC2206
configure+=(${KALO_BENCH_CMAKE_ARGS:-})
if [ -n "${KALO_BENCH_DATA_DIR:-}" ]; then
  configure+=("-DKALO_BENCH_DATA_DIR=$KALO_BENCH_DATA_DIR")
fi
"${configure[@]}" >/dev/null
targets=()
available="$(cmake --build "$build" --target help)"
for target in kalo_peers kalo_micro; do
  if grep -qx "\.\.\. $target" <<<"$available"; then targets+=("$target"); fi
done
if [[ ! " ${targets[*]} " == *" kalo_peers "* ]]; then
  echo "kalo_peers is not configured (see the cmake messages: peers, Python 3, expression lists)" >&2
  exit 1
fi
cmake --build "$build" -j2 --target "${targets[@]}"

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

echo "running kalo_peers on $set_name (a few minutes)..." >&2
"$build/bench/peers/kalo_peers" --set "$set_name" --quiet "${peer_args[@]}" \
  --markdown "$work/peers.md" --csv "$work/peers.csv"

micro_json=""
if [[ " ${targets[*]} " == *" kalo_micro "* ]]; then
  echo "running kalo_micro..." >&2
  "$build/bench/kalo_micro" "${micro_args[@]}" --benchmark_out="$work/micro.json" \
    --benchmark_out_format=json >/dev/null 2>"$work/micro.log" ||
    { cat "$work/micro.log" >&2; exit 1; }
  micro_json="$work/micro.json"
fi

compiler="$(sed -n 's/^CMAKE_CXX_COMPILER:[A-Z]*=//p' "$build/CMakeCache.txt")"
compiler="$("${compiler:-c++}" --version | head -n 1)"
python3 "$root/bench/results.py" --peers "$work/peers.md" ${micro_json:+--micro "$micro_json"} \
  --micro-repetitions "$repetitions" ${KALO_BENCH_COMMIT:+--commit "$KALO_BENCH_COMMIT"} --compiler "$compiler" --output "$output"
cp "$work/peers.csv" "${output%.md}.csv"
echo "wrote $output and ${output%.md}.csv" >&2
