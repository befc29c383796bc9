#!/bin/sh
# Builds the optimised library and the kalo command, then runs the main job: the power drawn at
# every row of the bundled bench-supply log. Build messages go to standard error, so standard
# output is the table alone:  examples/run.sh > power.csv
# Another equation can be given:  examples/run.sh 'Ohms = Volts/Amps'
set -e
cd "$(dirname "$0")/.."
if [ $# -eq 0 ]; then set -- 'Power = Volts*Amps'; fi
cmake --preset release >&2
cmake --build --preset release --target kalo_cli >&2
exec build/release/tools/kalo --csv examples/data/circuit.csv "$@"
