#!/usr/bin/env python3
"""Turns runs of kalo_peers and kalo_micro into bench/RESULTS.md, one section per label.

  results.py piece --label L --peers PEERS.md --peers-json PEERS.json [--micro MICRO.json] ...
      writes bench/results/L.md and L.json (or one standalone report with --output FILE)
  results.py assemble
      rebuilds bench/RESULTS.md from every bench/results/*.json and .md: the targets side by side
      for every label, then each label's report ("before" first, then "after", then the others
      in the order they were measured), then bench/python_results.md verbatim when it exists.

Called by bench/run_peers.sh; the numbers all come from the files given, so every ratio in a
section is a ratio within one run. Sections of other labels are never touched.
"""

import argparse
import datetime
import glob
import json
import os
import re
import subprocess

BENCH = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(BENCH)
PIECES = os.path.join(BENCH, "results")
LABEL_ORDER = ["before", "after"]


def Run(command):
    try:
        return subprocess.run(command, capture_output=True, text=True, check=False).stdout.strip()
    except OSError:
        return ""


def Machine():
    model, memory = "unknown processor", ""
    try:
        with open("/proc/cpuinfo") as handle:
            text = handle.read()
        found = re.search(r"^model name\s*:\s*(.*)$", text, re.M)
        model = found.group(1).strip() if found else model
        flags = re.search(r"^flags\s*:\s*(.*)$", text, re.M)
        vector = [f for f in ("avx2", "avx512f") if flags and f in flags.group(1).split()]
        model += " (%s)" % ", ".join(vector) if vector else ""
    except OSError:
        pass
    try:
        with open("/proc/meminfo") as handle:
            kib = int(re.search(r"MemTotal:\s*(\d+)", handle.read()).group(1))
            memory = "%.0f GiB" % (kib / 1024 / 1024)
    except (OSError, AttributeError):
        pass
    return "%s, %s cores (nproc), %s" % (model, Run(["nproc"]), memory)


def PeerVersions():
    versions = []
    for package in ("libmuparser-dev", "libfparser-dev", "libmatheval-dev", "libbenchmark-dev"):
        version = Run(["dpkg-query", "-W", "-f=${Version}", package])
        if version:
            versions.append("%s %s" % (package, version))
    versions.append("ExprTk 66883f0 and TinyExpr 9907207 from source")
    return ", ".join(versions)


def MicroMedians(path):
    """Median CPU time in ns of each benchmark, by name, from Google Benchmark's JSON (CPU time,
    like kalo_peers: on a shared machine, wall time counts other processes' turns)."""
    if not path or not os.path.exists(path):
        return {}
    with open(path) as handle:
        data = json.load(handle)
    medians = {}
    scale = {"ns": 1.0, "us": 1e3, "ms": 1e6, "s": 1e9}
    for entry in data.get("benchmarks", []):
        aggregate = entry.get("aggregate_name")
        if aggregate not in (None, "median"):
            continue
        name = re.sub(r"_median$", "", entry["name"])
        if aggregate is None and name in medians:
            continue
        medians[name] = entry["cpu_time"] * scale.get(entry.get("time_unit", "ns"), 1.0)
    return medians


