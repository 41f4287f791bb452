#include "formats/text/CsvFormat.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "norvale/SafeOutputFile.h"

namespace norvale::detail {

namespace {

// A block is the lines of about this many bytes; no line may be longer than kMaxLine.
constexpr size_t kBlockBytes = size_t(1) << 20;
constexpr size_t kMaxLine = 64 * 1024;

enum Column { ColT, ColX, ColY, ColP, ColCount };

bool isBlank(char c) { return c == ' ' || c == '\t'; }

std::string quoted(const char* b, const char* e) {
    std::string s(b, size_t(std::min<ptrdiff_t>(e - b, 60)));
    for (char& c : s)
        if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) >= 0x7f) c = '?';
    return "'" + s + (e - b > 60 ? "...'" : "'");
}

bool readAll(int fd, char* to, size_t n, uint64_t at, size_t& got) {
    got = 0;
    while (got < n) {
        const ssize_t r = ::pread(fd, to + got, n - got, off_t(at + got));
        if (r < 0 && errno == EINTR) continue;
        if (r < 0) return false;
        if (r == 0) break;
        got += size_t(r);
    }
    return true;
}

class CsvSource : public EventBlockSource {
public:
    ~CsvSource() override {
        if (fd >= 0) ::close(fd);
    }

    bool open(const std::string& path, std::string& problem) override {
        fd = openRegularFile(path, problem);
        struct stat st {};
        if (fd < 0 || ::fstat(fd, &st) != 0) {
            if (problem.empty()) problem = std::strerror(errno);
            return false;
        }
        fileSize = uint64_t(st.st_size);
        std::string head(size_t(std::min<uint64_t>(fileSize, kMaxLine * 4)), '\0');
        size_t got = 0;
        if (!readAll(fd, &head[0], head.size(), 0, got)) {
            problem = std::strerror(errno);
            return false;
        }
        head.resize(got);
        // What the first lines show decides whether this is an event file at all.
        const std::string notEvents = "not an event file we can read (read as text events t, x, y, p: ";
        // The lines before the first event: comments, a header, a geometry line.
        size_t at = 0;
        uint64_t line = 1;
        bool sawHeader = false, sawGeometry = false;
        while (at < head.size()) {
            size_t nl = head.find('\n', at);
            if (nl == std::string::npos) {
                if (head.size() < fileSize) {
                    problem = "line " + std::to_string(line) + " is longer than " + std::to_string(kMaxLine) + " bytes";
                    return false;
                }
                nl = head.size();
            }
            const char* b = head.data() + at;
            const char* e = head.data() + nl;
            if (e > b && e[-1] == '\r') --e;
            while (b < e && isBlank(*b)) ++b;
            const size_t lineEnd = std::min(nl + 1, head.size());
            if (b == e || *b == '#') {
                at = lineEnd;
                ++line;
                continue;
            }
            std::vector<std::pair<const char*, const char*>> fields;
            split(b, e, fields);
            if (!sawHeader && !sawGeometry && std::isalpha(static_cast<unsigned char>(*b))) {
                if (!readHeader(fields, problem)) {
                    problem = notEvents + "line " + std::to_string(line) + ": " + problem + ")";
                    return false;
                }
                sawHeader = true;
                at = lineEnd;
                ++line;
                continue;
            }
            uint64_t w = 0, h = 0;
            if (!sawHeader && !sawGeometry && fields.size() == 2 && integer(fields[0], w) && integer(fields[1], h) &&
                w > 0 && h > 0 && w <= 65536 && h <= 65536) {
                sensor.width = uint32_t(w);
                sensor.height = uint32_t(h);
                sawGeometry = true;
                comma = -1; // the events' own separator decides
                at = lineEnd;
                ++line;
                continue;
            }
            // The first event says the unit of every time: a decimal point or an exponent in it
            // means seconds (as float text is written), digits alone mean microseconds.
            if (columns[ColT] < fields.size()) {
                for (const char* c = fields[columns[ColT]].first; c < fields[columns[ColT]].second; ++c)
                    if (*c == '.' || *c == 'e' || *c == 'E') seconds = true;
            }
            Event2D ev;
            if (!parse(fields, ev, problem)) {
                problem = notEvents + "line " + std::to_string(line) + ": " + problem + " in " + quoted(b, e) + ")";
                return false;
            }
            break;
        }
        start.offset = at;
        start.state = line;
        fast = comma >= 0 && fieldCount == 4 && columns[ColT] == 0 && columns[ColX] == 1 && columns[ColY] == 2 &&
               columns[ColP] == 3 && !seconds;
        return true;
    }

