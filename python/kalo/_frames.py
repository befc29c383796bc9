"""pandas DataFrames (and so Dask partitions): columns in, one column added or replaced."""

import numpy as np

from ._equation import Equation

NAME_LIMIT = 47  # the longest name an equation can spell


def column_identifier(header):
    """The name an equation uses for a column, as the kalo command names a table's columns: each
    character that is not an ASCII letter, digit or underscore becomes one "_", and a leading
    digit gets a "_" before it."""
    kept = [c if c.isascii() and (c.isalnum() or c == "_") else "_" for c in str(header)]
    identifier = "".join(kept)
    return "_" + identifier if identifier[:1].isdigit() else identifier


def _headers_by_name(frame):
    found = {}
    for header in frame.columns:
        found.setdefault(column_identifier(header).lower(), []).append(header)
    return found


def _too_long(by_name):
    return "; ".join("%r is %s" % (header, name) for name, headers in by_name.items()
                     for header in headers if len(name) > NAME_LIMIT)


def _header(by_name, name, equation):
    """The one header that the equation's `name` means, None when no column has it."""
    headers = by_name.get(name.lower(), [])
    if len(headers) > 1:
        raise ValueError("kalo: %s: columns %s all read as %s" % (
            equation.text, " and ".join(repr(h) for h in headers), name))
    return headers[0] if headers else None


def assign(frame, equation, errors="raise", **constants):
    """Returns a new DataFrame with the equation's result column added, or replacing the column
    of that name. The equation's variables are columns, named by column_identifier, or keyword
    constants. errors is as for Equation.columns."""
    if not isinstance(equation, Equation):
        equation = Equation(equation)
    by_name = _headers_by_name(frame)
    named = {}
    for name in equation.variables:
        header = _header(by_name, name, equation)
        constant = [key for key in constants if key.lower() == name.lower()]
        if header is not None and constant:
            raise ValueError("kalo: %s=... names the column %r" % (constant[0], header))
        if header is not None:
            named[name] = frame[header].to_numpy(dtype=np.float64, na_value=np.nan)
        elif constant:
            named[name] = constants[constant[0]]
        elif name.lower() in equation._reads:
            long = _too_long(by_name)
            raise KeyError("kalo: %s: no column or constant %s%s" % (
                equation.text, name, "; names over %d characters: %s" % (NAME_LIMIT, long)
                if long else ""))
    target = _header(by_name, equation.assigned, equation)
    target = equation.assigned if target is None else target  # a header may be 0
    result = frame.copy(deep=False)
    result[target] = equation.columns(named, errors=errors)
    return result
