#pragma once

// Text event files: one event a line, "t,x,y,p" or "t x y p" (comma, spaces or tabs), with or
// without a header line naming the columns (t/timestamp/ts, x, y, p/polarity/pol, any order).
// Times are integer microseconds, or seconds when the first event's time has a decimal point or
// an exponent. A first line of two integers is the sensor's width and height. Lines starting
// with '#' are comments.
#include <memory>

#include "formats/EventBlockSource.h"
#include "formats/FormatWriter.h"

namespace norvale::detail {

std::unique_ptr<EventBlockSource> makeCsvSource();
// Writes "t,x,y,p" with that header line, times in microseconds.
std::unique_ptr<FormatWriter> makeCsvWriter();

} // namespace norvale::detail
