#include "RawFile.h"

#include <algorithm>
#include <cstring>

#include <pybind11/chrono.h>
#include <pybind11/stl.h>

#include "ArrayPool.h"
#include "Args.h"
#include "DriverLog.h"
#include "Errors.h"
#include "EventArrays.h"
#include "FileState.h"
#include "Progress.h"
#include "norvale/EventFileWriter.h"
#include "norvale/RawCut.h"
#include "norvale/VideoExporter.h"

namespace py = pybind11;

namespace norvale::python {

namespace {

using State = std::shared_ptr<FileState>;

// Whether an array's memory comes from an mmap object (numpy.memmap, or a view of one): only then
// can it be a file's pages.
bool mappedFromFile(py::handle array) {
    const py::object mmapType = py::module_::import("mmap").attr("mmap");
    for (py::object o = py::reinterpret_borrow<py::object>(array); o && !o.is_none();
         o = py::getattr(o, "base", py::none()))
        if (py::isinstance(o, mmapType)) return true;
    return false;
}

[[noreturn]] void raiseClosed() { throw py::value_error("I/O operation on a closed raw file"); }

// Runs job(reader) with the GIL released and the file's lock held; raises when the file is closed.
template <class Job>
auto withReader(FileState& st, Job&& job) {
    bool closed = false;
    decltype(job(*st.reader)) result{};
    {
        py::gil_scoped_release nogil;
        std::lock_guard<std::mutex> lock(st.mutex);
        clearDriverReason();
        if (st.reader)
            result = job(*st.reader);
        else
            closed = true;
    }
    if (closed) raiseClosed();
    return result;
}

py::array readArray(FileState& st, uint64_t from, uint64_t to) {
    std::vector<Event2D> events = takeRoom(size_t(st.eventsAtMost(from, to)));
    if (!withReader(st, [&](DvsFileReader&) { return st.read(from, to, events); }))
        raiseDriverError("cannot read " + st.path);
    return eventsToArray(std::move(events));
}

// Events of consecutive time windows of one length.
class SliceIterator {
public:
    SliceIterator(State s, uint64_t from, uint64_t to, uint64_t step)
        : st(std::move(s)), next(from), end(to), step(step) {}

    py::array nextSlice() {
        if (next >= end) throw py::stop_iteration();
        const uint64_t to = end - next > step ? next + step : end;
        py::array a = readArray(*st, next, to);
        next = to;
        return a;
    }
    size_t remaining() const { return next >= end ? 0 : size_t((end - next + step - 1) / step); }

private:
    State st;
    uint64_t next, end, step;
};

// Events in pieces of n (the last one smaller), read a window of about n events at a time.
class ChunkIterator {
public:
    ChunkIterator(State s, uint64_t from, uint64_t to, size_t n) : st(std::move(s)), next(from), end(to), n(n) {}

    py::array nextChunk() {
        if (pending.size() - used < n && next < end) fill();
        const size_t take = std::min(n, pending.size() - used);
        if (take == 0) throw py::stop_iteration();
        std::vector<Event2D> out = takeVector(take);
        out.assign(pending.begin() + long(used), pending.begin() + long(used + take));
        used += take;
        return eventsToArray(std::move(out));
    }

private:
    // Reads windows until n events are waiting or the range is done; at most about one window
    // beyond what is needed stays in memory.
    void fill() {
        const bool ok = withReader(*st, [&](DvsFileReader&) {
            pending.erase(pending.begin(), pending.begin() + long(used));
            used = 0;
            while (pending.size() < n && next < end) {
                const uint64_t to = std::min(end, st->windowEnd(next, n - pending.size()));
                if (!st->read(next, to, window)) return false;
                next = to;
                if (pending.empty())
                    std::swap(pending, window);
                else
                    pending.insert(pending.end(), window.begin(), window.end());
            }
            return true;
        });
        if (!ok) raiseDriverError("cannot read " + st->path);
    }

    State st;
    uint64_t next, end;
    size_t n;
    std::vector<Event2D> pending, window;
    size_t used = 0;
};

class RawFile {
public:
    explicit RawFile(py::handle pathObject) {
        const std::string path = pathArg(pathObject);
        checkReadablePath(path);
        {
            py::gil_scoped_release nogil;
            clearDriverReason();
            st = FileState::open(path);
        }
        if (!st) raiseDriverError(path + ": cannot be opened as a raw event file");
    }

