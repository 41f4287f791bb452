#include "Errors.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "DriverLog.h"

namespace py = pybind11;

namespace norvale::python {

void raiseOsError(int errnum, const std::string& text, const std::string& path) {
    py::object error = py::reinterpret_borrow<py::object>(PyExc_OSError)(errnum, text, path);
    PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(error.ptr())), error.ptr());
    throw py::error_already_set();
}

void raiseDriverError(const std::string& fallback) { throw py::value_error(driverReason(fallback)); }

void checkReadablePath(const std::string& path) {
    // O_NONBLOCK: a pipe without a writer would otherwise block the open.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const int err = errno;
        raiseOsError(err, std::strerror(err), path);
    }
    struct stat st {};
    const bool statOk = ::fstat(fd, &st) == 0;
    ::close(fd);
    if (statOk && S_ISDIR(st.st_mode)) raiseOsError(EISDIR, std::strerror(EISDIR), path);
    if (!statOk || !S_ISREG(st.st_mode)) throw py::value_error(path + ": not a regular file");
}

void checkWritablePath(const std::string& path) {
    if (path.empty()) raiseOsError(ENOENT, std::strerror(ENOENT), path);
    const size_t slash = path.find_last_of('/');
    const std::string folder = slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
    struct stat st {};
    if (::stat(folder.c_str(), &st) != 0) {
        const int err = errno;
        raiseOsError(err, std::strerror(err), folder);
    }
    if (!S_ISDIR(st.st_mode)) raiseOsError(ENOTDIR, std::strerror(ENOTDIR), folder);
    if (::access(folder.c_str(), W_OK) != 0) {
        const int err = errno;
        raiseOsError(err, std::strerror(err), folder);
    }
    if (::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) raiseOsError(EISDIR, std::strerror(EISDIR), path);
}

} // namespace norvale::python
