// The simulated sensor and its tools, driven faster than real time: each tool's effect measured
// on the stream, and camera configuration files.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/resource.h>

#include <csignal>

#include <fstream>
#include <map>

#include "TestFiles.h"
#include "camera/BatchHandoff.h"
#include "camera/CameraConfigFile.h"
#include "camera/SceneSource.h"
#include "camera/SimulatedDevice.h"
#include "camera/StreamStorage.h"
#include "norvale/DvsFileReader.h"
#include "camera/ToolImpl.h"

using namespace norvale;

namespace {

struct Sim {
    SimulatedDevice dev;
    explicit Sim(double rate = 3e6)
        : dev(std::make_unique<SceneSource>(1280, 720, rate, 7), options()) {
        dev.startStream(true);
    }
    static SimulatedDeviceOptions options() {
        SimulatedDeviceOptions o;
        o.realTime = false;
        return o;
    }
    CameraTool& tool(ToolType t) {
        for (auto& x : dev.tools())
            if (x->getType() == t) return *x;
        throw std::runtime_error("no tool");
    }
    // The events of the next ms milliseconds.
    std::vector<Event2D> run(int ms) {
        std::vector<Event2D> all;
        EventChunk c;
        for (int i = 0; i < ms; ++i) {
            EXPECT_TRUE(dev.read(c));
            all.insert(all.end(), c.events.begin(), c.events.end());
        }
        return all;
    }
};

bool inPatch(const Event2D& e, const SceneSource::Rect& r) {
    return e.x >= r.x && e.x < r.x + r.w && e.y >= r.y && e.y < r.y + r.h;
}

SceneSource::Rect patchOf() { return SceneSource(1280, 720, 0, 1).flickerPatch(); }

} // namespace

TEST(CameraScene, TimeOrderedNearTheRateAndInsideTheSensor) {
    Sim s;
    const auto ev = s.run(500);
    ASSERT_FALSE(ev.empty());
    EXPECT_NEAR(double(ev.size()) / 0.5, 3e6, 0.6e6);
    for (size_t i = 1; i < ev.size(); ++i) ASSERT_LE(ev[i - 1].timestamp, ev[i].timestamp);
    EXPECT_LT(ev.front().timestamp, 100u);
    for (const auto& e : ev) ASSERT_TRUE(e.x < 1280 && e.y < 720 && e.polarity <= 1);
}

TEST(CameraTools, BiasesHigherThresholdsGiveFewerEvents) {
    Sim base, high, low;
    ASSERT_TRUE(high.tool(TOOL_BIASES).setParam("bias_diff_on", 60));
    ASSERT_TRUE(high.tool(TOOL_BIASES).setParam("bias_diff_off", 60));
    ASSERT_TRUE(low.tool(TOOL_BIASES).setParam("bias_diff_on", -60));
    const size_t nBase = base.run(200).size(), nHigh = high.run(200).size(), nLow = low.run(200).size();
    EXPECT_LT(nHigh * 2, nBase);
    EXPECT_GT(nLow, nBase * 2);
    // ranges are enforced and refused values change nothing
    int v = 0;
    EXPECT_FALSE(high.tool(TOOL_BIASES).setParam("bias_diff_on", 1000));
    EXPECT_FALSE(high.tool(TOOL_BIASES).setParam("no_such_bias", 1));
    EXPECT_FALSE(high.tool(TOOL_BIASES).setParam("bias_diff_on", true));
    EXPECT_TRUE(high.tool(TOOL_BIASES).getParam("bias_diff_on", v));
    EXPECT_EQ(v, 60);
}

TEST(CameraTools, HighestBiasesReachFiftyMevPerSecond) {
    Sim s;
    for (const char* n : {"bias_diff_on", "bias_diff_off"}) ASSERT_TRUE(s.tool(TOOL_BIASES).setParam(n, -85));
    ASSERT_TRUE(s.tool(TOOL_BIASES).setParam("bias_fo", 55));
    const double rate = double(s.run(50).size()) / 0.05;
    EXPECT_GT(rate, 40e6);
    EXPECT_LE(rate, 51e6);
}

