#include <cstring>

#include "norvale/NetworkStream.h"

namespace norvale {

namespace {
constexpr size_t kMaxUdpPayload = 65507;

inline void put16(uint8_t* p, uint16_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}
inline void put32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}
inline void put64(uint8_t* p, uint64_t v) {
    for (int i = 0; i < 8; ++i) p[i] = uint8_t(v >> (8 * i));
}
} // namespace

bool parseWireFormat(const std::string& name, WireFormat& format) {
    if (name == "t64_x16_y16_on8") format = WireFormat::T64_X16_Y16_ON8;
    else if (name == "t32_x16_y15_on1") format = WireFormat::T32_X16_Y15_ON1;
    else return false;
    return true;
}

const char* wireFormatName(WireFormat format) {
    return format == WireFormat::T32_X16_Y15_ON1 ? "t32_x16_y15_on1" : "t64_x16_y16_on8";
}

size_t wireEventSize(WireFormat format) { return format == WireFormat::T32_X16_Y15_ON1 ? 8 : 13; }

size_t maxEventsPerDatagram(WireFormat format) { return kMaxUdpPayload / wireEventSize(format); }

bool fitsWire(WireFormat format, const Event2D& e) {
    if (e.polarity > 1) return false;
    return format != WireFormat::T32_X16_Y15_ON1 || e.y < 0x8000;
}

void packEvents(WireFormat format, const Event2D* begin, const Event2D* end, std::vector<uint8_t>& out) {
    const size_t size = wireEventSize(format);
    const size_t at = out.size();
    out.resize(at + size_t(end - begin) * size);
    uint8_t* p = out.data() + at;
    if (format == WireFormat::T32_X16_Y15_ON1) {
        for (const Event2D* e = begin; e != end; ++e, p += size) {
            put32(p, uint32_t(e->timestamp));
            put16(p + 4, e->x);
            put16(p + 6, uint16_t((e->y << 1) | (e->polarity & 1)));
        }
    } else {
        for (const Event2D* e = begin; e != end; ++e, p += size) {
            put64(p, e->timestamp);
            put16(p + 8, e->x);
            put16(p + 10, e->y);
            p[12] = e->polarity;
        }
    }
}

bool parseUdpUrl(const std::string& url, std::string& host, uint16_t& port, std::string& why) {
    const std::string scheme = "udp://";
    if (url.compare(0, scheme.size(), scheme) != 0) {
        why = "\"" + url + "\" does not begin with udp://";
        return false;
    }
    const std::string rest = url.substr(scheme.size());
    const size_t colon = rest.rfind(':');
    if (colon == std::string::npos || colon == 0) {
        why = "\"" + url + "\" is not udp://HOST:PORT";
        return false;
    }
    const std::string p = rest.substr(colon + 1);
    unsigned long value = 0;
    bool digits = !p.empty() && p.size() <= 5;
    for (char c : p) digits = digits && c >= '0' && c <= '9';
    if (digits) value = std::stoul(p);
    if (!digits || value < 1 || value > 65535) {
        why = "port \"" + p + "\" of " + url + " is not a number from 1 to 65535";
        return false;
    }
    host = rest.substr(0, colon);
    port = uint16_t(value);
    return true;
}

} // namespace norvale
