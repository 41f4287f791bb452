"""Writing: round trips, refused input, cut, video export with progress and cancel, the generator."""
import os

import numpy as np
import pytest

import norvale
from conftest import events


def sample(n=20000, seed=5, start=3_000_000_000):
    """Sorted events with row runs (same t, y and p, x rising) and time steps across 24-bit wraps."""
    rng = np.random.default_rng(seed)
    t = start + np.cumsum(rng.integers(0, 4000, n)).astype(np.uint64)
    x = rng.integers(0, 1280, n)
    y = rng.integers(0, 720, n)
    p = rng.integers(0, 2, n)
    if n > 140:
        run = slice(100, 140)  # 40 neighbours read out together
        t[run], y[run], p[run], x[run] = t[100], 17, 1, np.arange(500, 540)
    return events(t, x, y, p)


def test_write_then_read_round_trip(tmp_path):
    ev = sample()
    trig = np.zeros(4, norvale.TRIGGER_DTYPE)
    trig["t"] = ev["t"][[0, 10, 10, 19999]]
    trig["p"] = [1, 0, 1, 0]
    trig["id"] = [0, 0, 3, 0]
    path = tmp_path / "rt.raw"
    norvale.write(path, ev, trig)
    f = norvale.RawFile(path)
    assert np.array_equal(f.read_all(), ev)
    assert np.array_equal(f.triggers(), trig)
    assert f.info["events"] == len(ev) and f.info["on"] == int(ev["p"].sum())
    # the same from plain arrays of other integer types
    t = ev["t"].copy()
    norvale.write(tmp_path / "cols.raw", (t.astype(np.int64), ev["x"].astype(np.int32), ev["y"], ev["p"].astype(bool)))
    assert np.array_equal(norvale.RawFile(tmp_path / "cols.raw").read_all(), ev)
    # the sensor's geometry is the file's, and what lies outside it is refused
    small = ev[(ev["x"] < 640) & (ev["y"] < 480)]
    norvale.write(tmp_path / "vga.raw", small, width=640, height=480)
    vga = norvale.RawFile(tmp_path / "vga.raw")
    assert (vga.info["width"], vga.info["height"]) == (640, 480)
    assert np.array_equal(vga.read_all(), small)
    norvale.write(tmp_path / "empty.raw", np.zeros(0, norvale.EVENT_DTYPE))
    assert norvale.RawFile(tmp_path / "empty.raw").info["events"] == 0


@pytest.mark.parametrize("change, message", [
    (lambda e: e["x"].__setitem__(7, 1280), r"events\[7\]: \(x, y\) = \(1280, .*outside the 1280 x 720"),
    (lambda e: e["p"].__setitem__(8, 2), r"events\[8\]: p = 2 is not a polarity"),
    (lambda e: e["t"].__setitem__(slice(9, None), e["t"][9:] - 9_000_000), r"events\[9\]: t = .* time order"),
    (lambda e: e["t"].__setitem__(50, e["t"][49] - 1), r"events\[50\]: t = .* comes before the previous event"),
    (lambda e: e["t"].__setitem__(slice(11, None), e["t"][11:] + (1 << 41)), r"events\[11\]: t = .* 65536 periods"),
])
def test_unrepresentable_events_are_refused_and_nothing_is_written(tmp_path, change, message):
    ev = sample(200)
    change(ev)
    path = tmp_path / "bad.raw"
    path.write_bytes(b"keep me")
    with pytest.raises(ValueError, match=message):
        norvale.write(path, ev)
    assert path.read_bytes() == b"keep me" and os.listdir(tmp_path) == ["bad.raw"]


def test_bad_input_to_write(tmp_path):
    ev = sample(10)
    path = tmp_path / "x.raw"
    with pytest.raises(TypeError, match="integers"):
        norvale.write(path, (ev["t"].astype(float), ev["x"], ev["y"], ev["p"]))
    with pytest.raises(TypeError, match="no field 'p'"):
        norvale.write(path, np.zeros(3, [("t", "u8"), ("x", "u2"), ("y", "u2")]))
    with pytest.raises(TypeError, match="structured"):
        norvale.write(path, np.zeros(3))
    with pytest.raises(ValueError, match=r"events\[2\]: t = -5 is negative"):
        norvale.write(path, ([1, 2, -5], [0, 0, 0], [0, 0, 0], [0, 0, 0]))
    with pytest.raises(ValueError, match="too large for x"):
        norvale.write(path, ([1], [70000], [0], [0]))
    with pytest.raises(ValueError, match="differ in length"):
        norvale.write(path, ([1, 2], [0], [0], [0]))
    with pytest.raises(ValueError, match=r"events\[3\].*outside the 640 x 480"):
        norvale.write(path, ([1, 2, 3, 4], [0, 1, 2, 700], [0, 0, 0, 0], [0, 0, 0, 0]), width=640, height=480)
    with pytest.raises(ValueError, match="2048 x 2048"):
        norvale.write(path, ev, width=4096, height=1536)
    with pytest.raises(ValueError, match=r"triggers\[1\].*time order"):
        norvale.write(path, ev, ([5, 3], [1, 0]))
    with pytest.raises(FileNotFoundError):
        norvale.write(tmp_path / "no" / "such" / "x.raw", ev)
    assert os.listdir(tmp_path) == []


