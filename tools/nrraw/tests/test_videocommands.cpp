#include <gtest/gtest.h>

#include <sstream>

#include "LogCapture.h"
#include "VideoTestUtil.h"
#include "norvale/ApsVideoWriter.h"
#include "VideoCommands.h"

using namespace norvale;

TEST(VideoCommands, ParsesExportArguments) {
    VideoExportCommand c;
    std::string error;
    ASSERT_TRUE(parseVideoExportCommand({"in.raw", "out.mp4"}, c, error)) << error;
    EXPECT_EQ(c.input, "in.raw");
    EXPECT_EQ(c.output, "out.mp4");
    EXPECT_FALSE(c.startUs);
    EXPECT_FALSE(c.endUs);
    EXPECT_EQ(c.options.fps, 30);
    EXPECT_EQ(c.options.accTimeUs, 33333u);
    EXPECT_EQ(c.options.backgroundColor.r, 112);

    ASSERT_TRUE(parseVideoExportCommand({"--start", "100", "in.raw", "--end", "900", "out.mp4", "--fps", "60",
                                         "--acc", "5000", "--slow", "2.5", "--colors", "dark"},
                                        c, error))
        << error;
    EXPECT_EQ(*c.startUs, 100u);
    EXPECT_EQ(*c.endUs, 900u);
    EXPECT_EQ(c.options.fps, 60);
    EXPECT_EQ(c.options.accTimeUs, 5000u);
    EXPECT_DOUBLE_EQ(c.options.slowMotion, 2.5);
    EXPECT_EQ(c.options.offColor.b, 200);
    EXPECT_EQ(c.options.backgroundColor.r, 30);

    const std::vector<std::vector<std::string>> bad = {
        {"in.raw"},
        {"in.raw", "out.mp4", "extra"},
        {"in.raw", "out.mp4", "--fps"},
        {"in.raw", "out.mp4", "--fps", "0"},
        {"in.raw", "out.mp4", "--fps", "30x"},
        {"in.raw", "out.mp4", "--start", "-5"},
        {"in.raw", "out.mp4", "--acc", "0"},
        {"in.raw", "out.mp4", "--slow", "fast"},
        {"in.raw", "out.mp4", "--colors", "purple"},
        {"in.raw", "out.mp4", "--size", "3"},
    };
    for (const auto& args : bad) {
        error.clear();
        EXPECT_FALSE(parseVideoExportCommand(args, c, error)) << args.back();
        EXPECT_FALSE(error.empty());
    }
}

TEST(VideoCommands, ExportFillsTheRangeFromTheRecording) {
    testutil::TempDir dir;
    testutil::MemorySource events;
    events.events.push_back(Event2D{3, 3, 1, 2000});
    VideoExportCommand c;
    std::string error;
    ASSERT_TRUE(parseVideoExportCommand({"in.raw", dir.file("o.mp4"), "--end", "201000"}, c, error));
    c.options.width = 32;
    c.options.height = 32;
    const auto source = events.source(1000, 500000);
    uint64_t seenStart = 0, seenEnd = 0;
    auto exportFn = [&](uint64_t s, uint64_t e, const std::string& p, const VideoExportOptions& o) {
        seenStart = s;
        seenEnd = e;
        return exportEventsToVideo(source, s, e, p, o);
    };
    std::ostringstream out, err;
    EXPECT_EQ(runVideoExportCommand(c, 1000, 500000, exportFn, out, err), 0) << err.str();
    EXPECT_EQ(seenStart, 1000u);
    EXPECT_EQ(seenEnd, 201000u);
    EXPECT_EQ(testutil::decodeVideo(dir.file("o.mp4"), false).ptsUs.size(), 6u);
    EXPECT_NE(out.str().find("exported"), std::string::npos);

    c.startUs = 300000; // after the end
    LogCapture log;
    EXPECT_EQ(runVideoExportCommand(c, 1000, 500000, exportFn, out, err), 1);
    EXPECT_NE(err.str().find("failed"), std::string::npos);
}

TEST(VideoCommands, ApsInfoPrintsSizeCountAndTimes) {
    testutil::TempDir dir;
    const std::string path = dir.file("aps.mp4");
    auto writer = ApsVideoWriter::create(path, 32, 16);
    ASSERT_TRUE(writer);
    for (uint64_t ts : {500u, 40000u, 75000u}) ASSERT_TRUE(writer->writeFrame(ApsFrame(32, 16, 0, ts)));
    ASSERT_TRUE(writer->close());
    std::ostringstream out, err;
    EXPECT_EQ(runApsInfoCommand(path, out, err), 0);
    EXPECT_EQ(out.str(), "size: 32x16\nframes: 3\nfirst timestamp: 500 us\nlast timestamp: 75000 us\n");

    LogCapture log;
    std::ostringstream out2, err2;
    EXPECT_EQ(runApsInfoCommand(dir.file("none.mp4"), out2, err2), 1);
    EXPECT_TRUE(out2.str().empty());
    EXPECT_NE(err2.str().find("not a readable APS video"), std::string::npos);
}
