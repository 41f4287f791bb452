#include "Camera.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "Args.h"
#include "DriverLog.h"
#include "Errors.h"
#include "EventArrays.h"
#include "FileState.h"
#include "FusionTap.h"
#include "ArrayPool.h"
#include "norvale/DvsCameraManager.h"

namespace py = pybind11;

namespace norvale::python {

namespace {

// Python calls hold the GIL; the camera's own threads never call back into Python, so every
// blocking driver call below runs with the GIL released.

// "Trigger In" -> "trigger_in": the key of a tool in Camera.tools.
std::string toolKey(const std::string& name) {
    std::string key;
    for (char c : name) key += c == ' ' ? '_' : char(std::tolower(static_cast<unsigned char>(c)));
    return key;
}

py::dict describe(const CameraDescription& d) {
    py::dict out;
    out["serial"] = d.serial;
    out["product"] = d.product;
    out["manufacturer"] = d.manufacturer;
    out["link"] = d.linkType == LINK_ETHERNET ? "ethernet" : d.linkType == LINK_NETWORK_STREAM ? "network" : "usb";
    out["camera_ip"] = d.cameraIp;
    out["local_ip"] = d.localIp;
    out["netmask"] = d.netmask;
    out["gateway"] = d.gateway;
    out["mac_address"] = d.macAddress;
    out["firmware"] = d.firmwareVersion;
    return out;
}

py::list cameras() {
    std::vector<CameraDescription> descs;
    std::vector<bool> fusion;
    {
        py::gil_scoped_release nogil;
        DvsCameraManager manager;
        descs = manager.getCameraDescs();
        for (const CameraDescription& d : descs) fusion.push_back(manager.isFusionCamera(d.serial));
    }
    py::list out;
    for (size_t i = 0; i < descs.size(); ++i) {
        py::dict d = describe(descs[i]);
        d["fusion"] = bool(fusion[i]);
        out.append(d);
    }
    return out;
}

// One tool's parameters as a mapping: name -> value.
class Tool {
public:
    explicit Tool(std::shared_ptr<CameraTool> t) : tool(std::move(t)) {}

    py::object get(const std::string& name) const {
        switch (typeOf(name)) {
        case PARAM_INT: { int v = 0; tool->getParam(name, v); return py::int_(v); }
        case PARAM_FLOAT: { float v = 0; tool->getParam(name, v); return py::float_(v); }
        case PARAM_BOOL: { bool v = false; tool->getParam(name, v); return py::bool_(v); }
        default: { std::string v; tool->getParam(name, v); return py::str(v); }
        }
    }

    void set(const std::string& name, py::handle value) {
        const int type = typeOf(name);
        bool ok;
        clearDriverReason();
        if (type == PARAM_BOOL) {
            if (!py::isinstance<py::bool_>(value)) throw py::type_error(name + " takes True or False");
            ok = tool->setParam(name, value.cast<bool>());
        } else if (type == PARAM_INT) {
            if (!py::isinstance<py::int_>(value) || py::isinstance<py::bool_>(value))
                throw py::type_error(name + " takes an integer");
            int overflow = 0; // beyond long long (10**30): out of range like any other, not a cast error
            const long long v = PyLong_AsLongLongAndOverflow(value.ptr(), &overflow);
            ok = !overflow && v >= INT32_MIN && v <= INT32_MAX && tool->setParam(name, int(v));
        } else if (type == PARAM_FLOAT) {
            if (!py::isinstance<py::int_>(value) && !py::isinstance<py::float_>(value))
                throw py::type_error(name + " takes a number");
            ok = tool->setParam(name, value.cast<float>());
        } else {
            if (!py::isinstance<py::str>(value)) throw py::type_error(name + " takes a string");
            ok = tool->setParam(name, value.cast<std::string>());
        }
        if (ok) return;
        // A value outside its limits is told with the limits; anything else (a window that does not
        // fit, a closed camera) with the reason the tool logged.
        if (!withinLimits(name, type, value))
            throw py::value_error(tool->getName() + ": " + py::repr(value).cast<std::string>() + " is refused for " +
                                  name + " (" + allowed(name, type) + ")");
        throw py::value_error(callerReason(tool->getName() + ": " + py::repr(value).cast<std::string>() +
                                           " is refused for " + name));
    }