    // Block k holds the lines that start from start.offset + k * kBlockBytes on: the first line
    // start at or past each such offset, found by reading a little around it.
    bool blockStarts(std::vector<BlockPosition>& starts, std::string&) override {
        starts.assign(1, BlockPosition{start.offset, 0, 0});
        std::vector<char> near(kMaxLine + 1);
        for (uint64_t at = start.offset + kBlockBytes; at < fileSize; at += kBlockBytes) {
            // A line end is near, unless lines are long: a little is read first.
            const void* nl = nullptr;
            for (size_t want : {size_t(4096), near.size()}) {
                size_t got = 0;
                if (!readAll(fd, near.data(), want, at - 1, got)) return true; // read on one after another
                nl = std::memchr(near.data(), '\n', got);
                if (nl || got < want) break;
            }
            if (!nl) return true;
            const uint64_t line = at + uint64_t(static_cast<const char*>(nl) - near.data());
            if (line >= fileSize) return true;
            starts.push_back(BlockPosition{line, 0, 0});
        }
        return true;
    }

    const BlockSourceInfo& info() const override { return sensor; }
    BlockPosition first() const override { return start; }
    bool damaged() const override { return damage; }

    bool read(const BlockPosition& pos, std::vector<Event2D>& events, std::vector<EventTriggerIn>& triggers,
              BlockPosition& next, bool& end, std::string& problem) override {
        events.clear();
        triggers.clear();
        damage = false;
        end = pos.offset >= fileSize;
        if (end) return true;
        // The block ends with the first line that starts at or past its boundary; a line may run
        // kMaxLine past it.
        const uint64_t boundary = start.offset + ((pos.offset - start.offset) / kBlockBytes + 1) * kBlockBytes;
        const size_t want = size_t(std::min<uint64_t>(fileSize - pos.offset, boundary - pos.offset + kMaxLine + 1));
        buffer.resize(want);
        size_t got = 0;
        if (!readAll(fd, buffer.data(), want, pos.offset, got)) {
            problem = std::strerror(errno);
            return false;
        }
        if (got < want) {
            problem = "the file became shorter after it was opened";
            return false;
        }
        size_t used = got;
        if (pos.offset + got < fileSize) {
            const size_t from = size_t(boundary - 1 - pos.offset);
            const void* nl = std::memchr(buffer.data() + from, '\n', got - from);
            // None: a line too long, which the loop below finds and reports with its number.
            if (nl) used = size_t(static_cast<const char*>(nl) - buffer.data()) + 1;
        }
        uint64_t line = pos.state;
        std::vector<std::pair<const char*, const char*>> fields;
        const char* p = buffer.data();
        const char* stop = buffer.data() + used;
        while (p < stop) {
            if (fast) {
                Event2D ev;
                const char* q = fastLine(p, stop, ev);
                if (q) {
                    events.push_back(ev);
                    ++line;
                    p = q;
                    continue;
                }
            }
            const char* nl = static_cast<const char*>(std::memchr(p, '\n', size_t(stop - p)));
            const char* e = nl ? nl : stop;
            const char* lineStart = p;
            p = nl ? nl + 1 : stop;
            const char* b = lineStart;
            const char* le = e;
            if (le > b && le[-1] == '\r') --le;
            while (b < le && isBlank(*b)) ++b;
            if (b == le || *b == '#') {
                ++line;
                continue;
            }
            // Past the first block, and for a last line cut short with the file, the lines before
            // a bad one are kept: this block ends there and the next read reports the damage. In
            // the first block a bad line refuses the file (it may be text of another kind).
            const bool cut = !nl && pos.offset + used == fileSize;
            const bool keepBefore = (cut || pos.offset != start.offset) && !events.empty();
            const auto endBefore = [&] {
                next.offset = pos.offset + uint64_t(lineStart - buffer.data());
                next.state = line;
                return true;
            };
            if (size_t(e - lineStart) > kMaxLine) {
                if (keepBefore) return endBefore();
                problem = "line " + std::to_string(line) + " is longer than " + std::to_string(kMaxLine) + " bytes";
                damage = true;
                return false;
            }
            split(b, le, fields);
            Event2D ev;
            if (!parse(fields, ev, problem)) {
                if (keepBefore) return endBefore();
                problem = "line " + std::to_string(line) + ": " + problem + " in " + quoted(b, le) +
                          (cut ? " (the file ends inside this line)" : "");
                damage = true;
                return false;
            }
            events.push_back(ev);
            ++line;
        }
        next.offset = pos.offset + used;
        next.state = line;
        return true;
    }

private:
    // Whole digits from p: their value, and p past them; false for none or more than maxDigits.
    static bool digits(const char*& p, const char* stop, int maxDigits, uint64_t& v) {
        const char* b = p;
        uint64_t r = 0;
        while (p < stop && unsigned(*p - '0') < 10) r = r * 10 + unsigned(*p++ - '0');
        v = r;
        return p > b && p - b <= maxDigits;
    }

