#pragma once

#include <cstddef>
#include <functional>

#include "norvale/Event2D.h"

namespace norvale {

// Events lying one after another in memory: [begin, end).
struct EventRun {
    const Event2D* begin;
    const Event2D* end;
};

// Called with runs of events that are valid only during the call.
using RunVisitor = std::function<void(const EventRun* runs, size_t count)>;

} // namespace norvale