    py::list keys() const {
        py::list out;
        for (const auto& [name, info] : tool->getAllParamInfo()) out.append(name);
        return out;
    }

    // Every parameter with its description, type, limits or options and default.
    py::dict info() const {
        py::dict out;
        for (const auto& [name, basic] : tool->getAllParamInfo()) {
            py::dict d;
            d["description"] = basic.description;
            if (basic.type == PARAM_INT) {
                IntParameterInfo i;
                tool->getIntParamInfo(name, i);
                d["type"] = "int", d["min"] = i.min, d["max"] = i.max, d["default"] = i.defaultValue, d["unit"] = i.unit;
            } else if (basic.type == PARAM_FLOAT) {
                FloatParameterInfo i;
                tool->getFloatParamInfo(name, i);
                d["type"] = "float", d["min"] = i.min, d["max"] = i.max, d["default"] = i.defaultValue, d["unit"] = i.unit;
            } else if (basic.type == PARAM_BOOL) {
                BoolParameterInfo i;
                tool->getBoolParamInfo(name, i);
                d["type"] = "bool", d["default"] = i.defaultValue;
            } else {
                EnumParameterInfo i;
                tool->getEnumParamInfo(name, i);
                d["type"] = "enum", d["options"] = i.options, d["default"] = i.defaultValue;
            }
            out[py::str(name)] = d;
        }
        return out;
    }

    std::string name() const { return tool->getName(); }

private:
    int typeOf(const std::string& name) const {
        const auto all = tool->getAllParamInfo();
        const auto it = all.find(name);
        if (it == all.end()) throw py::key_error(tool->getName() + " has no parameter '" + name + "'");
        return it->second.type;
    }

    // Whether value (of the parameter's Python type, checked already) lies within its limits or options.
    bool withinLimits(const std::string& name, int type, py::handle value) const {
        if (type == PARAM_INT) {
            IntParameterInfo i;
            tool->getIntParamInfo(name, i);
            int overflow = 0;
            const long long v = PyLong_AsLongLongAndOverflow(value.ptr(), &overflow);
            return !overflow && v >= i.min && v <= i.max;
        }
        if (type == PARAM_FLOAT) {
            FloatParameterInfo i;
            tool->getFloatParamInfo(name, i);
            const float v = value.cast<float>();
            return std::isfinite(v) && v >= i.min && v <= i.max;
        }
        if (type == PARAM_ENUM) {
            EnumParameterInfo i;
            tool->getEnumParamInfo(name, i);
            const std::string v = value.cast<std::string>();
            return std::find(i.options.begin(), i.options.end(), v) != i.options.end();
        }
        return true;
    }

    std::string allowed(const std::string& name, int type) const {
        if (type == PARAM_INT) {
            IntParameterInfo i;
            tool->getIntParamInfo(name, i);
            return "allowed: " + std::to_string(i.min) + " .. " + std::to_string(i.max);
        }
        if (type == PARAM_FLOAT) {
            FloatParameterInfo i;
            tool->getFloatParamInfo(name, i);
            return "allowed: " + std::to_string(i.min) + " .. " + std::to_string(i.max);
        }
        if (type == PARAM_ENUM) {
            EnumParameterInfo i;
            tool->getEnumParamInfo(name, i);
            std::string list;
            for (const std::string& o : i.options) list += (list.empty() ? "" : ", ") + o;
            return "one of " + list;
        }
        return "the tool refuses this value now";
    }

