#!/usr/bin/env python3
"""Writes the seed corpus of fuzz_api.cpp: realistic equations and the known hard cases, each
followed by a short script of operations. Run it again after changing the input format."""
import math
import os
import struct
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
OUT = os.path.join(HERE, "corpus")

SPECIAL = [0.0, -0.0, 1.0, -1.0, 2.0, 0.5, 3.14159265358979, 90.0, 180.0, 100.0, 1e-310, -1e-310,
           "denorm_min", "dbl_min", "dbl_max", "-dbl_max", 1e300, 1e-300, 1e154, 1e-154,
           2147483648.0, -2147483649.0, 1e19, "inf", "-inf", "nan", "-nan"]
NAMES = ["f0", "f1", "F1", "g", "sin", "sinh", "sinc", "X", "_h", "if", "and", "pow", "long"]
ACTIONS = ["keep", "sum", "nan", "inf", "-inf", "denormal", "huge", "fail", "div0", "overflow",
           "underflow", "denormal_operand", "inexact", "invalid", "reenter", "compose", "clear",
           "register_again", "throw"]
HOST_CODES = [7, -5, 101, 102, 301, 303, 306, 12345, 2**31 - 1, -2**31, 1, 0]
PAIRS = 8  # built-in equation pairs of CompileOperation


def text(s):
    return s.encode("latin-1") + b"\0"


def value(x):
    """A special value by its index, any other as its eight bytes."""
    if isinstance(x, str):
        return bytes([SPECIAL.index(x)])
    if x == 0.0:
        return bytes([1 if math.copysign(1, x) < 0 else 0])
    for index, special in enumerate(SPECIAL):
        if not isinstance(special, str) and special == x:
            return bytes([index])
    return bytes([0x80]) + struct.pack(">d", x)


def evaluate(slot, values, shape=0, traps=0, repeat=False, rows=()):
    """Evaluates `values`; with `rows`, also each later row, through the columns export: row r
    changes variable r - 1 of the row before to rows[r - 1]."""
    fill = 4 | len(rows) << 3 if rows else 2 if repeat else 0
    return bytes([1, slot, fill]) + b"".join(value(v) for v in values) + bytes([shape, traps]) + \
        b"".join(value(v) for v in rows)


def register(name, count, action, code=0, target=0):
    if name is None:
        head = bytes([250])
    elif name in NAMES:
        head = bytes([NAMES.index(name)])
    else:
        head = bytes([100]) + text(name)
    if count == -1:
        count_byte = 241
    elif count == 101:
        count_byte = 240
    elif count >= 90:
        count_byte = 200 + (count - 90)
    else:
        count_byte = count
    action_byte = 250 if action is None else ACTIONS.index(action)
    return bytes([5]) + head + bytes([count_byte, action_byte, HOST_CODES.index(code), target])


def compile_(slot, variables, equation, pointers=True):
    return bytes([0, slot, 9 if pointers else 8]) + text(variables) + text(equation)


def pair(slot, index):
    return bytes([0, slot, index])


def error_text(slot):
    return bytes([3, slot])


def units(slot, unit):
    return bytes([4, slot, unit]) if unit < 200 else bytes([4, slot, 200]) + struct.pack(">I", unit)


def clear():
    return bytes([7, 0])


def destroy(slot):
    return bytes([8, slot])


def seed(variables, equation, *script):
    return text(variables) + text(equation) + b"".join(script)


