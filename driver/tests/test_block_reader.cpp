// DvsFileReader over files that are not raw: CSV and NumPy files built byte by byte here, read
// whole and by range, unsorted, with a stated geometry their events exceed, damaged; and the
// writers of both formats read back event for event.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <fstream>
#include <stdexcept>
#include <thread>

#include "LogCapture.h"
#include "TempDir.h"
#include "formats/HelperThread.h"
#include "formats/numpy/NpyFormat.h"
#include "formats/text/CsvFormat.h"
#include "norvale/DvsFileReader.h"
#include "norvale/EventTally.h"
#include "norvale/Logger.h"
#include "norvale/RawCut.h"

using namespace norvale;

namespace {

struct Sums {
    uint64_t n = 0, t = 0, x = 0, y = 0, p = 0;
    bool operator==(const Sums& o) const { return n == o.n && t == o.t && x == o.x && y == o.y && p == o.p; }
};

Sums sums(const std::vector<Event2D>& events) {
    Sums s;
    for (const Event2D& e : events) {
        ++s.n;
        s.t += e.timestamp;
        s.x += e.x;
        s.y += e.y;
        s.p += e.polarity;
    }
    return s;
}

void writeFile(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary).write(bytes.data(), std::streamsize(bytes.size()));
}

// Events whose time mostly rises, with every 97th event stepping far back in time, so that a
// time range's events lie in blocks far apart.
std::vector<Event2D> makeEvents(size_t n, uint32_t maxX, uint32_t maxY) {
    std::vector<Event2D> events(n);
    uint64_t t = 5'000'000;
    uint32_t seed = 12345;
    for (size_t i = 0; i < n; ++i) {
        seed = seed * 1103515245u + 12345u;
        t += (seed >> 16) % 7;
        events[i].timestamp = i % 97 == 96 ? t - 40'000 - (seed >> 8) % 20'000 : t;
        events[i].x = uint16_t((seed >> 3) % (maxX + 1));
        events[i].y = uint16_t((seed >> 11) % (maxY + 1));
        events[i].polarity = uint8_t((seed >> 20) & 1);
    }
    events[n / 2].x = uint16_t(maxX); // the data reach the bounds they are made for
    events[n / 2 + 1].y = uint16_t(maxY);
    return events;
}

std::vector<Event2D> window(const std::vector<Event2D>& all, uint64_t from, uint64_t to) {
    std::vector<Event2D> out;
    for (const Event2D& e : all)
        if (e.timestamp >= from && e.timestamp < to) out.push_back(e);
    return out;
}

std::unique_ptr<DvsFileReader> openPrepared(const std::string& path) {
    auto r = DvsFileReader::createFileReader(path);
    EXPECT_TRUE(r) << path;
    if (r) {
        EXPECT_TRUE(r->prepareFile()) << Logger::threadError();
    }
    return r;
}

