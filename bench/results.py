#!/usr/bin/env python3
"""Assembles bench/RESULTS.md from one run of kalo_peers (markdown) and kalo_micro (JSON).

Called by bench/run_peers.sh; the numbers all come from the files it is given, so every ratio in
the result is a ratio within one run.
"""

import argparse
import datetime
import json
import os
import re
import subprocess


def Run(command):
    try:
        return subprocess.run(command, capture_output=True, text=True, check=False).stdout.strip()
    except OSError:
        return ""


def Machine():
    model = "unknown processor"
    try:
        with open("/proc/cpuinfo") as handle:
            for line in handle:
                if line.startswith("model name"):
                    model = line.split(":", 1)[1].strip()
                    break
    except OSError:
        pass
    memory = ""
    try:
        with open("/proc/meminfo") as handle:
            for line in handle:
                if line.startswith("MemTotal"):
                    memory = "%.0f GiB" % (int(line.split()[1]) / 1024 / 1024)
                    break
    except OSError:
        pass
    return model, Run(["nproc"]), memory


def PeerVersions():
    versions = []
    for package in ("libmuparser-dev", "libfparser-dev", "libmatheval-dev", "libbenchmark-dev"):
        version = Run(["dpkg-query", "-W", "-f=${Version}", package])
        if version:
            versions.append("%s %s" % (package, version))
    return ", ".join(versions) if versions else "unknown"


def MicroMedians(path):
    """Median real time in ns of each benchmark, by name, from Google Benchmark's JSON."""
    if not path or not os.path.exists(path):
        return {}
    with open(path) as handle:
        data = json.load(handle)
    medians = {}
    scale = {"ns": 1.0, "us": 1e3, "ms": 1e6, "s": 1e9}
    for entry in data.get("benchmarks", []):
        name = entry["name"]
        aggregate = entry.get("aggregate_name")
        if aggregate not in (None, "median"):
            continue
        name = re.sub(r"_median$", "", name)
        if aggregate is None and name in medians:
            continue
        medians[name] = entry["real_time"] * scale.get(entry.get("time_unit", "ns"), 1.0)
    return medians


def MicroSection(medians, repetitions):
    if not medians:
        return ["## Micro benchmarks", "",
                "kalo_micro was not built or not run (Google Benchmark missing).", ""]
    lines = ["## Micro benchmarks (kalo_micro, through the C API)", "",
             "Median of %s repetitions. Evaluation: X changes every iteration; the C++ rows are "
             "the same programs called through a function pointer." % repetitions, ""]
    lines += ["| benchmark | kalo ns | C++ ns | kalo/C++ |", "|---|---:|---:|---:|"]
    for name in ("short", "medium", "polynomial20"):
        kalo = medians.get("Evaluate/" + name)
        native = medians.get("EvaluateNative/" + name)
        if kalo is None:
            continue
        ratio = "%.2f" % (kalo / native) if native else "–"
        lines.append("| Evaluate/%s | %.1f | %s | %s |" % (
            name, kalo, "%.1f" % native if native else "–", ratio))
    lines += ["", "| compilation (parse + destroy) | µs |", "|---|---:|"]
    for name in ("short", "medium", "long"):
        value = medians.get("Compile/" + name)
        if value is not None:
            lines.append("| Compile/%s | %.2f |" % (name, value / 1e3))
    lines += ["", "Equations: short `Y = X`; medium `Z = 2*sin(X) + Y/3`; long: a 271-character "
              "mix of operators, calls and literals; polynomial20: a degree-10 polynomial in Horner "
              "form (10 multiplications, 10 additions).", ""]

    # The fixed cost per call and its parts.
    kalo = medians.get("Evaluate/short")
    native = medians.get("EvaluateNative/short")
    lines += ["## kalo's fixed cost per call", ""]
    if kalo is not None and native is not None:
        lines.append("`Y = X` costs %.1f ns per KaloEvalExpression against %.1f ns for the C++ "
                     "function call that returns X: about **%.1f ns of fixed cost per call**." % (
                         kalo, native, kalo - native))
    lines += ["", "The primitives one call is made of, each measured alone in the same run:", "",
              "| primitive | ns | what it stands for in a call |", "|---|---:|---|"]
    parts = [
        ("FixedBusyGate", "the busy gate: compare-and-swap to enter, release store to leave"),
        ("FixedReadMxcsr", "one SSE control/status read (stmxcsr): saving the host's state, "
                           "reading the sticky flags after the run"),
        ("FixedWriteMxcsr", "one SSE control/status write (ldmxcsr): resetting or restoring"),
        ("FixedX87ControlAndStatus", "x87 control word and status word reads"),
        ("FixedX87Clear", "clearing the x87 flags (only when a run may touch the x87 unit)"),
        ("FixedValueCopies", "host values into the pool with the NaN test, result back (3 vars)"),
        ("FixedIndirectCall", "one indirect call: the dispatch into the generated code"),
    ]
    for name, meaning in parts:
        if name in medians:
            lines.append("| %s | %.2f | %s |" % (name, medians[name], meaning))
    lines += [
        "",
        "Where it goes, as the evaluator stands at this commit (evaluator/guard.cpp, "
        "platform/float_unit.h, evaluator/register_form.cpp, evaluator/native_x64.cpp): the export "
        "checks the handle's magic word; `Evaluate` takes the busy gate with one compare-and-swap "
        "and releases it with a store; it clears the four error fields; `RunGuarded` tests the "
        "value pointer, copies each host value into the pool while testing that it is a normal "
        "number or zero, then saves the SSE and x87 control words (and rewrites them only when "
        "they differ from the defaults); `RunFast` calls the generated machine code through a "
        "pointer; code that calls no library routine tests its results' values itself, other "
        "code is followed by one read of the sticky flags; the x87 flags are cleared once, before "
        "a run that cannot use the x87 unit and after one that can; on the way out the guard "
        "writes the SSE register, and the result is copied back to the host. "
        "Compare the primitives above with the fixed cost: the control-register reads, which "
        "wait for the arithmetic in flight, and the atomic read-modify-write account for most of "
        "it; the arithmetic of `Y = X` itself is nothing.",
        "",
    ]
    return lines


