"""Work over many event files at once, on a Dask cluster.

map_files(fn, paths) runs fn(path) for every file on the workers of a dask.distributed Client: a
LocalCluster of this machine's cores when none is given, or any scheduler by its address
(client="tcp://scheduler:8786", or a Client). Only paths and small results travel between
processes; a RawFile pickles as its path. A file whose job raises does not stop the others: its
result is a FileError naming the file and saying why.

The ready-made jobs: info(paths) (a table of every file), convert(paths, out_folder, format) and
export_video(paths, out_folder, ...). Their outputs are written through a temporary beside the
output and renamed only when complete, so a job killed halfway leaves no partial file under an
output's name, and running it again skips the files already done.
"""
import contextlib
import functools
import os
import sys
import time
import warnings

import norvale

__all__ = ["FileError", "InfoTable", "local_cluster", "map_files", "info", "info_row", "convert", "export_video"]


class FileError(Exception):
    """The failure of one file of a batch: path, kind (the exception's type name) and reason."""

    def __init__(self, path, kind, reason):
        super().__init__(f"{path}: {kind}: {reason}")
        self.path, self.kind, self.reason = path, kind, reason

    def __reduce__(self):
        return FileError, (self.path, self.kind, self.reason)


def _run_group(fn, paths):
    # On the worker: each file's result, an exception becoming a small, always picklable result
    # naming the file.
    results = []
    for path in paths:
        try:
            results.append(fn(path))
        except Exception as e:  # noqa: BLE001 - every failure is the file's result
            results.append(FileError(path, type(e).__name__, str(e)))
    return results


