// The fusion processor's parts on their own: pairing of APS frames with the events of their windows, the
// calibration mapping (examples of the default calibration, offsets, rotated transforms, sources
// smaller than the calibration says) and folding an offset into the calibration.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <deque>
#include <fstream>
#include <limits>
#include <map>
#include <random>
#include <set>
#include <vector>

#include <unistd.h>

#include "processing/nrcalibrator.h"
#include "processing/nrdvsapsfusion.h"
#include "processing/nrfusioncalibration.h"

using namespace norvale;

namespace {

// An APS frame whose pixel (u, v) holds blue = u & 255, green = v & 255, red = (u >> 8) ^ (v >> 4).
ApsFrame codedFrame(int w, int h, uint64_t ts = 0) {
    ApsFrame f(w, h, 0, ts);
    for (int v = 0; v < h; ++v)
        for (int u = 0; u < w; ++u) {
            uint8_t* p = f.data() + (size_t(v) * w + u) * 3;
            p[0] = uint8_t(u);
            p[1] = uint8_t(v);
            p[2] = uint8_t((u >> 8) ^ (v >> 4));
        }
    return f;
}

const uint8_t* px(const ApsFrame& f, int x, int y) { return f.data() + (size_t(y) * f.width() + x) * 3; }

bool samples(const ApsFrame& out, int x, int y, const ApsFrame& src, int u, int v) {
    const uint8_t* a = px(out, x, y);
    const uint8_t* b = px(src, u, v);
    return a[0] == b[0] && a[1] == b[1] && a[2] == b[2];
}

bool black(const ApsFrame& out, int x, int y) {
    const uint8_t* a = px(out, x, y);
    return a[0] == 0 && a[1] == 0 && a[2] == 0;
}

struct Pair {
    uint64_t frameTs;
    std::vector<uint64_t> eventTs;
};

// Feeds the pairing as the driver does: per stretch of the stream its trigger edges, then its
// events; a frame once the stream has passed its exposure.
struct PairingRig {
    DvsApsFusionProccessor fusion;
    std::vector<Pair> pairs;
    explicit PairingRig(size_t bufferEvents = DvsApsFusionProccessor::kBufferEvents) : fusion(bufferEvents) {
        fusion.setCallback([this](ApsFrame& f, const DvsApsFusionProccessor::EventSpan* spans, size_t n) {
            Pair p{f.timestamp, {}};
            for (size_t s = 0; s < n; ++s)
                for (const Event2D* i = spans[s].begin; i != spans[s].end; ++i)
                    p.eventTs.push_back(i->timestamp);
            pairs.push_back(p);
        });
    }
    void events(std::initializer_list<uint64_t> ts) {
        std::vector<Event2D> ev;
        for (uint64_t t : ts)
            ev.push_back(Event2D{1, 1, 1, t});
        fusion.addEvents(ev.data(), ev.data() + ev.size());
    }
    void edge(uint16_t value, uint64_t ts, uint16_t channel = 0) { fusion.addTriggerIn(EventTriggerIn{value, ts, channel}); }
    void frame(uint64_t ts) { fusion.addApsFrame(codedFrame(4, 2, ts)); }
};

} // namespace

// A frame's window runs from its exposure's start to the next exposure's start; the frame is shown
// once the stream has passed that end. Falling edges and edges of other channels mark nothing.
TEST(FusionPairing, EachFrameTakesTheEventsOfItsOwnWindow) {
    PairingRig r;
    r.edge(1, 100); // exposure at 100 starts
    r.edge(0, 130); // and ends
    r.events({90, 100, 105, 150}); // 90 came before the first exposure: no frame's
    r.frame(100);
    EXPECT_TRUE(r.pairs.empty()); // where its window ends is not known yet
    r.edge(1, 180, 1);
    r.events({170});
    EXPECT_TRUE(r.pairs.empty());
    r.edge(1, 200); // the driver hands a stretch's edges over before its events
    r.events({199, 200, 230});
    ASSERT_EQ(r.pairs.size(), 1u);
    EXPECT_EQ(r.pairs[0].frameTs, 100u);
    EXPECT_EQ(r.pairs[0].eventTs, (std::vector<uint64_t>{100, 105, 150, 170, 199}));
    r.frame(200);
    r.events({299}); // the stream has not passed 300 yet
    EXPECT_EQ(r.pairs.size(), 1u);
    // no edge for 300 (the channel went off): the window ends one period (100) after its start
    r.events({300, 310});
    ASSERT_EQ(r.pairs.size(), 2u);
    EXPECT_EQ(r.pairs[1].eventTs, (std::vector<uint64_t>{200, 230, 299}));
    // the frame of 300 was skipped by the driver; the one of 400 still gets only its own events
    r.edge(1, 400);
    r.events({399, 400, 420});
    r.frame(400);
    r.edge(1, 500);
    r.events({480, 500});
    ASSERT_EQ(r.pairs.size(), 3u);
    EXPECT_EQ(r.pairs[2].frameTs, 400u);
    EXPECT_EQ(r.pairs[2].eventTs, (std::vector<uint64_t>{400, 420, 480}));
    // a quiet sensor: frames alone, each shown when the next one says the stream passed it
    r.frame(500);
    r.frame(600);
    ASSERT_EQ(r.pairs.size(), 4u);
    EXPECT_EQ(r.pairs[3].frameTs, 500u);
    EXPECT_EQ(r.pairs[3].eventTs, (std::vector<uint64_t>{500}));
}

