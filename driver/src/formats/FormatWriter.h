#pragma once

// One writable format's writing side. EventFileWriter::create makes the file through the
// recordings' output rules and hands it here; this class only turns events into the format's bytes.
//
// Threads: one thread at a time uses a writer.
#include <cstdint>
#include <memory>
#include <string>

#include "norvale/Event2D.h"
#include "norvale/EventFileFormat.h"
#include "norvale/EventFileWriter.h"

namespace norvale::detail {

class FormatWriter {
public:
    virtual ~FormatWriter() = default;
    // fd is the created, empty file (path names it, for libraries that open by name and for
    // messages); the writer does not close fd. False with problem.
    virtual bool begin(int fd, const std::string& path, const EventFileDescription& description,
                       std::string& problem) = 0;
    // Events in order, with the trigger edges of the same stretch of time (see EventFileWriter).
    virtual bool write(const Event2D* begin, const Event2D* end, const EventTriggerIn* triggersBegin,
                       const EventTriggerIn* triggersEnd, std::string& problem) = 0;
    // Everything written and the file complete (the caller syncs and renames). False with problem.
    virtual bool end(std::string& problem) = 0;
    // Whether trigger edges are stored (otherwise write ignores them and the caller counts them).
    virtual bool holdsTriggers() const = 0;
};

// Null for a format that cannot be written.
std::unique_ptr<FormatWriter> makeFormatWriter(EventFileFormat format);

} // namespace norvale::detail
