"""Reading: the module's figures against the C++ tool's, ranges, slices, chunks, errors, leaks, GIL."""
import gc
import os
import shutil
import subprocess
import sys
import tempfile
import threading
import time

import numpy as np
import pytest

import norvale
from conftest import events, nrraw, real


def nrraw_info(path):
    fields = dict(line.split(": ", 1) for line in nrraw("info", path).splitlines() if ": " in line)
    return {k: fields.get(k, "").split(" ")[0] for k in
            ("events", "ON events", "OFF events", "first timestamp", "last timestamp", "triggers", "format")}


def nrraw_dump(path, *args):
    lines = nrraw("dump", path, *args).splitlines()[1:]
    return np.array([tuple(int(v) for v in line.split(",")) for line in lines], dtype=np.uint64).reshape(-1, 4)


@pytest.mark.parametrize("name", ["pedestrians", "sparklers"])
def test_real_recordings_match_the_cpp_reader(name):
    path = real(name)
    f = norvale.RawFile(path)
    ref = nrraw_info(path)
    info = f.info
    counts = tuple(int(ref[k]) for k in ("events", "ON events", "OFF events"))
    assert (info["events"], info["on"], info["off"]) == counts
    assert (f.start, f.end) == (int(ref["first timestamp"]), int(ref["last timestamp"]))
    assert info["triggers"] == int(ref["triggers"]) == len(f.triggers())
    a = f.read_all()
    assert a.dtype == norvale.EVENT_DTYPE and len(a) == info["events"]
    assert np.all(np.diff(a["t"].astype(np.int64)) >= 0)
    assert (a["t"][0], a["t"][-1]) == (f.start, f.end)
    assert (a["p"] == 1).sum() == info["on"]
    # first and last events as the C++ reader dumps them
    head = nrraw_dump(path, "--limit", "200")
    tail = nrraw_dump(path, "--start", str(f.end))
    got = np.stack([a["t"], a["x"], a["y"], a["p"]], axis=1).astype(np.uint64)
    assert np.array_equal(got[:200], head)
    assert np.array_equal(np.sort(got[-len(tail):], axis=0), np.sort(tail, axis=0))
    if name == "pedestrians":  # the data folder's reference figures
        assert (info["events"], info["on"], f.start, f.end) == (5000, 2894, 5840504, 5885714)
        assert tuple(a[0][k] for k in "txyp") == (5840504, 707, 297, 0)
        assert (int(a["x"].sum()), int(a["y"].sum())) == (3415152, 1425333)
        assert info["format"] == "EVT 3.0" and (info["width"], info["height"]) == (1280, 720)
    else:
        assert info["format"] == "EVT 2.0" and (info["width"], info["height"]) == (640, 480)
        assert a["x"].max() <= 639 and a["y"].max() <= 479


def test_ranges_slices_and_chunks_cover_every_event_once(generated):
    f = norvale.RawFile(generated)
    a = f.read_all()
    t = a["t"]
    rng = np.random.default_rng(3)
    for lo, hi in [(0, f.start), (f.start, f.start + 1), (f.end, f.end + 1), (f.end + 1, 2**63)] + [
            tuple(sorted(rng.integers(f.start, f.end + 1, 2))) for _ in range(5)]:
        r = f.read(lo, hi)
        assert np.array_equal(r, a[(t >= lo) & (t < hi)]), (lo, hi)
    assert len(f.read(f.start + 10, f.start + 5)) == 0
    assert np.array_equal(f.read(float(f.start), f.start + 1e5), f.read(f.start, f.start + 100000))

    slices = list(f.slices(33333))
    assert len(slices) == (f.end - f.start) // 33333 + 1
    assert np.array_equal(np.concatenate(slices), a)
    assert all(len(s) == 0 or (s["t"].min() >= f.start + i * 33333 and s["t"].max() < f.start + (i + 1) * 33333)
               for i, s in enumerate(slices))
    part = list(f.slices(1000, start_us=f.start + 500000, end_us=f.start + 700000))
    assert np.array_equal(np.concatenate(part), f.read(f.start + 500000, f.start + 700000))

    chunks = list(f.chunks(100000))
    assert [len(c) for c in chunks[:-1]] == [100000] * (len(chunks) - 1) and 0 < len(chunks[-1]) <= 100000
    assert np.array_equal(np.concatenate(chunks), a)
    small = list(f.chunks(7, start_us=f.start, end_us=f.start + 3000))
    assert np.array_equal(np.concatenate(small), f.read(f.start, f.start + 3000))


