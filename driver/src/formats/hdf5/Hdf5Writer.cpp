#include "formats/hdf5/Hdf5Writer.h"

#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <limits>
#include <thread>

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
    xs.reserve(kBatchEvents);
    ys.reserve(kBatchEvents);
    ps.reserve(kBatchEvents);
    ts.reserve(kBatchEvents);
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

namespace {

// The shuffle filter's byte planes, then the deflate filter's zlib stream: what the library would
// store for one chunk, made here so that chunks compress on every core.
bool compressChunk(const uint8_t* data, size_t elementSize, size_t n, std::vector<uint8_t>& scratch,
                   std::vector<uint8_t>& out) {
    const size_t bytes = n * elementSize;
    const uint8_t* source = data;
    if (elementSize > 1) {
        scratch.resize(bytes);
        for (size_t j = 0; j < elementSize; ++j)
            for (size_t i = 0; i < n; ++i) scratch[j * n + i] = data[i * elementSize + j];
        source = scratch.data();
    }
    uLongf size = compressBound(uLong(bytes));
    out.resize(size);
    if (compress2(out.data(), &size, source, uLong(bytes), int(kGzipLevel)) != Z_OK) return false;
    out.resize(size);
    return true;
}

} // namespace

bool Hdf5Writer::flushEvents(bool last, std::string& problem) {
    const uint64_t n = ts.size();
    const uint64_t chunks = n / kChunkEvents;
    if (chunks > 0) {
        // Whole chunks: compressed on worker threads outside the library's lock, then stored as they are.
        const uint8_t* columns[4] = {reinterpret_cast<const uint8_t*>(xs.data()),
                                     reinterpret_cast<const uint8_t*>(ys.data()), ps.data(),
                                     reinterpret_cast<const uint8_t*>(ts.data())};
        const size_t sizes[4] = {2, 2, 1, 8};
        const size_t jobCount = size_t(chunks) * 4;
        jobs.resize(std::max(jobs.size(), jobCount));
        std::atomic<size_t> nextJob{0};
        std::atomic<bool> failed{false};
        auto work = [&] {
            std::vector<uint8_t> scratch;
            for (size_t j; (j = nextJob.fetch_add(1)) < jobCount;) {
                const size_t column = j % 4, chunk = j / 4;
                if (!compressChunk(columns[column] + chunk * kChunkEvents * sizes[column], sizes[column],
                                   kChunkEvents, scratch, jobs[j]))
                    failed = true;
            }
        };
        const size_t threads = std::min<size_t>(jobCount, std::max(1u, std::thread::hardware_concurrency()));
        std::vector<std::thread> pool;
        for (size_t i = 1; i < threads; ++i) pool.emplace_back(work);
        work();
        for (std::thread& t : pool) t.join();
        if (failed) {
            problem = "cannot compress events for the HDF5 file " + path;
            return false;
        }
        std::lock_guard<std::recursive_mutex> guard(hdf5::lock());
        const hsize_t size[1] = {written + chunks * kChunkEvents};
        for (int c = 0; c < 4; ++c) {
            bool ok = H5Dset_extent(sets[c].get(), size) >= 0;
            for (uint64_t k = 0; ok && k < chunks; ++k) {
                const hsize_t offset[1] = {written + k * kChunkEvents};
                const std::vector<uint8_t>& bytes = jobs[k * 4 + size_t(c)];
                ok = H5Dwrite_chunk(sets[c].get(), H5P_DEFAULT, 0, offset, bytes.size(), bytes.data()) >= 0;
            }
            if (!ok) {
                problem = "cannot write to the HDF5 file " + path + ": " + hdf5::lastError();
                return false;
            }
        }
        written += chunks * kChunkEvents;
    }
    const uint64_t done = chunks * kChunkEvents, rest = n - done;
    if (last && rest > 0) {
        // The last, partial chunk: through the library's own filters.
        std::lock_guard<std::recursive_mutex> guard(hdf5::lock());
        if (!append(sets[0].get(), H5T_NATIVE_UINT16, xs.data() + done, written, rest, problem) ||
            !append(sets[1].get(), H5T_NATIVE_UINT16, ys.data() + done, written, rest, problem) ||
            !append(sets[2].get(), H5T_NATIVE_UINT8, ps.data() + done, written, rest, problem) ||
            !append(sets[3].get(), H5T_NATIVE_INT64, ts.data() + done, written, rest, problem))
            return false;
        written += rest;
        xs.clear();
        ys.clear();
        ps.clear();
        ts.clear();
        return true;
    }
    // A partial chunk waits for more events.
    xs.erase(xs.begin(), xs.begin() + std::ptrdiff_t(done));
    ys.erase(ys.begin(), ys.begin() + std::ptrdiff_t(done));
    ps.erase(ps.begin(), ps.begin() + std::ptrdiff_t(done));
    ts.erase(ts.begin(), ts.begin() + std::ptrdiff_t(done));
    return true;
}

bool Hdf5Writer::flushMsIndex(std::string& problem) {
    if (msPending.empty()) return true;
    std::lock_guard<std::recursive_mutex> guard(hdf5::lock());
    if (!append(msSet.get(), H5T_NATIVE_UINT64, msPending.data(), msWritten, msPending.size(), problem)) return false;
    msWritten += msPending.size();
    msPending.clear();
    return true;
}

bool Hdf5Writer::write(const Event2D* begin, const Event2D* end, const EventTriggerIn*, const EventTriggerIn*,
                       std::string& problem) {
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
        if (ts.size() == kBatchEvents && !flushEvents(false, problem)) return false;
    }
    return true;
}

bool Hdf5Writer::end(std::string& problem) {
    if (!flushEvents(true, problem)) return false;
    std::lock_guard<std::recursive_mutex> guard(hdf5::lock());
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
