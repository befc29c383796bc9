"""kalo for Python: compile a one-line equation once, evaluate it on numbers, numpy arrays,
pandas and Dask DataFrames, with every floating-point fault named per row."""

from ._equation import (AngularUnits, CompileError, Equation, Error, Function, MathError,
                        functions, register)
from ._frames import assign, column_identifier

__all__ = ["AngularUnits", "CompileError", "Equation", "Error", "Function", "MathError",
           "assign", "column_identifier", "functions", "register"]
