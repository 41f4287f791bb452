#include "formats/aedat/Aedat4Source.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string_view>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "EventPacket_generated.h"
#include "FileDataTable_generated.h"
#include "IOHeader_generated.h"
#include "TriggerPacket_generated.h"
#include "norvale/Logger.h"

namespace norvale::detail {

using namespace aedat;
namespace fb = ::norvale::aedat4;

namespace {

// A block gathers packets until it covers this much of the file (or holds this many events), so
// the reader's index stays small even for files of many small packets.
constexpr uint64_t kBlockBytes = 256 * 1024;
constexpr size_t kBlockEvents = EventBlockSource::kMaxBlockEvents / 2;
constexpr size_t kMaxStreams = 256;

// The text of the attribute value after key (an XML attribute of that name in quotes), up to the
// next '<'; empty when absent. Only the stream's own part of the description is searched, so a
// description of many streams costs one pass.
std::string attributeText(std::string_view part, const char* key) {
    const std::string quoted = std::string("\"") + key + "\"";
    const size_t k = part.find(quoted);
    if (k == std::string_view::npos) return std::string();
    const size_t open = part.find('>', k);
    if (open == std::string_view::npos) return std::string();
    const size_t close = part.find('<', open);
    if (close == std::string_view::npos) return std::string();
    std::string_view v = part.substr(open + 1, close - open - 1);
    const size_t a = v.find_first_not_of(" \t\r\n");
    const size_t b = v.find_last_not_of(" \t\r\n");
    return a == std::string_view::npos ? std::string() : std::string(v.substr(a, b - a + 1));
}

bool smallNumber(const std::string& s, uint32_t& v) {
    if (s.empty() || s.size() > 6) return false;
    v = 0;
    for (char c : s) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + uint32_t(c - '0');
    }
    return true;
}

bool looksCompressed(const uint8_t* p, size_t n, Compression& c) {
    static const uint8_t lz4[4] = {0x04, 0x22, 0x4D, 0x18};
    static const uint8_t zstd[4] = {0x28, 0xB5, 0x2F, 0xFD};
    if (n >= 4 && std::memcmp(p, lz4, 4) == 0) c = Compression::Lz4;
    else if (n >= 4 && std::memcmp(p, zstd, 4) == 0) c = Compression::Zstd;
    else return false;
    return true;
}

} // namespace

Aedat4Source::~Aedat4Source() {
    if (fd >= 0) ::close(fd);
}

bool Aedat4Source::open(const std::string& path, std::string& problem) {
    filePath = path;
    fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat st {};
    if (fd < 0 || ::fstat(fd, &st) != 0) {
        problem = "cannot open " + path + ": " + std::strerror(errno);
        return false;
    }
    fileSize = uint64_t(st.st_size);
    uint8_t head[kVersionLineSize + 4];
    if (fileSize < sizeof(head) || !readAt(fd, 0, head, sizeof(head), problem) ||
        std::memcmp(head, kVersionLine, kVersionLineSize) != 0) {
        problem = path + " is not an AEDAT 4 file (no \"#!AER-DAT4.0\" line)";
        return false;
    }
    const int32_t headerSize = readI32(head + kVersionLineSize);
    const uint64_t dataStart = sizeof(head) + uint64_t(uint32_t(headerSize));
    if (headerSize < 8 || size_t(headerSize) > kMaxIoHeaderBytes || dataStart > fileSize) {
        problem = path + ": the file header declares " + std::to_string(headerSize) + " bytes, the file has " +
                  std::to_string(fileSize - sizeof(head)) + " after it";
        return false;
    }
    std::vector<uint8_t> header(size_t(headerSize) + 4);
    std::memcpy(header.data(), head + kVersionLineSize, 4);
    if (!readAt(fd, sizeof(head), header.data() + 4, size_t(headerSize), problem)) return false;
    flatbuffers::Verifier check(header.data(), header.size());
    if (!fb::VerifySizePrefixedIOHeaderBuffer(check)) {
        problem = path + ": the file header is damaged (its table does not verify)";
        return false;
    }
    const fb::IOHeader* io = fb::GetSizePrefixedIOHeader(header.data());
    const int32_t c = int32_t(io->compression());
    if (c < 0 || c > int32_t(Compression::ZstdHigh)) {
        problem = path + ": unknown packet compression " + std::to_string(c);
        return false;
    }
    packing = Compression(c);
    if (!parseDescription(io->info_node() ? io->info_node()->str() : std::string(), problem)) {
        problem = path + ": " + problem;
        return false;
    }
    const int64_t tablePos = io->data_table_position();
    dataEnd = fileSize;
    if (tablePos >= 0) {
        if (uint64_t(tablePos) < dataStart || uint64_t(tablePos) > fileSize) {
            if (!quiet)
                NR_LOG(LOG_WARN, "%s: the packet table lies outside the file (byte %lld); the packets are read to the end",
                       path.c_str(), (long long)tablePos);
        } else if (loadTable(tablePos, dataStart)) {
            fromTable = true;
            dataEnd = uint64_t(tablePos);
        } else {
            // A damaged table: the packets still end where it begins.
            if (!quiet) NR_LOG(LOG_WARN, "%s: the packet table is damaged; the packets are walked instead", path.c_str());
            dataEnd = uint64_t(tablePos);
        }
    }
    firstPacket = dataStart;
    return true;
}

