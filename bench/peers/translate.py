#!/usr/bin/env python3
"""Translates the math-parser benchmark's expression lists into every engine's syntax.

The lists are written in the usual calculator syntax: `^` is a right-associative power that binds
tighter than unary minus (-2^2 is -4), `log` is the natural logarithm, `abs` the absolute value,
unary `+` is allowed, and `pi` and `e` are names. Each line is parsed into a tree once and printed
back per engine with only the parentheses that engine needs, so every engine computes the same
tree in the same order (floating-point addition is not associative, so grouping is kept exactly).

Engines and their spellings:
  kalo       R = ..., pow(x, y), ln, fabs; comparisons give -1 for true; no `^`, no unary `+`
  muparser   (x)^(y), ln, abs, == and !=
  fparser    pow(x, y), log, abs, = and !=
  matheval   (x)^(y), log, abs; no comparisons (the row is marked as not expressible)
  exprtk     (x)^(y), log, abs, == and !=
  tinyexpr   (x)^(y), ln, abs; no comparisons; its `^` is left-associative and its unary minus
             binds tighter than `^`, which the parenthesised operands make irrelevant
  native     C++: std::pow, std::log, std::fabs; comparisons give 1.0 or 0.0; one function per
             row over an array of values, one loop per row over columns

Lines whose kalo equation exceeds the 303-character equation limit are dropped, like lines that
do not parse. Usage:

  translate.py --list FILE                 print a table of every line and its translations
  translate.py --output OUT.cpp NAME=FILE [NAME=FILE ...]
                                           write the C++ source kalo_peers compiles in
"""

import argparse
import math
import re
import sys

VARIABLES = ["a", "b", "c", "x", "y", "z", "w", "pi", "e"]
KALO_VARIABLES = " ".join(VARIABLES + ["R"])
EQUATION_LIMIT = 303

ENGINES = ["kalo", "muparser", "fparser", "matheval", "exprtk", "tinyexpr", "native"]


class TranslationError(Exception):
    pass


# --- Parsing -------------------------------------------------------------------------------------

TOKEN = re.compile(
    r"\s*(?:(?P<number>(?:\d+\.?\d*|\.\d+)(?:[eE][+-]?\d+)?)"
    r"|(?P<name>[A-Za-z_][A-Za-z0-9_]*)"
    r"|(?P<op><=|>=|==|!=|<>|[-+*/^(),<>=]))"
)


def Tokenize(text):
    tokens = []
    position = 0
    text = text.rstrip()
    while position < len(text):
        match = TOKEN.match(text, position)
        if match is None or match.end() == position:
            raise TranslationError("cannot read %r" % text[position:])
        position = match.end()
        kind = match.lastgroup
        tokens.append((kind, match.group(kind)))
    tokens.append(("end", ""))
    return tokens


# Tree nodes are tuples: ("num", text), ("var", name), ("neg", x), ("bin", op, l, r),
# ("cmp", op, l, r), ("pow", l, r), ("call", name, [args]).
FUNCTIONS = {"sin": 1, "cos": 1, "tan": 1, "sqrt": 1, "exp": 1, "log": 1, "abs": 1}
COMPARISONS = {"<": "<", ">": ">", "<=": "<=", ">=": ">=", "==": "==", "=": "==", "!=": "!=",
               "<>": "!="}


