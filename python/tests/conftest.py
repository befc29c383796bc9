import os
import pathlib
import sys

# Run from the source tree against a build's library unless told otherwise; Dask worker
# processes inherit both settings through the environment.
PACKAGE = pathlib.Path(__file__).resolve().parents[1]
BUILD = PACKAGE.parent / "build" / "dev" / "libkalo.so.1"
os.environ.setdefault("KALO_LIBRARY", str(BUILD))
os.environ["PYTHONPATH"] = os.pathsep.join(filter(None, [str(PACKAGE),
                                                        os.environ.get("PYTHONPATH")]))
sys.path.insert(0, str(PACKAGE))
