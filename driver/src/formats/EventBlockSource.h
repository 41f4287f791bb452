#pragma once

// One event-file format's reading side, for the formats that are not raw word streams (HDF5,
// AEDAT 4, Event Stream, CSV, NumPy). The file is read in blocks in file order; a block starts at a
// position its source can resume from, so the reader (BlockFileReader) indexes the blocks once at
// open (time bounds and event counts per block) and later decodes only the blocks a time range
// needs. Blocks cover at least 64 KiB of file where the format allows, so the index stays below a
// thousandth of the file.
//
// Threads: one thread at a time uses a source.
#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "norvale/Event2D.h"
#include "norvale/EventFileFormat.h"

namespace norvale::detail {

// Where a block starts, in the source's own terms (a byte offset, a record index, a decoder state).
struct BlockPosition {
    uint64_t offset = 0;
    uint64_t index = 0;
    uint64_t state = 0;
};

// What the index needs of one block, for sources that tell it without building the block's events.
struct BlockSummary {
    std::vector<uint64_t> times; // of its events, in file order
    uint64_t on = 0;             // events of polarity 1
    uint32_t maxX = 0, maxY = 0; // largest coordinates (0 without events)
};

struct BlockSourceInfo {
    uint32_t width = 0; // 0 x 0: the file states no geometry (taken from the data)
    uint32_t height = 0;
    std::string serialNumber;
    std::string date; // "YYYY-MM-DD HH:MM:SS" local time when the file says when it was recorded
    bool hasDate = false;
};

class EventBlockSource {
public:
    static constexpr size_t kMaxBlockEvents = size_t(1) << 20;

    virtual ~EventBlockSource() = default;
    // Reads what precedes the events (header, layout). False with a message naming what is wrong
    // when the file is not of this format or is damaged before its events.
    virtual bool open(const std::string& path, std::string& problem) = 0;
    virtual const BlockSourceInfo& info() const = 0;
    virtual BlockPosition first() const = 0;
    // Decodes the block at pos (at most kMaxBlockEvents events) into events and triggers, both
    // cleared first, in file order, and sets next to the following block's position. end: pos is
    // past the last block (nothing decoded). False with a message on a read error or damage;
    // the blocks before stay readable. Never allocates more than the block's declared sizes allow
    // once checked against the file.
    virtual bool read(const BlockPosition& pos, std::vector<Event2D>& events, std::vector<EventTriggerIn>& triggers,
                      BlockPosition& next, bool& end, std::string& problem) = 0;
    // read() of a block whose events go straight into out, which has room for them (a whole-file
    // read, where a copy through a block of its own costs as much as decoding); n is set to the
    // events decoded. More events than room: false, the file changed. The default reads and copies.
    virtual bool readInto(const BlockPosition& pos, Event2D* out, size_t room, size_t& n,
                          std::vector<EventTriggerIn>& triggers, BlockPosition& next, bool& end, std::string& problem) {
        n = 0;
        if (!read(pos, block, triggers, next, end, problem)) return false;
        if (block.size() > room) {
            problem = "the file changed after it was opened";
            return false;
        }
        std::copy(block.begin(), block.end(), out);
        n = block.size();
        return true;
    }
    // After a read that returned false: true when the file's bytes are damaged at that block (cut
    // short, a value no event can have, a size beyond the file), false for a read error or a file
    // that changed while open. The reader keeps the blocks before damage and warns.
    virtual bool damaged() const { return false; }

    // Formats that read a block's fields apart (HDF5 columns) sum it up without building its
    // events, which is all the index needs: summarize gives what read() and a tally of its events
    // would, with the same next, end and failures. Only for a source whose canSummarize() holds.
    virtual bool canSummarize() const { return false; }
    virtual bool summarize(const BlockPosition& pos, BlockSummary& summary, std::vector<EventTriggerIn>& triggers,
                           BlockPosition& next, bool& end, std::string& problem) {
        (void)pos, (void)summary, (void)triggers, (void)next, (void)end;
        problem = "this format's blocks are not summed up without reading them";
        return false;
    }

    // Formats whose blocks start at places found without reading the blocks before (records of a
    // fixed size, lines near fixed byte offsets) list them here, so that several threads, each with
    // a source of its own on the same file, read blocks at once. `state` of such a start is 0 and
    // counts forward (a line number): read(start) sets next.state to start.state plus what the
    // block adds. False (the default): blocks are found one after another, on one thread.
    virtual bool blockStarts(std::vector<BlockPosition>& starts, std::string& problem) {
        (void)starts;
        (void)problem;
        return false;
    }

    // A further source of a file another source has opened (for another thread): its open warns
    // of nothing, the first one did.
    void setQuiet(bool q) { quiet = q; }

protected:
    bool quiet = false;

private:
    std::vector<Event2D> block; // the default readInto's
};

// The source of a non-raw format; null for the raw formats (the raw reader reads those).
std::unique_ptr<EventBlockSource> makeBlockSource(EventFileFormat format);

} // namespace norvale::detail
