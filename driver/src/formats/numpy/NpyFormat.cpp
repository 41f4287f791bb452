#include "formats/numpy/NpyFormat.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

#include "norvale/SafeOutputFile.h"

namespace norvale::detail {

namespace {

constexpr size_t kBlockBytes = size_t(1) << 20;
constexpr uint32_t kMaxHeader = 1 << 20;

static_assert(offsetof(Event2D, x) == 0 && offsetof(Event2D, y) == 2 && offsetof(Event2D, polarity) == 4 &&
                  offsetof(Event2D, timestamp) == 8,
              "events of our writer's layout are stored as two 64-bit words");

bool readAll(int fd, void* to, size_t n, uint64_t at, size_t& got) {
    got = 0;
    while (got < n) {
        const ssize_t r = ::pread(fd, static_cast<char*>(to) + got, n - got, off_t(at + got));
        if (r < 0 && errno == EINTR) continue;
        if (r < 0) return false;
        if (r == 0) break;
        got += size_t(r);
    }
    return true;
}

// The header is a Python literal: a dict of strings, booleans, tuples and lists.
struct Literal {
    enum Kind { Str, Int, Bool, None, Seq, Dict } kind = None;
    std::string text;
    long long number = 0;
    std::vector<Literal> items;             // Seq; Dict: values
    std::vector<std::string> keys;          // Dict
    const Literal* get(const std::string& key) const {
        for (size_t i = 0; i < keys.size(); ++i)
            if (keys[i] == key) return &items[i];
        return nullptr;
    }
};

class LiteralParser {
public:
    explicit LiteralParser(const std::string& s) : p(s.data()), e(s.data() + s.size()) {}
    bool parse(Literal& out, int depth = 0) {
        skip();
        if (p >= e || depth > 8) return false;
        const char c = *p;
        if (c == '\'' || c == '"') {
            out.kind = Literal::Str;
            ++p;
            while (p < e && *p != c) out.text += *p++;
            if (p >= e) return false;
            ++p;
            return true;
        }
        if (c == '{' || c == '[' || c == '(') {
            const char close = c == '{' ? '}' : c == '[' ? ']' : ')';
            out.kind = c == '{' ? Literal::Dict : Literal::Seq;
            ++p;
            for (;;) {
                skip();
                if (p < e && *p == close) {
                    ++p;
                    return true;
                }
                if (out.kind == Literal::Dict) {
                    Literal key;
                    if (!parse(key, depth + 1) || key.kind != Literal::Str) return false;
                    skip();
                    if (p >= e || *p != ':') return false;
                    ++p;
                    out.keys.push_back(key.text);
                }
                if (out.items.size() > 4096) return false;
                out.items.emplace_back();
                if (!parse(out.items.back(), depth + 1)) return false;
                skip();
                if (p < e && *p == ',') ++p;
                else if (p >= e || *p != close) return false;
            }
        }
        if (c == '-' || (c >= '0' && c <= '9')) {
            out.kind = Literal::Int;
            const bool neg = c == '-';
            if (neg) ++p;
            if (p >= e || *p < '0' || *p > '9') return false;
            unsigned long long v = 0;
            while (p < e && *p >= '0' && *p <= '9') {
                if (v > (ULLONG_MAX - 9) / 10) return false;
                v = v * 10 + unsigned(*p++ - '0');
            }
            if (p < e && *p == 'L') ++p;
            if (v > (unsigned long long)LLONG_MAX) return false;
            out.number = neg ? -(long long)v : (long long)v;
            return true;
        }
        for (const char* word : {"True", "False", "None"}) {
            const size_t n = std::strlen(word);
            if (size_t(e - p) >= n && std::memcmp(p, word, n) == 0) {
                p += n;
                out.kind = word[0] == 'N' ? Literal::None : Literal::Bool;
                out.number = word[0] == 'T';
                return true;
            }
        }
        return false;
    }
    bool atEnd() {
        skip();
        return p == e;
    }

private:
    void skip() {
        while (p < e && (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\r')) ++p;
    }
    const char* p;
    const char* e;
};

struct Field {
    size_t offset = 0;
    unsigned size = 0;
    bool isSigned = false;
    bool present = false;
    uint64_t mask = 0;  // of its bytes in a 64-bit load
    unsigned shift = 0; // 64 - its bits, to extend the sign
};

// Size of a NumPy type string ("<i8", "|V3", "<U10"); 0 when unknown.
size_t typeSize(const std::string& t, char& order, char& kind) {
    if (t.size() < 2) return 0;
    size_t at = 0;
    order = '=';
    if (t[0] == '<' || t[0] == '>' || t[0] == '|' || t[0] == '=') order = t[at++];
    kind = t[at++];
    if (kind == 'M' || kind == 'm') return 8;
    size_t n = 0;
    for (; at < t.size(); ++at) {
        if (t[at] < '0' || t[at] > '9' || n > (size_t(1) << 24)) return 0;
        n = n * 10 + size_t(t[at] - '0');
    }
    if (kind == 'U') return n * 4;
    if (std::strchr("biufcVSa", kind)) return n;
    return 0;
}

class NpySource : public EventBlockSource {
public:
    ~NpySource() override {
        if (fd >= 0) ::close(fd);
    }

    bool open(const std::string& path, std::string& problem) override {
        fd = openRegularFile(path, problem);
        struct stat st {};
        if (fd < 0 || ::fstat(fd, &st) != 0) {
            if (problem.empty()) problem = std::strerror(errno);
            return false;
        }
        const uint64_t fileSize = uint64_t(st.st_size);
        unsigned char pre[12] = {};
        size_t got = 0;
        if (!readAll(fd, pre, sizeof pre, 0, got)) {
            problem = std::strerror(errno);
            return false;
        }
        if (got < 10 || std::memcmp(pre, "\x93NUMPY", 6) != 0) {
            problem = "not a NumPy file (too short or no \\x93NUMPY mark)";
            return false;
        }
        const unsigned major = pre[6];
        uint32_t headerLen = 0;
        size_t lenBytes = 2;
        if (major == 1) {
            headerLen = uint32_t(pre[8]) | uint32_t(pre[9]) << 8;
        } else if (major == 2 || major == 3) {
            if (got < 12) {
                problem = "the NumPy header is cut short";
                return false;
            }
            lenBytes = 4;
            headerLen = uint32_t(pre[8]) | uint32_t(pre[9]) << 8 | uint32_t(pre[10]) << 16 | uint32_t(pre[11]) << 24;
        } else {
            problem = "NumPy format version " + std::to_string(major) + " is not known (1, 2 and 3 are)";
            return false;
        }
        dataOffset = 8 + lenBytes + headerLen;
        if (headerLen > kMaxHeader || dataOffset > fileSize) {
            problem = "the NumPy header claims " + std::to_string(headerLen) + " bytes, more than the file holds";
            return false;
        }
        std::string header(headerLen, '\0');
        if (!readAll(fd, &header[0], headerLen, 8 + lenBytes, got) || got != headerLen) {
            problem = "cannot read the NumPy header";
            return false;
        }
        Literal dict;
        LiteralParser parser(header);
        if (!parser.parse(dict) || !parser.atEnd() || dict.kind != Literal::Dict) {
            problem = "the NumPy header is not a readable dictionary";
            return false;
        }
        const Literal* descr = dict.get("descr");
        const Literal* fortran = dict.get("fortran_order");
        const Literal* shape = dict.get("shape");
        if (!descr || !fortran || !shape || fortran->kind != Literal::Bool || shape->kind != Literal::Seq) {
            problem = "the NumPy header lacks descr, fortran_order or shape";
            return false;
        }
        if (fortran->number) {
            problem = "the array is stored in Fortran order; only C order is read";
            return false;
        }
        if (shape->items.size() != 1 || shape->items[0].kind != Literal::Int || shape->items[0].number < 0) {
            problem = "the array is not one-dimensional (an array of event records is needed)";
            return false;
        }
        records = uint64_t(shape->items[0].number);
        if (!readDescr(*descr, problem)) return false;
        // A file cut short keeps its whole records: the first read past them reports the cut.
        declared = records;
        records = std::min<uint64_t>(records, (fileSize - dataOffset) / itemSize);
        perBlock = std::max<uint64_t>(1, std::min<uint64_t>(kMaxBlockEvents, kBlockBytes / itemSize));
        return true;
    }

    const BlockSourceInfo& info() const override { return sensor; }
    BlockPosition first() const override { return BlockPosition{}; }
    bool damaged() const override { return damage; }

    bool read(const BlockPosition& pos, std::vector<Event2D>& events, std::vector<EventTriggerIn>& triggers,
              BlockPosition& next, bool& end, std::string& problem) override {
        const size_t most = pos.index < records ? size_t(std::min<uint64_t>(perBlock, records - pos.index)) : 0;
        if (events.size() != most) events.resize(most); // a vector reused for blocks of one size is not cleared
        size_t n = 0;
        const bool ok = readInto(pos, events.data(), most, n, triggers, next, end, problem);
        events.resize(n);
        return ok;
    }

    bool readInto(const BlockPosition& pos, Event2D* out, size_t room, size_t& n, std::vector<EventTriggerIn>& triggers,
                  BlockPosition& next, bool& end, std::string& problem) override {
        triggers.clear();
        n = 0;
        size_t records = 0;
        if (!load(pos, records, end, problem) || end) return end;
        if (records > room) {
            problem = "the file changed after it was opened";
            return false;
        }
        const size_t good = standard && standardEvents(records, out)
                                ? records
                                : decode(records, [out](size_t i, uint64_t t, uint16_t x, uint16_t y, bool on) {
                                      out[i].timestamp = t;
                                      out[i].x = x;
                                      out[i].y = y;
                                      out[i].polarity = on ? 1 : 0;
                                  });
        if (!settle(pos, records, good, next, problem)) return false;
        n = good;
        return true;
    }

    // The index needs times, ON count and largest coordinates: no events are built for it.
    bool canSummarize() const override { return true; }
    bool summarize(const BlockPosition& pos, BlockSummary& summary, std::vector<EventTriggerIn>& triggers,
                   BlockPosition& next, bool& end, std::string& problem) override {
        triggers.clear();
        summary.on = 0;
        summary.maxX = summary.maxY = 0;
        size_t n = 0;
        if (!load(pos, n, end, problem) || end) {
            summary.times.clear();
            return end;
        }
        summary.times.resize(n);
        if (standard && standardSummary(n, summary)) {
            next.index = pos.index + n;
            return true;
        }
        uint64_t* times = summary.times.data();
        uint64_t on = 0;
        uint16_t maxX = 0, maxY = 0;
        const size_t good = decode(n, [&](size_t i, uint64_t t, uint16_t x, uint16_t y, bool isOn) {
            times[i] = t;
            on += isOn;
            maxX = x > maxX ? x : maxX;
            maxY = y > maxY ? y : maxY;
        });
        const bool ok = settle(pos, n, good, next, problem);
        summary.times.resize(ok ? good : 0);
        if (ok) {
            summary.on = on;
            summary.maxX = maxX;
            summary.maxY = maxY;
        }
        return ok;
    }

private:
    // The bytes of the block at pos into buffer: n records, or end, or false with problem (a file
    // cut short of the records its header declares is damaged there).
    bool load(const BlockPosition& pos, size_t& n, bool& end, std::string& problem) {
        damage = false;
        if (pos.index >= records && records < declared) {
            problem = "the NumPy header declares " + std::to_string(declared) + " records of " +
                      std::to_string(itemSize) + " bytes, but the file holds only " + std::to_string(records) +
                      " (truncated? it ends in record " + std::to_string(records) + ", at byte " +
                      std::to_string(dataOffset + records * itemSize) + ")";
            damage = true;
            return false;
        }
        end = pos.index >= records;
        if (end) return true;
        n = size_t(std::min<uint64_t>(perBlock, records - pos.index));
        const size_t bytes = n * itemSize;
        buffer.resize(bytes + 8); // a field is loaded as 8 bytes, also at the end of the last record
        size_t got = 0;
        if (!readAll(fd, buffer.data(), bytes, dataOffset + pos.index * itemSize, got)) {
            problem = std::strerror(errno);
            return false;
        }
        if (got < bytes) {
            problem = "the file became shorter after it was opened";
            return false;
        }
        return true;
    }

    // After decoding good of the block's n records: past the first block a record no event can
    // have ends the block before it (the next read names it), in the first it is damage.
    bool settle(const BlockPosition& pos, size_t n, size_t good, BlockPosition& next, std::string& problem) {
        if (good < n) {
            if (pos.index > 0 && good > 0) {
                next.index = pos.index + good;
                return true;
            }
            const uint8_t* rec = buffer.data() + good * itemSize;
            const int64_t t = value(rec, fields[0]), x = value(rec, fields[1]), y = value(rec, fields[2]);
            const char* bad = t < 0                  ? "negative time"
                              : uint64_t(x) > 0xffff ? "x outside 0..65535"
                              : uint64_t(y) > 0xffff ? "y outside 0..65535"
                                                     : "polarity not 0, 1 or -1";
            problem = "record " + std::to_string(pos.index + good) + ": " + bad + " (at byte " +
                      std::to_string(dataOffset + (pos.index + good) * itemSize) + ")";
            damage = true;
            return false;
        }
        next.index = pos.index + n;
        return true;
    }

    // A value of a little-endian integer field, loaded as 8 bytes and masked to its width; an
    // unsigned 64-bit value past INT64_MAX reads as negative (out of every range but polarity's -1,
    // as 2^64 - 1 is read).
    static int64_t value(const uint8_t* rec, const Field& f) {
        uint64_t v = 0;
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
        std::memcpy(&v, rec + f.offset, 8);
#else
        for (unsigned b = 0; b < 8; ++b) v |= uint64_t(rec[f.offset + b]) << (8 * b);
#endif
        v &= f.mask;
        if (f.isSigned) return int64_t(v << f.shift) >> f.shift;
        return int64_t(v);
    }

    // Records of our writer's layout are nearly always all good: one pass without branches
    // converts them and proves it (no negative time, no polarity past 1), or returns false for the
    // record-by-record path to find the one at fault.
    bool standardEvents(size_t n, Event2D* out) const {
        const uint8_t* rec = buffer.data();
        uint8_t* to = reinterpret_cast<uint8_t*>(out);
        uint64_t bad = 0;
        for (size_t i = 0; i < n; ++i, rec += 13) {
            uint64_t t;
            uint32_t xy; // x, then y
            std::memcpy(&t, rec, 8);
            std::memcpy(&xy, rec + 8, 4);
            const uint8_t p = rec[12];
            bad |= (t >> 63) | (p >> 1);
            const uint64_t low = uint64_t(xy) | uint64_t(p & 1) << 32; // Event2D: x, y, polarity, then time
            std::memcpy(to + 16 * i, &low, 8);
            std::memcpy(to + 16 * i + 8, &t, 8);
        }
        return bad == 0;
    }

    bool standardSummary(size_t n, BlockSummary& summary) const {
        const uint8_t* rec = buffer.data();
        uint64_t* times = summary.times.data();
        uint64_t bad = 0;
        uint32_t on = 0; // a block holds fewer than 2^32 records
        uint16_t maxX = 0, maxY = 0;
        for (size_t i = 0; i < n; ++i, rec += 13) {
            uint64_t t;
            uint16_t x, y;
            std::memcpy(&t, rec, 8);
            std::memcpy(&x, rec + 8, 2);
            std::memcpy(&y, rec + 10, 2);
            const uint8_t p = rec[12];
            bad |= (t >> 63) | (p >> 1);
            times[i] = t;
            on += p & 1;
            maxX = x > maxX ? x : maxX;
            maxY = y > maxY ? y : maxY;
        }
        if (bad) return false;
        summary.on = on;
        summary.maxX = maxX;
        summary.maxY = maxY;
        return true;
    }

    // The loaded records handed to emit(i, t, x, y, on) up to the first that no event can have (its
    // index returned; n when all are good).
    template <typename Emit>
    size_t decode(size_t n, Emit&& emit) const {
        return standard ? decodeAs<true>(buffer.data(), n, emit) : decodeAs<false>(buffer.data(), n, emit);
    }

    // Standard: the layout our writer gives (<i8, <u2, <u2, u1 packed), whose fixed offsets make a
    // tighter loop.
    template <bool Standard, typename Emit>
    size_t decodeAs(const uint8_t* rec, size_t n, Emit& emit) const {
        for (size_t i = 0; i < n; ++i, rec += itemSize) {
            int64_t t, x, y, p;
            if constexpr (Standard) {
                std::memcpy(&t, rec, 8);
                uint16_t xy[2];
                std::memcpy(xy, rec + 8, 4);
                x = xy[0];
                y = xy[1];
                p = rec[12];
            } else {
                t = value(rec, fields[0]);
                x = value(rec, fields[1]);
                y = value(rec, fields[2]);
                p = value(rec, fields[3]);
            }
            if (t < 0 || uint64_t(x) > 0xffff || uint64_t(y) > 0xffff || uint64_t(p) + 1 > 2) return i;
            emit(i, uint64_t(t), uint16_t(x), uint16_t(y), p == 1);
        }
        return n;
    }

    bool blockStarts(std::vector<BlockPosition>& starts, std::string&) override {
        starts.clear();
        for (uint64_t i = 0; i < records; i += perBlock) {
            starts.emplace_back();
            starts.back().index = i;
        }
        return true;
    }

    bool readDescr(const Literal& descr, std::string& problem) {
        if (descr.kind == Literal::Str) {
            problem = "the array's type is '" + descr.text + "', not records with fields t, x, y, p";
            return false;
        }
        if (descr.kind != Literal::Seq) {
            problem = "the NumPy header's descr is not a list of fields";
            return false;
        }
        static const char* names[4][3] = {{"t", "ts", "timestamp"}, {"x", "", ""}, {"y", "", ""}, {"p", "pol", "polarity"}};
        size_t offset = 0;
        for (const Literal& f : descr.items) {
            if (f.kind != Literal::Seq || f.items.size() < 2 || f.items[0].kind != Literal::Str ||
                f.items[1].kind != Literal::Str) {
                problem = "a field of the array's type is not a (name, type) pair";
                return false;
            }
            const std::string& name = f.items[0].text;
            const std::string& type = f.items[1].text;
            char order = 0, kind = 0;
            const size_t size = typeSize(type, order, kind);
            if (size == 0) {
                problem = "field '" + name + "' has a type '" + type + "' that is not known";
                return false;
            }
            int which = -1;
            for (int k = 0; k < 4; ++k)
                for (const char* n : names[k])
                    if (*n && name == n) which = k;
            if (which >= 0 && !fields[which].present) {
                if (f.items.size() > 2) {
                    problem = "field '" + name + "' is an array; one value per event is needed";
                    return false;
                }
                const bool integer = kind == 'i' || kind == 'u' || (kind == 'b' && which == 3);
                if (!integer || (size != 1 && size != 2 && size != 4 && size != 8)) {
                    problem = "field '" + name + "' is of type '" + type + "'; an integer type is needed" +
                              (which == 0 ? " (times in microseconds)" : "");
                    return false;
                }
                if (order == '>' && size > 1) {
                    problem = "field '" + name + "' is big-endian ('" + type + "'); little-endian is read";
                    return false;
                }
                fields[which].offset = offset;
                fields[which].size = unsigned(size);
                fields[which].isSigned = kind == 'i';
                fields[which].present = true;
                fields[which].mask = size == 8 ? ~uint64_t(0) : (uint64_t(1) << (8 * size)) - 1;
                fields[which].shift = unsigned(64 - 8 * size);
            } else if (f.items.size() > 2) {
                // Another field with a shape: its bytes are skipped.
                const Literal& dims = f.items[2];
                size_t count = 1;
                if (dims.kind == Literal::Int) count = size_t(std::max<long long>(0, dims.number));
                for (const Literal& d : dims.items)
                    if (d.kind == Literal::Int && d.number >= 0 && count <= (size_t(1) << 24)) count *= size_t(d.number);
                if (count > (size_t(1) << 24)) {
                    problem = "field '" + name + "' is too large";
                    return false;
                }
                offset += size * count;
                continue;
            }
            offset += size;
            if (offset > (size_t(1) << 24)) {
                problem = "the array's records are too large";
                return false;
            }
        }
        static const char* wanted[] = {"t", "x", "y", "p"};
        for (int k = 0; k < 4; ++k)
            if (!fields[k].present) {
                problem = std::string("the array has no field ") + wanted[k] + " (fields t, x, y, p are needed)";
                return false;
            }
        itemSize = offset;
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
        const auto at = [&](int k, size_t o, unsigned n, bool sig) {
            return fields[k].offset == o && fields[k].size == n && fields[k].isSigned == sig;
        };
        standard = itemSize == 13 && at(0, 0, 8, true) && at(1, 8, 2, false) && at(2, 10, 2, false) && at(3, 12, 1, false);
#endif
        return true;
    }

    int fd = -1;
    uint64_t dataOffset = 0;
    uint64_t records = 0;  // whole records the file holds
    uint64_t declared = 0; // records its header states
    bool damage = false;
    size_t itemSize = 1;
    bool standard = false; // the layout our writer gives
    uint64_t perBlock = 1;
    Field fields[4];
    BlockSourceInfo sensor; // .npy states no geometry
    std::vector<uint8_t> buffer;
};

class NpyWriter : public FormatWriter {
public:
    bool begin(int file, const std::string&, const EventFileDescription&, std::string& problem) override {
        fd = file;
        const int flags = ::fcntl(fd, F_GETFL);
        if (flags >= 0 && (flags & O_APPEND)) ::fcntl(fd, F_SETFL, flags & ~O_APPEND); // the header is rewritten at the end
        out = header(0);
        return flush(problem);
    }

    bool write(const Event2D* b, const Event2D* e, const EventTriggerIn*, const EventTriggerIn*,
               std::string& problem) override {
        for (; b < e; ++b) {
            uint8_t rec[kRecord];
            for (int i = 0; i < 8; ++i) rec[i] = uint8_t(b->timestamp >> (8 * i));
            rec[8] = uint8_t(b->x);
            rec[9] = uint8_t(b->x >> 8);
            rec[10] = uint8_t(b->y);
            rec[11] = uint8_t(b->y >> 8);
            rec[12] = b->polarity ? 1 : 0;
            out.insert(out.end(), reinterpret_cast<char*>(rec), reinterpret_cast<char*>(rec) + kRecord);
            ++count;
            if (out.size() >= (size_t(1) << 20) && !flush(problem)) return false;
        }
        return true;
    }

    bool end(std::string& problem) override {
        if (!flush(problem)) return false;
        // The count is known now: the header (of a fixed size) is written again over the first.
        const std::string h = header(count);
        if (::lseek(fd, 0, SEEK_SET) != 0) {
            problem = std::string("cannot write: ") + std::strerror(errno);
            return false;
        }
        return writeAll(fd, h.data(), h.size(), problem);
    }

    bool holdsTriggers() const override { return false; }

private:
    static constexpr size_t kRecord = 13;
    static constexpr size_t kHeaderBytes = 192; // room for any count, a multiple of 64

    static std::string header(uint64_t n) {
        std::string dict = "{'descr': [('t', '<i8'), ('x', '<u2'), ('y', '<u2'), ('p', '|u1')], "
                           "'fortran_order': False, 'shape': (" +
                           std::to_string(n) + ",), }";
        std::string h("\x93NUMPY\x01\x00", 8);
        const size_t len = kHeaderBytes - 10;
        dict.resize(len - 1, ' ');
        dict += '\n';
        h += char(len & 0xff);
        h += char(len >> 8);
        return h + dict;
    }

    bool flush(std::string& problem) {
        if (!writeAll(fd, out.data(), out.size(), problem)) return false;
        out.clear();
        return true;
    }

    int fd = -1;
    std::string out;
    uint64_t count = 0;
};

} // namespace

std::unique_ptr<EventBlockSource> makeNpySource() { return std::make_unique<NpySource>(); }
std::unique_ptr<FormatWriter> makeNpyWriter() { return std::make_unique<NpyWriter>(); }

} // namespace norvale::detail
