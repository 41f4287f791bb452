// A raw file's video export (exportFileToVideo) and cut (cutRawFile) end to end: a file written by
// our writer, exported or cut, read back.
#include <gtest/gtest.h>

#include <vector>

#include "VideoTestUtil.h"
#include "norvale/DvsFileReader.h"
#include "norvale/RawCut.h"
#include "norvale/RawFileWriter.h"
#include "norvale/VideoExporter.h"

using namespace norvale;

namespace {

// One second of events from t0: ON events in the left block, OFF events in the right block,
// one event per pixel-column every 1000 us.
void writeRecording(const std::string& path, uint64_t t0) {
    RawFileWriter writer;
    DvsFileInfo info;
    info.dvsStartTimestamp = t0;
    ASSERT_TRUE(writer.open(path, info));
    std::vector<Event2D> batch;
    for (uint64_t t = t0; t < t0 + 1000000; t += 1000) {
        batch.clear();
        for (uint16_t y = 100; y < 140; ++y)
            for (uint16_t x = 100; x < 140; x += 1) {
                batch.push_back(Event2D{x, y, 1, t});
                batch.push_back(Event2D{uint16_t(x + 600), y, 0, t});
            }
        ASSERT_TRUE(writer.addEvents(batch.data(), batch.data() + batch.size()));
    }
    ASSERT_TRUE(writer.close());
}

} // namespace

TEST(ReaderExport, ExportsTheRangeWithColoursAndProgress) {
    testutil::TempDir dir;
    const uint64_t t0 = 50000000; // beyond one wrap of the 24-bit time
    writeRecording(dir.file("rec.raw"), t0);
    auto reader = DvsFileReader::createFileReader(dir.file("rec.raw"));
    ASSERT_TRUE(reader);
    ASSERT_TRUE(reader->prepareFile());

    VideoExportOptions options;
    double lastFraction = 0;
    int calls = 0;
    options.progress = [&](double f) {
        EXPECT_GE(f, lastFraction);
        lastFraction = f;
        ++calls;
        return true;
    };
    ASSERT_TRUE(exportFileToVideo(*reader, t0, t0 + 499999, dir.file("half.mp4"), options));
    EXPECT_DOUBLE_EQ(lastFraction, 1.0);
    EXPECT_GT(calls, 10);

    const auto video = testutil::decodeVideo(dir.file("half.mp4"));
    ASSERT_TRUE(video.ok);
    EXPECT_EQ(video.width, 1280);
    EXPECT_EQ(video.height, 720);
    EXPECT_EQ(video.ptsUs.size(), 15u); // half a second at 30 fps
    const size_t last = video.rgb.size() - 1;
    const auto on = testutil::regionMean(video, last, 105, 105, 30, 30);
    const auto off = testutil::regionMean(video, last, 705, 105, 30, 30);
    const auto bg = testutil::regionMean(video, last, 300, 400, 100, 100);
    EXPECT_GT(on[0], 230);
    EXPECT_LT(off[0], 25);
    EXPECT_NEAR(bg[1], 112, 6);
}

TEST(ReaderExport, CancelledOrOutsideRangeLeavesNoFile) {
    testutil::TempDir dir;
    writeRecording(dir.file("rec.raw"), 1000);
    auto reader = DvsFileReader::createFileReader(dir.file("rec.raw"));
    ASSERT_TRUE(reader && reader->prepareFile());

    VideoExportOptions cancel;
    cancel.progress = [](double f) { return f < 0.3; };
    EXPECT_FALSE(exportFileToVideo(*reader, 1000, 900000, dir.file("cancel.mp4"), cancel));
    EXPECT_FALSE(exportFileToVideo(*reader, 5000000, 6000000, dir.file("outside.mp4")));
    EXPECT_FALSE(reader->exportVideo(9000, 8000, dir.file("reversed.mp4")));
    EXPECT_EQ(dir.entries().size(), 1u); // only rec.raw

    // The reader still reads normally after an export.
    auto events = reader->readEvents(1000, 1000);
    ASSERT_TRUE(events);
    EXPECT_EQ(events->size(), 40u * 40u * 2u);
}

TEST(ReaderExport, UnpreparedReaderRefuses) {
    testutil::TempDir dir;
    writeRecording(dir.file("rec.raw"), 1000);
    auto reader = DvsFileReader::createFileReader(dir.file("rec.raw"));
    ASSERT_TRUE(reader);
    EXPECT_FALSE(reader->exportVideo(1000, 2000, dir.file("x.mp4")));
    EXPECT_FALSE(testutil::fileExists(dir.file("x.mp4")));
}

TEST(ReaderExport, CutReportsProgressAndCanBeCancelled) {
    testutil::TempDir dir;
    writeRecording(dir.file("rec.raw"), 1000);
    auto reader = DvsFileReader::createFileReader(dir.file("rec.raw"));
    ASSERT_TRUE(reader && reader->prepareFile());

    std::vector<double> seen;
    ASSERT_TRUE(cutRawFile(*reader, 1000, 800999, dir.file("cut.raw"), [&](double f) {
        seen.push_back(f);
        return true;
    }));
    ASSERT_GT(seen.size(), 5u);
    for (size_t i = 1; i < seen.size(); ++i) EXPECT_GT(seen[i], seen[i - 1]);
    EXPECT_GT(seen.back(), 0.9);
    EXPECT_LE(seen.back(), 1.0);

    // Cancelled half way: no output, no temporary file, the reader still works.
    EXPECT_FALSE(cutRawFile(*reader, 1000, 800999, dir.file("cancelled.raw"), [](double f) { return f < 0.5; }));
    EXPECT_FALSE(testutil::fileExists(dir.file("cancelled.raw")));
    EXPECT_FALSE(testutil::fileExists(dir.file("cancelled.raw.part")));
    auto cut = DvsFileReader::createFileReader(dir.file("cut.raw"));
    ASSERT_TRUE(cut && cut->prepareFile());
    EXPECT_EQ(cut->getStats().eventCount, 800u * 40u * 40u * 2u);
}
