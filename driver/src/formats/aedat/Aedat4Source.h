#pragma once

// Reads AEDAT 4 files: the version line, the IOHeader (compression, packet table position, the
// XML description of the streams), then packets of one stream each, each body a (compressed)
// size-prefixed FlatBuffer. Polarity events of the first event stream and trigger edges are read;
// frames, IMU samples and the packets of further event streams are skipped here (Aedat4Frames
// reads the frames through the packet walk below).
//
// A block is a run of packets up to the first that starts at or past the next multiple of 256 KiB
// into the packet area (or fewer when they hold many events, or part of one packet of more than
// kMaxBlockEvents events): BlockPosition.offset is the file offset of its first packet header,
// .index the first event of that packet it starts at. The packets end where the file's packet
// table begins (when the header names one inside the file), else at the end of the file; a
// packet whose declared size runs past that end is reported as damage, never read.
//
// Threads: one thread at a time (EventBlockSource).
#include <cstdint>
#include <string>
#include <vector>

#include "formats/EventBlockSource.h"
#include "formats/aedat/AedatPackets.h"

namespace norvale::detail {

class Aedat4Source : public EventBlockSource {
public:
    ~Aedat4Source() override;
    bool open(const std::string& path, std::string& problem) override;
    const BlockSourceInfo& info() const override { return about; }
    BlockPosition first() const override { return BlockPosition{firstPacket, 0, 0}; }
    bool damaged() const override { return damage; }
    bool read(const BlockPosition& pos, std::vector<Event2D>& events, std::vector<EventTriggerIn>& triggers,
              BlockPosition& next, bool& end, std::string& problem) override;
    // Packets decoded straight into place (a whole-file read) or summed up (the index).
    bool readInto(const BlockPosition& pos, Event2D* out, size_t room, size_t& n, std::vector<EventTriggerIn>& triggers,
                  BlockPosition& next, bool& end, std::string& problem) override;
    bool canSummarize() const override { return true; }
    bool summarize(const BlockPosition& pos, BlockSummary& summary, std::vector<EventTriggerIn>& triggers,
                   BlockPosition& next, bool& end, std::string& problem) override;
    // The first packet at or past each multiple of the block size into the packet area, found
    // from the packet headers alone (a block ends there, or earlier when full of events).
    bool blockStarts(std::vector<BlockPosition>& starts, std::string& problem) override;

    aedat::Compression compression() const { return packing; }
    // The packet table was found and agrees with the file (entries inside the packet area, in order).
    bool usedPacketTable() const { return fromTable; }
    size_t packetTableEntries() const { return tableEntries; }

    // The first frame stream the description names (-1: none) and the size it states (0 x 0: none).
    int32_t frameStream() const { return frameStreamId; }
    uint32_t frameStreamWidth() const { return frameWidth; }
    uint32_t frameStreamHeight() const { return frameHeight; }
    // The packet area: [packetsBegin, packetsEnd).
    uint64_t packetsBegin() const { return firstPacket; }
    uint64_t packetsEnd() const { return dataEnd; }
    // The header of the packet at offset: its stream and stored body size, checked against the area.
    bool packetAt(uint64_t offset, int32_t& stream, uint32_t& storedSize, std::string& problem);
    // The first at most max bytes of that body as stored (not inflated).
    bool packetStart(uint64_t offset, uint32_t storedSize, size_t max, std::vector<uint8_t>& stored,
                     std::string& problem);
    // The body of the packet at offset (storedSize bytes stored), inflated to at most cap bytes.
    bool packetBody(uint64_t offset, uint32_t storedSize, size_t cap, std::vector<uint8_t>& stored,
                    std::vector<uint8_t>& out, std::string& problem);

private:
    enum class Kind : uint8_t { Events, Triggers, Frames, Other };
    struct Stream {
        int32_t id = 0;
        Kind kind = Kind::Other;
        uint32_t width = 0;
        uint32_t height = 0;
    };
    bool parseDescription(const std::string& xml, std::string& problem);
    bool loadTable(int64_t position, uint64_t dataStart);
    // The header at offset: its stream and (checked against the packet area) its body size.
    bool readPacket(uint64_t offset, int32_t& stream, std::string& problem);
    // The packet at offset (its header read): an event packet of the stream read is inflated and
    // verified (eventPacket set, its events in decoded), a trigger packet's edges are appended to
    // triggers, other streams are passed over. On failure triggers are left as they were.
    bool inflatePacket(uint64_t offset, int32_t stream, std::vector<EventTriggerIn>& triggers, std::string& problem);
    // The packets of the block at pos, their events handed to sink (read, readInto, summarize).
    template <class Sink>
    bool walk(const BlockPosition& pos, Sink& sink, std::vector<EventTriggerIn>& triggers, BlockPosition& next,
              bool& end, std::string& problem);

    int fd = -1;
    std::string filePath;
    uint64_t fileSize = 0;
    aedat::Compression packing = aedat::Compression::None;
    BlockSourceInfo about;
    std::vector<Stream> streams;
    int32_t eventStream = -1;
    int32_t frameStreamId = -1;
    uint32_t frameWidth = 0;
    uint32_t frameHeight = 0;
    uint64_t firstPacket = 0;
    uint64_t dataEnd = 0;
    uint32_t bodySize = 0;
    bool fromTable = false;
    bool damage = false;     // the last read failed on the file's bytes
    bool readFailed = false; // the last read failed on the system's read
    size_t tableEntries = 0;
    bool eventPacket = false;     // decoded holds the last packet's events
    std::vector<uint8_t> body;    // one packet's bytes as stored
    std::vector<uint8_t> decoded; // and inflated
};

} // namespace norvale::detail