def test_triggers_and_rate_profile(generated):
    f = norvale.RawFile(generated)
    tr = f.triggers()
    assert tr.dtype == norvale.TRIGGER_DTYPE
    assert len(tr) == f.info["triggers"] == 100  # 50 Hz, a rising and a falling edge, 1 s
    assert list(tr["p"][:4]) == [1, 0, 1, 0] and np.all(np.diff(tr["t"].astype(np.int64)) > 0)
    prof = f.rate_profile()
    assert prof["counts"].dtype == np.uint32 and prof["counts"].sum() == f.info["events"]
    assert prof["start_us"] <= f.start and prof["slot_us"] >= 1024


def test_errors_are_exceptions_with_the_reason(tmp_path, generated):
    with pytest.raises(FileNotFoundError):
        norvale.RawFile(tmp_path / "missing.raw")
    with pytest.raises(IsADirectoryError):
        norvale.RawFile(tmp_path)
    text = tmp_path / "notes.txt"
    text.write_text("just some words\n")
    with pytest.raises(ValueError, match="not an event file"):
        norvale.RawFile(text)
    other = tmp_path / "evt4.raw"
    other.write_bytes(b"% evt 4.0\n% end\n" + bytes(64))
    with pytest.raises(ValueError, match="unsupported"):
        norvale.RawFile(other)
    fifo = tmp_path / "pipe.raw"
    os.mkfifo(fifo)
    with pytest.raises(ValueError, match="not a regular file"):
        norvale.RawFile(fifo)  # must not wait for a writer
    # a damaged stream after a good header yields what can be decoded
    damaged = tmp_path / "damaged.raw"
    data = open(generated, "rb").read()
    head = data.index(b"% end\n") + 6
    cut = head + (len(data) - head) // 2 + 1  # in the middle of a word
    damaged.write_bytes(data[:cut] + bytes(range(256)) * 40)
    d = norvale.RawFile(damaged)
    assert 0 < d.info["events"] < norvale.RawFile(generated).info["events"]
    assert len(d.read_all()) == d.info["events"]

    f = norvale.RawFile(generated)
    with pytest.raises(ValueError, match="negative"):
        f.read(-1, 10)
    with pytest.raises(ValueError, match="whole number"):
        f.read(0.5, 10)
    with pytest.raises(TypeError):
        f.read("0", 10)
    with pytest.raises(ValueError):
        f.chunks(0)
    it = f.slices(1000)
    a = f.read(f.start, f.start + 1000)
    f.close()
    assert f.closed and len(a) > 0 and int(a["t"][0]) == f.start  # arrays outlive the file
    with pytest.raises(ValueError, match="closed"):
        f.read_all()
    with pytest.raises(ValueError, match="closed"):
        next(it)


def test_an_interpreter_without_numpy_is_told_so():
    # Another python3 may come first on PATH; it must learn what is missing, not a bare failure.
    folder = os.path.dirname(os.path.dirname(norvale.__file__))
    code = f"import sys; sys.modules['numpy'] = None; sys.path.insert(0, {folder!r}); import norvale"
    out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True)
    assert out.returncode != 0
    assert "norvale needs NumPy" in out.stderr and "python3-numpy" in out.stderr, out.stderr


def test_permission_denied(tmp_path):
    folder = tempfile.mkdtemp()
    try:
        os.chmod(folder, 0o755)
        path = os.path.join(folder, "secret.raw")
        with open(path, "wb") as out:
            out.write(b"% evt 3.0\n% end\n")
        os.chmod(path, 0)
        code = ("import norvale\ntry:\n    norvale.RawFile(%r)\nexcept PermissionError as e:\n"
                "    print('denied', e)\n" % path)
        # root reads everything: check as nobody
        drop = (lambda: os.setuid(65534)) if os.geteuid() == 0 else None
        out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, preexec_fn=drop,
                             env=dict(os.environ, PYTHONPATH=os.path.dirname(os.path.dirname(norvale.__file__))))
        assert out.stdout.startswith("denied") and "Permission denied" in out.stdout, out.stdout + out.stderr
    finally:
        os.chmod(os.path.join(folder, "secret.raw"), 0o600)
        os.unlink(os.path.join(folder, "secret.raw"))
        os.rmdir(folder)


