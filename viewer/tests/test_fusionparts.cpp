// The fusion processor's parts on their own: pairing of APS frames with event buffers, the
// calibration mapping (examples of the default calibration, offsets, rotated transforms, sources
// smaller than the calibration says) and folding an offset into the calibration.
#include <gtest/gtest.h>

#include <limits>
#include <vector>

#include "processing/nrcalibrator.h"
#include "processing/nrdvsapsfusion.h"

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

struct PairingRig {
    DvsApsFusionProccessor fusion;
    std::vector<Pair> pairs;
    PairingRig() {
        fusion.setCallback([this](ApsFrame& f, Event2D* b, Event2D* e) {
            Pair p{f.timestamp, {}};
            for (Event2D* i = b; i != e; ++i)
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
    void edge(uint16_t value) { fusion.addTriggerIn(EventTriggerIn{value, 0, 0}); }
    void frame(uint64_t ts) { fusion.addApsFrame(codedFrame(4, 2, ts)); }
};

} // namespace

TEST(FusionPairing, FramesWaitForEdgesAndPairInOrder) {
    PairingRig r;
    r.events({1, 2});
    r.frame(100); // two frames before the first edge: both kept
    r.frame(200);
    EXPECT_TRUE(r.pairs.empty());
    r.edge(0); // a falling edge closes nothing
    EXPECT_TRUE(r.pairs.empty());
    EXPECT_EQ(r.fusion.currentEvents(), 2u);
    r.edge(1); // the first rising edge: the first frame with the events since the start
    ASSERT_EQ(r.pairs.size(), 1u);
    EXPECT_EQ(r.pairs[0].frameTs, 100u);
    EXPECT_EQ(r.pairs[0].eventTs, (std::vector<uint64_t>{1, 2}));
    r.events({3});
    r.edge(1);
    r.events({4});
    r.edge(1); // a buffer without its frame waits
    ASSERT_EQ(r.pairs.size(), 2u);
    EXPECT_EQ(r.pairs[1].frameTs, 200u);
    EXPECT_EQ(r.pairs[1].eventTs, (std::vector<uint64_t>{3}));
    r.frame(300);
    ASSERT_EQ(r.pairs.size(), 3u);
    EXPECT_EQ(r.pairs[2].eventTs, (std::vector<uint64_t>{4}));
    // a reused buffer starts empty
    r.events({5});
    r.edge(1);
    r.frame(400);
    ASSERT_EQ(r.pairs.size(), 4u);
    EXPECT_EQ(r.pairs[3].eventTs, (std::vector<uint64_t>{5}));
}

TEST(FusionPairing, ClearCacheDropsEverythingWaiting) {
    PairingRig r;
    r.events({1});
    r.edge(1);
    r.events({2});
    r.edge(1);
    r.events({3});
    EXPECT_EQ(r.fusion.waitingBuffers(), 2u);
    r.fusion.clearCache();
    EXPECT_EQ(r.fusion.waitingBuffers(), 0u);
    EXPECT_EQ(r.fusion.currentEvents(), 0u);
    r.frame(10);
    EXPECT_EQ(r.fusion.waitingFrames(), 1u);
    r.fusion.clearCache();
    EXPECT_EQ(r.fusion.waitingFrames(), 0u);
    r.events({7});
    r.edge(1);
    r.frame(20);
    ASSERT_EQ(r.pairs.size(), 1u);
    EXPECT_EQ(r.pairs[0].eventTs, (std::vector<uint64_t>{7}));
    // the pool keeps its ten buffers: two in use or waiting at most here
    EXPECT_GE(r.fusion.idleBuffers(), DvsApsFusionProccessor::kPoolBuffers - 2);
}

TEST(FusionPairing, QueuesStayBoundedWithoutPartners) {
    PairingRig r;
    for (uint64_t i = 0; i < 20; ++i)
        r.frame(i); // no trigger edges: the oldest frames go
    EXPECT_EQ(r.fusion.waitingFrames(), DvsApsFusionProccessor::kMaxWaitingFrames);
    r.edge(1);
    ASSERT_EQ(r.pairs.size(), 1u);
    EXPECT_EQ(r.pairs[0].frameTs, 20u - DvsApsFusionProccessor::kMaxWaitingFrames);
    r.fusion.clearCache();
    for (int i = 0; i < 20; ++i)
        r.edge(1); // no frames: the oldest buffers go
    EXPECT_EQ(r.fusion.waitingBuffers(), DvsApsFusionProccessor::kMaxWaitingBuffers);
    // without edges the current buffer keeps the newest events within its capacity
    r.fusion.clearCache();
    std::vector<Event2D> big(DvsApsFusionProccessor::kBufferEvents - 1, Event2D{0, 0, 0, 1});
    r.fusion.addEvents(big.data(), big.data() + big.size());
    r.events({2, 3});
    EXPECT_EQ(r.fusion.currentEvents(), 2u);
}

// Every event the pairing lets go is counted, so the status bar can show it; clearing is not a loss.
TEST(FusionPairing, DroppedEventsAreCounted) {
    PairingRig r;
    r.events({1, 2, 3});
    r.edge(1);
    for (uint64_t i = 0; i < DvsApsFusionProccessor::kMaxWaitingBuffers; ++i) {
        r.events({10 + i});
        r.edge(1); // the last one pushes out the first buffer, three events
    }
    EXPECT_EQ(r.fusion.droppedEvents(), 3u);
    for (uint64_t i = 0; i < 10; ++i)
        r.frame(i); // frames pair with the waiting buffers or go; no event is lost by them
    EXPECT_EQ(r.fusion.droppedEvents(), 3u);
    r.events({5});
    r.fusion.clearCache();
    EXPECT_EQ(r.fusion.droppedEvents(), 3u);

    std::vector<Event2D> big(DvsApsFusionProccessor::kBufferEvents - 1, Event2D{0, 0, 0, 1});
    r.fusion.addEvents(big.data(), big.data() + big.size());
    r.events({2, 3}); // no room: the buffer restarts with these two
    EXPECT_EQ(r.fusion.droppedEvents(), 3u + big.size());
    big.resize(DvsApsFusionProccessor::kBufferEvents + 5);
    r.fusion.addEvents(big.data(), big.data() + big.size()); // the two, and the five oldest of the batch
    EXPECT_EQ(r.fusion.droppedEvents(), 3u + (DvsApsFusionProccessor::kBufferEvents - 1) + 2 + 5);
    EXPECT_EQ(r.fusion.currentEvents(), DvsApsFusionProccessor::kBufferEvents);
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
