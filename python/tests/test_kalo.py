import concurrent.futures
import os
import subprocess
import sys

import dask.dataframe as dd
import distributed
import numpy as np
import pandas as pd
import pytest

import kalo
from kalo import _equation

X, GRID, NAN, LONG = np.array([0.5, 1, 4, 9]), np.arange(6.0).reshape(2, 3), np.nan, "x" * 50
FRAME = pd.DataFrame({"Volts": [1, 2, 3], "Amps": [0.5, 1.0, 2.0], "Temp C": [10.0, 20.0, 30.0],
                      2019: [1.0, 0.0, -1.0], "Größe": [1.0, 2.0, 3.0],
                      "Load": pd.array([1.0, None, 3.0], dtype="Float64")})


@pytest.mark.parametrize("equation, variables, values, result", [
    ("Z = 2*sin(X) + Y/3",          "X Y Z",    {"X": 0.5, "Y": 6},             2.958851077208406),
    ("z = Z*2 + y and not x",       "y x z",    {"Z": 3, "y": 0, "X": 0},       6),
    ("R = 1e5 + e + .5E-3 + x1e",   "e x1e R",  {"e": 1, "x1e": 2},             100003.0005),
    ("Y = max(A, B) + min (C, 1)",  "A B C Y",  {"a": 1, "b": 4, "c": 0},       4),
    ("Z = X*Y",                     "X Y Z",    {"X": 1},                       TypeError),
    ("Z = X*Y",                     "X Y Z",    {"X": 1, "Y": 2, "Q": 3},       TypeError),
    ("Z = X +* 2",  None,     None,  (4, "Expected variable or function name\r\nZ = X +* ?  2", 8)),
    ("Z = X",       "X x Z",  None,  (1, "Duplicate variable name\r\nX  ? x Z", 2))])
def test_variables_inferred_or_given(equation, variables, values, result):
    if values is None:  # the equation does not compile
        caught = pytest.raises(kalo.CompileError, kalo.Equation, equation, variables)
        assert (caught.value.code, caught.value.text, caught.value.position) == result
        return
    eq = kalo.Equation(equation)
    assert " ".join(eq.variables) == variables
    if result is TypeError:
        pytest.raises(TypeError, eq, **values)
    else:
        assert eq(**values) == pytest.approx(result, rel=1e-15)


@pytest.mark.parametrize("equation, inputs, expected", [
    ("Z = 2*X + Y/3",  {"X": X, "Y": 6},                          2 * X + 2),
    ("Z = X - Y",      {"X": GRID.T, "Y": [[1.0], [2.0], [3.0]]}, GRID.T - [[1], [2], [3]]),
    ("X = X*2 + 1",    {"X": X},                                  X * 2 + 1),
    ("Z = sqrt(X)",    {"X": 4},                                  np.array(2.0)),
    ("Z = X",          {"X": np.empty(0)},                        np.empty(0))])
def test_columns_broadcast_like_numpy(monkeypatch, equation, inputs, expected):
    monkeypatch.setattr(_equation, "_CHUNK_ROWS", 3)  # rows beyond the first call too
    before = {name: np.array(value, copy=True) for name, value in inputs.items()}
    np.testing.assert_array_equal(kalo.Equation(equation).columns(**inputs), expected)
    for name, value in inputs.items():
        np.testing.assert_array_equal(value, before[name])  # inputs are never written


@pytest.mark.parametrize("chunk_rows", [3, _equation._CHUNK_ROWS])
@pytest.mark.parametrize("equation, xs, errors, expected", [  # X a scalar: one call
    ("R = 1/X",      [1, 0, 2, 0, 4, 5, 0], "nan",   [1, NAN, 0.5, NAN, 0.25, 0.2, NAN]),
    ("R = 1/X",      [1, 2, 4, 0, 0, 1, 1], "raise", (202, 3)),
    ("R = sqrt(X)",  [4, -1, 1],            "raise", (205, 1)),
    ("R = 1/X",      0,                     "raise", (202, None))])
def test_failing_rows(monkeypatch, chunk_rows, equation, xs, errors, expected):
    monkeypatch.setattr(_equation, "_CHUNK_ROWS", chunk_rows)
    eq = kalo.Equation(equation)
    if errors == "nan":
        return np.testing.assert_array_equal(eq.columns(X=np.array(xs), errors="nan"), expected)
    error = pytest.raises(kalo.MathError, eq.columns if isinstance(xs, list) else eq, X=xs).value
    assert (error.code, error.row, error.text[:13]) == expected + ("MATH ERROR:  ",)