bool Aedat4Source::parseDescription(const std::string& xml, std::string& problem) {
    // Each stream is a node named by its number; its type and source sizes are attributes in it.
    std::vector<std::pair<size_t, int32_t>> starts;
    static const char tag[] = "<node name=\"";
    for (size_t at = xml.find(tag); at != std::string::npos; at = xml.find(tag, at + 1)) {
        const size_t nameAt = at + sizeof(tag) - 1;
        const size_t quote = xml.find('"', nameAt);
        if (quote == std::string::npos) break;
        uint32_t id = 0;
        if (quote - nameAt <= 6 && smallNumber(xml.substr(nameAt, quote - nameAt), id)) {
            if (starts.size() == kMaxStreams) break; // no camera has more; the rest is not read
            starts.emplace_back(at, int32_t(id));
        }
    }
    for (size_t i = 0; i < starts.size(); ++i) {
        const size_t from = starts[i].first;
        const size_t to = i + 1 < starts.size() ? starts[i + 1].first : xml.size();
        const std::string_view part = std::string_view(xml).substr(from, to - from);
        Stream s;
        s.id = starts[i].second;
        const std::string type = attributeText(part, "typeIdentifier");
        s.kind = type == "EVTS"   ? Kind::Events
                 : type == "TRIG" ? Kind::Triggers
                 : type == "FRME" ? Kind::Frames
                                  : Kind::Other;
        smallNumber(attributeText(part, "sizeX"), s.width);
        smallNumber(attributeText(part, "sizeY"), s.height);
        if (s.kind == Kind::Events && eventStream < 0) {
            eventStream = s.id;
            if (s.width > 0 && s.height > 0 && s.width <= 65536 && s.height <= 65536) {
                about.width = s.width;
                about.height = s.height;
            }
            about.serialNumber = attributeText(part, "source");
        }
        if (s.kind == Kind::Frames && frameStreamId < 0) {
            frameStreamId = s.id;
            if (s.width > 0 && s.height > 0) {
                frameWidth = s.width;
                frameHeight = s.height;
            }
        }
        streams.push_back(s);
    }
    if (!quiet && streams.size() > 1 && std::count_if(streams.begin(), streams.end(),
                                            [](const Stream& s) { return s.kind == Kind::Events; }) > 1)
        NR_LOG(LOG_WARN, "AEDAT 4 file with several event streams: only stream %d is read", eventStream);
    (void)problem;
    return true;
}

bool Aedat4Source::loadTable(int64_t position, uint64_t dataStart) {
    const uint64_t size = fileSize - uint64_t(position);
    if (size < 8 || size > kMaxDecodedBytes) return false;
    std::vector<uint8_t> stored(size);
    std::string why;
    if (!readAt(fd, uint64_t(position), stored.data(), stored.size(), why)) return false;
    Compression c = Compression::None;
    std::vector<uint8_t> table;
    if (looksCompressed(stored.data(), stored.size(), c)) {
        if (!decompressBody(c, stored.data(), stored.size(), kMaxDecodedBytes, table, why)) return false;
    } else {
        table.swap(stored);
    }
    flatbuffers::Verifier check(table.data(), table.size());
    if (!fb::VerifySizePrefixedFileDataTableBuffer(check)) return false;
    const auto* entries = fb::GetSizePrefixedFileDataTable(table.data())->table();
    if (!entries) return true;
    // Every entry names a packet inside the packet area, in file order.
    uint64_t previous = dataStart;
    for (const fb::FileDataDefinition* e : *entries) {
        if (!e || !e->packet_info()) return false;
        const int64_t at = e->byte_offset();
        const int32_t bodySize = e->packet_info()->size();
        if (at < int64_t(dataStart) || bodySize < 0 || uint64_t(at) < previous ||
            uint64_t(at) + uint64_t(bodySize) > uint64_t(position))
            return false;
        previous = uint64_t(at);
    }
    tableEntries = entries->size();
    return true;
}

