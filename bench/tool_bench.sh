#!/usr/bin/env bash
# Times `kalo --csv` against mawk, gawk and Miller on one computation over a generated
# 1,000,000-row table of three numeric columns, and prints each tool's median of three runs and
# its ratio to kalo (above 1 means slower than kalo).
#
#   bench/tool_bench.sh                 uses build/release/tools/kalo, building it if missing
#   KALO=path/to/kalo bench/tool_bench.sh
#   ROWS=200000 bench/tool_bench.sh     a smaller table
set -euo pipefail
cd "$(dirname "$0")/.."

ROWS=${ROWS:-1000000}
RUNS=3
KALO=${KALO:-build/release/tools/kalo}

if [[ ! -x $KALO ]]; then
  cmake --preset release >&2
  cmake --build --preset release --target kalo_cli >&2
fi
missing=()
for tool in mawk gawk mlr; do command -v "$tool" >/dev/null || missing+=("$tool")
done
if ((${#missing[@]})); then
  echo "installing mawk gawk miller (missing: ${missing[*]})" >&2
  apt-get install -y -qq mawk gawk miller >&2
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
table=$work/table.csv
mawk -v rows="$ROWS" 'BEGIN {
  srand(1); print "A,B,C"
  for (i = 0; i < rows; i++) printf "%.6f,%.6f,%.6f\n", rand() * 100, rand() * 10 - 5, rand()
}' >"$table"
echo "table: $ROWS rows, $(($(stat -c %s "$table") / 1000000)) MB; computing D = A*B + sqrt(C)"

# Each awk prints with %.17g so that, like kalo and Miller, it writes every digit of a double.
awk_program='NR == 1 { print $0 ",D"; next } { printf "%s,%.17g\n", $0, $1 * $2 + sqrt($3) }'
declare -A commands=(
  [kalo]="'$KALO' --csv '$table' 'D = A*B + sqrt(C)'"
  [mawk]="mawk -F, '$awk_program' '$table'"
  [gawk]="gawk -F, '$awk_program' '$table'"
  [mlr]="mlr --icsv --ocsv put '\$D = \$A*\$B + sqrt(\$C)' '$table'"
)
order=(kalo mawk gawk mlr)

# The tools must agree before their times mean anything.
for tool in "${order[@]}"; do
  eval "${commands[$tool]}" >"$work/$tool.out"
done
for tool in mawk gawk mlr; do
  if ! mawk -F, 'NR == FNR { d[FNR] = $4; next }
                 FNR > 1 { x = $4 - d[FNR]; if (x < 0) x = -x
                           if (x > 1e-9 * (d[FNR] < 0 ? -d[FNR] : d[FNR]) + 1e-12) exit 1 }
                 END { if (NR != 2 * FNR) exit 1 }' "$work/kalo.out" "$work/$tool.out"; then
    echo "warning: $tool's results differ from kalo's" >&2
  fi
done
rm -f "$work"/*.out

median_seconds() {
  local times=() start end
  for ((run = 0; run < RUNS; run++)); do
    start=$(date +%s.%N)
    eval "$1" >/dev/null
    end=$(date +%s.%N)
    times+=("$(mawk -v a="$start" -v b="$end" 'BEGIN { printf "%.6f", b - a }')")
  done
  printf '%s\n' "${times[@]}" | sort -g | sed -n "$(((RUNS + 1) / 2))p"
}

declare -A seconds
for tool in "${order[@]}"; do seconds[$tool]=$(median_seconds "${commands[$tool]}"); done
printf '%-6s %10s %8s\n' tool seconds ratio
for tool in "${order[@]}"; do
  printf '%-6s %10.3f %8.2f\n' "$tool" "${seconds[$tool]}" \
    "$(mawk -v a="${seconds[$tool]}" -v b="${seconds[kalo]}" 'BEGIN { print a / b }')"
done
