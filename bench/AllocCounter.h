#pragma once

#include <cstdint>

// Counts calls of the global operator new in this program (all threads).
namespace norvale::bench {
uint64_t allocationCount();
}
