#include "formats/aedat/Aedat4Writer.h"

#include <cerrno>
#include <cstring>
#include <limits>
#include <unistd.h>

#include "EventPacket_generated.h"
#include "FileDataTable_generated.h"
#include "IOHeader_generated.h"
#include "TriggerPacket_generated.h"

namespace norvale::detail {

using namespace aedat;
namespace fb = ::norvale::aedat4;

namespace {

constexpr int32_t kEventStream = 0;
constexpr int32_t kTriggerStream = 1;

std::string xmlEscaped(const std::string& s) {
    std::string out;
    for (char c : s) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        default:
            if (static_cast<unsigned char>(c) >= 0x20) out += c;
        }
    }
    return out;
}

std::string streamNode(int32_t id, const char* compression, const char* output, const char* type,
                       const char* typeText, const EventFileDescription& d) {
    const std::string path = "/outInfo/" + std::to_string(id) + "/";
    return "    <node name=\"" + std::to_string(id) + "\" path=\"" + path + "\">\n" +
           "      <attr key=\"compression\" type=\"string\">" + compression + "</attr>\n" +
           "      <attr key=\"originalModuleName\" type=\"string\">norvale</attr>\n" +
           "      <attr key=\"originalOutputName\" type=\"string\">" + output + "</attr>\n" +
           "      <attr key=\"typeDescription\" type=\"string\">" + typeText + "</attr>\n" +
           "      <attr key=\"typeIdentifier\" type=\"string\">" + type + "</attr>\n" +
           "      <node name=\"info\" path=\"" + path + "info/\">\n" +
           "        <attr key=\"sizeX\" type=\"int\">" + std::to_string(d.width) + "</attr>\n" +
           "        <attr key=\"sizeY\" type=\"int\">" + std::to_string(d.height) + "</attr>\n" +
           "        <attr key=\"source\" type=\"string\">" + xmlEscaped(d.serialNumber) + "</attr>\n" +
           "      </node>\n" + "    </node>\n";
}

const char* compressionKey(Compression c) {
    switch (c) {
    case Compression::None: return "NONE";
    case Compression::Lz4: return "LZ4";
    case Compression::Lz4High: return "LZ4_HIGH";
    case Compression::Zstd: return "ZSTD";
    case Compression::ZstdHigh: return "ZSTD_HIGH";
    }
    return "NONE";
}

} // namespace

bool Aedat4Writer::header(int64_t tablePosition, std::vector<uint8_t>& bytes) const {
    flatbuffers::FlatBufferBuilder fbb(1024 + description.size());
    fbb.ForceDefaults(true); // the table position is always stored, so patching it keeps the size
    const auto info = fbb.CreateString(description);
    fbb.FinishSizePrefixed(fb::CreateIOHeader(fbb, fb::CompressionType(int32_t(packing)), tablePosition, info),
                           fb::IOHeaderIdentifier());
    bytes.assign(fbb.GetBufferPointer(), fbb.GetBufferPointer() + fbb.GetSize());
    return true;
}

bool Aedat4Writer::begin(int fd, const std::string& path, const EventFileDescription& d, std::string& problem) {
    (void)path;
    out = fd;
    packing = d.compress ? Compression::Zstd : Compression::Lz4;
    const char* c = compressionKey(packing);
    description = std::string("<dv version=\"2.0\">\n  <node name=\"outInfo\" path=\"/outInfo/\">\n") +
                  streamNode(kEventStream, c, "events", "EVTS", "Array of events (polarity ON/OFF).", d) +
                  streamNode(kTriggerStream, c, "triggers", "TRIG", "Array of triggers.", d) + "  </node>\n</dv>\n";
    std::vector<uint8_t> h;
    header(std::numeric_limits<int64_t>::max(), h);
    headerBytes = h.size();
    if (!writeAll(out, kVersionLine, kVersionLineSize, problem) || !writeAll(out, h.data(), h.size(), problem))
        return false;
    written = kVersionLineSize + h.size();
    return true;
}

bool Aedat4Writer::packet(int32_t stream, const std::vector<uint8_t>& fb, int64_t elements, int64_t first,
                          int64_t last, std::string& problem) {
    if (!compressBody(packing, fb.data(), fb.size(), compressed, problem)) return false;
    if (compressed.size() > size_t(std::numeric_limits<int32_t>::max())) {
        problem = "packet too large";
        return false;
    }
    uint8_t h[kPacketHeaderSize];
    putI32(h, stream);
    putI32(h + 4, int32_t(compressed.size()));
    if (!writeAll(out, h, sizeof(h), problem) || !writeAll(out, compressed.data(), compressed.size(), problem))
        return false;
    table.push_back(Entry{int64_t(written + kPacketHeaderSize), stream, int32_t(compressed.size()), elements, first, last});
    written += kPacketHeaderSize + compressed.size();
    return true;
}