TEST(CameraTools, RoiLeavesNothingOutsideAndRefusesWindowsThatDoNotFit) {
    Sim s;
    CameraTool& roi = s.tool(TOOL_ROI);
    ASSERT_TRUE(roi.setParam("roi_width", 300));
    ASSERT_TRUE(roi.setParam("roi_height", 200));
    ASSERT_TRUE(roi.setParam("roi_x", 500));
    ASSERT_TRUE(roi.setParam("roi_y", 100));
    EXPECT_FALSE(roi.setParam("roi_x", 1000)); // 1000 + 300 > 1280
    EXPECT_FALSE(roi.setParam("roi_height", 700));
    // each value is in its range: the reason names the sum that is not
    ParamValue x;
    x.i = 1000;
    std::string why;
    EXPECT_FALSE(roi.impl().set("roi_x", x, &why));
    EXPECT_EQ(why, "roi_x + roi_width must not exceed 1280");
    ASSERT_TRUE(roi.setParam("roi_enable", true));
    const auto ev = s.run(300);
    ASSERT_GT(ev.size(), 1000u);
    for (const auto& e : ev) ASSERT_TRUE(e.x >= 500 && e.x < 800 && e.y >= 100 && e.y < 300) << e.x << "," << e.y;
}

TEST(CameraTools, RateControlStaysUnderTheLimitInEverySlidingMillisecond) {
    Sim s(8e6);
    CameraTool& erc = s.tool(TOOL_EVENT_RATE_CONTROL);
    ASSERT_TRUE(erc.setParam("max_event_rate", 2000)); // 2000 events per ms
    ASSERT_TRUE(erc.setParam("event_rate_control_enable", true));
    const auto ev = s.run(300);
    // every window [t, t + 1000)
    size_t lo = 0, worst = 0;
    for (size_t hi = 0; hi < ev.size(); ++hi) {
        while (ev[lo].timestamp + 1000 <= ev[hi].timestamp) ++lo;
        worst = std::max(worst, hi - lo + 1);
    }
    EXPECT_LE(worst, 2000u);
    EXPECT_GT(double(ev.size()) / 300, 1700); // it keeps close to the limit
    // dropped evenly: the four quadrants keep their shares
    Sim ref(8e6);
    const auto all = ref.run(300);
    auto quadrants = [](const std::vector<Event2D>& v) {
        std::array<double, 4> q{};
        for (const auto& e : v) q[(e.x >= 640) + 2 * (e.y >= 360)] += 1.0 / v.size();
        return q;
    };
    const auto a = quadrants(all), b = quadrants(ev);
    for (int i = 0; i < 4; ++i) EXPECT_NEAR(a[i], b[i], 0.03) << i;
}

TEST(CameraTools, AntiFlickerRemovesTheBlinkingPatchAndKeepsTheRest) {
    const auto patch = patchOf();
    Sim off, on, pass;
    off.run(100);
    const auto ref = off.run(400);
    ASSERT_TRUE(on.tool(TOOL_ANTI_FLICKER).setParam("anti_flicker_enable", true));
    on.run(100); // two periods to learn each pixel
    const auto filtered = on.run(400);
    size_t refPatch = 0, refRest = 0, fPatch = 0, fRest = 0;
    for (const auto& e : ref) (inPatch(e, patch) ? refPatch : refRest)++;
    for (const auto& e : filtered) (inPatch(e, patch) ? fPatch : fRest)++;
    ASSERT_GT(refPatch, 10000u);
    EXPECT_LT(fPatch, refPatch / 10);
    EXPECT_GT(fRest, refRest * 9 / 10);
    // band pass keeps the patch only; a band that misses 100 Hz changes nothing
    CameraTool& t = pass.tool(TOOL_ANTI_FLICKER);
    ASSERT_TRUE(t.setParam("filtering_mode", "band pass"));
    ASSERT_TRUE(t.setParam("anti_flicker_enable", true));
    EXPECT_FALSE(t.setParam("filtering_mode", "notch"));
    pass.run(100);
    size_t pPatch = 0, pRest = 0;
    for (const auto& e : pass.run(400)) (inPatch(e, patch) ? pPatch : pRest)++;
    EXPECT_GT(pPatch, refPatch * 8 / 10);
    EXPECT_LT(pRest, refRest / 5);
    Sim miss;
    ASSERT_TRUE(miss.tool(TOOL_ANTI_FLICKER).setParam("low_frequency", 200));
    ASSERT_TRUE(miss.tool(TOOL_ANTI_FLICKER).setParam("anti_flicker_enable", true));
    miss.run(100);
    size_t mPatch = 0;
    for (const auto& e : miss.run(400)) mPatch += inPatch(e, patch);
    EXPECT_GT(mPatch, refPatch * 9 / 10);
}