    py::dict info() const {
        const RawFileStats& s = st->stats;
        py::dict d;
        d["path"] = st->path;
        d["format"] = formatInfo(st->fileFormat).name;
        d["width"] = st->width;
        d["height"] = st->height;
        d["serial"] = st->info.serialNumber;
        d["start_time"] = st->info.recordStartTime;
        d["dvs_start_timestamp"] = st->info.dvsStartTimestamp;
        d["first_timestamp"] = s.eventCount ? py::object(py::int_(s.firstTimestamp)) : py::none();
        d["last_timestamp"] = s.eventCount ? py::object(py::int_(s.lastTimestamp)) : py::none();
        d["events"] = s.eventCount;
        d["on"] = s.onCount;
        d["off"] = s.offCount;
        d["triggers"] = st->triggers.size();
        d["data_bytes"] = s.dataBytes;
        return d;
    }

    py::object start() const {
        return st->stats.eventCount ? py::object(py::int_(st->stats.firstTimestamp)) : py::none();
    }
    py::object end() const { return st->stats.eventCount ? py::object(py::int_(st->stats.lastTimestamp)) : py::none(); }

    py::array read(py::handle start, py::handle end) {
        const uint64_t from = timeArg(start, "start_us"), to = timeArg(end, "end_us");
        const RawFileStats& s = st->stats;
        if (s.eventCount && from <= s.firstTimestamp && to > s.lastTimestamp && to > from)
            return readAll(py::none(), py::none());
        return readArray(*st, from, to);
    }
    py::array readAll(py::handle threads, py::handle out) {
        size_t limit = 0;
        if (!threads.is_none()) {
            limit = size_t(timeArg(threads, "threads"));
            if (limit == 0) throw py::value_error("threads must be at least 1");
        }
        if (!out.is_none()) return readAllInto(out, limit);
        EventBuffer events;
        if (!withReader(*st, [&](DvsFileReader&) { return st->readAll(events, limit); }))
            raiseDriverError("cannot read " + st->path);
        return eventsToArray(std::move(events));
    }
    // read_all(out=...): into the caller's array, which must be able to take every event.
    py::array readAllInto(py::handle outObject, size_t limit) {
        if (!py::isinstance<py::array>(outObject))
            throw py::type_error("out must be a NumPy array of dtype norvale.EVENT_DTYPE");
        auto out = py::reinterpret_borrow<py::array>(outObject);
        if (!out.dtype().equal(eventDtype()))
            throw py::type_error("out must have dtype norvale.EVENT_DTYPE, not " + py::str(out.dtype()).cast<std::string>());
        const py::object flags = out.attr("flags");
        // NumPy's own "aligned" flag follows the dtype, whose alignment is 1 (it is not an aligned
        // struct dtype): the events' 8-byte timestamps need the address checked here.
        const bool aligned = reinterpret_cast<uintptr_t>(out.data()) % alignof(Event2D) == 0;
        if (out.ndim() != 1 || !flags.attr("c_contiguous").cast<bool>() || !aligned)
            throw py::value_error("out must be a one-dimensional, contiguous and aligned array (its address a "
                                  "multiple of " + std::to_string(alignof(Event2D)) + " bytes)");
        if (!flags.attr("writeable").cast<bool>()) throw py::value_error("out is read-only");
        const size_t room = size_t(out.shape(0));
        if (room < st->stats.eventCount)
            throw py::value_error("out has room for " + std::to_string(room) + " events; the file holds " +
                                  std::to_string(st->stats.eventCount));
        auto* base = static_cast<Event2D*>(out.mutable_data());
        if (mappedFromFile(out) && FileState::mapsAnOpenInput(base, room * sizeof(Event2D)))
            throw py::value_error("out is mapped from a recording open for reading; decoding into it would "
                                  "overwrite the recording");
        size_t count = 0;
        if (!withReader(*st, [&](DvsFileReader&) { return st->readAllInto(base, room, count, limit); }))
            raiseDriverError("cannot read " + st->path);
        return out[py::slice(0, py::ssize_t(count), 1)];
    }
    py::array triggers() const { return triggersToArray(st->triggers); }

    py::dict rateProfile() const {
        py::dict d;
        d["start_us"] = st->profile.startTimestamp;
        d["slot_us"] = st->profile.slotDurationUs;
        d["counts"] = countsToArray(st->profile.counts);
        return d;
    }

    SliceIterator slices(py::handle duration, py::handle start, py::handle end) {
        const uint64_t d = timeArg(duration, "duration_us");
        if (d == 0) throw py::value_error("duration_us must be at least 1");
        uint64_t from, to;
        range(start, end, from, to);
        return SliceIterator(st, from, to, d);
    }

