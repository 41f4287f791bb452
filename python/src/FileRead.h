#pragma once

// What reading a raw file's words for the module needs in more than one place. Any thread.
#include <sys/types.h>

#include <cstddef>
#include <cstdint>

#include "norvale/Event2D.h"

namespace norvale::python {

// Reads up to size bytes at offset; fewer at the end of the file, -1 on an error.
ssize_t readAt(int fd, uint8_t* buffer, size_t size, uint64_t offset);

// The file's order is the sensor's read-out order, which may step back in time a little: sorts
// [begin, end) by time where it does, keeping the file's order among equal times.
void sortByTime(Event2D* begin, Event2D* end);

} // namespace norvale::python
