// The compiled part of the norvale package: event files and cameras through the driver library, as
// NumPy arrays. python/norvale/__init__.py re-exports it.
#include <pybind11/pybind11.h>

#include <cstring>

#include <string>

#include "Camera.h"
#include "DriverLog.h"
#include "EventArrays.h"
#include "RawFile.h"
#include "Writing.h"
#include "norvale/EventFileFormat.h"

namespace py = pybind11;
using namespace norvale::python;

PYBIND11_MODULE(_norvale, m) {
    m.doc() = R"doc(Event-camera raw files (EVT 3.0, EVT 2.0) and cameras, with events as NumPy arrays.

RawFile opens and indexes a recording; read(), slices() and chunks() give structured arrays of
events (fields t, x, y, p); write() and generate() make EVT 3.0 files; cameras() and Camera
stream and record cameras. Times are microseconds.)doc";
    // Without NumPy nothing here works: say so plainly, and which interpreter has it.
    try {
        py::module_::import("numpy");
    } catch (py::error_already_set& e) {
        if (!e.matches(PyExc_ImportError)) throw;
        const auto exe = py::module_::import("sys").attr("executable").cast<std::string>();
        throw py::import_error("norvale needs NumPy, which " + exe + " cannot import; norvale was built for " +
                               NORVALE_PYTHON + " (on Debian: apt-get install python3-numpy)");
    }
    installDriverLogCapture();
    m.attr("__version__") = NORVALE_VERSION;
    m.attr("EVENT_DTYPE") = eventDtype();
    m.attr("TRIGGER_DTYPE") = triggerDtype();
    bindRawFile(m);
    bindWriting(m);
    bindCamera(m);
    m.def(
        "formats",
        [] {
            py::list list;
            for (const auto& f : norvale::eventFileFormats()) {
                py::dict d;
                d["key"] = f.key;
                d["name"] = f.name;
                const char* space = std::strchr(f.extensions, ' ');
                d["extension"] = space ? std::string(f.extensions, space) : std::string(f.extensions);
                d["extensions"] = f.extensions;
                d["writable"] = f.writable;
                d["holds_triggers"] = f.holdsTriggers;
                list.append(d);
            }
            return list;
        },
        R"doc(Every event-file format: a dict each with key (for format=), name (as info["format"] says it),
extension (the one written), extensions (space separated), writable and holds_triggers (whether
trigger edges survive a write). Every format is readable.)doc");
    m.def(
        "set_log_level",
        [](const std::string& level) {
            if (!setPrintedLogLevel(level))
                throw py::value_error("unknown log level '" + level + "': trace, debug, info, warning, error or off");
        },
        py::arg("level"),
        R"doc(Sets which of the driver's messages are printed on standard output: "trace", "debug",
"info" (the default), "warning", "error" or "off". Exceptions carry their reason either way.)doc");
}
