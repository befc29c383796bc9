#!/usr/bin/python3
"""Times kalo's Python columns against numexpr and pandas.eval over whole columns.

Each expression of a public list (translated by peers/translate.py) is evaluated over columns of
--rows rows: kalo's Equation.columns (which checks every row for floating-point faults), numexpr
on one thread and on every core, and pandas.eval (numexpr engine, one thread). Engines alternate
within each repeat and the median is kept; ratios come from one run. Run with Debian's python3 and
KALO_LIBRARY pointing at a release build:

  KALO_LIBRARY=build/release/libkalo.so.1 bench/python_bench.py [--rows N] [--repeats N]
      [--set bench_expr] [--output bench/python_results.md]

The expression lists are read from KALO_BENCH_DATA_DIR, by default ../shared/bench-data beside
the repository.
"""

import argparse
import datetime
import math
import os
import pathlib
import platform
import statistics
import subprocess
import sys
import time

import numexpr
import numpy as np
import pandas as pd

HERE = pathlib.Path(__file__).resolve().parent
sys.path[:0] = [str(HERE / "peers"), str(HERE.parent / "python")]
import translate  # noqa: E402

import kalo  # noqa: E402

BASES = {"a": 1.1, "b": 2.2, "c": 3.3, "x": 2.123456, "y": 3.123456, "z": 4.123456, "w": 5.123456}
CONSTANTS = {"pi": math.pi, "e": math.e}


class PythonPrinter(translate.NativePrinter):
    """numexpr's and pandas.eval's spelling: Python operators and numpy's function names."""

    functions = {}

    def Power(self, base, exponent):
        def Wrap(node):
            text = self.Node(node, top=True)
            return text if node[0] in ("num", "var") else "(" + text + ")"

        return "%s**%s" % (Wrap(base), Wrap(exponent))


def Columns(rows):
    """Each variable varies a little along the rows, so no engine can treat it as a constant."""
    step = np.arange(rows, dtype=np.float64) * 1e-7
    return {name: base + step for name, base in BASES.items()}


def Median(function, repeats):
    times = []
    for _ in range(repeats):
        start = time.perf_counter()
        function()
        times.append(time.perf_counter() - start)
    return statistics.median(times)


def Engines(row, columns):
    """Returns {engine: callable} for one expression, or a reason it cannot be timed."""
    python = PythonPrinter().Print(translate.Parser(row["source"]).ParseLine())
    values = {**columns, **CONSTANTS}
    equation = kalo.Equation(row["kalo"], translate.KALO_VARIABLES)
    given = {name: values[name] for name in translate.VARIABLES}
    cores = numexpr.detect_number_of_cores()

    def Numexpr(threads):
        def Run():
            numexpr.set_num_threads(threads)
            return numexpr.evaluate(python, local_dict=values)
        return Run

    def PandasEval():
        numexpr.set_num_threads(1)
        return pd.eval(python, local_dict=values)

    return python, {
        "kalo": lambda: equation.columns(given),
        "numexpr 1": Numexpr(1),
        "numexpr %d" % cores: Numexpr(cores),
        "pandas.eval": PandasEval,
    }


def Check(engines, rows):
    """Compares every engine with kalo on all rows; returns a note, or None when all agree."""
    try:
        reference = engines["kalo"]()
    except kalo.MathError as error:
        return "kalo: %s at row %d" % (str(error).replace("\n", " "), error.row)
    for name, run in engines.items():
        result = np.broadcast_to(run(), (rows,))
        if not np.allclose(result, reference, rtol=1e-10, atol=1e-300, equal_nan=True):
            return "%s differs from kalo" % name
    return None


