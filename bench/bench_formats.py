#!/usr/bin/env python3
"""Reading each event-file format whole into NumPy, against a straightforward reader of the same
file in the same run.

    PYTHONPATH=build/release/python /usr/bin/python3 bench/bench_formats.py build/release/bin/nrraw [MEV] [--only F,...]

A generated recording of MEV million events (default 10) is converted into every writable format in
/tmp (CSV gets a tenth of the events: text readers are slow) and deleted at the end. For each file,
three rounds of norvale.open(path).read_all() and of the straightforward reader, by wall-clock time
from the call to the finished arrays (files in the page cache); the medians in Mev/s. The ratio is
that of the two; `read_all()` alone, on a file already open (its index built), is shown beside. The
straightforward readers are what a user would write with NumPy or h5py: numpy.load, h5py's read of
the four datasets, numpy.loadtxt, and vectorised NumPy decoders of the DAT, EVT 2.0 and EVT 2.1
layouts; EVT 3.0 is compared with the C++ straightforward decoder of `nrraw bench decode`. AEDAT 4
and Event Stream have no such reader here (their packets need FlatBuffers or a bit-level state
machine), so only our figure is given. --only names the formats to time (hdf5,npy: keys as printed).
"""
import os
import re
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

import numpy as np

import norvale


def data_offset(path):
    """Bytes of a raw file's '% ' header lines."""
    with open(path, "rb") as f:
        head = f.read(1 << 16)
    pos = 0
    while head.startswith(b"% ", pos):
        pos = head.index(b"\n", pos) + 1
    return pos


def fill_forward(values, where):
    """values[i] at the last index <= i where `where` holds (0 before the first)."""
    idx = np.where(where, np.arange(len(values)), 0)
    np.maximum.accumulate(idx, out=idx)
    out = values[idx]
    out[: np.argmax(where)] = 0
    return out


def read_npy(path):
    return np.load(path)


def read_h5(path):
    import h5py
    with h5py.File(path, "r") as f:
        g = f["events"]
        return g["t"][:], g["x"][:], g["y"][:], g["p"][:]


def read_csv(path):
    return np.loadtxt(path, delimiter=",", skiprows=1, dtype=np.int64)


def read_dat(path):
    rec = np.fromfile(path, dtype=[("t", "<u4"), ("w", "<u4")], offset=data_offset(path) + 2)
    t = rec["t"].astype(np.uint64)
    t += np.cumsum(np.diff(t, prepend=t[:1]).astype(np.int64) < -(1 << 31)).astype(np.uint64) << 32
    w = rec["w"]
    return t, w & 0x3FFF, (w >> 14) & 0x3FFF, (w >> 28) != 0


def read_evt2(path):
    w = np.fromfile(path, dtype="<u4", offset=data_offset(path))
    kind = w >> 28
    high = fill_forward((w & 0x0FFFFFFF).astype(np.uint64), kind == 8)
    ev = kind <= 1
    we = w[ev]
    return (high[ev] << 6) | ((we >> 22) & 0x3F), (we >> 11) & 0x7FF, we & 0x7FF, kind[ev]


def read_evt21(path):
    w = np.fromfile(path, dtype="<u8", offset=data_offset(path))
    kind = w >> 60
    high = fill_forward((w & 0x0FFFFFFF).astype(np.uint64), kind == 8)
    ev = np.nonzero(kind <= 1)[0]
    we = w[ev]
    bits = np.unpackbits((we & 0xFFFFFFFF).astype("<u4").view(np.uint8), bitorder="little").reshape(-1, 32)
    word, bit = np.nonzero(bits)
    wi = we[word]
    t = (high[ev][word] << 6) | ((wi >> 54) & 0x3F)
    return t, ((wi >> 43) & 0x7FF) + bit, (wi >> 32) & 0x7FF, kind[ev][word]


def evt3_straightforward(nrraw, path):
    out = subprocess.run([nrraw, "bench", "decode", path, "--repeat", "3"], check=True, capture_output=True,
                         text=True).stdout
    return float(re.search(r"straightforward decoder: \d+ events, best of \d+: ([0-9.]+) Mev/s", out).group(1))


def timed(fn, path, events, rounds=3):
    rates = []
    for _ in range(rounds):
        t0 = time.perf_counter()
        result = fn(path)
        rates.append(events / (time.perf_counter() - t0) / 1e6)
        del result
    return statistics.median(rates)


def ours(path):
    with norvale.open(path) as f:
        return f.read_all()


def read_open(events, f):
    rates = []
    for _ in range(3):
        t0 = time.perf_counter()
        result = f.read_all()
        rates.append(events / (time.perf_counter() - t0) / 1e6)
        del result
    return statistics.median(rates)


def main():
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    args = sys.argv[1:]
    only = None
    if "--only" in args:
        at = args.index("--only")
        only = set(args[at + 1].split(","))
        del args[at:at + 2]
    nrraw = args[0]
    mev = float(args[1]) if len(args) > 1 else 10.0
    tmp = tempfile.mkdtemp(prefix="norvale_bench_formats_")
    base = os.path.join(tmp, "base.raw")
    seconds = 2.0
    try:  # a recording that cannot be made leaves no folder behind
        subprocess.run([nrraw, "gen", base, "--duration", str(seconds), "--rate", str(mev / seconds)], check=True,
                       capture_output=True)
        src = norvale.open(base)
    except BaseException:
        shutil.rmtree(tmp)
        raise
    small_end = src.start + (src.end - src.start) // 10
    cases = [  # (format key, file name, straightforward reader, whole or a tenth)
        ("evt3", "a.evt3.raw", None, False),
        ("evt2", "a.evt2.raw", read_evt2, False),
        ("evt21", "a.evt21.raw", read_evt21, False),
        ("dat", "a.dat", read_dat, False),
        ("hdf5", "a.h5", read_h5, False),
        ("npy", "a.npy", read_npy, False),
        ("aedat4", "a.aedat4", None, False),
        ("csv", "a.csv", read_csv, True),
    ]
    print(f"{src.info['events']:,} events generated; medians of 3 rounds, Mev/s of wall-clock time")
    print(f"{'format':8} {'events':>12} {'open+read_all()':>16} {'straightforward':>16} {'ratio':>6} "
          f"{'read_all() alone':>17}  reader")
    try:
        for key, name, reader, tenth in cases:
            if only is not None and key not in only:
                continue
            path = os.path.join(tmp, name)
            src.convert(path, None, small_end if tenth else None, format=key)
            with norvale.open(path) as f:
                events = f.info["events"]
                check = f.read_all()
                alone = read_open(events, f)
            mine = timed(ours, path, events)
            if reader is not None:
                got = reader(path)
                n = len(got) if isinstance(got, np.ndarray) else len(got[0])
                if n != events:
                    sys.exit(f"{name}: the straightforward reader found {n} events, ours {events}")
                theirs = timed(reader, path, events)
                label = reader.__name__
            elif key == "evt3":
                theirs = evt3_straightforward(nrraw, path)
                label = "C++ straightforward decoder (nrraw bench decode)"
            else:
                theirs, label = None, "none here"
            ratio = f"{mine / theirs:6.2f}" if theirs else "     -"
            theirs_s = f"{theirs:16.1f}" if theirs else f"{'-':>16}"
            print(f"{key:8} {events:12,} {mine:16.1f} {theirs_s} {ratio} {alone:17.1f}  {label}", flush=True)
            del check
            os.remove(path)
    finally:
        src.close()
        for name in os.listdir(tmp):
            os.remove(os.path.join(tmp, name))
        os.rmdir(tmp)


if __name__ == "__main__":
    main()
