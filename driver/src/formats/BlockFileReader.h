#pragma once

// A DvsFileReader's work for a file of a non-raw format: the blocks of its EventBlockSource are
// indexed once (prepare), and every later read decodes only the blocks that can hold its range.
// The index keeps, per block, its position, its own time bounds, a running maximum and a suffix
// minimum (so files whose time steps back still find every event of a range) and the events
// before it, like the raw index does for its chunks.
//
// Threads: one thread at a time, like the DvsFileReader that holds it.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "formats/EventBlockSource.h"
#include "formats/HelperThread.h"
#include "norvale/DvsFileReader.h"
#include "norvale/EventTally.h"

namespace norvale::detail {

class BlockFileReader {
public:
    // Null with problem when the file cannot be opened or is not of format.
    static std::unique_ptr<BlockFileReader> open(const std::string& path, EventFileFormat format, std::string& problem);
    ~BlockFileReader();

    bool prepare();
    bool prepared() const { return isPrepared; }
    EventFileFormat format() const { return fileFormat; }

    bool startTimestamp(uint64_t& t) const;
    bool endTimestamp(uint64_t& t) const;
    void fileInfo(DvsFileInfo& info) const;
    const std::vector<EventTriggerIn>& triggers() const { return triggerList; }
    bool seekTime(uint64_t t);
    bool readRange(uint64_t from, uint64_t to, std::vector<Event2D>& out, std::vector<EventTriggerIn>* trig);
    // Every event in file order straight into out (room events), on up to `threads` threads (0: one
    // per usable core) when the source's blocks allow it; count is set to the events read and
    // timeOrdered tells whether file order is time order. False (logged) when room is too small or
    // the file cannot be read or changed since it was indexed.
    bool readAll(Event2D* out, size_t room, size_t& count, size_t threads, bool& timeOrdered);
    // The events and triggers of [from, to) block by block in file order (DvsFileReader::scanRange).
    bool scanRange(uint64_t from, uint64_t to,
                   const std::function<bool(const Event2D*, size_t, const EventTriggerIn*, size_t)>& sink);
    std::shared_ptr<std::vector<Event2D>> readEvents(uint64_t start, uint64_t duration);
    std::shared_ptr<std::vector<Event2D>> readNextEvents(uint64_t duration) { return readEvents(cursor, duration); }
    bool nextEventTime(uint64_t from, uint64_t& t);
    bool largestGap(uint64_t& before, uint64_t& after);
    RateProfile rateProfile() const;
    RawFileStats stats() const { return figures; }
    uint32_t width() const { return sensorWidth; }
    uint32_t height() const { return sensorHeight; }
    const std::string& path() const { return filePath; }
    FileIdentity identity() const { return FileIdentity::ofDescriptor(fd); }

    struct Block {
        BlockPosition pos;
        uint64_t ownMin = UINT64_MAX; // events and triggers of this block alone (min > max: none)
        uint64_t ownMax = 0;
        uint64_t maxUpTo = 0;          // largest time of the blocks up to this one
        uint64_t minFrom = UINT64_MAX; // smallest time of this block and the ones after it
        uint64_t eventsBefore = 0;
        uint32_t events = 0;
        uint32_t triggers = 0;
    };
    const std::vector<Block>& blocks() const { return index; }

private:
    BlockFileReader() = default;
    // Decodes block b (from a small cache of the last blocks read). Null on failure.
    struct Decoded {
        size_t block = SIZE_MAX;
        std::vector<Event2D> events;
        std::vector<EventTriggerIn> triggers;
    };
    const Decoded* decode(size_t b);
    // Block b read by src into d (no log: any thread with a source of its own); false with problem.
    bool decodeBlock(EventBlockSource& src, size_t b, Decoded& d, std::string& problem) const;
    // Block b holds events or triggers in [from, to).
    bool overlaps(size_t b, uint64_t from, uint64_t to) const;
    // The events of block b in [from, to) (with trig its triggers there) appended; false on a read error (logged).
    bool appendBlock(size_t b, uint64_t from, uint64_t to, std::vector<Event2D>& into, std::vector<EventTriggerIn>* trig);
    struct Indexing;
    struct BlockFigures;
    // One block as the index reads it: its events, or its summary where the source sums blocks up.
    struct IndexedBlock;
    // Reads the block at pos for the index (summed up when the source can) and its figures.
    static bool readForIndex(EventBlockSource& src, bool summarize, const BlockPosition& pos, IndexedBlock& b,
                             BlockPosition& next, bool& end, std::string& problem);
    void addBlock(const BlockPosition& pos, const IndexedBlock& b, Indexing& ix);
    // Reads the blocks at starts on `threads` threads of their own and indexes them in order while
    // each follows from the one before; pos is left where the index stops (the rest is read one
    // block after another).
    bool indexInParallel(const std::vector<BlockPosition>& starts, size_t threads, Indexing& ix, BlockPosition& pos);
    // At least n sources of our own on the same file for other threads; false when the file at the
    // path is no longer the one open.
    bool ensureHelpers(size_t n);
    void blockRange(uint64_t from, uint64_t to, size_t& first, size_t& last) const;
    // The events of blocks [first, last) in [from, to) of a file in time order into out on two
    // threads: Declined when not worth it or when a thread could not finish (for the caller to read
    // one block after another), Failed on a read error here (logged).
    enum class SplitRead { Declined, Read, Failed };
    SplitRead readSplit(size_t first, size_t last, uint64_t from, uint64_t to, std::vector<Event2D>& out);
    bool nextTime(uint64_t t, uint64_t& found);
    bool previousTime(uint64_t t, uint64_t& found);

    std::string filePath;
    EventFileFormat fileFormat = EventFileFormat::Csv;
    int fd = -1; // held for the file's identity and its modification time
    uint64_t fileSize = 0;
    SysTimePoint modified{};
    std::unique_ptr<EventBlockSource> source;
    std::vector<std::unique_ptr<EventBlockSource>> helpers; // for threads besides the caller's
    bool splittable = false;    // the source lists its block starts (threads may share the work)
    bool summarizing = false;   // the index sums blocks up without building their events
    bool eventsOrdered = false; // file order is time order

    bool isPrepared = false;
    std::vector<Block> index;
    RateCounter rate;
    RawFileStats figures;
    uint64_t firstInFileOrder = 0;
    std::vector<EventTriggerIn> triggerList;
    uint32_t sensorWidth = 0;
    uint32_t sensorHeight = 0;
    uint64_t cursor = 0;
    Decoded cache[2];
    size_t cacheNext = 0;
    std::shared_ptr<std::vector<Event2D>> lastResult;
    Decoded spare;            // the helper's block at the tail of a range, then kept in the cache
    HelperThread rangeHelper; // the second thread of a range (last member: gone first, its task done)
};

} // namespace norvale::detail
