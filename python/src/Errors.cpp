#include "Errors.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "DriverLog.h"
#include "norvale/SafeOutputFile.h"

namespace py = pybind11;

namespace norvale::python {

void raiseOsError(int errnum, const std::string& text, const std::string& path) {
    py::object error = py::reinterpret_borrow<py::object>(PyExc_OSError)(errnum, text, path);
    PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(error.ptr())), error.ptr());
    throw py::error_already_set();
}

void raiseDriverError(const std::string& fallback) { throw py::value_error(driverReason(fallback)); }

void checkReadablePath(const std::string& path) {
    // The driver refuses what is not a regular file too, but only with a text: the error number
    // picks the Python exception.
    std::string problem;
    const int fd = openRegularFile(path, problem);
    if (fd >= 0) {
        ::close(fd);
        return;
    }
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        const int err = errno;
        raiseOsError(err, std::strerror(err), path);
    }
    if (S_ISDIR(st.st_mode)) raiseOsError(EISDIR, std::strerror(EISDIR), path);
    if (!S_ISREG(st.st_mode)) throw py::value_error(path + ": " + problem);
    // A regular file that cannot be opened: the open's own error.
    const int again = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    const int err = again < 0 ? errno : EIO;
    if (again >= 0) ::close(again);
    raiseOsError(err, problem, path);
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