TEST(CameraTools, TrailFilterLeavesFewerEventsPerBurst) {
    auto perPixelBurst = [](const std::vector<Event2D>& ev) {
        std::vector<uint64_t> last(1280 * 720 * 2, ~0ull);
        size_t bursts = 0;
        for (const auto& e : ev) {
            uint64_t& l = last[(size_t(e.y) * 1280 + e.x) * 2 + e.polarity];
            if (l == ~0ull || e.timestamp - l >= 10000) ++bursts;
            l = e.timestamp;
        }
        return double(ev.size()) / double(bursts);
    };
    Sim plain, trail, keep;
    const double before = perPixelBurst(plain.run(300));
    ASSERT_TRUE(trail.tool(TOOL_EVENT_TRAIL_FILTER).setParam("trail_filter_enable", true));
    const auto filtered = trail.run(300);
    EXPECT_GT(before, 1.2);
    EXPECT_NEAR(perPixelBurst(filtered), 1.0, 0.02);
    // stc keep trail drops lone events instead: fewer events, but bursts keep their length
    ASSERT_TRUE(keep.tool(TOOL_EVENT_TRAIL_FILTER).setParam("trail_filter_type", "stc keep trail"));
    ASSERT_TRUE(keep.tool(TOOL_EVENT_TRAIL_FILTER).setParam("trail_filter_enable", true));
    const auto kept = keep.run(300);
    EXPECT_LT(kept.size(), filtered.size() * 3);
    EXPECT_GT(perPixelBurst(kept), 1.0);
}

TEST(CameraTools, TriggerInEdgesOnlyOnEnabledChannels) {
    SimulatedDeviceOptions o = Sim::options();
    o.triggerPeriodUs = 100000;
    SimulatedDevice dev(std::make_unique<SceneSource>(1280, 720, 1e6, 3), o);
    dev.startStream(true);
    EventChunk c;
    std::vector<EventTriggerIn> seen;
    auto run = [&](int ms) {
        for (int i = 0; i < ms; ++i) {
            ASSERT_TRUE(dev.read(c));
            seen.insert(seen.end(), c.triggers.begin(), c.triggers.end());
        }
    };
    run(300);
    EXPECT_TRUE(seen.empty());
    ASSERT_TRUE(dev.tools()[1]->setParam("channel_0_enable", true));
    run(300); // 300..600 ms: rising at 300, 400, 500; falling at 350, 450, 550
    ASSERT_EQ(seen.size(), 6u);
    EXPECT_EQ(seen[0].value, 1);
    EXPECT_EQ(seen[0].timestamp, 300000u);
    EXPECT_EQ(seen[1].value, 0);
    EXPECT_EQ(seen[1].timestamp, 350000u);
}

