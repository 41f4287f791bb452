#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>

extern "C" {
#include <libavformat/avformat.h>
}

#include "LogCapture.h"
#include "VideoTestUtil.h"
#include "norvale/ApsFileReader.h"
#include "norvale/ApsVideoWriter.h"
#include "norvale/VideoExporter.h"

using namespace norvale;

namespace {

constexpr int W = 96;
constexpr int H = 64;
constexpr int kFrames = 45;

// Smooth content that differs from frame to frame: blue follows x, green y, red the frame number.
ApsFrame makeFrame(int i, uint64_t ts) {
    ApsFrame f(W, H, 7, ts);
    uint8_t* p = f.data();
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x, p += 3) {
            p[0] = uint8_t(40 + x * 2);
            p[1] = uint8_t(30 + y * 3);
            p[2] = uint8_t(20 + i * 4);
        }
    return f;
}

// Irregular spacing around 33 ms, starting after the stream start.
uint64_t timestampOf(int i) { return 1000 + uint64_t(i) * 33333 + uint64_t((i * 7919) % 900); }

double meanAbsDiff(const ApsFrame& a, const ApsFrame& b) {
    double sum = 0;
    for (uint64_t i = 0; i < a.getDataSize(); ++i) sum += std::abs(int(a.data()[i]) - int(b.data()[i]));
    return sum / double(a.getDataSize());
}

struct ApsFileTest : ::testing::Test {
    void SetUp() override {
        path = dir.file("aps.mp4");
        auto writer = ApsVideoWriter::create(path, W, H);
        ASSERT_TRUE(writer);
        for (int i = 0; i < kFrames; ++i) ASSERT_TRUE(writer->writeFrame(makeFrame(i, timestampOf(i))));
        EXPECT_EQ(writer->framesWritten(), uint64_t(kFrames));
        ASSERT_TRUE(writer->close());
    }
    // Checks that `frame` is frame i of the video.
    void expectFrame(const ApsFrame& frame, int i) {
        EXPECT_EQ(frame.timestamp, timestampOf(i));
        ASSERT_EQ(frame.width(), W);
        ASSERT_EQ(frame.height(), H);
        EXPECT_LT(meanAbsDiff(frame, makeFrame(i, 0)), 3.0) << "frame " << i;
    }
    testutil::TempDir dir;
    std::string path;
    LogCapture log;
};

} // namespace

TEST_F(ApsFileTest, WriteThenReadBackKeepsTimestampsAndPixels) {
    EXPECT_EQ(dir.entries(), std::vector<std::string>{"aps.mp4"});
    auto reader = ApsFileReader::createFileReader(path);
    ASSERT_TRUE(reader);
    EXPECT_TRUE(reader->isOpened());
    EXPECT_EQ(reader->getWidth(), W);
    EXPECT_EQ(reader->getHeight(), H);
    std::vector<ApsFrameIndexEntry> index;
    reader->getFrameIndex(index);
    ASSERT_EQ(index.size(), size_t(kFrames));
    for (int i = 0; i < kFrames; ++i) {
        EXPECT_EQ(index[i].timestamp, timestampOf(i));
        EXPECT_LE(index[i].keyFrame, uint32_t(i));
        EXPECT_LE(timestampOf(i) - timestampOf(int(index[i].keyFrame)), ApsVideoWriterOptions{}.keyFrameIntervalUs);
    }
    ApsFrame frame;
    for (int i = 0; i < kFrames; ++i) {
        ASSERT_TRUE(reader->readNextFrame(frame)) << i;
        expectFrame(frame, i);
        EXPECT_EQ(frame.auxTimestamp, 0u);
    }
    EXPECT_FALSE(reader->readNextFrame(frame));

    // An independent decoder sees the same times and key frames at most the writer's interval apart.
    const int64_t keyInterval = int64_t(ApsVideoWriterOptions{}.keyFrameIntervalUs);
    ASSERT_LE(keyInterval, 1000000);
    const auto v = testutil::decodeVideo(path, false);
    ASSERT_EQ(v.ptsUs.size(), size_t(kFrames));
    int64_t lastKey = -1;
    for (int i = 0; i < kFrames; ++i) {
        EXPECT_EQ(v.ptsUs[i], int64_t(timestampOf(i)));
        if (v.key[i]) {
            if (lastKey >= 0) {
                EXPECT_LE(v.ptsUs[i] - lastKey, keyInterval);
            }
            lastKey = v.ptsUs[i];
        }
    }
    EXPECT_TRUE(v.key[0]);
    EXPECT_GE(v.ptsUs.back() - lastKey, 0);
    EXPECT_LE(int64_t(timestampOf(kFrames - 1)) - lastKey, keyInterval);
}

