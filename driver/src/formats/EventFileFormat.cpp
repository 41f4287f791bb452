#include "norvale/EventFileFormat.h"

#include "norvale/RawHeader.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace norvale {

namespace {

std::string lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return s;
}

std::string extensionOf(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    const size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return std::string();
    return lower(path.substr(dot));
}

bool startsWith(const std::string& data, const char* prefix) { return data.compare(0, std::strlen(prefix), prefix) == 0; }

// Text whose first lines hold a line of four numbers (t, x, y, p), whatever the file is called.
bool looksLikeTextEvents(const std::string& head) {
    const size_t n = std::min<size_t>(head.size(), 4096);
    for (size_t i = 0; i < n; ++i) {
        const unsigned char c = static_cast<unsigned char>(head[i]);
        if (c == 0 || (c < 0x20 && c != '\n' && c != '\r' && c != '\t')) return false;
    }
    size_t line = 0;
    for (int lines = 0; lines < 8 && line < n; ++lines) {
        size_t end = head.find('\n', line);
        if (end == std::string::npos || end > n) end = n;
        int numbers = 0;
        bool inNumber = false, other = false;
        for (size_t i = line; i < end; ++i) {
            const char c = head[i];
            if (std::isdigit(static_cast<unsigned char>(c)) || c == '.' || c == '-' || c == '+' || c == 'e' || c == 'E') {
                if (!inNumber) ++numbers;
                inNumber = true;
            } else if (c == ',' || c == ' ' || c == '\t' || c == ';' || c == '\r') {
                inNumber = false;
            } else {
                other = true;
                break;
            }
        }
        if (!other && numbers == 4) return true;
        line = end + 1;
    }
    return false;
}

} // namespace

EventFileFormat rawFileFormat(RawFormat format) {
    switch (format) {
    case RawFormat::Evt2: return EventFileFormat::Evt2;
    case RawFormat::Evt21: return EventFileFormat::Evt21;
    case RawFormat::Dat: return EventFileFormat::Dat;
    case RawFormat::Evt3: break;
    }
    return EventFileFormat::Evt3;
}

const std::vector<EventFileFormatInfo>& eventFileFormats() {
    static const std::vector<EventFileFormatInfo> formats = {
        {EventFileFormat::Evt3, "EVT 3.0", "evt3", ".raw", true, true},
        {EventFileFormat::Evt2, "EVT 2.0", "evt2", ".raw", true, true},
        {EventFileFormat::Evt21, "EVT 2.1", "evt21", ".raw", true, true},
        {EventFileFormat::Dat, "DAT", "dat", ".dat", true, false},
        {EventFileFormat::Hdf5, "HDF5", "hdf5", ".h5 .hdf5", true, false},
        {EventFileFormat::Aedat4, "AEDAT 4", "aedat4", ".aedat4", true, true},
        {EventFileFormat::EventStream, "Event Stream", "es", ".es", false, false},
        {EventFileFormat::Csv, "CSV", "csv", ".csv .txt", true, false},
        {EventFileFormat::Npy, "NumPy", "npy", ".npy", true, false},
    };
    return formats;
}

const EventFileFormatInfo& formatInfo(EventFileFormat format) {
    for (const EventFileFormatInfo& f : eventFileFormats())
        if (f.format == format) return f;
    return eventFileFormats().front();
}

bool formatFromKey(const std::string& key, EventFileFormat& format) {
    const std::string k = lower(key);
    for (const EventFileFormatInfo& f : eventFileFormats())
        if (k == f.key || k == lower(f.name)) {
            format = f.format;
            return true;
        }
    return false;
}

bool formatFromExtension(const std::string& path, EventFileFormat& format) {
    const std::string ext = extensionOf(path);
    if (ext.empty()) return false;
    for (const EventFileFormatInfo& f : eventFileFormats()) {
        const std::string list = std::string(f.extensions) + ' ';
        if (list.find(ext + ' ') != std::string::npos) {
            format = f.format; // the first format of an extension: ".raw" is EVT 3.0
            return true;
        }
    }
    return false;
}

namespace {

// HDF5's signature is at the start or after a user block of 512, 1024, 2048, ... bytes.
bool hdf5Signature(const std::string& head) {
    static const std::string signature("\x89HDF\r\n\x1a\n", 8);
    for (size_t at = 0; at + signature.size() <= head.size(); at = at ? at * 2 : 512)
        if (head.compare(at, signature.size(), signature) == 0) return true;
    return false;
}

} // namespace

bool detectFormat(const std::string& path, EventFileFormat& format, std::string& problem) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        problem = std::strerror(errno);
        return false;
    }
    std::string head(65536, '\0');
    ssize_t got = 0;
    do got = ::pread(fd, &head[0], head.size(), 0);
    while (got < 0 && errno == EINTR);
    ::close(fd);
    if (got < 0) {
        problem = std::string("cannot read: ") + std::strerror(errno);
        return false;
    }
    head.resize(size_t(got));
    if (hdf5Signature(head)) format = EventFileFormat::Hdf5;
    else if (startsWith(head, "#!AER-DAT4.0")) format = EventFileFormat::Aedat4;
    else if (startsWith(head, "Event Stream")) format = EventFileFormat::EventStream;
    else if (startsWith(head, "\x93NUMPY")) format = EventFileFormat::Npy;
    else if (startsWith(head, "% ")) {
        // A raw header: its format line says which, and a DAT file's first line names it.
        RawHeader header;
        std::string why;
        if (parseRawHeader(head.data(), head.size(), size_t(got) < 65536, header, why) == HeaderStatus::UnknownFormat) {
            problem = why;
            return false;
        }
        format = rawFileFormat(header.format);
    } else {
        const std::string ext = extensionOf(path);
        if (ext == ".csv" || ext == ".txt" || looksLikeTextEvents(head)) format = EventFileFormat::Csv;
        else if (ext == ".raw") format = EventFileFormat::Evt3; // a raw file without header
        else {
            problem = "not an event file we can read (tried the headers of EVT 3.0, EVT 2.0, EVT 2.1 and "
                             "DAT, the signatures of HDF5, AEDAT 4, Event Stream and NumPy, and text events t, x, y, p)";
            return false;
        }
    }
    return true;
}

void smallestSensorHolding(uint32_t maxX, uint32_t maxY, uint32_t& width, uint32_t& height) {
    static const uint32_t sensors[][2] = {{304, 240}, {320, 240}, {346, 260}, {640, 480},
                                          {1280, 720}, {1280, 800}, {2048, 2048}};
    for (const auto& s : sensors)
        if (maxX < s[0] && maxY < s[1]) {
            width = s[0];
            height = s[1];
            return;
        }
    width = (maxX + 2) & ~1u;
    height = (maxY + 2) & ~1u;
}

} // namespace norvale
