#include "formats/hdf5/Hdf5Common.h"

#include <sys/stat.h>

#include <cstdlib>

#ifndef NORVALE_HDF5_PLUGIN_DIR
#define NORVALE_HDF5_PLUGIN_DIR "/usr/lib/x86_64-linux-gnu/hdf5/serial/plugins"
#endif

namespace norvale::detail::hdf5 {

namespace {
std::recursive_mutex* gLock = new std::recursive_mutex; // never destroyed: used up to the process's end
} // namespace

std::recursive_mutex& lock() { return *gLock; }

void freshLockInChild() { gLock = new std::recursive_mutex; }

void initLibrary() {
    std::lock_guard<std::recursive_mutex> guard(lock());
    static bool done = false;
    if (done) return;
    done = true;
    H5open();
    H5Eset_auto2(H5E_DEFAULT, nullptr, nullptr);
    // Debian installs the LZ4, Blosc and bzip2 filters outside the library's default folder; a user's
    // HDF5_PLUGIN_PATH wins.
    if (!std::getenv("HDF5_PLUGIN_PATH")) {
        struct stat st {};
        if (::stat(NORVALE_HDF5_PLUGIN_DIR, &st) == 0 && S_ISDIR(st.st_mode)) H5PLappend(NORVALE_HDF5_PLUGIN_DIR);
    }
}

namespace {

herr_t innermost(unsigned n, const H5E_error2_t* error, void* data) {
    // Walked upwards: the first frame is where the failure was found.
    if (n == 0 && error && error->desc) *static_cast<std::string*>(data) = error->desc;
    return 0;
}

} // namespace

std::string lastError() {
    std::lock_guard<std::recursive_mutex> guard(lock());
    std::string text;
    H5Ewalk2(H5E_DEFAULT, H5E_WALK_UPWARD, innermost, &text);
    H5Eclear2(H5E_DEFAULT);
    return text;
}

std::string because() {
    const std::string text = lastError();
    return text.empty() ? std::string() : ": " + text;
}

void Handle::reset(hid_t next) {
    if (id >= 0) {
        std::lock_guard<std::recursive_mutex> guard(lock());
        switch (H5Iget_type(id)) {
        case H5I_FILE: H5Fclose(id); break;
        case H5I_GROUP: H5Gclose(id); break;
        case H5I_DATASET: H5Dclose(id); break;
        case H5I_DATASPACE: H5Sclose(id); break;
        case H5I_DATATYPE: H5Tclose(id); break;
        case H5I_ATTR: H5Aclose(id); break;
        case H5I_GENPROP_LST: H5Pclose(id); break;
        default: break;
        }
    }
    id = next;
}

} // namespace norvale::detail::hdf5
