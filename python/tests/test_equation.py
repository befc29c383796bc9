import math
import os
import pickle
import subprocess
import sys
import threading

import numpy as np
import pytest

import kalo
from kalo import _equation

INFERRED = [
    # equation, variables inferred, values given, result
    ("Z = 2*sin(X) + Y/3",            "X Y Z",    {"X": 0.5, "Y": 6},  2.958851077208406),
    ("z = Z*2 + y and not x",         "y x z",    {"Z": 3, "y": 0, "X": 0}, 6),
    ("R = 1e5 + e + .5E-3 + x1e",     "e x1e R",  {"e": 1, "x1e": 2},  100003.0005),
    ("Y = max(A, B) + min (C, 1)",    "A B C Y",  {"a": 1, "b": 4, "c": 0}, 4),
    ("Y = if(A < B, A, B) xor 0",     "A B Y",    {"A": 3, "B": 2},  2),
]


@pytest.mark.parametrize("equation, variables, values, result", INFERRED)
def test_inferred_variables_evaluate(equation, variables, values, result):
    eq = kalo.Equation(equation)
    assert " ".join(eq.variables) == variables
    assert eq(**values) == pytest.approx(result, rel=1e-15)


def test_missing_or_unknown_names_are_refused():
    eq = kalo.Equation("Z = X*Y", variables="X Y W Z")
    assert eq(X=2, Y=3) == 6  # W is declared but not read; Z is only written
    for named in ({"X": 1}, {"X": 1, "Y": 2, "Q": 3}):
        with pytest.raises(TypeError):
            eq(**named)


X = np.array([0.5, 1.0, 4.0, 9.0])
GRID = np.arange(6.0).reshape(2, 3)
COLUMNS = [
    # equation, inputs, expected
    ("Z = 2*X + Y/3",       {"X": X, "Y": 6},                  2 * X + 2),
    ("Z = X - Y",           {"X": GRID, "Y": [1.0, 2.0, 3.0]}, GRID - [1, 2, 3]),
    ("Z = X - Y",           {"X": GRID.T, "Y": [[1.0], [2.0], [3.0]]}, GRID.T - [[1], [2], [3]]),
    ("Z = X - Y",           {"X": X[::2], "Y": [1, 2]},        X[::2] - [1, 2]),
    ("X = X*2 + 1",         {"X": X},                          X * 2 + 1),
    ("Z = sqrt(X)",         {"X": 4},                          np.array(2.0)),
    ("Z = X",               {"X": np.empty(0)},                np.empty(0)),
]


@pytest.mark.parametrize("equation, inputs, expected", COLUMNS)
def test_columns_broadcast_like_numpy(equation, inputs, expected):
    before = {name: np.array(value, copy=True) for name, value in inputs.items()}
    result = kalo.Equation(equation).columns(**inputs)
    np.testing.assert_array_equal(result, expected)
    for name, value in inputs.items():
        np.testing.assert_array_equal(value, before[name])  # inputs are never written


NAN = math.nan
FAULTS = [
    # equation, X, errors, result or (code, row)
    ("R = 1/X",       [1, 0, 2, 0, 4, 5, 0], "nan",   [1, NAN, 0.5, NAN, 0.25, 0.2, NAN]),
    ("R = 1/X",       [1, 2, 4, 0, 0, 1, 1], "raise", (202, 3)),
    ("R = sqrt(X)",   [4, -1, 1],           "raise", (205, 1)),
]


@pytest.mark.parametrize("max_rows", [3, _equation._MAX_ROWS])
@pytest.mark.parametrize("equation, xs, errors, expected", FAULTS)
def test_failing_rows(monkeypatch, max_rows, equation, xs, errors, expected):
    monkeypatch.setattr(_equation, "_MAX_ROWS", max_rows)
    eq = kalo.Equation(equation)
    if errors == "nan":
        np.testing.assert_array_equal(eq.columns(X=np.array(xs), errors="nan"), expected)
        return
    with pytest.raises(kalo.MathError) as caught:
        eq.columns(X=xs)
    assert (caught.value.code, caught.value.row) == expected
    assert caught.value.text.startswith("MATH ERROR:  ")


COMPILE_ERRORS = [
    # equation, variables, code, text, marker position
    ("Z = X +* 2",  None,     4, "Expected variable or function name\r\nZ = X +* ?  2", 8),
    ("Z = X",       "X x Z",  1, "Duplicate variable name\r\nX  ? x Z",                   2),
    ("Z = Q",       "X Z",    4, "Variable or function not defined\r\nZ = Q ? ",       5),
    ("Z X",         "X Z",    4, "Missing '='\r\nZ X ? ",                              3),
]


@pytest.mark.parametrize("equation, variables, code, text, position", COMPILE_ERRORS)
def test_compile_errors(equation, variables, code, text, position):
    with pytest.raises(kalo.CompileError) as caught:
        kalo.Equation(equation, variables)
    assert (caught.value.code, caught.value.text, caught.value.position) == (code, text, position)


def test_scalar_math_error_has_no_row():
    with pytest.raises(kalo.MathError) as caught:
        kalo.Equation("R = 1/X")(X=0)
    assert (caught.value.code, caught.value.row) == (202, None)


class Boom(Exception):
    pass


def explode(x, limit):
    if x > limit:
        raise Boom(x)
    return x * 10


def test_host_function_results_and_exceptions():
    kalo.register("explode", explode, 2)
    eq = kalo.Equation("Y = explode(X, 2) + 1")
    assert eq.variables == ("X", "Y")
    np.testing.assert_array_equal(eq.columns(X=[1, 2]), [11, 21])
    for call in (lambda: eq(X=3), lambda: eq.columns(X=[1, 3]),
                 lambda: eq.columns(X=[1, 3], errors="nan")):
        with pytest.raises(Boom):
            call()
    assert eq(X=1) == 11  # nothing of the exception is left behind


def test_threads_never_see_busy():
    eq = kalo.Equation("Y = sin(X)*cos(X)")
    xs = np.linspace(0, 1, 20000)
    failures = []

    def work():
        for _ in range(20):
            try:
                eq.columns(X=xs)
                for x in xs[:100]:
                    eq(X=x)
            except kalo.MathError as error:
                failures.append(error.code)

    threads = [threading.Thread(target=work) for _ in range(4)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    assert failures == []


UNITS = [("degrees", 90), ("radians", math.pi / 2), ("grads", 100)]


@pytest.mark.parametrize("units, right_angle", UNITS)
def test_units_and_pickling(units, right_angle):
    eq = kalo.Equation("Y = sin(X) + W", variables="X W V Y")
    eq.angular_units = units
    copy = pickle.loads(pickle.dumps(eq))
    assert copy.variables == eq.variables
    assert copy.angular_units == kalo.AngularUnits[units.upper()]
    assert copy(X=right_angle, W=1) == pytest.approx(2, abs=1e-15)


def test_functions_lists_the_builtins():
    listed = {function.name: function.nargs for function in kalo.functions()}
    assert len(listed) == 32 and listed["if"] == 3 and listed["atan2"] == 2


@pytest.mark.parametrize("library, named", [("/nonexistent/libkalo.so.1", "KALO_LIBRARY="),
                                            ("", "libkalo.so.1 through the system loader")])
def test_missing_library_names_what_was_tried(library, named):
    env = dict(os.environ, KALO_LIBRARY=library, LD_LIBRARY_PATH="")
    run = subprocess.run([sys.executable, "-c", "import kalo"], env=env, capture_output=True,
                         text=True)
    assert run.returncode != 0 and "ImportError: kalo: cannot load" in run.stderr
    assert named + library in run.stderr if library else named in run.stderr
