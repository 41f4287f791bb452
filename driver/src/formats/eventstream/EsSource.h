#pragma once

// Reads Event Stream files (".es") of version 2 holding DVS events: the "Event Stream" magic, the
// version bytes, the type byte, the sensor's width and height, then events of five bytes each
// (time since the previous event and polarity, x, y), with an overflow byte adding 127 us and reset
// bytes ignored between events. Other event types and versions are refused by name.
//
// A block is a byte range that starts between events: BlockPosition.offset is its first byte and
// .state the time of the event before it (the decoder's only state).
//
// Threads: one thread at a time (EventBlockSource).
#include <cstdint>
#include <string>
#include <vector>

#include "formats/EventBlockSource.h"

namespace norvale::detail {

class EsSource : public EventBlockSource {
public:
    static constexpr uint64_t kEventsOffset = 20;

    ~EsSource() override;
    bool open(const std::string& path, std::string& problem) override;
    const BlockSourceInfo& info() const override { return about; }
    BlockPosition first() const override { return BlockPosition{kEventsOffset, 0, 0}; }
    bool read(const BlockPosition& pos, std::vector<Event2D>& events, std::vector<EventTriggerIn>& triggers,
              BlockPosition& next, bool& end, std::string& problem) override;
    bool damaged() const override { return damage; }

private:
    int fd = -1;
    bool damage = false; // the last read ended inside an event
    std::string filePath;
    uint64_t fileSize = 0;
    BlockSourceInfo about;
    std::vector<uint8_t> buffer;
};

} // namespace norvale::detail