DRIVEN = (
    "How each engine is driven: kalo through its C API (`KaloParseExpression` over "
    "`a b c x y z w pi e R`; one call is `KaloEvalExpression` on a double array, columns are one "
    "`KaloEvalExpressionColumns` call; a failed evaluation counts as an error); muparser with one "
    "`Parser` whose variables are bound to the host array (`SetExpr`, `Eval`), and for columns a "
    "second `Parser` whose variables are bound to the columns (`DefineVar` with arrays, "
    "`Eval(results, n)`, its bulk mode; OpenMP held to one thread); fparser `Parse` then "
    "`Optimize`, `Eval` on the array; libmatheval `evaluator_create`, `evaluator_evaluate` with "
    "the names it reports (its `pi` and `e` are built-in constants of the same value); ExprTk one "
    "`symbol_table` over the array, `parser::compile`, `expression::value()` inlined into the "
    "timing loop (its own translation unit); TinyExpr `te_compile` with the array bound, "
    "`te_eval`; native: the expression compiled into the benchmark as a C++ function and as a "
    "loop over columns (release flags, no -ffast-math), called through a pointer from another "
    "translation unit. One call: each evaluation changes `a` (cycling through 1024 values from 1.1 "
    "in steps of 1e-6) and the results are summed. Columns: 4096 rows, `a` cycling the same way, "
    "the other variables constant; engines without a bulk interface copy the row's values of the "
    "variables the expression uses into their bindings and evaluate, row by row. Compilation is "
    "timed from text to first result: kalo, libmatheval and TinyExpr create and destroy their "
    "object, muparser, fparser and ExprTk reuse their parser. Results are checked against native "
    "at 4 values of `a` and on every row of the columns (relative tolerance 1e-10). Rows with a "
    "comparison are kept but cannot be in the means: libmatheval and TinyExpr have no "
    "comparisons, and kalo's true is -1 where the others' is 1. The `Y = X` line declares only X "
    "and Y in kalo. Processes run pinned to one core (`taskset`), engines interleaved within each "
    "repeat; times are the timing thread's CPU time (another process's turn on the core is not "
    "counted), and only medians and ratios are quoted.")


def MicroSection(medians, repetitions):
    if not medians:
        return ["## Micro benchmarks", "", "kalo_micro was not built or not run.", ""]
    lines = ["## Micro benchmarks (kalo_micro, through the C API)", "",
             "Median CPU time of %s repetitions. Evaluation: X changes every iteration; the C++ rows are "
             "the same programs called through a function pointer." % repetitions, "",
             "| benchmark | kalo ns | C++ ns | kalo/C++ |", "|---|---:|---:|---:|"]
    for name in ("short", "medium", "polynomial20"):
        kalo, native = medians.get("Evaluate/" + name), medians.get("EvaluateNative/" + name)
        if kalo is None:
            continue
        lines.append("| Evaluate/%s | %.1f | %s | %s |" % (
            name, kalo, "%.1f" % native if native else "–",
            "%.2f" % (kalo / native) if native else "–"))
    lines += ["", "| compilation (parse + destroy) | µs |", "|---|---:|"]
    for name in ("short", "medium", "long"):
        if "Compile/" + name in medians:
            lines.append("| Compile/%s | %.2f |" % (name, medians["Compile/" + name] / 1e3))
    lines += ["", "Equations: short `Y = X`; medium `Z = 2*sin(X) + Y/3`; long: a 271-character "
              "mix of operators, calls and literals; polynomial20: a degree-10 polynomial in Horner "
              "form.", ""]
    kalo, native = medians.get("Evaluate/short"), medians.get("EvaluateNative/short")
    if kalo is not None and native is not None:
        lines += ["`Y = X` costs %.1f ns per KaloEvalExpression against %.1f ns for the C++ "
                  "function call: %.1f ns of fixed cost per call." % (kalo, native, kalo - native),
                  ""]
    parts = [
        ("FixedBusyGate", "the busy gate: compare-and-swap to enter, release store to leave"),
        ("FixedReadMxcsr", "one SSE control/status read (stmxcsr)"),
        ("FixedWriteMxcsr", "one SSE control/status write (ldmxcsr)"),
        ("FixedX87ControlAndStatus", "x87 control word and status word reads"),
        ("FixedX87Clear", "clearing the x87 flags"),
        ("FixedValueCopies", "host values into the pool with the NaN test, result back (3 vars)"),
        ("FixedIndirectCall", "one indirect call"),
    ]
    present = [(name, meaning) for name, meaning in parts if name in medians]
    if present:
        lines += ["Primitives a call may be made of, each measured alone in the same run:", "",
                  "| primitive | ns | what it stands for |", "|---|---:|---|"]
        lines += ["| %s | %.2f | %s |" % (name, medians[name], meaning) for name, meaning in present]
        lines.append("")
    return lines


def Commit(explicit):
    if explicit:
        return explicit
    commit = Run(["git", "-C", ROOT, "rev-parse", "--short", "HEAD"]) or "unknown"
    # What is measured is everything outside bench/; name its last commit when HEAD only
    # changed the benchmarks.
    measured = Run(["git", "-C", ROOT, "log", "-1", "--format=%h", "--", ".", ":!bench"])
    if measured and measured != commit:
        commit += " (kalo as at %s)" % measured
    if Run(["git", "-C", ROOT, "status", "--porcelain", "--untracked-files=no", "--", ".",
            ":!bench/RESULTS.md", ":!bench/results"]):
        commit += " (with uncommitted changes)"
    return commit


