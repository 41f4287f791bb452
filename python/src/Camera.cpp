#include "Camera.h"

#include <cctype>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "Args.h"
#include "DriverLog.h"
#include "Errors.h"
#include "EventArrays.h"
#include "FileState.h"
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
    out["link"] = d.linkType == LINK_ETHERNET ? "ethernet" : "usb";
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
    {
        py::gil_scoped_release nogil;
        descs = DvsCameraManager().getCameraDescs();
    }
    py::list out;
    for (const CameraDescription& d : descs) out.append(describe(d));
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
        if (type == PARAM_BOOL) {
            if (!py::isinstance<py::bool_>(value)) throw py::type_error(name + " takes True or False");
            ok = tool->setParam(name, value.cast<bool>());
        } else if (type == PARAM_INT) {
            if (!py::isinstance<py::int_>(value) || py::isinstance<py::bool_>(value))
                throw py::type_error(name + " takes an integer");
            const long long v = value.cast<long long>();
            ok = v >= INT32_MIN && v <= INT32_MAX && tool->setParam(name, int(v));
        } else if (type == PARAM_FLOAT) {
            if (!py::isinstance<py::int_>(value) && !py::isinstance<py::float_>(value))
                throw py::type_error(name + " takes a number");
            ok = tool->setParam(name, value.cast<float>());
        } else {
            if (!py::isinstance<py::str>(value)) throw py::type_error(name + " takes a string");
            ok = tool->setParam(name, value.cast<std::string>());
        }
        if (!ok) throw py::value_error(tool->getName() + ": " + py::repr(value).cast<std::string>() +
                                       " is refused for " + name + " (" + allowed(name, type) + ")");
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

class Camera {
public:
    explicit Camera(const std::string& serial) {
        bool known = false;
        {
            py::gil_scoped_release nogil;
            DvsCameraManager manager;
            for (const CameraDescription& d : manager.getCameraDescs()) known = known || d.serial == serial;
            if (known) cam = manager.openCamera(serial);
            // The hand-off of events begins with the first call: from here on nothing is missed.
            if (cam) cam->getNextBatch(batch);
        }
        if (!known) throw py::value_error("no camera with serial '" + serial + "' (norvale.cameras() lists them)");
        if (!cam)
            throw py::value_error("camera '" + serial + "' cannot be opened here: it is open already or is a fusion camera");
    }

    void start() { check(call([&] { return cam->start(); }) == 0, "cannot start"); }
    void stop() { check(call([&] { return cam->stop(); }) == 0, "cannot stop"); }

    // Waits up to timeout for events, the GIL released; an empty array when none came.
    py::array nextBatch(double timeoutS) {
        open();
        std::vector<Event2D> events;
        {
            py::gil_scoped_release nogil;
            const auto until = std::chrono::steady_clock::now() + std::chrono::duration<double>(timeoutS);
            while (!cam->getNextBatch(events) && std::chrono::steady_clock::now() < until && cam->isConnected())
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        return eventsToArray(std::move(events));
    }

    void record(py::handle pathObject) {
        const std::string path = pathArg(pathObject);
        open();
        checkWritablePath(path);
        // The recorder replaces its file: never one a RawFile is reading.
        if (FileState::openInputNamed(path).valid)
            throw py::value_error("output " + path + " is a recording open for reading; nothing was written");
        if (!call([&] { return cam->startRecording(path); }))
            throw py::value_error(driverReason("cannot record to " + path + ": a recording runs or the file cannot be created"));
    }

    uint64_t stopRecording() {
        open();
        if (!call([&] { return cam->stopRecording(); }))
            throw py::value_error(driverReason("stop_recording: nothing was recording or writing the file failed"));
        return cam->getRecordedEventCount();
    }

    py::dict tools() {
        open();
        py::dict out;
        for (const ToolInfo& info : cam->getAllToolsInfo())
            if (auto t = cam->getTool(info.type)) out[py::str(toolKey(info.name))] = Tool(t);
        return out;
    }

    void close() {
        std::shared_ptr<DvsCamera> dropped = std::move(cam);
        py::gil_scoped_release nogil;
        dropped.reset(); // stops streaming and recording
    }

    const DvsCamera& camera() {
        open();
        return *cam;
    }

private:
    void open() const {
        if (!cam) throw py::value_error("the camera is closed");
    }
    template <class F>
    auto call(F f) -> decltype(f()) {
        open();
        py::gil_scoped_release nogil;
        clearDriverReason();
        return f();
    }
    void check(bool ok, const char* what) {
        if (!ok) throw py::value_error(std::string(what) + " camera " + cam->getCameraDescription().serial + ": it is disconnected");
    }

    std::shared_ptr<DvsCamera> cam;
    std::vector<Event2D> batch;
};

} // namespace

