#include "formats/hdf5/Hdf5Writer.h"

#include <fcntl.h>
#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <limits>
#include <system_error>
#include <thread>

#include "norvale/FuncUtils.h"
#include "norvale/Logger.h"

namespace norvale::detail {

using hdf5::Handle;

namespace {

// Shuffle + gzip 1: timestamps and coordinates shrink to about a third, quickly.
constexpr unsigned kGzipLevel = 1;

// ms_to_idx entries gathered before they are stored (a long pause in a recording makes many).
constexpr size_t kMsPiece = size_t(1) << 20;

Handle createExtendible(hid_t loc, const char* name, hid_t fileType, uint64_t chunkEvents, bool compress) {
    const hsize_t zero[1] = {0}, unlimited[1] = {H5S_UNLIMITED}, chunk[1] = {chunkEvents};
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
    // The helper thread uses the handles: it finishes first.
    if (storing.valid()) storing.wait();
    std::lock_guard<std::recursive_mutex> guard(hdf5::lock());
    for (Handle& s : sets) s.reset();
    msSet.reset();
    file.reset();
}

bool Hdf5Writer::begin(int descriptor, const std::string& filePath, const EventFileDescription& description,
                       std::string& problem) {
    hdf5::initLibrary();
    std::lock_guard<std::recursive_mutex> guard(hdf5::lock());
    path = filePath;
    fd = descriptor;
    compress = description.compress;
    chunk = compress ? kCompressedChunkEvents : kPlainChunkEvents;
    // The output is already created and locked by us; the library's own lock would refuse it.
    Handle fapl(H5Pcreate(H5P_FILE_ACCESS));
    H5Pset_file_locking(fapl.get(), false, true);
    file.reset(H5Fcreate(path.c_str(), H5F_ACC_TRUNC, H5P_DEFAULT, fapl.get()));
    if (!file) {
        problem = "cannot create the HDF5 file" + hdf5::because();
        return false;
    }
    Handle group(H5Gcreate2(file.get(), "events", H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT));
    const hid_t types[4] = {H5T_STD_U16LE, H5T_STD_U16LE, H5T_STD_U8LE, H5T_STD_I64LE};
    const char* names[4] = {"x", "y", "p", "t"};
    bool ok = bool(group);
    for (int i = 0; ok && i < 4; ++i) {
        sets[i] = createExtendible(group.get(), names[i], types[i], chunk, compress);
        ok = bool(sets[i]);
    }
    msSet = createExtendible(file.get(), "ms_to_idx", H5T_STD_U64LE, kCompressedChunkEvents, compress);
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
        problem = "cannot lay out the HDF5 file" + hdf5::because();
        return false;
    }
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
    problem = "cannot write to the HDF5 file " + path + "" + hdf5::because();
    return false;
}

namespace {

// Bytes per element of the columns x, y, p, t.
constexpr size_t kColumnSizes[4] = {2, 2, 1, 8};

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

bool Hdf5Writer::compressChunks(const uint8_t* const columns[4], uint64_t chunks, std::string& problem) {
    // On worker threads outside the library's lock.
    const size_t jobCount = size_t(chunks) * 4;
    jobs.resize(std::max(jobs.size(), jobCount));
    std::atomic<size_t> nextJob{0};
    std::atomic<bool> failed{false};
    auto work = [&] {
        std::vector<uint8_t> scratch;
        for (size_t j; (j = nextJob.fetch_add(1)) < jobCount;) {
            const size_t column = j % 4, k = j / 4;
            if (!compressChunk(columns[column] + k * chunk * kColumnSizes[column], kColumnSizes[column], chunk,
                               scratch, jobs[j]))
                failed = true;
        }
    };
    const size_t threads = std::min<size_t>(jobCount, usableCores());
    std::vector<std::thread> pool;
    for (size_t i = 1; i < threads; ++i) {
        try {
            pool.emplace_back(work);
        } catch (const std::system_error&) {
            break; // fewer helpers; this thread does the rest
        }
    }
    work();
    for (std::thread& t : pool) t.join();
    if (failed) {
        problem = "cannot compress events for the HDF5 file " + path;
        return false;
    }
    return true;
}

bool Hdf5Writer::store(Batch& batch, bool last, std::string& problem) {
    const uint64_t n = batch.n;
    const uint64_t chunks = n / chunk;
    if (chunks > 0) {
        const uint8_t* const columns[4] = {reinterpret_cast<const uint8_t*>(batch.xs.data()),
                                           reinterpret_cast<const uint8_t*>(batch.ys.data()), batch.ps.data(),
                                           reinterpret_cast<const uint8_t*>(batch.ts.data())};
        if (compress && !compressChunks(columns, chunks, problem)) return false;
        // Whole chunks are stored as they are: compressed above, or plain, the columns' own bytes
        // (little-endian, like the machine).
        std::lock_guard<std::recursive_mutex> guard(hdf5::lock());
        const hsize_t size[1] = {written + chunks * chunk};
        for (int c = 0; c < 4; ++c) {
            bool ok = H5Dset_extent(sets[c].get(), size) >= 0;
            for (uint64_t k = 0; ok && k < chunks; ++k) {
                const hsize_t offset[1] = {written + k * chunk};
                const uint8_t* bytes = columns[c] + k * chunk * kColumnSizes[c];
                size_t length = chunk * kColumnSizes[c];
                if (compress) {
                    const std::vector<uint8_t>& packed = jobs[k * 4 + size_t(c)];
                    bytes = packed.data();
                    length = packed.size();
                }
                ok = H5Dwrite_chunk(sets[c].get(), H5P_DEFAULT, 0, offset, length, bytes) >= 0;
            }
            if (!ok) {
                problem = "cannot write to the HDF5 file " + path + "" + hdf5::because();
                return false;
            }
        }
        written += chunks * chunk;
    }
    std::lock_guard<std::recursive_mutex> guard(hdf5::lock());
    const uint64_t done = chunks * chunk, rest = n - done;
    if (rest > 0) {
        if (!last) {
            problem = "internal error: a partial HDF5 chunk before the end";
            return false;
        }
        // The last, partial chunk: through the library (and its filters).
        if (!append(sets[0].get(), H5T_NATIVE_UINT16, batch.xs.data() + done, written, rest, problem) ||
            !append(sets[1].get(), H5T_NATIVE_UINT16, batch.ys.data() + done, written, rest, problem) ||
            !append(sets[2].get(), H5T_NATIVE_UINT8, batch.ps.data() + done, written, rest, problem) ||
            !append(sets[3].get(), H5T_NATIVE_INT64, batch.ts.data() + done, written, rest, problem))
            return false;
        written += rest;
    }
    if (!batch.ms.empty()) {
        if (!append(msSet.get(), H5T_NATIVE_UINT64, batch.ms.data(), msWritten, batch.ms.size(), problem)) return false;
        msWritten += batch.ms.size();
    }
    // The disk starts on what is written while the next batch is gathered: the file is synced
    // before it gets its name, and that sync then finds little left to write.
    if (fd >= 0 && !last) ::sync_file_range(fd, 0, 0, SYNC_FILE_RANGE_WRITE);
    batch.n = 0;
    batch.ms.clear();
    return true;
}

bool Hdf5Writer::waitStored(std::string& problem) {
    if (!storing.valid()) return true;
    if (storing.get()) return true;
    problem = storeProblem;
    return false;
}

bool Hdf5Writer::timeTooLarge(const Event2D* begin, size_t n, std::string& problem) const {
    for (size_t i = 0; i < n; ++i)
        if (begin[i].timestamp > uint64_t(std::numeric_limits<int64_t>::max())) {
            problem = "event time " + std::to_string(begin[i].timestamp) + " us is beyond what an HDF5 event file holds";
            return true;
        }
    return false;
}

bool Hdf5Writer::storeMsPiece(Batch& b, std::string& problem) {
    // After the batches before it.
    if (!waitStored(problem)) return false;
    std::lock_guard<std::recursive_mutex> guard(hdf5::lock());
    if (!append(msSet.get(), H5T_NATIVE_UINT64, b.ms.data(), msWritten, b.ms.size(), problem)) return false;
    msWritten += b.ms.size();
    b.ms.clear();
    return true;
}

bool Hdf5Writer::reachMs(uint64_t t, uint64_t index, Batch& b, std::string& problem) {
    if (!haveFirst) {
        haveFirst = true;
        firstTime = t;
    }
    const uint64_t reach = (t - firstTime) / 1000;
    if (reach >= kMaxMsEntries) {
        msIndexKept = false;
        b.ms.clear();
        nextMsTime = UINT64_MAX;
        NR_LOG(LOG_WARN, "HDF5 file %s spans more than %llu ms: written without ms_to_idx", path.c_str(),
               (unsigned long long)kMaxMsEntries);
        return true;
    }
    for (; nextMs <= reach; ++nextMs) {
        b.ms.push_back(index);
        if (b.ms.size() >= kMsPiece && !storeMsPiece(b, problem)) return false; // a long pause: bounded memory
    }
    nextMsTime = firstTime + nextMs * 1000;
    return true;
}

bool Hdf5Writer::write(const Event2D* begin, const Event2D* end, const EventTriggerIn*, const EventTriggerIn*,
                       std::string& problem) {
    while (begin != end) {
        Batch& b = batches[gathering];
        if (b.ts.size() < kBatchEvents) {
            b.xs.resize(kBatchEvents);
            b.ys.resize(kBatchEvents);
            b.ps.resize(kBatchEvents);
            b.ts.resize(kBatchEvents);
        }
        const size_t n = size_t(std::min<uint64_t>(uint64_t(end - begin), kBatchEvents - b.n));
        uint16_t* xs = b.xs.data() + b.n;
        uint16_t* ys = b.ys.data() + b.n;
        uint8_t* ps = b.ps.data() + b.n;
        int64_t* ts = b.ts.data() + b.n;
        uint64_t high = 0; // any time past int64, seen at once
        for (size_t i = 0; i < n; ++i) {
            const Event2D& e = begin[i];
            xs[i] = e.x;
            ys[i] = e.y;
            ps[i] = e.polarity;
            ts[i] = int64_t(e.timestamp);
            high |= e.timestamp;
        }
        if ((high >> 63) && timeTooLarge(begin, n, problem)) return false;
        // Entries of every millisecond an event reaches (none when time goes back): a second pass
        // over the times just stored, so that the one above stays a plain copy.
        for (size_t i = 0; i < n; ++i)
            if (uint64_t(ts[i]) >= nextMsTime && !reachMs(uint64_t(ts[i]), eventIndex + i, b, problem)) return false;
        b.n += n;
        eventIndex += n;
        begin += n;
        if (b.n == kBatchEvents) {
            if (!waitStored(problem)) return false;
            try {
                storing = std::async(std::launch::async, [this, &b] { return store(b, false, storeProblem); });
            } catch (const std::system_error&) {
                if (!store(b, false, problem)) return false; // no helper thread: stored here
            }
            gathering ^= 1;
        }
    }
    return true;
}

bool Hdf5Writer::end(std::string& problem) {
    if (!waitStored(problem)) return false;
    if (!store(batches[gathering], true, problem)) return false;
    std::lock_guard<std::recursive_mutex> guard(hdf5::lock());
    if (!msIndexKept) {
        msSet.reset();
        H5Ldelete(file.get(), "ms_to_idx", H5P_DEFAULT);
    }
    for (Handle& s : sets) s.reset();
    msSet.reset();
    // Closed here rather than by the handle, to see whether the last writes reached the file.
    const bool flushed = H5Fflush(file.get(), H5F_SCOPE_GLOBAL) >= 0;
    const bool closed = H5Fclose(file.release()) >= 0;
    if (!flushed || !closed) {
        problem = "cannot complete the HDF5 file " + path + "" + hdf5::because();
        return false;
    }
    return true;
}

} // namespace norvale::detail