def Piece(args):
    with open(args.peers) as handle:
        peers = handle.read()
    with open(args.peers_json) as handle:
        summary = json.load(handle)
    medians = MicroMedians(args.micro)
    summary.update({
        "label": args.label, "commit": Commit(args.commit), "machine": Machine(),
        "date": datetime.datetime.now(datetime.timezone.utc).strftime("%Y-%m-%d %H:%M UTC"),
        "compiler": args.compiler, "minutes": args.minutes, "micro": medians,
    })
    split = peers.find("### One call, ns per evaluation")
    head, tables = (peers[:split], peers[split:]) if split >= 0 else (peers, "")
    lines = [
        "- Machine: %s" % summary["machine"],
        "- Date: %s; commit %s; the run took about %s min" % (
            summary["date"], summary["commit"], args.minutes or "?"),
        "- Build: Release, %s; no -ffast-math" % (args.compiler or "C++ compiler"),
        "- Peers: %s" % PeerVersions(),
        "",
        head.rstrip(), "",
    ]
    lines += [tables.rstrip(), ""]
    lines += MicroSection(medians, args.micro_repetitions)
    body = "\n".join(lines)
    if args.output:
        with open(args.output, "w") as handle:
            handle.write("# kalo benchmark results: %s\n\n%s\n\n%s" % (args.label, DRIVEN, body))
        return
    os.makedirs(PIECES, exist_ok=True)
    with open(os.path.join(PIECES, args.label + ".md"), "w") as handle:
        handle.write(body)
    with open(os.path.join(PIECES, args.label + ".json"), "w") as handle:
        json.dump(summary, handle, indent=1, sort_keys=True)
        handle.write("\n")


# --- Assembling RESULTS.md -----------------------------------------------------------------------


def LoadSummaries():
    """Every label's summary: "before", "after", then the others in the order they were measured."""
    summaries = {}
    for path in glob.glob(os.path.join(PIECES, "*.json")):
        with open(path) as handle:
            summaries[os.path.basename(path)[:-5]] = json.load(handle)
    order = [l for l in LABEL_ORDER if l in summaries] + sorted(
        (l for l in summaries if l not in LABEL_ORDER),
        key=lambda l: (summaries[l].get("date", ""), l))
    return {l: summaries[l] for l in order}


def Engine(summary, name, key):
    return summary.get("engines", {}).get(name, {}).get(key)


def Ratio(summary, top, bottom, key):
    a, b = Engine(summary, top, key), Engine(summary, bottom, key)
    return a / b if a and b else None


# Each target: the text, how to compute the number quoted, its format and whether it is met.
TARGETS = [
    ("One call: fixed cost of `Y = X` within 8 ns of the C++ call (the loop sums the results)",
     lambda s: Engine(s, "kalo", "fixedNs") - Engine(s, "native", "fixedNs"),
     "%.1f ns", lambda v: v <= 8.0),
    ("… the same with no floating-point arithmetic by the host between calls",
     lambda s: Engine(s, "kalo", "fixedCleanFlagsNs") - Engine(s, "native", "fixedCleanFlagsNs"),
     "%.1f ns", lambda v: v <= 8.0),
] + [
    ("One call: geometric mean faster than %s" % peer,
     lambda s, peer=peer: Ratio(s, "kalo", peer, "evalNs"), "kalo/%s %%.2f" % peer,
     lambda v: v < 1.0)
    for peer in ("muparser", "fparser", "tinyexpr", "matheval")
] + [
    ("One call: geometric mean within 1.3× of exprtk",
     lambda s: Ratio(s, "kalo", "exprtk", "evalNs"), "kalo/exprtk %.2f", lambda v: v <= 1.3),
    ("Columns: geometric mean per row no slower than the C++ loop",
     lambda s: Ratio(s, "kalo", "native", "columnNs"), "kalo/C++ %.2f", lambda v: v <= 1.0),
    ("Columns: at least 3× faster than muparser's bulk mode",
     lambda s: Ratio(s, "muparser", "kalo", "columnNs"), "muparser/kalo %.2f", lambda v: v >= 3),
    ("Columns: at least 3× faster than exprtk row by row",
     lambda s: Ratio(s, "exprtk", "kalo", "columnNs"), "exprtk/kalo %.2f", lambda v: v >= 3),
] + [
    ("Compilation faster than %s" % peer,
     lambda s, peer=peer: Ratio(s, "kalo", peer, "compileUs"), "kalo/%s %%.2f" % peer,
     lambda v: v < 1.0)
    for peer in ("muparser", "fparser", "matheval", "exprtk")
] + [
    ("Compilation within 1.5× of tinyexpr",
     lambda s: Ratio(s, "kalo", "tinyexpr", "compileUs"), "kalo/tinyexpr %.2f",
     lambda v: v <= 1.5),
]


