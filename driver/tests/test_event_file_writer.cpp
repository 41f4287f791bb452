// Writing event files and converting between formats: exact round trips, the words of the 64-bit
// and DAT layouts checked against their published descriptions, and what an output may not be.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include "TestFiles.h"
#include "norvale/DvsFileReader.h"
#include "norvale/EventFileWriter.h"
#include "norvale/EventGenerator.h"

using namespace norvale;

namespace {

std::unique_ptr<DvsFileReader> openPrepared(const std::string& path) {
    auto r = DvsFileReader::createFileReader(path);
    if (r && !r->prepareFile()) r.reset();
    return r;
}

// The stored words after the text header (a DAT file's two type bytes included).
std::string dataAfterHeader(const std::string& path) {
    const std::string b = readBytes(path);
    size_t pos = 0;
    while (pos + 1 < b.size() && b[pos] == '%' && b[pos + 1] == ' ') pos = b.find('\n', pos) + 1;
    return b.substr(pos);
}

std::string le64(std::initializer_list<uint64_t> words) {
    std::string out;
    for (uint64_t w : words)
        for (int i = 0; i < 8; ++i) out += char(uint8_t(w >> (8 * i)));
    return out;
}

bool write(const std::string& path, EventFileFormat format, const std::vector<Event2D>& ev,
           const std::vector<EventTriggerIn>& trig, std::string& problem, uint64_t* notHeld = nullptr) {
    EventFileDescription d;
    d.width = 640;
    d.height = 480;
    auto w = EventFileWriter::create(path, format, d, false, {}, problem);
    if (!w) return false;
    const bool ok = w->write(ev.data(), ev.data() + ev.size(), trig.data(), trig.data() + trig.size()) && w->finish();
    if (!ok) problem = w->problem();
    if (notHeld) *notHeld = w->triggersNotHeld();
    return ok;
}

} // namespace

TEST(EventFileWriter, Evt2KeepsTimesAcrossWrapsOfItsClockAndSmallStepsBack) {
    TempDir dir;
    const uint64_t wrap = uint64_t(1) << 34;
    const std::vector<Event2D> ev = {
        {1, 2, 1, 70},          {3, 4, 0, wrap - 1},      {5, 6, 1, wrap + 3},         {5, 6, 1, wrap + 1},
        {7, 8, 0, 3 * wrap + 9}, {639, 479, 1, 3 * wrap + 9}, {9, 9, 0, 3 * wrap + (wrap >> 1)},
    };
    const std::vector<EventTriggerIn> trig = {{1, wrap + 2, 31}, {0, 3 * wrap + 100, 0}};
    std::string problem;
    ASSERT_TRUE(write(dir.path("w.raw"), EventFileFormat::Evt2, ev, trig, problem)) << problem;
    const FileContents c = readContents(dir.path("w.raw"));
    EXPECT_TRUE(c.events == ev);
    EXPECT_TRUE(c.triggers == trig);

    // A step back of more than half the TIME_HIGH range would read as a wrap: refused, no file.
    const std::vector<Event2D> back = {{1, 1, 1, wrap - 1}, {1, 1, 1, 1}};
    EXPECT_FALSE(write(dir.path("back.raw"), EventFileFormat::Evt2, back, {}, problem));
    EXPECT_NE(problem.find("goes back in time"), std::string::npos) << problem;
    EXPECT_FALSE(std::filesystem::exists(dir.path("back.raw")));
}