TEST(CameraConfig, RoundTripAndBadFilesChangeNothing) {
    TempDir dir;
    Sim s;
    auto& tools = s.dev.tools();
    ASSERT_TRUE(s.tool(TOOL_BIASES).setParam("bias_refr", 40));
    ASSERT_TRUE(s.tool(TOOL_ANTI_FLICKER).setParam("duty_cycle", 30.5f));
    ASSERT_TRUE(s.tool(TOOL_ANTI_FLICKER).setParam("filtering_mode", "band pass"));
    ASSERT_TRUE(exportToolConfig(dir.path("a.json"), tools));
    const auto snapshot = [&] {
        std::map<std::string, std::map<std::string, ParamValue>> all;
        for (auto& t : tools) all[t->getName()] = t->impl().values();
        return all;
    };
    const auto exported = snapshot();

    Sim other;
    ASSERT_TRUE(loadToolConfig(dir.path("a.json"), other.dev.tools()));
    for (auto& t : other.dev.tools())
        for (auto& [n, v] : t->impl().values()) {
            const ParamValue& e = exported.at(t->getName()).at(n);
            EXPECT_TRUE(v.i == e.i && v.f == e.f && v.b == e.b && v.s == e.s) << n;
        }

    auto write = [&](const std::string& name, const std::string& text) {
        std::ofstream(dir.path(name)) << text;
        return dir.path(name);
    };
    // the first section is fine, a later one is not: nothing at all is applied
    const std::vector<std::string> bad = {
        "not json",
        "{\"Biases\": {\"bias_refr\": 1",                                           // truncated
        "[1, 2]",                                                                   // wrong shape
        "{\"Biases\": {\"bias_refr\": 5}, \"ROI\": {\"roi_x\": \"ten\"}}",          // wrong type
        "{\"Biases\": {\"bias_refr\": 5}, \"EventRateControl\": {\"max_event_rate\": 0}}", // out of range
        "{\"Biases\": {\"bias_refr\": 5}, \"ROI\": {\"roi_x\": 1200, \"roi_width\": 200}}", // does not fit
        "{\"Biases\": 7}",
    };
    for (size_t i = 0; i < bad.size(); ++i) {
        EXPECT_FALSE(loadToolConfig(write("bad" + std::to_string(i) + ".json", bad[i]), tools)) << bad[i];
        const auto now = snapshot();
        for (auto& [tn, vals] : now)
            for (auto& [n, v] : vals) EXPECT_EQ(v.i, exported.at(tn).at(n).i) << bad[i] << " " << n;
    }
    EXPECT_FALSE(loadToolConfig(dir.path("missing.json"), tools));
    // what is not a regular file of a sane size is refused at once (a FIFO without a writer would
    // otherwise wait forever, a folder threw)
    ASSERT_EQ(::mkfifo(dir.path("fifo.json").c_str(), 0644), 0);
    ::mkdir(dir.path("folder.json").c_str(), 0755);
    std::string huge = "{\"Biases\": {\"bias_refr\": 5}}";
    huge.append(size_t(1) << 20, ' ');
    for (const std::string& name : {write("huge.json", huge), dir.path("fifo.json"), dir.path("folder.json")}) {
        EXPECT_FALSE(loadToolConfig(name, tools)) << name;
        for (auto& [tn, vals] : snapshot())
            for (auto& [n, v] : vals) EXPECT_EQ(v.i, exported.at(tn).at(n).i) << name << " " << n;
    }
    // unknown names and sections are skipped, the rest applies; a float takes an integer
    EXPECT_TRUE(loadToolConfig(write("extra.json", "{\"Biases\": {\"bias_refr\": 7, \"bias_new\": 1}, \"Other\": {},"
                                                   "\"AntiFlicker\": {\"duty_cycle\": 60}}"),
                               tools));
    int refr = 0;
    float duty = 0;
    EXPECT_TRUE(s.tool(TOOL_BIASES).getParam("bias_refr", refr));
    EXPECT_TRUE(s.tool(TOOL_ANTI_FLICKER).getParam("duty_cycle", duty));
    EXPECT_EQ(refr, 7);
    EXPECT_EQ(duty, 60.0f);
    // export refuses to replace a folder
    EXPECT_FALSE(exportToolConfig(dir.path(""), tools));
}