def Measure(rows_of_list, columns, rows, repeats):
    results = []
    for row in rows_of_list:
        if any(note.startswith("comparison") for note in row["notes"]):
            results.append((row, None, None, "comparison: kalo's true is -1, numpy's 1"))
            continue
        if not set(row["variables"]) & set(BASES):
            results.append((row, None, None, "no column: numexpr returns one value, not a column"))
            continue
        python, engines = Engines(row, columns)
        note = Check(engines, rows)
        if note:
            results.append((row, python, None, note))
            continue
        times = {name: [] for name in engines}
        for _ in range(repeats):
            for name, run in engines.items():
                times[name].append(Median(run, 1))
        results.append((row, python, {n: statistics.median(t) for n, t in times.items()}, None))
        print("%-60s %s" % (row["source"][:60], "  ".join(
            "%s %.1f" % (n, t * 1e9 / rows) for n, t in results[-1][2].items())), flush=True)
    return results


def GeometricMean(values):
    return math.exp(sum(math.log(v) for v in values) / len(values))


def Versions():
    commit = subprocess.run(["git", "rev-parse", "--short", "HEAD"], cwd=HERE,
                            capture_output=True, text=True).stdout.strip()
    return ("Python %s, numpy %s, numexpr %s, pandas %s; commit %s" % (
        platform.python_version(), np.__version__, numexpr.__version__, pd.__version__, commit))


def Report(name, results, rows, repeats):
    timed = [(row, python, times) for row, python, times, note in results if times]
    engines = list(timed[0][2]) if timed else []
    ns = {e: GeometricMean([t[e] * 1e9 / rows for _, _, t in timed]) for e in engines}
    out = [
        "# kalo from Python against numexpr and pandas.eval",
        "",
        "Regenerated by `bench/python_bench.py`; do not edit by hand. One run on a shared "
        "machine: only ratios within this run mean anything.",
        "",
        "- Machine: %s, %d cores (nproc); %s" % (platform.machine(), os.cpu_count(), Versions()),
        "- Date: %s UTC; library %s" % (datetime.datetime.utcnow().strftime("%Y-%m-%d %H:%M"),
                                        os.environ.get("KALO_LIBRARY", "libkalo.so.1")),
        "- Set `%s`, columns of %d rows; median of %d repeats, engines alternating within each "
        "repeat. kalo: `Equation.columns` over the library's columns export, every row checked "
        "for floating-point faults, `pi` and `e` given as scalars; "
        "numexpr: `numexpr.evaluate`; pandas.eval: its numexpr engine on one thread. "
        "Every engine's result is checked against kalo's on every row first." % (
            name, rows, repeats),
        "",
        "## Geometric means over the %d rows every engine runs" % len(timed),
        "",
        "| engine | ns/row | kalo/engine |",
        "|---|---:|---:|",
    ]
    for engine in engines:
        out.append("| %s | %.2f | %.2f |" % (engine, ns[engine], ns["kalo"] / ns[engine]))
    skipped = [(row, note) for row, python, times, note in results if not times]
    out += ["", "Rows not timed: %d." % len(skipped), ""]
    out += ["| expression | reason |", "|---|---|"]
    out += ["| `%s` | %s |" % (row["source"], note) for row, note in skipped]
    out += ["", "## Every row (ns/row)", "",
            "| expression | " + " | ".join(engines) + " | kalo/numexpr 1 |",
            "|---|" + "---:|" * (len(engines) + 1)]
    for row, python, times in timed:
        cells = ["%.2f" % (times[e] * 1e9 / rows) for e in engines]
        out.append("| `%s` | %s | %.2f |" % (row["source"], " | ".join(cells),
                                             times["kalo"] / times["numexpr 1"]))
    return "\n".join(out) + "\n"


def Main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--set", default="bench_expr")
    parser.add_argument("--data", default=os.environ.get(
        "KALO_BENCH_DATA_DIR", str(HERE.parent.parent / "shared" / "bench-data")))
    parser.add_argument("--rows", type=int, default=1_000_000)
    parser.add_argument("--repeats", type=int, default=5)
    parser.add_argument("--output", default=str(HERE / "python_results.md"))
    args = parser.parse_args()
    listed, dropped = translate.TranslateFile(os.path.join(args.data, args.set + ".txt"))
    results = Measure(listed, Columns(args.rows), args.rows, args.repeats)
    with open(args.output, "w") as handle:
        handle.write(Report(args.set, results, args.rows, args.repeats))
    print("wrote %s" % args.output)


if __name__ == "__main__":
    Main()