def test_cut(tmp_path, generated):
    f = norvale.RawFile(generated)
    lo, hi = f.start + 250_000, f.start + 500_000
    out = tmp_path / "cut.raw"
    seen = []
    assert f.cut(lo, hi, out, progress=seen.append) is True
    c = norvale.RawFile(out)
    assert np.array_equal(c.read_all(), f.read(lo, hi))
    tr = f.triggers()
    assert np.array_equal(c.triggers(), tr[(tr["t"] >= lo) & (tr["t"] < hi)])
    assert seen == sorted(seen) and 0 < seen[-1] <= 1
    with pytest.raises(ValueError, match="input file"):
        f.cut(lo, hi, generated)
    with pytest.raises(ValueError, match="after start"):
        f.cut(hi, lo, tmp_path / "x.raw")
    assert f.cut(lo, hi, tmp_path / "cancelled.raw", progress=lambda fraction: fraction < 0.3) is False

    def boom(fraction):
        raise KeyError("from the callback")
    with pytest.raises(KeyError, match="from the callback"):
        f.cut(lo, hi, tmp_path / "raised.raw", progress=boom)
    assert sorted(os.listdir(tmp_path)) == ["cut.raw"]


def test_export_video(tmp_path, generated):
    f = norvale.RawFile(generated)
    out = tmp_path / "clip.mp4"
    fractions = []
    assert f.export_video(out, f.start, f.start + 200_000, fps=25, colors="redblue", progress=fractions.append)
    data = out.read_bytes()
    assert data[4:8] == b"ftyp" and len(data) > 1000
    assert len(fractions) == 5 and fractions == sorted(fractions) and fractions[-1] == pytest.approx(1)
    calls = []
    assert f.export_video(tmp_path / "stop.mp4", progress=lambda x: calls.append(x) or len(calls) < 3) is False
    assert len(calls) == 3
    with pytest.raises(ValueError, match="colour scheme"):
        f.export_video(tmp_path / "c.mp4", colors="purple")
    with pytest.raises(ValueError, match="frame rate 500"):
        f.export_video(tmp_path / "r.mp4", fps=500)
    with pytest.raises(ValueError, match="outside the recording"):
        f.export_video(tmp_path / "o.mp4", f.end + 10, f.end + 20)
    assert sorted(os.listdir(tmp_path)) == ["clip.mp4"]


def test_generate_is_repeatable_and_checks_its_arguments(tmp_path):
    a, b = tmp_path / "a.raw", tmp_path / "b.raw"
    norvale.generate(a, 0.1, 0.5, seed=3, triggers_hz=100)
    norvale.generate(b, 0.1, 0.5, seed=3, triggers_hz=100)
    fa, fb = norvale.RawFile(a), norvale.RawFile(b)
    assert 40_000 < fa.info["events"] < 60_000 and fa.info["triggers"] == 20
    assert np.array_equal(fa.read_all(), fb.read_all())
    assert fa.end - fa.start < 100_000
    with pytest.raises(ValueError, match="duration_s"):
        norvale.generate(a, 0, 1)
    with pytest.raises(ValueError, match="rate_mevs"):
        norvale.generate(a, 1, 5000)
    with pytest.raises(IsADirectoryError):
        norvale.generate(tmp_path, 0.1, 1)


def test_write_never_replaces_a_part_file_or_an_open_input(tmp_path):
    ev = sample(200)
    keep = tmp_path / "out.raw.part"
    keep.write_bytes(b"the user's own file")
    norvale.write(tmp_path / "out.raw", ev)
    assert keep.read_bytes() == b"the user's own file"
    assert np.array_equal(norvale.RawFile(tmp_path / "out.raw").read_all(), ev)
    # a recording open for reading, named through a symbolic link, is refused and left as it was
    link = tmp_path / "link.raw"
    link.symlink_to(tmp_path / "out.raw")
    before = (tmp_path / "out.raw").read_bytes()
    f = norvale.RawFile(tmp_path / "out.raw")
    with pytest.raises(ValueError, match="is the input file"):
        norvale.write(link, sample(50))
    assert (tmp_path / "out.raw").read_bytes() == before
    assert sorted(p.name for p in tmp_path.iterdir()) == ["link.raw", "out.raw", "out.raw.part"]
    # once closed it is no longer an input
    f.close()
    norvale.write(link, ev[:10])
    assert norvale.RawFile(tmp_path / "out.raw").info["events"] == 10