    std::shared_ptr<CameraTool> tool;
};

// A DVS camera, or a fusion camera with its tap; the calls both have go to whichever is open.
class Camera {
public:
    // serial, or "udp://ADDRESS:PORT" for the event stream that comes there (of width x height, in
    // format), which then becomes a network camera of this process.
    Camera(const std::string& name, uint32_t width, uint32_t height, const std::string& format) {
        std::string serial = name;
        if (name.rfind("udp://", 0) == 0) {
            std::string why;
            serial = DvsCameraManager::addNetworkCamera(name, width, height, format, why);
            if (serial.empty()) throw py::value_error("cannot open " + name + ": " + why);
        }
        bool known = false;
        {
            py::gil_scoped_release nogil;
            clearDriverReason();
            DvsCameraManager manager;
            for (const CameraDescription& d : manager.getCameraDescs()) known = known || d.serial == serial;
            if (known && manager.isFusionCamera(serial)) {
                fusion = manager.openFusionCamera(serial);
                if (fusion) tap = std::make_unique<FusionTap>(fusion);
            } else if (known) {
                dvs = manager.openCamera(serial);
                // The hand-off of events begins with the first call: from here on nothing is missed.
                if (dvs) dvs->getNextBatch(batch);
            }
        }
        if (!known) throw py::value_error("no camera with serial '" + serial + "' (norvale.cameras() lists them)");
        if (!dvs && !fusion)
            throw py::value_error(driverReason("camera '" + serial + "' cannot be opened: it is open already"));
    }
    void start() { check(call([&](auto& c) { return startStream(c); }) == 0, "cannot start"); }
    void stop() { check(call([&](auto& c) { return stopStream(c); }) == 0, "cannot stop"); }

    // Waits up to timeout for events, the GIL released; an empty array when none came.
    py::array nextBatch(double timeoutS) {
        open();
        std::vector<Event2D> events = takeVector(lastBatch);
        {
            py::gil_scoped_release nogil;
            const std::chrono::duration<double> timeout(std::max(timeoutS, 0.0));
            if (tap) {
                tap->takeEvents(events, timeout);
            } else {
                const auto until = std::chrono::steady_clock::now() + timeout;
                while (!dvs->getNextBatch(events) && std::chrono::steady_clock::now() < until && dvs->isConnected())
                    std::this_thread::sleep_for(std::chrono::milliseconds(2));
            }
        }
        lastBatch = events.size();
        return eventsToArray(std::move(events));
    }

    // (timestamp, HxWx3 pixels) of the next APS frame, None when none came within timeout.
    py::object nextFrame(double timeoutS) {
        open();
        if (!tap) throw py::value_error("camera " + description().serial + " has no APS image: it is not a fusion camera");
        auto frame = std::make_unique<ApsFrame>();
        bool got;
        {
            py::gil_scoped_release nogil;
            got = tap->takeFrame(*frame, std::chrono::duration<double>(std::max(timeoutS, 0.0)));
        }
        if (!got) return py::none();
        const uint64_t timestamp = frame->timestamp;
        const py::ssize_t h = frame->height(), w = frame->width();
        uint8_t* pixels = frame->data();
        // The array shares the frame's pixels (a recording's video writer may still read them):
        // read-only, kept alive by the capsule.
        py::capsule owner(frame.release(), [](void* p) { delete static_cast<ApsFrame*>(p); });
        py::array_t<uint8_t> image({h, w, py::ssize_t(3)}, {w * 3, py::ssize_t(3), py::ssize_t(1)}, pixels, owner);
        image.attr("setflags")(py::arg("write") = false);
        return py::make_tuple(timestamp, image);
    }

    void record(py::handle pathObject, bool overwrite) {
        std::string path = pathArg(pathObject);
        open();
        checkWritablePath(path);
        // A fusion camera writes base.raw, base.mp4 and base.json.
        std::string base = path;
        if (fusion && base.size() > 4 && base.compare(base.size() - 4, 4, ".raw") == 0) base.resize(base.size() - 4);
        const std::string raw = fusion ? base + ".raw" : path;
        // Never a file a RawFile is reading, even when asked to overwrite.
        if (FileState::openInputNamed(raw).valid)
            throw py::value_error("output " + raw + " is a recording open for reading; nothing was written");
        const size_t slash = base.find_last_of('/');
        const std::string folder = slash == std::string::npos ? "." : base.substr(0, std::max<size_t>(slash, 1));
        const std::string name = slash == std::string::npos ? base : base.substr(slash + 1);
        clearDriverReason();
        const bool ok = call([&](auto& c) { return startRecordingTo(c, path, folder, name, overwrite); });
        if (!ok)
            throw py::value_error(
                driverReason("cannot record to " + path + ": a recording runs or the file cannot be created"));
    }

