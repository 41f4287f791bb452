#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>

extern "C" {
#include <libavcodec/avcodec.h>
}

#include "LogCapture.h"
#include "VideoTestUtil.h"
#include "norvale/VideoExporter.h"

using namespace norvale;
using testutil::DecodedVideo;

namespace {

constexpr int W = 160;
constexpr int H = 96;
constexpr uint64_t T0 = 5000000; // recordings start at an arbitrary camera time

// n events of one polarity on every pixel of a block, all at time t.
void addBlock(std::vector<Event2D>& ev, int x0, int y0, int polarity, uint64_t t, int n) {
    for (int y = y0; y < y0 + 16; ++y)
        for (int x = x0; x < x0 + 16; ++x)
            for (int i = 0; i < n; ++i)
                ev.push_back(Event2D{uint16_t(x), uint16_t(y), uint8_t(polarity), t});
}

void sortByTime(std::vector<Event2D>& ev) {
    std::stable_sort(ev.begin(), ev.end(), [](const Event2D& a, const Event2D& b) { return a.timestamp < b.timestamp; });
}

VideoExportOptions smallOptions() {
    VideoExportOptions o;
    o.width = W;
    o.height = H;
    return o;
}

void expectColour(const DecodedVideo& v, size_t frame, int x0, int y0, VideoRgb c, const char* what) {
    // Inner 12 x 12 of a 16 x 16 block: compression blurs the edges.
    const auto m = testutil::regionMean(v, frame, x0 + 2, y0 + 2, 12, 12);
    EXPECT_NEAR(m[0], c.r, 12.0) << what << " frame " << frame;
    EXPECT_NEAR(m[1], c.g, 12.0) << what << " frame " << frame;
    EXPECT_NEAR(m[2], c.b, 12.0) << what << " frame " << frame;
}

bool haveH264() { return avcodec_find_encoder_by_name("libx264") != nullptr; }

struct VideoExportTest : ::testing::Test {
    testutil::TempDir dir;
    testutil::MemorySource events;
    LogCapture log;
};

} // namespace

// Blocks in frame 10 of a one-second export: ON only, OFF only, a tie, ON ahead, and more ON than
// OFF beyond the cap of 3 (a tie again, as in the live view).
TEST_F(VideoExportTest, RendersPolarityRuleAndTimingOfDefaultExport) {
    const uint64_t t = T0 + 10 * 33333 + 5000;
    addBlock(events.events, 0, 0, 1, t, 1);
    addBlock(events.events, 32, 0, 0, t, 2);
    addBlock(events.events, 64, 0, 1, t, 2);
    addBlock(events.events, 64, 0, 0, t, 2);
    addBlock(events.events, 96, 0, 1, t, 2);
    addBlock(events.events, 96, 0, 0, t, 1);
    addBlock(events.events, 128, 0, 1, t, 5);
    addBlock(events.events, 128, 0, 0, t, 3);
    addBlock(events.events, 0, 48, 0, T0 + 999000, 1); // in the last frame
    sortByTime(events.events);

    const std::string out = dir.file("default.mp4");
    VideoExportStats stats;
    ASSERT_TRUE(exportEventsToVideo(events.source(T0, T0 + 1000000), T0, T0 + 1000000, out, smallOptions(), &stats));
    EXPECT_EQ(dir.entries(), std::vector<std::string>{"default.mp4"});

    const DecodedVideo v = testutil::decodeVideo(out);
    ASSERT_TRUE(v.ok);
    EXPECT_EQ(v.codec, haveH264() ? "h264" : "mpeg4");
    EXPECT_EQ(stats.codec, haveH264() ? "libx264" : "mpeg4");
    EXPECT_EQ(v.width, W);
    EXPECT_EQ(v.height, H);
    ASSERT_EQ(v.rgb.size(), 30u);
    EXPECT_EQ(stats.frames, 30u);
    EXPECT_NEAR(v.durationSeconds, 1.0, 0.05);
    for (size_t i = 0; i < v.ptsUs.size(); ++i) EXPECT_NEAR(double(v.ptsUs[i]), i * 1e6 / 30, 1.0);

    const VideoRgb on{255, 255, 255}, off{0, 0, 0}, bg{112, 112, 112};
    expectColour(v, 10, 0, 0, on, "ON only");
    expectColour(v, 10, 32, 0, off, "OFF only");
    expectColour(v, 10, 64, 0, off, "tie");
    expectColour(v, 10, 96, 0, on, "ON ahead");
    expectColour(v, 10, 128, 0, off, "capped tie");
    expectColour(v, 10, 64, 48, bg, "background");
    for (size_t f : {9u, 11u}) expectColour(v, f, 0, 0, bg, "neighbour frame");
    expectColour(v, 29, 0, 48, off, "last frame");
    expectColour(v, 28, 0, 48, bg, "before last frame");
}

