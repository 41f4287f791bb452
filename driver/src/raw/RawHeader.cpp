#include "norvale/RawHeader.h"

#include <cctype>
#include <cstdlib>
#include <cstring>

namespace norvale {

namespace {

std::string trim(const std::string& s) {
    size_t b = 0, e = s.size();
    while (b < e && std::isspace(static_cast<unsigned char>(s[b]))) ++b;
    while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1]))) --e;
    return s.substr(b, e - b);
}

std::string lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

bool parseUnsigned(const std::string& text, uint64_t& value) {
    const std::string t = trim(text);
    if (t.empty() || t.size() > 20) return false;
    uint64_t v = 0;
    for (char c : t) {
        if (c < '0' || c > '9') return false;
        const uint64_t next = v * 10 + uint64_t(c - '0');
        if (next / 10 != v) return false;
        v = next;
    }
    value = v;
    return true;
}

// Coordinates are 11 bits in both formats.
bool validGeometry(uint64_t w, uint64_t h) { return w >= 1 && h >= 1 && w <= 2048 && h <= 2048; }

struct Geometry {
    bool set = false;
    uint32_t width = 0, height = 0;
};

// "EVT3;height=720;width=1280" with loose blanks.
bool parseFormatLine(const std::string& value, RawFormat& format, Geometry& geo, std::string& problem) {
    std::string rest = value;
    size_t semi = rest.find(';');
    const std::string name = lower(trim(rest.substr(0, semi)));
    if (name == "evt3") format = RawFormat::Evt3;
    else if (name == "evt2") format = RawFormat::Evt2;
    else if (name == "evt21") format = RawFormat::Evt21;
    else {
        problem = "unsupported format '" + trim(value) + "'";
        return false;
    }
    uint64_t w = 0, h = 0;
    while (semi != std::string::npos) {
        rest = rest.substr(semi + 1);
        semi = rest.find(';');
        const std::string item = rest.substr(0, semi);
        const size_t eq = item.find('=');
        if (eq == std::string::npos) continue;
        const std::string key = lower(trim(item.substr(0, eq)));
        uint64_t v = 0;
        if (!parseUnsigned(item.substr(eq + 1), v)) continue;
        if (key == "width") w = v;
        if (key == "height") h = v;
    }
    // Words stored as two swapped 32-bit halves would decode into wrong events, never into none.
    if (format == RawFormat::Evt21 && lower(value).find("endianness=legacy") != std::string::npos) {
        problem = "unsupported format '" + trim(value) + "' (EVT 2.1 with swapped 32-bit halves)";
        return false;
    }
    if (w || h) {
        if (validGeometry(w, h)) {
            geo.set = true;
            geo.width = uint32_t(w);
            geo.height = uint32_t(h);
        } else {
            problem = "ignoring impossible geometry in format line";
        }
    }
    return true;
}

} // namespace