    ChunkIterator chunks(py::handle count, py::handle start, py::handle end) {
        const uint64_t n = timeArg(count, "n_events");
        if (n == 0) throw py::value_error("n_events must be at least 1");
        uint64_t from, to;
        range(start, end, from, to);
        return ChunkIterator(st, from, to, size_t(n));
    }

    bool cut(py::handle start, py::handle end, py::handle outObject, py::object progress) {
        const uint64_t from = timeArg(start, "start_us"), to = timeArg(end, "end_us");
        if (to <= from) throw py::value_error("end_us must be after start_us");
        const std::string out = pathArg(outObject);
        checkWritablePath(out);
        ProgressBridge bridge(std::move(progress));
        const bool ok =
            withReader(*st, [&](DvsFileReader& r) { return cutRawFile(r, from, to - 1, out, bridge.function()); });
        return finish(ok, bridge, "cut to " + out + " failed");
    }

    bool convert(py::handle outObject, py::handle start, py::handle end, py::handle format, bool overwrite,
                 py::object progress, bool compress) {
        // The whole file by default: trigger edges before the first or after the last event too.
        const uint64_t from = start.is_none() ? 0 : timeArg(start, "start_us");
        const uint64_t to = end.is_none() ? UINT64_MAX : timeArg(end, "end_us");
        if (to <= from) throw py::value_error("end_us must be after start_us");
        const std::string out = pathArg(outObject);
        const EventFileFormat f = writeFormatArg(format, out, false);
        checkWritablePath(out);
        const FileIdentity self = withReader(*st, [](DvsFileReader& r) { return r.identity(); });
        const FileIdentity other = FileState::openInputNamed(out);
        if (other.valid && !other.sameAs(self))
            throw py::value_error("output " + out + " is a recording open for reading; nothing was written");
        ProgressBridge bridge(std::move(progress));
        ConvertReport report;
        const bool ok = withReader(*st, [&](DvsFileReader& r) {
            return convertEventFile(r, from, end.is_none() ? to : to - 1, out, f, overwrite, bridge.function(), report,
                                    compress);
        });
        bridge.rethrow();
        if (bridge.cancelled()) return false;
        if (!ok) {
            if (report.problem.rfind("cannot ", 0) == 0) {
                PyErr_SetString(PyExc_OSError, report.problem.c_str());
                throw py::error_already_set();
            }
            throw py::value_error(report.problem);
        }
        warnTriggersNotHeld(report.triggersNotHeld, f, out);
        return true;
    }

    bool exportVideo(py::handle outObject, py::handle start, py::handle end, int fps, py::handle acc,
                     const std::string& colors, py::object progress) {
        if (!st->stats.eventCount) throw py::value_error(st->path + " holds no events to export");
        uint64_t from, to;
        range(start, end, from, to);
        if (to <= from) throw py::value_error("end_us must be after start_us");
        VideoExportOptions options;
        options.fps = fps;
        options.accTimeUs = timeArg(acc, "acc_us");
        if (!applyColorScheme(colors, options))
            throw py::value_error("unknown colour scheme '" + colors + "': gray, dark, light, redblue or redgreen");
        const std::string out = pathArg(outObject);
        checkWritablePath(out);
        ProgressBridge bridge(std::move(progress));
        options.progress = bridge.function();
        const bool ok =
            withReader(*st, [&](DvsFileReader& r) { return exportFileToVideo(r, from, to - 1, out, options); });
        return finish(ok, bridge, "video export to " + out + " failed");
    }

    void close() {
        std::unique_ptr<DvsFileReader> dropped;
        {
            py::gil_scoped_release nogil;
            std::lock_guard<std::mutex> lock(st->mutex);
            dropped = std::move(st->reader);
        }
        st->closeInput();
    }
    bool closed() {
        py::gil_scoped_release nogil;
        std::lock_guard<std::mutex> lock(st->mutex);
        return !st->reader;
    }

    // (before, after): the two events farthest apart in time with none between them.
    py::object largestGap() {
        uint64_t before = 0, after = 0;
        const bool found = withReader(*st, [&](DvsFileReader& r) { return r.largestGap(before, after); });
        return found ? py::object(py::make_tuple(before, after)) : py::none();
    }

    // A RawFile travels between processes as its absolute path and is opened again where it lands.
    py::tuple reduce() {
        if (closed()) throw py::value_error("a closed raw file cannot be pickled");
        const py::object absolute = py::module_::import("os").attr("path").attr("abspath")(st->path);
        return py::make_tuple(py::type::of<RawFile>(), py::make_tuple(absolute));
    }