bool Aedat4Source::readPacket(uint64_t offset, int32_t& stream, std::string& problem) {
    uint8_t header[kPacketHeaderSize];
    if (dataEnd - offset < kPacketHeaderSize) {
        problem = "the file ends inside the packet header at byte " + std::to_string(offset);
        return false;
    }
    if (!readAt(fd, offset, header, sizeof(header), problem)) {
        readFailed = true;
        return false;
    }
    stream = readI32(header);
    const int32_t size = readI32(header + 4);
    if (size < 0 || uint64_t(size) > dataEnd - offset - kPacketHeaderSize) {
        problem = "the packet at byte " + std::to_string(offset) + " declares " + std::to_string(size) +
                  " bytes, " + std::to_string(dataEnd - offset - kPacketHeaderSize) + " remain";
        return false;
    }
    bodySize = uint32_t(size);
    return true;
}

bool Aedat4Source::packetAt(uint64_t offset, int32_t& stream, uint32_t& storedSize, std::string& problem) {
    if (offset < firstPacket || offset >= dataEnd) {
        problem = "no packet at byte " + std::to_string(offset);
        return false;
    }
    if (!readPacket(offset, stream, problem)) return false;
    storedSize = bodySize;
    return true;
}

bool Aedat4Source::packetStart(uint64_t offset, uint32_t storedSize, size_t max, std::vector<uint8_t>& stored,
                               std::string& problem) {
    if (offset < firstPacket || offset >= dataEnd || dataEnd - offset < kPacketHeaderSize ||
        storedSize > dataEnd - offset - kPacketHeaderSize) {
        problem = "the packet at byte " + std::to_string(offset) + " lies outside the packet area";
        return false;
    }
    stored.resize(std::min<size_t>(storedSize, max));
    return readAt(fd, offset + kPacketHeaderSize, stored.data(), stored.size(), problem);
}

bool Aedat4Source::packetBody(uint64_t offset, uint32_t storedSize, size_t cap, std::vector<uint8_t>& stored,
                              std::vector<uint8_t>& out, std::string& problem) {
    if (!packetStart(offset, storedSize, storedSize, stored, problem)) return false;
    if (!decompressBody(packing, stored.data(), stored.size(), cap, out, problem)) {
        problem = "packet at byte " + std::to_string(offset) + ": " + problem;
        return false;
    }
    return true;
}

bool Aedat4Source::inflatePacket(uint64_t offset, int32_t stream, std::vector<EventTriggerIn>& triggers,
                                 std::string& problem) {
    eventPacket = false;
    Kind kind = Kind::Other;
    bool described = false;
    for (const Stream& s : streams)
        if (s.id == stream) {
            kind = s.kind;
            described = true;
        }
    if (described && kind != Kind::Events && kind != Kind::Triggers) return true; // frames, IMU samples, ...
    if (described && kind == Kind::Events && stream != eventStream) return true;
    body.resize(bodySize);
    if (!readAt(fd, offset + kPacketHeaderSize, body.data(), body.size(), problem)) {
        readFailed = true;
        return false;
    }
    if (!decompressBody(packing, body.data(), body.size(), kMaxDecodedBytes, decoded, problem)) {
        problem = "packet at byte " + std::to_string(offset) + ": " + problem;
        return false;
    }
    const auto ident = [&](const char* id) {
        return decoded.size() >= 12 && flatbuffers::BufferHasIdentifier(decoded.data(), id, true);
    };
    flatbuffers::Verifier check(decoded.data(), decoded.size());
    if (ident(fb::EventPacketIdentifier())) {
        if (described && kind != Kind::Events) return true;
        if (!fb::VerifySizePrefixedEventPacketBuffer(check)) {
            problem = "the event packet at byte " + std::to_string(offset) + " is damaged (does not verify)";
            return false;
        }
        eventPacket = true;
        return true;
    }
    if (ident(fb::TriggerPacketIdentifier())) {
        if (!fb::VerifySizePrefixedTriggerPacketBuffer(check)) {
            problem = "the trigger packet at byte " + std::to_string(offset) + " is damaged (does not verify)";
            return false;
        }
        const auto* elements = fb::GetSizePrefixedTriggerPacket(decoded.data())->elements();
        if (!elements) return true;
        const size_t had = triggers.size();
        for (const fb::Trigger* t : *elements) {
            EventTriggerIn edge;
            // Input edges are channel 0, the generator's own edges channel 1; a detected pulse is
            // its rising edge. Resets and frame markers are the camera's, not trigger inputs.
            switch (t->type()) {
            case fb::TriggerType_EXTERNAL_SIGNAL_RISING_EDGE:
            case fb::TriggerType_EXTERNAL_SIGNAL_PULSE: edge.value = 1; edge.id = 0; break;
            case fb::TriggerType_EXTERNAL_SIGNAL_FALLING_EDGE: edge.value = 0; edge.id = 0; break;
            case fb::TriggerType_EXTERNAL_GENERATOR_RISING_EDGE: edge.value = 1; edge.id = 1; break;
            case fb::TriggerType_EXTERNAL_GENERATOR_FALLING_EDGE: edge.value = 0; edge.id = 1; break;
            default: continue;
            }
            if (t->timestamp() < 0) {
                problem = "the trigger packet at byte " + std::to_string(offset) + " holds a negative time";
                triggers.resize(had);
                return false;
            }
            edge.timestamp = uint64_t(t->timestamp());
            triggers.push_back(edge);
        }
        return true;
    }
    if (described) {
        char id[5] = {};
        if (decoded.size() >= 12) std::memcpy(id, decoded.data() + 8, 4);
        problem = "the packet at byte " + std::to_string(offset) + " of an event or trigger stream holds \"" +
                  std::string(id) + "\" data";
        return false;
    }
    return true; // an undescribed stream of another type
}

