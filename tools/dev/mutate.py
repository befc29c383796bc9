#!/usr/bin/env python3
"""Mutation testing for the library: how many one-line faults does the test suite notice?

Each mutant changes one line of one library source (an operator swapped, an integer constant
moved by one, a `!` dropped, a statement deleted), rebuilds incrementally, runs the suite and
puts the file back, always. A mutant the build rejects is reported apart and not counted.

    nice -n 19 tools/dev/mutate.py --count 150 --seed 1 --report build/mutate/report

The sample depends only on the seed, the count and the sources, so two runs over the same
sources compare; runs over changed sources compare as samples of the same kind.
"""
import argparse
import json
import os
import random
import re
import signal
import subprocess
import sys
import time

LIBRARY_FOLDERS = ["common", "compiler", "evaluator", "expression", "interface", "platform",
                   "resources", "userfunc"]
SUFFIXES = (".cpp", ".h", ".def")

# (pattern, replacement) rows; a pattern matches one operator occurrence in code with its strings,
# characters and comments blanked. Lookarounds keep `<<`, `->`, `++`, `+=`, `!=`, `//` whole.
# clang-format off
OPERATOR_SWAPS = [
    (r"(?<=\s)<(?=\s)", "<="),
    (r"(?<=\s)<=(?=\s)", "<"),
    (r"(?<=\s)>(?=\s)", ">="),
    (r"(?<=\s)>=(?=\s)", ">"),
    (r"==", "!="),
    (r"!=", "=="),
    (r"&&", "||"),
    (r"\|\|", "&&"),
    (r"(?<![+\-*/=<>!&|^%\[(,])\s\+\s(?![=+])", " - "),
    (r"(?<![+\-*/=<>!&|^%\[(,])\s-\s(?![=\-])", " + "),
    (r"(?<![+\-*/=<>!&|^%/\[(,])\s\*\s(?![=*/])", " / "),
    (r"(?<![+\-*/=<>!&|^%\[(,])\s/\s(?![=*/])", " * "),
    (r"\+=", "-="),
    (r"-=", "+="),
    (r"\+\+", "--"),
]
# clang-format on
INTEGER = re.compile(r"(?<![\w.])(\d+)(?![\w.'])")
NEGATION = re.compile(r"!(?!=)")
SKIPPED_LINE = re.compile(r"^\s*(#|static_assert\b|namespace\b|using\b|template\b)")
DELETABLE = re.compile(r"^\s*(?!return\b|break\b|continue\b|case\b|default\b|else\b)[^{}]*;\s*$")


def Blank(line, inComment):
    """Returns the line with comments, string and character literals replaced by spaces, and
    whether a block comment continues onto the next line."""
    out = []
    i = 0
    while i < len(line):
        if inComment:
            end = line.find("*/", i)
            if end < 0:
                return "".join(out) + " " * (len(line) - i), True
            out.append(" " * (end + 2 - i))
            i = end + 2
            inComment = False
        elif line.startswith("//", i):
            out.append(" " * (len(line) - i))
            break
        elif line.startswith("/*", i):
            inComment = True
        elif line[i] in "\"'":
            quote = line[i]
            j = i + 1
            while j < len(line) and line[j] != quote:
                j += 2 if line[j] == "\\" else 1
            out.append(quote + " " * (min(j, len(line)) - i - 1) + (quote if j < len(line) else ""))
            i = j + 1
        else:
            out.append(line[i])
            i += 1
    return "".join(out), inComment


def LineMutants(path, number, line, code):
    """Every one-line change of `line` (code is the line blanked), as (kind, new line) pairs."""
    found = []
    if SKIPPED_LINE.match(code) or not code.strip():
        return found

    def Replace(match, replacement):
        return line[:match.start()] + replacement + line[match.end():]

    for pattern, replacement in OPERATOR_SWAPS:
        for match in re.finditer(pattern, code):
            kind = "%s -> %s" % (match.group(0).strip(), replacement.strip())
            found.append((kind, Replace(match, replacement)))
    for match in INTEGER.finditer(code):
        value = int(match.group(1))
        found.append(("%d -> %d" % (value, value + 1), Replace(match, str(value + 1))))
        if value > 0:
            found.append(("%d -> %d" % (value, value - 1), Replace(match, str(value - 1))))
    for match in NEGATION.finditer(code):
        found.append(("! removed", Replace(match, "")))
    if DELETABLE.match(code) and "=" in code or re.match(r"^\s*\w+(::\w+)*\(.*\);\s*$", code):
        if not re.match(r"^\s*(const|constexpr|static|auto|int|double|bool|unsigned|char)\b", code):
            found.append(("statement deleted", re.sub(r"\S.*", "", line) + "\n"))
    return [(path, number, kind, new) for kind, new in found if new != line]