    std::string repr() const {
        return "<norvale.RawFile '" + st->path + "' " + std::string(formatInfo(st->fileFormat).name) + " " +
               std::to_string(st->width) + "x" + std::to_string(st->height) + ", " +
               std::to_string(st->stats.eventCount) + " events>";
    }

private:
    // [start, end) with the file's own bounds where None.
    void range(py::handle start, py::handle end, uint64_t& from, uint64_t& to) const {
        from = start.is_none() ? st->stats.firstTimestamp : timeArg(start, "start_us");
        to = end.is_none() ? (st->stats.eventCount ? st->stats.lastTimestamp + 1 : from) : timeArg(end, "end_us");
    }

    // True when done, False when the progress callable cancelled; raises otherwise.
    static bool finish(bool ok, ProgressBridge& bridge, const std::string& fallback) {
        bridge.rethrow();
        if (bridge.cancelled()) return false;
        if (!ok) raiseDriverError(fallback);
        return true;
    }

    State st;
};

} // namespace

void bindRawFile(py::module_& m) {
    py::class_<SliceIterator>(m, "SliceIterator", "Iterator over the events of consecutive time windows.")
        .def("__iter__", [](SliceIterator& it) -> SliceIterator& { return it; })
        .def("__next__", &SliceIterator::nextSlice)
        .def("__length_hint__", &SliceIterator::remaining);
    py::class_<ChunkIterator>(m, "ChunkIterator", "Iterator over the events in pieces of a fixed count.")
        .def("__iter__", [](ChunkIterator& it) -> ChunkIterator& { return it; })
        .def("__next__", &ChunkIterator::nextChunk);

    py::class_<RawFile>(m, "RawFile", R"doc(An event recording of any readable format, opened and indexed.

RawFile(path) reads the file once to build its time index, so that any time range is then read
without decoding what comes before it. Times are microseconds of the camera clock (absolute, as
in the file). Ranges are half-open: start_us <= t < end_us. Arrays returned own their memory and
stay valid after the file is closed.

Raises FileNotFoundError, PermissionError or IsADirectoryError when the path cannot be read, and
ValueError (with the reason) when it is not an event file of a readable format (EVT 3.0, EVT 2.0,
CSV, NumPy, ...; the content decides, not the name).)doc")
        .def(py::init<py::handle>(), py::arg("path"))
        .def_property_readonly("info", &RawFile::info, R"doc(The file's description as a dict.

Keys: path, format (the format's name: "EVT 3.0", "CSV", "NumPy", ...), width, height, serial, start_time (local datetime
of the recording's start), dvs_start_timestamp, first_timestamp and last_timestamp (None without
events), events, on, off, triggers (counts) and data_bytes.)doc")
        .def_property_readonly("start", &RawFile::start, "Smallest event timestamp (us), None without events.")
        .def_property_readonly("end", &RawFile::end, "Largest event timestamp (us), None without events.")
        .def("read", &RawFile::read, py::arg("start_us"), py::arg("end_us"),
             R"doc(Events with start_us <= t < end_us, in time order.

Returns a structured array with fields t (uint64, us), x, y (uint16) and p (uint8, 1 ON, 0 OFF);
norvale.EVENT_DTYPE, laid out in memory as x, y, p, t (16 bytes an event). Decodes only the part of the file that holds the range.)doc")
        .def("read_all", &RawFile::readAll, py::kw_only(), py::arg("threads") = py::none(),
             py::arg("out") = py::none(),
             R"doc(Every event of the file in time order (see read()).

A raw file of more than half a megabyte, and a CSV, NumPy, AEDAT 4 or uncompressed HDF5 file of a
few megabytes or more, is decoded on several threads at once, by default one per core the process
may use (a smaller one on the calling thread alone); threads sets their number (1: only the calling
thread). Compressed HDF5 and Event Stream files are read on the calling thread. The GIL is released
meanwhile.

out: an array of norvale.EVENT_DTYPE with room for every event (info["events"]), one-dimensional
and contiguous, to decode into instead of a new array; the result is then the view of its first
events. Reusing one array spares the system clearing fresh memory for every call, and a
numpy.memmap lets a recording larger than memory be decoded to disk.)doc")
        .def("triggers", &RawFile::triggers,
             "Trigger edges in file order: structured array t (uint64, us), p (uint8, 1 rising, 0 falling), id "
             "(uint8, channel); norvale.TRIGGER_DTYPE.")
        .def("slices", &RawFile::slices, py::arg("duration_us"), py::kw_only(), py::arg("start_us") = py::none(),
             py::arg("end_us") = py::none(),
             R"doc(Iterates over the events in consecutive windows of duration_us.

Windows start at start_us (default: the first event) and cover up to end_us (default: past the
last event); empty windows give empty arrays. Only the current window is held in memory, so a
file of any size can be streamed.)doc")
        .def("chunks", &RawFile::chunks, py::arg("n_events"), py::kw_only(), py::arg("start_us") = py::none(),
             py::arg("end_us") = py::none(),
             R"doc(Iterates over the events in arrays of n_events (the last one may be shorter).

Every event of [start_us, end_us) comes exactly once, in time order; memory stays near n_events
events whatever the size of the file.)doc")
        .def("rate_profile", &RawFile::rateProfile,
             R"doc(Events per time slot over the whole file, for plotting the event rate.

A dict: start_us (start of slot 0), slot_us (slot length, a power of two of at least 1024 us)
and counts (uint32 array, events per slot).)doc")
        .def("cut", &RawFile::cut, py::arg("start_us"), py::arg("end_us"), py::arg("out_path"),
             py::arg("progress") = py::none(),
             R"doc(Writes the events and triggers of start_us <= t < end_us to a new file of this file's format
(EVT 3.0 where that format cannot be written, or a DAT file's clock passed 32 bits).

Timestamps are kept. progress, when given, is called with the fraction done (0..1); returning False
cancels. Returns True when the file was written, False when cancelled (nothing is left behind).
Raises ValueError with the reason when the cut is refused (for example out_path is the file
itself) and OSError when out_path cannot be written. The GIL is released while cutting.)doc")
        .def("convert", &RawFile::convert, py::arg("out_path"), py::arg("start_us") = py::none(),
             py::arg("end_us") = py::none(), py::arg("format") = py::none(), py::arg("overwrite") = false,
             py::arg("progress") = py::none(), py::arg("compress") = false,
             R"doc(Writes the events and trigger edges of [start_us, end_us) (default: all of them), in file
order, to a new file at out_path in format (a key such as "evt3", "evt2", "evt21", "dat", "hdf5",
"aedat4", "csv", "npy", or a name such as "EVT 2.1"; default: the one out_path's extension names,
".raw" being EVT 3.0). Every x, y, p and t is kept exactly. Trigger edges the format cannot hold
are counted and named in a UserWarning, never dropped silently.

An existing out_path is refused (ValueError) unless overwrite, and then replaced only once the new
file is complete. The file itself (under any name), another file open in a RawFile, a folder, FIFO
or device are refused with a ValueError; a record the format cannot hold (a DAT time past 2^32 us,
say) raises ValueError and leaves no file. progress(fraction) is called as the work goes on;
returning False cancels (no file is left) and convert returns False. Returns True when done. HDF5
is written uncompressed unless compress (shuffle + gzip: smaller, several times slower); AEDAT 4
with LZ4 packets unless compress (Zstd: smaller, several times slower to read). The GIL is released
while converting.)doc")
        .def("export_video", &RawFile::exportVideo, py::arg("out_path"), py::arg("start_us") = py::none(),
             py::arg("end_us") = py::none(), py::arg("fps") = 30, py::arg("acc_us") = 33333, py::arg("colors") = "gray",
             py::arg("progress") = py::none(),
             R"doc(Renders start_us <= t < end_us (default: the whole file) into an MP4 video.

Each of the fps frames per second of event time shows the events of the last acc_us before the
frame's end: ON and OFF pixels in the colours of the scheme colors ("gray", "dark", "light",
"redblue", "redgreen") on its background. progress is called with the fraction done; returning
False cancels. Returns True when written, False when cancelled; the video appears only when
complete. Raises ValueError with the reason for bad options or a range outside the file. The GIL
is released while exporting.)doc")
        .def("largest_gap", &RawFile::largestGap,
             R"doc((before_us, after_us): the two events farthest apart in time with no event between them (a
long gap is the mark of a damaged file or a stalled camera); None for fewer than two events or when
every gap is shorter than two slots of rate_profile().)doc")
        .def("__reduce__", &RawFile::reduce,
             "Pickles as the file's absolute path: unpickling opens the file again (in a worker process, say).")
        .def("close", &RawFile::close, "Closes the file; arrays already read stay valid.")
        .def_property_readonly("closed", &RawFile::closed, "True once close() was called.")
        .def("__enter__", [](RawFile& f) -> RawFile& { return f; })
        .def("__exit__", [](RawFile& f, py::args) { f.close(); })
        .def("__repr__", &RawFile::repr);
    m.def(
        "open", [](py::handle path) { return RawFile(path); }, py::arg("path"),
        R"doc(Opens and indexes an event file of any readable format (EVT 3.0, EVT 2.0, CSV, NumPy, ...,
found from its content) as a RawFile; info["format"] names the format. Raises as RawFile(path).)doc");
}

} // namespace norvale::python