TEST(CameraStorage, ARecordingStartsCacheSecondsEarlierAndHoldsEveryEvent) {
    TempDir dir;
    const std::string path = dir.path("rec.raw");
    {
        StreamStorage storage("SIM-T-0001");
        ASSERT_TRUE(storage.setCache(1, dir.path()));
        auto chunk = [](uint64_t ms) { // 10 events a millisecond, one trigger edge a second
            auto c = std::make_shared<EventChunk>();
            c->clear(ms * 1000);
            for (uint16_t i = 0; i < 10; ++i) c->events.push_back(Event2D{i, uint16_t(ms % 720), 1, ms * 1000 + i * 100});
            if (ms % 1000 == 500) c->triggers.push_back(EventTriggerIn{1, ms * 1000, 0});
            c->endUs = ms * 1000 + 1000;
            return c;
        };
        for (uint64_t ms = 0; ms < 1700; ++ms) storage.push(chunk(ms));
        ASSERT_TRUE(storage.startRecording(path, 1700000));
        EXPECT_FALSE(storage.startRecording(dir.path("other.raw"), 1700000));
        for (uint64_t ms = 1700; ms < 2600; ++ms) storage.push(chunk(ms));
        ASSERT_TRUE(storage.stopRecording());
        EXPECT_FALSE(storage.stopRecording());
        EXPECT_EQ(storage.recordedEvents(), (2600u - 700u) * 10u);
        EXPECT_EQ(storage.droppedEvents(), 0u);
    }
    auto reader = DvsFileReader::createFileReader(path);
    ASSERT_TRUE(reader && reader->prepareFile());
    uint64_t first = 0, last = 0;
    reader->getStartTimestamp(first);
    reader->getEndTimestamp(last);
    EXPECT_EQ(first, 700000u); // 1.7 s minus the 1 s cache
    EXPECT_EQ(last, 2599900u);
    EXPECT_EQ(reader->getStats().eventCount, (2600u - 700u) * 10u);
    EXPECT_EQ(reader->triggers().size(), 2u); // at 1.5 and 2.5 s
    for (const auto& name : dir.entries()) EXPECT_EQ(name.find(".nrcache_"), std::string::npos) << name;
}

TEST(CameraStorage, AFullDiskStopsTheRecordingKeepsWhatWasWrittenAndCountsOnlyThat) {
    TempDir dir;
    const std::string path = dir.path("full.raw");
    const std::string earlier = dir.path("earlier.raw");
    writeBytes(earlier, "an earlier recording");
    // the file size limit stands in for a full disk: writes past it fail with EFBIG
    struct rlimit old {};
    getrlimit(RLIMIT_FSIZE, &old);
    auto previous = signal(SIGXFSZ, SIG_IGN);
    uint64_t counted = 0;
    for (const std::string& target : {earlier, path}) {
        StreamStorage storage("SIM-T-0002");
        RecordingTarget replace;
        replace.overwrite = true;
        ASSERT_TRUE(storage.startRecording(target, 0, 0, replace));
        struct rlimit small = old;
        small.rlim_cur = 256 * 1024;
        setrlimit(RLIMIT_FSIZE, &small);
        for (uint64_t ms = 0; ms < 400; ++ms) {
            auto c = std::make_shared<EventChunk>();
            c->clear(ms * 1000);
            for (uint16_t i = 0; i < 1000; ++i) c->events.push_back(Event2D{uint16_t(i), uint16_t(ms % 720), 0, ms * 1000 + i});
            c->endUs = ms * 1000 + 1000;
            storage.push(c);
        }
        EXPECT_FALSE(storage.stopRecording()); // reported as failed
        setrlimit(RLIMIT_FSIZE, &old);
        counted = storage.recordedEvents();
    }
    signal(SIGXFSZ, previous);
    // a failed replacement leaves the earlier file as it was, and nothing beside it
    EXPECT_EQ(readBytes(earlier), "an earlier recording");
    EXPECT_EQ(dir.entries().size(), 2u);
    auto reader = DvsFileReader::createFileReader(path);
    ASSERT_TRUE(reader && reader->prepareFile()); // what reached the disk stays readable
    EXPECT_GT(reader->getStats().eventCount, 1000u);
    EXPECT_LT(reader->getStats().eventCount, 400000u);
    EXPECT_EQ(counted, reader->getStats().eventCount); // the count is the file's, not what was given
}