def BuiltSources(build):
    """The sources this build compiles: a file for another platform cannot be mutated here."""
    with open(os.path.join(build, "compile_commands.json")) as f:
        return {os.path.realpath(entry["file"]) for entry in json.load(f)}


def Candidates(root, built):
    mutants = []
    for folder in LIBRARY_FOLDERS:
        base = os.path.join(root, folder)
        if not os.path.isdir(base):
            continue
        for name in sorted(os.listdir(base)):
            if not name.endswith(SUFFIXES):
                continue
            path = os.path.join(folder, name)
            if name.endswith(".cpp") and os.path.realpath(os.path.join(root, path)) not in built:
                continue
            inComment = False
            with open(os.path.join(root, path), encoding="utf-8") as f:
                for number, line in enumerate(f, 1):
                    code, inComment = Blank(line.rstrip("\n"), inComment)
                    mutants.extend(LineMutants(path, number, line, code))
    return mutants


def Run(command, cwd, timeout):
    try:
        done = subprocess.run(command, cwd=cwd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                              timeout=timeout, text=True)
        return done.returncode, done.stdout
    except subprocess.TimeoutExpired as e:
        out = e.stdout.decode() if isinstance(e.stdout, bytes) else (e.stdout or "")
        return None, out


def Configure(root, build):
    flags = "-O0 -g0 -Wno-sign-conversion"
    subprocess.run(["cmake", "-S", root, "-B", build, "-G", "Unix Makefiles",
                    "-DCMAKE_BUILD_TYPE=None", "-DCMAKE_EXPORT_COMPILE_COMMANDS=ON", "-DCMAKE_CXX_FLAGS=" + flags,
                    "-DKALO_BUILD_BENCH=OFF", "-DKALO_BUILD_TOOLS=ON", "-DKALO_BUILD_TESTS=ON"],
                   check=True, stdout=subprocess.DEVNULL)


def Build(build, jobs):
    return Run(["cmake", "--build", build, "-j%d" % jobs], None, 1800)


def Test(build, jobs, timeout):
    return Run(["ctest", "--test-dir", build, "-j%d" % jobs, "--stop-on-failure",
                "--timeout", str(timeout)],
               None, timeout * 20)


def FailedTest(output):
    for line in output.splitlines():
        match = re.search(r"Test\s+#\d+: (\S+) .*?\*\*\*(Failed|Timeout|Exception)", line)
        if match:
            return "%s (%s)" % (match.group(1), match.group(2).lower())
    return ""


class Restorer:
    """Puts the mutated file back on any way out, Ctrl-C and SIGTERM included."""

    def __init__(self):
        self.path = None
        self.text = None
        signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))

    def Apply(self, path, number, newLine):
        with open(path, encoding="utf-8") as f:
            self.text = f.read()
        self.path = path
        lines = self.text.splitlines(True)
        lines[number - 1] = newLine
        with open(path, "w", encoding="utf-8") as f:
            f.write("".join(lines))

    def Restore(self):
        if self.path is not None:
            with open(self.path, "w", encoding="utf-8") as f:
                f.write(self.text)
            self.path = None


def WriteReport(base, summary, results):
    with open(base + ".json", "w") as f:
        json.dump({"summary": summary, "mutants": results}, f, indent=1)
    with open(base + ".md", "w") as f:
        f.write("# Mutation run\n\n")
        for key, value in summary.items():
            f.write("- %s: %s\n" % (key, value))
        f.write("\n## Survivors\n\n")
        for r in results:
            if r["outcome"] == "survived":
                f.write("- `%s:%d` %s: `%s` -> `%s`\n" % (r["file"], r["line"], r["kind"], r["old"],
                                                        r["new"]))
        f.write("\n## All mutants\n\n| # | place | change | outcome | test |\n|---|---|---|---|---|\n")
        for i, r in enumerate(results, 1):
            f.write("| %d | %s:%d | %s | %s | %s |\n" % (i, r["file"], r["line"], r["kind"],
                                                        r["outcome"], r.get("test", "")))


