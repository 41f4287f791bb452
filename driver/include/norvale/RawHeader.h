#pragma once

#include <cstddef>
#include <string>

#include "norvale/DriverExport.h"
#include "norvale/DvsFileInfo.h"
#include "norvale/RawDecoder.h"

namespace norvale {

// What the text header of a raw file says. Stateless parsing; any thread.
struct RawHeader {
    size_t dataOffset = 0; // first byte of the word stream
    RawFormat format = RawFormat::Evt3;
    uint32_t width = 1280;
    uint32_t height = 720;
    bool hasGeometry = false;   // the header names it; else the data decide (1280 x 720 until then)
    std::string serialNumber;
    std::string date;           // as written, "" when absent
    bool hasDate = false;
    bool hasDvsStart = false;
    bool hasApsStart = false;
    uint64_t dvsStartTimestamp = 0;
    uint64_t apsStartTimestamp = 0;
    int lineCount = 0;
};

// Longest header accepted; a file whose "% " lines run longer is refused.
constexpr size_t kMaxHeaderBytes = 1 << 20;

enum class HeaderStatus { Ok, NoHeader, TooLong, UnknownFormat };

// Parses the header at the start of [data, data + size). `complete` says that the buffer holds
// the whole file (so a header running to its end is a header without data, not a cut-off read).
NR_DRIVER_EXPORT HeaderStatus parseRawHeader(const char* data, size_t size, bool complete, RawHeader& out,
                                             std::string& problem);

} // namespace norvale
