#pragma once

// One writable format's writing side. EventFileWriter::create makes the file through the
// recordings' output rules and hands it here; this class only turns events into the format's bytes.
//
// Threads: one thread at a time uses a writer.
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
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

// All of data to fd (short writes resumed, interrupted ones retried). False with "cannot write: why".
inline bool writeAll(int fd, const void* data, size_t size, std::string& problem) {
    const auto* p = static_cast<const uint8_t*>(data);
    while (size > 0) {
        const ssize_t n = ::write(fd, p, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            problem = std::string("cannot write: ") + std::strerror(n < 0 ? errno : EIO);
            return false;
        }
        p += n;
        size -= size_t(n);
    }
    return true;
}

// Null for a format that cannot be written.
std::unique_ptr<FormatWriter> makeFormatWriter(EventFileFormat format);

} // namespace norvale::detail