HeaderStatus parseRawHeader(const char* data, size_t size, bool complete, RawHeader& out, std::string& problem) {
    out = RawHeader{};
    problem.clear();
    if (size < 2 || data[0] != '%' || data[1] != ' ') {
        problem = "no raw file header";
        return HeaderStatus::NoHeader;
    }
    Geometry fromGeometry, fromFormat, fromPlugin;
    uint64_t datWidth = 0, datHeight = 0;
    bool formatSeen = false;
    bool dat = false;
    size_t pos = 0;
    while (pos + 1 < size && data[pos] == '%' && data[pos + 1] == ' ') {
        const void* nl = std::memchr(data + pos, '\n', size - pos);
        size_t lineEnd, next;
        if (nl) {
            lineEnd = size_t(static_cast<const char*>(nl) - data);
            next = lineEnd + 1;
        } else if (complete) {
            lineEnd = next = size; // a header without data
        } else {
            problem = "header longer than " + std::to_string(kMaxHeaderBytes) + " bytes";
            return HeaderStatus::TooLong;
        }
        if (next > kMaxHeaderBytes) {
            problem = "header longer than " + std::to_string(kMaxHeaderBytes) + " bytes";
            return HeaderStatus::TooLong;
        }
        std::string line(data + pos + 2, lineEnd - pos - 2);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        pos = next;
        ++out.lineCount;
        const size_t sp = line.find(' ');
        const std::string key = line.substr(0, sp);
        const std::string value = sp == std::string::npos ? std::string() : line.substr(sp + 1);
        const std::string lkey = lower(key);
        if (out.lineCount == 1 && lower(line).rfind("data file containing", 0) == 0) {
            dat = true;
            out.format = RawFormat::Dat;
            formatSeen = true;
            continue;
        }
        if (lkey == "end") break;
        if (dat && (lkey == "height" || lkey == "width")) {
            uint64_t v = 0;
            if (parseUnsigned(value, v)) (lkey == "height" ? datHeight : datWidth) = v;
            else problem = "ignoring unreadable " + lkey + " '" + trim(value) + "'";
            continue;
        }
        if (lkey == "date") {
            out.date = trim(value);
            out.hasDate = true;
        } else if (key == "evt") {
            const std::string v = trim(value);
            if (v == "3.0") out.format = RawFormat::Evt3;
            else if (v == "2.0") out.format = RawFormat::Evt2;
            else if (v == "2.1") out.format = RawFormat::Evt21;
            else {
                problem = "unsupported event format 'evt " + v + "'";
                return HeaderStatus::UnknownFormat;
            }
            formatSeen = true;
        } else if (key == "format") {
            std::string p;
            if (!parseFormatLine(value, out.format, fromFormat, p)) {
                problem = p;
                return HeaderStatus::UnknownFormat;
            }
            if (!p.empty()) problem = p;
            formatSeen = true;
        } else if (key == "geometry") {
            const std::string v = trim(value);
            const size_t x = v.find('x');
            uint64_t gw = 0, gh = 0;
            if (x != std::string::npos && parseUnsigned(v.substr(0, x), gw) && parseUnsigned(v.substr(x + 1), gh) &&
                validGeometry(gw, gh)) {
                fromGeometry = {true, uint32_t(gw), uint32_t(gh)};
            } else {
                problem = "ignoring impossible geometry '" + v + "'";
            }
        } else if (key == "plugin_name") {
            const std::string v = lower(value);
            if (v.find("gen41") != std::string::npos || v.find("imx636") != std::string::npos ||
                v.find("imx646") != std::string::npos)
                fromPlugin = {true, 1280, 720};
            else if (v.find("gen3") != std::string::npos)
                fromPlugin = {true, 640, 480};
        } else if (key == "serial_number") {
            out.serialNumber = trim(value);
        } else if (key == "dvs_start_timestamp") {
            out.hasDvsStart = parseUnsigned(value, out.dvsStartTimestamp);
        } else if (key == "aps_start_timestamp") {
            out.hasApsStart = parseUnsigned(value, out.apsStartTimestamp);
        }
    }
    (void)formatSeen; // without a format line the file is taken as EVT 3.0
    if (dat) {
        // sizes beyond any sensor are a damaged line: the data decide instead
        if (datWidth || datHeight) {
            if (validGeometry(datWidth, datHeight))
                fromGeometry = {true, uint32_t(datWidth), uint32_t(datHeight)};
            else
                problem = "ignoring impossible geometry " + std::to_string(datWidth) + " x " + std::to_string(datHeight);
        }
        // one byte of event type and one of event size follow the last header line
        if (size - pos < 2) {
            problem = complete ? "DAT file ends before its event type and size" : "DAT header too long";
            return complete ? HeaderStatus::UnknownFormat : HeaderStatus::TooLong;
        }
        const unsigned type = static_cast<unsigned char>(data[pos]), evSize = static_cast<unsigned char>(data[pos + 1]);
        if (type != 0 || evSize != 8) {
            problem = "unsupported DAT event type " + std::to_string(type) + " of size " + std::to_string(evSize) +
                      " (only CD events, type 0 of size 8, are read)";
            return HeaderStatus::UnknownFormat;
        }
        pos += 2;
    }
    const Geometry& g = fromGeometry.set ? fromGeometry : fromFormat.set ? fromFormat : fromPlugin;
    if (g.set) {
        out.width = g.width;
        out.height = g.height;
        out.hasGeometry = true;
    }
    out.dataOffset = pos;
    return HeaderStatus::Ok;
}

} // namespace norvale
