#pragma once

// What a simulated sensor sees: the events of any stretch of camera time, produced on demand
// (faster than real time) by the streaming thread. One thread at a time.
#include <cstdint>
#include <vector>

#include "camera/SensorSettings.h"
#include "norvale/Event2D.h"
#include "norvale/SafeOutputFile.h"

namespace norvale {

class EventSource {
public:
    virtual ~EventSource() = default;
    virtual uint32_t width() const = 0;
    virtual uint32_t height() const = 0;
    // The file the events come from (a replayed one), which a recording must never overwrite.
    virtual FileIdentity inputFile() const { return {}; }
    // The camera clock starts again at 0.
    virtual void restart() = 0;
    // Appends the events of [fromUs, toUs), in time order, as the biases shape them; calls
    // cover the time without gaps. Trigger edges of the source itself (a replayed file's) go
    // to triggers.
    virtual void generate(uint64_t fromUs, uint64_t toUs, const BiasSettings& biases, std::vector<Event2D>& out,
                          std::vector<EventTriggerIn>& triggers) = 0;
};

} // namespace norvale
