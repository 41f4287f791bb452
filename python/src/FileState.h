#pragma once

// What a RawFile and its slice and chunk iterators share: the reader and the figures gathered when
// the file was opened.
//
// Threads: any Python thread, one at a time per file: `mutex` guards `reader` (null once closed)
// and every use of it. It is taken only with the GIL released (a progress callback takes the GIL
// while the mutex is held, so the opposite order would deadlock). The other fields are set in
// open() and never change.
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "EventBuffer.h"
#include "WholeFile.h"
#include "norvale/DvsFileReader.h"
#include "norvale/SafeOutputFile.h"

namespace norvale::python {

struct FileState {
    std::mutex mutex;
    std::unique_ptr<DvsFileReader> reader;

    std::string path;
    DvsFileInfo info;
    RawFileStats stats;
    RateProfile profile;
    std::vector<uint64_t> profileSums; // events in slots [0, i)
    std::vector<EventTriggerIn> triggers;
    RawFormat format = RawFormat::Evt3; // of a raw file
    EventFileFormat fileFormat = EventFileFormat::Evt3;
    uint32_t width = 0, height = 0;
    int fd = -1;                   // our own descriptor, for reading the whole file without the index
    uint64_t dataOffset = 0;       // where the words start
    std::unique_ptr<WholeFileDecoder> whole; // readAll's threads and buffers; guarded by mutex

    ~FileState();

    // The files open for reading in this process, so that a write never replaces one of them.
    // open() adds this file, closeInput() (from close() and the destructor) takes it out; any
    // thread, guarded by a lock of their own.
    void closeInput();
    // The identity of an open input that path names (through links), invalid when none.
    static FileIdentity openInputNamed(const std::string& path);
    // Whether any of [p, p + bytes) is memory mapped from a file open for reading (read from
    // /proc/self/maps): decoding into it would overwrite a recording.
    static bool mapsAnOpenInput(const void* p, size_t bytes);

    // Opens and indexes path; null when the driver refuses it (the reason is in its log).
    // Without the GIL.
    static std::shared_ptr<FileState> open(const std::string& path);

    // At least as many as the events with from <= t < to (from the rate profile).
    uint64_t eventsAtMost(uint64_t from, uint64_t to) const;
    // A time after from such that [from, end) holds about `events` events, at least one slot.
    uint64_t windowEnd(uint64_t from, uint64_t events) const;

    // Events of [from, to) into out (replacing its contents, its elements written over), in time order. Caller holds mutex and
    // checked that the file is open. False on a read error.
    bool read(uint64_t from, uint64_t to, std::vector<Event2D>& out);
    // Every event of the file, in time order, decoded straight into out: the fast path of
    // read_all, on `threads` threads (0: as many as pay off). Caller holds mutex. False on a read
    // error or a file that changed since it was indexed (the reason is logged); std::bad_alloc
    // when memory runs out.
    bool readAll(EventBuffer& out, size_t threads);
    // The same into room events at `events` (an array of the caller's); count is set to the
    // events decoded. False also when the file holds more than room events.
    bool readAllInto(Event2D* events, size_t room, size_t& count, size_t threads);

private:
    FileIdentity identity; // registered while valid
    size_t slotOf(uint64_t t) const;
    // Every event of a file that is not raw into out (room events), in time order.
    bool readBlocks(Event2D* out, size_t room, size_t& count, size_t threads);
    template <class Decode>
    bool readWhole(size_t threads, Decode&& decode);
};

} // namespace norvale::python