PI = 3.14159265358979
SEEDS = {
    "basic": seed("X Y Z", "Z = 2*sin(X) + Y/3", evaluate(0, [PI, 1, 0], repeat=True),
                  error_text(0), units(0, 0), evaluate(0, [90.0, 3, 0])),
    "divide_by_zero": seed("X Y", "Y = X / 0", evaluate(0, [1, 0]), error_text(0)),
    "sqrt_negative": seed("X Y", "Y = sqrt(X)", evaluate(0, [-1.0, 0]), error_text(0)),
    "multiply_overflow_underflow": seed("X Y", "Y = X * X", evaluate(0, [1e200, 0]),
                                        evaluate(0, [1e-200, 0]), error_text(0)),
    "denormal_operand": seed("X Y", "Y = X + 1", evaluate(0, [1e-310, 0]),
                             evaluate(0, ["denorm_min", 0]), error_text(0)),
    "list_100_names": seed(" ".join("v%d" % i for i in range(100)), "v99 = v0 + v98",
                           bytes([1, 0, 1]) + b"".join(value(float(i)) for i in range(100)) +
                           bytes([0, 0])),
    "list_101_names": seed(" ".join("v%d" % i for i in range(101)), "v0 = 1"),
    "list_long_message": seed("A" * 300 + " " + "B" * 200 + " $", "A = 1"),
    "compile_long_text": seed("X Y", "Y = " + "X + " * 80 + "1"),
    "compile_long_identifier": seed("X Y", "Y = " + "a" * 50,
                                    compile_(1, "a" * 47 + " Y", "Y = " + "a" * 47)),
    "compile_deep_nesting": seed("X Y", "Y = " + "(" * 140 + "X" + ")" * 140,
                                 evaluate(0, [2.0, 0]),
                                 compile_(1, "X Y", "Y = " + "-" * 298 + "X"),
                                 evaluate(1, [2.0, 0])),
    "compile_many_literals": seed("X Y", "Y = " + "+".join(str(i) for i in range(1, 90)),
                                  evaluate(0, [0, 0])),
    "logical_range": seed("x y", "y = x and not x or x xor 3", evaluate(0, [1e19, 0]),
                          evaluate(0, [5.0, 0]), evaluate(0, [-2147483649.0, 0]), error_text(0)),
    "random": seed("X Y", "Y = randn(X, 1) + randu(X)", evaluate(0, [10.0, 0]),
                   evaluate(0, [10.0, 0]), pair(1, 6), evaluate(1, ["inf", 0])),
    "bessel": seed("a b c d", "d = atan2(a, b) + jn(c, a) + yn(2, b) + pow(a, b) + fmod(a, c)",
                   evaluate(0, [1.5, 2.0, 3.0, 0]), evaluate(0, [0.0, 0.0, 0.0, 0]),
                   evaluate(0, [-1.0, 0.5, 1e19, 0])),
    "functions_all": seed("X Y", "Y = acos(X/2) + asin(X/2) + atan(X) + ceil(X) + cos(X) + "
                          "cosh(X) + exp(X) + fabs(X) + floor(X) + ln(X) + log10(X) + sinh(X) + "
                          "tan(X) + tanh(X) + j0(X) + j1(X) + y0(X) + y1(X) + d2r(X) + r2d(X) + "
                          "min(X, 1) + max(X, 2)",
                          evaluate(0, [0.5, 0], repeat=True), evaluate(0, [-0.5, 0])),
    "exp_overflow": seed("X Y", "Y = exp(X)", evaluate(0, [1000.0, 0]), evaluate(0, [-1000.0, 0]),
                         error_text(0)),
    "angular_units": seed("X Y", "Y = sin(X) + cos(X) + atan2(X, 1)", units(0, 0),
                          evaluate(0, [90.0, 0]), units(0, 2), evaluate(0, [100.0, 0]),
                          units(0, 7), evaluate(0, [1.0, 0]), units(0, 0x7FFFFFFF),
                          evaluate(0, [1.0, 0])),
    "host_sum": seed("A B C", "C = 1", register("f1", 2, "sum"), pair(0, 1),
                     evaluate(0, [1.0, 2.0, 0], repeat=True), evaluate(0, [2.0, 1.0, 0]),
                     evaluate(0, ["dbl_max", "dbl_max", 0])),
    "host_codes": seed("X Y", "Y = 1", register("f0", 1, "fail", 7), register("g", 1, "fail", 301),
                       pair(0, 2), evaluate(0, [1.0, 0]), error_text(0),
                       register("f0", 1, "fail", -5), evaluate(0, [1.0, 0]),
                       register("f0", 1, "fail", -2**31), evaluate(0, [1.0, 0]),
                       register("f0", 1, "fail", 102), evaluate(0, [1.0, 0])),
    "host_non_finite": seed("X Y", "Y = 1", register("f0", 1, "nan"), register("g", 1, "inf"),
                            pair(0, 2), evaluate(0, [1.0, 0]), register("g", 1, "denormal"),
                            evaluate(0, [1.0, 0]), register("f0", 1, "huge"),
                            register("g", 1, "huge"), evaluate(0, [1.0, 0]),
                            compile_(1, "X Y", "Y = f0(X)"), register("f0", 1, "-inf"),
                            evaluate(1, [1.0, 0])),
    "host_faults": seed("X Y", "Y = f0(X) + 1", register("f0", 1, "div0"),
                        compile_(0, "X Y", "Y = f0(X) + 1"), evaluate(0, [1.0, 0]),
                        register("f0", 1, "overflow"), evaluate(0, [1.0, 0]),
                        register("f0", 1, "underflow"), evaluate(0, [1.0, 0]),
                        register("f0", 1, "denormal_operand"), evaluate(0, [1.0, 0]),
                        register("f0", 1, "inexact"), evaluate(0, [1.0, 0]),
                        register("f0", 1, "invalid"), evaluate(0, [1.0, 0]), error_text(0)),
    "host_reenter": seed("X Y", "Y = 1", register("f0", 1, "reenter", target=0),
                         compile_(0, "X Y", "Y = f0(X)"), evaluate(0, [1.0, 0]), error_text(0),
                         compile_(1, "X Y", "Y = X"), register("f0", 1, "reenter", target=1),
                         evaluate(0, [1.0, 0]), error_text(1)),
    "host_clear_inside": seed("X Y", "Y = 1", register("f0", 1, "clear"),
                              compile_(0, "X Y", "Y = f0(X) + f0(X)"), evaluate(0, [1.0, 0]),
                              error_text(0), evaluate(0, [1.0, 0]), error_text(0)),
    "host_register_inside": seed("X Y", "Y = 1", register("f1", 2, "register_again", 12345),
                                 compile_(0, "X Y", "Y = f1(X, 1) + f1(X, 2)"),
                                 evaluate(0, [1.0, 0]), evaluate(0, [1.0, 0]), error_text(0)),
    "host_compose_inside": seed("X Y", "Y = X / 0", evaluate(0, [1.0, 0]),
                                register("g", 1, "compose", target=0),
                                compile_(1, "X Y", "Y = g(X)"), evaluate(1, [1.0, 0])),
    "host_throw": seed("X Y", "Y = 1", register("f0", 1, "throw"),
                       compile_(0, "X Y", "Y = 2 * f0(X)"), evaluate(0, [1.0, 0]),
                       evaluate(0, [1.0, 0], shape=0x80 | 0x03, traps=0x04), error_text(0)),
    "registry_cleared": seed("X Y", "Y = 1", register("f0", 1, "keep"),
                             compile_(0, "X Y", "Y = f0(X)"), clear(), evaluate(0, [1.0, 0]),
                             error_text(0), register("g", 1, "sum"), evaluate(0, [1.0, 0])),
    "registry_fewer_parameters": seed("X Y", "Y = 1", register("f1", 2, "sum"),
                                      compile_(0, "X Y", "Y = f1(X, 2)"),
                                      register("F1", 1, "sum"), evaluate(0, [1.0, 0]),
                                      error_text(0), register("f1", 3, "sum"),
                                      evaluate(0, [1.0, 0])),
    "registry_zero_parameters": seed("X Y", "Y = 1", register("f0", 0, "keep"),
                                     compile_(0, "X Y", "Y = f0()"),
                                     compile_(1, "X Y", "Y = f0(X)"),
                                     compile_(2, "X Y", "Y = f0")),
    "registry_100_parameters": seed("X Y", "Y = 1", register("g", 100, "sum"),
                                    compile_(0, "X Y", "Y = g(" + ",".join(["X"] * 100) + ")"),
                                    evaluate(0, [1.5, 0], repeat=True),
                                    register("g", 11, "sum"),
                                    compile_(1, "X Y", "Y = g(" + ",".join(["X"] * 11) + ")"),
                                    evaluate(1, [2.0, 0])),
    "registry_names": seed("X Y", "Y = 1", register("1f", 1, "keep"),
                           register("a-b", 1, "keep"), register("a b", 1, "keep"),
                           register("", 1, "keep"), register("ab$", 1, "keep"),
                           register("\xe9t\xe9", 1, "keep"), register("_f", 1, "keep"),
                           register("a__b", 1, "keep"), register("f1", -1, "keep"),
                           register("f1", 101, "keep"), register("f1", 1, None),
                           register(None, 1, "keep"), register(None, 1, None)),
    "registry_long_names": seed("X Y", "Y = 1", register("long", 1, "sum"),
                                register("long", 2, "sum"),
                                register("abcdefghijklmnopqrstuvwxyz0123456789", 1, "sum"),
                                compile_(0, "X Y", "Y = abcdefghijklmnopqrstuvwxyz01234(X)"),
                                evaluate(0, [1.0, 0])),
    "registry_shadows_builtin": seed("X Y", "Y = 1", register("sinh", 1, "huge"),
                                     register("sin", 1, "nan"), register("sinc", 1, "sum"),
                                     compile_(0, "X Y", "Y = sin(X) + sinh(X) + sinc(X)"),
                                     evaluate(0, [1.0, 0]), pair(1, 3), evaluate(1, [1.0, 0])),
    "host_state_traps": seed("X Y", "Y = X / 3 + X * X", evaluate(0, [1.0, 0], 0x80 | 0x0F, 0x1C),
                             evaluate(0, [1e200, 0], 0x80 | 0x72, 0x04),
                             evaluate(0, [1.0, 0], 0x0C, 0), evaluate(0, [0.1, 0], 0x03, 0)),
    "columns": seed("X Y Z", "Z = X / Y + Z", evaluate(0, [1.0, 2.0, 0.5], rows=[3.0, 0.0, 0.5]),
                    evaluate(0, [1.0, 2.0, 0.5], rows=[-1.0, 4.0]), pair(1, 0),
                    evaluate(1, [PI, 1.0, 0], rows=[1e-310]), pair(2, 6),
                    evaluate(2, [1.0, 0], rows=[2.0, 3.0])),
    "columns_host": seed("X Y", "Y = 1", register("f0", 1, "sum"), register("g", 1, "fail", 301),
                         compile_(0, "X Y", "Y = f0(X) + g(X)"),
                         evaluate(0, [1.0, 0], rows=[2.0]), register("g", 1, "clear"),
                         evaluate(0, [1.0, 0], rows=[2.0, 3.0]), register("f1", 1, "throw"),
                         compile_(1, "X Y", "Y = f1(X)"), evaluate(1, [1.0, 0], rows=[2.0])),
    "host_state_library": seed("X Y", "Y = sin(X) + exp(X) + jn(3, X)",
                               evaluate(0, [1.0, 0], 0x80 | 0x71, 0x3C),
                               evaluate(0, [800.0, 0], 0x80 | 0x0E, 0x2C),
                               compile_(1, "X Y", "Y = X / 0"),
                               evaluate(1, [1.0, 0], 0x80 | 0x03, 0x3F)),
    "slots": seed("X Y", "Y = X", pair(1, 0), pair(2, 4), pair(3, 5), evaluate(2, [0.0, 0]),
                  evaluate(3, [3.0, 0]), destroy(1), pair(1, 7),
                  evaluate(1, [1.0, 2.0, 3.0, 0]), compile_(2, "X Y", "Y = 1 +", False),
                  compile_(3, "X Y Y", "Y = 1", False)),
}


def main():
    os.makedirs(OUT, exist_ok=True)
    for name, data in SEEDS.items():
        with open(os.path.join(OUT, name), "wb") as stream:
            stream.write(data)
    print("%d seeds in %s" % (len(SEEDS), OUT), file=sys.stderr)


if __name__ == "__main__":
    main()