// A stream with frames, stretches of events (with their edges) and the trigger channel lost at
// random, frames handed over late by a random lag, buffers small enough that windows cross them:
// every shown frame holds only events of its own window, all of them when nothing of the window
// was lost, and every frame that came with an intact window is shown. Memory stays within the pool.
TEST(FusionPairing, RandomLossesCostOnlyTheirOwnFrames) {
    constexpr uint64_t kPeriod = 10000, kExposure = 3000, kStretch = 1000;
    constexpr uint64_t kFrames = 200, kWarmUp = 3; // the period is learnt from the first frames
    PairingRig r(200);
    std::mt19937 rng(20240611);
    std::map<uint64_t, std::vector<uint64_t>> windowEvents; // frame index -> its events
    std::set<uint64_t> damaged, delivered;
    std::deque<std::pair<uint64_t, uint64_t>> ready; // (stretch after which it comes, frame index)
    uint64_t nextFrame = 0;
    for (uint64_t c = 0; c < kFrames * (kPeriod / kStretch); ++c) {
        const uint64_t from = c * kStretch, k = from / kPeriod;
        std::vector<Event2D> ev(rng() % 25);
        for (Event2D& e : ev)
            e = Event2D{uint16_t(rng() % 1280), uint16_t(rng() % 720), uint8_t(rng() % 2), from + rng() % kStretch};
        std::sort(ev.begin(), ev.end(), [](const Event2D& a, const Event2D& b) { return a.timestamp < b.timestamp; });
        for (const Event2D& e : ev)
            windowEvents[k].push_back(e.timestamp);
        const bool lost = k >= kWarmUp && rng() % 100 < 3;
        const bool channelOff = k >= 60 && k < 80;
        if (lost) {
            damaged.insert(k);
        } else {
            if (!channelOff && from % kPeriod == 0)
                r.edge(1, from);
            if (!channelOff && from % kPeriod == kExposure)
                r.edge(0, from);
            r.fusion.addEvents(ev.data(), ev.data() + ev.size());
        }
        // a frame is there once the stream has passed its exposure, sometimes later
        while (nextFrame * kPeriod + kExposure <= from + kStretch) {
            const bool skipped = nextFrame >= kWarmUp && rng() % 100 < 20;
            if (!skipped)
                ready.emplace_back(c + rng() % 5, nextFrame);
            ++nextFrame;
        }
        while (!ready.empty() && ready.front().first <= c) {
            r.frame(ready.front().second * kPeriod);
            delivered.insert(ready.front().second);
            ready.pop_front();
        }
    }

    size_t outside = 0, incomplete = 0, checkedWhole = 0;
    std::set<uint64_t> shown;
    uint64_t previous = 0;
    for (const Pair& p : r.pairs) {
        const uint64_t k = p.frameTs / kPeriod;
        ASSERT_EQ(p.frameTs % kPeriod, 0u);
        ASSERT_TRUE(delivered.count(k)) << "frame " << k << " was never handed over";
        ASSERT_TRUE(shown.empty() || p.frameTs > previous) << "frames out of order or shown twice";
        previous = p.frameTs;
        shown.insert(k);
        for (uint64_t t : p.eventTs)
            outside += t < k * kPeriod || t >= (k + 1) * kPeriod;
        if (!damaged.count(k)) {
            ++checkedWhole;
            incomplete += p.eventTs != windowEvents[k];
        }
    }
    EXPECT_EQ(outside, 0u);
    EXPECT_EQ(incomplete, 0u);
    size_t missing = 0;
    for (uint64_t k : delivered)
        missing += k + 2 < kFrames && !damaged.count(k) && !shown.count(k);
    EXPECT_EQ(missing, 0u) << "a lost frame or stretch cost more than its own frame";
    EXPECT_GT(checkedWhole, kFrames / 3);
    EXPECT_GT(damaged.size(), 5u); // the losses really happened
    EXPECT_LT(delivered.size(), kFrames - 20);
    // about 25000 events went through a pool of 10 x 200: what no frame can need went back at once
    EXPECT_EQ(r.fusion.droppedEvents(), 0u);
    EXPECT_GE(r.fusion.idleBuffers(), DvsApsFusionProccessor::kPoolBuffers - 3);
}

