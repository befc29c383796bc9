#!/usr/bin/env bash
# Non-blank lines of the tests against those of the library, the command and the Python package,
# and their ratio. Only text sources count: the fuzz corpus is data. Developer tools (tools/dev/:
# the mutation run, this script, the fuzz corpus generator) count on neither side; the Python
# package's tests count with the tests.
set -euo pipefail
cd "$(dirname "$0")/../.."
count() {
  find "$@" -type f \( -name '*.cpp' -o -name '*.h' -o -name '*.c' -o -name '*.def' \
    -o -name '*.rc' -o -name '*.py' -o -name '*.sh' -o -name '*.cmake' -o -name 'CMakeLists.txt' \
    -o -name '*.supp' -o -name '*.dict' -o -name 'cases.txt' \) -not -path 'tools/dev/*' -print0 2>/dev/null |
    xargs -0 -r cat | grep -c '[^[:space:]]' || true
}
code_dirs=()
for dir in common compiler evaluator expression interface platform userfunc resources include tools; do
  [ -d "$dir" ] && code_dirs+=("$dir")
done
tests=$(count tests python/tests)
code=$(count "${code_dirs[@]}" python/kalo)
echo "tests: $tests lines; library, command and package: $code lines; ratio: $((100 * tests / code))%"
if [ "${1:-}" = "-v" ]; then
  for file in $(find tests python/tests -type f \( -name '*.cpp' -o -name '*.h' -o -name '*.c' -o -name '*.py' \
    -o -name '*.sh' -o -name '*.cmake' -o -name 'CMakeLists.txt' -o -name 'cases.txt' \) | sort); do
    printf '%6d %s\n' "$(grep -c '[^[:space:]]' "$file" || true)" "$file"
  done | sort -rn
fi
