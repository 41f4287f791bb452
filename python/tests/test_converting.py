"""Converting and writing other formats: exact round trips, refusals, triggers a format cannot hold."""
import os

import numpy as np
import pytest

import norvale
from conftest import events


def sample(n=5000, seed=3, start=1_000_000):
    rng = np.random.default_rng(seed)
    t = start + np.cumsum(rng.integers(0, 300, n)).astype(np.uint64)
    ev = events(t, rng.integers(0, 640, n), rng.integers(0, 480, n), rng.integers(0, 2, n))
    trig = np.zeros(6, norvale.TRIGGER_DTYPE)
    trig["t"] = ev["t"][[0, n // 50, n // 50, n // 2, n - n // 5, n - 1]]
    trig["p"] = [1, 0, 1, 0, 1, 0]
    trig["id"] = [0, 0, 5, 0, 1, 0]
    return ev, trig


def test_convert_between_evt3_and_evt2_keeps_every_event_and_edge(tmp_path):
    ev, trig = sample()
    norvale.write(tmp_path / "in.raw", ev, trig, width=640, height=480)
    seen = []
    with norvale.RawFile(tmp_path / "in.raw") as f:
        assert f.convert(tmp_path / "two.raw", format="evt2", progress=seen.append) is True
    assert seen and seen[-1] == 1.0
    two = norvale.RawFile(tmp_path / "two.raw")
    assert two.info["format"] != norvale.RawFile(tmp_path / "in.raw").info["format"]
    assert np.array_equal(two.read_all(), ev)
    assert np.array_equal(two.triggers(), trig)
    # a range back to EVT 3.0: [start_us, end_us)
    lo, hi = int(ev["t"][100]), int(ev["t"][2500])
    assert two.convert(tmp_path / "back.raw", start_us=lo, end_us=hi)
    back = norvale.RawFile(tmp_path / "back.raw")
    keep = (ev["t"] >= lo) & (ev["t"] < hi)
    assert np.array_equal(back.read_all(), ev[keep])
    assert np.array_equal(back.triggers(), trig[(trig["t"] >= lo) & (trig["t"] < hi)])
    # norvale.write in the other raw format gives the same events
    norvale.write(tmp_path / "w2.raw", ev, trig, width=640, height=480, format="EVT 2.0")
    assert np.array_equal(norvale.RawFile(tmp_path / "w2.raw").read_all(), ev)


def test_formats_without_triggers_warn_and_refusals_leave_files_alone(tmp_path):
    ev, trig = sample(300)
    with pytest.warns(UserWarning, match=r"6 trigger edges were not written to .*a\.dat: DAT files cannot hold them"):
        norvale.write(tmp_path / "a.dat", ev, trig, width=640, height=480)
    data = open(tmp_path / "a.dat", "rb").read()
    assert data.startswith(b"% Data file containing CD events.\n")
    assert data.endswith(np.array([[t, x | (y << 14) | (p << 28)] for t, x, y, p in
                                   zip(ev["t"], ev["x"], ev["y"], ev["p"])], "<u4").tobytes())

    norvale.write(tmp_path / "in.raw", ev, trig, width=640, height=480)
    f = norvale.RawFile(tmp_path / "in.raw")
    with pytest.warns(UserWarning, match="6 trigger edges"):
        assert f.convert(tmp_path / "b.dat")
    assert np.array_equal(norvale.RawFile(tmp_path / "b.dat").read_all(), ev)
    (tmp_path / "old.raw").write_bytes(b"keep")
    with pytest.raises(ValueError, match="exists"):
        f.convert(tmp_path / "old.raw")
    assert (tmp_path / "old.raw").read_bytes() == b"keep"
    assert f.convert(tmp_path / "old.raw", format="evt21", overwrite=True)
    assert np.array_equal(norvale.RawFile(tmp_path / "old.raw").triggers(), trig)
    os.link(tmp_path / "in.raw", tmp_path / "alias.raw")
    with pytest.raises(ValueError, match="file being read"):
        f.convert(tmp_path / "alias.raw", overwrite=True)
    with pytest.raises(ValueError, match="unknown format 'mp4'"):
        f.convert(tmp_path / "c.raw", format="mp4")
    with pytest.raises(ValueError, match="give format="):
        f.convert(tmp_path / "c.bin")
    with pytest.raises(ValueError, match="2\\^32"):
        norvale.write(tmp_path / "late.dat", events([1 << 32], [1], [1], [1]))
    assert f.convert(tmp_path / "c.raw", progress=lambda done: False) is False
    assert sorted(os.listdir(tmp_path)) == ["a.dat", "alias.raw", "b.dat", "in.raw", "old.raw"]


def test_hdf5_is_plain_by_default_gzip_when_asked_and_opens_beside_h5py(tmp_path):
    import h5py
    ev, _ = sample(70000)
    norvale.write(tmp_path / "in.raw", ev, width=640, height=480)
    f = norvale.RawFile(tmp_path / "in.raw")
    assert f.convert(tmp_path / "plain.h5")
    assert f.convert(tmp_path / "gz.h5", compress=True)
    # a range from the start: the events before its end, none after
    end = int(ev["t"][40000])
    assert f.convert(tmp_path / "head.h5", end_us=end)
    assert np.array_equal(norvale.open(tmp_path / "head.h5").read_all(), ev[ev["t"] < end])
    norvale.write(tmp_path / "w.h5", ev, width=640, height=480, compress=True)
    for name, compression in (("plain.h5", None), ("gz.h5", "gzip"), ("w.h5", "gzip")):
        opened = norvale.open(tmp_path / name)
        # h5py opens the file while it is open here, in the same process and library
        with h5py.File(tmp_path / name, "r") as h:
            g = h["events"]
            assert [g[k].compression for k in "xypt"] == [compression] * 4, name
            assert np.array_equal(g["t"][:], ev["t"].astype(np.int64)), name
            assert np.array_equal(g["x"][:], ev["x"]) and np.array_equal(g["p"][:], ev["p"]), name
        assert np.array_equal(opened.read_all(), ev), name