// Whole file, figures and ranges against the events the file was made of.
void expectReadsAsMade(DvsFileReader& r, const std::vector<Event2D>& made) {
    std::vector<Event2D> all;
    ASSERT_TRUE(r.readRange(0, UINT64_MAX, all));
    ASSERT_EQ(all.size(), made.size());
    EXPECT_TRUE(all == made); // file order kept
    const RawFileStats s = r.getStats();
    EXPECT_EQ(s.eventCount, made.size());
    EXPECT_EQ(s.onCount, sums(made).p);
    uint64_t lo = UINT64_MAX, hi = 0;
    for (const Event2D& e : made) {
        lo = std::min(lo, e.timestamp);
        hi = std::max(hi, e.timestamp);
    }
    uint64_t t = 0;
    ASSERT_TRUE(r.getStartTimestamp(t));
    EXPECT_EQ(t, lo);
    ASSERT_TRUE(r.getEndTimestamp(t));
    EXPECT_EQ(t, hi);
    std::vector<Event2D> part;
    for (uint64_t from : {lo, lo + 1000, (lo + hi) / 2 - 30'000, hi - 50'000, hi}) {
        for (uint64_t len : {uint64_t(1), uint64_t(33'000), uint64_t(200'000)}) {
            ASSERT_TRUE(r.readRange(from, from + len, part));
            EXPECT_TRUE(part == window(made, from, from + len)) << from << " +" << len;
        }
    }
    // Played in steps from a seek, every event of the file comes once.
    ASSERT_TRUE(r.seekTime(lo));
    std::vector<Event2D> played;
    for (uint64_t at = lo; at <= hi; at += 33'000) {
        auto step = r.readNextEvents(33'000);
        ASSERT_TRUE(step);
        played.insert(played.end(), step->begin(), step->end());
    }
    EXPECT_TRUE(sums(played) == sums(made));
    uint64_t next = 0;
    ASSERT_TRUE(r.nextEventTime(hi - 50'000, next));
    uint64_t expected = UINT64_MAX;
    for (const Event2D& e : made)
        if (e.timestamp >= hi - 50'000) expected = std::min(expected, e.timestamp);
    EXPECT_EQ(next, expected);
}

std::string csvOf(const std::vector<Event2D>& events, const std::string& header) {
    std::string text = header;
    for (size_t i = 0; i < events.size(); ++i) {
        const Event2D& e = events[i];
        // columns x, p, t, y; separators and line ends vary as hand-made files do
        text += std::to_string(e.x) + (i % 3 ? "," : " , ") + std::to_string(int(e.polarity)) + "," +
                std::to_string(e.timestamp) + "," + std::to_string(e.y) + (i % 5 ? "\n" : "\r\n");
    }
    return text;
}

} // namespace

TEST(BlockReader, CsvWithNamedColumnsReadsEveryEventByRangeAndInOrder) {
    TempDir dir;
    const auto made = makeEvents(300'000, 345, 259); // several blocks of 1 MiB
    const std::string path = dir.file("events.csv");
    writeFile(path, "# made by hand\nx,polarity,timestamp,y\n" + csvOf(made, ""));
    auto r = openPrepared(path);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->fileFormat(), EventFileFormat::Csv);
    EXPECT_FALSE(r->isRaw());
    EXPECT_TRUE(r->decodeSpans(4).empty());
    EXPECT_EQ(r->width(), 346u); // no geometry stated: the smallest sensor that holds the events
    EXPECT_EQ(r->height(), 260u);
    expectReadsAsMade(*r, made);
    const Sums s = sums(made);
    std::vector<Event2D> all;
    ASSERT_TRUE(r->readRange(0, UINT64_MAX, all));
    EXPECT_TRUE(sums(all) == s);
    EXPECT_GT(r->getStats().indexBytes, 0u);
    EXPECT_LT(r->getStats().indexBytes * 1000, r->getStats().dataBytes + 1'000'000);
    DvsFileInfo info;
    ASSERT_TRUE(r->getFileInfo(info));
    EXPECT_EQ(info.dvsStartTimestamp, made.front().timestamp);
    EXPECT_EQ(info.eventCount, made.size());
}

TEST(BlockReader, CsvInSecondsWithStatedGeometryTheDataExceed) {
    TempDir dir;
    const std::string path = dir.file("events.txt");
    // "width height", then "t x y p" in seconds separated by spaces and tabs; x up to 1279 on a
    // stated 640 x 480 sensor.
    writeFile(path, "640 480\n"
                    "0.000001 0 0 1\n"
                    "1.5 1279\t479  0\n"
                    "\n"
                    "  2.0000005 17 700 -1\n"
                    "3 5 6 1\n"
                    "1e-3 1 2 1");
    auto r = openPrepared(path);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->width(), 1280u);
    EXPECT_EQ(r->height(), 720u);
    std::vector<Event2D> all;
    ASSERT_TRUE(r->readRange(0, UINT64_MAX, all));
    ASSERT_EQ(all.size(), 5u);
    const uint64_t times[] = {1, 1'500'000, 2'000'001, 3'000'000, 1'000};
    const uint16_t xs[] = {0, 1279, 17, 5, 1};
    const uint8_t ps[] = {1, 0, 0, 1, 1};
    for (size_t i = 0; i < 5; ++i) {
        EXPECT_EQ(all[i].timestamp, times[i]) << i;
        EXPECT_EQ(all[i].x, xs[i]) << i;
        EXPECT_EQ(all[i].polarity, ps[i]) << i;
    }
    EXPECT_EQ(all[2].y, 700u);
    uint64_t before = 0, after = 0;
    ASSERT_TRUE(r->largestGap(before, after));
    EXPECT_EQ(before, 1'000u);
    EXPECT_EQ(after, 1'500'000u);
}

TEST(BlockReader, DamagedTextAndNoEventFileAreRefusedWithTheLine) {
    TempDir dir;
    const std::string bad = dir.file("bad.csv");
    std::string text = "t,x,y,p\n";
    for (int i = 0; i < 20; ++i) text += std::to_string(100 + i) + ",1,2,1\n";
    text += "120,1,two,1\n"; // line 22
    writeFile(bad, text);
    auto r = DvsFileReader::createFileReader(bad);
    ASSERT_TRUE(r);
    Logger::clearThreadError();
    EXPECT_FALSE(r->prepareFile());
    EXPECT_NE(Logger::threadError().find("line 22"), std::string::npos) << Logger::threadError();
    EXPECT_NE(Logger::threadError().find("y is not"), std::string::npos) << Logger::threadError();

    const std::string fields = dir.file("fields.csv");
    writeFile(fields, "1,2,3,1\n2,2,3\n");
    r = DvsFileReader::createFileReader(fields);
    ASSERT_TRUE(r);
    Logger::clearThreadError();
    EXPECT_FALSE(r->prepareFile());
    EXPECT_NE(Logger::threadError().find("line 2: expected 4 fields, found 3"), std::string::npos)
        << Logger::threadError();

    const std::string mixed = dir.file("mixed.csv"); // whole microseconds, then a time in seconds
    writeFile(mixed, "1,2,3,1\n2.5,2,3,0\n");
    r = DvsFileReader::createFileReader(mixed);
    ASSERT_TRUE(r);
    EXPECT_FALSE(r->prepareFile());

    const std::string header = dir.file("header.csv");
    writeFile(header, "time,x,y,p\n1,2,3,1\n");
    Logger::clearThreadError();
    EXPECT_FALSE(DvsFileReader::createFileReader(header));
    EXPECT_NE(Logger::threadError().find("no column t"), std::string::npos) << Logger::threadError();

    const std::string text2 = dir.file("notes.txt");
    writeFile(text2, "Dear diary, today\n");
    EXPECT_FALSE(DvsFileReader::createFileReader(text2));
}

namespace {

struct NpyField {
    const char* name;
    const char* type;
    unsigned size;
};

// A .npy of version `version` with the given fields, each event's values packed little-endian.
std::string npyOf(const std::vector<Event2D>& events, const std::vector<NpyField>& fields, int version,
                  const std::string& extraHeader = "False", int64_t declared = -1) {
    std::string descr = "[";
    for (const NpyField& f : fields) descr += std::string("('") + f.name + "', '" + f.type + "'), ";
    descr += "]";
    std::string dict = "{'descr': " + descr + ", 'fortran_order': " + extraHeader + ", 'shape': (" +
                       std::to_string(declared < 0 ? int64_t(events.size()) : declared) + ",), }";
    const size_t pre = version == 1 ? 10 : 12;
    while ((pre + dict.size() + 1) % 64) dict += ' ';
    dict += '\n';
    std::string out("\x93NUMPY", 6);
    out += char(version);
    out += char(0);
    for (size_t b = 0; b < pre - 8; ++b) out += char((dict.size() >> (8 * b)) & 0xff);
    out += dict;
    for (const Event2D& e : events)
        for (const NpyField& f : fields) {
            int64_t v = 0;
            if (!std::strcmp(f.name, "t") || !std::strcmp(f.name, "timestamp")) v = int64_t(e.timestamp);
            else if (!std::strcmp(f.name, "x")) v = e.x;
            else if (!std::strcmp(f.name, "y")) v = e.y;
            else if (!std::strcmp(f.name, "pol")) v = e.polarity ? 1 : -1;
            else if (!std::strcmp(f.name, "p")) v = e.polarity;
            else v = 0x5a; // a field the reader skips
            for (unsigned b = 0; b < f.size; ++b) out += char((uint64_t(v) >> (8 * b)) & 0xff);
        }
    return out;
}

} // namespace

TEST(BlockReader, NpyOfAnyFieldOrderAndWidthsReadsExactly) {
    TempDir dir;
    const auto made = makeEvents(200'000, 639, 479);
    const std::vector<NpyField> fields = {
        {"pol", "|i1", 1}, {"x", "<u2", 2}, {"extra", "<f4", 4}, {"y", "<i4", 4}, {"timestamp", "<u8", 8}};
    for (int version : {1, 2}) {
        const std::string path = dir.file("ev" + std::to_string(version) + ".npy");
        writeFile(path, npyOf(made, fields, version));
        auto r = openPrepared(path);
        ASSERT_TRUE(r);
        EXPECT_EQ(r->fileFormat(), EventFileFormat::Npy);
        EXPECT_EQ(r->width(), 640u);
        EXPECT_EQ(r->height(), 480u);
        expectReadsAsMade(*r, made);
    }
}

TEST(BlockReader, NpyThatCannotBeReadSaysWhy) {
    TempDir dir;
    const auto made = makeEvents(1000, 100, 100);
    const std::vector<NpyField> fields = {{"t", "<i8", 8}, {"x", "<u2", 2}, {"y", "<u2", 2}, {"p", "|u1", 1}};
    auto refusal = [&](const std::string& name, const std::string& bytes) {
        const std::string path = dir.file(name);
        writeFile(path, bytes);
        Logger::clearThreadError();
        auto r = DvsFileReader::createFileReader(path);
        if (r) {
            EXPECT_FALSE(r->prepareFile()) << name;
        }
        return Logger::threadError();
    };
    std::string whole = npyOf(made, fields, 1);
    // cut inside the first record: nothing whole is left (later cuts keep the records before them)
    EXPECT_NE(refusal("cut.npy", whole.substr(0, whole.size() - 1000 * 13 + 5)).find("declares 1000 records"),
              std::string::npos);
    EXPECT_NE(refusal("fortran.npy", npyOf(made, fields, 1, "True")).find("Fortran"), std::string::npos);
    EXPECT_NE(refusal("bomb.npy", npyOf({}, fields, 1, "False", int64_t(1) << 60)).find("truncated"),
              std::string::npos);
    EXPECT_NE(refusal("float.npy", npyOf(made, {{"t", "<f8", 8}, {"x", "<u2", 2}, {"y", "<u2", 2}, {"p", "|u1", 1}}, 1))
                  .find("integer type"),
              std::string::npos);
    EXPECT_NE(refusal("big.npy", npyOf(made, {{"t", ">i8", 8}, {"x", "<u2", 2}, {"y", "<u2", 2}, {"p", "|u1", 1}}, 1))
                  .find("big-endian"),
              std::string::npos);
    EXPECT_NE(refusal("nop.npy", npyOf(made, {{"t", "<i8", 8}, {"x", "<u2", 2}, {"y", "<u2", 2}}, 1)).find("no field p"),
              std::string::npos);
    std::string header = whole;
    header[8] = char(0xff); // a header length past the file
    header[9] = char(0xff);
    EXPECT_NE(refusal("header.npy", header.substr(0, 200)).find("claims"), std::string::npos);
    // a value out of range names its record
    std::vector<Event2D> wide = made;
    std::string bytes = npyOf(made, {{"t", "<i8", 8}, {"x", "<i4", 4}, {"y", "<u2", 2}, {"p", "|u1", 1}}, 1);
    const size_t record = 15, at = bytes.size() - 1000 * record + 700 * record + 8;
    bytes[at + 3] = char(0x80); // x of record 700 negative
    EXPECT_NE(refusal("negative.npy", bytes).find("record 700: x outside"), std::string::npos);
}

TEST(BlockReader, CsvAndNpyWritersReadBackEventForEvent) {
    TempDir dir;
    auto made = makeEvents(150'000, 1279, 719);
    made[10].timestamp = (uint64_t(1) << 40) + 7; // wide times survive
    for (EventFileFormat format : {EventFileFormat::Csv, EventFileFormat::Npy}) {
        const std::string path = dir.file(format == EventFileFormat::Csv ? "out.csv" : "out.npy");
        auto writer = format == EventFileFormat::Csv ? detail::makeCsvWriter() : detail::makeNpyWriter();
        ASSERT_TRUE(writer);
        EXPECT_FALSE(writer->holdsTriggers());
        const int fd = ::open(path.c_str(), O_CREAT | O_WRONLY | O_EXCL | O_CLOEXEC, 0644);
        ASSERT_GE(fd, 0);
        std::string problem;
        ASSERT_TRUE(writer->begin(fd, path, EventFileDescription{}, problem)) << problem;
        const EventTriggerIn edge{1, 100, 0};
        for (size_t at = 0; at < made.size(); at += 40'000) {
            const size_t n = std::min<size_t>(40'000, made.size() - at);
            ASSERT_TRUE(writer->write(made.data() + at, made.data() + at + n, &edge, &edge + 1, problem)) << problem;
        }
        ASSERT_TRUE(writer->end(problem)) << problem;
        ::close(fd);
        auto r = openPrepared(path);
        ASSERT_TRUE(r);
        EXPECT_EQ(r->fileFormat(), format);
        EXPECT_TRUE(r->triggers().empty());
        std::vector<Event2D> back;
        ASSERT_TRUE(r->readRange(0, UINT64_MAX, back));
        ASSERT_EQ(back.size(), made.size());
        EXPECT_TRUE(back == made) << formatInfo(format).name;
        EXPECT_EQ(r->width(), 1280u);
        EXPECT_EQ(r->height(), 720u);
    }
}

TEST(BlockReader, CutOfATextFileIsATextFileOfTheRange) {
    TempDir dir;
    const auto made = makeEvents(20'000, 303, 239);
    const std::string path = dir.file("a.csv");
    writeFile(path, "x,polarity,timestamp,y\n" + csvOf(made, ""));
    auto r = openPrepared(path);
    ASSERT_TRUE(r);
    const uint64_t from = made[5000].timestamp, to = made[9000].timestamp;
    ASSERT_TRUE(cutRawFile(*r, from, to, dir.file("cut.csv")));
    auto cut = openPrepared(dir.file("cut.csv"));
    ASSERT_TRUE(cut);
    EXPECT_EQ(cut->fileFormat(), EventFileFormat::Csv);
    std::vector<Event2D> got;
    ASSERT_TRUE(cut->readRange(0, UINT64_MAX, got));
    EXPECT_TRUE(got == window(made, from, to + 1)); // end included, file order kept
    Logger::clearThreadError();
    EXPECT_FALSE(cutRawFile(*r, to, from, dir.file("reversed.csv")));
    EXPECT_FALSE(Logger::threadError().empty());
    EXPECT_EQ(dir.entries(), (std::vector<std::string>{"a.csv", "cut.csv"}));
}

namespace {

// Opens a damaged file: it must open, hold exactly the first `kept` events of `made` and say
// once, as a warning, where the damage is.
void expectKeptBeforeDamage(const std::string& path, const std::vector<Event2D>& made, size_t kept,
                            const std::string& where) {
    SCOPED_TRACE(path);
    LogCapture log;
    auto r = openPrepared(path);
    ASSERT_TRUE(r);
    const std::vector<Event2D> prefix(made.begin(), made.begin() + ptrdiff_t(kept));
    std::vector<Event2D> all;
    ASSERT_TRUE(r->readRange(0, UINT64_MAX, all));
    EXPECT_EQ(all.size(), kept);
    EXPECT_TRUE(all == prefix);
    EXPECT_EQ(r->getStats().eventCount, kept);
    uint64_t hi = 0, t = 0;
    for (const Event2D& e : prefix) hi = std::max(hi, e.timestamp);
    ASSERT_TRUE(r->getEndTimestamp(t));
    EXPECT_EQ(t, hi);
    EXPECT_FALSE(r->seekTime(hi + 1)); // nothing of the damaged part is offered
    const std::string text = log.text();
    EXPECT_NE(text.find("warning|" + path + " is damaged: " + where), std::string::npos) << text;
    EXPECT_NE(text.find("(" + std::to_string(kept) + " events"), std::string::npos) << text;
    EXPECT_EQ(text.find("error|"), std::string::npos) << text;
}

} // namespace

// Damage past the first block of a text or NumPy file: every event before it opens, with one
// warning naming the line or record; a cut last line or record loses only itself.
TEST(BlockReader, DamagedCsvAndNpyKeepWhatPrecedesTheDamage) {
    TempDir dir;
    const auto made = makeEvents(200'000, 639, 479);

    const std::string csv = csvOf(made, "x,p,t,y\n");
    // event 150000 is line 150002, blocks past the first; its y becomes a word
    std::string bad = csv;
    size_t at = 0;
    for (int line = 1; line < 150'002; ++line) at = bad.find('\n', at) + 1;
    const size_t yAt = bad.find_last_of(',', bad.find('\n', at)) + 1;
    bad.replace(yAt, bad.find_first_of("\r\n", yAt) - yAt, "two");
    writeFile(dir.file("bad.csv"), bad);
    expectKeptBeforeDamage(dir.file("bad.csv"), made, 150'000, "line 150002: y is not a whole number");

    // cut inside the last line (its line end and y gone): every line before it
    std::string cut = csv.substr(0, csv.find_last_of(',', csv.size() - 2));
    writeFile(dir.file("cut.csv"), cut);
    expectKeptBeforeDamage(dir.file("cut.csv"), made, made.size() - 1,
                           "line 200001: expected 4 fields, found 3 in '" + cut.substr(cut.rfind('\n') + 1) +
                               "' (the file ends inside this line)");

    const std::vector<NpyField> fields = {{"t", "<i8", 8}, {"x", "<i4", 4}, {"y", "<u2", 2}, {"p", "|u1", 1}};
    const std::string npy = npyOf(made, fields, 1);
    const size_t data = npy.size() - made.size() * 15;
    std::string flipped = npy;
    flipped[data + 150'000 * 15 + 8 + 3] = char(0x80); // x of record 150000 negative
    writeFile(dir.file("bad.npy"), flipped);
    expectKeptBeforeDamage(dir.file("bad.npy"), made, 150'000,
                           "record 150000: x outside 0..65535 (at byte " + std::to_string(data + 150'000 * 15) + ")");

    // cut inside record 150000: the 150000 whole records before it
    writeFile(dir.file("cut.npy"), npy.substr(0, data + 150'000 * 15 + 7));
    expectKeptBeforeDamage(dir.file("cut.npy"), made, 150'000,
                           "the NumPy header declares 200000 records of 15 bytes, but the file holds only 150000 "
                           "(truncated? it ends in record 150000, at byte " +
                               std::to_string(data + 150'000 * 15) + ")");
    // a header declaring far more records than the file holds reads what it holds, allocating nothing more
    const std::vector<Event2D> few(made.begin(), made.begin() + 1000);
    writeFile(dir.file("bomb.npy"), npyOf(few, fields, 1, "False", int64_t(1) << 60));
    expectKeptBeforeDamage(dir.file("bomb.npy"), made, 1000, "the NumPy header declares 1152921504606846976 records");
}

namespace {

// Every event of the file by readAllEvents on `threads` threads, checked against made (file order).
void expectReadWhole(DvsFileReader& r, const std::vector<Event2D>& made, size_t threads, bool ordered) {
    SCOPED_TRACE("threads " + std::to_string(threads));
    std::vector<Event2D> all(made.size() + 1);
    size_t count = 0;
    bool timeOrdered = !ordered;
    ASSERT_TRUE(r.readAllEvents(all.data(), all.size(), count, threads, timeOrdered)) << Logger::threadError();
    all.resize(count);
    EXPECT_EQ(timeOrdered, ordered);
    EXPECT_TRUE(all == made);
}

// The rate profile of made counted one event at a time, as the raw files' index does.
void expectRateOf(DvsFileReader& r, const std::vector<Event2D>& made) {
    RateCounter one;
    for (const Event2D& e : made) one.add(e.timestamp, 1);
    const RateProfile p = r.getRateProfile();
    EXPECT_EQ(p.startTimestamp, one.origin());
    EXPECT_EQ(p.slotDurationUs, one.slotDuration());
    EXPECT_TRUE(p.counts == one.counts());
}

} // namespace

// Files of many blocks are indexed and read whole on several threads where the machine has them:
// the same events, figures and rate profile as one thread gives; damage far into the file keeps
// every event before it, named by its line or record.
TEST(BlockReader, ManyBlockCsvAndNpyReadWholeOnThreadsAsOnOne) {
    TempDir dir;
    const auto made = makeEvents(900'000, 1279, 719); // steps back in time: not ordered
    std::string csv = "t,x,y,p\n";
    for (size_t i = 0; i < made.size(); ++i) {
        const Event2D& e = made[i];
        const bool odd = i % 1000 == 7; // now and then a line only the general parser takes
        csv += std::to_string(e.timestamp) + (odd ? " , " : ",") + std::to_string(e.x) + "," + std::to_string(e.y) +
               "," + (odd && !e.polarity ? "-1" : std::to_string(int(e.polarity))) + (i % 5 ? "\n" : "\r\n");
    }
    ASSERT_GT(csv.size(), size_t(12) << 20); // many blocks of 1 MiB
    writeFile(dir.file("big.csv"), csv);
    {
        auto r = openPrepared(dir.file("big.csv"));
        ASSERT_TRUE(r);
        EXPECT_EQ(r->getStats().eventCount, made.size());
        EXPECT_EQ(r->getStats().onCount, sums(made).p);
        expectRateOf(*r, made);
        expectReadWhole(*r, made, 1, false);
        expectReadWhole(*r, made, 2, false);
        expectReadWhole(*r, made, 3, false);
        std::vector<Event2D> small(made.size() - 1);
        size_t count = 0;
        bool ordered = false;
        EXPECT_FALSE(r->readAllEvents(small.data(), small.size(), count, 2, ordered)); // no room for every event
        std::vector<Event2D> part;
        ASSERT_TRUE(r->readRange(made[600'000].timestamp, made[600'000].timestamp + 33'000, part));
        EXPECT_TRUE(part == window(made, made[600'000].timestamp, made[600'000].timestamp + 33'000));
    }

    // The same events in time order as the NumPy layout our writer gives.
    std::vector<Event2D> sorted = made;
    std::stable_sort(sorted.begin(), sorted.end(),
                     [](const Event2D& a, const Event2D& b) { return a.timestamp < b.timestamp; });
    const std::vector<NpyField> fields = {{"t", "<i8", 8}, {"x", "<u2", 2}, {"y", "<u2", 2}, {"p", "|u1", 1}};
    const std::string npy = npyOf(sorted, fields, 1);
    writeFile(dir.file("big.npy"), npy);
    {
        auto r = openPrepared(dir.file("big.npy"));
        ASSERT_TRUE(r);
        EXPECT_EQ(r->getStats().eventCount, sorted.size());
        EXPECT_EQ(r->width(), 1280u);
        EXPECT_EQ(r->height(), 720u);
        expectRateOf(*r, sorted);
        expectReadWhole(*r, sorted, 1, true);
        expectReadWhole(*r, sorted, 2, true);
        // Long ranges are shared by two threads (the tail and part of the run on a helper, whose
        // last block is kept for the next range): the events there, also read on in steps.
        const uint64_t lo = sorted.front().timestamp, hi = sorted.back().timestamp;
        std::vector<Event2D> part;
        for (uint64_t len : {uint64_t(300'000), uint64_t(1'000'000), hi - lo + 1})
            for (uint64_t from = lo; from <= hi; from += 700'001) {
                ASSERT_TRUE(r->readRange(from, from + len, part));
                ASSERT_TRUE(part == window(sorted, from, from + len)) << from << " +" << len;
            }
        ASSERT_TRUE(r->seekTime(lo + 123'457));
        std::vector<Event2D> played;
        for (uint64_t at = lo + 123'457; at <= hi; at += 250'000) {
            auto step = r->readNextEvents(250'000);
            ASSERT_TRUE(step);
            played.insert(played.end(), step->begin(), step->end());
        }
        EXPECT_TRUE(played == window(sorted, lo + 123'457, hi + 1));
    }

    // Damage in a late block: each block is read ahead on a thread, and the bad one read again in
    // order to name it.
    std::string bad = csv;
    size_t at = 0;
    for (int line = 1; line < 800'002; ++line) at = bad.find('\n', at) + 1; // event 800000
    bad.replace(bad.find(',', bad.find(',', at) + 1) + 1, 1, "q");
    writeFile(dir.file("bad.csv"), bad);
    expectKeptBeforeDamage(dir.file("bad.csv"), made, 800'000, "line 800002: y is not a whole number");

    std::string flipped = npy;
    const size_t data = npy.size() - sorted.size() * 13;
    flipped[data + 700'000 * 13 + 7] = char(0x80); // time of record 700000 negative
    writeFile(dir.file("bad.npy"), flipped);
    expectKeptBeforeDamage(dir.file("bad.npy"), sorted, 700'000,
                           "record 700000: negative time (at byte " + std::to_string(data + 700'000 * 13) + ")");
}

// A range's second thread is one kept thread: each task runs there, the caller sees its writes
// once it has waited, and a task that throws still ends (the process goes on).
TEST(HelperThread, RunsEveryTaskOnOneKeptThread) {
    detail::HelperThread helper;
    std::thread::id first;
    for (int i = 0; i < 200; ++i) {
        std::thread::id ran;
        int value = -1;
        ASSERT_TRUE(helper.post([&] {
            ran = std::this_thread::get_id();
            value = i;
        }));
        helper.wait();
        ASSERT_EQ(value, i);
        ASSERT_NE(ran, std::this_thread::get_id());
        if (i == 0) first = ran;
        ASSERT_EQ(ran, first);
    }
    ASSERT_TRUE(helper.post([] { throw std::runtime_error("a task's fault"); }));
    helper.wait();
    int after = 0;
    ASSERT_TRUE(helper.post([&] { after = 1; }));
    helper.wait();
    EXPECT_EQ(after, 1);
    // What the caller learns while a task runs reaches that task, and only that one.
    for (size_t v : {size_t(41), size_t(7)}) {
        ASSERT_TRUE(helper.post([&] { after = int(helper.given()) + 1; }));
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        helper.give(v);
        helper.wait();
        EXPECT_EQ(after, int(v) + 1);
    }

#ifndef __SANITIZE_THREAD__ // ThreadSanitizer cannot follow threads started in a forked child
    // A child forked now has no such thread: its tasks still run (on one of its own), and the
    // helper goes with the child without waiting for the parent's thread.
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::alarm(20); // a task that never runs ends the child, not the suite
        int ran = 0;
        bool posted = helper.post([&] { ran = 1; });
        helper.wait();
        posted = posted && helper.post([&] { ++ran; });
        helper.wait();
        helper.~HelperThread();
        ::_exit(posted && ran == 2 ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "child status " << status;
    ASSERT_TRUE(helper.post([&] { after = 3; }));
    helper.wait();
    EXPECT_EQ(after, 3);
#endif
}
