#pragma once

// The wall-clock time of an event timestamp in a recording, for the time labels of both processors.
// Stateless; any thread.
#include <QString>

#include <chrono>
#include <cstdint>

#include "norvale/FuncUtils.h"

// recordStart is the wall-clock time of event time startTs; ts may lie before it.
inline QString nrLocalTime(const norvale::SysTimePoint& recordStart, uint64_t ts, uint64_t startTs) {
    const int64_t deltaUs = ts >= startTs ? int64_t(ts - startTs) : -int64_t(startTs - ts);
    return QString::fromStdString(norvale::timePointToString(recordStart + std::chrono::microseconds(deltaUs)));
}