def Summary(args, results, root):
    counted = [r for r in results if r["outcome"] in ("killed", "survived")]
    killed = sum(r["outcome"] == "killed" for r in counted)
    commit = subprocess.run(["git", "-C", root, "rev-parse", "--short", "HEAD"],
                            stdout=subprocess.PIPE, text=True).stdout.strip()
    return {"commit": commit, "seed": args.seed, "sampled": len(results), "counted": len(counted),
            "killed": killed,
            "not compiled": sum(r["outcome"] == "not compiled" for r in results),
            "share killed": "%.1f%%" % (100.0 * killed / len(counted)) if counted else "n/a"}


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--root", default=os.path.dirname(os.path.dirname(
        os.path.dirname(os.path.abspath(__file__)))))
    parser.add_argument("--build", help="build directory (default ROOT/build/mutate)")
    parser.add_argument("--count", type=int, default=150)
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--timeout", type=int, default=120, help="seconds per test")
    parser.add_argument("--jobs", type=int, default=2)
    parser.add_argument("--report", help="report path without extension (.json and .md)")
    parser.add_argument("--list", action="store_true", help="print the sample and stop")
    parser.add_argument("--survivors-of", metavar="JSON",
                        help="run only the mutants of the sample that survived in this report")
    args = parser.parse_args()
    root = os.path.abspath(args.root)
    build = os.path.abspath(args.build or os.path.join(root, "build", "mutate"))
    report = args.report or os.path.join(build, "mutation_report")

    Configure(root, build)
    everything = Candidates(root, BuiltSources(build))
    sample = random.Random(args.seed).sample(everything, min(args.count, len(everything)))
    if args.survivors_of:
        with open(args.survivors_of) as f:
            survived = {(r["file"], r["line"], r["new"]) for r in json.load(f)["mutants"]
                        if r["outcome"] == "survived"}
        sample = [m for m in sample if (m[0], m[1], m[3].strip()) in survived]
    if args.list:
        for path, number, kind, new in sample:
            print("%s:%d %s: %s" % (path, number, kind, new.strip()))
        return 0
    status, output = Build(build, args.jobs)
    # A test that fails now and then under load must not end the run before it starts; it is
    # named in the report of every mutant it "kills", where such kills can be checked again.
    for _ in range(3 if status == 0 else 0):
        status, output = Test(build, args.jobs, args.timeout)
        if status == 0:
            break
    if status != 0:
        sys.exit("the unmutated sources must build and pass first:\n" + output[-3000:])

    restorer = Restorer()
    results = []
    try:
        for index, (path, number, kind, new) in enumerate(sample, 1):
            start = time.time()
            with open(os.path.join(root, path), encoding="utf-8") as f:
                old = f.read().splitlines()[number - 1].strip()
            row = {"file": path, "line": number, "kind": kind, "old": old, "new": new.strip()}
            restorer.Apply(os.path.join(root, path), number, new)
            try:
                status, _ = Build(build, args.jobs)
                if status != 0:
                    row["outcome"] = "not compiled"
                else:
                    status, output = Test(build, args.jobs, args.timeout)
                    row["outcome"] = "survived" if status == 0 else "killed"
                    row["test"] = FailedTest(output) if status != 0 else ""
            finally:
                restorer.Restore()
            row["seconds"] = round(time.time() - start, 1)
            results.append(row)
            print("[%d/%d] %s:%d %s: %s (%.0fs)" % (index, len(sample), path, number, kind,
                                                    row["outcome"], row["seconds"]), flush=True)
            WriteReport(report, Summary(args, results, root), results)
    except KeyboardInterrupt:
        print("interrupted; the sources are restored", file=sys.stderr)
    finally:
        restorer.Restore()
        Build(build, args.jobs)
    summary = Summary(args, results, root)
    WriteReport(report, summary, results)
    print("\nkilled %s of %s counted mutants (%s); %s did not compile" %
          (summary["killed"], summary["counted"], summary["share killed"],
           summary["not compiled"]))
    for r in results:
        if r["outcome"] == "survived":
            print("survived %s:%d %s: %s -> %s" % (r["file"], r["line"], r["kind"], r["old"],
                                                   r["new"]))
    print("report: %s.md, %s.json" % (report, report))
    return 0


if __name__ == "__main__":
    sys.exit(main())
