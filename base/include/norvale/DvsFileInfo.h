#pragma once

#include <cstdint>
#include <string>

#include "norvale/Export.h"
#include "norvale/FuncUtils.h"

namespace norvale {

// Description of a raw event file, as a reader reports it and a writer puts it in the header.
struct DvsFileInfo {
    uint64_t dvsStartTimestamp = 0; // first DVS event (us)
    uint64_t dvsEndTimestamp = 0;   // last DVS event (us), when known
    uint64_t apsStartTimestamp = 0; // first APS frame (us); 0 without APS data
    uint64_t apsEndTimestamp = 0;   // last APS frame (us), when known
    uint64_t eventCount = 0;        // events in the file, when known
    std::string serialNumber;
    SysTimePoint recordStartTime{}; // local wall-clock time of the start of the recording
    uint32_t width = 1280;
    uint32_t height = 720;
};

// The complete text header of an EVT 3.0 raw file ("% key value" lines, ending with "% end\n").
// Writes no file and does not change info.
NR_BASE_EXPORT std::string generateDvsFileHeader(DvsFileInfo& info);

} // namespace norvale
