#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "norvale/DriverExport.h"
#include "norvale/EventFileFormat.h"

namespace norvale {

class DvsFileReader;

// A new file at path with every event and trigger of the reader's file with start <= t <= end, in
// the format cutFileFormat names, timestamps unchanged. An EVT 3.0
// cut gets a fresh header whose dvs_start_timestamp is its first event; other formats are cut
// through convertEventFile. The reader must be prepared. Refuses to overwrite the input; on failure returns false,
// logs why and leaves no partial output. progress, when given, is called on this thread with the
// fraction of the range written so far; returning false cancels the cut (nothing is left behind).
// Borrows the reader's read buffers: no other read of the reader may run meanwhile.
// What a cut of a file of format input, whose last event is at lastTimestamp, is written as: the
// input's format where it can be written, else EVT 3.0; EVT 3.0 too for a DAT file whose clock
// passed 32 bits (a DAT record cannot hold its times). For a program that names the cut before
// it is made.
NR_DRIVER_EXPORT EventFileFormat cutFileFormat(EventFileFormat input, uint64_t lastTimestamp);

NR_DRIVER_EXPORT bool cutRawFile(DvsFileReader& reader, uint64_t start, uint64_t end, const std::string& path,
                                 const std::function<bool(double fraction)>& progress = {});

} // namespace norvale
