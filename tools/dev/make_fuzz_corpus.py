#!/usr/bin/env python3
"""Writes the seed corpus of tests/reliability/fuzz_api.cpp: realistic equations and the known hard cases, each
followed by a short script of operations. Run it again after changing the input format."""
import os
import struct
import sys

OUT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tests", "reliability",
                   "corpus")
SPECIAL = [0.0, -0.0, 1.0, -1.0, 2.0, 0.5, 90.0, 1e-310, 5e-324, 2.2250738585072014e-308,
           sys.float_info.max, 1e300, 1e-300, 1e154, 2147483648.0, -2147483649.0, 1e19,
           float("inf"), float("-inf"), float("nan"), -float("nan")]
OPERATIONS = ["compile", "evaluate", "register", "clear", "destroy"]
ACTIONS = ["keep", "sum", "write", "fail", "raise", "reenter", "clear", "register", "throw"]
NAMES = ["f0", "f1", "F1", "g", "sin", "X", "if", "_h"]
HOST_CODES = [7, -5, 1, 101, 102, 301, 303, 306, 2**31 - 1, -2**31]
FAULTS = ["div0", "overflow", "underflow", "denormal", "inexact", "invalid", "x87_inexact",
          "x87_div0"]


def op(name, *data):
    return bytes([OPERATIONS.index(name)]) + b"".join(
        d if isinstance(d, bytes) else bytes([d]) for d in data)


def text(s):
    return s.encode("latin-1") + b"\0"


def value(x):
    """A special value by its index, any other as its eight bytes."""
    bits = struct.pack(">d", x)
    return next((bytes([i]) for i, s in enumerate(SPECIAL) if struct.pack(">d", s) == bits),
                b"\x80" + bits)


def evaluate(slot, values, shape=0, traps=0, rows=5):
    """More than eight values are all read from the input (fill bit 1); the columns export runs
    on `rows` copies of the row (fill / 2 % 9 + 1), four at a time where the machine can."""
    fill = int(len(values) > 8) | (rows - 1) << 1
    return op("evaluate", slot, fill, b"".join(map(value, values)), shape, traps)


def register(name, count, action, operand=0):
    head = bytes([NAMES.index(name)]) if name in NAMES else b"\xff" + text(name)
    count_byte = 240 if count < 0 else count if count < 12 else \
        next(b for b in range(200, 240) if b % 12 == count - 90)
    if action in ("fail", "raise"):
        operand = (HOST_CODES if action == "fail" else FAULTS).index(operand)
    return op("register", head, count_byte, ACTIONS.index(action), operand)


def compile_(slot, variables, equation):
    return op("compile", slot, text(variables), text(equation))


def seed(variables, equation, *script):
    return text(variables) + text(equation) + b"".join(script)