TEST(EventFileWriter, Evt21WordsFollowThePublishedLayout) {
    TempDir dir;
    // Same time, row and polarity in one 32-pixel group with x rising share a word; x falling
    // starts a new one so that the file's order is kept.
    const std::vector<Event2D> ev = {{33, 5, 1, 100}, {35, 5, 1, 100}, {34, 5, 1, 100}, {0, 6, 0, 200}};
    const std::vector<EventTriggerIn> trig = {{1, 101, 3}};
    std::string problem;
    ASSERT_TRUE(write(dir.path("v.raw"), EventFileFormat::Evt21, ev, trig, problem)) << problem;
    const std::string header = readBytes(dir.path("v.raw"));
    EXPECT_NE(header.find("\n% evt 2.1\n"), std::string::npos) << header;
    EXPECT_NE(header.find("\n% format EVT21; height = 480; width = 640\n"), std::string::npos) << header;
    EXPECT_EQ(dataAfterHeader(dir.path("v.raw")), le64({
                                                      0x8000000100000000, // TIME_HIGH 1 (t 64..127)
                                                      0x190100050000000A, // POS t&63 36, x 32, y 5, pixels 1 and 3
                                                      0x1901000500000004, // POS, pixel 2
                                                      0xA940030100000000, // EXT_TRIGGER t&63 37, id 3, value 1
                                                      0x8000000300000000, // TIME_HIGH 3
                                                      0x0200000600000001, // NEG t&63 8, x 0, y 6, pixel 0
                                                  }));
}

TEST(EventFileWriter, DatHoldsEventsButCountsTriggersAndRefusesLateTimes) {
    TempDir dir;
    const std::vector<Event2D> ev = {{3, 2, 1, 5}, {639, 479, 0, 0xFFFFFFFFu}};
    const std::vector<EventTriggerIn> trig = {{1, 4, 0}, {0, 6, 0}};
    std::string problem;
    uint64_t notHeld = 0;
    ASSERT_TRUE(write(dir.path("a.dat"), EventFileFormat::Dat, ev, trig, problem, &notHeld)) << problem;
    EXPECT_EQ(notHeld, 2u);
    const std::string b = readBytes(dir.path("a.dat"));
    EXPECT_EQ(b.rfind("% Data file containing CD events.\n% Version 2\n% Date ", 0), 0u) << b;
    EXPECT_NE(b.find("\n% Height 480\n% Width 640\n"), std::string::npos);
    const std::string expected = std::string("\x00\x08", 2) +              // type 0, 8 bytes an event
                                 std::string("\x05\x00\x00\x00\x03\x80\x00\x10", 8) + // t 5; x 3, y 2, p 1
                                 std::string("\xFF\xFF\xFF\xFF\x7F\xC2\x77\x00", 8); // x 639, y 479, p 0
    EXPECT_EQ(dataAfterHeader(dir.path("a.dat")), expected);

    const std::vector<Event2D> late = {{1, 1, 1, uint64_t(1) << 32}};
    EXPECT_FALSE(write(dir.path("late.dat"), EventFileFormat::Dat, late, {}, problem));
    EXPECT_NE(problem.find("2^32"), std::string::npos) << problem;
    EXPECT_FALSE(std::filesystem::exists(dir.path("late.dat")));
}