class Parser:
    def __init__(self, text):
        self.tokens = Tokenize(text)
        self.index = 0

    def Peek(self):
        return self.tokens[self.index]

    def Take(self):
        token = self.tokens[self.index]
        self.index += 1
        return token

    def Expect(self, value):
        kind, text = self.Take()
        if text != value or kind != "op":
            raise TranslationError("expected %r, found %r" % (value, text))

    def ParseLine(self):
        tree = self.Comparison()
        if self.Peek()[0] != "end":
            raise TranslationError("unexpected %r" % self.Peek()[1])
        return tree

    def Comparison(self):
        left = self.Additive()
        while self.Peek()[0] == "op" and self.Peek()[1] in COMPARISONS:
            op = COMPARISONS[self.Take()[1]]
            left = ("cmp", op, left, self.Additive())
        return left

    def Additive(self):
        left = self.Multiplicative()
        while self.Peek() in (("op", "+"), ("op", "-")):
            op = self.Take()[1]
            left = ("bin", op, left, self.Multiplicative())
        return left

    def Multiplicative(self):
        left = self.Unary()
        while self.Peek() in (("op", "*"), ("op", "/")):
            op = self.Take()[1]
            left = ("bin", op, left, self.Unary())
        return left

    def Unary(self):
        # Signs bind looser than `^`: -a^2 is -(a^2).
        if self.Peek() == ("op", "-"):
            self.Take()
            return ("neg", self.Unary())
        if self.Peek() == ("op", "+"):
            self.Take()
            return self.Unary()
        return self.Power()

    def Power(self):
        base = self.Primary()
        if self.Peek() == ("op", "^"):
            self.Take()
            # Right-associative, and the exponent may carry its own sign: a^-b^c is a^(-(b^c)).
            return ("pow", base, self.Unary())
        return base

    def Primary(self):
        kind, text = self.Take()
        if kind == "number":
            return ("num", text)
        if kind == "name":
            if self.Peek() == ("op", "("):
                self.Take()
                if text not in FUNCTIONS:
                    raise TranslationError("unknown function %s" % text)
                args = [self.Comparison()]
                while self.Peek() == ("op", ","):
                    self.Take()
                    args.append(self.Comparison())
                self.Expect(")")
                if len(args) != FUNCTIONS[text]:
                    raise TranslationError("%s takes %d arguments" % (text, FUNCTIONS[text]))
                return ("call", text, args)
            if text not in VARIABLES:
                raise TranslationError("unknown variable %s" % text)
            return ("var", text)
        if (kind, text) == ("op", "("):
            inner = self.Comparison()
            self.Expect(")")
            return inner
        raise TranslationError("unexpected %r" % text)


# --- Printing ------------------------------------------------------------------------------------

# Binding strength of each node kind, loosest first; atoms and calls bind tightest.
LEVEL_CMP, LEVEL_ADD, LEVEL_MUL, LEVEL_ATOM = 1, 2, 3, 9


def Level(node):
    if node[0] == "cmp":
        return LEVEL_CMP
    if node[0] == "bin":
        return LEVEL_ADD if node[1] in "+-" else LEVEL_MUL
    return LEVEL_ATOM  # num, var, call; neg and pow are handled by each printer


class Printer:
    """Prints a tree in one engine's syntax. Subclasses name the functions and operators."""

    functions = {}
    comparisons = {}
    signedNumbers = True  # whether a number may follow an operator as "-2" without parentheses

    def Print(self, node):
        return self.Node(node, top=True)

    def Node(self, node, top=False):
        kind = node[0]
        if kind == "num":
            return self.Number(node[1])
        if kind == "var":
            return node[1]
        if kind == "call":
            return self.Call(node[1], [self.Node(arg, top=True) for arg in node[2]])
        if kind == "pow":
            return self.Power(node[1], node[2])
        if kind == "neg":
            return self.Negation(node[1], top)
        op = node[1]
        if kind == "cmp":
            if op not in self.comparisons:
                raise TranslationError("no comparison operators")
            op = self.comparisons[op]
        left = self.Operand(node[2], Level(node), right=False)
        right = self.Operand(node[3], Level(node), right=True)
        return self.Binary(kind, op, left, right)

    def Operand(self, node, parentLevel, right):
        text = self.Node(node)
        if node[0] in ("cmp", "bin"):
            level = Level(node)
            # The right operand of a left-associative level needs parentheses at the same level.
            if level < parentLevel or (right and level == parentLevel):
                return "(" + text + ")"
        return text

    def Binary(self, kind, op, left, right):
        return "%s%s%s" % (left, op, right)

    def Negation(self, child, top):
        inner = self.Node(child)
        if child[0] in ("bin", "cmp", "pow", "neg"):
            inner = "(" + inner + ")"
        return ("-" + inner) if top else ("(-" + inner + ")")

    def Call(self, name, args):
        return "%s(%s)" % (self.functions.get(name, name), ",".join(args))

    def Number(self, text):
        return text

    def Power(self, base, exponent):
        raise NotImplementedError


