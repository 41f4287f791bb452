"""h5py's figures on the arrays of an HDF5 event file (the baseline of bench_hdf5): reading the
four datasets whole, and writing them again plain, plain and synced to disk (as our conversion
finishes every file), and chunked with shuffle + gzip 1 as ours; then norvale's open and read_all of
the same file.

    bench_hdf5_h5py.py FILE PYTHON_MODULE_DIR [--slices]

--slices (a long recording): one slice of the arrays is read and written over and over to their
length (the same bytes to write), and whatever needs them all in memory is left out."""
import os
import sys
import time

import h5py
import numpy as np

path, module_dir = sys.argv[1], sys.argv[2]
slices = "--slices" in sys.argv[3:]
out = path + ".h5py.h5"
SLICE = 1 << 25
NAMES = ("x", "y", "p", "t")


def idle_disk():
    # Every timed write starts with nothing left to write back from before, as bench_hdf5's do.
    if os.path.exists(out):
        os.remove(out)
    os.sync()


def best(fn, writes=False, runs=1 if slices else 3):
    times = []
    for _ in range(runs):
        if writes:
            idle_disk()
        t0 = time.perf_counter()
        fn()
        times.append(time.perf_counter() - t0)
    return min(times)


def read():
    with h5py.File(path, "r") as f:
        g = f["events"]
        return {k: g[k][:] for k in NAMES}


def write_whole(arrays, sync, **kw):
    def run():
        with h5py.File(out, "w") as f:
            g = f.create_group("events")
            for k in NAMES:
                g.create_dataset(k, data=arrays[k], **kw)
        if sync:
            fd = os.open(out, os.O_RDONLY)
            os.fsync(fd)
            os.close(fd)
    return run


def write_sliced(sync):
    # The first slice, read once, written over and over to the file's length: every write timed
    # and nothing else between them (no reads during which the disk catches up).
    with h5py.File(path, "r") as src:
        s = src["events"]
        n = s["t"].shape[0]
        part = {k: s[k][:SLICE] for k in NAMES}
        dtypes = {k: s[k].dtype for k in NAMES}
    idle_disk()
    t0 = time.perf_counter()
    with h5py.File(out, "w") as f:
        g = f.create_group("events")
        sets = {k: g.create_dataset(k, shape=(n,), dtype=dtypes[k]) for k in NAMES}
        for at in range(0, n, SLICE):
            m = min(SLICE, n - at)
            for k in NAMES:
                sets[k][at:at + m] = part[k][:m]
    if sync:
        fd = os.open(out, os.O_RDONLY)
        os.fsync(fd)
        os.close(fd)
    return n, time.perf_counter() - t0


def line(name, seconds, n):
    print(f"{name:28s} {seconds * 1e3:9.1f} ms  {n / seconds / 1e6:8.1f} Mev/s")


if not slices:
    arrays = read()
    n = len(arrays["t"])
    line("h5py read whole", best(read), n)
    line("h5py write plain", best(write_whole(arrays, False), writes=True), n)
    line("h5py write plain + fsync", best(write_whole(arrays, True), writes=True), n)
    line("h5py write gzip 1", best(write_whole(arrays, False, chunks=(65536,), shuffle=True, compression="gzip",
                                               compression_opts=1), writes=True), n)
    del arrays
    sys.path.insert(0, module_dir)
    try:
        import norvale

        def read_all():
            norvale.open(path).read_all()

        line("norvale open + read_all", best(read_all), n)
    except ImportError as e:
        print("norvale read_all not measured:", e)
else:
    n, spent = write_sliced(False)
    line("h5py write plain (slices)", spent, n)
    n, spent = write_sliced(True)
    line("h5py write plain + fsync (slices)", spent, n)
if os.path.exists(out):
    os.remove(out)
