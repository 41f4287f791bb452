#include "formats/hdf5/Hdf5Writer.h"

#include <limits>

#include "norvale/FuncUtils.h"
#include "norvale/Logger.h"

namespace norvale::detail {

using hdf5::Handle;

namespace {

// Shuffle + gzip 1: timestamps and coordinates shrink to about a third, quickly.
constexpr unsigned kGzipLevel = 1;

Handle createExtendible(hid_t loc, const char* name, hid_t fileType, bool compress) {
    const hsize_t zero[1] = {0}, unlimited[1] = {H5S_UNLIMITED}, chunk[1] = {Hdf5Writer::kChunkEvents};
    Handle space(H5Screate_simple(1, zero, unlimited));
    Handle dcpl(H5Pcreate(H5P_DATASET_CREATE));
    H5Pset_chunk(dcpl.get(), 1, chunk);
    if (compress) {
        H5Pset_shuffle(dcpl.get());
        H5Pset_deflate(dcpl.get(), kGzipLevel);
    }
    return Handle(H5Dcreate2(loc, name, fileType, space.get(), H5P_DEFAULT, dcpl.get(), H5P_DEFAULT));
}

bool writeAttribute(hid_t loc, const char* name, uint32_t value) {
    Handle space(H5Screate(H5S_SCALAR));
    Handle attr(H5Acreate2(loc, name, H5T_STD_U32LE, space.get(), H5P_DEFAULT, H5P_DEFAULT));
    return attr && H5Awrite(attr.get(), H5T_NATIVE_UINT32, &value) >= 0;
}

bool writeAttribute(hid_t loc, const char* name, const std::string& value) {
    Handle space(H5Screate(H5S_SCALAR));
    Handle type(H5Tcopy(H5T_C_S1));
    H5Tset_size(type.get(), value.empty() ? 1 : value.size());
    H5Tset_strpad(type.get(), H5T_STR_NULLPAD);
    Handle attr(H5Acreate2(loc, name, type.get(), space.get(), H5P_DEFAULT, H5P_DEFAULT));
    const std::string stored = value.empty() ? std::string(1, '\0') : value;
    return attr && H5Awrite(attr.get(), type.get(), stored.data()) >= 0;
}

} // namespace

Hdf5Writer::~Hdf5Writer() {
    std::lock_guard<std::recursive_mutex> guard(hdf5::lock());
    for (Handle& s : sets) s.reset();
    msSet.reset();
    file.reset();
}

bool Hdf5Writer::begin(int, const std::string& filePath, const EventFileDescription& description,
                       std::string& problem) {
    hdf5::initLibrary();
    std::lock_guard<std::recursive_mutex> guard(hdf5::lock());
    path = filePath;
    // The output is already created and locked by us; the library's own lock would refuse it.
    Handle fapl(H5Pcreate(H5P_FILE_ACCESS));
    H5Pset_file_locking(fapl.get(), false, true);
    file.reset(H5Fcreate(path.c_str(), H5F_ACC_TRUNC, H5P_DEFAULT, fapl.get()));
    if (!file) {
        problem = "cannot create the HDF5 file: " + hdf5::lastError();
        return false;
    }
    Handle group(H5Gcreate2(file.get(), "events", H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT));
    const hid_t types[4] = {H5T_STD_U16LE, H5T_STD_U16LE, H5T_STD_U8LE, H5T_STD_I64LE};
    const char* names[4] = {"x", "y", "p", "t"};
    bool ok = bool(group);
    for (int i = 0; ok && i < 4; ++i) {
        sets[i] = createExtendible(group.get(), names[i], types[i], true);
        ok = bool(sets[i]);
    }
    msSet = createExtendible(file.get(), "ms_to_idx", H5T_STD_U64LE, true);
    Handle scalar(H5Screate(H5S_SCALAR));
    Handle offset(H5Dcreate2(file.get(), "t_offset", H5T_STD_I64LE, scalar.get(), H5P_DEFAULT, H5P_DEFAULT,
                             H5P_DEFAULT));
    const int64_t zero = 0;
    ok = ok && msSet && offset && H5Dwrite(offset.get(), H5T_NATIVE_INT64, H5S_ALL, H5S_ALL, H5P_DEFAULT, &zero) >= 0;
    ok = ok && writeAttribute(file.get(), "width", description.width) &&
         writeAttribute(file.get(), "height", description.height) &&
         writeAttribute(file.get(), "serial", description.serialNumber);
    if (ok && description.hasStartTime)
        ok = writeAttribute(file.get(), "date", timePointToString(description.startTime).substr(0, 19));
    if (!ok) {
        problem = "cannot lay out the HDF5 file: " + hdf5::lastError();
        return false;
    }
    xs.reserve(kChunkEvents);
    ys.reserve(kChunkEvents);
    ps.reserve(kChunkEvents);
    ts.reserve(kChunkEvents);
    return true;
}

bool Hdf5Writer::append(hid_t set, hid_t memType, const void* data, uint64_t at, uint64_t n, std::string& problem) {
    const hsize_t size[1] = {at + n}, start[1] = {at}, count[1] = {n};
    if (H5Dset_extent(set, size) >= 0) {
        Handle fileSpace(H5Dget_space(set));
        Handle memSpace(H5Screate_simple(1, count, nullptr));
        if (H5Sselect_hyperslab(fileSpace.get(), H5S_SELECT_SET, start, nullptr, count, nullptr) >= 0 &&
            H5Dwrite(set, memType, memSpace.get(), fileSpace.get(), H5P_DEFAULT, data) >= 0)
            return true;
    }
    problem = "cannot write to the HDF5 file " + path + ": " + hdf5::lastError();
    return false;
}

bool Hdf5Writer::flushEvents(std::string& problem) {
    const uint64_t n = ts.size();
    if (n == 0) return true;
    if (!append(sets[0].get(), H5T_NATIVE_UINT16, xs.data(), written, n, problem) ||
        !append(sets[1].get(), H5T_NATIVE_UINT16, ys.data(), written, n, problem) ||
        !append(sets[2].get(), H5T_NATIVE_UINT8, ps.data(), written, n, problem) ||
        !append(sets[3].get(), H5T_NATIVE_INT64, ts.data(), written, n, problem))
        return false;
    written += n;
    xs.clear();
    ys.clear();
    ps.clear();
    ts.clear();
    return true;
}

bool Hdf5Writer::flushMsIndex(std::string& problem) {
    if (msPending.empty()) return true;
    if (!append(msSet.get(), H5T_NATIVE_UINT64, msPending.data(), msWritten, msPending.size(), problem)) return false;
    msWritten += msPending.size();
    msPending.clear();
    return true;
}

bool Hdf5Writer::write(const Event2D* begin, const Event2D* end, const EventTriggerIn*, const EventTriggerIn*,
                       std::string& problem) {
    std::lock_guard<std::recursive_mutex> guard(hdf5::lock());
    for (const Event2D* e = begin; e != end; ++e) {
        if (e->timestamp > uint64_t(std::numeric_limits<int64_t>::max())) {
            problem = "event time " + std::to_string(e->timestamp) + " us is beyond what an HDF5 event file holds";
            return false;
        }
        if (!haveFirst) {
            haveFirst = true;
            firstTime = e->timestamp;
        }
        // Entries of every millisecond this event reaches (none when time goes back).
        if (msIndexKept && e->timestamp >= firstTime) {
            const uint64_t reach = (e->timestamp - firstTime) / 1000;
            if (reach >= kMaxMsEntries) {
                msIndexKept = false;
                msPending.clear();
                NR_LOG(LOG_WARN, "HDF5 file %s spans more than %llu ms: written without ms_to_idx", path.c_str(),
                       (unsigned long long)kMaxMsEntries);
            }
            for (; msIndexKept && nextMs <= reach; ++nextMs) {
                msPending.push_back(eventIndex);
                if (msPending.size() == kChunkEvents && !flushMsIndex(problem)) return false;
            }
        }
        xs.push_back(e->x);
        ys.push_back(e->y);
        ps.push_back(e->polarity);
        ts.push_back(int64_t(e->timestamp));
        ++eventIndex;
        if (ts.size() == kChunkEvents && !flushEvents(problem)) return false;
    }
    return true;
}

bool Hdf5Writer::end(std::string& problem) {
    std::lock_guard<std::recursive_mutex> guard(hdf5::lock());
    if (!flushEvents(problem)) return false;
    if (msIndexKept) {
        if (!flushMsIndex(problem)) return false;
    } else {
        msSet.reset();
        H5Ldelete(file.get(), "ms_to_idx", H5P_DEFAULT);
    }
    for (Handle& s : sets) s.reset();
    msSet.reset();
    // Closed here rather than by the handle, to see whether the last writes reached the file.
    const bool flushed = H5Fflush(file.get(), H5F_SCOPE_GLOBAL) >= 0;
    const bool closed = H5Fclose(file.release()) >= 0;
    if (!flushed || !closed) {
        problem = "cannot complete the HDF5 file " + path + ": " + hdf5::lastError();
        return false;
    }
    return true;
}

} // namespace norvale::detail