// Memory is bounded without frames; a frame whose window lost events that way is not shown; a
// clock that restarts and clearCache drop what was held, and pairing goes on afterwards.
TEST(FusionPairing, BoundsRestartAndClear) {
    PairingRig r(4); // ten buffers of four events
    std::vector<Event2D> ev(60);
    for (uint64_t i = 0; i < ev.size(); ++i)
        ev[i] = Event2D{1, 1, 1, i};
    r.fusion.addEvents(ev.data(), ev.data() + ev.size());
    EXPECT_EQ(r.fusion.heldEvents(), 40u);
    EXPECT_EQ(r.fusion.droppedEvents(), 20u); // 0 .. 19 let go, counted
    r.frame(10); // its window lost events 10 .. 19: not shown
    EXPECT_TRUE(r.pairs.empty());
    r.frame(30); // ends the window of 10, and the stream has passed the window of 30 already
    EXPECT_EQ(r.fusion.droppedFrames(), 1u);
    ASSERT_EQ(r.pairs.size(), 1u);
    EXPECT_EQ(r.pairs[0].frameTs, 30u);
    EXPECT_EQ(r.pairs[0].eventTs.size(), 20u); // 30 .. 49
    EXPECT_LE(r.fusion.heldEvents(), 12u);      // only what a frame from 50 on may need
    EXPECT_GE(r.fusion.idleBuffers(), DvsApsFusionProccessor::kPoolBuffers - 3);
    r.frame(50);
    EXPECT_EQ(r.fusion.waitingFrames(), 1u);

    // the clock restarts: the frame of 50 and the events before go; the new stream pairs
    r.frame(5);
    EXPECT_EQ(r.fusion.heldEvents(), 0u);
    EXPECT_EQ(r.fusion.waitingFrames(), 1u);
    r.events({5, 6});
    r.edge(1, 12);
    r.events({12});
    ASSERT_EQ(r.pairs.size(), 2u);
    EXPECT_EQ(r.pairs[1].frameTs, 5u);
    EXPECT_EQ(r.pairs[1].eventTs, (std::vector<uint64_t>{5, 6}));

    r.frame(12);
    r.events({13, 14});
    r.fusion.clearCache();
    EXPECT_EQ(r.fusion.waitingFrames(), 0u);
    EXPECT_EQ(r.fusion.heldEvents(), 0u);
    r.events({3});
    r.frame(3);
    r.frame(8);
    ASSERT_EQ(r.pairs.size(), 3u);
    EXPECT_EQ(r.pairs[2].frameTs, 3u);
    EXPECT_EQ(r.pairs[2].eventTs, (std::vector<uint64_t>{3}));
    EXPECT_EQ(r.fusion.droppedEvents(), 20u); // clearing and restarting are no loss
}

TEST(FusionMapping, DefaultCalibrationExamples) {
    const Calibrator c = Calibrator::defaultCalibration();
    const ApsFrame src = codedFrame(3840, 2160, 77);
    NrApsMapper mapper;
    const ApsFrame out = mapper.mapToFrame(src, NrApsMapper::transformOf(c, 0, 0));
    ASSERT_EQ(out.width(), 1280);
    ASSERT_EQ(out.height(), 720);
    EXPECT_EQ(out.timestamp, 77u);
    EXPECT_TRUE(samples(out, 640, 360, src, 1920, 1080)); // centre on centre
    EXPECT_TRUE(black(out, 0, 0));                         // u = -225.1
    EXPECT_TRUE(black(out, 1279, 719));                    // (4061, 2283): outside
    EXPECT_TRUE(samples(out, 67, 38, src, 0, 0));          // u = -0.54 truncates to 0
    EXPECT_TRUE(black(out, 66, 38));                       // u = -3.9
    // an offset of +10 moves the sampled column by 10 everywhere
    const ApsFrame moved = mapper.mapToFrame(src, NrApsMapper::transformOf(c, 10, 0));
    EXPECT_TRUE(samples(moved, 640, 360, src, 1930, 1080));
    EXPECT_TRUE(samples(moved, 67, 38, src, 9, 0)); // -0.54 + 10 = 9.46
    // a negative offset: truncation toward zero, not down
    const ApsFrame back = mapper.mapToFrame(src, NrApsMapper::transformOf(c, -0.3, 0));
    EXPECT_TRUE(samples(back, 67, 38, src, 0, 0)); // u = -0.84 -> 0
}

