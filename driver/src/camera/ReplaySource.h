#pragma once

// A raw file (EVT 3.0 or 2.0) as a live sensor: its events played in real time from its first
// event, looped, timestamps moved onto the camera clock (0 at the first event, continuing over
// each loop). The contrast thresholds thin the file's events (they never add any); trigger
// edges of the file are passed on.
#include <memory>
#include <string>

#include "camera/EventSource.h"
#include "norvale/DvsFileReader.h"

namespace norvale {

class ReplaySource : public EventSource {
public:
    // Empty (with a log line) when the file cannot be opened, indexed or has no events.
    static std::unique_ptr<ReplaySource> open(const std::string& path, uint64_t seed);

    uint32_t width() const override { return w; }
    uint32_t height() const override { return h; }
    FileIdentity inputFile() const override { return reader->identity(); }
    void restart() override { rng = seedValue; }
    void generate(uint64_t fromUs, uint64_t toUs, const BiasSettings& biases, std::vector<Event2D>& out,
                  std::vector<EventTriggerIn>& triggers) override;

private:
    ReplaySource() = default;
    void readSpan(uint64_t fileFrom, uint64_t fileTo, uint64_t shift, double keepOn, double keepOff,
                  std::vector<Event2D>& out, std::vector<EventTriggerIn>& triggers);

    std::unique_ptr<DvsFileReader> reader;
    uint64_t first = 0, length = 1; // file time of the first event; loop length (us)
    uint32_t w = 1280, h = 720;
    uint64_t seedValue = 1, rng = 1;
    std::vector<Event2D> scratch;
    std::vector<EventTriggerIn> scratchTriggers;
};

} // namespace norvale