void bindCamera(py::module_& m) {
    m.def("cameras", &cameras, R"doc(The cameras that can be opened, as a list of dicts: serial, product,
manufacturer, link ("usb" or "ethernet"), camera_ip, local_ip, netmask, gateway (dotted quads,
empty for USB cameras), mac_address (0 for USB cameras) and firmware.)doc");

    py::class_<Tool>(m, "CameraTool", R"doc(The parameters of one tool of a camera, as a mapping: tool["name"]
reads the current value, tool["name"] = value sets it at once. An unknown name raises KeyError,
a value of the wrong type TypeError, a value the tool refuses (out of range, not an option)
ValueError, and the tool keeps its setting.)doc")
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

    py::class_<Camera>(m, "Camera", R"doc(An open event camera (DVS), by serial from norvale.cameras().

start() and stop() the stream; next_batch() gives the events since the last call as a structured
array (fields t, x, y, p, in time order; t in microseconds of camera time). record(path) writes the
stream into an EVT 3.0 raw file until stop_recording(). tools maps tool names ("biases",
"trigger_in", "anti_flicker", ...) to their parameters. A camera is open in one place at a time:
close() it (or use "with") to let it be opened again. Unknown serial: ValueError.)doc")
        .def(py::init<const std::string&>(), py::arg("serial"))
        .def("start", &Camera::start, "Starts streaming (camera time begins near 0). The GIL is released.")
        .def("stop", &Camera::stop, "Stops streaming; a running recording keeps its file open. The GIL is released.")
        .def("next_batch", &Camera::nextBatch, py::arg("timeout") = 1.0,
             R"doc(The events since the last call as a structured array (norvale.EVENT_DTYPE), in time
order. Waits up to timeout seconds (GIL released) for some; empty when none came. A caller that
falls far behind gets the newest events, the older ones counted in dropped_events.)doc")
        .def("record", &Camera::record, py::arg("path"),
             "Starts recording the stream into an EVT 3.0 raw file at path (replaced if present). ValueError when a recording runs, path is a file open in a RawFile, or the file cannot be created.")
        .def("stop_recording", &Camera::stopRecording,
             "Finishes the recording and returns the number of events written to it. ValueError when nothing was recording or a write failed.")
        .def_property_readonly("tools", &Camera::tools, "The camera's tools: a dict of name -> CameraTool.")
        .def_property_readonly("description", [](Camera& c) { return describe(c.camera().getCameraDescription()); },
                               "The camera's entry of norvale.cameras().")
        .def_property_readonly("width", [](Camera& c) { return c.camera().getWidth(); }, "Sensor width in pixels.")
        .def_property_readonly("height", [](Camera& c) { return c.camera().getHeight(); }, "Sensor height in pixels.")
        .def_property_readonly("connected", [](Camera& c) { return c.camera().isConnected(); }, "False once the device is gone.")
        .def_property_readonly("recorded_events", [](Camera& c) { return c.camera().getRecordedEventCount(); },
                               "Events written into the current (or last) recording.")
        .def_property_readonly("delivered_events", [](Camera& c) { return c.camera().getDeliveredEventCount(); },
                               "Events the camera delivered since it was opened.")
        .def_property_readonly("dropped_events", [](Camera& c) { return c.camera().getDroppedEventCount(); },
                               "Events next_batch dropped because the caller fell behind.")
        .def("close", &Camera::close, "Stops streaming and recording and releases the camera.")
        .def("__enter__", [](py::object self) { return self; })
        .def("__exit__", [](Camera& c, py::args) { c.close(); });
}

} // namespace norvale::python