def test_functions_listed_and_host_functions_raise_through():
    listed = kalo.functions()
    assert len(listed) == 32 and listed[-1][:2] == ("if", 3) and listed[0].description
    kalo.register("explode", lambda x, limit: x * 10 if x <= limit else 1 / 0, 2)
    eq = kalo.Equation("Y = explode(X, 2) + 1")
    assert eq.variables == ("X", "Y")
    np.testing.assert_array_equal(eq.columns(X=[1, 2]), [11, 21])
    for call in (lambda: eq(X=3), lambda: eq.columns(X=[1, 3]),
                 lambda: eq.columns(X=[1, 3], errors="nan")):
        pytest.raises(ZeroDivisionError, call)
    assert eq(X=1) == 11  # nothing of the exception is left behind


def test_threads_never_see_busy():  # a 102 would raise from result()
    eq, xs = kalo.Equation("Y = sin(X)*cos(X)"), np.linspace(0, 1, 20000)
    work = lambda: [(eq.columns(X=xs), [eq(X=x) for x in xs[:100]]) for _ in range(20)]
    with concurrent.futures.ThreadPoolExecutor(4) as pool:
        [future.result() for future in [pool.submit(work) for _ in range(4)]]


def test_missing_library_names_what_was_tried():
    run = subprocess.run([sys.executable, "-c", "import kalo"], capture_output=True, text=True,
                         env=dict(os.environ, KALO_LIBRARY="/nonexistent/libkalo.so.1"))
    assert "ImportError: kalo: cannot load the kalo library from KALO_LIBRARY=/non" in run.stderr


@pytest.mark.parametrize("frame, equation, constants, header, values", [
    (FRAME,  "Power = Volts*Amps",       {},        "Power",   [0.5, 2.0, 6.0]),
    (FRAME,  "temp_c = Temp_C + _2019",  {},        "Temp C",  [11.0, 20.0, 29.0]),
    (FRAME,  "P = volts*k + Gr__e",      {"K": 2},  "P",       [3.0, 6.0, 9.0]),
    (FRAME,  "amps = 1/_2019",           {},        "Amps",    [1.0, np.nan, -1.0]),
    (FRAME,  "L = Load*2",               {},        "L",       [2.0, np.nan, 6.0]),
    (pd.DataFrame({"a-b": [1], "A_B": [1]}), "Y = a_b", {}, ValueError, ["'a-b'", "'A_B'"]),
    (pd.DataFrame({LONG + " l": [1]}),    "Y = q", {}, KeyError, ["'%s l'" % LONG, LONG + "_l"]),
    (pd.DataFrame({"K": [1]}),            "Y = K", {"k": 1}, ValueError, ["k=...", "K"])])
def test_assign_adds_or_replaces_one_column(frame, equation, constants, header, values):
    if not isinstance(header, str):  # a name fault shows both spellings
        caught = pytest.raises(header, kalo.assign, frame, equation, **constants)
        assert all(word in str(caught.value) for word in values)
        return
    before = frame.copy()
    result = kalo.assign(frame, equation, errors="nan", **constants)
    pd.testing.assert_frame_equal(frame, before)
    assert list(result.columns) == list(frame.columns) + ([header] * (header not in frame))
    np.testing.assert_array_equal(result[header], values)
    pd.testing.assert_frame_equal(result.drop(columns=header),
                                  frame.drop(columns=header, errors="ignore"))


def test_dask_partitions_on_two_worker_processes():
    frame = pd.DataFrame({"Volts": np.arange(10000.0), "Amps": np.linspace(0, 3, 10000)})
    degrees = kalo.Equation("Sine = sin(Volts)")
    degrees.angular_units = "degrees"  # travels to the workers with the pickled equation
    assert str(degrees.angular_units) == "degrees"
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                                  dashboard_address=None) as cluster, distributed.Client(cluster):
        ddf = dd.from_pandas(frame, npartitions=8).map_partitions(kalo.assign, "P = Volts*Amps")
        result = ddf.map_partitions(kalo.assign, degrees).compute()
        assert len(cluster.scheduler_info["workers"]) == 2
    np.testing.assert_array_equal(result["P"], frame["Volts"] * frame["Amps"])
    np.testing.assert_array_equal(result["Sine"], degrees.columns(Volts=frame["Volts"]))
    assert result["Sine"][90] == 1