TEST_F(VideoExportTest, FrameRateSlowMotionAndColourSchemeOptions) {
    // 10 fps at slow motion 2: 50 ms of events per frame, of which the last 33.3 ms are shown.
    const uint64_t t = T0 + 4 * 50000 + 20000; // frame 4
    addBlock(events.events, 16, 16, 1, t + 10, 1);
    addBlock(events.events, 48, 16, 0, t + 20, 1);
    sortByTime(events.events);
    VideoExportOptions o = smallOptions();
    o.fps = 10;
    o.slowMotion = 2.0;
    ASSERT_TRUE(applyColorScheme("RedBlue", o));
    EXPECT_FALSE(applyColorScheme("purple", o));
    const std::string out = dir.file("slow.mp4");
    ASSERT_TRUE(exportEventsToVideo(events.source(T0, T0 + 1000000), T0, T0 + 999999, out, o));
    const DecodedVideo v = testutil::decodeVideo(out);
    ASSERT_EQ(v.rgb.size(), 20u);
    EXPECT_NEAR(v.durationSeconds, 2.0, 0.1);
    expectColour(v, 4, 16, 16, {255, 0, 0}, "ON red");
    expectColour(v, 4, 48, 16, {0, 0, 255}, "OFF blue");
    expectColour(v, 4, 80, 16, {112, 112, 112}, "background");
    expectColour(v, 3, 16, 16, {112, 112, 112}, "frame before");
}

// An accumulation time of three frame steps shows an event in exactly three frames.
TEST_F(VideoExportTest, LongAccumulationSlidesTheWindow) {
    addBlock(events.events, 16, 16, 1, T0 + 5 * 33333 + 100, 1);
    addBlock(events.events, 48, 16, 0, T0 + 5 * 33333 + 200, 1);
    addBlock(events.events, 48, 16, 1, T0 + 6 * 33333 + 200, 2); // ON overtakes from frame 6 on
    sortByTime(events.events);
    VideoExportOptions o = smallOptions();
    o.accTimeUs = 100000;
    const std::string out = dir.file("acc.mp4");
    ASSERT_TRUE(exportEventsToVideo(events.source(T0, T0 + 500000), T0, T0 + 500000, out, o));
    const DecodedVideo v = testutil::decodeVideo(out);
    ASSERT_EQ(v.rgb.size(), 15u);
    const VideoRgb on{255, 255, 255}, off{0, 0, 0}, bg{112, 112, 112};
    expectColour(v, 4, 16, 16, bg, "before");
    for (size_t f : {5u, 6u, 7u}) expectColour(v, f, 16, 16, on, "inside window");
    expectColour(v, 8, 16, 16, bg, "after window");
    expectColour(v, 5, 48, 16, off, "OFF alone");
    for (size_t f : {6u, 7u}) expectColour(v, f, 48, 16, on, "ON ahead");
    expectColour(v, 8, 48, 16, on, "OFF left the window");
    expectColour(v, 9, 48, 16, bg, "all left");
}

TEST_F(VideoExportTest, Mpeg4FallbackWritesAPlayableFile) {
    addBlock(events.events, 16, 16, 1, T0 + 100, 1);
    VideoExportOptions o = smallOptions();
    o.codec = VideoCodecChoice::Mpeg4;
    const std::string out = dir.file("mpeg4.mp4");
    VideoExportStats stats;
    ASSERT_TRUE(exportEventsToVideo(events.source(T0, T0 + 300000), T0, T0 + 300000, out, o, &stats));
    EXPECT_EQ(stats.codec, "mpeg4");
    const DecodedVideo v = testutil::decodeVideo(out);
    EXPECT_EQ(v.codec, "mpeg4");
    ASSERT_EQ(v.rgb.size(), 9u);
    expectColour(v, 0, 16, 16, {255, 255, 255}, "ON");
    expectColour(v, 1, 16, 16, {112, 112, 112}, "background");
}

TEST_F(VideoExportTest, CancelRemovesThePartialFileAndKeepsAnOldOne) {
    addBlock(events.events, 16, 16, 1, T0 + 100, 1);
    const std::string out = dir.file("cancel.mp4");
    { std::ofstream(out) << "previous export"; }
    VideoExportOptions o = smallOptions();
    std::vector<double> seen;
    o.progress = [&](double f) {
        seen.push_back(f);
        return seen.size() < 5;
    };
    EXPECT_FALSE(exportEventsToVideo(events.source(T0, T0 + 1000000), T0, T0 + 1000000, out, o));
    ASSERT_EQ(seen.size(), 5u);
    EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
    EXPECT_NEAR(seen[0], 1.0 / 30, 1e-9);
    EXPECT_EQ(dir.entries(), std::vector<std::string>{"cancel.mp4"});
    std::ifstream in(out);
    std::string text;
    std::getline(in, text);
    EXPECT_EQ(text, "previous export");
    EXPECT_NE(log.text().find("cancelled"), std::string::npos);

    // Without cancelling, the progress reaches 1.
    seen.clear();
    o.progress = [&](double f) {
        seen.push_back(f);
        return true;
    };
    ASSERT_TRUE(exportEventsToVideo(events.source(T0, T0 + 1000000), T0, T0 + 1000000, out, o));
    ASSERT_EQ(seen.size(), 30u);
    EXPECT_DOUBLE_EQ(seen.back(), 1.0);
    EXPECT_EQ(testutil::decodeVideo(out, false).ptsUs.size(), 30u);
}

