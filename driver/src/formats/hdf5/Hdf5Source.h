#pragma once

// Reads HDF5 event files of two layouts:
//  - a group "events" with 1-D integer datasets x, y, p, t (t in microseconds), an optional
//    t_offset (attribute or scalar dataset, beside the datasets or at the top) added to every t,
//    and an optional ms_to_idx (index of the first event of each millisecond), checked but not
//    needed: any record index is a cheap place to start a block;
//  - one 1-D compound dataset with integer fields t, x, y, p ("events", else the first found).
// A block is a run of records. Datasets stored without filters (what our writer makes by default,
// and h5py's plain datasets) are read straight from the file at the offsets the library gives for
// their data or chunks at open: no library call, no lock and no chunk cache per block, and blocks
// need not follow the chunks. Other datasets are read through the library by hyperslab, blocks
// aligned with their chunks. Compressed files read through the library's filters (gzip built in, LZ4 and Blosc from the
// plugins); a missing filter is named. Declared lengths are checked against the file's size before
// anything is read: a length no compression could reach is refused. A child process tries the file
// first, so a file that crashes the library is refused instead of ending the program.
//
// Threads: one thread at a time uses a source; every HDF5 call takes hdf5::lock().
#include <cstdint>
#include <string>
#include <vector>

#include "formats/EventBlockSource.h"
#include "formats/hdf5/Hdf5Common.h"

namespace norvale::detail {

class Hdf5Source final : public EventBlockSource {
public:
    // Events per block when the file gives no chunking to align with; small enough that a short
    // time range decompresses little.
    static constexpr uint64_t kBlockEvents = 64 * 1024;
    // Events per block read straight from the file: a block's bytes and its events stay in the
    // processor's cache while decoded.
    static constexpr uint64_t kDirectBlockEvents = 16 * 1024;
    // The bytes of records one block of a compound dataset may take.
    static constexpr uint64_t kMaxBlockBytes = 16ull << 20;
    // A compressed dataset may declare at most this many times the file's size.
    static constexpr uint64_t kMaxCompressionRatio = 1000;

    Hdf5Source() = default;
    ~Hdf5Source() override;

    bool open(const std::string& path, std::string& problem) override;
    const BlockSourceInfo& info() const override { return sourceInfo; }
    BlockPosition first() const override { return BlockPosition{}; }
    bool read(const BlockPosition& pos, std::vector<Event2D>& events, std::vector<EventTriggerIn>& triggers,
              BlockPosition& next, bool& end, std::string& problem) override;
    // Columns read straight from the file in the usual types are summed up without building events,
    // and any record starts a block, so several threads (sources of their own) share the work.
    bool readInto(const BlockPosition& pos, Event2D* out, size_t room, size_t& n, std::vector<EventTriggerIn>& triggers,
                  BlockPosition& next, bool& end, std::string& problem) override;
    bool canSummarize() const override;
    bool summarize(const BlockPosition& pos, BlockSummary& summary, std::vector<EventTriggerIn>& triggers,
                   BlockPosition& next, bool& end, std::string& problem) override;
    bool blockStarts(std::vector<BlockPosition>& starts, std::string& problem) override;

    // For tests and the tools: what open found.
    uint64_t eventCount() const { return count; }
    // Datasets of the separate layout read straight from the file (0..4).
    int directColumns() const;
    uint64_t blockEvents() const { return perBlock; }
    bool compoundLayout() const { return compound; }
    bool hasMsIndex() const { return msIndexValid; }
    int64_t timeOffset() const { return tOffset; }

private:
    // Where an integer lies in a record, and how it is stored. Events are read in the file's own
    // types (no conversion by the library) and decoded here.
    struct Field {
        size_t offset = 0;
        size_t size = 0; // 1, 2, 4 or 8 bytes
        bool isSigned = false;
        bool bigEndian = false;
    };
    struct Column {
        hdf5::Handle set;
        hdf5::Handle type; // the file's type: read as it is
        Field field;
        // Read straight from the file: where each run of chunkLength elements starts (one run
        // for contiguous data). Empty: through the library.
        std::vector<uint64_t> runs;
        uint64_t runLength = 0;
    };

    bool probeInChild(const std::string& filePath, std::string& problem);
    bool openHere(const std::string& filePath, std::string& problem);
    bool openSeparate(hid_t group, uint64_t fileSize, std::string& problem);
    bool openCompound(hdf5::Handle set, const std::string& name, uint64_t fileSize, std::string& problem);
    void readOffsetAndInfo(hid_t group);
    void checkMsIndex(hid_t group);
    // Finds where an unfiltered dataset's bytes lie, so that it is read straight from the file.
    void planDirect(Column& c, uint64_t length, uint64_t fileSize);
    // Every chunk's address from the file's chunk index in one walk (Hdf5ChunkTable.h).
    bool chunkTable(const Column& c, uint64_t length, uint64_t chunk, uint64_t fileSize,
                    std::vector<uint64_t>& addresses);
    bool readDirect(const Column& c, uint64_t index, size_t n, std::vector<uint8_t>& buffer, std::string& problem);
    bool readDirectInto(const Column& c, uint64_t index, size_t n, uint8_t* out, std::string& problem);
    // x, y uint16, p one byte and t of 4 or 8 bytes, all little-endian: what convertUsual decodes.
    bool usualTypes() const;
    // The fast decoding of the usual types (x, y uint16, p one byte, t of 4 or 8 bytes, all little-endian)
    // straight into events; false when the types differ or a time needs the checks of convert.
    bool convertUsual(size_t n, Event2D* out) const;
    // The block's n records at pos into raw, read as the dataset is stored.
    bool load(const BlockPosition& pos, size_t& n, std::string& problem);
    static void decodeField(const Field& f, const uint8_t* at, size_t stride, size_t n, int64_t* out, bool bits);
    bool convert(uint64_t index, size_t n, Event2D* out, std::string& problem);

    std::string path;
    BlockSourceInfo sourceInfo;
    hdf5::Handle file;
    int fd = -1; // the same file, for the datasets read straight from it
    bool compound = false;
    Column columns[4]; // t, x, y, p
    hdf5::Handle records;
    hdf5::Handle recordType;
    size_t recordSize = 0;
    Field fields[4]; // of a compound record: t, x, y, p
    uint64_t count = 0;
    uint64_t perBlock = kBlockEvents;
    int64_t tOffset = 0;
    uint64_t tableBase = 0; // where the chunk table's addresses count from
    bool msIndexValid = false;
    bool probing = false; // a probing child: no log lines
    // Scratch of one block, reused.
    std::vector<uint8_t> raw[4];
    std::vector<int64_t> values[4]; // t, x, y, p decoded
};

} // namespace norvale::detail
