// Where frames lie: both anchors in the middle of a range, at its ends, near the bounds of uint64_t,
// and stepping through a whole range the way playback does.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "norvale/EventWindow.h"

using norvale::EventWindow;
using norvale::EventWindowAnchor;
using norvale::FramePlacement;

namespace {

constexpr FramePlacement kPlace{5000, 12000, EventWindowAnchor::FrameStart, 1000, 200000};

FramePlacement withAnchor(FramePlacement p, EventWindowAnchor a) {
    p.anchor = a;
    return p;
}

void expectWindow(const EventWindow& w, uint64_t from, uint64_t to, uint64_t shownAt) {
    EXPECT_EQ(w.from, from);
    EXPECT_EQ(w.to, to);
    EXPECT_EQ(w.shownAt, shownAt);
}

} // namespace

static_assert(EventWindow::next(0, FramePlacement{}).to == 33333, "usable in constant expressions");

TEST(EventWindow, BothAnchorsInsideTheRange) {
    const FramePlacement end = withAnchor(kPlace, EventWindowAnchor::FrameEnd);
    expectWindow(EventWindow::at(50000, kPlace), 45000, 57000, 50000);
    expectWindow(EventWindow::at(50000, end), 38000, 50000, 50000);
    expectWindow(EventWindow::next(50000, kPlace), 50000, 62000, 55000); // window [p, p + acc)
    expectWindow(EventWindow::next(50000, end), 43000, 55000, 55000);
    expectWindow(EventWindow::previous(50000, kPlace), 40000, 52000, 45000);
    expectWindow(EventWindow::previous(50000, end), 33000, 45000, 45000);
    // Next then Previous is the frame one started from, for both anchors.
    for (const FramePlacement& p : {kPlace, end}) {
        const EventWindow back = EventWindow::previous(EventWindow::next(50000, p).shownAt, p);
        expectWindow(back, EventWindow::at(50000, p).from, EventWindow::at(50000, p).to, 50000);
    }
    const EventWindow w = EventWindow::at(50000, kPlace);
    EXPECT_TRUE(w.contains(45000));
    EXPECT_FALSE(w.contains(57000));
    EXPECT_TRUE(w.isAfter(44999));
    EXPECT_FALSE(w.isAfter(45000));
}

// Windows are cut at the range's ends, never moved; the frame at upper reaches it.
TEST(EventWindow, RangeEnds) {
    const FramePlacement end = withAnchor(kPlace, EventWindowAnchor::FrameEnd);
    // accumulation longer than the position: nothing below lower
    expectWindow(EventWindow::at(1000, kPlace), 1000, 8000, 1000);
    expectWindow(EventWindow::at(1000, end), 1000, 1000, 1000);
    EXPECT_TRUE(EventWindow::at(1000, end).empty());
    expectWindow(EventWindow::at(4000, end), 1000, 4000, 4000);
    expectWindow(EventWindow::previous(3000, kPlace), 1000, 8000, 1000);
    expectWindow(EventWindow::previous(0, kPlace), 1000, 8000, 1000); // before the range: its start
    FramePlacement zero = end;
    zero.lower = 0;
    expectWindow(EventWindow::at(3000, zero), 0, 3000, 3000);
    FramePlacement shortAcc = kPlace;
    shortAcc.acc = 2000; // shorter than a step: the frame at lower has nothing to show
    EXPECT_TRUE(EventWindow::at(1000, shortAcc).empty());
    EXPECT_EQ(EventWindow::at(1000, shortAcc).from, 1000u);
    // a step longer than what is left: the last, partial frame, shown at upper and reaching it
    expectWindow(EventWindow::next(198000, kPlace), 198000, 200001, 200000);
    expectWindow(EventWindow::next(198000, end), 188001, 200001, 200000);
    expectWindow(EventWindow::next(195000, kPlace), 195000, 200001, 200000); // exactly a step left
    expectWindow(EventWindow::next(300000, kPlace), 200000, 200001, 200000); // from upper: nothing is left
    expectWindow(EventWindow::at(199000, kPlace), 194000, 200001, 199000);   // acc cut at upper
    FramePlacement huge = kPlace;
    huge.step = UINT64_MAX;
    expectWindow(EventWindow::next(1000, huge), 1000, 200001, 200000);
    // upper below lower: a range of one moment
    FramePlacement crossed = end;
    crossed.upper = 500;
    expectWindow(EventWindow::next(800, crossed), 1000, 1001, 1000);
}

TEST(EventWindow, Uint64Bounds) {
    const uint64_t max = UINT64_MAX;
    for (EventWindowAnchor a : {EventWindowAnchor::FrameStart, EventWindowAnchor::FrameEnd}) {
        FramePlacement p{max, max, a, 0, max};
        const EventWindow first = EventWindow::next(0, p);
        expectWindow(first, 0, max, max);
        const EventWindow mid = EventWindow::at(max - 10, p);
        EXPECT_EQ(mid.shownAt, max - 10);
        EXPECT_LE(mid.from, mid.to);
        EXPECT_EQ(mid.from, 0u);
        EXPECT_EQ(EventWindow::previous(max, p).shownAt, 0u);
        p.step = 7;
        p.acc = 20;
        p.lower = max - 100;
        expectWindow(EventWindow::next(max - 3, p), a == EventWindowAnchor::FrameStart ? max - 3 : max - 20, max, max);
        const EventWindow near = EventWindow::at(max - 50, p);
        EXPECT_EQ(near.to - near.from, 20u);
    }
    expectWindow(EventWindow::lastSpan(max, 100), max - 100, max, max);
    expectWindow(EventWindow::lastSpan(50, 100), 0, 51, 50);
    expectWindow(EventWindow::startingAt(max - 5, 33333), max - 5, max, max - 5);
    EXPECT_TRUE(EventWindow::startingAt(700, 0).empty());
    EXPECT_FALSE(EventWindow::startingAt(700, 0).contains(700));
}

// Playing a range from lower: frames follow one step apart and the last is shown at upper; with
// the accumulation equal to the step (FrameStart) the windows tile [lower, upper] without a gap
// or an overlap, and stepping back from a frame shows the one before it.
TEST(EventWindow, PlayingARangeTilesIt) {
    for (uint64_t upper : {uint64_t(200000), uint64_t(201000), uint64_t(1000)}) {
        FramePlacement p = kPlace;
        p.acc = p.step;
        p.upper = upper;
        std::vector<EventWindow> frames;
        uint64_t pos = p.lower;
        do {
            frames.push_back(EventWindow::next(pos, p));
            pos = frames.back().shownAt;
        } while (pos < p.upper && frames.size() < 100);
        ASSERT_LT(frames.size(), 100u);
        EXPECT_EQ(frames.size(), std::max<uint64_t>(1, (upper - p.lower + p.step - 1) / p.step)) << upper;
        uint64_t covered = p.lower;
        for (size_t i = 0; i < frames.size(); ++i) {
            EXPECT_EQ(frames[i].from, covered) << i;
            covered = frames[i].to;
            if (i + 1 < frames.size()) {
                EXPECT_EQ(frames[i].shownAt, p.lower + (i + 1) * p.step);
            }
            if (i + 2 < frames.size()) { // back from the last, partial frame is a whole step back
                const EventWindow back = EventWindow::previous(frames[i + 1].shownAt, p);
                EXPECT_EQ(back.from, frames[i].from);
                EXPECT_EQ(back.to, frames[i].to);
            }
        }
        EXPECT_EQ(frames.back().shownAt, upper);
        EXPECT_EQ(covered, upper + 1);
    }
}