    // The common line, "t,x,y,p" in microseconds with no blanks (or one space between fields) and
    // a polarity of 0 or 1, parsed in one pass: the start of the next line, or null for any other
    // line (the general parser takes it).
    const char* fastLine(const char* p, const char* stop, Event2D& ev) const {
        const char sep = comma ? ',' : ' ';
        uint64_t t = 0, x = 0, y = 0;
        if (!digits(p, stop, 19, t) || p >= stop || *p++ != sep) return nullptr;
        if (!digits(p, stop, 5, x) || x > 0xffff || p >= stop || *p++ != sep) return nullptr;
        if (!digits(p, stop, 5, y) || y > 0xffff || p >= stop || *p++ != sep) return nullptr;
        if (p >= stop || (*p != '0' && *p != '1')) return nullptr;
        ev.polarity = uint8_t(*p++ - '0');
        if (p < stop && *p == '\r') ++p;
        if (p >= stop || *p != '\n') return nullptr;
        ev.timestamp = t;
        ev.x = uint16_t(x);
        ev.y = uint16_t(y);
        return p + 1;
    }

    void split(const char* b, const char* e, std::vector<std::pair<const char*, const char*>>& fields) {
        fields.clear();
        if (comma < 0) comma = std::memchr(b, ',', size_t(e - b)) ? 1 : 0;
        while (b < e && isBlank(e[-1])) --e;
        if (comma) {
            for (const char* f = b;;) {
                const char* c = static_cast<const char*>(std::memchr(f, ',', size_t(e - f)));
                const char* fe = c ? c : e;
                const char* fb = f;
                while (fb < fe && isBlank(*fb)) ++fb;
                const char* ft = fe;
                while (ft > fb && isBlank(ft[-1])) --ft;
                fields.emplace_back(fb, ft);
                if (!c) break;
                f = c + 1;
            }
        } else {
            for (const char* f = b; f < e;) {
                while (f < e && isBlank(*f)) ++f;
                const char* fe = f;
                while (fe < e && !isBlank(*fe)) ++fe;
                if (fe > f) fields.emplace_back(f, fe);
                f = fe;
            }
        }
    }

    bool readHeader(const std::vector<std::pair<const char*, const char*>>& fields, std::string& problem) {
        for (size_t& c : columns) c = SIZE_MAX;
        for (size_t i = 0; i < fields.size(); ++i) {
            std::string name(fields[i].first, fields[i].second);
            if (name.size() >= 2 && (name.front() == '"' || name.front() == '\'') && name.back() == name.front())
                name = name.substr(1, name.size() - 2);
            for (char& ch : name) ch = char(std::tolower(static_cast<unsigned char>(ch)));
            int col = -1;
            if (name == "t" || name == "ts" || name == "timestamp") col = ColT;
            else if (name == "x") col = ColX;
            else if (name == "y") col = ColY;
            else if (name == "p" || name == "pol" || name == "polarity") col = ColP;
            if (col >= 0 && columns[col] == SIZE_MAX) columns[col] = i;
        }
        static const char* names[] = {"t", "x", "y", "p"};
        for (int c = 0; c < ColCount; ++c)
            if (columns[c] == SIZE_MAX) {
                problem = std::string("the header names no column ") + names[c] + " (columns t, x, y, p are needed)";
                return false;
            }
        fieldCount = fields.size();
        return true;
    }

    static bool integer(const std::pair<const char*, const char*>& f, uint64_t& v) {
        if (f.first == f.second) return false;
        const auto r = std::from_chars(f.first, f.second, v);
        return r.ec == std::errc() && r.ptr == f.second;
    }