TEST(FusionMapping, RotatedAndSeparableTransformsAgreeWithTheFormula) {
    // a small rotation takes the per-pixel path; compare both paths with the formula everywhere
    Calibrator c = Calibrator::defaultCalibration();
    const ApsFrame src = codedFrame(3840, 2160);
    for (double a1 : {0.0, 0.02}) {
        c.dvsToAps = {3.1, a1, -100.7, -a1, 2.9, 40.2};
        NrApsMapper mapper;
        const NrApsMapper::Transform t = NrApsMapper::transformOf(c, 5.5, -7.25);
        const ApsFrame out = mapper.mapToFrame(src, t);
        size_t mismatches = 0;
        for (int y = 0; y < 720; y += 7)
            for (int x = 0; x < 1280; x += 3) {
                const double fu = ((3.1 * x + a1 * y) + -100.7) + 5.5;
                const double fv = ((-a1 * x + 2.9 * y) + 40.2) + -7.25;
                const int u = int(fu), v = int(fv);
                const bool inside = u >= 0 && v >= 0 && u < 3840 && v < 2160;
                mismatches += inside ? !samples(out, x, y, src, u, v) : !black(out, x, y);
            }
        EXPECT_EQ(mismatches, 0u) << "a1 = " << a1;
    }
}

TEST(FusionMapping, SourceSmallerThanTheCalibrationAndBadTransformsAreSafe) {
    const Calibrator c = Calibrator::defaultCalibration();
    const ApsFrame small = codedFrame(640, 360);
    NrApsMapper mapper;
    const ApsFrame out = mapper.mapToFrame(small, NrApsMapper::transformOf(c, 0, 0));
    EXPECT_TRUE(samples(out, 100, 100, small, int(3.351724137931035 * 100 - 225.10344827586232),
                        int(3.351724137931035 * 100 - 126.62068965517255)));
    EXPECT_TRUE(black(out, 640, 360)); // beyond the small source
    Calibrator bad = c;
    bad.dvsToAps = {1e300, 0, 1e300, 0, std::numeric_limits<double>::quiet_NaN(), 0};
    const ApsFrame none = mapper.mapToFrame(codedFrame(3840, 2160), NrApsMapper::transformOf(bad, 0, 0));
    EXPECT_TRUE(black(none, 640, 360));
    bad.dvsToAps.clear(); // an empty transform maps nothing
    EXPECT_TRUE(black(mapper.mapToFrame(small, NrApsMapper::transformOf(bad, 0, 0)), 10, 10));
}

TEST(FusionCalibration, LoadAndFoldOffset) {
    CalibratorParameters p;
    p.dvsFrameCols = 1280;
    p.dvsFrameRows = 720;
    p.affineMatrix["1"] = MatrixData{2, 3, 6, {2, 0, 10, 0, 4, 20}};
    Calibrator c;
    c.loadCalibrationParam(p);
    EXPECT_EQ(c.dvsToAps, (std::vector<double>{2, 0, 10, 0, 4, 20}));
    EXPECT_TRUE(c.apsToDvs.empty()); // missing "0": added empty
    EXPECT_EQ(c.affineMatrix.count("0"), 1u);
    EXPECT_TRUE(c.foldOffset(10, -4));
    EXPECT_EQ(c.dvsToAps, (std::vector<double>{2, 0, 20, 0, 4, 16}));
    EXPECT_EQ(c.affineMatrix["1"].data, c.dvsToAps);
    EXPECT_EQ(c.affineMatrix["1"].rows, 2); // kept
    ASSERT_EQ(c.apsToDvs.size(), 6u);
    // the inverse maps the folded transform's image back
    const double x = 33, y = 71;
    const double u = 2 * x + 20, v = 4 * y + 16;
    const auto& b = c.apsToDvs;
    EXPECT_NEAR(b[0] * u + b[1] * v + b[2], x, 1e-9);
    EXPECT_NEAR(b[3] * u + b[4] * v + b[5], y, 1e-9);
    EXPECT_EQ(c.affineMatrix["0"].data, c.apsToDvs);
    // singular: folded, inverse kept
    const std::vector<double> inverse = c.apsToDvs;
    c.dvsToAps = {1, 2, 0, 2, 4, 0};
    EXPECT_FALSE(c.foldOffset(1, 1));
    EXPECT_EQ(c.dvsToAps[2], 1);
    EXPECT_EQ(c.apsToDvs, inverse);
}