class KaloPrinter(Printer):
    functions = {"log": "ln", "abs": "fabs"}
    comparisons = {"<": "<", ">": ">", "<=": "<=", ">=": ">=", "==": "=", "!=": "<>"}

    def Negation(self, child, top):
        # Unary minus takes one primary and binds tighter than every two-operand operator, so
        # "-a*b" already means (-a)*b and "a*-b" is valid: no parentheses around the sign.
        inner = self.Node(child)
        if child[0] in ("bin", "cmp"):
            inner = "(" + inner + ")"
        return "-" + inner

    def Power(self, base, exponent):
        return "pow(%s,%s)" % (self.Node(base, top=True), self.Node(exponent, top=True))

    def Number(self, text):
        mantissa, _, exponent = text.lower().partition("e")
        if exponent and abs(int(exponent)) >= 299:
            raise TranslationError("exponent beyond the literal limit")
        return text


class CaretPrinter(Printer):
    """Engines with a `^` operator: both operands are parenthesised unless atoms, so neither
    the associativity nor the sign rules of the engine's `^` matter."""

    def Power(self, base, exponent):
        def Wrap(node):
            text = self.Node(node, top=True)
            return text if node[0] in ("num", "var", "call") else "(" + text + ")"

        return "%s^%s" % (Wrap(base), Wrap(exponent))


class MuparserPrinter(CaretPrinter):
    functions = {"log": "ln"}
    comparisons = {"<": "<", ">": ">", "<=": "<=", ">=": ">=", "==": "==", "!=": "!="}


class FparserPrinter(Printer):
    functions = {}
    comparisons = {"<": "<", ">": ">", "<=": "<=", ">=": ">=", "==": "=", "!=": "!="}

    def Power(self, base, exponent):
        return "pow(%s,%s)" % (self.Node(base, top=True), self.Node(exponent, top=True))


class MathevalPrinter(CaretPrinter):
    functions = {}
    comparisons = {}  # the language has none


class ExprtkPrinter(CaretPrinter):
    functions = {}
    comparisons = {"<": "<", ">": ">", "<=": "<=", ">=": ">=", "==": "==", "!=": "!="}


class TinyexprPrinter(CaretPrinter):
    functions = {"log": "ln"}  # its `log` is the decimal logarithm
    comparisons = {}  # the language has none


class NativePrinter(Printer):
    functions = {"sin": "std::sin", "cos": "std::cos", "tan": "std::tan", "sqrt": "std::sqrt",
                 "exp": "std::exp", "log": "std::log", "abs": "std::fabs"}
    comparisons = {"<": "<", ">": ">", "<=": "<=", ">=": ">=", "==": "==", "!=": "!="}

    def Binary(self, kind, op, left, right):
        if kind == "cmp":
            return "double(%s %s %s)" % (left, op, right)
        return "%s %s %s" % (left, op, right)

    def Power(self, base, exponent):
        return "std::pow(%s, %s)" % (self.Node(base, top=True), self.Node(exponent, top=True))

    def Number(self, text):
        # Integer literals would make C++ divide integers: every literal becomes a double.
        if not re.search(r"[.eE]", text):
            return text + ".0"
        return text


PRINTERS = {
    "kalo": KaloPrinter(),
    "muparser": MuparserPrinter(),
    "fparser": FparserPrinter(),
    "matheval": MathevalPrinter(),
    "exprtk": ExprtkPrinter(),
    "tinyexpr": TinyexprPrinter(),
    "native": NativePrinter(),
}


def UsedVariables(node, found):
    if node[0] == "var":
        found.add(node[1])
    for child in node[1:]:
        if isinstance(child, tuple):
            UsedVariables(child, found)
        elif isinstance(child, list):
            for item in child:
                UsedVariables(item, found)
    return found


def HasComparison(node):
    if node[0] == "cmp":
        return True
    return any(
        (isinstance(c, tuple) and HasComparison(c))
        or (isinstance(c, list) and any(HasComparison(i) for i in c))
        for c in node[1:]
    )