namespace {

// Where a block's events go: each sink takes a packet's events [from, to) at once, and leaves
// itself as it was when one of them has a negative time or pixel (false).
using Elements = flatbuffers::Vector<const fb::Event*>;

bool valid(const fb::Event* e) {
    return e->t() >= 0 && e->x() >= 0 && e->y() >= 0;
}

// Events [from, to) of a packet into out; false at the first with a negative time or pixel.
bool copyEvents(const Elements& el, size_t from, size_t to, Event2D* out) {
    for (size_t i = from; i < to; ++i, ++out) {
        const fb::Event* e = el.Get(flatbuffers::uoffset_t(i));
        if (!valid(e)) return false;
        out->x = uint16_t(e->x());
        out->y = uint16_t(e->y());
        out->polarity = e->on() ? 1 : 0;
        out->timestamp = uint64_t(e->t());
    }
    return true;
}

// Into a vector whose elements, kept from the block before, are room: written once, not cleared
// and filled (read cuts it to the events taken).
struct VectorSink {
    std::vector<Event2D>& events;
    size_t n = 0;
    size_t size() const { return n; }
    bool take(const Elements& el, size_t from, size_t to) {
        const size_t need = n + (to - from);
        if (events.size() < need) {
            if (events.capacity() < need) // grown by doubling: packets come one by one
                events.reserve(std::max(need, 2 * events.capacity()));
            events.resize(need);
        }
        if (!copyEvents(el, from, to, events.data() + n)) return false;
        n = need;
        return true;
    }
    void clear() { n = 0; }
};

// Straight into the caller's room (a whole-file read); more events than room: the file changed.
struct RoomSink {
    Event2D* out;
    size_t room;
    size_t n = 0;
    bool overflow = false;
    size_t size() const { return n; }
    bool take(const Elements& el, size_t from, size_t to) {
        if (to - from > room - n) {
            overflow = true;
            return false;
        }
        if (!copyEvents(el, from, to, out + n)) return false;
        n += to - from;
        return true;
    }
    void clear() { n = 0; }
};

// What the index needs (times, ON count, largest coordinates), without building events.
struct SummarySink {
    BlockSummary& summary;
    size_t size() const { return summary.times.size(); }
    bool take(const Elements& el, size_t from, size_t to) {
        const size_t had = summary.times.size();
        summary.times.resize(had + (to - from));
        uint64_t* times = summary.times.data() + had;
        uint64_t on = 0;
        uint32_t maxX = summary.maxX, maxY = summary.maxY;
        for (size_t i = from; i < to; ++i) {
            const fb::Event* e = el.Get(flatbuffers::uoffset_t(i));
            if (!valid(e)) {
                summary.times.resize(had);
                return false;
            }
            *times++ = uint64_t(e->t());
            on += e->on() ? 1 : 0;
            maxX = std::max<uint32_t>(maxX, uint32_t(e->x()));
            maxY = std::max<uint32_t>(maxY, uint32_t(e->y()));
        }
        summary.on += on;
        summary.maxX = maxX;
        summary.maxY = maxY;
        return true;
    }
    void clear() {
        summary.times.clear();
        summary.on = 0;
        summary.maxX = summary.maxY = 0;
    }
};

} // namespace

