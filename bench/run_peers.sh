#!/usr/bin/env bash
# Builds kalo and the benchmarks in a release tree of their own, runs the peer comparison and the
# micro benchmarks once on one pinned core, stores that run under a label in bench/results/ and
# regenerates bench/RESULTS.md from every label stored there.
#
#   bench/run_peers.sh --label before     the headline set, bench_expr, as the "before" section
#   bench/run_peers.sh --label after      ... as the "after" section; "before" stays as it was
#   bench/run_peers.sh --set bench_short --output /tmp/short.md   one standalone report
#   bench/run_peers.sh --quick --output /tmp/quick.md   fewer and shorter repeats: a smoke test
#   bench/run_peers.sh --cpu 0            the core to pin to (default: the last one)
#
# Environment: KALO_BENCH_BUILD_DIR (default build/bench-release), KALO_BENCH_DATA_DIR (the
# expression lists, default ../shared/bench-data beside the repository), KALO_BENCH_PEERS_DIR
# (ExprTk and TinyExpr sources, default ../shared/peers), KALO_BENCH_COMMIT (the commit to name
# in the results, for a tree exported with git archive), KALO_BENCH_CMAKE_ARGS (more configure
# arguments, e.g. -DKALO_MACHINE_CODE=OFF to measure the register form alone).
# Debian peers: apt-get install libmuparser-dev libfparser-dev libmatheval-dev libbenchmark-dev
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
build="${KALO_BENCH_BUILD_DIR:-$root/build/bench-release}"
set_name=bench_expr
label=latest
output=""
cpu="$(($(nproc) - 1))"
peer_args=()
micro_args=(--benchmark_repetitions=5 --benchmark_report_aggregates_only=true)
repetitions=5

usage() {
  echo "usage: $0 [--label NAME | --output FILE] [--set NAME] [--quick] [--cpu N]" >&2
  exit 2
}
while [ $# -gt 0 ]; do
  case "$1" in
    --set) set_name="$2"; shift 2 ;;
    --label) label="$2"; shift 2 ;;
    --output) output="$2"; shift 2 ;;
    --cpu) cpu="$2"; shift 2 ;;
    --quick)
      peer_args=(--repeats 3 --repeat-ms 4 --compile-repeats 3 --compiles 5)
      micro_args=(--benchmark_repetitions=3 --benchmark_report_aggregates_only=true
                  --benchmark_min_time=0.05)
      repetitions=3
      shift ;;
    *) usage ;;
  esac
done

configure=(cmake --preset release -S "$root" -B "$build" -DKALO_BUILD_BENCH=ON -DKALO_BUILD_TESTS=OFF)
# shellcheck disable=SC2206
configure+=(${KALO_BENCH_CMAKE_ARGS:-})
for variable in KALO_BENCH_DATA_DIR KALO_BENCH_PEERS_DIR; do
  if [ -n "${!variable:-}" ]; then configure+=("-D$variable=${!variable}"); fi
done
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
started=$SECONDS
# One core for everything timed; muparser's bulk mode would otherwise start OpenMP threads.
pinned=(env OMP_NUM_THREADS=1 taskset -c "$cpu")

echo "running kalo_peers on $set_name, pinned to core $cpu (several minutes)..." >&2
"${pinned[@]}" "$build/bench/peers/kalo_peers" --set "$set_name" --quiet "${peer_args[@]}" \
  --markdown "$work/peers.md" --csv "$work/peers.csv" --json "$work/peers.json"

micro=()
if [[ " ${targets[*]} " == *" kalo_micro "* ]]; then
  echo "running kalo_micro..." >&2
  "${pinned[@]}" "$build/bench/kalo_micro" "${micro_args[@]}" --benchmark_out="$work/micro.json" \
    --benchmark_out_format=json >/dev/null 2>"$work/micro.log" ||
    { cat "$work/micro.log" >&2; exit 1; }
  micro=(--micro "$work/micro.json")
fi

compiler="$(sed -n 's/^CMAKE_CXX_COMPILER:[A-Z]*=//p' "$build/CMakeCache.txt")"
compiler="$("${compiler:-c++}" --version | head -n 1)"
piece=(python3 "$root/bench/results.py" piece --label "$label" --peers "$work/peers.md"
       --peers-json "$work/peers.json" "${micro[@]}" --micro-repetitions "$repetitions"
       --compiler "$compiler" --minutes "$(( (SECONDS - started + 30) / 60 ))")
if [ -n "${KALO_BENCH_COMMIT:-}" ]; then piece+=(--commit "$KALO_BENCH_COMMIT"); fi
if [ -n "$output" ]; then
  "${piece[@]}" --output "$output"
  cp "$work/peers.csv" "${output%.md}.csv"
  echo "wrote $output and ${output%.md}.csv" >&2
else
  "${piece[@]}"
  cp "$work/peers.csv" "$root/bench/results/$label.csv"
  python3 "$root/bench/results.py" assemble
  echo "wrote bench/results/$label.{md,json,csv} and bench/RESULTS.md" >&2
fi
