#!/usr/bin/env python3
"""Figures of the Python module against the C++ decoder, measured in the same run.

    PYTHONPATH=build/release/python /usr/bin/python3 bench/bench_python.py build/release/bin/nrraw [FILE...]

Without files: the real recordings of ../shared/data (when present) and a generated recording of
about 1 GiB in /tmp, deleted at the end. For each file, repeated rounds of:
  - C++ decoder: `nrraw bench decode`, the decoding kernel over the file already in memory, into a
    reused buffer, one thread, best of 3 passes by the thread's CPU time;
  - read_all(): events per second of wall-clock time from the call to the finished NumPy array
    (reading the file from the page cache, decoding into a new array, on every usable core), and the
    same with threads=1; the first call of a round is shown apart (see compare_read_all);
then the medians and the median of the per-round ratios read_all() / C++ decoder, and read_all(out=)
into one reused array. For the largest
file: read(t, t + 33333) at random t and the peak memory of a process that streams the file with
slices() and chunks().
"""
import os
import random
import re
import statistics
import subprocess
import sys
import tempfile
import time

import numpy as np

import norvale

HERE = os.path.dirname(os.path.abspath(__file__))
DATA = os.path.join(HERE, "..", "..", "shared", "data")


def cpp_decode_rate(nrraw, path):
    out = subprocess.run([nrraw, "bench", "decode", path, "--repeat", "3"], check=True, capture_output=True,
                         text=True).stdout
    return float(re.search(r"decode: ([0-9.]+) Mev/s", out).group(1))


def fresh_memory_rate(events):
    """Events per second of merely filling a fresh array of that size: on a virtual machine first
    touching memory can cost more than decoding into it."""
    t0 = time.perf_counter()
    a = np.empty(events * 2, np.uint64)
    a.fill(1)
    seconds = time.perf_counter() - t0
    del a
    return events / seconds / 1e6


def read_all_rate(f, threads):
    """Wall-clock and process CPU events per second of one read_all()."""
    t0, c0 = time.perf_counter(), time.process_time()
    a = f.read_all(threads=threads)
    wall, cpu = time.perf_counter() - t0, time.process_time() - c0
    n = len(a)
    del a
    return n / wall / 1e6, n / max(cpu, 1e-9) / 1e6