TEST_F(ApsFileTest, SeekByIndexAndTimestamp) {
    auto reader = ApsFileReader::createFileReader(path);
    ASSERT_TRUE(reader);
    ApsFrame frame;
    ASSERT_TRUE(reader->seekFrame(20));
    ASSERT_TRUE(reader->readNextFrame(frame));
    expectFrame(frame, 20);
    ASSERT_TRUE(reader->readNextFrame(frame));
    expectFrame(frame, 21);
    ASSERT_TRUE(reader->seekFrame(3)); // backwards
    ASSERT_TRUE(reader->readNextFrame(frame));
    expectFrame(frame, 3);
    ASSERT_TRUE(reader->seekFrame(kFrames - 1));
    ASSERT_TRUE(reader->readNextFrame(frame));
    expectFrame(frame, kFrames - 1);
    EXPECT_FALSE(reader->seekFrame(kFrames));

    ASSERT_TRUE(reader->readFrameByTimestamp(timestampOf(30) + 10, frame));
    expectFrame(frame, 30);
    ASSERT_TRUE(reader->readFrameByTimestamp(timestampOf(10), frame)); // exactly on a frame
    expectFrame(frame, 10);
    ASSERT_TRUE(reader->readNextFrame(frame));
    expectFrame(frame, 11);
    ASSERT_TRUE(reader->readFrameByTimestamp(timestampOf(12) - 1, frame)); // just before frame 12
    expectFrame(frame, 11);
    ASSERT_TRUE(reader->readFrameByTimestamp(timestampOf(kFrames - 1) + 5000000, frame));
    expectFrame(frame, kFrames - 1);
    // Before the first frame there is nothing to show.
    EXPECT_FALSE(reader->readFrameByTimestamp(timestampOf(0) - 1, frame));
    EXPECT_FALSE(reader->readFrameByTimestamp(0, frame));
    ASSERT_TRUE(reader->readFrameByTimestamp(timestampOf(0), frame));
    expectFrame(frame, 0);
}

TEST_F(ApsFileTest, FramesOfTheRightSizeAreFilledInPlaceOthersReplaced) {
    auto reader = ApsFileReader::createFileReader(path);
    ASSERT_TRUE(reader);
    ApsFrame frame(W, H, 0, 0);
    ApsFrame sharing = frame;
    const uint8_t* before = frame.data();
    ASSERT_TRUE(reader->readNextFrame(frame));
    EXPECT_EQ(frame.data(), before);
    EXPECT_LT(meanAbsDiff(sharing, makeFrame(0, 0)), 3.0); // the copy sees the pixels

    ApsFrame wrong(32, 32, 0, 0);
    ApsFrame keep = wrong;
    ASSERT_TRUE(reader->readNextFrame(wrong));
    EXPECT_EQ(wrong.width(), W);
    EXPECT_EQ(wrong.height(), H);
    EXPECT_NE(wrong.data(), keep.data());
    expectFrame(wrong, 1);
    EXPECT_EQ(keep.width(), 32); // the old buffer is left to its other owners

    ApsFrame empty;
    ASSERT_TRUE(reader->readNextFrame(empty));
    expectFrame(empty, 2);
}

