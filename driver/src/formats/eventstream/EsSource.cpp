#include "formats/eventstream/EsSource.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace norvale::detail {

namespace {

constexpr uint8_t kOverflow = 0xFF; // 127 us pass without an event
constexpr uint8_t kReset = 0xFE;    // resynchronises a stream; nothing between events
constexpr uint64_t kOverflowUs = 127;
constexpr size_t kEventBytes = 5;
constexpr size_t kBlockBytes = 1 << 20; // at most 209715 events: within a block's bound

const char* typeName(uint8_t type) {
    switch (type) {
    case 0: return "generic events";
    case 2: return "ATIS events";
    case 3: return "display events";
    case 4: return "color events";
    case 5: return "liquid events";
    default: return "an unknown event type";
    }
}

bool readSome(int fd, uint64_t offset, uint8_t* data, size_t size, size_t& got, std::string& problem) {
    got = 0;
    while (got < size) {
        const ssize_t n = ::pread(fd, data + got, size - got, off_t(offset + got));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            problem = std::string("read error: ") + std::strerror(errno);
            return false;
        }
        if (n == 0) break;
        got += size_t(n);
    }
    return true;
}

} // namespace

EsSource::~EsSource() {
    if (fd >= 0) ::close(fd);
}

bool EsSource::open(const std::string& path, std::string& problem) {
    filePath = path;
    fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat st {};
    if (fd < 0 || ::fstat(fd, &st) != 0) {
        problem = "cannot open " + path + ": " + std::strerror(errno);
        return false;
    }
    fileSize = uint64_t(st.st_size);
    uint8_t head[kEventsOffset] = {};
    size_t got = 0;
    if (!readSome(fd, 0, head, sizeof(head), got, problem)) return false;
    if (got < 16 || std::memcmp(head, "Event Stream", 12) != 0) {
        problem = path + " is not an Event Stream file (no \"Event Stream\" header)";
        return false;
    }
    if (head[12] != 2) {
        problem = path + ": Event Stream version " + std::to_string(head[12]) + "." + std::to_string(head[13]) + "." +
                  std::to_string(head[14]) + " is not read (version 2 is)";
        return false;
    }
    if (head[15] != 1) {
        problem = path + ": the Event Stream holds " + typeName(head[15]) + "; only DVS events are read";
        return false;
    }
    if (got < kEventsOffset) {
        problem = path + ": the Event Stream header ends before the sensor size";
        return false;
    }
    about.width = uint32_t(head[16]) | uint32_t(head[17]) << 8;
    about.height = uint32_t(head[18]) | uint32_t(head[19]) << 8;
    return true;
}

bool EsSource::read(const BlockPosition& pos, std::vector<Event2D>& events, std::vector<EventTriggerIn>& triggers,
                    BlockPosition& next, bool& end, std::string& problem) {
    events.clear();
    triggers.clear();
    end = false;
    damage = false;
    const uint64_t start = std::max(pos.offset, kEventsOffset);
    if (start >= fileSize) {
        end = true;
        next = pos;
        return true;
    }
    const size_t want = size_t(std::min<uint64_t>(kBlockBytes, fileSize - start));
    buffer.resize(want);
    size_t got = 0;
    if (!readSome(fd, start, buffer.data(), want, got, problem)) return false;
    events.reserve(got / kEventBytes + 1);
    uint64_t t = pos.state;
    size_t i = 0;
    size_t boundary = 0;   // just after the last complete event (or skipped byte)
    uint64_t boundaryT = t;
    while (i < got) {
        const uint8_t b = buffer[i];
        if (b == kOverflow) {
            t += kOverflowUs;
            boundary = ++i;
            boundaryT = t;
            continue;
        }
        if (b == kReset) {
            boundary = ++i;
            continue;
        }
        if (got - i < kEventBytes) break;
        const uint8_t* e = &buffer[i];
        t += e[0] >> 1;
        Event2D ev;
        ev.polarity = e[0] & 1;
        ev.x = uint16_t(e[1] | e[2] << 8);
        ev.y = uint16_t(e[3] | e[4] << 8);
        ev.timestamp = t;
        events.push_back(ev);
        i += kEventBytes;
        boundary = i;
        boundaryT = t;
    }
    if (boundary == 0) {
        // Not even one event fits: the file ends inside it.
        problem = "the file ends inside an event at byte " + std::to_string(start) + " (" + std::to_string(got) +
                  " of its " + std::to_string(kEventBytes) + " bytes)";
        damage = true;
        return false;
    }
    next = BlockPosition{start + boundary, 0, boundaryT};
    return true;
}

} // namespace norvale::detail
