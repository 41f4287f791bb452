#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "norvale/DriverExport.h"
#include "norvale/Event2D.h"

namespace norvale {

struct GeneratorConfig {
    uint64_t seed = 1;
    double eventRate = 1e6;      // events per second
    uint64_t startTimestamp = 0; // us
    double triggerHz = 0;        // pulses per second: a rising edge, half a period later a falling one
    uint32_t width = 1280;
    uint32_t height = 720;
};

// A synthetic event source: edges moving across the sensor, a flickering region and background
// noise. Events come in time order; within one microsecond by row and column, as a sensor reads
// them out. The same config gives the same stream on every machine. One thread at a time.
class NR_DRIVER_EXPORT EventGenerator {
public:
    explicit EventGenerator(const GeneratorConfig& config);

    // Appends the events and trigger edges of [now(), now() + durationUs) and advances now().
    void generate(uint64_t durationUs, std::vector<Event2D>& events, std::vector<EventTriggerIn>& triggers);
    uint64_t now() const { return time; }

private:
    uint64_t next();
    uint32_t below(uint32_t n) { return uint32_t((next() >> 32) * n >> 32); }
    void burst(uint64_t t, std::vector<Event2D>& out, size_t limit);

    GeneratorConfig cfg;
    uint64_t rng;
    uint64_t time;
    double perUs;
    double acc = 0;
    uint64_t nextTrigger = 0;
    uint16_t triggerLevel = 0;
    std::vector<Event2D> batch;
};

// Writes a generated recording of durationUs to path (EVT 3.0 through RawFileWriter).
// False, with a log line, when the file cannot be written; a partial file is removed.
NR_DRIVER_EXPORT bool generateRecordingFile(const std::string& path, const GeneratorConfig& config,
                                            uint64_t durationUs, const std::string& serialNumber = "SIM-GEN-0001");

} // namespace norvale
