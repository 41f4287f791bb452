// The writing side of the raw formats: EVT 3.0, EVT 2.0, EVT 2.1 and DAT. Each writes its header
// once it knows the first timestamp (the header states it), then the encoded words.
#include <unistd.h>

#include <cerrno>
#include <algorithm>
#include <cstring>
#include <locale>
#include <sstream>

#include "raw/RawFormatWriters.h"
#include "norvale/Evt3Encoder.h"
#include "norvale/FuncUtils.h"
#include "norvale/RawFileWriter.h"
#include "raw/EvtWordEncoders.h"

namespace norvale::detail {

namespace {

// Replaces the value of the "% <key> " line of a header.
void replaceLine(std::string& header, const std::string& key, const std::string& value) {
    const std::string tag = "% " + key + " ";
    size_t pos = header.compare(0, tag.size(), tag) == 0 ? 0 : header.find("\n" + tag);
    if (pos == std::string::npos) return;
    if (pos) ++pos;
    const size_t start = pos + tag.size();
    header.replace(start, header.find('\n', start) - start, value);
}

std::string dateText(const EventFileDescription& d) {
    return d.hasStartTime ? timePointToString(d.startTime) : getSysTime();
}

std::string describeGeometry(const EventFileDescription& d) {
    return std::to_string(d.width) + " x " + std::to_string(d.height);
}

// The word formats: the header of our recordings naming the format, then the words.
class EvtWriter final : public FormatWriter {
public:
    explicit EvtWriter(EventFileFormat format) : format(format) {}

    bool begin(int descriptor, const std::string& p, const EventFileDescription& d, std::string& problem) override {
        fd = descriptor;
        path = p;
        desc = d;
        if (d.width == 0 || d.height == 0 || d.width > kMaxRawSide || d.height > kMaxRawSide) {
            problem = "a geometry of " + describeGeometry(d) + " does not fit a raw file (at most 2048 x 2048)";
            return false;
        }
        if (format == EventFileFormat::Evt3) evt3 = Evt3Encoder(d.width, d.height);
        else words = std::make_unique<EvtWordEncoder>(format == EventFileFormat::Evt21, d.width, d.height);
        return true;
    }

    bool write(const Event2D* eBegin, const Event2D* eEnd, const EventTriggerIn* tBegin, const EventTriggerIn* tEnd,
               std::string& problem) override {
        if (eBegin == eEnd && tBegin == tEnd) return true;
        if (!headerWritten) {
            uint64_t first = eBegin != eEnd ? eBegin->timestamp : tBegin->timestamp;
            if (eBegin != eEnd && tBegin != tEnd) first = std::min(first, tBegin->timestamp);
            if (!writeHeader(first, problem)) return false;
        }
        if (words) {
            if (!words->add(eBegin, eEnd, tBegin, tEnd, problem)) return false;
            const bool ok = writeAll(fd, words->data(), words->size(), problem);
            words->clearOutput();
            return ok;
        }
        for (const EventTriggerIn* k = tBegin; k != tEnd; ++k)
            if (k->id > 15 || k->value > 1) {
                problem = "trigger at t = " + std::to_string(k->timestamp) + " on channel " + std::to_string(k->id) +
                          " cannot be stored in EVT 3.0 (channels 0..15)";
                return false;
            }
        for (const Event2D* e = eBegin; e != eEnd; ++e)
            if (e->x >= desc.width || e->y >= desc.height || e->polarity > 1) {
                problem = "event at t = " + std::to_string(e->timestamp) + " (x " + std::to_string(e->x) + ", y " +
                          std::to_string(e->y) + ") lies outside the " + describeGeometry(desc) + " sensor";
                return false;
            }
        evt3.add(eBegin, eEnd, tBegin, tEnd);
        if (evt3.droppedEvents() || evt3.droppedTriggers()) {
            problem = "a timestamp near t = " + std::to_string(eBegin != eEnd ? eBegin->timestamp : tBegin->timestamp) +
                      " goes back or ahead in time further than EVT 3.0 can express";
            return false;
        }
        const bool ok = writeAll(fd, evt3.data(), evt3.size(), problem);
        evt3.clearOutput();
        return ok;
    }

    bool end(std::string& problem) override {
        if (!headerWritten && !writeHeader(0, problem)) return false;
        if (words) {
            std::string unused;
            words->add(nullptr, nullptr, nullptr, nullptr, unused); // the last vector
            const bool ok = writeAll(fd, words->data(), words->size(), problem);
            words->clearOutput();
            return ok;
        }
        return true;
    }

