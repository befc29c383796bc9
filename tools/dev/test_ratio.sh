#!/usr/bin/env bash
# Non-blank lines of the tests against those of the library, the command and the Python package,
# and their ratio; -v lists the test files. Only text sources count: the fuzz corpus is data.
# Developer tools (tools/dev/: the mutation run, this script, the fuzz corpus generator) count on
# neither side; the Python package's tests count with the tests.
set -euo pipefail
cd "$(dirname "$0")/../.."
sources() {
  find "$@" -type f \( -name '*.cpp' -o -name '*.h' -o -name '*.c' -o -name '*.def' \
    -o -name '*.rc' -o -name '*.py' -o -name '*.sh' -o -name '*.cmake' -o -name 'CMakeLists.txt' \
    -o -name '*.supp' -o -name '*.dict' -o -name 'cases.txt' \) -not -path 'tools/dev/*' 2>/dev/null
}
lines() { grep -c '[^[:space:]]' "$@" || true; }
count() { sources "$@" | tr '\n' '\0' | xargs -0 -r cat | lines; }
code_dirs=()
for dir in common compiler evaluator expression interface platform userfunc resources include tools; do
  [ -d "$dir" ] && code_dirs+=("$dir")
done
tests=$(count tests python/tests)
code=$(count "${code_dirs[@]}" python/kalo)
echo "tests: $tests lines; library, command and package: $code lines; ratio: $((100 * tests / code))%"
if [ "${1:-}" = "-v" ]; then
  sources tests python/tests | while read -r file; do printf '%6d %s\n' "$(lines "$file")" "$file"; done |
    sort -rn
fi
