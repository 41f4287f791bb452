"""Event-camera files and cameras, with events as NumPy arrays.

open() reads an event file of any readable format (EVT 3.0, EVT 2.0, EVT 2.1, DAT, HDF5, AEDAT 4,
Event Stream, CSV, NumPy) as a RawFile; read(), slices() and chunks() give structured arrays of
events (fields t, x, y, p); write() and generate() make files; cameras() and Camera stream and
record cameras. Times are microseconds. norvale.batch runs work over many files on a Dask cluster.
"""
from . import _norvale
from ._norvale import *  # noqa: F401,F403
from ._norvale import __version__  # noqa: F401

# Classes and functions say they come from norvale, where users find them (and pickle finds them).
for _name in dir(_norvale):
    _value = getattr(_norvale, _name)
    if not _name.startswith("_") and getattr(_value, "__module__", None) == _norvale.__name__:
        try:
            _value.__module__ = __name__
        except (AttributeError, TypeError):
            pass
del _name, _value


def __getattr__(name):
    # norvale.batch needs Dask, which takes a while to import: loaded on first use only.
    if name == "batch":
        import importlib
        return importlib.import_module(".batch", __name__)
    raise AttributeError(f"module {__name__!r} has no attribute {name!r}")
