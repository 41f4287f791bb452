#pragma once

// NumPy ".npy" files of a one-dimensional structured array with fields t (or ts, timestamp), x, y
// and p (or pol, polarity): little-endian integers of any width that hold the values, t in
// microseconds, in any order, other fields skipped. Versions 1, 2 and 3 of the header.
#include <memory>

#include "formats/EventBlockSource.h"
#include "formats/FormatWriter.h"

namespace norvale::detail {

std::unique_ptr<EventBlockSource> makeNpySource();
// Writes the packed dtype [('t','<i8'),('x','<u2'),('y','<u2'),('p','|u1')], header padded to 64 bytes.
std::unique_ptr<FormatWriter> makeNpyWriter();

} // namespace norvale::detail