def TargetCell(summary, compute, form, met):
    try:
        value = compute(summary)
    except TypeError:
        value = None
    if value is None:
        return "–"
    return "%s %s" % (form % value, "(met)" if met(value) else "(**not met**)")


def TargetsSection(summaries):
    labels = list(summaries)
    if not labels:
        return []
    lines = ["## Targets (set `%s`, geometric means over the rows every engine runs)" %
             summaries[labels[0]].get("set", "?"), "",
             "| target | " + " | ".join(labels) + " |", "|---|" + "---:|" * len(labels)]
    for text, compute, form, met in TARGETS:
        cells = [TargetCell(summaries[l], compute, form, met) for l in labels]
        lines.append("| %s | %s |" % (text, " | ".join(cells)))
    lines.append("")
    lines.append("Commits: " + "; ".join(
        "%s %s (%s)" % (l, summaries[l].get("commit", "?"), summaries[l].get("date", "?"))
        for l in labels) + ". Each column is one run; compare ratios, not nanoseconds, across "
        "columns.")
    lines.append("")
    return lines


def Demote(text):
    return re.sub(r"^(#+) ", r"#\1 ", text, flags=re.M)


def Assemble(args):
    summaries, sections = LoadSummaries(), []
    for label in summaries:
        with open(os.path.join(PIECES, label + ".md")) as handle:
            body = handle.read()
        sections += ["## %s" % label.capitalize(), "", Demote(body).rstrip(), ""]
    lines = [
        "# kalo benchmark results", "",
        "Regenerated by `bench/run_peers.sh --label LABEL` (each label's section is kept until that "
        "label is measured again); do not edit by hand. The machine is shared and noisy: only "
        "medians and ratios within one run are quoted, and only ratios within one run mean "
        "anything.", "",
        DRIVEN, "",
    ]
    lines += TargetsSection(summaries) + sections
    python = os.path.join(BENCH, "python_results.md")
    if os.path.exists(python):
        with open(python) as handle:
            lines += [handle.read().rstrip(), ""]
    with open(args.output or os.path.join(BENCH, "RESULTS.md"), "w") as handle:
        handle.write("\n".join(lines))


def Main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    commands = parser.add_subparsers(dest="command", required=True)
    piece = commands.add_parser("piece", help="one run's report under a label")
    piece.add_argument("--label", required=True, type=lambda s: re.sub(r"[^\w-]", "_", s))
    piece.add_argument("--peers", required=True, help="markdown written by kalo_peers")
    piece.add_argument("--peers-json", required=True, help="JSON written by kalo_peers")
    piece.add_argument("--micro", help="JSON written by kalo_micro")
    piece.add_argument("--micro-repetitions", default="5")
    piece.add_argument("--compiler", default="")
    piece.add_argument("--commit", help="what was measured, when not this repository's HEAD")
    piece.add_argument("--minutes", default="", help="how long the run took")
    piece.add_argument("--output", help="a standalone report instead of bench/results/LABEL.*")
    assemble = commands.add_parser("assemble", help="rebuild RESULTS.md from bench/results")
    assemble.add_argument("--output", help="instead of bench/RESULTS.md")
    args = parser.parse_args()
    (Piece if args.command == "piece" else Assemble)(args)


if __name__ == "__main__":
    Main()