    bool holdsTriggers() const override { return true; }

private:
    bool writeHeader(uint64_t firstTimestamp, std::string& problem) {
        DvsFileInfo info;
        info.width = desc.width;
        info.height = desc.height;
        info.serialNumber = desc.serialNumber;
        info.dvsStartTimestamp = firstTimestamp;
        std::string header = rawFileHeader(info);
        replaceLine(header, "date", dateText(desc));
        const std::string geometry = "height = " + std::to_string(desc.height) + "; width = " + std::to_string(desc.width);
        if (format == EventFileFormat::Evt2) {
            replaceLine(header, "evt", "2.0");
            replaceLine(header, "format", "EVT2; " + geometry);
        } else if (format == EventFileFormat::Evt21) {
            replaceLine(header, "evt", "2.1");
            replaceLine(header, "format", "EVT21; " + geometry);
        }
        headerWritten = true;
        return writeAll(fd, header.data(), header.size(), problem);
    }

    EventFileFormat format;
    int fd = -1;
    std::string path;
    EventFileDescription desc;
    bool headerWritten = false;
    Evt3Encoder evt3;
    std::unique_ptr<EvtWordEncoder> words;
};

// DAT: a text header, an event type byte (0, change detection) and size byte (8), then per event
// a 32-bit timestamp and a 32-bit word: x in bits 0-13, y in 14-27, polarity in 28-31.
class DatWriter final : public FormatWriter {
public:
    bool begin(int descriptor, const std::string& p, const EventFileDescription& d, std::string& problem) override {
        fd = descriptor;
        path = p;
        desc = d;
        if (d.width == 0 || d.height == 0 || d.width > 16384 || d.height > 16384) {
            problem = "a geometry of " + describeGeometry(d) + " does not fit a DAT file (at most 16384 x 16384)";
            return false;
        }
        std::ostringstream h;
        h.imbue(std::locale::classic());
        h << "% Data file containing CD events.\n"
          << "% Version 2\n"
          << "% Date " << dateText(d).substr(0, 19) << '\n'
          << "% Height " << d.height << '\n'
          << "% Width " << d.width << '\n';
        std::string header = h.str();
        header += char(0); // event type: change detection
        header += char(8); // bytes per event
        return writeAll(fd, header.data(), header.size(), problem);
    }

    bool write(const Event2D* eBegin, const Event2D* eEnd, const EventTriggerIn*, const EventTriggerIn*,
               std::string& problem) override {
        buffer.clear();
        buffer.reserve(size_t(eEnd - eBegin) * 8);
        for (const Event2D* e = eBegin; e != eEnd; ++e) {
            if (e->timestamp > UINT32_MAX) {
                problem = "event at t = " + std::to_string(e->timestamp) +
                          " lies past 2^32 us (about 71.6 minutes), which a DAT file cannot hold";
                return false;
            }
            if (e->x >= desc.width || e->y >= desc.height || e->polarity > 1) {
                problem = "event at t = " + std::to_string(e->timestamp) + " (x " + std::to_string(e->x) + ", y " +
                          std::to_string(e->y) + ") lies outside the " + describeGeometry(desc) + " sensor";
                return false;
            }
            const uint32_t t = uint32_t(e->timestamp);
            const uint32_t a = uint32_t(e->x) | (uint32_t(e->y) << 14) | (uint32_t(e->polarity) << 28);
            for (int i = 0; i < 4; ++i) buffer.push_back(uint8_t(t >> (8 * i)));
            for (int i = 0; i < 4; ++i) buffer.push_back(uint8_t(a >> (8 * i)));
        }
        return writeAll(fd, buffer.data(), buffer.size(), problem);
    }

    bool end(std::string&) override { return true; }
    bool holdsTriggers() const override { return false; }

private:
    int fd = -1;
    std::string path;
    EventFileDescription desc;
    std::vector<uint8_t> buffer;
};

} // namespace

std::unique_ptr<FormatWriter> makeRawFormatWriter(EventFileFormat format) {
    switch (format) {
    case EventFileFormat::Evt3:
    case EventFileFormat::Evt2:
    case EventFileFormat::Evt21: return std::make_unique<EvtWriter>(format);
    case EventFileFormat::Dat: return std::make_unique<DatWriter>();
    default: return nullptr;
    }
}

} // namespace norvale::detail