    uint64_t stopRecording() {
        if (!call([&](auto& c) { return stopRecordingOf(c); }))
            throw py::value_error(driverReason("stop_recording: nothing was recording or writing the file failed"));
        return call([](auto& c) { return c.getRecordedEventCount(); });
    }

    py::dict tools() {
        py::dict out;
        std::vector<std::pair<std::string, std::shared_ptr<CameraTool>>> found;
        call([&](auto& c) {
            for (const ToolInfo& info : c.getAllToolsInfo())
                if (auto t = c.getTool(info.type)) found.emplace_back(toolKey(info.name), t);
            return 0;
        });
        for (auto& [key, tool] : found) out[py::str(key)] = Tool(tool);
        return out;
    }

    void close() {
        std::unique_ptr<FusionTap> droppedTap = std::move(tap);
        std::shared_ptr<DvsCamera> droppedDvs = std::move(dvs);
        std::shared_ptr<FusionCamera> droppedFusion = std::move(fusion);
        py::gil_scoped_release nogil;
        droppedTap.reset(); // its callbacks removed before the camera goes
        droppedDvs.reset(); // stops streaming and recording
        droppedFusion.reset();
    }

    bool isFusion() const { return bool(fusion); }
    CameraDescription description() { return call([](auto& c) { return c.getCameraDescription(); }); }
    int width() { return call([](auto& c) { return int(c.getWidth()); }); }
    int height() { return call([](auto& c) { return int(c.getHeight()); }); }
    bool connected() { return call([](auto& c) { return c.isConnected(); }); }
    uint64_t recordedEvents() { return call([](auto& c) { return c.getRecordedEventCount(); }); }
    uint64_t deliveredEvents() {
        open();
        return tap ? tap->delivered() : dvs->getDeliveredEventCount();
    }
    uint64_t droppedEvents() {
        open();
        return tap ? tap->droppedEvents() : dvs->getDroppedEventCount();
    }
    py::dict streamLoss() {
        open();
        const NrStreamLoss l = dvs ? dvs->getStreamLoss() : NrStreamLoss{};
        py::dict d;
        d["datagrams"] = l.datagrams;
        d["lost_datagrams"] = l.lostDatagrams;
        d["malformed_datagrams"] = l.malformedDatagrams;
        d["reordered_datagrams"] = l.reorderedDatagrams;
        d["reordered_events"] = l.reorderedEvents;
        d["invalid_events"] = l.invalidEvents;
        return d;
    }
    py::object fusionFigure(const char* what) {
        open();
        if (!fusion) return py::none();
        const std::string w = what;
        if (w == "aps_width") return py::int_(fusion->getApsWidth());
        if (w == "aps_height") return py::int_(fusion->getApsHeight());
        if (w == "aps_frame_rate") return py::float_(fusion->getApsFrameRate());
        if (w == "recorded_frames") return py::int_(fusion->getRecordedFrameCount());
        return py::int_(tap->droppedFrames());
    }

private:
    static int startStream(DvsCamera& c) { return c.start(); }
    static int startStream(FusionCamera& c) { return c.start(STREAM_FUSION); }
    static int stopStream(DvsCamera& c) { return c.stop(); }
    static int stopStream(FusionCamera& c) { return c.stop(STREAM_FUSION); }
    static bool startRecordingTo(DvsCamera& c, const std::string& path, const std::string&, const std::string&,
                                 bool overwrite) {
        return c.startRecording(path, overwrite);
    }
    static bool startRecordingTo(FusionCamera& c, const std::string&, const std::string& folder, const std::string& name,
                                 bool overwrite) {
        return c.startRecording(folder, name, STREAM_FUSION, overwrite);
    }
    static bool stopRecordingOf(DvsCamera& c) { return c.stopRecording(); }
    static bool stopRecordingOf(FusionCamera& c) { return c.stopRecording(STREAM_FUSION); }

    void open() const {
        if (!dvs && !fusion) throw py::value_error("the camera is closed");
    }
    // f(camera) on whichever camera is open, with the GIL released.
    template <class F>
    auto call(F f) -> decltype(f(std::declval<DvsCamera&>())) {
        open();
        py::gil_scoped_release nogil;
        clearDriverReason();
        return dvs ? f(*dvs) : f(*fusion);
    }
    void check(bool ok, const char* what) {
        if (!ok) throw py::value_error(std::string(what) + " camera " + description().serial + ": it is disconnected");
    }