def _groups(n, threads):
    """Consecutive runs of files, one task each: about 16 tasks a worker thread, so that a task's
    few milliseconds of scheduling weigh little against its work while the last tasks still share
    out evenly; one file a task for short lists."""
    per = max(1, n // (threads * 16))
    return [(i, min(n, i + per)) for i in range(0, n, per)]


def _cores():
    try:
        return max(1, len(os.sched_getaffinity(0)))
    except AttributeError:
        return max(1, os.cpu_count() or 1)


def local_cluster(n_workers=None):
    """The dask.distributed.LocalCluster map_files starts when given no client: n_workers worker
    processes (default: one per core this process may use) of one thread each, listening on the
    loopback interface only."""
    import dask
    from dask.distributed import LocalCluster

    # Dask starts workers with MALLOC_TRIM_THRESHOLD_ set, which makes the C library map and unmap
    # every buffer of a file's reading afresh: opening small files then takes three times as long.
    environ = {k: v for k, v in dask.config.get("distributed.nanny.pre-spawn-environ", {}).items()
               if k != "MALLOC_TRIM_THRESHOLD_"}
    with dask.config.set({"distributed.nanny.pre-spawn-environ": environ}):
        return LocalCluster(n_workers=n_workers or _cores(), threads_per_worker=1, processes=True, host="127.0.0.1",
                            dashboard_address="127.0.0.1:0")


@contextlib.contextmanager
def _connected(client):
    if client is not None and not isinstance(client, str):
        yield client
        return
    from dask.distributed import Client

    if isinstance(client, str):
        with Client(client) as c:
            yield c
        return
    with local_cluster() as cluster, Client(cluster) as c:
        yield c


class _Progress:
    """The line on a terminal: files done, failures, rate and time left; or a callable's calls."""

    def __init__(self, total, progress):
        self.total, self.done, self.failed = total, 0, 0
        self.started = time.monotonic()
        self.shown = 0.0
        self.call = progress if callable(progress) else None
        self.line = bool(progress) and self.call is None and sys.stderr.isatty()

    def step(self, failed):
        self.done += 1
        self.failed += failed
        if self.call is not None:
            self.call(self.done, self.total)
        elif self.line:
            now = time.monotonic()
            if now - self.shown >= 0.1 or self.done == self.total:
                self.shown = now
                sys.stderr.write("\r" + self.text(now - self.started) + "\x1b[K")
                sys.stderr.flush()

    def text(self, elapsed):
        rate = self.done / elapsed if elapsed > 0 else 0.0
        left = (self.total - self.done) / rate if rate > 0 else None
        failed = f" ({self.failed} failed)" if self.failed else ""
        eta = f", {_clock(left)} left" if left is not None and self.done < self.total else ""
        return f"{self.done}/{self.total} files{failed}, {rate:.1f} files/s{eta}"

    def close(self):
        if self.line and self.done:
            sys.stderr.write("\n")
            sys.stderr.flush()


def _clock(seconds):
    seconds = int(seconds + 0.5)
    return f"{seconds // 3600}:{seconds // 60 % 60:02d}:{seconds % 60:02d}" if seconds >= 3600 \
        else f"{seconds // 60}:{seconds % 60:02d}"


def map_files(fn, paths, client=None, progress=True):
    """Runs fn(path) for every path on a Dask cluster and returns the results in the order of paths.

    fn must be picklable (a module-level function, or a functools.partial of one) and is called with
    the absolute path of each file, so workers on other machines need the same paths (a shared
    folder). client: a dask.distributed.Client, a scheduler's address ("tcp://host:8786"), or None
    for a LocalCluster of this machine's cores, started and stopped here. A file whose fn raises (or
    whose worker dies) gets a FileError as its result; the others go on. progress: True shows the
    files done, the rate and the time left on a terminal (standard error); a callable is called as
    progress(done, total) instead; False shows nothing. Interrupting (Ctrl-C) cancels what has not
    started.
    """
    given = [os.fspath(p) for p in paths]
    if not given:
        return []
    absolute = [os.path.abspath(p) for p in given]
    results = [None] * len(given)
    with _connected(client) as c:
        from dask.distributed import as_completed

        threads = sum(w.get("nthreads", 1) for w in c.scheduler_info().get("workers", {}).values()) or 1
        groups = _groups(len(given), threads)
        shown = _Progress(len(given), progress)  # the rate counts from here, not the cluster's start-up
        futures = c.map(functools.partial(_run_group, fn), [absolute[a:b] for a, b in groups], pure=False)
        slot = {f.key: g for f, g in zip(futures, groups)}
        try:
            for future in as_completed(futures):
                a, b = slot[future.key]
                if future.status == "finished":
                    done = future.result()
                else:  # the task never returned: its worker died, or it was cancelled
                    error = future.exception() if future.status == "error" else None
                    kind = type(error).__name__ if error else "CancelledError"
                    reason = str(error) if error else "the task was cancelled"
                    done = [FileError(p, kind, reason) for p in given[a:b]]
                for i, result in zip(range(a, b), done):
                    # Named as the caller named it, not by the absolute path the worker had.
                    results[i] = FileError(given[i], result.kind, result.reason) if isinstance(result, FileError) \
                        else result
                    shown.step(isinstance(result, FileError))
                future.release()
        except BaseException:
            c.cancel(futures)
            raise
        finally:
            shown.close()
    return results


# --- info -------------------------------------------------------------------------------------

_COLUMNS = [("file", "path"), ("format", "format"), ("size", "size"), ("duration s", "duration_s"),
            ("events", "events"), ("Mev/s", "rate_mevs"), ("triggers", "triggers"), ("largest gap s", "gap_s")]


class InfoTable(list):
    """The rows of info(): a dict per file; str() gives the table as nrraw info prints it."""

    def __str__(self):
        rows = [[name for name, _ in _COLUMNS]] + [_cells(r) for r in self]
        # A failed file's reason spans the columns after its path: it sets no width but the first.
        widths = [max(len(row[k]) for row in rows if k == 0 or len(row) > 2) for k in range(len(_COLUMNS))]
        lines = []
        for row in rows:
            if len(row) == 2:  # a file that could not be read: its reason spans the columns
                lines.append(f"{row[0]:<{widths[0]}}  {row[1]}")
                continue
            cells = [row[0].ljust(widths[0]), row[1].ljust(widths[1])]
            cells += [cell.rjust(w) for cell, w in zip(row[2:], widths[2:])]
            lines.append("  ".join(cells).rstrip())
        return "\n".join(lines)


def _cells(row):
    if row.get("error"):
        return [row["path"], "error: " + row["error"]]
    gap = row["largest_gap_us"]
    return [row["path"], row["format"], f"{row['width']}x{row['height']}", f"{row['duration_us'] / 1e6:.3f}",
            str(row["events"]), f"{row['rate_evs'] / 1e6:.3f}", str(row["triggers"]),
            "-" if gap is None else f"{gap / 1e6:.6f}"]


def info_row(path):
    """One file's row of info(): path, format, width, height, first_us, last_us, duration_us, events,
    rate_evs (mean events per second), triggers, largest_gap_us (None when no gap stands out)."""
    with norvale.open(path) as f:
        i = f.info
        events = i["events"]
        first, last = i["first_timestamp"], i["last_timestamp"]
        duration = last - first if events else 0
        gap = f.largest_gap() if events > 1 else None
        return {"path": path, "format": i["format"], "width": i["width"], "height": i["height"],
                "first_us": first, "last_us": last, "duration_us": duration, "events": events,
                "rate_evs": events / (duration * 1e-6) if duration else 0.0, "triggers": i["triggers"],
                "largest_gap_us": None if gap is None else gap[1] - gap[0], "error": None}


def info(paths, client=None, progress=True):
    """A table (InfoTable: a list of dicts, printable) of every file: format, geometry, duration,
    event count, rate, trigger count and largest gap. A file that cannot be read has a row with
    its path and "error" saying why."""
    paths = [os.fspath(p) for p in paths]
    rows = InfoTable()
    for path, r in zip(paths, map_files(info_row, paths, client, progress)):
        if isinstance(r, FileError):
            r = {"path": path, "error": f"{r.kind}: {r.reason}"}
        else:
            r = dict(r, path=path)
        rows.append(r)
    return rows


# --- convert and export_video ----------------------------------------------------------------

def _format(key):
    known = norvale.formats()
    for f in known:
        if key.lower() in (f["key"], f["name"].lower()):
            if not f["writable"]:
                raise ValueError(f"{f['name']} files cannot be written")
            return f
    writable = ", ".join(f["key"] for f in known if f["writable"])
    raise ValueError(f"unknown format '{key}' (writable: {writable})")


def _outputs(paths, out_folder, extension):
    """The output of each input: its name with the new extension in out_folder. Two inputs that would
    write one output are refused before anything is done."""
    out_folder = os.fspath(out_folder)
    if not os.path.isdir(out_folder):
        raise ValueError(f"output folder {out_folder} does not exist")
    outputs, seen = [], {}
    for p in paths:
        out = os.path.join(out_folder, os.path.splitext(os.path.basename(p))[0] + extension)
        if out in seen:
            raise ValueError(f"{seen[out]} and {p} would both be written to {out}; nothing was done")
        seen[out] = p
        outputs.append(out)
    return outputs


def _convert_one(job, path):
    out, fmt, start_us, end_us, compress = job
    with norvale.open(path) as f:
        if os.path.lexists(out):
            if os.path.exists(out) and os.path.samefile(out, path):
                raise ValueError(f"output {out} is the input file; nothing was written")
            return _already_done(f, out, start_us, end_us)
        triggers = 0
        if not fmt["holds_triggers"]:
            t = f.triggers()["t"]
            triggers = int(((t >= (start_us or 0)) & (t < (end_us if end_us is not None else 2**64 - 1))).sum())
        with warnings.catch_warnings():
            # Said once, by the caller, with the file named.
            warnings.simplefilter("ignore", UserWarning)
            f.convert(out, start_us, end_us, format=fmt["key"], compress=compress)
        return {"output": out, "done": "converted", "triggers_not_written": triggers}


def _already_done(f, out, start_us, end_us):
    # Outputs only ever appear complete, so a file of that name is a finished conversion, unless it
    # is somebody else's: then its events must be the ones this conversion would write.
    with norvale.open(out) as o:
        have = o.info["events"]
    if start_us is None and end_us is None:
        want = f.info["events"]
    else:
        lo = f.start if start_us is None else start_us
        hi = (f.end + 1) if end_us is None else end_us
        want = len(f.read(lo, hi)) if f.start is not None else 0
    if have != want:
        raise ValueError(f"{out} exists and holds {have} events, not the {want} of this conversion; "
                         "remove it to convert again")
    return {"output": out, "done": "skipped", "triggers_not_written": 0}


def convert(paths, out_folder, format, client=None, progress=True, *, start_us=None, end_us=None,
            compress=False):
    """Converts every file to format (a key such as "hdf5", "evt3", "npy", or a name such as "EVT 2.1")
    in out_folder, each named after its input with the format's extension. Returns, in the order of
    paths, a dict per file (output, done: "converted" or "skipped", triggers_not_written) or a
    FileError. An output already present is a finished conversion and is skipped (after checking its
    event count), so running a stopped job again resumes it. Trigger edges the format cannot hold
    are counted and named in one UserWarning per file."""
    paths = [os.fspath(p) for p in paths]
    fmt = _format(format)
    outputs = [os.path.abspath(o) for o in _outputs(paths, out_folder, fmt["extension"])]
    job = functools.partial(_paired, _convert_one, dict(zip(map(os.path.abspath, paths), outputs)),
                            (fmt, start_us, end_us, compress))
    results = map_files(job, paths, client, progress)
    for path, r in zip(paths, results):
        if isinstance(r, dict) and r["triggers_not_written"]:
            warnings.warn(f"{path}: {r['triggers_not_written']} trigger edges were not written to {r['output']}: "
                          f"{fmt['name']} files cannot hold them", UserWarning, stacklevel=2)
    return results


def _paired(job, outputs, options, path):
    # The job of one input, with the output chosen for it on the client.
    return job((outputs[path],) + options, path)


def _export_one(job, path):
    out, options = job
    if os.path.lexists(out):
        # Videos only ever appear complete: one present is a finished export.
        return {"output": out, "done": "skipped"}
    with norvale.open(path) as f:
        f.export_video(out, **options)
    return {"output": out, "done": "exported"}


def export_video(paths, out_folder, client=None, progress=True, **options):
    """Renders every file into an MP4 video in out_folder, named after its input; options are those of
    RawFile.export_video (start_us, end_us, fps, acc_us, colors). Returns, in the order of paths, a
    dict per file (output, done: "exported" or "skipped") or a FileError. A video already present
    is skipped, so running a stopped job again resumes it."""
    paths = [os.fspath(p) for p in paths]
    unknown = set(options) - {"start_us", "end_us", "fps", "acc_us", "colors"}
    if unknown:
        raise TypeError(f"unknown option(s) of export_video: {', '.join(sorted(unknown))}")
    outputs = [os.path.abspath(o) for o in _outputs(paths, out_folder, ".mp4")]
    job = functools.partial(_paired, _export_one, dict(zip(map(os.path.abspath, paths), outputs)), (options,))
    return map_files(job, paths, client, progress)
