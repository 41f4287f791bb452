#pragma once

// Writes HDF5 event files: a group "events" with x (uint16), y (uint16), p (uint8) and t (int64,
// microseconds, absolute), chunked; a top-level t_offset of 0 (times are stored as they are);
// ms_to_idx (uint64), where entry k is the index of the first event with t >= t0 + 1000 k, t0 being
// the first event's time; width, height, serial and, when known, date as attributes of the file.
// Trigger edges are not stored.
//
// Chunks are stored uncompressed unless the description asks for compression: any HDF5 tool reads
// such a file without plugins and a short time range is a plain read. Compressed files use shuffle +
// gzip 1 (built into every HDF5), their chunks compressed on every core.
//
// Whole chunks are handed to the library as they are (no filter pipeline, no chunk cache), a batch
// at a time on a second thread while the caller gathers the next batch.
//
// Threads: one thread at a time uses a writer; it runs one helper thread of its own. Every HDF5
// call takes hdf5::lock().
#include <cstdint>
#include <future>
#include <string>
#include <vector>

#include "formats/FormatWriter.h"
#include "formats/hdf5/Hdf5Common.h"

namespace norvale::detail {

class Hdf5Writer final : public FormatWriter {
public:
    // Events per chunk. A plain file takes whole chunks on disk however few events it holds
    // (64K events: 832 KiB); a compressed one inflates little for a short range.
    static constexpr uint64_t kPlainChunkEvents = 64 * 1024;
    static constexpr uint64_t kCompressedChunkEvents = 64 * 1024;
    // Events gathered before their chunks are stored together (a multiple of both chunk sizes).
    static constexpr uint64_t kBatchEvents = 1024 * 1024;
    // ms_to_idx is left out of recordings spanning more milliseconds than this (about 37 hours).
    static constexpr uint64_t kMaxMsEntries = uint64_t(1) << 27;

    ~Hdf5Writer() override;
    bool begin(int fd, const std::string& path, const EventFileDescription& description,
               std::string& problem) override;
    bool write(const Event2D* begin, const Event2D* end, const EventTriggerIn* triggersBegin,
               const EventTriggerIn* triggersEnd, std::string& problem) override;
    bool end(std::string& problem) override;
    bool holdsTriggers() const override { return false; }

    uint64_t chunkEvents() const { return chunk; }

private:
    // One batch of events in columns, with the ms_to_idx entries found while gathering it.
    struct Batch {
        std::vector<uint16_t> xs, ys;
        std::vector<uint8_t> ps;
        std::vector<int64_t> ts;
        size_t n = 0;
        std::vector<uint64_t> ms;
    };
    // Stores the batch's whole chunks (last: its partial chunk too) and its ms_to_idx entries.
    bool store(Batch& batch, bool last, std::string& problem);
    // The batch's first chunks of each column (x, y, p, t) compressed into jobs, on every core.
    bool compressChunks(const uint8_t* const columns[4], uint64_t chunks, std::string& problem);
    // Waits for the batch being stored, if any.
    bool waitStored(std::string& problem);
    bool append(hid_t set, hid_t memType, const void* data, uint64_t at, uint64_t n, std::string& problem);
    // The ms_to_idx entries up to time t, the event at index being the first to reach them.
    bool reachMs(uint64_t t, uint64_t index, Batch& batch, std::string& problem);
    // Stores the batch's ms_to_idx entries gathered so far.
    bool storeMsPiece(Batch& batch, std::string& problem);
    // The first event whose time no file holds, as a message.
    bool timeTooLarge(const Event2D* begin, size_t n, std::string& problem) const;

    std::string path;
    int fd = -1; // the file as created for us (the library writes through its own descriptor)
    bool compress = false;
    uint64_t chunk = kPlainChunkEvents;
    hdf5::Handle file;
    hdf5::Handle sets[4]; // x, y, p, t
    hdf5::Handle msSet;
    Batch batches[2];
    int gathering = 0; // the batch being filled; the other may be being stored
    std::future<bool> storing;
    std::string storeProblem;
    std::vector<std::vector<uint8_t>> jobs; // compressed chunks of one batch, reused
    uint64_t written = 0; // events in the datasets (stored by the helper thread)
    uint64_t msWritten = 0;
    bool msIndexKept = true;
    bool haveFirst = false;
    uint64_t firstTime = 0;
    uint64_t nextMs = 0;              // the next entry of ms_to_idx to fill
    uint64_t nextMsTime = 0;          // the time that entry starts at (UINT64_MAX: no more entries)
    uint64_t eventIndex = 0;          // events given so far
};

} // namespace norvale::detail
