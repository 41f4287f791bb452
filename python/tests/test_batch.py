"""Batch work on Dask: a local cluster of two worker processes and a scheduler started by address."""
import contextlib
import json
import os
import pickle
import subprocess
import sys
import time

import numpy as np
import pytest

import norvale
from conftest import nrraw

distributed = pytest.importorskip("distributed")
from norvale import batch  # noqa: E402


@pytest.fixture(scope="module")
def client():
    with batch.local_cluster(2) as cluster, distributed.Client(cluster) as c:
        yield c


@pytest.fixture(scope="module")
def files(tmp_path_factory):
    """Recordings of four formats (two with trigger edges), one damaged and one that is no event file."""
    d = tmp_path_factory.mktemp("batch")
    paths = []
    for i, ext in enumerate([".raw", ".h5", ".csv", ".npy", ".raw"]):
        raw = str(d / f"src{i}.raw")
        norvale.generate(raw, 0.2, 0.5 + i * 0.1, seed=i + 1, triggers_hz=25 if i % 2 == 0 else 0)
        if ext != ".raw":
            with pytest.warns(UserWarning) if i % 2 == 0 else contextlib.nullcontext():
                norvale.open(raw).convert(str(d / f"rec{i}{ext}"))
            os.unlink(raw)
            raw = str(d / f"rec{i}{ext}")
        paths.append(raw)
    with open(paths[1], "rb") as src, open(d / "damaged.h5", "wb") as out:
        out.write(src.read(3000))
    (d / "notes.raw").write_text("shopping list\n")
    return paths, [str(d / "damaged.h5"), str(d / "notes.raw")]


def events_of(path):
    with norvale.open(path) as f:
        return f.read_all(), f.triggers()


def test_info_equals_a_plain_loop_and_names_what_failed(client, files):
    good, bad = files
    paths = good[:2] + bad[:1] + good[2:] + bad[1:]
    done = []
    table = batch.info(paths, client=client, progress=lambda n, total: done.append((n, total)))
    assert done == [(n, len(paths)) for n in range(1, len(paths) + 1)]
    assert [r["path"] for r in table] == paths
    for row, path in zip(table, paths):
        if path in bad:
            assert row["error"] and row.get("events") is None, row
        else:
            assert row == batch.info_row(path)
    assert "damaged or truncated" in table[2]["error"]
    assert "not a raw event file" in table[-1]["error"]
    assert [r["format"] for r in table if not r["error"]] == ["EVT 3.0", "HDF5", "CSV", "NumPy", "EVT 3.0"]
    # The command line prints the same table; a file it cannot read makes it fail after the rest.
    assert nrraw("info", *good).rstrip("\n") == str(batch.info(good, client=client, progress=False))
    tool = subprocess.run([os.environ["NRRAW"], "info", good[0], bad[1]], capture_output=True, text=True)
    assert tool.returncode == 1 and tool.stdout.splitlines()[2].startswith(bad[1] + "  error:")


def test_convert_is_exact_and_a_stopped_job_resumes(client, files, tmp_path):
    good, bad = files
    paths = good + bad[:1]
    stop_after = 2

    def stop(n, total):
        if n == stop_after:
            raise KeyboardInterrupt

    with pytest.raises(KeyboardInterrupt):
        batch.convert(paths, tmp_path, "evt2", client=client, progress=stop)
    # Tasks already running when the job stopped may still end: wait for the cluster to be idle.
    deadline = time.monotonic() + 60
    while client.processing() and any(client.processing().values()) and time.monotonic() < deadline:
        time.sleep(0.1)
    before = {p.name: os.stat(p).st_mtime_ns for p in tmp_path.iterdir()}
    assert len(before) >= stop_after and not any(n.endswith(".part") for n in before)

    results = batch.convert(paths, tmp_path, "evt2", client=client, progress=False)
    assert isinstance(results[-1], batch.FileError) and results[-1].path == bad[0]
    for path, r in zip(good, results):
        out = os.path.join(tmp_path, os.path.splitext(os.path.basename(path))[0] + ".raw")
        assert r["output"] == out
        name = os.path.basename(out)
        assert r["done"] == ("skipped" if name in before else "converted")
        if name in before:
            assert os.stat(out).st_mtime_ns == before[name]  # not written again
        (a, ta), (b, tb) = events_of(path), events_of(out)
        assert np.array_equal(a, b) and np.array_equal(ta, tb)
    assert sorted(os.listdir(tmp_path)) == sorted(os.path.splitext(os.path.basename(p))[0] + ".raw" for p in good)


def test_conversion_that_cannot_hold_triggers_says_so_per_file(client, files, tmp_path):
    good, _ = files
    with pytest.warns(UserWarning) as caught:
        results = batch.convert(good[:2], tmp_path, "csv", client=client, progress=False)
    lost = [r["triggers_not_written"] for r in results]
    assert lost == [len(norvale.open(good[0]).triggers()), 0]
    assert any(good[0] in str(w.message) for w in caught)
    # Two inputs that would write one output are refused before anything is done.
    with pytest.raises(ValueError, match="would both be written"):
        batch.convert([good[0], good[0]], tmp_path, "npy", client=client)


def test_a_raw_file_travels_as_its_path(client, files):
    path = files[0][0]
    f = norvale.open(os.path.relpath(path))
    copy = pickle.loads(pickle.dumps(f))
    assert copy.info["path"] == os.path.abspath(path)
    counted = client.submit(lambda r: r.info["events"], f).result()
    assert counted == f.info["events"]
    f.close()
    with pytest.raises(ValueError, match="closed"):
        pickle.dumps(f)


def test_jobs_run_on_a_scheduler_given_by_address(files, tmp_path):
    good, bad = files
    address_file = tmp_path / "scheduler.json"
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path))
    scheduler = subprocess.Popen([sys.executable, "-m", "distributed.cli.dask_scheduler", "--host", "127.0.0.1",
                                  "--port", "0", "--no-dashboard", "--scheduler-file", str(address_file)],
                                 env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    workers = None
    try:
        deadline = time.monotonic() + 120
        while not address_file.exists() and time.monotonic() < deadline:
            time.sleep(0.1)
        workers = subprocess.Popen([sys.executable, "-m", "distributed.cli.dask_worker", "--scheduler-file",
                                    str(address_file), "--nworkers", "2", "--nthreads", "1", "--no-dashboard"],
                                   env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        address = json.loads(address_file.read_text())["address"]
        with distributed.Client(address) as c:
            c.wait_for_workers(2, timeout=120)
        out = tmp_path / "videos"
        out.mkdir()
        results = batch.export_video(good[:2] + bad[1:], out, client=address, progress=False, fps=10)
        assert [r["done"] for r in results[:2]] == ["exported", "exported"]
        assert isinstance(results[2], batch.FileError) and "not a raw event file" in results[2].reason
        assert sorted(os.listdir(out)) == ["rec1.mp4", "src0.mp4"]
        assert all(os.path.getsize(out / n) > 0 for n in os.listdir(out))
        again = batch.export_video(good[:2], out, client=address, progress=False, fps=10)
        assert [r["done"] for r in again] == ["skipped", "skipped"]
        assert batch.map_files(os.path.getsize, good, client=address) == [os.path.getsize(p) for p in good]
    finally:
        for p in (workers, scheduler):
            if p:
                p.terminate()
                p.wait(30)
