"""Loads the kalo shared library and declares the C signatures of its exports."""

import ctypes
import os
import sys
import threading

TEXT_SIZE = 512  # every text the library writes needs a buffer of this size

# The library lets one evaluation run at a time in the whole process and refuses a second one
# with code 102; registering functions must not overlap compiling or evaluating. One lock here
# turns both rules into waiting. It is reentrant so that a host function written in Python may
# compile another equation; an evaluation nested inside an evaluation still gets 102.
LOCK = threading.RLock()

HostFunction = ctypes.CFUNCTYPE(
    ctypes.c_int, ctypes.POINTER(ctypes.c_double), ctypes.POINTER(ctypes.c_double), ctypes.c_long
)
EnumCallback = ctypes.CFUNCTYPE(
    ctypes.c_int, ctypes.c_char_p, ctypes.c_int, ctypes.c_char_p, ctypes.c_long
)

_SIGNATURES = {
    "KaloParseExpression": (
        ctypes.c_void_p,
        [ctypes.c_char_p, ctypes.c_char_p, ctypes.POINTER(ctypes.c_int), ctypes.c_char_p],
    ),
    "KaloDestroyExpression": (None, [ctypes.c_void_p]),
    "KaloEvalExpression": (ctypes.c_int, [ctypes.c_void_p, ctypes.POINTER(ctypes.c_double)]),
    "KaloEvalExpressionColumns": (
        ctypes.c_long,
        [ctypes.c_void_p, ctypes.POINTER(ctypes.c_void_p), ctypes.c_long],
    ),
    "KaloGetEvalError": (ctypes.c_int, [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_void_p]),
    "KaloSetAngularUnits": (ctypes.c_int, [ctypes.c_void_p, ctypes.c_int]),
    "KaloRegisterFunction": (
        ctypes.c_int,
        [ctypes.c_char_p, ctypes.c_int, HostFunction, ctypes.c_long],
    ),
    "KaloEnumFunctions": (ctypes.c_int, [EnumCallback, ctypes.c_long]),
}


def _load():
    path = os.environ.get("KALO_LIBRARY")
    if path:
        tried = "KALO_LIBRARY=%s" % path
    else:
        path = "kalo.dll" if sys.platform == "win32" else "libkalo.so.1"
        tried = "%s through the system loader (KALO_LIBRARY is not set)" % path
    try:
        library = ctypes.CDLL(path)
    except OSError as error:
        message = "kalo: cannot load the kalo library from %s: %s" % (tried, error)
        raise ImportError(message) from None
    for name, (restype, argtypes) in _SIGNATURES.items():
        function = getattr(library, name)
        function.restype = restype
        function.argtypes = argtypes
    return library


C = _load()


def decode(raw):
    return raw.decode("latin-1")