def Main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--peers", required=True, help="markdown written by kalo_peers")
    parser.add_argument("--micro", help="JSON written by kalo_micro")
    parser.add_argument("--micro-repetitions", default="5")
    parser.add_argument("--build-type", default="Release")
    parser.add_argument("--compiler", default="")
    parser.add_argument("--commit", help="what was measured, when not this repository's HEAD")
    parser.add_argument("--output", required=True)
    args = parser.parse_args()

    with open(args.peers) as handle:
        peers = handle.read()
    split = peers.find("### Evaluation, ns per evaluation")
    summary, tables = (peers[:split], peers[split:]) if split >= 0 else (peers, "")

    model, cores, memory = Machine()
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    commit = Run(["git", "-C", root, "rev-parse", "--short", "HEAD"]) or "unknown"
    if Run(["git", "-C", root, "status", "--porcelain", "--untracked-files=no"]):
        commit += " (with uncommitted changes)"
    if args.commit:
        commit = args.commit
    now = datetime.datetime.now(datetime.timezone.utc).strftime("%Y-%m-%d %H:%M UTC")

    lines = [
        "# kalo benchmark results",
        "",
        "Regenerated by `bench/run_peers.sh`; do not edit by hand. The machine is shared and "
        "noisy: only medians and ratios from this one run are quoted, and only ratios within one "
        "run mean anything.",
        "",
        "- Machine: %s, %s cores (nproc), %s" % (model, cores, memory),
        "- Date: %s; commit %s" % (now, commit),
        "- Build: %s, %s; no -ffast-math" % (args.build_type, args.compiler or "C++ compiler"),
        "- Peers: %s" % PeerVersions(),
        "",
        "How each engine is driven: kalo through its C API (`KaloParseExpression` over "
        "`a b c x y z w pi e R`, `KaloEvalExpression` on a double array; a failed evaluation "
        "counts as an error); muparser with one `Parser` whose variables are bound to the host "
        "array (`SetExpr`, `Eval`); fparser `Parse` then `Optimize`, `Eval` on the array; "
        "libmatheval `evaluator_create`, `evaluator_evaluate` with the names it reports (its "
        "`pi` and `e` are built-in constants of the same value); native: the expression compiled "
        "into the benchmark as a C++ function (same flags), called through a pointer from another "
        "translation unit. Each evaluation changes `a` (cycling through 1024 values from 1.1 in "
        "steps of 1e-6) and the results are summed. Compilation is timed from text to first "
        "result: kalo and libmatheval create and destroy their object, muparser and fparser "
        "reuse theirs. Results are checked against native at 4 values of `a` (relative "
        "tolerance 1e-10; where native's result is a rounding residue next to zero, an engine that "
        "folds the cancellation to 0 shows as a mismatch, which is reported as found). Rows with a comparison are kept but cannot be in the means: "
        "libmatheval has no comparisons, and kalo's true is -1 where the others' is 1. kalo's "
        "`if` evaluates all three arguments; no list row uses `if`.",
        "",
    ]
    lines.append(summary.rstrip())
    lines.append("")
    lines += MicroSection(MicroMedians(args.micro), args.micro_repetitions)
    lines.append(tables.rstrip())
    lines.append("")
    with open(args.output, "w") as handle:
        handle.write("\n".join(lines))


if __name__ == "__main__":
    Main()