TEST(CameraAps, ExposureAndGainChangeTheImage) {
    SimulatedDeviceOptions o = Sim::options();
    o.aps = true;
    o.apsPeriodUs = 100000;
    SimulatedDevice dev(std::make_unique<SceneSource>(1280, 720, 1e5, 3), o);
    dev.startStream(true);
    CameraTool* aps = nullptr;
    for (auto& t : dev.tools())
        if (t->getType() == TOOL_APS) aps = t.get();
    ASSERT_NE(aps, nullptr);
    EventChunk c;
    uint64_t streamed = 0;
    auto frameAfter = [&](uint64_t from, uint64_t until) { // stream past the exposure, then the frame
        for (; streamed < until; streamed += 1000) dev.read(c);
        ApsFrame f;
        EXPECT_TRUE(dev.readApsFrame(from, f));
        return f;
    };
    auto mean = [](const ApsFrame& f) {
        uint64_t sum = 0;
        for (uint64_t i = 0; i < f.getDataSize(); i += 97) sum += f.data()[i];
        return double(sum) / double(f.getDataSize() / 97);
    };
    const ApsFrame base = frameAfter(0, 20000);
    EXPECT_EQ(base.width(), 3840);
    EXPECT_EQ(base.height(), 2160);
    EXPECT_EQ(base.timestamp, 0u);
    EXPECT_EQ(base.auxTimestamp, 10000u); // exposure end
    ASSERT_TRUE(aps->setParam("exposure", 5000));
    const ApsFrame darker = frameAfter(1, 110000);
    EXPECT_EQ(darker.timestamp, 100000u);
    ASSERT_TRUE(aps->setParam("gain", 3.0f));
    const ApsFrame brighter = frameAfter(100001, 210000);
    EXPECT_LT(mean(darker), mean(base) * 0.7);
    EXPECT_GT(mean(brighter), mean(base) * 1.2);
    EXPECT_FALSE(aps->setParam("gain", 100.0f));
}

// A reader that stalls: the hand-off lets go of what is older than its span as new chunks come,
// so it never holds more than a span (the chunk pool stays small), and counts what it dropped;
// the same with a clock near the end of its range, where the span must not wrap around.
TEST(CameraHandoff, AStalledReaderHoldsOneSpanAndCountsTheRest) {
    for (const uint64_t base : {uint64_t(0), UINT64_MAX - 300001}) {
        SCOPED_TRACE(base);
        BatchHandoff handoff, visited; // the second hands the same batch out without a copy
        std::vector<Event2D> out;
        EXPECT_FALSE(handoff.take(out)); // the reader begins
        EXPECT_FALSE(visited.visit([](const EventRun*, size_t) { ADD_FAILURE() << "nothing to visit"; }));
        auto chunkAt = [base](uint64_t ms) {
            auto c = std::make_shared<EventChunk>();
            c->clear(base + ms * 1000);
            c->endUs = base + (ms + 1) * 1000;
            for (int i = 0; i < 10; ++i) c->events.push_back(Event2D{uint16_t(i), 0, 1, base + ms * 1000 + uint64_t(i)});
            return c;
        };
        std::weak_ptr<EventChunk> first, last;
        for (uint64_t ms = 0; ms < 300; ++ms) {
            auto c = chunkAt(ms);
            if (ms == 0) first = c;
            last = c;
            handoff.push(c);
            visited.push(c);
            if (ms == 150) {
                EXPECT_TRUE(first.expired()); // gone long before the ring is full
            }
        }
        ASSERT_TRUE(handoff.take(out));
        const uint64_t kept = BatchHandoff::kMinSpanUs / 1000 * 10;
        EXPECT_EQ(out.size(), kept);
        EXPECT_EQ(handoff.dropped(), 3000 - kept);
        EXPECT_EQ(out.back().timestamp, base + 299 * 1000 + 9u);
        EXPECT_TRUE(std::is_sorted(out.begin(), out.end(),
                                   [](const Event2D& a, const Event2D& b) { return a.timestamp < b.timestamp; }));
        std::vector<Event2D> runs;
        ASSERT_TRUE(visited.visit([&](const EventRun* r, size_t n) {
            for (size_t i = 0; i < n; ++i) runs.insert(runs.end(), r[i].begin, r[i].end);
        }));
        EXPECT_EQ(runs, out);
        EXPECT_EQ(visited.dropped(), handoff.dropped());
        EXPECT_TRUE(last.expired()); // both let go of every chunk once read
    }
}
