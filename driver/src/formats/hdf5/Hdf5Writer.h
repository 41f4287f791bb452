#pragma once

// Writes HDF5 event files: a group "events" with x (uint16), y (uint16), p (uint8) and t (int64,
// microseconds, absolute), chunked and compressed with shuffle + gzip; a top-level t_offset of 0
// (times are stored as they are); ms_to_idx (uint64), where entry k is the index of the first event
// with t >= t0 + 1000 k, t0 being the first event's time; width, height, serial and, when known,
// date as attributes of the file. Trigger edges are not stored.
//
// Threads: one thread at a time uses a writer; every HDF5 call takes hdf5::lock().
#include <cstdint>
#include <string>
#include <vector>

#include "formats/FormatWriter.h"
#include "formats/hdf5/Hdf5Common.h"

namespace norvale::detail {

class Hdf5Writer final : public FormatWriter {
public:
    static constexpr uint64_t kChunkEvents = 64 * 1024;
    // Events gathered before their chunks are compressed together.
    static constexpr uint64_t kBatchEvents = 16 * kChunkEvents;
    // ms_to_idx is left out of recordings spanning more milliseconds than this (about 37 hours).
    static constexpr uint64_t kMaxMsEntries = uint64_t(1) << 27;

    ~Hdf5Writer() override;
    bool begin(int fd, const std::string& path, const EventFileDescription& description,
               std::string& problem) override;
    bool write(const Event2D* begin, const Event2D* end, const EventTriggerIn* triggersBegin,
               const EventTriggerIn* triggersEnd, std::string& problem) override;
    bool end(std::string& problem) override;
    bool holdsTriggers() const override { return false; }

private:
    // Stores the whole chunks gathered; last: the partial one after them too.
    bool flushEvents(bool last, std::string& problem);
    bool flushMsIndex(std::string& problem);
    bool append(hid_t set, hid_t memType, const void* data, uint64_t at, uint64_t n, std::string& problem);

    std::string path;
    hdf5::Handle file;
    hdf5::Handle sets[4]; // x, y, p, t
    hdf5::Handle msSet;
    std::vector<uint16_t> xs, ys;
    std::vector<uint8_t> ps;
    std::vector<int64_t> ts;
    std::vector<std::vector<uint8_t>> jobs; // compressed chunks of one batch, reused
    uint64_t written = 0; // events in the datasets
    std::vector<uint64_t> msPending;
    uint64_t msWritten = 0;
    bool msIndexKept = true;
    bool haveFirst = false;
    uint64_t firstTime = 0;
    uint64_t nextMs = 0;    // the next entry of ms_to_idx to fill
    uint64_t eventIndex = 0; // events given so far
};

} // namespace norvale::detail