TEST_F(VideoExportTest, BadRangesOptionsAndTargetsFailWithALogLineAndNoFile) {
    addBlock(events.events, 16, 16, 1, T0 + 100, 1);
    const auto src = events.source(T0, T0 + 1000000);
    const std::string out = dir.file("bad.mp4");
    struct Case {
        const char* what;
        uint64_t start, end;
        std::string path;
        VideoExportOptions options;
        const char* logged;
    };
    VideoExportOptions zeroFps = smallOptions(), oddWidth = smallOptions(), zeroAcc = smallOptions(),
                       badSlow = smallOptions();
    zeroFps.fps = 0;
    oddWidth.width = 161;
    zeroAcc.accTimeUs = 0;
    badSlow.slowMotion = 0;
    const Case cases[] = {
        {"start after end", T0 + 500, T0 + 100, out, smallOptions(), "is after end"},
        {"range before recording", 0, T0 - 1, out, smallOptions(), "outside the recording"},
        {"range after recording", T0 + 2000000, T0 + 3000000, out, smallOptions(), "outside the recording"},
        {"missing folder", T0, T0 + 100000, dir.file("no/such/folder/x.mp4"), smallOptions(), "cannot create"},
        {"fps 0", T0, T0 + 100000, out, zeroFps, "frame rate"},
        {"odd width", T0, T0 + 100000, out, oddWidth, "must be even"},
        {"accumulation 0", T0, T0 + 100000, out, zeroAcc, "accumulation time"},
        {"slow motion 0", T0, T0 + 100000, out, badSlow, "slow-motion"},
    };
    for (const Case& c : cases) {
        log.clear();
        EXPECT_FALSE(exportEventsToVideo(src, c.start, c.end, c.path, c.options)) << c.what;
        EXPECT_NE(log.text().find(c.logged), std::string::npos) << c.what << ": " << log.text();
    }
    EXPECT_TRUE(dir.entries().empty());

    // A read-only folder (root writes anyway, so only checked for other users).
    if (geteuid() != 0) {
        const std::string ro = dir.file("ro");
        ASSERT_EQ(mkdir(ro.c_str(), 0555), 0);
        log.clear();
        EXPECT_FALSE(exportEventsToVideo(src, T0, T0 + 100000, ro + "/x.mp4", smallOptions()));
        EXPECT_NE(log.text().find("cannot create"), std::string::npos);
    }

    // A source that fails half way.
    EventRangeSource failing = src;
    int calls = 0;
    failing.readEvents = [&](uint64_t s, uint64_t d) -> std::shared_ptr<const std::vector<Event2D>> {
        if (++calls > 3) return nullptr;
        return src.readEvents(s, d);
    };
    log.clear();
    EXPECT_FALSE(exportEventsToVideo(failing, T0, T0 + 1000000, out, smallOptions()));
    EXPECT_NE(log.text().find("reading the events"), std::string::npos);
    EXPECT_FALSE(testutil::fileExists(out));
    EXPECT_FALSE(testutil::fileExists(out + ".part"));
}

// A range reaching past the recording is cut to it; fast-forward reads in bounded pieces.
TEST_F(VideoExportTest, RangeIsCutToTheRecordingAndReadsStayBounded) {
    addBlock(events.events, 16, 16, 1, T0 + 100, 1);
    VideoExportOptions o = smallOptions();
    o.slowMotion = 0.01; // 100 x faster: 3.3 s of events per frame, all shown
    o.accTimeUs = 3333333;
    const std::string out = dir.file("fast.mp4");
    ASSERT_TRUE(exportEventsToVideo(events.source(T0, T0 + 10000000), 0, T0 + 50000000, out, o));
    EXPECT_LE(events.largestSpan, 40000u);
    const DecodedVideo v = testutil::decodeVideo(out);
    ASSERT_EQ(v.rgb.size(), 3u); // 10 s at 3.33 s per frame
    expectColour(v, 0, 16, 16, {255, 255, 255}, "first event");
}

// A standard tool sees a valid H.264 MP4 (skipped when ffprobe is not installed).
TEST_F(VideoExportTest, FfprobeAcceptsTheExport) {
    if (std::system("command -v ffprobe >/dev/null 2>&1") != 0) GTEST_SKIP() << "ffprobe not installed";
    addBlock(events.events, 16, 16, 1, T0 + 100, 1);
    const std::string out = dir.file("probe.mp4");
    ASSERT_TRUE(exportEventsToVideo(events.source(T0, T0 + 500000), T0, T0 + 500000, out, smallOptions()));
    const std::string cmd = "ffprobe -v error -count_frames -select_streams v:0 -show_entries "
                            "stream=codec_name,width,height,nb_read_frames -of csv=p=0 '" + out + "' 2>&1";
    FILE* p = popen(cmd.c_str(), "r");
    ASSERT_NE(p, nullptr);
    char line[256] = {0};
    std::string text;
    while (fgets(line, sizeof line, p)) text += line;
    EXPECT_EQ(pclose(p), 0) << text;
    EXPECT_EQ(text, std::string(haveH264() ? "h264" : "mpeg4") + ",160,96,15\n");
}