    std::shared_ptr<DvsCamera> dvs;
    std::shared_ptr<FusionCamera> fusion;
    std::unique_ptr<FusionTap> tap; // with fusion
    std::vector<Event2D> batch;
    size_t lastBatch = 0;
};

} // namespace

void bindCamera(py::module_& m) {
    m.def("cameras", &cameras, R"doc(The cameras that can be opened, as a list of dicts: serial, product,
manufacturer, link ("usb", "ethernet" or "network"), camera_ip, local_ip, netmask, gateway (dotted quads,
empty for USB cameras), mac_address (0 for USB cameras), firmware and fusion (True for a camera
with an APS image).)doc");

    py::class_<Tool>(m, "CameraTool", R"doc(The parameters of one tool of a camera, as a mapping: tool["name"]
reads the current value, tool["name"] = value sets it at once. An unknown name raises KeyError,
a value of the wrong type TypeError, a value the tool refuses (out of range, not an option, an
ROI window that does not fit the sensor) ValueError saying why, and the tool keeps its setting.
A tool kept after its camera is closed still reads its last values and refuses every new one.)doc")
        .def("__getitem__", &Tool::get, py::arg("name"))
        .def("__setitem__", &Tool::set, py::arg("name"), py::arg("value"))
        .def("__contains__", [](const Tool& t, const std::string& n) { return t.keys().contains(n); })
        .def("__iter__", [](const Tool& t) { return t.keys().attr("__iter__")(); })
        .def("__len__", [](const Tool& t) { return t.keys().size(); })
        .def("keys", &Tool::keys, "The parameter names, in order.")
        .def("items", [](const Tool& t) {
            py::list out;
            for (py::handle k : t.keys()) out.append(py::make_tuple(k, t.get(k.cast<std::string>())));
            return out;
        }, "(name, value) pairs.")
        .def_property_readonly("info", &Tool::info,
                               "Every parameter: description, type and its limits, options, unit and default.")
        .def_property_readonly("name", &Tool::name, "The tool's name as the viewer shows it.")
        .def("__repr__", [](const Tool& t) { return "<norvale.CameraTool " + t.name() + ">"; });

    py::class_<Camera>(m, "Camera", R"doc(An open event camera, by serial from norvale.cameras(): a DVS camera, or a fusion
camera that adds an APS intensity image (fusion is True).

start() and stop() the stream; next_batch() gives the events since the last call as a structured
array (fields t, x, y, p, in time order; t in microseconds of camera time), next_frame() a fusion
camera's APS images. record(path) writes the stream into an EVT 3.0 raw file until
stop_recording() (a fusion camera adds the APS video and its calibration beside it). tools maps
tool names ("biases", "trigger_in", "anti_flicker", "aps", ...) to their parameters. A camera is
open in one place at a time: close() it (or use "with") to let it be opened again. Unknown serial
or a camera open already: ValueError.)doc")
        .def(py::init<const std::string&, uint32_t, uint32_t, const std::string&>(), py::arg("serial"),
             py::arg("width") = 1280, py::arg("height") = 720, py::arg("format") = "t64_x16_y16_on8",
             R"doc(Opens the camera of that serial, or with serial "udp://ADDRESS:PORT" the event stream
that comes to that address (ADDRESS a dotted quad or localhost; nothing listens beyond it): width x
height events in the wire format "t64_x16_y16_on8" (13 bytes an event) or "t32_x16_y15_on1" (8 bytes),
as the field's streaming tools send them. Such a camera streams and records like any other; what
it could not take (datagrams the system dropped, malformed or late ones) is in stream_loss.)doc")
        .def("start", &Camera::start,
             "Starts streaming, the APS image too on a fusion camera (camera time begins near 0). The GIL is released.")
        .def("stop", &Camera::stop, "Stops streaming; a running recording keeps its file open. The GIL is released.")
        .def("next_batch", &Camera::nextBatch, py::arg("timeout") = 1.0,
             R"doc(The events since the last call as a structured array (norvale.EVENT_DTYPE), in time
order. Waits up to timeout seconds (GIL released) for some; empty when none came. A caller that
falls far behind gets the newest events, the older ones counted in dropped_events.)doc")
        .def("next_frame", &Camera::nextFrame, py::arg("timeout") = 1.0,
             R"doc(The next APS image of a fusion camera as (t, image), or None when none came within
timeout seconds (GIL released). t is the exposure's start in microseconds of the events' clock;
image is a read-only uint8 array of aps_height x aps_width x 3 in blue, green, red order
(image[..., ::-1] is RGB; image.copy() to change it). The newest few frames are kept; older ones
are counted in dropped_frames. ValueError on a DVS camera.)doc")
        .def("record", &Camera::record, py::arg("path"), py::arg("overwrite") = false,
             R"doc(Starts recording the stream into an EVT 3.0 raw file at path, readable while it grows. A
fusion camera writes base.raw, base.mp4 (the APS images) and base.json (its calibration) for a
path of base or base.raw. A file that exists is refused unless overwrite=True; then it is replaced
only when stop_recording succeeds (meanwhile the recording is NAME.recording-XXXXXX.raw beside
it). ValueError, saying why, when a recording runs, the output exists (without overwrite), is not a
regular file, is the file a replay camera plays or another recording writes, the raw file is open
in a RawFile, or a file cannot be created.)doc")
        .def("stop_recording", &Camera::stopRecording,
             "Finishes the recording and returns the number of events in its file. ValueError when nothing was recording or a write failed.")
        .def_property_readonly("tools", &Camera::tools, "The camera's tools: a dict of name -> CameraTool.")
        .def_property_readonly("description",
                               [](Camera& c) {
                                   py::dict d = describe(c.description());
                                   d["fusion"] = c.isFusion();
                                   return d;
                               },
                               "The camera's entry of norvale.cameras().")
        .def_property_readonly("fusion", &Camera::isFusion, "True for a fusion camera (events and APS images).")
        .def_property_readonly("width", &Camera::width, "Event sensor width in pixels.")
        .def_property_readonly("height", &Camera::height, "Event sensor height in pixels.")
        .def_property_readonly("aps_width", [](Camera& c) { return c.fusionFigure("aps_width"); },
                               "APS image width in pixels; None on a DVS camera.")
        .def_property_readonly("aps_height", [](Camera& c) { return c.fusionFigure("aps_height"); },
                               "APS image height in pixels; None on a DVS camera.")
        .def_property_readonly("aps_frame_rate", [](Camera& c) { return c.fusionFigure("aps_frame_rate"); },
                               "APS frames per second; None on a DVS camera.")
        .def_property_readonly("connected", &Camera::connected, "False once the device is gone.")
        .def_property_readonly("recorded_events", &Camera::recordedEvents,
                               "Events that reached the file of the current (or last) recording.")
        .def_property_readonly("recorded_frames", [](Camera& c) { return c.fusionFigure("recorded_frames"); },
                               "APS frames written into the current (or last) recording's video; None on a DVS camera.")
        .def_property_readonly("delivered_events", &Camera::deliveredEvents,
                               "Events the camera delivered since it was opened.")
        .def_property_readonly("dropped_events", &Camera::droppedEvents,
                               "Events next_batch dropped because the caller fell behind.")
        .def_property_readonly("stream_loss", &Camera::streamLoss,
                               R"doc(A network camera's datagrams received and what it left out since it was
opened: datagrams, lost_datagrams (dropped by the system's receive queue), malformed_datagrams
(not whole events), reordered_datagrams and reordered_events (older than the stream already handed
on), invalid_events (outside the geometry); all 0 for other cameras.)doc")
        .def_property_readonly("dropped_frames", [](Camera& c) { return c.fusionFigure("dropped_frames"); },
                               "APS frames next_frame dropped because the caller fell behind; None on a DVS camera.")
        .def("close", &Camera::close, "Stops streaming and recording and releases the camera.")
        .def("__enter__", [](py::object self) { return self; })
        .def("__exit__", [](Camera& c, py::args) { c.close(); });
}

} // namespace norvale::python
