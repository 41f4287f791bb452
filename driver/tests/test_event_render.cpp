// Counting and painting of export frames against a plain reference: the ON/OFF rule with counts
// capped at 3, 4:2:0 chroma, and planes and pictures reused from frame to frame.
#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <chrono>
#include <random>
#include <thread>
#include <vector>

#include "video/EventCounter.h"
#include "video/EventFrameRenderer.h"
#include "video/PlaneRing.h"

using namespace norvale;
using namespace norvale::video;

namespace {

constexpr int W = 64;
constexpr int H = 40;
constexpr int kStride = W + 16; // pictures with padding, as libav allocates them

// Limited-range BT.601 of the "redblue" scheme: background gray 112, ON red, OFF blue.
const VideoRgb kOn{255, 0, 0}, kOff{0, 0, 255}, kBackground{112, 112, 112};
constexpr std::array<uint8_t, 3> kY{112, 81, 41}; // background, ON, OFF
constexpr std::array<uint8_t, 3> kCb{128, 90, 240};
constexpr std::array<uint8_t, 3> kCr{128, 240, 110};

struct Picture {
    std::vector<uint8_t> y = std::vector<uint8_t>(size_t(kStride) * H, 0xAA);
    std::vector<uint8_t> u = std::vector<uint8_t>(size_t(kStride) * H / 2, 0xAA);
    std::vector<uint8_t> v = std::vector<uint8_t>(size_t(kStride) * H / 2, 0xAA);
};

// Exact counts per pixel and polarity; class 0 background, 1 ON, 2 OFF.
struct Reference {
    std::vector<int> off = std::vector<int>(size_t(W) * H, 0), on = std::vector<int>(size_t(W) * H, 0);
    void apply(const std::vector<Event2D>& events, int delta) {
        for (const Event2D& e : events) {
            if (e.x >= W || e.y >= H || e.polarity > 1) continue;
            (e.polarity ? on : off)[size_t(e.y) * W + e.x] += delta;
        }
    }
    int cls(int x, int y) const {
        const int o = std::min(off[size_t(y) * W + x], 3), n = std::min(on[size_t(y) * W + x], 3);
        return o == 0 && n == 0 ? 0 : (n > o ? 1 : 2);
    }
    void expectPainted(const Picture& p, const char* what) const {
        for (int y = 0; y < H; ++y)
            for (int x = 0; x < W; ++x)
                ASSERT_EQ(p.y[size_t(y) * kStride + x], kY[size_t(cls(x, y))]) << what << " at " << x << "," << y;
        for (int y = 0; y < H / 2; ++y)
            for (int x = 0; x < W / 2; ++x) {
                int cb = 2, cr = 2;
                for (int k = 0; k < 4; ++k) {
                    const int c = cls(2 * x + k % 2, 2 * y + k / 2);
                    cb += kCb[size_t(c)];
                    cr += kCr[size_t(c)];
                }
                ASSERT_EQ(p.u[size_t(y) * kStride + x], cb / 4) << what << " chroma at " << x << "," << y;
                ASSERT_EQ(p.v[size_t(y) * kStride + x], cr / 4) << what << " chroma at " << x << "," << y;
            }
    }
};

// Events on rows [rowBegin, rowEnd) only, with repeats (beyond the cap), ties and dropped ones.
std::vector<Event2D> randomEvents(std::mt19937& rng, size_t n, int rowBegin, int rowEnd) {
    std::vector<Event2D> ev;
    for (size_t i = 0; i < n; ++i) {
        Event2D e;
        e.x = uint16_t(rng() % (W / 4)); // crowded columns: many pixels see several events
        e.y = uint16_t(rowBegin + int(rng() % uint32_t(rowEnd - rowBegin)));
        e.polarity = uint8_t(rng() % 2);
        e.timestamp = i;
        if (i % 97 == 0) e.x = W + 3;       // outside the frame
        if (i % 89 == 0) e.polarity = 2;    // not an event of the sensor
        ev.push_back(e);
        if (i % 3 == 0) ev.push_back(e);    // same pixel twice in a row
    }
    return ev;
}

void render(EventFrameRenderer& r, EventStatePlane& plane, Picture& p) {
    r.render(plane, p.y.data(), kStride, p.u.data(), kStride, p.v.data(), kStride);
}

} // namespace

// Fresh windows: each frame shows only its own events; rows without events go back to the
// background in a reused picture, and a reused plane keeps nothing of an earlier frame.
TEST(EventRender, CountsAndPaintsFreshWindowsLikeTheReference) {
    std::mt19937 rng(7);
    EventCounter counter(W, H, false);
    EventFrameRenderer renderer(W, H, kOn, kOff, kBackground);
    EventStatePlane plane(W, H);
    Picture picture;
    const std::pair<int, int> rows[] = {{0, H}, {4, 9}, {0, H}, {30, 31}, {0, 1}};
    for (const auto& [begin, end] : rows) {
        const auto events = randomEvents(rng, 3000, begin, end);
        plane.clearTouched();
        counter.add(events.data(), events.data() + events.size(), plane);
        render(renderer, plane, picture);
        Reference ref;
        ref.apply(events, 1);
        ref.expectPainted(picture, "fresh window");
    }
    plane.clearTouched();
    render(renderer, plane, picture);
    Reference().expectPainted(picture, "no events");
}

// Sliding windows: events leave the window again, and what is left decides the colour.
TEST(EventRender, SlidingWindowTakesEventsOutAgain) {
    std::mt19937 rng(11);
    EventCounter counter(W, H, true);
    EventFrameRenderer renderer(W, H, kOn, kOff, kBackground);
    EventStatePlane plane(W, H);
    Picture picture;
    Reference ref;
    std::vector<std::vector<Event2D>> pieces;
    for (int k = 0; k < 6; ++k) {
        pieces.push_back(randomEvents(rng, 1500, k * 5, k * 5 + 12));
        counter.addExact(pieces.back().data(), pieces.back().data() + pieces.back().size());
        ref.apply(pieces.back(), 1);
        if (k >= 2) { // windows of two pieces
            const auto& out = pieces[size_t(k - 2)];
            counter.removeExact(out.data(), out.data() + out.size());
            ref.apply(out, -1);
        }
        counter.snapshot(plane);
        render(renderer, plane, picture);
        ref.expectPainted(picture, "sliding window");
    }
}

TEST(EventRender, RingHandsPlanesOverInOrderAndStopReleasesAWaitingProducer) {
    PlaneRing ring(3, W, H);
    std::thread consumer([&] {
        uint8_t expected = 0;
        while (EventStatePlane* p = ring.nextToPaint()) {
            EXPECT_EQ(p->states[0], expected++);
            ring.recycle();
        }
        EXPECT_EQ(expected, 200);
    });
    for (int k = 0; k < 200; ++k) {
        EventStatePlane* p = ring.nextToFill();
        ASSERT_NE(p, nullptr);
        p->states[0] = uint8_t(k);
        ring.publish();
    }
    ring.close();
    consumer.join();

    // Nobody paints: the fourth plane is not handed out until the ring is stopped.
    PlaneRing full(3, W, H);
    for (int k = 0; k < 3; ++k) {
        ASSERT_NE(full.nextToFill(), nullptr);
        full.publish();
    }
    std::atomic<bool> returned{false};
    EventStatePlane sentinel(2, 2);
    EventStatePlane* fourth = &sentinel;
    std::thread producer([&] {
        fourth = full.nextToFill();
        returned = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(returned);
    full.stop();
    producer.join();
    EXPECT_EQ(fourth, nullptr);
    EXPECT_EQ(full.nextToPaint(), nullptr);
}