TEST_F(ApsFileTest, WriterRejectsBadFramesAndKeepsWhatItWrote) {
    EXPECT_FALSE(ApsVideoWriter::create(dir.file("odd.mp4"), 95, 64));
    EXPECT_NE(log.text().find("must be even"), std::string::npos);
    log.clear();
    EXPECT_FALSE(ApsVideoWriter::create(dir.file("missing/x.mp4"), W, H));
    EXPECT_NE(log.text().find("cannot create"), std::string::npos);
    // An existing file is never touched unless asked, nor is a second writer let in.
    log.clear();
    EXPECT_FALSE(ApsVideoWriter::create(path, W, H));
    EXPECT_NE(log.text().find("APS video refused: output " + path + " exists"), std::string::npos) << log.text();

    const std::string second = dir.file("second.mp4");
    {
        auto writer = ApsVideoWriter::create(second, W, H);
        ASSERT_TRUE(writer);
        EXPECT_FALSE(ApsVideoWriter::create(second, W, H));
        ASSERT_TRUE(writer->writeFrame(makeFrame(0, 100)));
        log.clear();
        EXPECT_FALSE(writer->writeFrame(makeFrame(1, 100)));
        EXPECT_NE(log.text().find("does not follow"), std::string::npos);
        EXPECT_FALSE(writer->writeFrame(ApsFrame(32, 32, 0, 200)));
        EXPECT_FALSE(writer->writeFrame(ApsFrame()));
        ASSERT_TRUE(writer->writeFrame(makeFrame(1, 200)));
        EXPECT_EQ(writer->framesWritten(), 2u);
        // Destroyed without close (a program that gave up): the frames written stay readable.
    }
    auto kept = ApsFileReader::createFileReader(second);
    ASSERT_TRUE(kept);
    std::vector<ApsFrameIndexEntry> index;
    kept->getFrameIndex(index);
    ASSERT_EQ(index.size(), 2u);
    EXPECT_EQ(index[0].timestamp, 100u);
    EXPECT_EQ(index[1].timestamp, 200u);

    // A video that never got a frame leaves nothing, closed or not.
    auto empty = ApsVideoWriter::create(dir.file("empty.mp4"), W, H);
    ASSERT_TRUE(empty);
    EXPECT_FALSE(empty->close());
    { auto abandoned = ApsVideoWriter::create(dir.file("abandoned.mp4"), W, H); }
    EXPECT_EQ(dir.entries(), (std::vector<std::string>{"aps.mp4", "second.mp4"}));
}

// Asked to overwrite, the old video stays whole until the new one is closed, then is replaced.
TEST_F(ApsFileTest, OverwriteReplacesOnlyOnceClosed) {
    const auto oldSize = std::filesystem::file_size(path);
    ApsVideoWriterOptions o;
    o.overwrite = true;
    {
        auto abandoned = ApsVideoWriter::create(path, W, H, o);
        ASSERT_TRUE(abandoned);
        ASSERT_TRUE(abandoned->writeFrame(makeFrame(0, 5)));
    }
    EXPECT_EQ(std::filesystem::file_size(path), oldSize);
    EXPECT_EQ(dir.entries(), std::vector<std::string>{"aps.mp4"});
    auto writer = ApsVideoWriter::create(path, W, H, o);
    ASSERT_TRUE(writer);
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(writer->writeFrame(makeFrame(i, 10 + uint64_t(i))));
    EXPECT_EQ(std::filesystem::file_size(path), oldSize);
    ASSERT_TRUE(writer->close());
    EXPECT_EQ(dir.entries(), std::vector<std::string>{"aps.mp4"});
    auto reader = ApsFileReader::createFileReader(path);
    ASSERT_TRUE(reader);
    EXPECT_EQ(reader->getFrameCount(), 3u);
}

// However a recording ends (kill -9, a full disk, power), the video reads back: a copy taken while
// it is written holds every frame but the newest, and a file cut off at any byte reads the whole
// frames before the cut, with their own timestamps and pixels.
TEST_F(ApsFileTest, VideoCutOffAnywhereReadsTheFramesBeforeTheCut) {
    const std::string live = dir.file("live.mp4");
    auto writer = ApsVideoWriter::create(live, W, H);
    ASSERT_TRUE(writer);
    std::vector<uintmax_t> sizes; // the file after frame i was handed over
    for (int i = 0; i < 12; ++i) {
        ASSERT_TRUE(writer->writeFrame(makeFrame(i, timestampOf(i))));
        sizes.push_back(std::filesystem::file_size(live));
        if (i == 6) std::filesystem::copy_file(live, dir.file("copy.mp4")); // mid-way, while open
    }
    auto expectPrefix = [&](const std::string& p, size_t atLeast, const std::string& what) {
        auto reader = ApsFileReader::createFileReader(p);
        ASSERT_TRUE(reader) << what;
        std::vector<ApsFrameIndexEntry> index;
        reader->getFrameIndex(index);
        ASSERT_GE(index.size(), atLeast) << what;
        for (size_t i = 0; i < index.size(); ++i) EXPECT_EQ(index[i].timestamp, timestampOf(int(i))) << what;
        ApsFrame frame;
        for (size_t i = 0; i < atLeast; ++i) {
            ASSERT_TRUE(reader->readNextFrame(frame)) << what << " frame " << i;
            expectFrame(frame, int(i));
        }
    };
    expectPrefix(dir.file("copy.mp4"), 6, "copy while writing");
    const auto whole = sizes.back();
    for (uintmax_t cut = sizes[1]; cut <= whole; cut += 997) {
        // the frames whose fragments lie wholly before the cut (frame i is written with frame i + 1)
        size_t complete = 0;
        while (complete + 1 < sizes.size() && sizes[complete + 1] <= cut) ++complete;
        std::filesystem::copy_file(live, dir.file("cut.mp4"), std::filesystem::copy_options::overwrite_existing);
        std::filesystem::resize_file(dir.file("cut.mp4"), cut);
        expectPrefix(dir.file("cut.mp4"), complete, "cut at " + std::to_string(cut));
    }
    ASSERT_TRUE(writer->close());
    expectPrefix(live, 12, "closed");
}