def compare_read_all(nrraw, path, rounds):
    """Per round: the C++ decoder, then read_all() once right after it ("first"), then read_all() on
    every core and with threads=1, alternating which goes first."""
    f = norvale.RawFile(path)
    inner = max(1, int(2e7 // max(f.info["events"], 1)))  # small files: several calls per round
    rows = {k: [] for k in ("cpp", "first", "multi", "multi_cpu", "single", "ratio", "cpu_ratio")}
    for r in range(rounds):
        c = cpp_decode_rate(nrraw, path)
        # On our virtual machine the first large array after a pause may get memory the host took
        # back, which costs far more than decoding: shown apart from the calls that follow.
        rows["first"].append(read_all_rate(f, None)[0])
        for threads in ((None, 1) if r % 2 == 0 else (1, None)):
            runs = [read_all_rate(f, threads) for _ in range(inner)]
            if threads is None:
                m, m_cpu = statistics.median(x[0] for x in runs), statistics.median(x[1] for x in runs)
            else:
                rows["single"].append(statistics.median(x[0] for x in runs))
        rows["cpp"].append(c), rows["multi"].append(m), rows["multi_cpu"].append(m_cpu)
        rows["ratio"].append(m / c), rows["cpu_ratio"].append(m_cpu / c)
    out = {k: statistics.median(v) for k, v in rows.items()}
    out["ratio_lo"], out["ratio_hi"] = min(rows["ratio"]), max(rows["ratio"])
    return f.info["events"], out


def reused_rates(path, calls=5):
    """Median events per second of read_all(out=...) into one array used again and again, on one
    thread and on every core: what decoding costs once the memory is not fresh."""
    f = norvale.RawFile(path)
    buf = np.empty(f.info["events"], norvale.EVENT_DTYPE)
    f.read_all(out=buf)
    inner = max(calls, int(2e7 // max(f.info["events"], 1)))
    rates = {}
    for threads in (1, None):
        runs = []
        for _ in range(inner):
            t0 = time.perf_counter()
            n = len(f.read_all(out=buf, threads=threads))
            runs.append(n / (time.perf_counter() - t0) / 1e6)
        rates[threads] = statistics.median(runs)
    return rates[1], rates[None]


def page_in(path):
    with open(path, "rb") as f:
        while f.read(1 << 24):
            pass


def random_reads(path, count=300):
    f = norvale.RawFile(path)
    rng = random.Random(12345)
    times = []
    for _ in range(count):
        t = rng.randrange(f.start, f.end - 33333)
        t0 = time.perf_counter()
        f.read(t, t + 33333)
        times.append((time.perf_counter() - t0) * 1e3)
    times.sort()
    return statistics.median(times), times[int(len(times) * 0.99)]


def streaming_peak(path, mode):
    """Peak resident memory of a fresh process that opens the file, and of one that streams it too."""
    code = ("import norvale, sys\n"
            "def peak():\n"
            "    return [l for l in open('/proc/self/status') if l.startswith('VmHWM')][0].split()[1]\n"
            "f = norvale.RawFile(sys.argv[1])\n"
            "base = peak()\n"
            "n = 0\n"
            "if sys.argv[2] == 'slices':\n"
            "    for s in f.slices(33333): n += len(s)\n"
            "else:\n"
            "    for c in f.chunks(1_000_000): n += len(c)\n"
            "assert n == f.info['events']\n"
            "print(base, peak())\n")
    t0 = time.perf_counter()
    out = subprocess.run([sys.executable, "-c", code, path, mode], check=True, capture_output=True, text=True)
    base, peak = (int(v) / 1024 for v in out.stdout.split()[-2:])
    return base, peak, time.perf_counter() - t0


def main():
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    nrraw = sys.argv[1]
    files = sys.argv[2:]
    generated = None
    if not files:
        files = [p for p in (os.path.join(DATA, "pedestrians_5k.evt3.raw"), os.path.join(DATA, "sparklers.evt2.raw"))
                 if os.path.exists(p)]
        generated = os.path.join(tempfile.gettempdir(), f"norvale_python_bench_{os.getpid()}.raw")
        t0 = time.perf_counter()
        norvale.generate(generated, 130, 2.0, seed=1, triggers_hz=10)  # about 1 GiB, 4.1 bytes per event
        print(f"generated {os.path.getsize(generated) / 2**30:.2f} GiB in {time.perf_counter() - t0:.1f} s")
        files.append(generated)
    try:
        print(f"machine: {os.cpu_count()} cores, load average {os.getloadavg()[0]:.1f} at the start")
        for path in files:
            page_in(path)
            size = os.path.getsize(path)
            rounds = 5 if size > 1 << 28 else 9
            events, m = compare_read_all(nrraw, path, rounds)
            fresh = fresh_memory_rate(events)
            reused_one, reused_all = reused_rates(path)
            print(f"{os.path.basename(path)}: {events} events, {size / 2**20:.1f} MiB, medians of {rounds} rounds:\n"
                  f"  C++ decoder (one thread, CPU time, reused buffer)    {m['cpp']:6.0f} Mev/s\n"
                  f"  read_all() (wall clock, every core, a new array)     {m['multi']:6.0f} Mev/s "
                  f"(by process CPU time {m['multi_cpu']:.0f})\n"
                  f"  read_all(threads=1) (wall clock)                     {m['single']:6.0f} Mev/s\n"
                  f"  ratio read_all() / C++ decoder: median {m['ratio']:.2f} (rounds {m['ratio_lo']:.2f} .. "
                  f"{m['ratio_hi']:.2f}); by process CPU time {m['cpu_ratio']:.2f}\n"
                  f"  read_all() first in its round, right after the C++ pass: {m['first']:.0f} Mev/s\n"
                  f"  filling a fresh array of that size alone: {fresh:.0f} Mev/s\n"
                  f"  read_all(out=a reused array): one thread {reused_one:.0f} Mev/s, every core {reused_all:.0f} Mev/s")
        big = max(files, key=os.path.getsize)
        median, p99 = random_reads(big)
        print(f"{os.path.basename(big)}: read(t, t + 33333) at random t: median {median:.2f} ms, "
              f"99th percentile {p99:.2f} ms")
        for mode in ("slices", "chunks"):
            base, peak, seconds = streaming_peak(big, mode)
            print(f"{os.path.basename(big)}: {mode} over the whole file: peak {peak:.0f} MB resident "
                  f"({base:.0f} MB after opening), {seconds:.1f} s")
    finally:
        if generated and os.path.exists(generated):
            os.unlink(generated)


if __name__ == "__main__":
    main()