def Translate(line):
    """Returns (row, reason): row maps engine to its text (None where it cannot express the
    line), plus "variables" and "notes"; row is None when the line is dropped."""
    try:
        tree = Parser(line).ParseLine()
    except TranslationError as error:
        return None, "does not parse: %s" % error
    row = {"source": line.strip(), "notes": []}
    for engine, printer in PRINTERS.items():
        try:
            row[engine] = printer.Print(tree)
        except TranslationError as error:
            if engine == "kalo":
                return None, "kalo: %s" % error
            row[engine] = None
            row["notes"].append("%s: %s" % (engine, error))
    row["kalo"] = "R = " + row["kalo"]
    if len(row["kalo"]) > EQUATION_LIMIT:
        return None, "kalo equation longer than %d characters" % EQUATION_LIMIT
    row["variables"] = sorted(UsedVariables(tree, set()), key=VARIABLES.index)
    if HasComparison(tree):
        row["notes"].append("comparison: kalo's true is -1, the others' 1")
    return row, None


def ReadLines(path):
    with open(path, "rb") as handle:
        for raw in handle:
            line = raw.decode("latin-1").strip()
            if line and not line.startswith("#"):
                yield line


def TranslateFile(path):
    rows, dropped = [], []
    for line in ReadLines(path):
        row, reason = Translate(line)
        if row is None:
            dropped.append((line, reason))
        else:
            rows.append(row)
    return rows, dropped


# --- Output --------------------------------------------------------------------------------------


def CString(text):
    if text is None:
        return "nullptr"
    return '"' + text.replace("\\", "\\\\").replace('"', '\\"') + '"'


# ExpressionRow's text fields, in the order of the struct.
TEXT_FIELDS = ["kalo", "muparser", "fparser", "matheval", "exprtk", "tinyexpr"]


def NativeFunctions(name, row):
    """The row as C++: one function over an array of values, one loop over columns."""
    lines = ["double %s(const double* v) {" % name]
    for variable in row["variables"]:
        lines.append("  const double %s = v[%d];" % (variable, VARIABLES.index(variable)))
    if not row["variables"]:
        lines.append("  (void)v;")
    lines += ["  return %s;" % row["native"], "}", ""]
    lines.append("void %s_columns(const double* const* columns, double* results, long rowCount) {"
                 % name)
    for variable in row["variables"]:
        lines.append("  const double* %s_column = columns[%d];" % (
            variable, VARIABLES.index(variable)))
    if not row["variables"]:
        lines.append("  (void)columns;")
    lines.append("  for (long row = 0; row < rowCount; ++row) {")
    for variable in row["variables"]:
        lines.append("    const double %s = %s_column[row];" % (variable, variable))
    lines += ["    results[row] = %s;" % row["native"], "  }", "}", ""]
    return lines


def WriteSource(sets, output):
    out = [
        "// Generated by bench/peers/translate.py from the expression lists; do not edit.",
        "#include <cmath>",
        "",
        '#include "bench/peers/expression_set.h"',
        "",
        "namespace kalo::bench {",
        "namespace {",
        "",
    ]
    for name, path, rows, dropped in sets:
        ident = re.sub(r"\W", "_", name)
        for number, row in enumerate(rows):
            out += NativeFunctions("%s_%d" % (ident, number), row)
        out.append("const ExpressionRow %s_rows[] = {" % ident)
        for number, row in enumerate(rows):
            texts = [CString(row[engine]) for engine in TEXT_FIELDS]
            notes = CString("; ".join(row["notes"]) if row["notes"] else None)
            mask = sum(1 << VARIABLES.index(v) for v in row["variables"])
            out.append("    {%s, %s, %s, %s_%d, %s_%d_columns, 0x%xu, nullptr}," % (
                CString(row["source"]), ", ".join(texts), notes, ident, number, ident, number,
                mask))
        out.append("};")
        out.append("")
    out.append("const ExpressionSet SETS[] = {")
    for name, path, rows, dropped in sets:
        ident = re.sub(r"\W", "_", name)
        out.append("    {%s, %s_rows, %d, %d}," % (CString(name), ident, len(rows), len(dropped)))
    out.append("};")
    out.append("")
    out.append("}  // namespace")
    out.append("")
    out += [
        "double Identity(const double* values) { return values[0]; }",
        "",
        "void IdentityColumns(const double* const* columns, double* results, long rowCount) {",
        "  for (long row = 0; row < rowCount; ++row) results[row] = columns[0][row];",
        "}",
        "",
    ]
    out.append("const ExpressionSet* ExpressionSets(int* count) {")
    out.append("  *count = static_cast<int>(sizeof SETS / sizeof SETS[0]);")
    out.append("  return SETS;")
    out.append("}")
    out.append("")
    out.append("}  // namespace kalo::bench")
    text = "\n".join(out) + "\n"
    try:
        with open(output) as handle:
            if handle.read() == text:
                return  # unchanged: keep the time stamp, so nothing rebuilds
    except OSError:
        pass
    with open(output, "w") as handle:
        handle.write(text)