// The store's generation is what makes replay remap a frame it keeps: every change of what a frame
// maps to moves it, a refusal moves nothing.
TEST(FusionCalibration, StoreGenerationRefusalsAndFileReading) {
    NrFusionCalibrationStore store(1280, 720);
    const NrApsMapper::Transform start = store.transform();
    uint64_t generation = store.generation();

    CalibratorParameters p;
    p.dvsFrameCols = 1280;
    p.dvsFrameRows = 720;
    p.apsFrameCols = 3840;
    p.apsFrameRows = 2160;
    p.affineMatrix["1"] = MatrixData{2, 3, 6, {1, 0, 0, 0, 1, std::numeric_limits<double>::infinity()}};
    EXPECT_EQ(store.set(p), NrFusionCalibrationStore::Verdict::NoTransform);
    p.dvsFrameCols = 640;
    EXPECT_EQ(store.set(p), NrFusionCalibrationStore::Verdict::WrongDvsSize);
    EXPECT_EQ(store.generation(), generation);
    EXPECT_TRUE(store.transform() == start);

    p.dvsFrameCols = 1280;
    p.affineMatrix["1"].data = {3, 0, 5, 0, 3, 7};
    EXPECT_EQ(store.set(p), NrFusionCalibrationStore::Verdict::Accepted);
    EXPECT_GT(store.generation(), generation);
    generation = store.generation();
    EXPECT_EQ(store.transform().a[2], 5);

    store.setOffset(4, -1);
    EXPECT_GT(store.generation(), generation);
    generation = store.generation();
    EXPECT_EQ(store.transform().offsetX, 4);
    // folding moves the shift into the matrix: the mapping stays, the offset is gone
    const CalibratorParameters folded = store.foldOffset();
    EXPECT_GT(store.generation(), generation);
    const NrApsMapper::Transform after = store.transform();
    EXPECT_EQ(after.offsetX, 0);
    EXPECT_EQ(after.offsetY, 0);
    EXPECT_EQ(after.a[2], 9);
    EXPECT_EQ(after.a[5], 6);
    EXPECT_EQ(folded.affineMatrix.at("1").data, store.calibration().dvsToAps);

    // A recording whose frames lie on its event grid maps pixel to pixel while it is shown; the
    // calibration held comes back afterwards, and each switch remaps a cached frame.
    generation = store.generation();
    store.setSameGrid(true);
    EXPECT_GT(store.generation(), generation);
    const NrApsMapper::Transform same = store.transform();
    EXPECT_TRUE(same.valid);
    EXPECT_EQ(std::vector<double>(same.a, same.a + 6), (std::vector<double>{1, 0, 0, 0, 1, 0}));
    EXPECT_EQ(same.apsCols, 1280);
    EXPECT_EQ(same.apsRows, 720);
    generation = store.generation();
    store.setSameGrid(false);
    EXPECT_GT(store.generation(), generation);
    EXPECT_TRUE(store.transform() == after);

    // a file that is not a calibration is refused without an exception; a written one reads back
    const std::string path = testing::TempDir() + "fusion_store_" + std::to_string(::getpid()) + ".json";
    std::ofstream(path) << "{ \"affineMatrix\": [";
    CalibratorParameters read;
    EXPECT_FALSE(NrFusionCalibrationStore::readFile(path, read));
    EXPECT_FALSE(NrFusionCalibrationStore::readFile(path + ".missing", read));
    EXPECT_FALSE(store.writeFolded(path, nullptr)); // no camera to take it
    ASSERT_TRUE(NrFusionCalibrationStore::readFile(path, read));
    EXPECT_EQ(read.affineMatrix["1"].data, store.calibration().dvsToAps);
    std::remove(path.c_str());
}