bool Aedat4Source::blockStarts(std::vector<BlockPosition>& starts, std::string&) {
    starts.clear();
    uint64_t boundary = firstPacket;
    for (uint64_t offset = firstPacket; offset < dataEnd;) {
        int32_t stream = 0;
        std::string why; // damage is reported by the read of its block
        if (!readPacket(offset, stream, why)) break;
        if (offset >= boundary) {
            starts.push_back(BlockPosition{offset, 0, 0});
            boundary = firstPacket + ((offset - firstPacket) / kBlockBytes + 1) * kBlockBytes;
        }
        offset += kPacketHeaderSize + bodySize;
    }
    readFailed = false;
    return true;
}

template <class Sink>
bool Aedat4Source::walk(const BlockPosition& pos, Sink& sink, std::vector<EventTriggerIn>& triggers,
                        BlockPosition& next, bool& end, std::string& problem) {
    sink.clear();
    triggers.clear();
    end = false;
    damage = false;
    readFailed = false;
    uint64_t offset = std::max(pos.offset, firstPacket);
    if (offset >= dataEnd) {
        end = true;
        next = pos;
        return true;
    }
    uint64_t skip = pos.index; // events of the first packet a previous block took
    const uint64_t start = offset;
    const uint64_t boundary = firstPacket + ((start - firstPacket) / kBlockBytes + 1) * kBlockBytes;
    while (offset < dataEnd) {
        if (offset > start && (offset >= boundary || sink.size() >= kBlockEvents)) break;
        int32_t stream = 0;
        std::string why;
        const size_t hadTriggers = triggers.size();
        bool ok = readPacket(offset, stream, why) && inflatePacket(offset, stream, triggers, why);
        const Elements* elements = ok && eventPacket ? fb::GetSizePrefixedEventPacket(decoded.data())->elements() : nullptr;
        const size_t count = elements ? elements->size() : 0;
        if (ok && skip > count) {
            why = "the packet at byte " + std::to_string(offset) + " changed while the file was read";
            readFailed = true;
            ok = false;
        }
        size_t to = count;
        if (ok && sink.size() + (count - skip) > kMaxBlockEvents) {
            if (offset > start) { // this packet starts the next block
                triggers.resize(hadTriggers);
                break;
            }
            to = size_t(skip) + kMaxBlockEvents; // one packet of more events than a block holds: read in parts
        }
        if (ok && to > skip && !sink.take(*elements, size_t(skip), to)) {
            why = "the event packet at byte " + std::to_string(offset) +
                  " holds an event with a negative time or pixel";
            ok = false;
        }
        if (!ok) {
            if (offset > start) { // this block ends before the damage; the next read reports it
                triggers.resize(hadTriggers);
                break;
            }
            problem = why;
            damage = !readFailed;
            sink.clear();
            triggers.clear();
            return false;
        }
        if (to < count) {
            next = BlockPosition{offset, to, 0};
            return true;
        }
        skip = 0;
        offset += kPacketHeaderSize + bodySize;
    }
    next = BlockPosition{offset, 0, 0};
    return true;
}

bool Aedat4Source::read(const BlockPosition& pos, std::vector<Event2D>& events, std::vector<EventTriggerIn>& triggers,
                        BlockPosition& next, bool& end, std::string& problem) {
    VectorSink sink{events};
    const bool ok = walk(pos, sink, triggers, next, end, problem);
    events.resize(sink.n);
    return ok;
}

bool Aedat4Source::readInto(const BlockPosition& pos, Event2D* out, size_t room, size_t& n,
                            std::vector<EventTriggerIn>& triggers, BlockPosition& next, bool& end,
                            std::string& problem) {
    RoomSink sink{out, room};
    const bool ok = walk(pos, sink, triggers, next, end, problem);
    n = sink.n;
    if (sink.overflow) {
        problem = "the file changed after it was opened";
        damage = false;
        return false;
    }
    return ok;
}

bool Aedat4Source::summarize(const BlockPosition& pos, BlockSummary& summary, std::vector<EventTriggerIn>& triggers,
                             BlockPosition& next, bool& end, std::string& problem) {
    SummarySink sink{summary};
    return walk(pos, sink, triggers, next, end, problem);
}

} // namespace norvale::detail
