#include "Writing.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "Args.h"
#include "DriverLog.h"
#include "Errors.h"
#include "EventArrays.h"
#include "FileState.h"
#include "norvale/DvsFileInfo.h"
#include "norvale/EventFileWriter.h"
#include "norvale/RawFileWriter.h"
#include "norvale/EventGenerator.h"
#include "norvale/Evt3Encoder.h"
#include "norvale/SafeOutputFile.h"

namespace py = pybind11;

namespace norvale::python {

namespace {

constexpr size_t kBlock = 1 << 16;
constexpr double kPeriodSeconds = 16.777216; // the 24-bit time of the words, in seconds

// The input in blocks of events, each with the triggers that go with it (those up to the block's
// last time; the last block takes the rest), in the order the encoder merges them.
class Blocks {
public:
    Blocks(const EventColumns& e, const TriggerColumns& t) : ev(e), tr(t) {}

    // Next block into events/triggers; false when everything has been handed out.
    bool next(std::vector<Event2D>& events, std::vector<EventTriggerIn>& triggers, size_t& firstEvent,
              size_t& firstTrigger) {
        if (e >= ev.size && k >= tr.size) return false;
        const size_t end = std::min(ev.size, e + kBlock);
        firstEvent = e;
        firstTrigger = k;
        events.resize(end - e);
        const uint64_t* t = ev.t.data();
        const uint16_t *x = ev.x.data(), *y = ev.y.data();
        const uint8_t* p = ev.p.data();
        for (size_t i = e; i < end; ++i) {
            Event2D& out = events[i - e];
            out.timestamp = t[i];
            out.x = x[i];
            out.y = y[i];
            out.polarity = p[i];
        }
        e = end;
        const uint64_t upTo = e < ev.size && !events.empty() ? events.back().timestamp : UINT64_MAX;
        triggers.clear();
        while (k < tr.size && tr.t.data()[k] <= upTo) {
            EventTriggerIn trig;
            trig.timestamp = tr.t.data()[k];
            trig.value = tr.p.data()[k];
            trig.id = tr.id.data()[k];
            triggers.push_back(trig);
            ++k;
        }
        return true;
    }

private:
    const EventColumns& ev;
    const TriggerColumns& tr;
    size_t e = 0, k = 0;
};

std::string tooFarText(const char* what, size_t index, uint64_t t, bool haveTime, uint64_t previous) {
    const std::string head = std::string(what) + "[" + std::to_string(index) + "]: t = " + std::to_string(t);
    if (haveTime && t < previous)
        return head + " goes back in time from " + std::to_string(previous) +
               " further than EVT 3.0 can express (a step back must stay under 8.388608 s and within one " +
               std::to_string(kPeriodSeconds) + " s period of its 24-bit time); sort the events by t";
    return head + " lies more than 65536 periods of " + std::to_string(kPeriodSeconds) + " s (about 12.7 days) after " +
           (haveTime ? "the previous time " + std::to_string(previous) : "time 0") + ", which EVT 3.0 cannot express";
}

// Encodes the input again one record at a time, as the encoder merges them, and describes the
// first record it refuses. Only after a refusal, so speed does not matter.
std::string firstRefusal(const EventColumns& ev, const TriggerColumns& tr) {
    Evt3Encoder enc;
    Blocks blocks(ev, tr);
    std::vector<Event2D> events;
    std::vector<EventTriggerIn> triggers;
    size_t e0 = 0, k0 = 0;
    bool haveTime = false;
    uint64_t previous = 0;
    while (blocks.next(events, triggers, e0, k0)) {
        size_t i = 0;
        auto addEvent = [&]() -> bool {
            enc.addEvents(&events[i], &events[i] + 1);
            enc.clearOutput();
            if (enc.droppedEvents()) return false;
            previous = events[i].timestamp;
            haveTime = true;
            ++i;
            return true;
        };
        for (size_t k = 0; k < triggers.size(); ++k) {
            while (i < events.size() && events[i].timestamp <= triggers[k].timestamp)
                if (!addEvent()) return tooFarText("events", e0 + i, events[i].timestamp, haveTime, previous);
            enc.addTrigger(triggers[k]);
            enc.clearOutput();
            if (enc.droppedTriggers()) return tooFarText("triggers", k0 + k, triggers[k].timestamp, haveTime, previous);
            previous = triggers[k].timestamp;
            haveTime = true;
        }
        while (i < events.size())
            if (!addEvent()) return tooFarText("events", e0 + i, events[i].timestamp, haveTime, previous);
    }
    return "some events cannot be written";
}

// The first event or trigger whose values the file cannot hold, "" when all fit.
std::string checkValues(const EventColumns& ev, const TriggerColumns& tr, uint32_t width, uint32_t height) {
    for (size_t i = 0; i < ev.size; ++i) {
        const uint16_t x = ev.x.data()[i], y = ev.y.data()[i];
        const uint8_t p = ev.p.data()[i];
        // every reader must agree on the order: read_all sorts, a dump shows the file's order
        if (i > 0 && ev.t.data()[i] < ev.t.data()[i - 1])
            return "events[" + std::to_string(i) + "]: t = " + std::to_string(ev.t.data()[i]) +
                   " comes before the previous event; events must be in time order";
        if (x < width && y < height && p <= 1) continue;
        const std::string head = "events[" + std::to_string(i) + "]: ";
        if (p > 1) return head + "p = " + std::to_string(p) + " is not a polarity (1 ON, 0 OFF)";
        return head + "(x, y) = (" + std::to_string(x) + ", " + std::to_string(y) + ") lies outside the " +
               std::to_string(width) + " x " + std::to_string(height) + " sensor";
    }
    for (size_t k = 0; k < tr.size; ++k) {
        if (tr.p.data()[k] > 1)
            return "triggers[" + std::to_string(k) + "]: p = " + std::to_string(tr.p.data()[k]) +
                   " is not an edge (1 rising, 0 falling)";
        if (tr.id.data()[k] > 15)
            return "triggers[" + std::to_string(k) + "]: id = " + std::to_string(tr.id.data()[k]) +
                   " is not a channel (0..15)";
        if (k > 0 && tr.t.data()[k] < tr.t.data()[k - 1])
            return "triggers[" + std::to_string(k) + "]: t = " + std::to_string(tr.t.data()[k]) +
                   " comes before the previous trigger; triggers must be in time order";
    }
    return "";
}

bool writeAll(int fd, const uint8_t* data, size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        size -= size_t(n);
    }
    return true;
}

// Outcome of writing without the GIL; turned into an exception afterwards.
struct WriteResult {
    std::string refused; // a record the format cannot hold
    int ioError = 0;     // errno of a failed write
};

WriteResult writeFile(SafeOutputFile& out, const EventColumns& ev, const TriggerColumns& tr, uint32_t width,
                      uint32_t height) {
    WriteResult r;
    r.refused = checkValues(ev, tr, width, height);
    if (!r.refused.empty()) return r;
    DvsFileInfo info;
    info.serialNumber = "python";
    info.width = width;
    info.height = height;
    if (ev.size && tr.size)
        info.dvsStartTimestamp = std::min(ev.t.data()[0], tr.t.data()[0]);
    else if (ev.size || tr.size)
        info.dvsStartTimestamp = ev.size ? ev.t.data()[0] : tr.t.data()[0];
    const std::string header = rawFileHeader(info);
    const int fd = out.descriptor();
    bool ok = writeAll(fd, reinterpret_cast<const uint8_t*>(header.data()), header.size());
    Evt3Encoder enc(width, height);
    Blocks blocks(ev, tr);
    std::vector<Event2D> events;
    std::vector<EventTriggerIn> triggers;
    size_t e0 = 0, k0 = 0;
    while (ok && blocks.next(events, triggers, e0, k0)) {
        enc.add(events.data(), events.data() + events.size(), triggers.data(), triggers.data() + triggers.size());
        if (enc.droppedEvents() || enc.droppedTriggers()) {
            r.refused = firstRefusal(ev, tr);
            break;
        }
        ok = writeAll(fd, enc.data(), enc.size());
        enc.clearOutput();
    }
    if (!ok) r.ioError = errno ? errno : EIO;
    return r;
}

// Any format but EVT 3.0, through the driver's writer: the same checks, the same refusals.
void writeThroughWriter(const std::string& path, EventFileFormat format, const EventColumns& ev,
                        const TriggerColumns& tr, uint32_t width, uint32_t height, bool compress) {
    if (width == 0 || height == 0) throw py::value_error("width and height must be at least 1");
    checkWritablePath(path);
    std::string problem;
    uint64_t notHeld = 0;
    {
        py::gil_scoped_release nogil;
        problem = checkValues(ev, tr, width, height);
        if (problem.empty()) {
            EventFileDescription d;
            d.width = width;
            d.height = height;
            d.serialNumber = "python";
            d.compress = compress;
            // A file open in a RawFile is an input: replacing it would destroy the recording being read.
            auto w = EventFileWriter::create(path, format, d, true, FileState::openInputNamed(path), problem);
            if (w) {
                Blocks blocks(ev, tr);
                std::vector<Event2D> events;
                std::vector<EventTriggerIn> triggers;
                size_t e0 = 0, k0 = 0;
                bool ok = true;
                while (ok && blocks.next(events, triggers, e0, k0))
                    ok = w->write(events.data(), events.data() + events.size(), triggers.data(),
                                  triggers.data() + triggers.size());
                if (ok) ok = w->finish();
                if (!ok) problem = w->problem();
                notHeld = w->triggersNotHeld();
            }
        }
    }
    if (!problem.empty()) {
        if (problem.rfind("cannot ", 0) == 0) {
            PyErr_SetString(PyExc_OSError, problem.c_str());
            throw py::error_already_set();
        }
        throw py::value_error(problem + "; nothing was written");
    }
    warnTriggersNotHeld(notHeld, format, path);
}

void write(py::handle pathObject, py::handle events, py::handle triggers, uint32_t width, uint32_t height,
           py::handle formatObject, bool compress) {
    const std::string path = pathArg(pathObject);
    const EventFileFormat format = writeFormatArg(formatObject, path, true);
    if (format != EventFileFormat::Evt3) {
        const EventColumns ev = eventColumns(events);
        const TriggerColumns tr = triggers.is_none() ? TriggerColumns{} : triggerColumns(triggers);
        writeThroughWriter(path, format, ev, tr, width, height, compress);
        return;
    }
    if (width == 0 || height == 0 || width > kMaxRawSide || height > kMaxRawSide)
        throw py::value_error("width and height must be within 1 x 1 .. " + std::to_string(kMaxRawSide) + " x " +
                              std::to_string(kMaxRawSide) + ", what an EVT 3.0 file addresses");
    const EventColumns ev = eventColumns(events);
    const TriggerColumns tr = triggers.is_none() ? TriggerColumns{} : triggerColumns(triggers);
    checkWritablePath(path);
    WriteResult r;
    SafeOutputFile out;
    std::string failure; // the output's refusal or a failed commit
    {
        py::gil_scoped_release nogil;
        // A file open in a RawFile is an input: replacing it would destroy the recording being read.
        if (!out.open(path, FileState::openInputNamed(path))) {
            failure = out.reason();
        } else {
            r = writeFile(out, ev, tr, width, height);
            if (!r.refused.empty() || r.ioError)
                out.discard();
            else if (!out.commit())
                failure = out.reason();
        }
    }
    if (!r.refused.empty()) throw py::value_error(r.refused + "; nothing was written");
    if (r.ioError) raiseOsError(r.ioError, std::strerror(r.ioError), path);
    if (!failure.empty()) {
        if (out.refused()) throw py::value_error(failure + "; nothing was written");
        PyErr_SetString(PyExc_OSError, failure.c_str()); // a failure of the system, without its number
        throw py::error_already_set();
    }
}

void generate(py::handle pathObject, double seconds, double rateMevs, uint64_t seed, double triggersHz) {
    const std::string path = pathArg(pathObject);
    if (!(seconds > 0 && seconds <= 86400)) throw py::value_error("duration_s must be above 0 and at most 86400");
    if (!(rateMevs > 0 && rateMevs <= 1000)) throw py::value_error("rate_mevs must be above 0 and at most 1000");
    if (!(triggersHz >= 0 && triggersHz <= 100000)) throw py::value_error("triggers_hz must be within 0..100000");
    checkWritablePath(path);
    GeneratorConfig cfg;
    cfg.seed = seed;
    cfg.eventRate = rateMevs * 1e6;
    cfg.triggerHz = triggersHz;
    bool ok;
    {
        py::gil_scoped_release nogil;
        clearDriverReason();
        ok = generateRecordingFile(path, cfg, uint64_t(std::llround(seconds * 1e6)));
    }
    if (!ok) raiseDriverError(path + ": cannot be written");
}

} // namespace