TEST_F(ApsFileTest, UnreadableFilesGiveNoReader) {
    auto expectNoReader = [&](const std::string& p, const char* what) {
        log.clear();
        EXPECT_FALSE(ApsFileReader::createFileReader(p)) << what;
        EXPECT_NE(log.text().find("APS video"), std::string::npos) << what;
    };
    expectNoReader(dir.file("absent.mp4"), "absent");
    { std::ofstream(dir.file("text.mp4")) << "this is not a video\n"; }
    expectNoReader(dir.file("text.mp4"), "text");
    expectNoReader(dir.path(), "folder");

    // Cut off inside its header: nothing to read.
    std::filesystem::copy_file(path, dir.file("cut.mp4"));
    std::filesystem::resize_file(dir.file("cut.mp4"), 200);
    expectNoReader(dir.file("cut.mp4"), "truncated");

    // A valid container with a video stream and no frames.
    const std::string none = dir.file("noframes.mp4");
    AVFormatContext* out = nullptr;
    ASSERT_GE(avformat_alloc_output_context2(&out, nullptr, "mp4", none.c_str()), 0);
    AVStream* st = avformat_new_stream(out, nullptr);
    st->codecpar->codec_type = AVMEDIA_TYPE_VIDEO;
    st->codecpar->codec_id = AV_CODEC_ID_MPEG4;
    st->codecpar->width = W;
    st->codecpar->height = H;
    st->time_base = AVRational{1, 1000};
    ASSERT_GE(avio_open(&out->pb, none.c_str(), AVIO_FLAG_WRITE), 0);
    ASSERT_GE(avformat_write_header(out, nullptr), 0);
    av_write_trailer(out);
    avio_closep(&out->pb);
    avformat_free_context(out);
    expectNoReader(none, "no frames");
}

// Garbage in the middle of the frame data: reading goes on or stops, it never crashes.
TEST_F(ApsFileTest, DamagedFrameDataIsSurvived) {
    const auto size = std::filesystem::file_size(path);
    {
        std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
        f.seekp(std::streamoff(size / 3));
        for (int i = 0; i < 4000; ++i) f.put(char((i * 131) & 0xff));
    }
    auto reader = ApsFileReader::createFileReader(path);
    ASSERT_TRUE(reader);
    ApsFrame frame;
    int read = 0;
    while (reader->readNextFrame(frame) && read < kFrames + 1) ++read;
    EXPECT_LE(read, kFrames);
    EXPECT_GT(read, 0);
    EXPECT_TRUE(reader->readFrameByTimestamp(timestampOf(kFrames - 1), frame) ||
                log.text().find("APS video") != std::string::npos);
}

// An exported event video reads back through the same reader (YUV 4:2:0 converted to BGR).
TEST_F(ApsFileTest, ReadsOtherVideosConvertingTheirPixels) {
    testutil::MemorySource none;
    VideoExportOptions o;
    o.width = 64;
    o.height = 32;
    o.fps = 25;
    o.backgroundColor = {200, 100, 50};
    const std::string out = dir.file("export.mp4");
    ASSERT_TRUE(exportEventsToVideo(none.source(0, 400000), 0, 400000, out, o));
    auto reader = ApsFileReader::createFileReader(out);
    ASSERT_TRUE(reader);
    std::vector<ApsFrameIndexEntry> index;
    reader->getFrameIndex(index);
    ASSERT_EQ(index.size(), 10u);
    EXPECT_EQ(index[3].timestamp, 120000u);
    ApsFrame frame;
    ASSERT_TRUE(reader->readFrameByTimestamp(130000, frame));
    EXPECT_EQ(frame.timestamp, 120000u);
    const uint8_t* p = frame.data() + (16 * 64 + 32) * 3;
    EXPECT_NEAR(p[0], 50, 6);  // blue
    EXPECT_NEAR(p[1], 100, 6); // green
    EXPECT_NEAR(p[2], 200, 6); // red
}
