#pragma once

// Writes AEDAT 4 files: events as one polarity stream (0), trigger edges as one trigger stream (1),
// each packet an LZ4 frame (several times faster to read than Zstd), or with the description's
// compress a Zstd frame at level 1 (files about 2.5 times smaller); either records the content
// size a reader checks before allocating. The packet table follows the last packet, its position
// patched into the header at the end. Trigger channel 0 is stored as input edges, channel 1 as the
// generator's edges; the format has no other channels, so an edge of another one is refused.
//
// Threads: one thread at a time (FormatWriter).
#include <cstdint>
#include <string>
#include <vector>

#include "formats/FormatWriter.h"
#include "formats/aedat/AedatPackets.h"

namespace norvale::detail {

class Aedat4Writer : public FormatWriter {
public:
    static constexpr size_t kPacketEvents = 65536;

    bool begin(int fd, const std::string& path, const EventFileDescription& description, std::string& problem) override;
    bool write(const Event2D* begin, const Event2D* end, const EventTriggerIn* triggersBegin,
               const EventTriggerIn* triggersEnd, std::string& problem) override;
    bool end(std::string& problem) override;
    bool holdsTriggers() const override { return true; }

private:
    struct Entry {
        int64_t body;
        int32_t stream;
        int32_t size;
        int64_t elements;
        int64_t first;
        int64_t last;
    };
    bool header(int64_t tablePosition, std::vector<uint8_t>& out) const;
    bool flushEvents(size_t count, std::string& problem);
    bool flushTriggers(std::string& problem);
    bool packet(int32_t stream, const std::vector<uint8_t>& table, int64_t elements, int64_t first, int64_t last,
                std::string& problem);

    aedat::Compression packing = aedat::Compression::Lz4;
    int out = -1;
    std::string description;
    size_t headerBytes = 0;
    uint64_t written = 0;
    std::vector<Event2D> events;
    std::vector<EventTriggerIn> triggers;
    std::vector<Entry> table;
    std::vector<uint8_t> compressed;
};

} // namespace norvale::detail