    // Seconds as written in decimal, to the nearest microsecond without a detour through a double
    // (which would lose the last digit of long recordings).
    static bool secondsText(const std::pair<const char*, const char*>& f, uint64_t& us) {
        const char* p = f.first;
        const char* e = f.second;
        if (p < e && *p == '+') ++p;
        for (const char* c = p; c < e; ++c)
            if (*c == 'e' || *c == 'E') {
                char* endp = nullptr;
                const std::string s(p, e);
                const double v = std::strtod(s.c_str(), &endp);
                if (endp != s.c_str() + s.size() || !(v >= 0) || v * 1e6 >= 1.8e19) return false;
                us = uint64_t(std::llround(v * 1e6));
                return true;
            }
        uint64_t whole = 0;
        const char* dot = static_cast<const char*>(std::memchr(p, '.', size_t(e - p)));
        const char* we = dot ? dot : e;
        if (we > p) {
            const auto r = std::from_chars(p, we, whole);
            if (r.ec != std::errc() || r.ptr != we) return false;
        } else if (!dot || dot + 1 == e) {
            return false;
        }
        if (whole > UINT64_MAX / 1000000 - 1) return false;
        uint64_t frac = 0;
        int digits = 0;
        bool roundUp = false;
        if (dot)
            for (const char* c = dot + 1; c < e; ++c) {
                if (*c < '0' || *c > '9') return false;
                if (digits < 6) frac = frac * 10 + uint64_t(*c - '0');
                else if (digits == 6) roundUp = *c >= '5';
                ++digits;
            }
        for (int d = digits; d < 6; ++d) frac *= 10;
        us = whole * 1000000 + frac + (roundUp ? 1 : 0);
        return true;
    }

    bool parse(const std::vector<std::pair<const char*, const char*>>& fields, Event2D& ev, std::string& problem) {
        if (fields.size() != fieldCount) {
            problem = "expected " + std::to_string(fieldCount) + " fields, found " + std::to_string(fields.size());
            return false;
        }
        uint64_t t = 0, x = 0, y = 0;
        const auto& ft = fields[columns[ColT]];
        if (seconds ? !secondsText(ft, t) : !integer(ft, t)) {
            problem = seconds ? "the time is not a number of seconds"
                              : "the time is not a whole number of microseconds (the file's first event gave none "
                                "in seconds)";
            return false;
        }
        if (!integer(fields[columns[ColX]], x) || x > 0xffff) {
            problem = "x is not a whole number from 0 to 65535";
            return false;
        }
        if (!integer(fields[columns[ColY]], y) || y > 0xffff) {
            problem = "y is not a whole number from 0 to 65535";
            return false;
        }
        const std::string pol(fields[columns[ColP]].first, fields[columns[ColP]].second);
        if (pol == "1" || pol == "+1" || pol == "True" || pol == "true") ev.polarity = 1;
        else if (pol == "0" || pol == "-1" || pol == "False" || pol == "false") ev.polarity = 0;
        else {
            problem = "the polarity is not 0, 1 or -1";
            return false;
        }
        ev.timestamp = t;
        ev.x = uint16_t(x);
        ev.y = uint16_t(y);
        return true;
    }

    int fd = -1;
    uint64_t fileSize = 0;
    BlockSourceInfo sensor;
    BlockPosition start;
    size_t columns[ColCount] = {ColT, ColX, ColY, ColP};
    size_t fieldCount = 4;
    int comma = -1; // -1 until the first line decides: 1 commas, 0 spaces and tabs
    bool seconds = false;
    bool fast = false; // the columns are t, x, y, p in this order, times in microseconds
    bool damage = false;
    std::vector<char> buffer;
};

class CsvWriter : public FormatWriter {
public:
    bool begin(int file, const std::string&, const EventFileDescription&, std::string& problem) override {
        fd = file;
        out.reserve(kFlushBytes + 128);
        out.assign("t,x,y,p\n", "t,x,y,p\n" + 8);
        return flush(problem);
    }

    bool write(const Event2D* b, const Event2D* e, const EventTriggerIn*, const EventTriggerIn*,
               std::string& problem) override {
        char line[64];
        for (; b < e; ++b) {
            char* p = line;
            p = std::to_chars(p, line + sizeof line, b->timestamp).ptr;
            *p++ = ',';
            p = std::to_chars(p, line + sizeof line, unsigned(b->x)).ptr;
            *p++ = ',';
            p = std::to_chars(p, line + sizeof line, unsigned(b->y)).ptr;
            *p++ = ',';
            *p++ = b->polarity ? '1' : '0';
            *p++ = '\n';
            out.insert(out.end(), line, p);
            if (out.size() >= kFlushBytes && !flush(problem)) return false;
        }
        return true;
    }

    bool end(std::string& problem) override { return flush(problem); }
    bool holdsTriggers() const override { return false; }

private:
    static constexpr size_t kFlushBytes = size_t(1) << 20;

    bool flush(std::string& problem) {
        if (!writeAll(fd, out.data(), out.size(), problem)) return false;
        out.clear();
        return true;
    }

    int fd = -1;
    std::vector<char> out;
};

} // namespace

std::unique_ptr<EventBlockSource> makeCsvSource() { return std::make_unique<CsvSource>(); }
std::unique_ptr<FormatWriter> makeCsvWriter() { return std::make_unique<CsvWriter>(); }

} // namespace norvale::detail
