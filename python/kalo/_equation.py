"""Equations: compile once, evaluate on scalars or on whole numpy columns."""

import collections
import ctypes
import enum
import re
import threading

import numpy as np

from ._library import C, LOCK, TEXT_SIZE, EnumCallback, HostFunction, decode


class Error(Exception):
    """A failure the library reported: its code and its text (lines end in CR LF)."""

    def __init__(self, code, text):
        super().__init__(text.replace("\r\n", "\n"))
        self.code = code
        self.text = text


class CompileError(Error):
    """The equation or the variable list was refused. `position` is where the library's ` ? `
    marker stands in the text's second line (the equation, or the variable list when that was
    at fault), or None when the text has no marker."""

    def __init__(self, code, text):
        super().__init__(code, text)
        shown = text.partition("\r\n")[2]
        self.position = shown.find(" ? ") if " ? " in shown else None


class MathError(Error):
    """An evaluation failed; `row` is the flat index of the failing row for columns, else None."""

    def __init__(self, code, text, row=None):
        super().__init__(code, text)
        self.row = row


class AngularUnits(enum.IntEnum):
    DEGREES = 0
    RADIANS = 1
    GRADS = 2

    def __str__(self):
        return self.name.lower()


Function = collections.namedtuple("Function", "name nargs description")


def functions():
    """The library's built-in functions, in its order."""
    found = []

    def collect(name, count, description, _):
        found.append(Function(decode(name), count, decode(description)))
        return 1

    C.KaloEnumFunctions(EnumCallback(collect), 0)
    return found


# Lowercase names that inference treats as functions even without a following "(".
_function_names = {function.name.lower() for function in functions()}
_KEYWORDS = {"and", "or", "xor", "not"}

# The registry keeps every Python function and its C trampoline alive for the life of the
# process: an expression compiled earlier may still call a replaced registration.
_hosts = []
_HOST_RAISED = 101  # the code that ends an evaluation when a Python function raised
_pending = threading.local()


def _trampoline(function, nargs):
    def call(arguments, result, _):
        try:
            result[0] = float(function(*arguments[:nargs]))
            return 0
        except BaseException as error:  # ctypes would print and swallow it
            _pending.error = error
            return _HOST_RAISED

    return HostFunction(call)


def register(name, function, nargs):
    """Registers `function` (taking `nargs` floats, returning a float) as a host function for
    equations compiled afterwards. An exception it raises ends the evaluation and is raised
    again from the call that evaluated."""
    callback = _trampoline(function, nargs)
    with LOCK:
        if not C.KaloRegisterFunction(name.encode("ascii"), nargs, callback, len(_hosts)):
            raise ValueError("kalo: cannot register %r with %d arguments" % (name, nargs))
        _hosts.append((function, callback))


def _raise_pending():
    error = getattr(_pending, "error", None)
    if error is not None:
        _pending.error = None
        raise error


_TOKEN = re.compile(
    r"\s*(?:(?P<name>[A-Za-z_][A-Za-z0-9_]*)|(?P<number>(?:[0-9]+\.?[0-9]*|\.[0-9]*)"
    r"(?:[eE][+-]?[0-9]*)?)|(?P<other>\S))"
)


def _scan(equation):
    """Returns (variables, assigned, reads): every name that is not a function or an operator, in
    order of appearance with the assigned one last; the assigned name (None without "NAME ="); and
    the lowercase names the right-hand side reads."""
    tokens = [(m.lastgroup, m.group(m.lastgroup)) for m in _TOKEN.finditer(equation)]
    # Without "NAME =" first the library refuses the equation, whatever is inferred here.
    assigned = tokens[0][1] if tokens and tokens[0][0] == "name" else None
    operators = _KEYWORDS | _function_names
    names = {}
    for at, (kind, text) in enumerate(tokens):
        lower = text.lower()
        called = at + 1 < len(tokens) and tokens[at + 1] == ("other", "(")
        if kind == "name" and lower not in operators and not called:
            names.setdefault(lower, (text, set()))[1].add(at)
    reads = {lower for lower, (_, places) in names.items() if places - {0}}
    if assigned is not None:
        names[assigned.lower()] = names.pop(assigned.lower())
    return [text for text, _ in names.values()], assigned, reads


def _encode(text):
    # One byte per character keeps the marker's position; a character the library cannot read
    # arrives as "?", which it refuses at that place like any other stray character.
    return text.encode("latin-1", "replace")


