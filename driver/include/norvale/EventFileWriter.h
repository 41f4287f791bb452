#pragma once

// Writes an event file of any writable format, and converts a readable file into one. A file is
// written through the recordings' output rules: created exclusively, an existing file refused
// unless overwrite is asked for (then written beside it and renamed over it by finish()), locked
// while written, never the file it is read from.
//
// Threads: one thread at a time uses a writer.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "norvale/DriverExport.h"
#include "norvale/DvsFileInfo.h"
#include "norvale/Event2D.h"
#include "norvale/EventFileFormat.h"
#include "norvale/SafeOutputFile.h"

namespace norvale {

class DvsFileReader;

struct EventFileDescription {
    uint32_t width = 1280;
    uint32_t height = 720;
    std::string serialNumber;
    SysTimePoint startTime{}; // when the recording began (the header's date)
    bool hasStartTime = false;
    // Formats that can compress their data further do (HDF5: shuffle + gzip instead of plain, about
    // a third of the size; AEDAT 4: Zstd instead of LZ4, about 2.5 times smaller), written and read
    // several times slower. Others ignore it.
    bool compress = false;
};

class NR_DRIVER_EXPORT EventFileWriter {
public:
    // Null with problem when path may not be written (exists without overwrite, is the input, a
    // directory, a FIFO) or the format cannot be written. input: the file read from, if any.
    static std::unique_ptr<EventFileWriter> create(const std::string& path, EventFileFormat format,
                                                   const EventFileDescription& description, bool overwrite,
                                                   const FileIdentity& input, std::string& problem);
    // An unfinished file is removed, a new one too (a file is whole or absent: half a conversion
    // would pass for all of it); a file being replaced stays as it was.
    virtual ~EventFileWriter() = default;

    // Events in the order they are to be stored, with the trigger edges of the same stretch of time
    // (a format that interleaves them places each edge before the first event after it; one that
    // cannot hold them counts them in triggersNotHeld()). False with problem(); the file is then
    // removed and every later call fails.
    virtual bool write(const Event2D* begin, const Event2D* end, const EventTriggerIn* triggersBegin = nullptr,
                       const EventTriggerIn* triggersEnd = nullptr) = 0;
    // Writes what is buffered, completes the file and gives it its name. False with problem().
    virtual bool finish() = 0;

    uint64_t eventsWritten() const { return events; }
    uint64_t triggersWritten() const { return triggers; }
    uint64_t triggersNotHeld() const { return notHeld; }
    const std::string& problem() const { return why; }

protected:
    EventFileWriter() = default;
    uint64_t events = 0;
    uint64_t triggers = 0;
    uint64_t notHeld = 0;
    std::string why;
};

struct ConvertReport {
    uint64_t events = 0;
    uint64_t triggers = 0;
    uint64_t triggersNotHeld = 0; // the target cannot hold trigger edges: these were not written
    std::string problem;
};

// The events and trigger edges of [start, end] (end included) of in, in file order, into a new file
// of format at path. progress (0..1) may cancel by returning false (no file then). compress: as in
// EventFileDescription. False with report.problem.
NR_DRIVER_EXPORT bool convertEventFile(DvsFileReader& in, uint64_t start, uint64_t end, const std::string& path,
                                       EventFileFormat format, bool overwrite,
                                       const std::function<bool(double)>& progress, ConvertReport& report,
                                       bool compress = false);

} // namespace norvale