HOST = compile_(0, "X Y", "Y = f0(X) + 1")
SEEDS = {
    "basic": seed("X Y Z", "Z = 2*sin(X) + Y/3", evaluate(0, [3.14159, 1, 0]),
                  evaluate(0, [90.0, 3, 0], 0x80 | 0x0F, 0x1C)),
    "faults": seed("X Y", "Y = X / 0", evaluate(0, [1, 0]), compile_(1, "X Y", "Y = sqrt(X)"),
                   evaluate(1, [-1.0, 0]), compile_(2, "X Y", "Y = X * X"),
                   evaluate(2, [1e200, 0], 0x80 | 0x72, 0x04),
                   evaluate(2, [1e-200, 0], 0x0C), evaluate(2, [1e-310, 0], 0x03, 0x20),
                   compile_(3, "X Y", "Y = exp(X)"), evaluate(3, [1000.0, 0]),
                   evaluate(3, [-1000.0, 0])),
    "list_100_names": seed(" ".join("v%d" % i for i in range(100)), "v99 = v0 + v98",
                           evaluate(0, [float(i) for i in range(100)])),
    "list_101_names": seed(" ".join("v%d" % i for i in range(101)), "v0 = 1"),
    "list_long_message": seed("A" * 300 + " " + "B" * 200 + " $", "A = 1"),
    "compile_limits": seed("X Y", "Y = " + "X + " * 80 + "1",
                           compile_(1, "X Y", "Y = " + "a" * 50),
                           compile_(1, "a" * 47 + " Y", "Y = " + "a" * 47),
                           compile_(2, "X Y", "Y = " + "(" * 140 + "X" + ")" * 140),
                           evaluate(2, [2.0, 0]), compile_(3, "X Y", "Y = " + "-" * 298 + "X"),
                           compile_(1, "X Y", "Y = " + "+".join(str(i) for i in range(1, 90))),
                           evaluate(1, [0, 0]), compile_(2, "X Y", "Y = 1 +"),
                           compile_(2, "X Y", "Y = X $ 1"), compile_(2, "X Y", "Y = .e1"),
                           compile_(2, "X Y", "Y = X + Z"), compile_(2, "X Y", "Y = sin X"),
                           compile_(3, "X Y Y", "Y = 1")),
    "logical_range": seed("x y", "y = x and not x or x xor 3", evaluate(0, [1e19, 0]),
                          evaluate(0, [5.0, 0]), evaluate(0, [-2147483649.0, 0])),
    "random": seed("X Y", "Y = randn(X, 1) + RandU(X)", evaluate(0, [10.0, 0]),
                   evaluate(0, [float("inf"), 0])),
    "bessel": seed("a b c d", "d = atan2(a, b) + jn(c, a) + yn(2, b) + pow(a, b) + fmod(a, c)",
                   evaluate(0, [1.5, 2.0, 3.0, 0]), evaluate(0, [0.0, 0.0, 0.0, 0]),
                   evaluate(0, [-1.0, 0.5, 1e19, 0]), evaluate(0, [2.0, 0.5, -100000.0, 0]),
                   evaluate(0, [2.0, 0.5, -100001.0, 0])),
    "functions_all": seed("X Y", "Y = acos(X/2) + asin(X/2) + atan(X) + ceil(X) + cos(X) + "
                          "cosh(X) + exp(X) + fabs(X) + floor(X) + ln(X) + log10(X) + sinh(X) + "
                          "tan(X) + tanh(X) + j0(X) + j1(X) + y0(X) + y1(X) + d2r(X) + r2d(X) + "
                          "min(X, 1) + max(X, 2)",
                          evaluate(0, [0.5, 0]), evaluate(0, [-0.5, 0])),
    "host_values": seed("A B C", "C = 1", register("f1", 2, "sum"), register("f0", 1, "write", 19),
                        register("g", 1, "write", 7),
                        compile_(0, "A B C", "C = if(A > B, A - B, f1(A, B))"),
                        evaluate(0, [1.0, 2.0, 0]), evaluate(0, [1e308, 1e308, 0]),
                        compile_(1, "X Y", "Y = f0(X) + g(X)"), evaluate(1, [1.0, 0])),
    "host_codes": seed("X Y", "Y = 1", *[s for code in HOST_CODES for s in (
        register("f0", 1, "fail", code), HOST, evaluate(0, [1.0, 0]))]),
    "host_faults": seed("X Y", "Y = 1", *[s for fault in FAULTS for s in (
        register("f0", 1, "raise", fault), HOST, evaluate(0, [1.0, 0], 0x80 | 0x71, 0x3C))]),
    "host_reenter_then_throw": seed("X Y", "Y = X", register("f0", 1, "reenter", 0),
                                    register("f1", 1, "reenter", 1), register("g", 1, "throw"),
                                    compile_(1, "X Y", "Y = f0(X) + g(X)"),
                                    compile_(2, "X Y", "Y = f1(X) * 2"), evaluate(1, [1.0, 0]),
                                    evaluate(2, [1.0, 0]), evaluate(1, [1.0, 0], 0x83, 0x04)),
    "registry_changes": seed("X Y", "Y = 1", register("f0", 1, "clear"),
                             compile_(0, "X Y", "Y = f0(X) + f0(X)"), evaluate(0, [1.0, 0]),
                             evaluate(0, [1.0, 0]), register("f1", 2, "sum"),
                             register("g", 1, "register", 3),
                             compile_(1, "X Y", "Y = g(X) + f1(X, 2)"), evaluate(1, [1.0, 0]),
                             register("f1", 1, "sum"), compile_(2, "X Y", "Y = 1 + f1(X)"),
                             compile_(3, "X Y", "Y = f1(X)"), register("f1", 2, "sum"),
                             evaluate(2, [1.0, 0]), evaluate(3, [1.0, 0]), op("clear"),
                             evaluate(2, [1.0, 0])),
    "registry_names": seed("X Y", "Y = 1", register("1f", 1, "keep"), register("a b", 1, "keep"),
                           register("", 1, "keep"), register("\xe9t\xe9", 1, "keep"),
                           register("abcdefghijklmnopqrstuvwxyz0123456789", 1, "sum"),
                           register("f1", -1, "keep"), register("f1", 101, "keep"),
                           register("g", 0, "keep"), compile_(1, "X Y", "Y = g()"),
                           compile_(2, "X Y", "Y = g(X)"), compile_(3, "X Y", "Y = g"),
                           register("g", 100, "sum"),
                           compile_(0, "X Y", "Y = g(" + ",".join(["X"] * 100) + ")"),
                           evaluate(0, [1.5, 0])),
    "slots": seed("X Y", "Y = X", compile_(1, "X Y Z", "Z = 2*sin(X) + Y/3"),
                  compile_(2, "t v", "v = 1 - exp(-t) / (t = 0)"), evaluate(2, [0.0, 0]),
                  op("destroy", 1), evaluate(1, []),
                  compile_(3, "a b c d", "d = atan2(a, b) + jn(c, a) + yn(2, b) + pow(a, b)"),
                  evaluate(3, [1.0, 2.0, 3.0, 0])),
}


def main():
    os.makedirs(OUT, exist_ok=True)
    for name in os.listdir(OUT):
        os.remove(os.path.join(OUT, name))
    for name, data in SEEDS.items():
        with open(os.path.join(OUT, name), "wb") as stream:
            stream.write(data)


if __name__ == "__main__":
    main()