bool Aedat4Writer::flushEvents(size_t count, std::string& problem) {
    if (count == 0) return true;
    flatbuffers::FlatBufferBuilder fbb(count * sizeof(fb::Event) + 64);
    fb::Event* slots = nullptr;
    const auto vec = fbb.CreateUninitializedVectorOfStructs(count, &slots);
    for (size_t i = 0; i < count; ++i) {
        const Event2D& e = events[i];
        slots[i] = fb::Event(int64_t(e.timestamp), int16_t(e.x), int16_t(e.y), e.polarity != 0);
    }
    fbb.FinishSizePrefixed(fb::CreateEventPacket(fbb, vec), fb::EventPacketIdentifier());
    std::vector<uint8_t> fb(fbb.GetBufferPointer(), fbb.GetBufferPointer() + fbb.GetSize());
    if (!packet(kEventStream, fb, int64_t(count), int64_t(events.front().timestamp),
                int64_t(events[count - 1].timestamp), problem))
        return false;
    events.erase(events.begin(), events.begin() + ptrdiff_t(count));
    return true;
}

bool Aedat4Writer::flushTriggers(std::string& problem) {
    if (triggers.empty()) return true;
    flatbuffers::FlatBufferBuilder fbb(triggers.size() * 24 + 64);
    std::vector<flatbuffers::Offset<fb::Trigger>> list;
    list.reserve(triggers.size());
    for (const EventTriggerIn& t : triggers) {
        const fb::TriggerType type = t.id == 0 ? (t.value ? fb::TriggerType_EXTERNAL_SIGNAL_RISING_EDGE
                                                      : fb::TriggerType_EXTERNAL_SIGNAL_FALLING_EDGE)
                                           : (t.value ? fb::TriggerType_EXTERNAL_GENERATOR_RISING_EDGE
                                                      : fb::TriggerType_EXTERNAL_GENERATOR_FALLING_EDGE);
        list.push_back(fb::CreateTrigger(fbb, int64_t(t.timestamp), type));
    }
    fbb.FinishSizePrefixed(fb::CreateTriggerPacket(fbb, fbb.CreateVector(list)), fb::TriggerPacketIdentifier());
    std::vector<uint8_t> fb(fbb.GetBufferPointer(), fbb.GetBufferPointer() + fbb.GetSize());
    if (!packet(kTriggerStream, fb, int64_t(triggers.size()), int64_t(triggers.front().timestamp),
                int64_t(triggers.back().timestamp), problem))
        return false;
    triggers.clear();
    return true;
}

bool Aedat4Writer::write(const Event2D* begin, const Event2D* end, const EventTriggerIn* triggersBegin,
                         const EventTriggerIn* triggersEnd, std::string& problem) {
    constexpr uint64_t kMaxTime = uint64_t(std::numeric_limits<int64_t>::max());
    for (const EventTriggerIn* t = triggersBegin; t && t != triggersEnd; ++t) {
        if (t->id > 1) {
            problem = "AEDAT 4 holds trigger channels 0 and 1 only; an edge of channel " + std::to_string(t->id) +
                      " cannot be stored";
            return false;
        }
        if (t->timestamp > kMaxTime || t->value > 1) {
            problem = "a trigger edge AEDAT 4 cannot hold (time or value out of range)";
            return false;
        }
        triggers.push_back(*t);
    }
    for (const Event2D* e = begin; e != end; ++e)
        if (e->x > 32767 || e->y > 32767 || e->timestamp > kMaxTime) {
            problem = "event at x " + std::to_string(e->x) + ", y " + std::to_string(e->y) +
                      " is beyond what AEDAT 4 holds (16-bit signed pixels, 63-bit times)";
            return false;
        }
    events.insert(events.end(), begin, end);
    if (triggers.size() >= kPacketEvents && !flushTriggers(problem)) return false;
    while (events.size() >= kPacketEvents) {
        // Triggers of the same stretch go first, so both streams advance together through the file.
        if (!flushTriggers(problem) || !flushEvents(kPacketEvents, problem)) return false;
    }
    return true;
}

bool Aedat4Writer::end(std::string& problem) {
    if (!flushTriggers(problem) || !flushEvents(events.size(), problem)) return false;
    flatbuffers::FlatBufferBuilder fbb(table.size() * 64 + 64);
    std::vector<flatbuffers::Offset<fb::FileDataDefinition>> defs;
    defs.reserve(table.size());
    for (const Entry& e : table) {
        const fb::PacketHeader info(e.stream, e.size);
        defs.push_back(fb::CreateFileDataDefinition(fbb, e.body, &info, e.elements, e.first, e.last));
    }
    fbb.FinishSizePrefixed(fb::CreateFileDataTable(fbb, fbb.CreateVector(defs)), fb::FileDataTableIdentifier());
    if (!compressBody(packing, fbb.GetBufferPointer(), fbb.GetSize(), compressed, problem)) return false;
    const uint64_t tablePosition = written;
    if (!writeAll(out, compressed.data(), compressed.size(), problem)) return false;
    written += compressed.size();
    std::vector<uint8_t> h;
    header(int64_t(tablePosition), h);
    if (h.size() != headerBytes) {
        problem = "the file header changed size";
        return false;
    }
    size_t done = 0;
    while (done < h.size()) {
        const ssize_t put = ::pwrite(out, h.data() + done, h.size() - done, off_t(kVersionLineSize + done));
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) {
            problem = std::string("write error: ") + std::strerror(errno);
            return false;
        }
        done += size_t(put);
    }
    return true;
}

} // namespace norvale::detail