void bindWriting(py::module_& m) {
    m.def("write", &write, py::arg("path"), py::arg("events"), py::arg("triggers") = py::none(),
          py::arg("width") = kWrittenWidth, py::arg("height") = kWrittenHeight, py::arg("format") = py::none(),
          py::arg("compress") = false,
          R"doc(Writes events (and trigger edges) to an event file at path, in format: a key such as "evt3",
"evt2", "evt21", "dat", "hdf5", "aedat4", "csv", "npy" or a name such as "EVT 2.1"; when None, the
format path's extension names, and EVT 3.0 for ".raw" or an extension no format has.

events is a structured array with integer fields t, x, y, p (norvale.EVENT_DTYPE or any other
integer types), or a sequence of four arrays (t, x, y, p). triggers likewise: fields t, p and
optionally id, or a sequence (t, p). Events and triggers must be in time order. width and height
give the sensor, which the file's header states (at most 2048 x 2048).

An event or trigger the format cannot hold (outside the sensor, a polarity other than 0 or 1, a
jump ahead too large for EVT 3.0, events or triggers out of time order) is refused with a
ValueError that names it and says why, and nothing is written. The file appears only when
complete: it is written to a fresh temporary file beside it and renamed, so no other file is
touched. An output that exists and is not a regular file, or that is a file open in a RawFile
(under any name), is refused with a ValueError. Trigger edges a format cannot hold (DAT, CSV,
NumPy, HDF5) are counted and named in a UserWarning. HDF5 is written uncompressed, which any HDF5
tool reads; compress=True stores it with shuffle + gzip (about a third of the size, several times
slower). AEDAT 4 packets are LZ4 frames; compress=True makes them Zstd (about 2.5 times smaller,
several times slower to read). Other formats ignore compress. The GIL is released while writing.)doc");
    m.def("generate", &generate, py::arg("path"), py::arg("duration_s"), py::arg("rate_mevs"), py::arg("seed") = 1,
          py::arg("triggers_hz") = 0.0,
          R"doc(Writes a synthetic EVT 3.0 recording of duration_s seconds at about rate_mevs million events
per second: edges moving across a 1280 x 720 sensor, a flickering patch and noise, starting at
t = 0. The same arguments give the same file. triggers_hz > 0 adds that many trigger pulses per
second (a rising edge, half a period later a falling one). The GIL is released while writing.)doc");
}

} // namespace norvale::python