def test_no_reference_or_memory_leak_over_1000_reads(generated):
    f = norvale.RawFile(generated)
    window = (f.start + 200000, f.start + 240000)  # about 40,000 events, 640 kB
    kept = f.read(*window)
    expected = kept.copy()
    refs = (sys.getrefcount(f), sys.getrefcount(norvale.EVENT_DTYPE))

    def rss():
        with open("/proc/self/statm") as s:
            return int(s.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")

    for _ in range(5):
        f.read(*window)
    gc.collect()
    before = rss()
    for i in range(1000):
        a = f.read(*window) if i % 50 else f.read_all()[:len(expected)]  # recycled memory on both paths
        assert len(a) == len(expected)
        del a
        if i % 100 == 99:  # 640 MB would be gone by the end if the arrays leaked
            assert rss() - before < 200 << 20
    gc.collect()
    assert (sys.getrefcount(f), sys.getrefcount(norvale.EVENT_DTYPE)) == refs
    # memory is recycled only once its array is gone
    assert np.array_equal(kept, expected) and np.array_equal(f.read(*window), expected)


def test_gil_is_released_and_threads_share_a_file(generated):
    f = norvale.RawFile(generated)
    expected = f.read_all()
    ticks = [0]
    stop = threading.Event()

    def spin():  # gives the GIL back now and then, so the reading thread can return promptly
        while not stop.is_set():
            ticks[0] += 1
            if ticks[0] % 1000 == 0:
                time.sleep(0)

    results = []
    readers = [threading.Thread(target=lambda: results.append(f.read_all())) for _ in range(2)]
    spinner = threading.Thread(target=spin)
    interval = sys.getswitchinterval()
    # A thread holding the GIL keeps it for a whole second now: the spinner can only run while
    # the file is decoded if the module lets go of the GIL.
    sys.setswitchinterval(1.0)
    try:
        spinner.start()
        time.sleep(0.01)
        before = ticks[0]
        big = f.read_all()
        during = ticks[0] - before
    finally:
        sys.setswitchinterval(interval)
    for r in readers:
        r.start()
    for r in readers:
        r.join()
    stop.set()
    spinner.join()
    assert during > 1000, "another thread should run while the file is decoded"
    assert len(results) == 2 and all(np.array_equal(r, expected) for r in results + [big])


def test_read_all_on_several_threads_equals_one_pass(tmp_path, generated):
    # A clean file, and one whose damaged tail steps back in time and cuts words at chunk edges.
    damaged = tmp_path / "damaged.raw"
    data = open(generated, "rb").read()
    rng = np.random.default_rng(3)
    damaged.write_bytes(data + rng.integers(0, 256, 300_001, dtype=np.uint8).tobytes())
    for path in (generated, damaged):
        f = norvale.RawFile(path)
        one = f.read_all(threads=1)
        assert len(one) == f.info["events"] and np.all(np.diff(one["t"].astype(np.int64)) >= 0)
        chunked = np.concatenate(list(f.chunks(100_000)))
        assert np.array_equal(np.sort(one, order=["t", "x", "y", "p"]), np.sort(chunked, order=["t", "x", "y", "p"]))
        for threads in (2, 5, None):
            assert np.array_equal(f.read_all(threads=threads), one), (path, threads)
    with pytest.raises(ValueError, match="at least 1"):
        f.read_all(threads=0)


@pytest.mark.parametrize("kernel", ["avx512", "avx2", "portable"])
def test_read_all_sorts_what_steps_back_in_time(tmp_path, kernel, monkeypatch):
    # The order check follows the decoding kernel; a step back anywhere in a piece, or at its last
    # event, must lead to a sort.
    monkeypatch.setenv("NORVALE_SIMD", kernel)
    n = 200_000
    for k in (5, 6, 7, 8, 77_777, n - 2):  # one step back each: any one sorts the whole array
        e = np.zeros(n, dtype=norvale.EVENT_DTYPE)
        e["t"] = np.arange(n, dtype=np.uint64) * 3 + 100
        e["x"] = np.arange(n) % 1280
        e["t"][k], e["t"][k + 1] = e["t"][k + 1], e["t"][k]
        path = str(tmp_path / f"back{k}.raw")
        # write() takes only events in time order: two ordered parts, their words joined, make
        # the file a sensor whose read-out steps back would have written
        norvale.write(tmp_path / "a.raw", e[:k + 1])
        norvale.write(tmp_path / "b.raw", e[k + 1:])
        first, second = (open(tmp_path / n, "rb").read() for n in ("a.raw", "b.raw"))
        with open(path, "wb") as out:
            out.write(first + second[second.index(b"% end\n") + 6:])
        expected = np.sort(e, order="t", kind="stable")
        f = norvale.RawFile(path)
        for threads in (1, 2):
            assert np.array_equal(f.read_all(threads=threads), expected), (k, threads)


def test_read_all_of_csv_numpy_and_aedat4_is_the_same_on_any_threads(tmp_path):
    # Files of many blocks, read whole on one thread and on several; NumPy's own writer made the
    # .npy, whose time steps back now and then.
    n = 1_000_000
    rng = np.random.default_rng(5)
    rec = np.zeros(n, dtype=[("t", "<i8"), ("x", "<u2"), ("y", "<u2"), ("p", "u1")])
    rec["t"] = np.cumsum(rng.integers(0, 3, n)) + 1000
    rec["t"][::997] -= 300
    rec["x"], rec["y"], rec["p"] = rng.integers(0, 1280, n), rng.integers(0, 720, n), rng.integers(0, 2, n)
    np.save(tmp_path / "a.npy", rec)
    in_file_order = np.zeros(n, dtype=norvale.EVENT_DTYPE)
    for k in "txyp":
        in_file_order[k] = rec[k]
    expected = in_file_order[np.argsort(in_file_order["t"], kind="stable")]  # equal times stay in file order
    f = norvale.open(tmp_path / "a.npy")
    assert f.info["events"] == n and f.start == int(rec["t"].min())
    for threads in (1, 2, None):
        assert np.array_equal(f.read_all(threads=threads), expected), threads
    for name in ("a.csv", "a.aedat4"):
        norvale.write(tmp_path / name, expected, width=1280, height=720)
        g = norvale.open(tmp_path / name)
        for threads in (1, 2, None):
            assert np.array_equal(g.read_all(threads=threads), expected), (name, threads)


def test_read_all_of_a_file_changed_after_opening(tmp_path):
    # Rewritten in place with denser data: more events than the index counted must not overrun
    # the array, nor pass silently.
    sparse, dense = str(tmp_path / "sparse.raw"), str(tmp_path / "dense.raw")
    norvale.generate(sparse, 2.0, 0.05, seed=1)
    norvale.generate(dense, 1.0, 4.0, seed=2)
    f = norvale.RawFile(sparse)
    size = os.path.getsize(sparse)
    old, new = open(sparse, "rb").read(), open(dense, "rb").read()
    old_head, new_head = old.index(b"% end\n") + 6, new.index(b"% end\n") + 6
    with open(sparse, "r+b") as out:
        out.write(old[:old_head] + new[new_head:new_head + size - old_head])
    with pytest.raises(ValueError, match="changed since it was opened"):
        f.read_all(threads=3)
    a = f.read_all(threads=1)  # the last slice has room to spare: no harm either way
    assert np.all(np.diff(a["t"].astype(np.int64)) >= 0)
    norvale.generate(sparse, 2.0, 0.05, seed=1)
    # Shorter than when opened: an error, never a short array as if it were the whole file.
    f = norvale.RawFile(sparse)
    os.truncate(sparse, os.path.getsize(sparse) // 3)
    for threads in (1, 3):
        with pytest.raises(ValueError, match="became shorter"):
            f.read_all(threads=threads)


def test_read_all_into_a_callers_array(tmp_path, generated):
    f = norvale.RawFile(generated)
    expected = f.read_all()
    n = len(expected)
    buf = np.zeros(n + 10, dtype=norvale.EVENT_DTYPE)
    buf["t"][n:] = 7  # past the events: left alone
    for threads in (1, 2):  # reused: each call fills it again
        a = f.read_all(out=buf, threads=threads)
        assert np.shares_memory(a, buf) and np.array_equal(a, expected)
        assert np.all(buf["t"][n:] == 7)
    # Decoded straight into a .npy file on disk (the dtype's fields are in memory order, so the
    # format can describe it).
    disk = np.lib.format.open_memmap(str(tmp_path / "events.npy"), mode="w+", dtype=norvale.EVENT_DTYPE, shape=(n,))
    assert np.array_equal(f.read_all(out=disk), expected)
    disk.flush()
    del disk
    assert np.array_equal(np.load(str(tmp_path / "events.npy")), expected)

    skewed_bytes = bytearray(16 * n + 1)
    for bad, error, message in (
            (np.zeros(n - 1, dtype=norvale.EVENT_DTYPE), ValueError, "room for"),
            (np.zeros(n, dtype=np.uint64), TypeError, "EVENT_DTYPE"),
            (np.zeros(2 * n, dtype=norvale.EVENT_DTYPE)[::2], ValueError, "contiguous"),
            (np.zeros((1, n), dtype=norvale.EVENT_DTYPE), ValueError, "one-dimensional"),
            ([0] * n, TypeError, "NumPy array"),
            # one byte into a byte buffer: every timestamp straddles its word
            (np.frombuffer(skewed_bytes, dtype=np.uint8)[1:].view(norvale.EVENT_DTYPE), ValueError, "aligned")):
        with pytest.raises(error, match=message):
            f.read_all(out=bad)
    assert not any(skewed_bytes)  # refused before a byte was decoded into it
    frozen = np.zeros(n, dtype=norvale.EVENT_DTYPE)
    frozen.flags.writeable = False
    with pytest.raises(ValueError, match="read-only"):
        f.read_all(out=frozen)
    assert not frozen["t"].any()

    # A recording mapped writable as out (a sparse one, so that it has room): refused, untouched.
    e = np.zeros(10, dtype=norvale.EVENT_DTYPE)
    e["t"] = np.arange(10) * 100 + 5
    sparse = str(tmp_path / "sparse.raw")
    norvale.write(sparse, e)
    data = open(sparse, "rb").read()
    end = data.index(b"% end\n")
    data = data[:end] + b"% note " + b"x" * 400 + b"\n" + data[end:]
    open(sparse, "wb").write(data)
    g = norvale.RawFile(sparse)
    mapped = np.memmap(sparse, dtype=norvale.EVENT_DTYPE, mode="r+", shape=(len(data) // 16,))
    with pytest.raises(ValueError, match="overwrite the recording"):
        g.read_all(out=mapped[1:])
    del mapped
    assert open(sparse, "rb").read() == data


def test_reads_and_cuts_of_a_file_that_shrank_after_opening_raise(tmp_path, generated):
    path = tmp_path / "shrinks.raw"
    shutil.copyfile(generated, path)
    f = norvale.RawFile(path)
    start, end = f.start, f.end
    os.truncate(path, os.path.getsize(path) // 3)
    for read in (lambda: f.read(start, end + 1), lambda: list(f.slices(100_000)),
                 lambda: list(f.chunks(100_000))):
        with pytest.raises(ValueError, match="shorter"):
            read()
    with pytest.raises(ValueError, match="shorter"):
        f.cut(start, end + 1, tmp_path / "cut.raw")
    assert not os.path.exists(tmp_path / "cut.raw")


def test_open_reads_csv_and_numpy_files_made_without_us(tmp_path):
    rng = np.random.default_rng(7)
    n = 50_000
    t = np.sort(rng.integers(1_000_000, 9_000_000, n)).astype(np.int64)
    x = rng.integers(0, 640, n)
    y = rng.integers(0, 480, n)
    p = rng.integers(0, 2, n)
    # NumPy's own writer, fields in another order and of other widths than ours
    rec = np.zeros(n, dtype=[("x", "<i2"), ("y", "<u4"), ("p", "i1"), ("t", "<u8")])
    rec["t"], rec["x"], rec["y"], rec["p"] = t, x, y, p
    np.save(tmp_path / "ev.npy", rec)
    # a text file with a header naming its columns, written by NumPy too
    np.savetxt(tmp_path / "ev.csv", np.stack([x, y, p, t], axis=1), fmt="%d", delimiter=",", header="x,y,polarity,t",
               comments="")
    for name, fmt in (("ev.npy", "NumPy"), ("ev.csv", "CSV")):
        f = norvale.open(tmp_path / name)
        assert f.info["format"] == fmt
        assert (f.info["width"], f.info["height"]) == (640, 480)
        assert f.info["events"] == n and f.info["on"] == int(p.sum())
        a = f.read_all()
        assert len(a) == n
        assert (int(a["t"].astype(np.uint64).sum()), int(a["x"].sum()), int(a["y"].sum()), int(a["p"].sum())) == \
            (int(t.sum()), int(x.sum()), int(y.sum()), int(p.sum()))
        assert np.all(np.diff(a["t"].astype(np.int64)) >= 0)  # time order
        into = np.empty(n + 5, dtype=norvale.EVENT_DTYPE)
        assert np.array_equal(f.read_all(out=into), a)
        with pytest.raises(ValueError):
            f.read_all(out=np.empty(n - 1, dtype=norvale.EVENT_DTYPE))
        mid = int(t[n // 2])
        part = f.read(mid, mid + 50_000)
        assert len(part) == int(((t >= mid) & (t < mid + 50_000)).sum())
        assert nrraw_info(str(tmp_path / name))["format"] == fmt.split(" ")[0]
        f.close()
    with pytest.raises(ValueError, match="Fortran"):
        np.save(tmp_path / "f.npy", np.asfortranarray(np.zeros((3, 4), dtype=np.int64)))
        norvale.open(tmp_path / "f.npy")
