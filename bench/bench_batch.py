#!/usr/bin/env python3
"""Batch work on a local Dask cluster against a plain loop in one process, in the same run.

    PYTHONPATH=build/release/python /usr/bin/python3 bench/bench_batch.py [--workers N] [--info-files N]
        [--convert-files N] [--convert-mb MB] [--folder DIR]

Generates --info-files recordings of about 2 MB and --convert-files recordings of about
--convert-mb MB (EVT 3.0, 1 Mev/s with trigger edges) in a temporary folder under --folder (deleted
at the end), then measures, each as files per second:
  info     batch.info over the small recordings, and the same rows by a loop of batch.info_row;
  convert  batch.convert of the large recordings to HDF5, and a loop of RawFile.convert
           (outputs removed between the two, and the page cache left warm for both);
  overhead map_files of a function that does nothing with the file (os.path.getsize), per file:
           what the scheduler costs a file beyond its work.
The cluster is started once (its start-up is given apart) and has --workers worker processes of one
thread (default 2).
"""
import argparse
import warnings
import os
import shutil
import sys
import tempfile
import time

import norvale
from norvale import batch


def timed(fn):
    t0 = time.perf_counter()
    result = fn()
    return time.perf_counter() - t0, result


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--workers", type=int, default=2)
    ap.add_argument("--info-files", type=int, default=200)
    ap.add_argument("--convert-files", type=int, default=20)
    ap.add_argument("--convert-mb", type=float, default=100)
    ap.add_argument("--folder", default=tempfile.gettempdir())
    args = ap.parse_args()
    warnings.simplefilter("ignore", UserWarning)  # the trigger edges HDF5 does not hold, said per file

    from dask.distributed import Client

    root = tempfile.mkdtemp(prefix="norvale_bench_batch_", dir=args.folder)
    try:
        small = os.path.join(root, "small")
        large = os.path.join(root, "large")
        out = os.path.join(root, "out")
        for d in (small, large, out):
            os.mkdir(d)
        # EVT 3.0 of generated scenes takes about 6 bytes an event.
        seed = os.path.join(root, "seed.raw")
        norvale.generate(seed, 2e6 / 6 / 1e6, 1.0, seed=1, triggers_hz=10)
        info_paths = []
        for i in range(args.info_files):
            p = os.path.join(small, f"r{i:04d}.raw")
            shutil.copyfile(seed, p)
            info_paths.append(p)
        norvale.generate(seed, args.convert_mb * 1e6 / 6 / 1e6, 1.0, seed=2, triggers_hz=10)
        convert_paths = []
        for i in range(args.convert_files):
            p = os.path.join(large, f"r{i:03d}.raw")
            shutil.copyfile(seed, p)
            convert_paths.append(p)
        mb = os.path.getsize(seed) / 1e6
        os.unlink(seed)
        print(f"{args.info_files} recordings of {os.path.getsize(info_paths[0]) / 1e6:.1f} MB for info, "
              f"{args.convert_files} of {mb:.0f} MB for convert; {args.workers} workers, "
              f"{len(os.sched_getaffinity(0))} cores")

        # The cluster batch.map_files starts when given none, with the given number of workers.
        start, cluster = timed(lambda: batch.local_cluster(args.workers))
        with cluster, Client(cluster) as client:
            client.wait_for_workers(args.workers)
            print(f"cluster start-up: {start:.2f} s")
            # The workers import norvale once, before anything is timed.
            batch.map_files(os.path.getsize, info_paths[:args.workers * 2], client=client, progress=False)

            loop, rows = timed(lambda: [batch.info_row(p) for p in info_paths])
            dask, table = timed(lambda: batch.info(info_paths, client=client, progress=False))
            assert [dict(r, path=p) for r, p in zip(rows, info_paths)] == list(table)
            report("info", len(info_paths), loop, dask)

            def plain_convert():
                for p in convert_paths:
                    norvale.open(p).convert(os.path.join(out, os.path.basename(p)[:-4] + ".h5"))

            def clear():
                for name in os.listdir(out):
                    os.unlink(os.path.join(out, name))

            loop, _ = timed(plain_convert)
            clear()
            dask, results = timed(lambda: batch.convert(convert_paths, out, "hdf5", client=client, progress=False))
            assert all(r["done"] == "converted" for r in results), results
            report("convert", len(convert_paths), loop, dask, mb)
            clear()

            overhead, _ = timed(lambda: batch.map_files(os.path.getsize, info_paths, client=client, progress=False))
            per_file = overhead / len(info_paths)
            print(f"overhead: {per_file * 1e3:.2f} ms a file ({len(info_paths)} files of no work in {overhead:.2f} s, "
                  f"{len(info_paths) / overhead:.0f} files/s)")
    finally:
        shutil.rmtree(root, ignore_errors=True)


def report(name, n, loop, dask, mb=None):
    extra = f", {n * mb / dask:.0f} MB/s against {n * mb / loop:.0f}" if mb else ""
    print(f"{name}: {n / dask:.1f} files/s on the cluster, {n / loop:.1f} files/s in a plain loop: "
          f"{loop / dask:.2f} times{extra}")


if __name__ == "__main__":
    sys.exit(main())