class Equation:
    """An equation compiled once, such as Equation("Z = 2*sin(X) + Y/3")."""

    def __init__(self, equation, variables=None):
        inferred, assigned, self._reads = _scan(equation)
        if variables is None:
            variables = inferred
        elif isinstance(variables, str):
            variables = variables.split()
        self.text = equation
        self.variables = tuple(variables)
        self._index = {name.lower(): i for i, name in enumerate(self.variables)}
        self._target = self._index.get((assigned or "").lower())
        code = ctypes.c_int(0)
        text = ctypes.create_string_buffer(TEXT_SIZE)
        with LOCK:
            self._handle = C.KaloParseExpression(
                _encode(equation), _encode(" ".join(self.variables)), ctypes.byref(code), text)
        if not self._handle:
            raise CompileError(code.value, decode(text.value))

    def __del__(self):
        if getattr(self, "_handle", None) and C is not None:
            C.KaloDestroyExpression(self._handle)

    def __repr__(self):
        return "Equation(%r, variables=%r)" % (self.text, " ".join(self.variables))

    def __reduce__(self):
        return (_restore, (self.text, " ".join(self.variables), int(self.angular_units)))

    @property
    def assigned(self):
        return self.variables[self._target]

    @property
    def angular_units(self):
        with LOCK:
            previous = C.KaloSetAngularUnits(self._handle, AngularUnits.RADIANS)
            C.KaloSetAngularUnits(self._handle, previous)
        return AngularUnits(previous)

    @angular_units.setter
    def angular_units(self, units):
        if isinstance(units, str):
            units = AngularUnits[units.upper()]
        with LOCK:
            C.KaloSetAngularUnits(self._handle, AngularUnits(units))

    def _named(self, values, named):
        """Maps names to variable indexes; every variable read must be given."""
        given = {}
        for name, value in {**(values or {}), **named}.items():
            index = self._index.get(name.lower())
            if index is None:
                raise TypeError("kalo: %s has no variable %s; its variables are %s"
                                % (self.text, name, " ".join(self.variables)))
            given[index] = value
        missing = [n for n in self.variables if n.lower() in self._reads
                   and self._index[n.lower()] not in given]
        if missing:
            raise TypeError("kalo: %s needs a value for %s" % (self.text, " ".join(missing)))
        return given

    def _error(self, row=None):
        """Reads the last evaluation's failure; called with LOCK held."""
        text = ctypes.create_string_buffer(TEXT_SIZE)
        code = C.KaloGetEvalError(self._handle, text, None)
        return MathError(code, decode(text.value), row)

    def __call__(self, values=None, /, **named):
        """Evaluates once with scalar values, such as eq(X=0.5, Y=6) or eq({"X": 0.5, "Y": 6}),
        and returns the result."""
        row = (ctypes.c_double * len(self.variables))()
        for index, value in self._named(values, named).items():
            row[index] = value
        with LOCK:
            ok = C.KaloEvalExpression(self._handle, row)
            error = None if ok else self._error()
        _raise_pending()
        if error is not None:
            raise error
        return row[self._target]

    def columns(self, values=None, /, errors="raise", **named):
        """Evaluates every row of numpy-broadcast arrays and scalars given by name (or in a
        mapping, for names such as "errors"), and returns the results as an array of the
        broadcast shape. errors="raise" raises MathError for the first failing row;
        errors="nan" gives each failing row NaN and goes on with the next."""
        if errors not in ("raise", "nan"):
            raise ValueError("kalo: errors must be 'raise' or 'nan', not %r" % (errors,))
        given = {i: np.asarray(v, dtype=np.float64) for i, v in self._named(values, named).items()}
        shape = np.broadcast_shapes(*(array.shape for array in given.values()))
        rows = int(np.prod(shape))
        # The result column is written, so it is always a new array.
        if self._target in given:
            result = np.broadcast_to(given[self._target], shape).flatten()
        else:
            result = np.empty(rows)
        columns = [_Column(result, 8) if i == self._target else _source(given.get(i), shape, rows)
                   for i in range(len(self.variables))]
        self._evaluate(columns, result, rows, errors)
        return result.reshape(shape)

    def _evaluate(self, columns, result, rows, errors):
        start = 0
        while start < rows:
            count = min(rows - start, _CHUNK_ROWS)
            pointers = (ctypes.c_void_p * len(columns))(*[c.at(start) for c in columns])
            with LOCK:
                done = C.KaloEvalExpressionColumns(self._handle, pointers, count)
                error = None if done == count else self._error(start + done)
            _raise_pending()
            if error is None:
                start += count
            elif errors == "raise":
                raise error
            else:
                result[error.row] = np.nan
                start = error.row + 1


# Rows per call of the columns export: a variable given as one value is handed over as one
# chunk-long run of that value, used again for every chunk, rather than as a whole column
# (filling and reading 8 MB per million rows cost more than the evaluation of a short equation).
_CHUNK_ROWS = 16384


class _Column:
    """Where the values of one variable lie for the library: `step` bytes further each row."""

    def __init__(self, values, step):
        self.values = values  # kept alive while the library reads it
        self.address = values.ctypes.data
        self.step = step

    def at(self, row):
        return self.address + self.step * row


def _source(array, shape, rows):
    if array is None or array.size == 1:
        value = 0.0 if array is None else array.flat[0]
        return _Column(np.full(min(rows, _CHUNK_ROWS), value), 0)
    # ravel copies only what is not one contiguous run already.
    return _Column(np.broadcast_to(array, shape).ravel(), 8)


def _restore(text, variables, units):
    equation = Equation(text, variables)
    equation.angular_units = units
    return equation
