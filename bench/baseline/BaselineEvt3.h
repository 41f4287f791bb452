#pragma once

// The yardstick for the decoder: the plainest correct EVT 3.0 decoder. One switch on the word type
// per 16-bit word, each event pushed into a std::vector that the caller reserves once and reuses, a
// vector word's bits tested one by one, no index and no checks beyond the word type. Built with
// -O2 in a file of its own (BaselineEvt3.cpp), so that it is measured as a user would build it.
// The rare rules are left out (nothing is held back before the first TIME_HIGH, no trigger edges,
// no cut words between calls); on recordings that start with a TIME_HIGH and hold no event outside
// the sensor it gives the driver's events.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "norvale/Event2D.h"

namespace norvale::bench {

class BaselineEvt3 {
public:
    void decode(const uint8_t* data, size_t size, std::vector<Event2D>& out);

private:
    uint64_t wraps = 0, t = 0;
    uint32_t high = 0, y = 0, base = 0;
    uint8_t pol = 0;
};

} // namespace norvale::bench