def PrintList(path):
    rows, dropped = TranslateFile(path)
    for number, row in enumerate(rows):
        print("#%d  %s" % (number, row["source"]))
        for engine in ENGINES:
            print("    %-9s %s" % (engine, row[engine] if row[engine] is not None else "-"))
        for note in row["notes"]:
            print("    note      %s" % note)
    for line, reason in dropped:
        print("dropped  %s  (%s)" % (line, reason))
    print("%d rows, %d dropped" % (len(rows), len(dropped)))


def SelfCheck():
    """Evaluates the printed kalo and native forms with Python and compares them with the tree,
    so a printing fault in the precedence rules shows here rather than as a mismatch later."""
    cases = {
        "-2^2": -4.0, "2^3^2": 512.0, "-a^2": -(1.1 ** 2), "a^-b": 1.1 ** -2.2,
        "a--b": 3.3, "-a*-b": 1.1 * 2.2, "2/abs(3*4/5)": 2 / 2.4, "a-(b-c)": 1.1 - (2.2 - 3.3),
        "a/(b*c)": 1.1 / (2.2 * 3.3), "1-((a*b)+(a/b))-3": 1 - ((1.1 * 2.2) + (1.1 / 2.2)) - 3,
        "+a": 1.1, "(1+b)*(-3)": (1 + 2.2) * -3, "2^-a^b": 2 ** -(1.1 ** 2.2),
        "(-a)^2": 1.1 ** 2, "-(a-b)^2*c": -((1.1 - 2.2) ** 2) * 3.3, "e^log(7*a)": 7 * 1.1,
    }
    env = {"a": 1.1, "b": 2.2, "c": 3.3, "x": 2.123456, "y": 3.123456, "z": 4.123456,
           "w": 5.123456, "pi": math.pi, "e": math.e, "pow": math.pow, "ln": math.log,
           "fabs": math.fabs, "abs": math.fabs, "log": math.log, "sin": math.sin, "cos": math.cos}
    failures = 0
    for text, expected in cases.items():
        row, reason = Translate(text)
        kalo = row["kalo"][len("R = "):]
        native = row["native"].replace("std::", "")
        # Python's ** is right-associative and binds tighter than unary minus, like the lists'
        # `^`; the caret printers parenthesise every compound operand, so any convention agrees.
        caret = [row[engine].replace("^", "**") for engine in ("muparser", "exprtk", "tinyexpr")]
        for name, form in (("kalo", kalo), ("native", native), ("caret", caret[0]),
                           ("caret", caret[1]), ("caret", caret[2])):
            got = eval(form.replace("--", "- -"), {"__builtins__": {}}, env)
            if not math.isclose(got, expected, rel_tol=1e-12):
                print("self-check: %s %s gives %r, expected %r" % (name, form, got, expected))
                failures += 1
    return failures


def Main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--list", metavar="FILE", help="print every line's translations")
    parser.add_argument("--output", metavar="OUT.cpp", help="write the C++ source")
    parser.add_argument("--self-check", action="store_true", help="test the printers")
    parser.add_argument("sets", nargs="*", metavar="NAME=FILE")
    args = parser.parse_args()
    if args.self_check:
        failures = SelfCheck()
        print("self-check: %d failures" % failures)
        return 1 if failures else 0
    if args.list:
        PrintList(args.list)
        return 0
    if not args.output or not args.sets:
        parser.error("give --list FILE, --self-check, or --output OUT.cpp NAME=FILE ...")
    sets = []
    for item in args.sets:
        name, _, path = item.partition("=")
        rows, dropped = TranslateFile(path)
        for line, reason in dropped:
            print("translate.py: %s: dropped %s (%s)" % (name, line, reason), file=sys.stderr)
        sets.append((name, path, rows, dropped))
    WriteSource(sets, args.output)
    return 0


if __name__ == "__main__":
    sys.exit(Main())