TEST(EventFileWriter, RefusesWhatMayNotBeWrittenAndLeavesItAlone) {
    TempDir dir;
    GeneratorConfig cfg;
    cfg.eventRate = 2e5;
    ASSERT_TRUE(generateRecordingFile(dir.path("in.raw"), cfg, 100'000));
    auto in = openPrepared(dir.path("in.raw"));
    ASSERT_TRUE(in);
    ConvertReport report;

    writeBytes(dir.path("old.raw"), "precious");
    EXPECT_FALSE(convertEventFile(*in, 0, UINT64_MAX, dir.path("old.raw"), EventFileFormat::Evt2, false, {}, report));
    EXPECT_NE(report.problem.find("exists"), std::string::npos) << report.problem;
    EXPECT_EQ(readBytes(dir.path("old.raw")), "precious");
    ASSERT_TRUE(convertEventFile(*in, 0, UINT64_MAX, dir.path("old.raw"), EventFileFormat::Evt2, true, {}, report))
        << report.problem;
    EXPECT_EQ(readContents(dir.path("old.raw")).events.size(), in->getStats().eventCount);

    // The input under another name.
    ASSERT_EQ(::link(dir.path("in.raw").c_str(), dir.path("alias.raw").c_str()), 0);
    const std::string before = readBytes(dir.path("in.raw"));
    EXPECT_FALSE(convertEventFile(*in, 0, UINT64_MAX, dir.path("alias.raw"), EventFileFormat::Evt3, true, {}, report));
    EXPECT_NE(report.problem.find("file being read"), std::string::npos) << report.problem;
    EXPECT_EQ(readBytes(dir.path("in.raw")), before);

    // A FIFO is refused at once, never opened (which would wait for a reader).
    ASSERT_EQ(::mkfifo(dir.path("pipe.raw").c_str(), 0600), 0);
    EXPECT_FALSE(convertEventFile(*in, 0, UINT64_MAX, dir.path("pipe.raw"), EventFileFormat::Evt3, true, {}, report));
    EXPECT_NE(report.problem.find("FIFO"), std::string::npos) << report.problem;

    // A format without a writer, and a conversion cancelled half way: no file either way.
    EXPECT_FALSE(convertEventFile(*in, 0, UINT64_MAX, dir.path("x.es"), EventFileFormat::EventStream, false, {}, report));
    EXPECT_NE(report.problem.find("cannot be written"), std::string::npos) << report.problem;
    int calls = 0;
    EXPECT_FALSE(convertEventFile(*in, 0, UINT64_MAX, dir.path("cut.raw"), EventFileFormat::Evt3, false,
                                  [&](double) { return ++calls < 2; }, report));
    EXPECT_NE(report.problem.find("cancelled"), std::string::npos) << report.problem;
    EXPECT_EQ(dir.entries(), (std::vector<std::string>{"alias.raw", "in.raw", "old.raw", "pipe.raw"}));
}

TEST(EventFileWriter, EveryPairOfWritableFormatsRoundTripsExactly) {
    TempDir dir;
    GeneratorConfig cfg;
    cfg.seed = 11;
    cfg.eventRate = 2e5;
    cfg.triggerHz = 100;
    cfg.startTimestamp = 4'000'000'000; // past 2^32 us (DAT, which cannot hold it, is tried apart)
    ASSERT_TRUE(generateRecordingFile(dir.path("base.raw"), cfg, 100'000));
    const FileContents base = readContents(dir.path("base.raw"));
    ASSERT_GT(base.events.size(), 10'000u);
    ASSERT_EQ(base.triggers.size(), 20u);

    // Every writable format but DAT (tried below with times it can hold).
    std::vector<EventFileFormat> formats;
    for (const EventFileFormatInfo& f : eventFileFormats())
        if (f.writable && f.format != EventFileFormat::Dat) formats.push_back(f.format);
    ASSERT_GE(formats.size(), 7u);
    auto name = [](EventFileFormat f, const std::string& tag) {
        const std::string ext = formatInfo(f).extensions;
        return tag + "_" + formatInfo(f).key + ext.substr(0, ext.find(' '));
    };
    auto check = [&](const std::string& from, const std::string& to, EventFileFormat format, bool triggersKept) {
        SCOPED_TRACE(from + " -> " + to);
        auto in = openPrepared(dir.path(from));
        ASSERT_TRUE(in);
        ConvertReport report;
        ASSERT_TRUE(convertEventFile(*in, 0, UINT64_MAX, dir.path(to), format, false, {}, report)) << report.problem;
        const FileContents out = readContents(dir.path(to));
        EXPECT_EQ(out.events.size(), base.events.size());
        EXPECT_TRUE(out.events == base.events);
        EXPECT_EQ(report.triggersNotHeld + report.triggers, in->triggers().size());
        if (triggersKept) EXPECT_TRUE(out.triggers == base.triggers);
        else EXPECT_TRUE(out.triggers.empty());
    };
    for (EventFileFormat f : formats) check("base.raw", name(f, "a"), f, formatInfo(f).holdsTriggers);
    for (EventFileFormat f : formats)
        for (EventFileFormat g : formats)
            check(name(f, "a"), name(g, "b" + std::string(formatInfo(f).key)), g,
                  formatInfo(f).holdsTriggers && formatInfo(g).holdsTriggers);
}

TEST(EventFileWriter, Evt21AndDatReadBackWhatWasWritten) {
    TempDir dir;
    const uint64_t wrap = uint64_t(1) << 34;
    // Vectors across the 32-pixel bounds, a row with x falling, steps back and wraps of the clock.
    std::vector<Event2D> ev;
    for (uint16_t x = 20; x < 100; x += 3) ev.push_back({x, 7, 1, 1000});
    ev.push_back({5, 7, 1, 1000});
    ev.push_back({1279, 719, 0, 999});
    ev.push_back({0, 0, 0, wrap + 64});
    ev.push_back({640, 360, 1, 5 * wrap + 1});
    const std::vector<EventTriggerIn> trig = {{1, 1000, 31}, {0, wrap, 2}};
    EventFileDescription d;
    std::string problem;
    auto w = EventFileWriter::create(dir.path("v.raw"), EventFileFormat::Evt21, d, false, {}, problem);
    ASSERT_TRUE(w) << problem;
    ASSERT_TRUE(w->write(ev.data(), ev.data() + 10, trig.data(), trig.data() + 1));
    ASSERT_TRUE(w->write(ev.data() + 10, ev.data() + ev.size(), trig.data() + 1, trig.data() + 2));
    ASSERT_TRUE(w->finish()) << w->problem();
    const FileContents v = readContents(dir.path("v.raw"));
    EXPECT_TRUE(v.events == ev);
    EXPECT_TRUE(v.triggers == trig);

    // DAT through a conversion of the events that fit its 32-bit time.
    ev.resize(ev.size() - 2);
    w = EventFileWriter::create(dir.path("small.raw"), EventFileFormat::Evt2, d, false, {}, problem);
    ASSERT_TRUE(w && w->write(ev.data(), ev.data() + ev.size()) && w->finish());
    auto in = openPrepared(dir.path("small.raw"));
    ASSERT_TRUE(in);
    ConvertReport report;
    ASSERT_TRUE(convertEventFile(*in, 0, UINT64_MAX, dir.path("s.dat"), EventFileFormat::Dat, false, {}, report))
        << report.problem;
    auto dat = openPrepared(dir.path("s.dat"));
    ASSERT_TRUE(dat);
    EXPECT_EQ(dat->fileFormat(), EventFileFormat::Dat);
    EXPECT_EQ(dat->width(), 1280u);
    EXPECT_TRUE(readContents(dir.path("s.dat")).events == ev);
}

// A file's bytes, not its name, say what it is: each writable format under a name that hints at none
// reads back whole, and bytes of no format are refused naming what was tried.
TEST(EventFileWriter, TheContentNotTheNameDecidesTheFormat) {
    TempDir dir;
    std::vector<Event2D> ev(300);
    for (size_t i = 0; i < ev.size(); ++i) ev[i] = Event2D{uint16_t(i % 640), uint16_t(i % 480), uint8_t(i & 1), 1000 + i};
    for (const EventFileFormatInfo& f : eventFileFormats()) {
        if (!f.writable) continue;
        SCOPED_TRACE(f.name);
        const std::string ext(f.extensions, std::strcspn(f.extensions, " "));
        const std::string written = dir.path(std::string("w_") + f.key + ext);
        std::string problem;
        ASSERT_TRUE(write(written, f.format, ev, {}, problem)) << problem;
        const std::string plain = dir.path(std::string("events_") + f.key + ".log");
        ASSERT_EQ(::rename(written.c_str(), plain.c_str()), 0);
        EventFileFormat found = EventFileFormat::Evt3;
        ASSERT_TRUE(detectFormat(plain, found, problem)) << problem;
        EXPECT_EQ(found, f.format);
        EXPECT_TRUE(readContents(plain).events == ev);
    }
    const std::string junk = dir.path("junk.log");
    writeBytes(junk, std::string("\x01\x02\x03\x04 binary \xff\xfe", 14));
    EventFileFormat found;
    std::string problem;
    EXPECT_FALSE(detectFormat(junk, found, problem));
    EXPECT_NE(problem.find("not an event file we can read (tried the headers of EVT 3.0"), std::string::npos) << problem;
    EXPECT_FALSE(DvsFileReader::createFileReader(junk));
}
