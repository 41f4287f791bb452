"""h5py's figures on the arrays of an HDF5 event file (the baseline of bench_hdf5): reading the
four datasets whole, and writing them again plain and chunked with shuffle + gzip 1."""
import os
import sys
import time

import h5py

path = sys.argv[1]


def best(fn, runs=3):
    times = []
    for _ in range(runs):
        t0 = time.perf_counter()
        fn()
        times.append(time.perf_counter() - t0)
    return min(times)


def read():
    with h5py.File(path, "r") as f:
        g = f["events"]
        return g["t"][:], g["x"][:], g["y"][:], g["p"][:]


t, x, y, p = read()
n = len(t)
out = path + ".h5py.h5"


def write(**kw):
    def run():
        with h5py.File(out, "w") as f:
            g = f.create_group("events")
            for k, v in (("x", x), ("y", y), ("p", p), ("t", t)):
                g.create_dataset(k, data=v, **kw)
    return run


r = best(read)
w_plain = best(write())
w_gzip = best(write(chunks=(65536,), shuffle=True, compression="gzip", compression_opts=1))
os.remove(out)
print(f"h5py read whole      {r * 1e3:9.1f} ms  {n / r / 1e6:8.1f} Mev/s")
print(f"h5py write plain     {w_plain * 1e3:9.1f} ms  {n / w_plain / 1e6:8.1f} Mev/s")
print(f"h5py write gzip 1    {w_gzip * 1e3:9.1f} ms  {n / w_gzip / 1e6:8.1f} Mev/s")
