import numpy as np
import pandas as pd
import pytest

import kalo

IDENTIFIERS = [("Temp C", "Temp_C"), ("2019", "_2019"), (2019, "_2019"), ("a-b", "a_b"),
               ("Größe", "Gr____e"), ("x_1", "x_1"), ("", "")]


@pytest.mark.parametrize("header, identifier", IDENTIFIERS)
def test_column_identifier(header, identifier):
    assert kalo.column_identifier(header) == identifier


FRAME = pd.DataFrame({"Volts": [1, 2, 3], "Amps": [0.5, 1.0, 2.0], "Temp C": [10.0, 20.0, 30.0],
                      2019: [1.0, 0.0, -1.0]})
ASSIGNED = [
    # equation, constants, header written, values
    ("Power = Volts*Amps",         {},         "Power",  [0.5, 2.0, 6.0]),
    ("temp_c = Temp_C + _2019",    {},         "Temp C", [11.0, 20.0, 29.0]),
    ("P = volts*k",                {"K": 2},   "P",      [2.0, 4.0, 6.0]),
    ("amps = 1/_2019",             {},         "Amps",   [1.0, np.nan, -1.0]),
]


@pytest.mark.parametrize("equation, constants, header, values", ASSIGNED)
def test_assign_adds_or_replaces_one_column(equation, constants, header, values):
    before = FRAME.copy()
    result = kalo.assign(FRAME, equation, errors="nan", **constants)
    pd.testing.assert_frame_equal(FRAME, before)
    assert list(result.columns) == list(FRAME.columns) + ([header] * (header not in FRAME))
    np.testing.assert_array_equal(result[header], values)
    kept = FRAME.drop(columns=header, errors="ignore")
    pd.testing.assert_frame_equal(result.drop(columns=header), kept)


LONG = "x" * 50
NAME_FAULTS = [
    # columns, equation, constants, error, words in the message
    (["a-b", "A_B"],    "Y = a_b",  {},        ValueError,  ["'a-b'", "'A_B'"]),
    ([LONG + " long"],  "Y = q",    {},        KeyError,    ["'%s long'" % LONG, LONG + "_long"]),
    (["K"],             "Y = K",    {"k": 1},  ValueError,  ["k=...", "K"]),
]


@pytest.mark.parametrize("columns, equation, constants, error, words", NAME_FAULTS)
def test_name_faults_show_both_spellings(columns, equation, constants, error, words):
    frame = pd.DataFrame({name: [1.0] for name in columns})
    with pytest.raises(error) as caught:
        kalo.assign(frame, equation, **constants)
    assert all(word in str(caught.value) for word in words)


def test_dask_partitions_on_two_worker_processes():
    dd = pytest.importorskip("dask.dataframe")
    distributed = pytest.importorskip("distributed")
    frame = pd.DataFrame({"Volts": np.arange(10000.0), "Amps": np.linspace(0, 3, 10000)})
    degrees = kalo.Equation("Sine = sin(Volts)")
    degrees.angular_units = "degrees"  # travels to the workers with the pickled equation
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                                  dashboard_address=None) as cluster, distributed.Client(cluster):
        ddf = dd.from_pandas(frame, npartitions=8)
        ddf = ddf.map_partitions(kalo.assign, "Power = Volts*Amps")
        result = ddf.map_partitions(kalo.assign, degrees).compute()
        assert len(cluster.scheduler_info["workers"]) == 2
    np.testing.assert_array_equal(result["Power"], frame["Volts"] * frame["Amps"])
    np.testing.assert_array_equal(result["Sine"], degrees.columns(Volts=frame["Volts"]))
    assert result["Sine"][90] == 1
